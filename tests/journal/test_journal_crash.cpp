// A journal killed with SIGKILL while it writes keeps every event whose write had returned,
// and its file stays whole: the child prints each event after record() returned, the test
// kills it at random moments and looks for every printed event in the file.
#include "journal/EventJournal.h"
#include "support/ChildSignal.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <sqlite3.h>

#include <map>

using namespace hx;

class TestJournalCrash : public QObject {
    Q_OBJECT
  private slots:
    void killedWriterKeepsEveryEventWhoseWriteReturned();
};

void TestJournalCrash::killedWriterKeepsEveryEventWhoseWriteReturned() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Events.db");
    std::map<int64_t, QString> acknowledged;
    int runsWithEvents = 0;
    for (int run = 0; run < 20; ++run) {
        const QString printed = dir.filePath(QStringLiteral("printed-%1").arg(run));
        QProcess child;
        child.setStandardOutputFile(printed);
        child.start(CRASH_WRITER_PATH, {path, QString::number(run)});
        QVERIFY(child.waitForStarted());
        QTest::qWait(50 + int(QRandomGenerator::global()->bounded(400)));
        hx::test::signalChild(child, SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        QFile file(printed);
        QVERIFY(file.open(QIODevice::ReadOnly));
        int lines = 0;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const qsizetype blank = line.indexOf(' ');
            if (blank < 0 || !line.contains(" event ")) continue; // the tail cut by the kill
            acknowledged[line.left(blank).toLongLong()] = QString::fromUtf8(line.mid(blank + 1));
            ++lines;
        }
        if (lines > 0) ++runsWithEvents;

        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "pragma integrity_check", -1, &st, nullptr);
        QCOMPARE(sqlite3_step(st), SQLITE_ROW);
        QCOMPARE(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))),
                 QStringLiteral("ok"));
        sqlite3_finalize(st);
        sqlite3_prepare_v2(db, "select id, text from events", -1, &st, nullptr);
        std::map<int64_t, QString> stored;
        while (sqlite3_step(st) == SQLITE_ROW)
            stored[sqlite3_column_int64(st, 0)] =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        sqlite3_finalize(st);
        sqlite3_close(db);
        for (const auto& [id, text] : acknowledged)
            QVERIFY2(stored.count(id) && stored[id] == text,
                     qPrintable(QStringLiteral("lost %1 %2").arg(id).arg(text)));
    }
    qInfo("%d runs wrote events, %zu events acknowledged, none lost", runsWithEvents, acknowledged.size());
    QVERIFY(runsWithEvents >= 10);
}

QTEST_GUILESS_MAIN(TestJournalCrash)
#include "test_journal_crash.moc"
