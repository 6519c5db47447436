// Killing the recorder at random moments never costs an acknowledged record and never leaves
// the pointer naming anything but the newest record.
#include <csignal>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "LoggingTestSupport.h"
#include "logging/RecordStore.h"
#include "support/ChildSignal.h"

using namespace hx;
using namespace hx::testing;

namespace {

struct Acknowledged {
    double date = 0;
    double time = 0;
    QList<float> values;
};

QHash<int, Acknowledged> storedRecords(Db& db) {
    QHash<int, Acknowledged> records;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db.handle(), "select * from pv_data", -1, &statement, nullptr) != SQLITE_OK)
        return records;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        Acknowledged a;
        a.date = sqlite3_column_double(statement, 1);
        a.time = sqlite3_column_double(statement, 2);
        for (int c = 0; c < 10; ++c)
            a.values << float(sqlite3_column_double(statement, 3 + c));
        records.insert(sqlite3_column_int(statement, 0), a);
    }
    sqlite3_finalize(statement);
    return records;
}

} // namespace

class TestCrashSafety : public QObject {
    Q_OBJECT

  private slots:
    void killedRecorderKeepsEveryAcknowledgedRecord();
};

void TestCrashSafety::killedRecorderKeepsEveryAcknowledgedRecord() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    QHash<int, Acknowledged> acknowledged; // slot -> the last record acknowledged there
    QRandomGenerator random(20241208);
    const qint64 start = qint64(dayNumberOf(QDate(2024, 3, 14))) * 86400 + 8 * 3600;
    const int runs = 60;
    int killedBeforeAnyRecord = 0;
    int lastSlot = 0;
    int committedUnacknowledged = 0;
    bool wrapped = false;
    QElapsedTimer budget;
    budget.start();

    // A full ring whose pointer is near the end, so the runs go round the wrap; its records
    // are older than anything the children write.
    {
        Db db(path);
        QVERIFY(db.fillRing(kRingSize, kRingSize - 1500, QDateTime(QDate(2024, 3, 13), QTime(8, 0))));
    }
    qint64 previousPointer = kRingSize - 1500;

    for (int run = 0; run < runs; ++run) {
        const qint64 pointerBefore = previousPointer;
        // The acknowledgements go to a file, not a pipe: what the child wrote before it died is
        // all there, however the kill and the reading interleave.
        const QString acknowledgements = dir.filePath(QStringLiteral("run%1.out").arg(run));
        QProcess child;
        child.setProgram(QStringLiteral(CRASH_WRITER_PATH));
        // Every run starts at a later instant than any record before it.
        child.setArguments({path, QString::number(start + qint64(run) * 1000000)});
        child.setStandardOutputFile(acknowledgements);
        child.start();
        QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
        // Most kills land while records are being written; every fifth one possibly before.
        if (run % 5 != 0)
            QTRY_VERIFY_WITH_TIMEOUT(
                QFileInfo(acknowledgements).size() > 0 || child.state() != QProcess::Running, 10000);
        QThread::msleep(random.bounded(0, 200));
        hx::test::signalChild(child, SIGKILL);
        QVERIFY(child.waitForFinished(5000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        QFile output(acknowledgements);
        QVERIFY(output.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = output.readAll().split('\n');
        int acknowledgedThisRun = 0;
        for (const QByteArray& line : lines) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 13) continue; // the empty tail, or a line cut by the kill
            Acknowledged a;
            a.date = fields[1].toDouble();
            a.time = fields[2].toDouble();
            for (int c = 0; c < 10; ++c)
                a.values << fields[3 + c].toFloat();
            lastSlot = fields[0].toInt();
            acknowledged.insert(lastSlot, a);
            ++acknowledgedThisRun;
        }
        if (acknowledgedThisRun == 0) ++killedBeforeAnyRecord;

        Db db(path);
        QVERIFY(db.ok());
        QCOMPARE(db.rows("pragma integrity_check").value(0).value(0), QString("ok"));
        const auto pointer = db.pointer();
        QVERIFY(pointer);
        QCOMPARE(db.integer("select p1 from sl_void"), pointer);
        // The pointer names the newest record: the acknowledged one, or the one whose commit
        // finished just before the kill and was not yet printed.
        const auto newest = db.rows("select w_id from pv_data order by w_date desc, w_time desc limit 1");
        QCOMPARE(newest.value(0).value(0).toLongLong(), *pointer);
        // The newest record this run acknowledged, or the pointer the run started from.
        const qint64 reference = acknowledgedThisRun > 0 ? lastSlot : previousPointer;
        const qint64 next = reference >= kRingSize ? 1 : reference + 1;
        if (*pointer == next) ++committedUnacknowledged;
        QVERIFY2(*pointer == reference || *pointer == next,
                 qPrintable(QString("run %1: pointer %2 after %3 (%4 records acknowledged this run)")
                                .arg(run)
                                .arg(*pointer)
                                .arg(reference)
                                .arg(acknowledgedThisRun)));
        previousPointer = *pointer;
        QCOMPARE(db.rowCount(), qint64(kRingSize));

        // Every acknowledged record, also those of earlier runs, with its values.
        const QHash<int, Acknowledged> stored = storedRecords(db);
        for (auto it = acknowledged.cbegin(); it != acknowledged.cend(); ++it) {
            const auto found = stored.constFind(it.key());
            QVERIFY2(found != stored.cend(),
                     qPrintable(QString("acknowledged slot %1 is missing").arg(it.key())));
            QCOMPARE(found->date, it->date);
            QCOMPARE(found->time, it->time);
            QCOMPARE(found->values, it->values);
        }
        if (*pointer < pointerBefore) wrapped = true;
    }
    qInfo("%d kills, %lld slots acknowledged (ring %s), %d kills before the first record, %d between a "
          "commit and "
          "its acknowledgement, %lld ms",
          runs, qint64(acknowledged.size()), wrapped ? "wrapped" : "did not wrap", killedBeforeAnyRecord,
          committedUnacknowledged, budget.elapsed());
    QVERIFY2(acknowledged.size() > runs, "the children recorded almost nothing; the test proves little");
    QVERIFY2(wrapped, "the runs never went round the end of the ring");
}

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "test_crash_safety.moc"
