// Every row the program records is a measurement. The whole program against the simulator: a
// silent instrument, "关闭" and a wrong module address each stop the recording (no repeated
// or made-up row), the value labels show their values as stale, and recording resumes when
// answers come back, the records' times showing the outage.
#include "ProgramHarness.h"

#include "logging/mscom.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <sqlite3.h>

using namespace hx;
using namespace hx::test;

namespace {

// Seconds between consecutive records, oldest first.
QList<int> gapsBetweenRecords(const QString& path) {
    QList<int> gaps;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(
            db, "select cast(round((w_date + w_time) * 86400) as integer) from pv_data order by w_id", -1,
            &st, nullptr);
        qint64 previous = -1;
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            const qint64 second = sqlite3_column_int64(st, 0);
            if (previous >= 0) gaps << int(second - previous);
            previous = second;
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return gaps;
}

} // namespace

class MeasuredRecordsTest : public QObject {
    Q_OBJECT

  private slots:
    void onlyMeasurementsAreRecorded() {
        ProgramHarness program;
        QVERIFY2(program.start(), qPrintable(program.why()));
        ssqx& window = program.window();
        const auto committed = [&] { return program.app().recorder()->status().recordsCommitted; };
        QTRY_VERIFY_WITH_TIMEOUT(committed() >= 2, 5000);

        // Each outage: once a record already due has taken the last answer, nothing more is
        // stored; the labels go grey after 3 s without an answer; answers back, records back.
        const auto outage = [&](const char* what, const std::function<void()>& start,
                                const std::function<void()>& end) {
            start();
            QTest::qWait(1500);
            const quint64 before = committed();
            QTest::qWait(3000);
            QVERIFY2(committed() == before, what);
            window.updateStatusLine();
            QVERIFY2(window.statusRecording->text().contains(QString::fromUtf16(u"记录暂停")),
                     qPrintable(window.statusRecording->text()));
            QVERIFY2(window.D_3W[0]->styleSheet().contains("gray"), what);
            end();
            QTRY_VERIFY_WITH_TIMEOUT(committed() >= before + 2, 4000);
            QVERIFY(!window.D_3W[0]->styleSheet().contains("gray"));
        };
        outage(
            "silent instrument", [&] { QVERIFY(program.command("silent on")); },
            [&] { QVERIFY(program.command("silent off")); });
        outage(
            "port closed", [&] { window.Command10->click(); }, [&] { window.Command9->click(); });
        outage(
            "wrong module address",
            [&] {
                window.Command10->click();
                window.Combo2->setCurrentIndex(4); // address 5: nobody answers
                window.Command9->click();
            },
            [&] {
                window.Combo2->setCurrentIndex(0);
                window.Command9->click();
            });

        QString slot;
        QVERIFY2(program.recordsAreSane(&slot), qPrintable("a record holds a value never measured: " + slot));
        // Three outages of at least 3 s show as three jumps in the records' times.
        const QList<int> gaps = gapsBetweenRecords(program.databasePath());
        QVERIFY(!gaps.contains(0));
        QCOMPARE(std::count_if(gaps.begin(), gaps.end(), [](int g) { return g >= 4; }), 3);
    }
};

QTEST_MAIN(MeasuredRecordsTest)
#include "test_measured_records.moc"
