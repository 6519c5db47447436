// Killing the recorder at random moments never costs an acknowledged record and never leaves
// the pointer naming anything but the newest record.
#include <csignal>

#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "LoggingTestSupport.h"

using namespace hx;
using namespace hx::testing;

namespace {

struct Acknowledged {
    double date = 0;
    double time = 0;
    QList<float> values;
};

} // namespace

class TestCrashSafety : public QObject {
    Q_OBJECT

private slots:
    void killedRecorderKeepsEveryAcknowledgedRecord();
};

void TestCrashSafety::killedRecorderKeepsEveryAcknowledgedRecord()
{
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    QHash<int, Acknowledged> acknowledged; // slot -> the last record acknowledged there
    QRandomGenerator random(20241208);
    const qint64 start = qint64(dayNumberOf(QDate(2024, 3, 14))) * 86400 + 8 * 3600;
    const int runs = 60;
    int killedBeforeAnyRecord = 0;
    int lastSlot = 0;
    int committedUnacknowledged = 0;
    QElapsedTimer budget;
    budget.start();

    for (int run = 0; run < runs; ++run) {
        QProcess child;
        child.setProgram(QStringLiteral(CRASH_WRITER_PATH));
        // Every run starts at a later instant than any record before it.
        child.setArguments({path, QString::number(start + qint64(run) * 1000000)});
        child.start();
        QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
        // Most kills land while records are being written; every fifth one possibly before.
        if (run % 5 != 0)
            QVERIFY2(child.waitForReadyRead(10000), qPrintable(child.readAllStandardError()));
        QThread::msleep(random.bounded(0, 250));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(5000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
        int acknowledgedThisRun = 0;
        for (const QByteArray& line : lines) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 13)
                continue; // the empty tail, or a line cut by the kill
            Acknowledged a;
            a.date = fields[1].toDouble();
            a.time = fields[2].toDouble();
            for (int c = 0; c < 10; ++c)
                a.values << fields[3 + c].toFloat();
            lastSlot = fields[0].toInt();
            acknowledged.insert(lastSlot, a);
            ++acknowledgedThisRun;
        }
        if (acknowledgedThisRun == 0)
            ++killedBeforeAnyRecord;

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
        if (*pointer == lastSlot + 1)
            ++committedUnacknowledged;
        if (!acknowledged.isEmpty())
            QVERIFY2(*pointer == lastSlot || *pointer == lastSlot + 1,
                     qPrintable(QString("pointer %1 after acknowledged slot %2").arg(*pointer).arg(lastSlot)));
        QCOMPARE(db.rowCount(), qint64(*pointer)); // no wrap in this test: slots 1..pointer

        QHash<int, QStringList> stored;
        for (const QStringList& row : db.rows("select * from pv_data"))
            stored.insert(row[0].toInt(), row);
        for (auto it = acknowledged.cbegin(); it != acknowledged.cend(); ++it) {
            const QStringList row = stored.value(it.key());
            QVERIFY2(!row.isEmpty(), qPrintable(QString("acknowledged slot %1 is missing").arg(it.key())));
            QCOMPARE(row[1].toDouble(), it->date);
            QCOMPARE(row[2].toDouble(), it->time);
            for (int c = 0; c < 10; ++c)
                QCOMPARE(row[3 + c].toFloat(), it->values[c]);
        }
    }
    qInfo("%d kills, %lld acknowledged records, %d kills before the first record, %d between a commit and "
          "its acknowledgement, %lld ms",
          runs, qint64(acknowledged.size()), killedBeforeAnyRecord, committedUnacknowledged, budget.elapsed());
    QVERIFY2(acknowledged.size() > runs, "the children recorded almost nothing; the test proves little");
}

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
