// The configuration window with a link that records what it is asked: its load (lists, boxes,
// labels, opening tab, focus, names), the close lock and the return, Config_Buf across
// openings, the value labels after a refresh, and what the writer sends for the operator's
// edits, and only for those.
#include "config/CONFIG1.h"
#include "config/TwoRowTabs.h"
#include "core/SharedState.h"
#include "fakes/FakeLink.h"
#include "instrument/ParameterText.h"
#include "ui/FailureText.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <set>

using hx::config::CONFIG1;
using hx::config::ConfigTable;
using hx::config::kParameters;
using hx::config::qText;
using hx::test::FakeLink;

namespace {

constexpr int32_t kPort = 3;
constexpr int32_t kAddress = 5;

// The writes the link was asked for, as "register=value".
QStringList writesOf(const FakeLink& link) {
    QStringList writes;
    static const QRegularExpression write(QStringLiteral(R"(^Set_4X_D1\(\d+,\d+,(\d+),(-?\d+)\)$)"));
    for (const QString& call : link.calls) {
        const auto m = write.match(call);
        if (m.hasMatch()) writes << m.captured(1) + u'=' + m.captured(2);
    }
    return writes;
}

// The editors of one tab in row order.
QList<QWidget*> editorsOnTab(CONFIG1& window, int tab) {
    QList<QWidget*> editors;
    for (const auto& p : kParameters) {
        if (p.tab != tab) continue;
        if (p.editor == hx::config::Editor::List)
            editors << window.Combo[size_t(p.combo)];
        else if (p.editor == hx::config::Editor::Box)
            editors << window.T_3RW[size_t(p.k)];
    }
    return editors;
}

int tabOf(QWidget* editor) {
    for (const auto& p : kParameters) {
        if (qText(p.label).isEmpty()) continue;
        const QString name = p.editor == hx::config::Editor::List ? QStringLiteral("Combo%1").arg(p.combo)
                                                                  : QStringLiteral("T_3RW_%1").arg(p.k);
        if (name == editor->objectName()) return p.tab;
    }
    return -1;
}

// Gives the field the focus the way the operator does: its tab first.
void enter(CONFIG1& window, QWidget* editor) {
    window.SSTab2->setCurrentIndex(tabOf(editor));
    editor->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(editor->hasFocus() || editor->isAncestorOf(QApplication::focusWidget()));
}

} // namespace

class ConfigWindowTest : public QObject {
    Q_OBJECT

    FakeLink link;
    ConfigTable configBuf{};
    hx::WriteLog log;
    QWidget mainWindow;
    QPointer<CONFIG1> window;

    CONFIG1* open() {
        std::function<CONFIG1*(QWidget*)> create = [this](QWidget* main) {
            return new CONFIG1(main, link, configBuf, &log);
        };
        hx::openSecondaryWindow(&mainWindow, window, create);
        if (!window || !QTest::qWaitForWindowActive(window)) return nullptr;
        return window;
    }

  private slots:
    void init() {
        hx::resetSharedState();
        hx::Com_Param[0] = kPort;
        hx::Com_Param[3] = kAddress;
        link = FakeLink{};
        configBuf = ConfigTable{};
        log = hx::WriteLog{};
        mainWindow.show();
    }
    void cleanup() {
        if (window) window->returnToMain();
        QTRY_VERIFY(!window);
    }

    void opensOnChannelSevenWithTheReturnButtonFocused() {
        CONFIG1* w = open();
        QVERIFY(w);
        QVERIFY(!mainWindow.isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("HX5800 配置 "));
        QCOMPARE(w->SSTab2->count(), 14);
        QCOMPARE(w->SSTab2->currentIndex(), 10);
        QCOMPARE(w->SSTab2->tabText(10), QStringLiteral("11.通道七"));
        QTRY_COMPARE(QApplication::focusWidget(), w->Command11);
        QCOMPARE(w->Command11->text(), QStringLiteral(" Esc 返回"));

        // "Tab 12" is an empty page.
        w->SSTab2->tabButton(12)->click();
        QCOMPARE(w->SSTab2->currentIndex(), 12);
        QVERIFY(w->SSTab2->page(12)->findChildren<QWidget*>().isEmpty());

        // Every list and box is found by its name and named for accessibility by its row.
        int lists = 0, boxes = 0;
        for (const auto& p : kParameters) {
            if (p.editor == hx::config::Editor::None) continue;
            const bool isList = p.editor == hx::config::Editor::List;
            const QString name =
                isList ? QStringLiteral("Combo%1").arg(p.combo) : QStringLiteral("T_3RW_%1").arg(p.k);
            auto* editor = w->findChild<QWidget*>(name);
            QVERIFY2(editor, qPrintable(name));
            QCOMPARE(editor->accessibleName(), qText(p.label));
            QVERIFY(w->SSTab2->page(p.tab)->isAncestorOf(editor));
            QCOMPARE(w->D_4W[size_t(p.k)]->text(), QString()); // empty until the first refresh
            if (isList) {
                ++lists;
                auto* list = static_cast<QComboBox*>(editor);
                QCOMPARE(list->currentIndex(), 0);
                QCOMPARE(list->currentText(), list->itemText(0));
            } else {
                ++boxes;
                QVERIFY(static_cast<QLineEdit*>(editor)->text().isEmpty());
            }
        }
        QCOMPARE(lists, 38);
        QCOMPARE(boxes, 31);
        QCOMPARE(w->Combo[14]->itemText(8), QStringLiteral("8 WRe325(0-2300)"));
        QVERIFY(writesOf(link).isEmpty());
    }

    void onlyTheReturnButtonClosesTheWindow() {
        CONFIG1* w = open();
        QVERIFY(w);
        QVERIFY(!w->close()); // the title bar's close box
        QVERIFY(w->isVisible());
        QVERIFY(w->closeLock());
        QVERIFY(!mainWindow.isVisible());

        QTest::mouseClick(w->Command11, Qt::LeftButton);
        QTRY_VERIFY(!window);
        QVERIFY(mainWindow.isVisible());
    }

    void escapeWritesTheEditedFieldAndReturns() {
        CONFIG1* w = open();
        QVERIFY(w);
        w->Timer1->stop();
        enter(*w, w->T_3RW[11]);
        QTest::keyClicks(w->T_3RW[11], "20");
        QTest::keyClick(w->T_3RW[11], Qt::Key_Escape);
        QTRY_VERIFY(!window);
        QVERIFY(mainWindow.isVisible());
        QCOMPARE(writesOf(link), QStringList{"4108=20"});
    }

    void labelsShowWhatTheInstrumentHolds() {
        CONFIG1* w = open();
        QVERIFY(w);
        w->Timer1->stop();
        link.answering = false; // a silent instrument said nothing: no "0000", "K", "XXXX"
        w->Timer1_Timer();
        for (QLabel* label : w->D_4W)
            QVERIFY(!label || label->text().isEmpty());
        link.answering = true;
        link.calls.clear();
        // An instrument that answers zeros everywhere.
        w->Timer1_Timer();
        const QStringList reads = {
            "Get_4X_D16(3,5,4097)", "Get_4X_D16(3,5,4113)", "Get_4X_D16(3,5,4129)", "Get_4X_D16(3,5,4145)",
            "Get_4X_D8(3,5,4161)",  "Get_4X_D8(3,5,4169)",  "Get_4X_D16(3,5,4177)",
        };
        QCOMPARE(link.calls, reads);
        const std::pair<int, const char*> zeros[] = {
            {0, "0000"},          {1, "轮显"},    {2, "0"},  {3, "摄氏度"}, {4, "0"},
            {9, "4800"},          {10, "无校验"}, {12, "0"}, {16, "禁止"},  {17, "0V5"},
            {24, "K(-200~1370)"}, {25, "XXXX"},   {26, "0"}, {43, "0"},     {88, "禁止"},
            {95, "禁止"},
        };
        for (const auto& [k, text] : zeros)
            QCOMPARE(w->D_4W[size_t(k)]->text(), QString::fromUtf8(text));

        // Values outside their lists leave the labels as they were; the rest follow.
        link.holdingRegisters[4097] = 7;
        link.holdingRegisters[4098] = 7;     // display mode
        link.holdingRegisters[4169] = 24;    // channel 7 signal type
        link.holdingRegisters[4140] = -1999; // channel 3 lower limit
        w->Timer1_Timer();
        QCOMPARE(w->D_4W[0]->text(), QStringLiteral("0007"));
        QCOMPARE(w->D_4W[1]->text(), QStringLiteral("轮显"));
        QCOMPARE(w->D_4W[72]->text(), QStringLiteral("K(-200~1370)"));
        QCOMPARE(w->D_4W[43]->text(), QStringLiteral("-1999"));
        QCOMPARE(configBuf[1], 7);
        QVERIFY(writesOf(link).isEmpty());
    }

    void reopeningStartsAfreshAndKeepsConfigBuf() {
        CONFIG1* w = open();
        QVERIFY(w);
        w->Timer1->stop();
        link.holdingRegisters[4097] = 1234;
        link.holdingRegisters[4106] = 2;
        w->Timer1_Timer();
        enter(*w, w->T_3RW[26]);
        QTest::keyClicks(w->T_3RW[26], "500");
        w->Combo[8]->setCurrentIndex(2);
        w->Command11_Click();
        QTRY_VERIFY(!window);

        // The instrument goes silent; the window shows what the last opening read.
        link.answering = false;
        w = open();
        QVERIFY(w);
        w->Timer1->stop();
        QVERIFY(w->T_3RW[26]->text().isEmpty());
        QCOMPARE(w->Combo[8]->currentIndex(), 0);
        QVERIFY(w->D_4W[0]->text().isEmpty());
        QCOMPARE(configBuf[0], 1234);
        w->Timer1_Timer();
        QCOMPARE(w->D_4W[0]->text(), QStringLiteral("1234"));
        QCOMPARE(w->D_4W[9]->text(), QStringLiteral("19200"));
    }

    void tabbingThroughUntouchedFieldsWritesNothing() {
        CONFIG1* w = open();
        QVERIFY(w);
        w->Timer1->stop();
        std::set<QWidget*> visited;
        int editors = 0;
        for (int tab = 0; tab < 14; ++tab) {
            const QList<QWidget*> onTab = editorsOnTab(*w, tab);
            editors += onTab.size();
            w->SSTab2->setCurrentIndex(tab);
            w->Command11->setFocus();
            QTRY_VERIFY(w->Command11->hasFocus());
            // Through every field of the tab and back to the return button.
            for (int i = 0; i <= onTab.size(); ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QWidget* now = QApplication::focusWidget();
                for (QWidget* editor : onTab) {
                    if (now == editor || editor->isAncestorOf(now)) visited.insert(editor);
                }
            }
            QTRY_VERIFY(w->Command11->hasFocus());
        }
        QCOMPARE(editors, 69);
        QCOMPARE(int(visited.size()), editors);
        QVERIFY(writesOf(link).isEmpty());
        QCOMPARE(log.written + log.failed, uint64_t(0));

        // The same path writes a field once the operator has changed it.
        w->SSTab2->setCurrentIndex(0);
        enter(*w, w->Combo[2]);
        QTest::keyClick(w->Combo[2], Qt::Key_Down);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(writesOf(link), QStringList{"4098=1"});
    }

    // One wheel notch over a list that does not have the focus changes nothing, so no leave
    // writes it; the list the operator entered still takes the wheel.
    void theWheelOverAnUnfocusedListWritesNothing() {
        CONFIG1* w = open();
        QVERIFY(w);
        const auto notch = [](QComboBox* list) { // a test's wheel event does not propagate: at the list
            QWheelEvent wheel(QPointF(5, 5), list->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(list, &wheel);
        };
        for (int n = 1; n <= hx::config::kComboCount; ++n) {
            QComboBox* list = w->Combo[size_t(n)];
            w->SSTab2->setCurrentIndex(tabOf(list));
            notch(list);
            QVERIFY2(list->currentIndex() == 0 && !w->comboField(n)->edited(),
                     qPrintable(list->objectName()));
        }

        enter(*w, w->Combo[8]);
        notch(w->Combo[8]);
        QCOMPARE(w->Combo[8]->currentIndex(), 1);
    }

    void writesWhatTheOperatorChose_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("pick"); // item to pick with the keyboard, -1: type instead
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("answering");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<bool>("marked");
        QTest::newRow("baud item") << "Combo8" << 2 << "" << true << QStringList{"4106=2"} << false;
        QTest::newRow("typed mask") << "Combo32" << -1 << "6" << true << QStringList{"4109=6"} << false;
        QTest::newRow("relay item") << "Combo32" << 2 << "" << true << QStringList{"4109=3"} << false;
        QTest::newRow("channel count item") << "Combo31" << 7 << "" << true << QStringList{"4101=8"} << false;
        QTest::newRow("item with a blank") << "Combo14" << 8 << "" << true << QStringList{"4121=8"} << false;
        QTest::newRow("list text without a number") << "Combo3" << -1 << "x" << true << QStringList{} << true;
        QTest::newRow("channel 3 lower limit")
            << "T_3RW_43" << -1 << "-1999" << true << QStringList{"4140=-1999"} << false;
        QTest::newRow("half down to even")
            << "T_3RW_0" << -1 << "12.5" << true << QStringList{"4097=12"} << false;
        QTest::newRow("half up to even")
            << "T_3RW_0" << -1 << "13.5" << true << QStringList{"4097=14"} << false;
        QTest::newRow("beyond 32 bits") << "T_3RW_8" << -1 << "123456789012" << true << QStringList{} << true;
        QTest::newRow("not a number") << "T_3RW_11" << -1 << "abc" << true << QStringList{} << true;
        QTest::newRow("does not fit a register")
            << "T_3RW_11" << -1 << "99999" << true << QStringList{} << true;
        QTest::newRow("silent instrument: one resend")
            << "T_3RW_26" << -1 << "100" << false << QStringList{"4123=100", "4123=100"} << true;
    }
    void writesWhatTheOperatorChose() {
        QFETCH(QString, field);
        QFETCH(int, pick);
        QFETCH(QString, typed);
        QFETCH(bool, answering);
        QFETCH(QStringList, writes);
        QFETCH(bool, marked);
        CONFIG1* w = open();
        QVERIFY(w);
        w->Timer1->stop();
        link.answering = answering;
        auto* editor = w->findChild<QWidget*>(field);
        QVERIFY(editor);
        enter(*w, editor);
        auto* list = qobject_cast<QComboBox*>(editor);
        if (pick >= 0) {
            for (int i = 0; i < pick; ++i)
                QTest::keyClick(list, Qt::Key_Down);
            QCOMPARE(list->currentIndex(), pick);
        } else {
            QWidget* input = list ? static_cast<QWidget*>(list->lineEdit()) : editor;
            QTest::keyClick(input, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(input, typed);
        }
        w->Command11->setFocus(); // leave the field
        QTRY_VERIFY(w->Command11->hasFocus());
        QCOMPARE(writesOf(link), writes);

        hx::EditedField* edited =
            list ? w->comboField(field.mid(5).toInt()) : w->boxField(field.mid(6).toInt());
        QVERIFY(edited);
        QCOMPARE(edited->marked(), marked);
        QCOMPARE(log.failed, uint64_t(marked ? 1 : 0));
        if (!answering)
            QCOMPARE(editor->toolTip(), QString::fromStdString(hx::failureText({hx::LinkFailure::Timeout})));
        if (marked && writes.isEmpty())
            QVERIFY2(editor->toolTip().contains(typed == "99999" ? "寄存器范围" : "不是数字"),
                     qPrintable(editor->toolTip()));
        if (list && !writes.isEmpty()) QCOMPARE(hx::Com_Param[19], writes.last().section(u'=', 1).toInt());

        // The next leave: a confirmed edit is not written again; a failed one is, and the write
        // that gets through clears the mark.
        if (!writes.isEmpty()) {
            link.answering = true;
            link.calls.clear();
            enter(*w, editor);
            w->Command11->setFocus();
            QTRY_VERIFY(w->Command11->hasFocus());
            QCOMPARE(writesOf(link), marked ? QStringList{writes.first()} : QStringList{});
            QVERIFY(!edited->marked());
        }
    }
};

QTEST_MAIN(ConfigWindowTest)
#include "test_config_window.moc"
