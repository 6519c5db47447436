// The whole program against a faulty recording database: missing at start and created later,
// read-only, locked by another writer for 10 s, the disk full, the file replaced by garbage.
// For each: no crash, no long stall of the window thread, the status line tells, and
// recording resumes by itself once the fault is gone.
#include "ProgramHarness.h"

#include "core/SharedState.h"
#include "logging/DatabaseSetup.h"
#include "logging/LoggingTestSupport.h"
#include "logging/mscom.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSaveFile>
#include <QtTest>

#include <sqlite3.h>

#include <optional>

using namespace hx;
using namespace hx::test;

namespace {

constexpr qint64 kLongestStallMs = 300;
// The recorder looks for a database that was unusable again every 5 s.
constexpr int kResumeMs = 8000;

// A small file system of its own, so that the disk can be filled without touching the machine's.
class SmallDisk {
  public:
    SmallDisk() {
        mounted_ = QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=4m", "tmpfs", dir_.path()}) == 0;
    }
    ~SmallDisk() {
        if (mounted_) QProcess::execute("umount", {"-l", dir_.path()});
    }
    bool mounted() const { return mounted_; }
    QString path() const { return dir_.path(); }
    // Fills what is left; removing the filler frees it again.
    void fill() {
        QFile filler(dir_.filePath("filler"));
        if (!filler.open(QIODevice::WriteOnly)) return;
        const QByteArray block(64 * 1024, 'f');
        while (filler.write(block) == block.size()) {
        }
    }
    void free() { QFile::remove(dir_.filePath("filler")); }

  private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

QString recordingLine(ProgramHarness& program) {
    program.window().updateStatusLine();
    return program.window().statusRecording->text();
}

} // namespace

class DatabaseFaultsTest : public QObject {
    Q_OBJECT

  private slots:
    void recordingComesBackByItself_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("told"); // in the recording part of the status line
        QTest::newRow("missing at start, created later") << "missing" << u8"数据库不可用";
        QTest::newRow("read-only") << "read-only" << u8"数据库不可用";
        QTest::newRow("locked by another writer for 10 s") << "locked" << u8"写入失败";
        QTest::newRow("disk full") << "full" << u8"写入失败";
        QTest::newRow("file replaced by garbage") << "garbage" << u8"数据库不可用";
    }
    void recordingComesBackByItself() {
        QFETCH(QString, fault);
        QFETCH(QString, told);
        std::unique_ptr<SmallDisk> disk;
        if (fault == "full") {
            disk = std::make_unique<SmallDisk>();
            if (!disk->mounted()) QSKIP("cannot mount a small file system here");
        }
        ProgramHarness program({"--static"}, fault != "missing", disk ? disk->path() : QString());
        const QString db = program.databasePath();
        std::optional<testing::ReadOnlyFile> readOnly;
        if (fault == "read-only") {
            QString error;
            QVERIFY2(createRecordDatabase(db, false, &error), qPrintable(error));
            readOnly.emplace(db);
            if (!readOnly->active()) QSKIP("cannot make the file read-only here");
        }
        QVERIFY2(program.start(), qPrintable(program.why()));
        mscom& recorder = *program.app().recorder();

        sqlite3* holder = nullptr;
        if (fault == "locked") {
            QTRY_VERIFY_WITH_TIMEOUT(recorder.status().recordsCommitted > 0, 5000);
            QCOMPARE(sqlite3_open(db.toUtf8().constData(), &holder), SQLITE_OK);
            QCOMPARE(sqlite3_exec(holder, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
        } else if (fault == "full") {
            QTRY_VERIFY_WITH_TIMEOUT(recorder.status().recordsCommitted > 0, 5000);
            disk->fill();
        } else if (fault == "garbage") {
            QTRY_VERIFY_WITH_TIMEOUT(recorder.status().recordsCommitted > 0, 5000);
            QSaveFile garbage(db);
            QVERIFY(garbage.open(QIODevice::WriteOnly));
            garbage.write(QByteArray(8192, 'x'));
            QVERIFY(garbage.commit()); // replaces the file, as another program would
        }
        // The fault lasts 10 s; the program goes on.
        QTest::qWait(fault == "full" ? 12000 : 10000);
        const QString during = recordingLine(program);
        const quint64 committedDuring = recorder.status().recordsCommitted;
        QVERIFY2(during.contains(told) && during.contains(u8"测量值未存储"), qPrintable(during));
        const TrendState& chart = program.window().trend(); // the live chart went on all along
        QTRY_COMPARE(chart.Trend_Time[size_t(chart.Win_Count)], Last_Time);

        // The fault goes away.
        if (fault == "missing") {
            QString error;
            QVERIFY2(createRecordDatabase(db, false, &error), qPrintable(error));
        } else if (fault == "read-only") {
            readOnly.reset();
        } else if (fault == "locked") {
            sqlite3_exec(holder, "rollback", nullptr, nullptr, nullptr);
            sqlite3_close(holder);
        } else if (fault == "full") {
            disk->free();
        } else if (fault == "garbage") {
            QFile::remove(db);
            QString error;
            QVERIFY2(createRecordDatabase(db, false, &error), qPrintable(error));
        }
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.status().recordsCommitted >= committedDuring + 2, kResumeMs);
        const qint64 resumeMs = clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(!recordingLine(program).contains(told), 3000);
        const qint64 stallMs = program.heartbeat().longestStallMs();
        qInfo("%s: longest stall %lld ms, recording resumed after %lld ms", QTest::currentDataTag(), stallMs,
              resumeMs);
        QVERIFY2(stallMs < kLongestStallMs, qPrintable(QString::number(stallMs)));
    }
};

QTEST_MAIN(DatabaseFaultsTest)
#include "test_database_faults.moc"
