// The factory record window: the labels of both grids in their cells, each shown whole
// inside the window, the values each refresh shows, its reads and yields, closing or ticking
// in the middle of a refresh, and the 0-5 V command.
#include "core/Clock.h"
#include "core/SharedState.h"
#include "factory/FACTR.h"
#include "fakes/FakeLink.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QtTest>

using namespace hx;
using hx::test::FakeLink;

namespace {

class FixedClock : public Clock {
  public:
    ClockReading now() const override { return readingOf(QDateTime(QDate(2001, 3, 3), QTime(18, 42, 0))); }
};

// Counts the events posted to it: each one delivered marks a yield to the message loop.
class YieldProbe : public QObject {
  public:
    QStringList* log = nullptr;
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        *log << QStringLiteral("yield");
        return true;
    }
};

struct Fixture {
    FixedClock clock;
    FakeLink link;
    WriteLog writes;
    FactoryTables tables;
    QWidget mainWindow;
    QPointer<FACTR> window;

    Fixture() {
        resetSharedState();
        setAppClock(&clock);
        Com_Param[0] = 2;
        Com_Param[3] = 5;
        mainWindow.show();
        window = openSecondaryWindow<FACTR>(
            &mainWindow, window, [this](QWidget* main) { return new FACTR(link, &writes, tables, main); });
        window->Timer1->stop(); // the tests refresh by hand
    }
    ~Fixture() {
        delete window.data();
        setAppClock(nullptr);
    }

    QString cell(QTableWidget* grid, int row, int column) const {
        QTableWidgetItem* item = grid->item(row, column);
        return item ? item->text() : QStringLiteral("<no cell>");
    }
    QString value(bool calibration, int item) const {
        const ItemCell at = itemCell(item);
        return cell(calibration ? window->Flxg1 : window->Flxg, at.row, at.valueColumn);
    }
    QStringList writesSent() const { return link.calls.filter(QStringLiteral("Set_4X_D1")); }
};

QString setCall(int reg, int value) {
    return QStringLiteral("Set_4X_D1(2,5,%1,%2)").arg(reg).arg(value);
}

} // namespace

class FactoryWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void everyLabelSitsInItsCell_data() {
        QTest::addColumn<bool>("calibration");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("label");
        auto row = [](const char* name, bool cal, int item, int r, int c, const char16_t* label) {
            QTest::newRow(name) << cal << item << r << c << QString::fromUtf16(label);
        };
        row("basic 1", false, 1, 1, 1, u"密码");
        row("basic 6 unlabelled", false, 6, 6, 1, u"");
        row("basic 24", false, 24, 24, 1, u"变送2下限");
        row("basic 25 first channel block", false, 25, 1, 3, u"CH1信号类型");
        row("basic 26", false, 26, 2, 3, u"小数点");
        row("basic 29", false, 29, 5, 3, u"OFFSET");
        row("basic 30 unlabelled", false, 30, 6, 3, u"");
        row("basic 33 second channel", false, 33, 9, 3, u"CH2信号类型");
        row("basic 49 fourth channel", false, 49, 1, 5, u"CH4信号类型");
        row("basic 83", false, 83, 11, 7, u"输入上限");
        row("basic 88", false, 88, 16, 7, u"");
        row("basic 89", false, 89, 17, 7, u"CH1报警方式");
        row("basic 96", false, 96, 24, 7, u"CH8报警方式");
        row("basic 97", false, 97, 1, 9, u"CH1报警设定值");
        row("basic 100", false, 100, 4, 9, u"CH2报警回差");
        row("basic 101 with its T", false, 101, 5, 9, u"CH3报警设定值T");
        row("basic 112", false, 112, 16, 9, u"CH8报警回差");
        row("basic 113 without register", false, 113, 17, 9, u"CH8报警方式");
        row("basic 114", false, 114, 18, 9, u"");
        row("basic 120", false, 120, 24, 9, u"");
        row("calibration 1", true, 1, 1, 1, u"校准DA标志");
        row("calibration 4 unlabelled", true, 4, 4, 1, u"");
        row("calibration 7", true, 7, 7, 1, u"校准后冷端");
        row("calibration 9", true, 9, 9, 1, u"CH1-5V比例校准");
        row("calibration 24", true, 24, 24, 1, u"CH3-MV满度校准");
        row("calibration 25", true, 25, 1, 3, u"CH3-电阻零点校准");
        row("calibration 56", true, 56, 8, 5, u"CH8-电阻满度校准");
        row("calibration 57", true, 57, 9, 5, u"");
        row("calibration 72", true, 72, 24, 5, u"");
    }
    void everyLabelSitsInItsCell() {
        QFETCH(bool, calibration);
        QFETCH(int, item);
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, label);
        Fixture f;
        QTableWidget* grid = calibration ? f.window->Flxg1 : f.window->Flxg;
        QCOMPARE(itemCell(item).row, row);
        QCOMPARE(itemCell(item).labelColumn, column);
        QCOMPARE(f.cell(grid, row, column), label);
        QCOMPARE(f.cell(grid, row, column + 1), QString()); // value empty until the first tick
        QCOMPARE(f.cell(grid, row, 0), QString::number(row));
    }

    void gridsHaveTheirShape() {
        Fixture f;
        for (auto [grid, columns] : {std::pair{f.window->Flxg, 11}, std::pair{f.window->Flxg1, 7}}) {
            QCOMPARE(grid->rowCount(), 25);
            QCOMPARE(grid->columnCount(), columns);
            QCOMPARE(f.cell(grid, 0, 0), QString::fromUtf16(u"编号 "));
            QCOMPARE(f.cell(grid, 0, 1), QString::fromUtf16(u"功能"));
            for (int column = 2; column < columns; ++column)
                QCOMPARE(f.cell(grid, 0, column), QString());
        }
        QCOMPARE(f.window->windowTitle(), QString::fromUtf16(u"HX5800出厂记录保存"));
        QCOMPARE(f.window->Label2_9->text(), QStringLiteral("2001-03-12"));
    }

    void everyLabelShowsWholeAndBothGridsLieInsideTheWindow() {
        Fixture f;
        for (QTableWidget* grid : {f.window->Flxg, f.window->Flxg1}) {
            // What a cell keeps beside its text: the style's margin on either side, the grid line.
            const int margin = grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
            const QFontMetrics metrics(grid->font());
            int labels = 0;
            for (int row = 0; row < grid->rowCount(); ++row) {
                for (int column = 0; column < grid->columnCount(); ++column) {
                    const QTableWidgetItem* item = grid->item(row, column);
                    if (!item || item->text().isEmpty()) continue; // values are empty until the first tick
                    ++labels;
                    const int needed = metrics.horizontalAdvance(item->text()) + 2 * margin + 1;
                    QVERIFY2(needed <= grid->columnWidth(column),
                             qPrintable(QStringLiteral("%1 row %2 column %3: \"%4\" needs %5 px, has %6")
                                            .arg(grid->objectName())
                                            .arg(row)
                                            .arg(column)
                                            .arg(item->text())
                                            .arg(needed)
                                            .arg(grid->columnWidth(column))));
                    // An item's label also shows whole as its tooltip.
                    if (row > 0 && column % 2 == 1) QCOMPARE(item->toolTip(), item->text());
                }
            }
            QVERIFY(labels > 2 * 24); // the row numbers and the labels were all looked at

            // Every column inside the grid, the grid inside the window, beside the other grid.
            int columns = 0;
            for (int column = 0; column < grid->columnCount(); ++column)
                columns += grid->columnWidth(column);
            QVERIFY2(columns <= grid->viewport()->width(),
                     qPrintable(QStringLiteral("%1: columns %2 px, room %3")
                                    .arg(grid->objectName())
                                    .arg(columns)
                                    .arg(grid->viewport()->width())));
            QVERIFY2(f.window->rect().contains(grid->geometry()),
                     qPrintable(QStringLiteral("%1 at %2,%3 %4x%5 in a window of %6x%7")
                                    .arg(grid->objectName())
                                    .arg(grid->x())
                                    .arg(grid->y())
                                    .arg(grid->width())
                                    .arg(grid->height())
                                    .arg(f.window->width())
                                    .arg(f.window->height())));
        }
        QVERIFY(!f.window->Flxg->geometry().intersects(f.window->Flxg1->geometry()));
    }

    void theRefreshShowsPlainNumbers_data() {
        QTest::addColumn<bool>("calibration");
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("shown");
        QTest::newRow("password without leading zeros") << false << 1 << "7";
        QTest::newRow("unlabelled 6 is 4102") << false << 6 << "-61";
        QTest::newRow("unlabelled 8 is 4104") << false << 8 << "4104";
        QTest::newRow("unlabelled 30 is 4126") << false << 30 << "4126";
        QTest::newRow("unlabelled 32 is 4128") << false << 32 << "4128";
        QTest::newRow("last configuration register") << false << 96 << "4192";
        QTest::newRow("alarm setpoint, negative") << false << 97 << "-1999";
        QTest::newRow("alarm hysteresis 272") << false << 112 << "272";
        QTest::newRow("item 113 has no register: no false 0") << false << 113 << "";
        QTest::newRow("item 120 has no register") << false << 120 << "0";
        QTest::newRow("first calibration value") << true << 1 << "-24577";
        QTest::newRow("last calibration value") << true << 56 << "24632";
        QTest::newRow("calibration item 57 has no register") << true << 57 << "0";
        QTest::newRow("calibration item 72 has no register") << true << 72 << "0";
    }
    void theRefreshShowsPlainNumbers() {
        QFETCH(bool, calibration);
        QFETCH(int, item);
        QFETCH(QString, shown);
        Fixture f;
        // Every register holds its own number, so a value in the wrong cell shows; the
        // registers just past each block hold values that must never appear.
        for (int reg = 4097; reg <= 4192; ++reg)
            f.link.holdingRegisters[reg] = reg;
        for (int reg = 24577; reg <= 24632; ++reg)
            f.link.holdingRegisters[reg] = reg;
        for (int reg = 257; reg <= 272; ++reg)
            f.link.holdingRegisters[reg] = reg;
        for (int reg : {273, 274, 4193, 24633, 24640})
            f.link.holdingRegisters[reg] = 99;
        f.link.holdingRegisters[4097] = 7;
        f.link.holdingRegisters[4102] = -61;
        f.link.holdingRegisters[257] = -1999;
        f.link.holdingRegisters[24577] = -24577;
        f.window->Timer1_Timer();
        QCOMPARE(f.value(calibration, item), shown);
        QCOMPARE(f.window->Label2_9->text(), QStringLiteral("03-03-2001"));
        QCOMPARE(f.window->Label2_10->text(), QStringLiteral("18:42:00"));
    }

    void elevenReadsWithAYieldBetweenEach() {
        Fixture f;
        YieldProbe probe;
        probe.log = &f.link.calls;
        f.link.duringCall = [&] { QCoreApplication::postEvent(&probe, new QEvent(QEvent::User)); };
        f.window->Timer1_Timer();
        QStringList expected;
        for (int first : {4097, 4113, 4129, 4145, 4161, 4177, 257, 24577, 24593, 24609})
            expected << QStringLiteral("Get_4X_D16(2,5,%1)").arg(first) << QStringLiteral("yield");
        expected << QStringLiteral("Get_4X_D8(2,5,24625)");
        QCOMPARE(f.link.calls, expected);
        QCoreApplication::sendPostedEvents(&probe, QEvent::User); // the last read's, after the refresh
    }

    void aTickDuringARefreshPasses() {
        Fixture f;
        f.link.holdingRegisters[4097] = 9;
        bool ticked = false;
        f.link.duringCall = [&] {
            if (!ticked) QTimer::singleShot(0, f.window.data(), &FACTR::Timer1_Timer);
            ticked = true;
        };
        f.window->Timer1_Timer();
        QCOMPARE(f.link.calls.size(), 11);
        QCOMPARE(f.value(false, 1), QStringLiteral("9"));
        f.window->Timer1_Timer(); // the next tick refreshes again
        QCOMPARE(f.link.calls.size(), 22);
    }

    void closingDuringAYieldStopsTheRefresh() {
        Fixture f;
        f.link.holdingRegisters[4097] = 9;
        f.link.duringCall = [&] {
            if (f.link.calls.size() == 3) QTimer::singleShot(0, f.window.data(), &FACTR::Command1_Click);
        };
        f.window->Timer1_Timer();
        QCOMPARE(f.link.calls.size(), 3);
        QVERIFY(f.mainWindow.isVisible());
        if (f.window) // not yet destroyed: the closed window was left as it was
            QCOMPARE(f.value(false, 1), QString());
        QTRY_VERIFY(f.window.isNull());
        QCOMPARE(f.tables.Basic_Buf[1], 9); // the tables outlive the window
    }

    void fiveVoltCommand_data() {
        QTest::addColumn<bool>("answering");
        QTest::addColumn<int>("failingFirstTo");
        QTest::addColumn<QString>("shown");
        QTest::newRow("instrument answers") << true << 0 << "写入失败 0/24";
        QTest::newRow("first write to 4131 fails") << true << 4131 << "写入失败 0/24";
        QTest::newRow("silent instrument") << false << 0 << "写入失败 24/24";
    }
    void fiveVoltCommand() {
        QFETCH(bool, answering);
        QFETCH(int, failingFirstTo);
        QFETCH(QString, shown);
        Fixture f;
        f.link.answering = answering;
        if (failingFirstTo) f.link.failingWrites[failingFirstTo] = 1;
        f.window->Command2->click();

        QStringList expected;
        for (int channel = 0; channel < 8; ++channel) {
            for (auto [reg, value] : {std::pair{4121, 20}, std::pair{4123, 5000}, std::pair{4124, 0}}) {
                const QString call = setCall(reg + 8 * channel, value);
                expected << call;
                if (!answering || reg + 8 * channel == failingFirstTo) expected << call;
            }
        }
        QCOMPARE(f.writesSent(), expected);
        QCOMPARE(f.window->writeFailures->text(), shown);
        QCOMPARE(f.writes.failed, answering ? 0u : 24u);
        if (answering) {
            for (int channel = 0; channel < 8; ++channel) {
                const int base = 4121 + 8 * channel;
                QCOMPARE(f.link.holdingRegisters[base], 20);
                QCOMPARE(f.link.holdingRegisters[base + 2], 5000);
                QCOMPARE(f.link.holdingRegisters[base + 3], 0);
                // decimal point, offset and the three unnamed registers are left alone
                for (int j : {1, 4, 5, 6, 7})
                    QVERIFY(!f.link.holdingRegisters.contains(base + j));
            }
        }
    }

    void onlyTheReturnButtonCloses() {
        Fixture f;
        QVERIFY(!f.mainWindow.isVisible());
        QVERIFY(!f.window->close());
        QVERIFY(f.window->isVisible());
        f.window->Command1->click();
        QVERIFY(f.mainWindow.isVisible());
        QTRY_VERIFY(f.window.isNull());
    }
};

QTEST_MAIN(FactoryWindowTest)
#include "test_factory_window.moc"
