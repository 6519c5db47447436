// Hostile texts in every field an operator can type into: the port and address lists and the
// Y-scale boxes of the main window, the 38 lists and 31 boxes of the configuration window, the
// 16 alarm boxes and the four product-data lines of the factory sheet. Whatever is typed, the
// program does not crash, shows no modal dialog, keeps ticking, and writes to the instrument
// only the number of an edited field's text that is a number as a whole, when it fits. And what a
// screen reader hears in every window: each list and box by its parameter, never by its value,
// and each named value label with the value it shows now.
#include "alarm/ALM1.h"
#include "app/AppContext.h"
#include "app/ssqx.h"
#include "config/CONFIG1.h"
#include "config/TwoRowTabs.h"
#include "core/SharedState.h"
#include "factory/FACTR.h"
#include "fakes/FakeLink.h"
#include "instrument/ParameterMap.h"
#include "logging/RecordStore.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

using namespace hx;
using hx::test::FakeLink;

Q_DECLARE_METATYPE(std::optional<int>)

namespace {

constexpr int32_t kPort = 2;
constexpr int32_t kAddress = 7;
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// The fake link with the real link's gate: a value outside -32768..65535 is refused before it
// is sent (kWriteRefused), as the libmodbus link does. `sent` holds the writes that went on
// the line, as "register=value"; `refused` those the gate stopped.
class GatedLink : public FakeLink {
  public:
    QStringList sent;
    QStringList refused;

    int32_t Set_4X_D1(int32_t port, int32_t address, int32_t reg, int32_t value) override {
        const QString write = QStringLiteral("%1=%2").arg(reg).arg(value);
        if (value < -32768 || value > 65535) {
            calls << QStringLiteral("Set_4X_D1 refused %1").arg(write);
            refused << write;
            failure = CallFailure{LinkFailure::Refused};
            return kWriteRefused;
        }
        sent << write;
        return FakeLink::Set_4X_D1(port, address, reg, value);
    }
};

// The number a text begins with, rounded half to even, when it fits 32 bits: how the main
// window reads its port and address lists.
std::optional<int32_t> rounded(double leading) {
    if (!std::isfinite(leading)) return std::nullopt;
    const double r = std::nearbyint(leading);
    if (r < -2147483648.0 || r > 2147483647.0) return std::nullopt;
    return int32_t(r);
}

// The corpus. leading: the number the text begins with (NaN when it does not begin with one);
// written: what an edited instrument field sends to the instrument (nothing when the text is
// not a number as a whole, tagged "partly", is infinite, or its number does not fit a register).
void addCorpus() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("leading");
    QTest::addColumn<std::optional<int>>("written");
    const std::optional<int> none;
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("plain number") << "42" << 42.0 << std::optional<int>(42);
    QTest::newRow("half to even down") << "12.5" << 12.5 << std::optional<int>(12);
    QTest::newRow("negative half to even") << "-7.5" << -7.5 << std::optional<int>(-8);
    QTest::newRow("largest register value") << "65535" << 65535.0 << std::optional<int>(65535);
    QTest::newRow("smallest register value") << "-32768" << -32768.0 << std::optional<int>(-32768);
    QTest::newRow("just above a register") << "65536" << 65536.0 << none;
    QTest::newRow("just below a register") << "-32769" << -32769.0 << none;
    QTest::newRow("exponent within a register") << "5e4" << 50000.0 << std::optional<int>(50000);
    QTest::newRow("exponent beyond a register") << "1e5" << 100000.0 << none;
    QTest::newRow("huge number") << "99999999999" << 99999999999.0 << none;
    QTest::newRow("beyond 32 bits in single precision") << "2147483647" << 2147483647.0 << none;
    QTest::newRow("1e400") << "1e400" << inf << none;
    QTest::newRow("-1e400") << "-1e400" << -inf << none;
    QTest::newRow("1e-400 is 0") << "1e-400" << 0.0 << std::optional<int>(0);
    QTest::newRow("NaN") << "NaN" << kNone << none;
    QTest::newRow("Inf") << "Inf" << kNone << none;
    QTest::newRow("-inf") << "-inf" << kNone << none;
    QTest::newRow("only a minus") << "-" << kNone << none;
    QTest::newRow("two signs") << "+-5" << kNone << none;
    QTest::newRow("partly: 1e") << "1e" << 1.0 << none;
    QTest::newRow("partly: hexadecimal") << "0x10" << 0.0 << none;
    QTest::newRow("full-width digits") << QString::fromUtf16(u"１２") << kNone << none;
    QTest::newRow("arabic-indic digit") << QString::fromUtf16(u"٣") << kNone << none;
    QTest::newRow("unicode minus") << QString::fromUtf16(u"\u22125") << kNone << none;
    QTest::newRow("zero-width space first") << QString::fromUtf16(u"\u200b5") << kNone << none;
    QTest::newRow("10000 digits") << QString(10000, u'9') << inf << none;
    QTest::newRow("partly: 10000 characters after a number")
        << QStringLiteral("5") + QString(9999, u'x') << 5.0 << none;
    QTest::newRow("10000 letters") << QString(10000, u'x') << kNone << none;
    QTest::newRow("tab before the number") << "\t5" << 5.0 << std::optional<int>(5);
    QTest::newRow("partly: newline after the number") << "5\n" << 5.0 << none;
    QTest::newRow("control character alone") << "\x01" << kNone << none;
    QTest::newRow("control character first") << "\x01"
                                                "5"
                                             << kNone << none;
    QTest::newRow("partly: nul after the number")
        << QStringLiteral("7") + QChar(0) + QStringLiteral("9") << 7.0 << none;
    QTest::newRow("blank") << " " << kNone << none;
    QTest::newRow("erased") << "" << kNone << none;
}

// The operator replaces a field's text: selects all, types the plain start key by key, enters
// other scripts through the input method, and pastes the rest (control characters cannot be
// typed, and 10 000 keys take too long). An empty text is something typed and then erased.
void typeInto(QLineEdit* input, const QString& text) {
    constexpr qsizetype kTypedKeys = 8;
    QTest::keyClick(input, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty()) {
        QTest::keyClicks(input, QStringLiteral("7"));
        QTest::keyClick(input, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(input, Qt::Key_Backspace);
        return;
    }
    qsizetype typed = 0;
    while (typed < text.size() && typed < kTypedKeys && text[typed].unicode() < 0x80 && text[typed].isPrint())
        ++typed;
    if (typed > 0) QTest::keyClicks(input, text.left(typed));
    const QString rest = text.mid(typed);
    if (rest.isEmpty()) return;
    if (rest.size() <= kTypedKeys &&
        std::all_of(rest.begin(), rest.end(), [](QChar c) { return c.isPrint(); })) {
        QInputMethodEvent commit;
        commit.setCommitString(rest);
        QApplication::sendEvent(input, &commit);
    } else {
        input->insert(rest);
    }
}

// The case is over: nothing modal came up and the window still ticks.
void verifyStillResponding() {
    QCoreApplication::processEvents();
    QVERIFY(!QApplication::activeModalWidget());
}

// Whether a secondary window read the instrument after call number `before` (its refresh tick).
bool refreshedSince(const FakeLink& link, qsizetype before) {
    for (qsizetype i = before; i < link.calls.size(); ++i)
        if (link.calls[i].startsWith(QLatin1String("Get_4X_"))) return true;
    return false;
}

// The four windows over one instrument, refreshed with `value` in every register and channel.
struct Windows {
    GatedLink link;
    config::ConfigTable configBuf{};
    AlarmBuffer alarmBuf{};
    FactoryTables factoryTables;
    QTemporaryDir dir;
    AppContext context{&link,           nullptr, nullptr, nullptr, dir.filePath("Rdatabj.db"),
                       openRecordStore, [] {},   {}};
    QWidget mainWindow;
    config::CONFIG1 config{&mainWindow, link, configBuf};
    ALM1 alarm{link, nullptr, alarmBuf, &mainWindow};
    FACTR factory{link, nullptr, factoryTables, &mainWindow};
    ssqx main{context};

    void refresh(int32_t value) {
        for (int reg = 257; reg <= 272; ++reg)
            link.holdingRegisters[reg] = value;
        for (int reg = 4097; reg <= 4192; ++reg)
            link.holdingRegisters[reg] = value;
        std::fill(Pv_Value, Pv_Value + 10, float(value));
        config.Timer1_Timer();
        alarm.Timer1_Timer();
        factory.Timer1_Timer();
        main.Timer1_Timer();
    }
};

QString heard(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

} // namespace

class HostileInputTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        resetSharedState();
        Com_Param[kComPort] = kPort;
        Com_Param[kComAddress] = kAddress;
    }

    // The port and address lists only set Com_Param when the port is opened: the number the
    // text begins with (0 for a text without one: the link then refuses port 0), the old value
    // when that number does not fit; an address not a whole number in 1..247 opens nothing. The
    // Y boxes only change the scale for a whole number within its limits. Nothing of the main
    // window writes to the instrument.
    void mainWindowLists_data() { addCorpus(); }
    void mainWindowLists() {
        QFETCH(QString, text);
        QFETCH(double, leading);
        QTemporaryDir dir;
        GatedLink link;
        AppContext context;
        context.link = &link;
        context.databasePath = dir.filePath(QStringLiteral("Rdatabj.db"));
        context.openStore = [](const QString& path) { return openRecordStore(path); };
        context.endProcess = [] {};
        ssqx window(context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        // Port and address.
        for (QComboBox* list : {window.Combo1, window.Combo2}) {
            list->setFocus(Qt::MouseFocusReason);
            QVERIFY(list->hasFocus());
            typeInto(list->lineEdit(), text);
            QTest::keyClick(list->lineEdit(), Qt::Key_Return);
        }
        QTest::mouseClick(window.Command9, Qt::LeftButton); // 打开
        const auto number = std::isnan(leading) ? std::optional<int32_t>(0) : rounded(leading);
        const double whole = QByteArray(QTest::currentDataTag()).startsWith("partly") ? kNone : leading;
        const auto address = std::isnan(whole) ? std::nullopt : rounded(whole);
        const bool opens = address && *address >= 1 && *address <= 247;
        QCOMPARE(Com_Param[kComPort], opens ? number.value_or(kPort) : kPort);
        QCOMPARE(Com_Param[kComAddress], opens ? *address : kAddress);
        QCOMPARE(link.openedPort, opens ? Com_Param[kComPort] : 0);
        QCOMPARE(window.statusPort->text().contains(QStringLiteral("端口未打开")), !opens);
        QTest::mouseClick(window.Command10, Qt::LeftButton); // 关闭
        QVERIFY(window.Combo1->isVisible());

        // The upper bound, with the lower bound at -100.
        const double bound = whole; // NaN (refused) when not a number as a whole
        Y_Min = 0;
        Y_Span = 1500;
        QTest::mouseDClick(window.Label5[3], Qt::LeftButton);
        QVERIFY(window.YKD->isVisible());
        window.YKD1->setText(QStringLiteral("-100"));
        window.YKD->setFocus(Qt::MouseFocusReason);
        typeInto(window.YKD, text);
        QTest::mouseClick(window.Command26, Qt::LeftButton);
        const bool upperAccepted = bound >= -100 && bound <= 36000 && std::nearbyint(bound + 100) <= 32767 &&
                                   std::nearbyint(bound + 100) >= 1;
        QCOMPARE(Y_Min, int16_t(upperAccepted ? -100 : 0));
        QCOMPARE(Y_Span, int16_t(upperAccepted ? std::nearbyint(bound + 100) : 1500));
        QCOMPARE(window.YKD->isVisible(), !upperAccepted);

        // The lower bound, with the upper bound at 1000.
        Y_Min = 0;
        Y_Span = 1500;
        QTest::mouseDClick(window.Label5[3], Qt::LeftButton);
        window.YKD->setText(QStringLiteral("1000"));
        window.YKD1->setFocus(Qt::MouseFocusReason);
        typeInto(window.YKD1, text);
        QTest::mouseClick(window.Command26, Qt::LeftButton);
        const bool lowerAccepted = bound >= -12000 && bound <= 1000 && std::nearbyint(1000 - bound) >= 1;
        QCOMPARE(Y_Min, int16_t(lowerAccepted ? std::nearbyint(bound) : 0));
        QCOMPARE(Y_Span, int16_t(lowerAccepted ? std::nearbyint(1000 - bound) : 1500));

        // A live tick shows the scale in force.
        window.Timer1_Timer();
        QCOMPARE(window.Label5[0]->text(), QString::number(Y_Min));
        verifyStillResponding();
        QVERIFY(link.calls.filter(QStringLiteral("Set_4X_D1")).isEmpty());
    }

    // Every list and box of the configuration window, each edited and left in turn.
    void configurationFields_data() { addCorpus(); }
    void configurationFields() {
        QFETCH(QString, text);
        QFETCH(std::optional<int>, written);
        GatedLink link;
        config::ConfigTable configBuf{};
        WriteLog log;
        QWidget mainWindow;
        mainWindow.show();
        QPointer<config::CONFIG1> window;
        std::function<config::CONFIG1*(QWidget*)> create = [&](QWidget* main) {
            return new config::CONFIG1(main, link, configBuf, &log);
        };
        openSecondaryWindow(&mainWindow, window, create);
        QVERIFY(window && QTest::qWaitForWindowActive(window));
        window->Timer1->stop(); // ticked by hand below

        QStringList expected;
        int fields = 0;
        for (const config::Parameter& p : config::kParameters) {
            if (p.editor == config::Editor::None) continue;
            ++fields;
            const bool isList = p.editor == config::Editor::List;
            QWidget* editor = isList ? static_cast<QWidget*>(window->Combo[size_t(p.combo)])
                                     : static_cast<QWidget*>(window->T_3RW[size_t(p.k)]);
            QVERIFY(editor);
            QLineEdit* input =
                isList ? window->Combo[size_t(p.combo)]->lineEdit() : window->T_3RW[size_t(p.k)];
            window->SSTab2->setCurrentIndex(p.tab);
            editor->setFocus(Qt::MouseFocusReason);
            QVERIFY(input->hasFocus());
            typeInto(input, text);
            QCOMPARE(input->text(), text);
            if (isList) QTest::keyClick(input, Qt::Key_Return);
            window->Command11->setFocus(Qt::TabFocusReason);
            QVERIFY(!input->hasFocus());
            EditedField* field = isList ? window->comboField(p.combo) : window->boxField(p.k);
            QVERIFY(field);
            QCOMPARE(field->marked(), !written.has_value());
            if (written) expected << QStringLiteral("%1=%2").arg(p.reg).arg(*written);
        }
        QCOMPARE(fields, config::kComboCount + 31);
        QCOMPARE(link.sent, expected);
        // A number that does not fit a register reaches the link at most once per field (no
        // resend), and the link refuses it unsent.
        QCOMPARE(link.refused.removeDuplicates(), 0);

        const qsizetype before = link.calls.size();
        window->Timer1_Timer();
        QVERIFY(refreshedSince(link, before));
        verifyStillResponding();
        window->returnToMain();
        QTRY_VERIFY(!window);
    }

    // The sixteen alarm boxes, each edited and left in turn.
    void alarmBoxes_data() { addCorpus(); }
    void alarmBoxes() {
        QFETCH(QString, text);
        QFETCH(std::optional<int>, written);
        GatedLink link;
        WriteLog log;
        AlarmBuffer buffer{};
        QWidget mainWindow;
        mainWindow.show();
        QPointer<ALM1> window;
        openSecondaryWindow<ALM1>(&mainWindow, window,
                                  [&](QWidget* main) { return new ALM1(link, &log, buffer, main); });
        QVERIFY(window && QTest::qWaitForWindowActive(window));
        window->Timer1->stop();

        QStringList expected;
        // In the tab order (the last row first), so that each Tab enters a box not yet edited.
        for (int box = kFirstBoxIndex + kAlarmRowCount - 1; box >= kFirstBoxIndex; --box) {
            QLineEdit* input = window->T_3RWA(box);
            input->setFocus(Qt::MouseFocusReason);
            QVERIFY(input->hasFocus());
            typeInto(input, text);
            QCOMPARE(input->text(), text);
            QTest::keyClick(input, Qt::Key_Tab);
            QVERIFY(!input->hasFocus());
            QCOMPARE(window->field(box)->marked(), !written.has_value());
            if (written) expected << QStringLiteral("%1=%2").arg(alarmRegisterOfBox(box)).arg(*written);
        }
        QCOMPARE(link.sent, expected);
        QCOMPARE(link.refused.removeDuplicates(), 0);

        const qsizetype before = link.calls.size();
        window->Timer1_Timer();
        QVERIFY(refreshedSince(link, before));
        verifyStillResponding();
        window->Command1_Click();
        QTRY_VERIFY(!window);
    }

    // The four product-data lines are the operator's notes on the sheet: they hold whatever is
    // typed and are never written to the instrument.
    void productData_data() { addCorpus(); }
    void productData() {
        QFETCH(QString, text);
        GatedLink link;
        WriteLog log;
        FactoryTables tables;
        QWidget mainWindow;
        mainWindow.show();
        QPointer<FACTR> window;
        openSecondaryWindow<FACTR>(&mainWindow, window,
                                   [&](QWidget* main) { return new FACTR(link, &log, tables, main); });
        QVERIFY(window && QTest::qWaitForWindowActive(window));
        window->Timer1->stop();

        for (QLineEdit* line : window->Text1) {
            line->setFocus(Qt::MouseFocusReason);
            QVERIFY(line->hasFocus());
            typeInto(line, text);
            QCOMPARE(line->text(), text);
            QTest::keyClick(line, Qt::Key_Tab);
            QVERIFY(!line->hasFocus());
        }
        QVERIFY(link.calls.filter(QStringLiteral("Set_4X_D1")).isEmpty());

        const qsizetype before = link.calls.size();
        window->Timer1_Timer();
        QVERIFY(refreshedSince(link, before));
        verifyStillResponding();
        window->Command1_Click();
        QTRY_VERIFY(!window);
    }

    // Walked after a second refresh changed the values: a name that kept the old value shows.
    void everyWindowReadsAsItShows_data() {
        QTest::addColumn<int>("window");
        int i = 0;
        for (const char* name : {"configuration", "alarm setpoints", "factory record", "main"})
            QTest::newRow(name) << i++;
    }
    void everyWindowReadsAsItShows() {
        QFETCH(int, window);
        Windows windows;
        windows.refresh(1);
        windows.refresh(100);
        const std::array<QWidget*, 4> walked{&windows.config, &windows.alarm, &windows.factory,
                                             &windows.main};
        QStringList misheard;
        for (QWidget* w : walked[size_t(window)]->findChildren<QWidget*>()) {
            auto* list = qobject_cast<QComboBox*>(w);
            auto* box = qobject_cast<QLineEdit*>(w);
            auto* label = qobject_cast<QLabel*>(w);
            if (((list || box) &&
                 (heard(w).isEmpty() || heard(w) == (list ? list->currentText() : box->text()))) ||
                (label && !label->accessibleName().isEmpty() && !heard(w).contains(label->text())))
                misheard << w->parentWidget()->objectName() + u'/' + w->objectName() + u' ' + heard(w);
        }
        QVERIFY2(misheard.isEmpty(), qPrintable(misheard.join(u'\n')));
    }
};

QTEST_MAIN(HostileInputTest)
#include "test_hostile_input.moc"
