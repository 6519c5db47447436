// The main window: its load, the port settings' open and close sequences, the status
// table, the key map and close lock, the exit, history paging, and the status line.
#include "app/MainWindowLayout.h"
#include "app/StatusTable.h"
#include "app/ssqx.h"
#include "core/Clock.h"
#include "core/FreshValues.h"
#include "core/SharedState.h"
#include "fakes/FakeLink.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "logging/DatabaseSetup.h"
#include "logging/RecordStore.h"
#include "logging/mscom.h"
#include "support/SimProcess.h"
#include "trend/ChartRuler.h"
#include "trend/ChartSurface.h"
#include "ui/OperatorField.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace hx;
using hx::test::FakeLink;

namespace {

struct Fixture {
    QTemporaryDir dir;
    FakeLink link;
    AppContext context;
    std::unique_ptr<Met1> met1;
    bool ended = false;

    explicit Fixture(int records = 0, bool withDatabase = true) {
        resetSharedState();
        Y_Span = 1500;
        context.link = &link;
        context.databasePath = dir.filePath("Rdatabj.db");
        context.openStore = [](const QString& path) { return openRecordStore(path); };
        context.endProcess = [this] { ended = true; };
        met1 = std::make_unique<Met1>(link);
        context.met1 = met1.get();
        if (withDatabase) {
            QString error;
            if (!createRecordDatabase(context.databasePath, false, &error))
                qFatal("cannot create the test database: %s", qPrintable(error));
            fill(records);
        }
    }

    // Records 1..n, one second apart from 08:00:00 of 2026-12-01, values by slot.
    void fill(int n) {
        if (n <= 0) return;
        auto store = openRecordStore(context.databasePath);
        for (int id = 1; id <= n; ++id) {
            StoredRecord r;
            r.id = id;
            r.date = dayNumberOf(QDate(2026, 12, 1));
            r.time = (8 * 3600 + id) / 86400.0;
            for (int c = 0; c < 10; ++c)
                r.values[c] = float(id % 100 + c);
            if (store->writeRecord(r) == WriteOutcome::Failed) qFatal("cannot fill the test database");
        }
    }
};

// A wall clock the test moves by hand, installed for the whole program while it lives.
class TestClock final : public Clock {
  public:
    TestClock() { setAppClock(this); }
    ~TestClock() override { setAppClock(nullptr); }
    ClockReading now() const override { return readingOf(at); }
    QDateTime at{QDate(2026, 12, 8), QTime(14, 3, 22)};
};

// The recorder announces a record and raises New_Record, as it does once a second.
void recordSample(ssqx& window, float ch1, float da2, const ClockReading& at) {
    StoredRecord record;
    record.date = at.date;
    record.time = at.time;
    record.values[0] = ch1;
    record.values[9] = da2;
    window.noteRecord(record, WriteOutcome::Committed);
    New_Record = kTrue;
}

// The program around the window, as far as the status line asks it about the recording.
struct RecordingHost final : MainWindowHost {
    std::function<RecordingHealth()> health;
    QWidget* createWindow(Window, QWidget*) override { return nullptr; }
    std::optional<RecordingHealth> recordingHealth() override { return health(); }
};

template <class T> T* child(QWidget& window, const char* name) {
    T* w = window.findChild<T*>(QString::fromLatin1(name));
    if (!w) qFatal("no control %s", name);
    return w;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void loadPreparesTheControls() {
        Fixture f;
        ssqx window(f.context);
        QCOMPARE(window.windowTitle(), QString::fromUtf16(u"过程控制仪表  HX5800"));
        QCOMPARE(window.Combo1->count(), 20);
        QCOMPARE(window.Combo1->itemText(0), QStringLiteral("1 "));
        QCOMPARE(window.Combo1->itemText(19), QStringLiteral("20 "));
        QCOMPARE(window.Combo2->count(), 16);
        QCOMPARE(window.Combo2->itemText(15), QStringLiteral("16 "));
        QCOMPARE(window.Combo1->currentText(), QStringLiteral("1 "));
        QCOMPARE(window.Combo2->currentText(), QStringLiteral("1 "));
        QVERIFY(window.Option1[1]->isChecked());
        QVERIFY(window.Option2[0]->isChecked());
        QCOMPARE(window.Option1[2]->text(), QStringLiteral("19200"));
        QCOMPARE(window.Option2[2]->text(), QString::fromUtf16(u"偶校验"));
        QVERIFY(window.Command21->isEnabled()); // CONFIG before any open
        QVERIFY(!window.Command3->isEnabled()); // F2
        QVERIFY(!window.Command7->isEnabled()); // F6
        QVERIFY(window.Command8->isEnabled());  // F7
        QVERIFY(!window.hc->isEnabled());
        QCOMPARE(window.hc->focusPolicy(), Qt::NoFocus);
        QCOMPARE(Main_Open, kTrue);
        QVERIFY(window.closeLock());
        QVERIFY(window.store() && window.store()->isOpen());
        QCOMPARE(window.Label19->text(), QStringLiteral("12008"));
        QCOMPARE(window.Label20->text(), QStringLiteral("7508"));
        for (auto* t : {window.Timer1, window.Timer2, window.Timer3, window.Timer4})
            QVERIFY(t->isActive());
        QCOMPARE(window.Timer4->interval(), 3000);
        QCOMPARE(window.findChild<QPushButton*>("Command5")->text(), QString::fromUtf16(u"F4 标尺"));
        // Every editor carries its row's caption for screen readers.
        QCOMPARE(window.Combo1->accessibleName(), QString::fromUtf16(u"通讯端口"));
        QCOMPARE(window.Combo2->accessibleName(), QString::fromUtf16(u"模块地址"));
    }

    void statusTableIsPreparedWithNumbersOnly() {
        Fixture f;
        ssqx window(f.context);
        QTableWidget* grid = window.FLXG;
        QCOMPARE(grid->rowCount(), 31);
        QCOMPARE(grid->columnCount(), 2);
        QCOMPARE(grid->item(0, 0)->text(), QString::fromUtf16(u"编号 "));
        QCOMPARE(grid->item(0, 1)->text(), QString::fromUtf16(u"状态"));
        for (int r = 1; r <= 30; ++r) {
            QCOMPARE(grid->item(r, 0)->text(), QString::number(r));
            QVERIFY(grid->item(r, 1)->text().isEmpty());
        }
    }

    void statusTableTexts_data() {
        QTest::addColumn<int>("element"); // Status_Bit element set to 1, -1 for none, -2: never read
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::newRow("never read, row 1") << -2 << 1 << QString::fromUtf16(u"CH 1 —");
        QTest::newRow("all clear, row 1") << -1 << 1 << QString::fromUtf16(u"CH 1 正常");
        QTest::newRow("all clear, row 12") << -1 << 12 << QString::fromUtf16(u"CH 4 正常");
        QTest::newRow("all clear, row 24") << -1 << 24 << QString::fromUtf16(u"CH 8 正常");
        QTest::newRow("all clear, relay 1") << -1 << 25 << QString::fromUtf16(u"DO 1 断开");
        QTest::newRow("all clear, relay 2") << -1 << 26 << QString::fromUtf16(u"DO 2 断开");
        QTest::newRow("open circuit CH3") << 2 << 3 << QString::fromUtf16(u"CH 3 开路报警");
        QTest::newRow("short circuit CH1") << 8 << 9 << QString::fromUtf16(u"CH 1 短路报警");
        QTest::newRow("short circuit CH4") << 11 << 12 << QString::fromUtf16(u"CH 4 短路报警");
        QTest::newRow("setpoint alarm CH8") << 23 << 24 << QString::fromUtf16(u"CH 8 设定值报警");
        QTest::newRow("relay 2 closed, no blank") << 25 << 26 << QString::fromUtf16(u"DO 2闭合");
        QTest::newRow("relay 1 closed") << 24 << 25 << QString::fromUtf16(u"DO 1闭合");
    }
    void statusTableTexts() {
        QFETCH(int, element);
        QFETCH(int, row);
        QFETCH(QString, text);
        Fixture f;
        ssqx window(f.context);
        if (element >= 0) Status_Bit[element] = 1;
        if (element != -2) freshValues().noteStatusRead();
        window.Timer4_Timer();
        QCOMPARE(window.FLXG->item(row, 1)->text(), text);
        QCOMPARE(window.FLXG->item(row, 0)->text(), QString::number(row));
        // A state never read is grey; every other state row reads normal / open, or unread.
        QCOMPARE(window.FLXG->item(row, 1)->foreground().color() == QColor(Qt::gray), element == -2);
        for (int r = 1; r <= 26; ++r) {
            if (r == row) continue;
            QCOMPARE(window.FLXG->item(r, 1)->text(),
                     element == -2 ? statusRowUnreadText(r) : statusRowText(r, 0));
        }
    }

    void bitsWithoutARowChangeNothing() {
        Fixture f;
        ssqx window(f.context);
        for (int e = 26; e <= 31; ++e)
            Status_Bit[e] = 1;
        Status_Bit[5] = -3; // any non-zero value counts as set
        freshValues().noteStatusRead();
        window.Timer4_Timer();
        QCOMPARE(window.FLXG->item(6, 1)->text(), QString::fromUtf16(u"CH 6 开路报警"));
        for (int r = 27; r <= 30; ++r) {
            QCOMPARE(window.FLXG->item(r, 0)->text(), QString::number(r));
            QVERIFY(window.FLXG->item(r, 1)->text().isEmpty());
        }
        QCOMPARE(window.FLXG->item(26, 1)->text(), QString::fromUtf16(u"DO 2 断开"));
    }

    void openWithTheDefaults() {
        Fixture f;
        ssqx window(f.context);
        window.show();
        window.Command9_Click();
        QCOMPARE(f.link.calls, QStringList({"OpenPort_Modbus(1,1,0)"}));
        QCOMPARE(Com_Param[0], 1);
        QCOMPARE(Com_Param[1], 1);
        QCOMPARE(Com_Param[2], 0);
        QCOMPARE(Com_Param[3], 1);
        QCOMPARE(Com_Param[20], 0);
        for (auto* g : {window.baudGroup, window.addressGroup, window.parityGroup, window.portGroup})
            QVERIFY(!g->isVisible());
        QVERIFY(window.Command21->isEnabled());
        QVERIFY(f.met1->Timer1->isActive());
        QVERIFY(window.Command9->isEnabled() && window.Command10->isEnabled());
    }

    void closeThenOpenWithOtherSettings() {
        Fixture f;
        ssqx window(f.context);
        window.show();
        window.Command9_Click();
        window.Command10_Click();
        QCOMPARE(f.link.calls.last(), QStringLiteral("ClosePort_Modbus(1)"));
        QVERIFY(!f.met1->Timer1->isActive());
        QVERIFY(!window.Command21->isEnabled());
        for (auto* g : {window.baudGroup, window.addressGroup, window.parityGroup, window.portGroup})
            QVERIFY(g->isVisible());
        QCOMPARE(Com_Param[3], 1); // kept after close

        window.Combo1->setCurrentIndex(2);
        window.Combo2->setEditText(QStringLiteral("5 "));
        window.Option1[2]->setChecked(true);
        window.Option2[2]->setChecked(true);
        window.Command9_Click();
        QCOMPARE(f.link.calls.last(), QStringLiteral("OpenPort_Modbus(3,2,2)"));
        QCOMPARE(Com_Param[3], 5);
        // The poll uses the new settings.
        f.met1->Timer1_Timer();
        QCOMPARE(f.link.calls.last(), QStringLiteral("Get_1X_B16(3,5,17)"));
    }

    void portTextsBecomeNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::newRow("not a number") << "COM" << 0;
        QTest::newRow("2.5 to even") << "2.5" << 2;
        QTest::newRow("3.5 to even") << "3.5" << 4;
        QTest::newRow("too large keeps the last port") << "5e9" << 9;
    }
    void portTextsBecomeNumbers() {
        QFETCH(QString, text);
        QFETCH(int, port);
        Fixture f;
        ssqx window(f.context);
        Com_Param[0] = 9;
        window.Combo1->setEditText(text);
        window.Command9_Click();
        QCOMPARE(Com_Param[0], port);
    }

    // A typed port or address is used, not added to the list.
    void aTypedEntryIsUsedNotAdded() {
        Fixture f;
        ssqx window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.Combo1->setFocus();
        window.Combo1->lineEdit()->selectAll();
        QTest::keyClicks(window.Combo1, "7");
        QTest::keyClick(window.Combo1, Qt::Key_Return);
        QCOMPARE(window.Combo1->count(), 20);
        window.Command9_Click();
        QCOMPARE(Com_Param[0], 7);
        window.Command10_Click();
    }

    void titleBarCloseIsRefused() {
        Fixture f(30);
        ssqx window(f.context);
        window.show();
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QCOMPARE(Main_Open, kTrue);
        QVERIFY(window.store() && window.store()->isOpen());
        QVERIFY(!f.ended);
    }

    void escapeEndsTheProgramFromAnyControl() {
        Fixture f;
        ssqx window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.Command9_Click(); // also while the port is open
        window.Combo2->setFocus();
        QTest::keyClick(window.Combo2, Qt::Key_Escape);
        QVERIFY(f.ended);
        QVERIFY(!window.closeLock());
        QVERIFY(!window.store());
        QCOMPARE(Main_Open, kFalse);
        QVERIFY(!f.link.calls.contains("ClosePort_Modbus(1)")); // the port is not closed first
    }

    void exitButtonEndsTheProgram() {
        Fixture f;
        ssqx window(f.context);
        window.show();
        window.Command1->click();
        QVERIFY(f.ended);
        QVERIFY(!window.isVisible());
    }

    void keyGuards() {
        Fixture f(400);
        ssqx window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const auto snapshot = [&] {
            return QStringList{QString::number(window.trend().Zoom_Level),
                               QString::number(window.trend().Page_Back),
                               QString::number(window.trend().Win_End)};
        };
        const QStringList start = snapshot();
        QTest::keyClick(&window, Qt::Key_F2); // level 1: nothing to zoom in
        QTest::keyClick(&window, Qt::Key_F6); // live page: nothing newer
        QTest::keyClick(&window, Qt::Key_F3);
        QTest::keyClick(&window, Qt::Key_F5);
        QCOMPARE(snapshot(), start);

        QTest::keyClick(&window, Qt::Key_F1);
        QCOMPARE(window.trend().Zoom_Level, int16_t(2));
        QVERIFY(window.Command3->isEnabled());
        QTest::keyClick(&window, Qt::Key_F1);
        QTest::keyClick(&window, Qt::Key_F1);
        QTest::keyClick(&window, Qt::Key_F1); // level 4 is the widest
        QCOMPARE(window.trend().Zoom_Level, int16_t(4));
        QVERIFY(!window.Command4->isEnabled());
        QTest::keyClick(&window, Qt::Key_F2);
        QCOMPARE(window.trend().Zoom_Level, int16_t(3));
        // The key reaches the window first, whatever control has the focus.
        window.Combo1->setFocus();
        QTest::keyClick(window.Combo1, Qt::Key_F7);
        QCOMPARE(window.trend().Page_Back, int16_t(1));
    }

    // With the ring pointer at 500, three older pages reach slot 1 and stop; F6 from page 1
    // returns to live.
    void pagingThroughTheWindow() {
        Fixture f(500);
        ssqx window(f.context);
        window.show();
        QCOMPARE(window.trend().Ring_Pos, 500);
        QCOMPARE(window.Label4[8]->text().size(), 8); // the newest records are drawn
        QVERIFY(!window.historyMark->isVisible());
        window.Command8_Click();
        QCOMPARE(window.trend().Probe_End, 440);
        QVERIFY(!window.Timer1->isActive());
        // Slots 1..321 hold records 120..440 (08:02:00 ..); at level 1 the time labels under
        // the chart read slots 181..261.
        QCOMPARE(window.historyMark->text(), QString::fromUtf16(u"历史 2026/12/01 08:05:00 – 08:06:20"));
        QVERIFY(window.historyMark->isVisible());
        QVERIFY(window.Command7->isEnabled());
        QVERIFY(window.Command8->isEnabled());
        window.Command8_Click();
        QCOMPARE(window.trend().Probe_End, 380);
        QVERIFY(window.Command8->isEnabled());
        window.Command8_Click();
        QCOMPARE(window.trend().Probe_End, 320);
        QVERIFY(!window.Command8->isEnabled());
        QVERIFY(window.trend().At_Oldest);
        QTest::keyClick(&window, Qt::Key_F7); // guarded: nothing older
        QCOMPARE(window.trend().Page_Back, int16_t(3));

        window.Command7_Click();
        window.Command7_Click();
        QVERIFY(window.Command8->isEnabled());
        QVERIFY(!window.trend().At_Oldest);
        window.Command7_Click();
        QCOMPARE(window.trend().Page_Back, int16_t(0));
        QCOMPARE(window.trend().Win_Len, int16_t(241));
        QVERIFY(!window.Command7->isEnabled());
        QVERIFY(window.Timer1->isActive());
        QVERIFY(!window.historyMark->isVisible());
    }

    void liveTickAppendsRecordedSamples() {
        Fixture f(300);
        ssqx window(f.context);
        window.show();
        QCOMPARE(window.trend().Win_Count, int16_t(241));
        // The chart takes the record itself, at its own time, not the poll's newer values.
        const ClockReading recordedAt{dayNumberOf(QDate(2026, 12, 1)), (9 * 3600 + 7) / 86400.0};
        recordSample(window, -123, 45.5f, recordedAt);
        Pv_Value[0] = -124;
        Pv_Value[9] = 45.5f;
        window.Timer1_Timer();
        QCOMPARE(window.trend().Win_Count, int16_t(242));
        QCOMPARE(window.trend().Trend_Value[0][242], -123.0f);
        QCOMPARE(window.trend().Trend_Value[9][242], 45.5f);
        QCOMPARE(window.trend().Trend_Time[242], recordedAt.time);
        QCOMPARE(New_Record, kFalse);
        // No good answer yet: the value labels claim nothing; a value read is shown.
        QCOMPARE(window.D_3W[0]->text(), QString());
        freshValues().noteMeasured(0, 8, FreshValues::steadyNowMs());
        window.Timer1_Timer();
        QCOMPARE(window.D_3W[0]->text(), QStringLiteral("-124"));
        QVERIFY(!window.D_3W[0]->styleSheet().contains("gray"));
        QCOMPARE(window.D_3W[9]->text(), QString());
        QVERIFY(window.D_3W[9]->styleSheet().contains("gray"));
        QCOMPARE(window.Label5[6]->text(), QStringLiteral("1500"));
        QCOMPARE(window.Label5[1]->text(), QStringLiteral("250"));
        // At level 1 the band holds 20 samples: the 20th reloads the newest records.
        for (int i = 0; i < 19; ++i) {
            recordSample(window, 1, 1, recordedAt);
            window.Timer1_Timer();
        }
        QCOMPARE(window.trend().Win_Count, int16_t(241));
    }

    // A port that does not open does not look connected: the settings stay shown, "CONFIG"
    // keeps its state, no poll runs, and the status line names the device and says why.
    void aPortThatCannotBeOpenedSaysSoAndStaysClosed() {
        Fixture f;
        ModbusLink link;
        f.context.link = &link;
        qputenv("HX5800_COM1", f.dir.filePath("no-such-device").toUtf8());
        ssqx window(f.context);
        window.show();
        QVERIFY(window.statusPort->text().contains(QString::fromUtf16(u"已关闭")));
        window.Command10_Click(); // "CONFIG" off
        window.Command9_Click();
        qunsetenv("HX5800_COM1");
        const QString text = window.statusPort->text();
        QVERIFY2(text.startsWith(QString::fromUtf16(u"端口1 无法打开: 设备不存在  ")) &&
                     text.endsWith("no-such-device"),
                 qPrintable(text));
        QCOMPARE(window.statusPort->toolTip(), text);
        // Too long for its place: the path is shortened in its middle, the cause stays whole.
        const QString fitted = fitStatusText(text, window.statusPort->fontMetrics(), 250);
        QVERIFY2(window.statusPort->fontMetrics().horizontalAdvance(fitted) <= 250 &&
                     fitted.startsWith(QString::fromUtf16(u"端口1 无法打开: 设备不存在  /")) &&
                     fitted.contains(u'…') && fitted.endsWith("device"),
                 qPrintable(fitted));
        QVERIFY(window.portGroup->isVisible() && window.baudGroup->isVisible());
        QVERIFY(!window.Command21->isEnabled());
        QVERIFY(!f.met1->Timer1->isActive());
    }

    void statusLineShowsASilentInstrument() {
        Fixture f;
        hx::test::SimProcess sim({"--static", "--silent"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        ModbusLink link;
        f.context.link = &link;
        Met1 met1(link);
        f.context.met1 = &met1;
        qputenv("HX5800_COM1", sim.devicePath().toUtf8());
        ssqx window(f.context);
        window.Command9_Click();
        qunsetenv("HX5800_COM1");
        QVERIFY(window.statusPort->text().contains(QString::fromUtf16(u"已打开")));
        for (int i = 0; i < 2; ++i)
            met1.Timer1_Timer(); // 8 calls: three time out, the rest wait for the probe
        window.updateStatusLine();
        const QString text = window.statusLink->text();
        QVERIFY2(text.contains(QString::fromUtf16(u"尚无应答")) &&
                     text.contains(QString::fromUtf16(u"每秒探测")),
                 qPrintable(text));
        QVERIFY(window.statusLink->styleSheet().contains("255,200,200"));

        // The instrument answers again: the line shows the time of the last good answer.
        QVERIFY(sim.command("silent off"));
        QTRY_VERIFY_WITH_TIMEOUT((met1.Timer1_Timer(), link.stats().good > 0), 4000);
        window.updateStatusLine();
        QVERIFY2(window.statusLink->text().contains(QString::fromUtf16(u"最后应答")),
                 qPrintable(window.statusLink->text()));
        QVERIFY(!window.statusLink->styleSheet().contains("255,200,200"));

        // A write that fails is told in its own part and does not make the answering
        // instrument look silent; a new open counts from zero.
        WriteLog writes;
        f.context.writes = &writes;
        writes.failed = 1;
        writes.lastFailure = WriteFailure{4123, {LinkFailure::Timeout}};
        window.updateStatusLine();
        QVERIFY(window.statusLink->text().contains(QString::fromUtf16(u"写入失败 1 次")));
        QVERIFY(!window.statusLink->styleSheet().contains("255,200,200"));
        window.Command9_Click();
        window.updateStatusLine();
        const QString reopened = window.statusLink->text();
        QVERIFY2(reopened.contains(QString::fromUtf16(u"超时 0")) &&
                     !reopened.contains(QString::fromUtf16(u"写入失败")),
                 qPrintable(reopened));
        QVERIFY(!window.statusLink->styleSheet().contains("255,200,200"));
        window.Command10_Click();
    }

    // Another program's recording is a notice (amber), not a fault of this one (red); a lock
    // file that cannot be made stops this program's recording, and that is a fault.
    void statusLineShowsARecordingThisProgramDoesNotMake() {
        Fixture f;
        ssqx window(f.context);
        RecordingHealth health;
        health.path = QStringLiteral("/data/Rdatabj.db");
        health.claim = RecorderClaim::OtherProgram;
        health.otherPid = 1234;
        RecordingHost host;
        host.health = [&] { return health; };
        window.setHost(&host);
        window.updateStatusLine();
        QCOMPARE(
            window.statusRecording->text(),
            QString::fromUtf16(u"记录: 另一个程序正在记录到 /data/Rdatabj.db (进程 1234), 本程序不记录"));
        QCOMPARE(window.statusRecording->styleSheet(), kNoticeStyle);
        health.claim = RecorderClaim::NoLockFile;
        window.updateStatusLine();
        QCOMPARE(window.statusRecording->text(),
                 QString::fromUtf16(u"记录: 不记录, 无法创建锁文件 /data/Rdatabj.db.recorder-lock"));
        QCOMPARE(window.statusRecording->styleSheet(), kAlertStyle);
    }

    void statusLineShowsAMissingDatabase() {
        Fixture f(0, false);
        ssqx window(f.context);
        RecordingHost host;
        window.setHost(&host);
        host.health = [&] {
            RecordingHealth h;
            h.path = f.context.databasePath;
            h.available = false;
            h.error = QStringLiteral("unable to open database file");
            return h;
        };
        window.updateStatusLine();
        const QString text = window.statusRecording->text();
        QVERIFY2(text.contains(QString::fromUtf16(u"数据库不可用")) && text.contains("Rdatabj.db"),
                 qPrintable(text));
        // Without a database the window still opens and draws flat curves.
        QVERIFY(!window.store() || !window.store()->isOpen());
        QCOMPARE(window.trend().Trend_Value[0][241], 0.0f);
    }

    // F4 turns the ruler on: the slider takes the keys and the readout shows the slot under
    // it; F4 again returns to the live page, also from the history page the slider's end
    // opened.
    void rulerOnAndOff() {
        Fixture f(1000);
        ssqx window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.Line1->shape(), kRulerOffTick);
        QTest::keyClick(&window, Qt::Key_F4);
        QVERIFY(window.trend().Ruler_On);
        QCOMPARE(window.Command5->text(), QString::fromUtf16(u"F4 复原"));
        QVERIFY(window.hc->isEnabled());
        QVERIFY(window.hc->hasFocus());
        QVERIFY(!window.Timer1->isActive());
        QCOMPARE(window.Line1->shape(), kRulerOnTick);

        window.hc->setValue(1500); // level 1: slot 190, ring slot 949
        QCOMPARE(window.Line1->shape(), rulerLineAt(1500));
        QCOMPARE(window.D_3W[0]->text(), QString::number(949 % 100));
        QCOMPARE(window.D_3W[9]->text(), QString::number(949 % 100 + 9));
        QCOMPARE(window.Label2_10->text(), QStringLiteral("08:15:49"));
        QCOMPARE(window.Label2_9->text(), QStringLiteral("2026/12/01"));
        QVERIFY(window.D_3W[0]->styleSheet().contains("255,255,0"));
        QVERIFY(window.Label2_9->styleSheet().contains("255,255,0"));
        window.Timer3_Timer(); // the clock leaves the readout alone
        QCOMPARE(window.Label2_10->text(), QStringLiteral("08:15:49"));

        // The arrow keys move the slider; its left end opens page 1.
        window.hc->setValue(0);
        QTest::keyClick(window.hc, Qt::Key_Left);
        QCOMPARE(window.hc->value(), -1);
        QCOMPARE(window.trend().Page_Back, int16_t(1));
        QVERIFY(window.Command7->isEnabled());
        QTest::keyClick(window.hc, Qt::Key_F7);
        QCOMPARE(window.trend().Page_Back, int16_t(2));

        QTest::keyClick(&window, Qt::Key_F4);
        QVERIFY(!window.trend().Ruler_On);
        QCOMPARE(window.Command5->text(), QString::fromUtf16(u"F4 标尺"));
        QVERIFY(!window.hc->isEnabled());
        QCOMPARE(window.hc->focusPolicy(), Qt::NoFocus);
        QCOMPARE(window.hc->value(), 0);
        QCOMPARE(window.Line1->shape(), kRulerOffTick);
        QCOMPARE(window.trend().Page_Back, int16_t(0));
        QCOMPARE(window.trend().Win_Len, int16_t(241));
        QCOMPARE(window.trend().Win_End, 1000);
        QVERIFY(!window.Command7->isEnabled());
        QVERIFY(window.Command8->isEnabled());
        QVERIFY(!window.trend().At_Oldest);
        QVERIFY(window.Timer1->isActive());
        window.Timer1_Timer(); // live values on their normal background again
        QVERIFY(window.D_3W[0]->styleSheet().contains("255,192,255"));
        window.Timer3_Timer();
        QVERIFY(window.Label2_9->text() != QStringLiteral("2026/12/01"));
    }

    // With the ruler on, everything on screen is of the record under the ruler line: one arrow
    // moves one record from start-up on, a click places the ruler, the slider's right end back
    // to live leaves the chart standing still, a slot without a record reads empty; the scale
    // labels follow "修改Y" at once; and a mark beside the chart says it is not live.
    void theRulerShowsOneRecordAtATime() {
        Fixture f(1000);
        ssqx window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_F4);
        QVERIFY(window.historyMark->isVisible());
        window.hc->setValue(1500); // level 1: slot 190, ring slot 949
        QTest::keyClick(window.hc, Qt::Key_Right);
        QCOMPARE(window.D_3W[0]->text(), QString::number(950 % 100));
        QCOMPARE(window.Label2_10->text(), QStringLiteral("08:15:50"));

        QTest::mouseClick(window.pt, Qt::LeftButton, {}, QPoint(window.pt->width() / 2, 20));
        QCOMPARE(window.hc->value(), 6000); // slot 220, ring slot 979
        QCOMPARE(window.D_3W[0]->text(), QString::number(979 % 100));

        window.hc->setValue(0);
        QTest::keyClick(window.hc, Qt::Key_Left); // page 1
        window.hc->setValue(kRulerSliderMax);     // and back to live
        QCOMPARE(window.trend().Page_Back, int16_t(0));
        QVERIFY(!window.Timer1->isActive());
        // Slot 260 lies past the newest record: nothing to read there.
        QCOMPARE(window.Label2_10->text(), QString());
        QCOMPARE(window.D_3W[0]->text(), QString());

        QTest::mouseDClick(window.Label5[0], Qt::LeftButton);
        window.YKD->setText(QStringLiteral("100"));
        window.YKD1->setText(QStringLiteral("-50"));
        window.Command26->click();
        QCOMPARE(window.Label5[6]->text(), QStringLiteral("100"));
        QCOMPARE(window.printoutContent(appClock().now()).scale[0], QStringLiteral("-50"));

        QTest::keyClick(&window, Qt::Key_F4);
        QVERIFY(!window.historyMark->isVisible());
    }

    // The live window is the database's newest records point for point after the main window
    // was hidden for a minute, at every zoom level, also when two records fell between two
    // live ticks (the window thread held up by a slow instrument).
    void theLiveWindowIsTheNewestRecordsAfterAMinuteHidden() {
        TestClock clock;
        Fixture f(300);
        ssqx window(f.context);
        mscom recorder(f.context.databasePath, clock);
        recorder.Timer1.stop();
        connect(&recorder, &mscom::recordWritten, &window, &ssqx::noteRecord);
        window.show();
        for (int level = 1; level <= 4; ++level) {
            if (level > 1) window.Command4_Click();
            window.hide();
            for (int s = 0; s < 60; ++s) {
                Pv_Value[0] = float(1000 * level + s);
                freshValues().noteMeasured(0, FreshValues::kValues, FreshValues::steadyNowMs());
                recorder.Timer1_Timer();
                if (s % 3 != 0) window.Timer1_Timer();
                clock.at = clock.at.addSecs(1);
            }
            window.show();
            window.Timer1_Timer();

            const TrendState& st = window.trend();
            auto store = openRecordStore(f.context.databasePath);
            const int32_t newest = store->readPointer()->first;
            const auto records = store->selectWindow(newest - st.Win_Count, newest, st.Win_Count);
            QVERIFY(records && int(records->size()) == st.Win_Count);
            for (int slot = 1; slot <= st.Win_Count; ++slot) {
                const StoredRecord& r = (*records)[slot - 1];
                QVERIFY2(st.Trend_Value[0][slot] == r.values[0] && st.Trend_Time[slot] == r.time,
                         qPrintable(QStringLiteral("level %1, slot %2: %3 on the chart, %4 recorded")
                                        .arg(level)
                                        .arg(slot)
                                        .arg(st.Trend_Value[0][slot])
                                        .arg(r.values[0])));
            }
        }
    }

    // A double-click on a scale label opens the editor; a good entry sets the scale and
    // closes it, a refused one keeps it open and changes nothing.
    void yScaleEditor() {
        Fixture f(300);
        ssqx window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QList<QWidget*> editor{window.Label9, window.Label10, window.YKD, window.YKD1,
                                     window.Command26};
        for (QWidget* w : editor)
            QVERIFY(!w->isVisible());
        QCOMPARE(window.YKD->accessibleName(), QString::fromUtf16(u"Y最大"));
        QCOMPARE(window.YKD1->accessibleName(), QString::fromUtf16(u"Y最小"));
        QTest::mouseDClick(window.Label5[3], Qt::LeftButton);
        for (QWidget* w : editor)
            QVERIFY(w->isVisible());

        window.YKD->setText(QStringLiteral("36001"));
        window.YKD1->setText(QStringLiteral("0"));
        window.Command26->click();
        QCOMPARE(Y_Min, int16_t(0));
        QCOMPARE(Y_Span, int16_t(1500));
        QVERIFY(window.YKD->isVisible());

        window.YKD->setText(QStringLiteral("100"));
        window.YKD1->setText(QStringLiteral("-50"));
        window.Command26->click();
        QCOMPARE(Y_Min, int16_t(-50));
        QCOMPARE(Y_Span, int16_t(150));
        for (QWidget* w : editor)
            QVERIFY(!w->isVisible());
        window.Timer1_Timer();
        QStringList labels;
        for (QLabel* l : window.Label5)
            labels << l->text();
        QCOMPARE(labels, QStringList({"-50", "-25", "0", "25", "50", "75", "100"}));
        // Reopened, the boxes keep what they held.
        QTest::mouseDClick(window.Label5[0], Qt::LeftButton);
        QCOMPARE(window.YKD->text(), QStringLiteral("100"));
    }

    // The database is created after the program started (the README's own way): the status
    // line says history cannot be read, and 5 s after it exists history reads it.
    void historyComesBackWhenTheDatabaseAppears() {
        TestClock clock;
        Fixture f(0, false);
        ssqx window(f.context);
        window.updateStatusLine();
        QVERIFY2(window.statusChart->text().contains(QString::fromUtf16(u"无法读取")),
                 qPrintable(window.statusChart->text()));
        QVERIFY(window.statusChart->styleSheet().contains("255,200,200"));

        QString error;
        QVERIFY2(createRecordDatabase(f.context.databasePath, false, &error), qPrintable(error));
        f.fill(500);
        clock.at = clock.at.addSecs(5);
        window.updateStatusLine();
        QVERIFY2(window.statusChart->text().isEmpty(), qPrintable(window.statusChart->text()));
        // The next full growth band reloads the newest records, and paging reads them.
        for (int i = 0; i < 20; ++i) {
            recordSample(window, 1, 1, appClock().now());
            window.Timer1_Timer();
        }
        QCOMPARE(window.trend().Ring_Pos, 500);
        window.Command8_Click();
        QCOMPARE(window.trend().Trend_Value[0][1], float(120 % 100)); // page 1: ring slots 120..440
        QCOMPARE(window.trend().Trend_Value[0][321], float(440 % 100));
    }

    // F3 writes the chart as shown into the database's folder, named by the time, and the
    // status line says where; a folder that cannot be written is told there too.
    void printWritesAPdfBesideTheDatabase() {
        TestClock clock;
        Fixture f(300);
        ssqx window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_F3);
        const QString path = QDir(f.dir.path()).filePath("trend-2026-12-08-14-03-22.pdf");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray pdf = file.readAll();
        QVERIFY(pdf.startsWith("%PDF-"));
        QCOMPARE(QString::fromLatin1(pdf).count(QRegularExpression("/Type\\s*/Page\\b")), 1);
        QVERIFY2(window.statusChart->text().contains(path), qPrintable(window.statusChart->text()));

        f.context.databasePath = f.dir.filePath("gone/Rdatabj.db");
        window.Command2_Click();
        QVERIFY2(window.statusChart->text().contains(QString::fromUtf16(u"打印失败")),
                 qPrintable(window.statusChart->text()));
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
