// hx5800-initdb run as the installer runs it: what it creates, what it refuses to touch.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "LoggingTestSupport.h"
#include "logging/RecordStore.h"
#include "logging/RecorderLock.h"

using namespace hx;
using namespace hx::testing;

class TestInitDb : public QObject {
    Q_OBJECT

  private slots:
    void run_data();
    void run();
};

void TestInitDb::run_data() {
    QTest::addColumn<QString>("before");        // what lies at the target path beforehand
    QTest::addColumn<QStringList>("arguments"); // "@" stands for the target path
    QTest::addColumn<bool>("pathFromEnvironment");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("freshDatabaseAfter");
    QTest::addColumn<QString>("message");

    QTest::newRow("new file in a new folder")
        << "nothing" << QStringList{"@"} << false << 0 << true << "created";
    QTest::newRow("default path from HX5800_DB")
        << "nothing" << QStringList{} << true << 0 << true << "created";
    QTest::newRow("existing database is refused")
        << "recording" << QStringList{"@"} << false << 1 << false << "already exists";
    QTest::newRow("any existing file is refused")
        << "text" << QStringList{"@"} << false << 1 << false << "already exists";
    QTest::newRow("--force recreates a database with records")
        << "recording" << QStringList{"--force", "@"} << false << 0 << true << "created";
    QTest::newRow("--force is refused while a program records there")
        << "recording, lock held" << QStringList{"--force", "@"} << false << 1 << false << "records into";
    QTest::newRow("--force after the path")
        << "text" << QStringList{"@", "--force"} << false << 0 << true << "created";
    QTest::newRow("a folder is refused even with --force")
        << "folder" << QStringList{"--force", "@"} << false << 1 << false << "folder";
    QTest::newRow("--help creates nothing")
        << "nothing" << QStringList{"--help"} << true << 0 << false << "Usage";
    QTest::newRow("unknown option") << "nothing" << QStringList{"--fast", "@"} << false << 2 << false
                                    << "unexpected argument";
    QTest::newRow("two paths") << "nothing" << QStringList{"@", "@"} << false << 2 << false
                               << "unexpected argument";
}

void TestInitDb::run() {
    QFETCH(QString, before);
    QFETCH(QStringList, arguments);
    QFETCH(bool, pathFromEnvironment);
    QFETCH(int, exitCode);
    QFETCH(bool, freshDatabaseAfter);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const QString path = dir.filePath("Trendlog/sub/Rdatabj.db");
    QByteArray contentBefore;
    RecorderLock recorder(path); // taken below as a running program takes it
    if (before.startsWith("recording")) {
        QVERIFY(QDir().mkpath(dir.filePath("Trendlog/sub")));
        QString error;
        QVERIFY2(createRecordDatabase(path, false, &error), qPrintable(error));
        Db db(path);
        QVERIFY(db.fillRing(100, 60, QDateTime(QDate(2024, 3, 14), QTime(9, 0))));
        QVERIFY(db.exec("pragma wal_checkpoint(truncate)"));
        if (before.endsWith("lock held")) QVERIFY(recorder.tryTake());
    } else if (before == "text") {
        QVERIFY(QDir().mkpath(dir.filePath("Trendlog/sub")));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("notes of the operator\n");
    } else if (before == "folder") {
        QVERIFY(QDir().mkpath(path));
    }
    if (before != "folder" && QFile::exists(path)) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        contentBefore = f.readAll();
    }

    QProcess initdb;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (pathFromEnvironment)
        environment.insert("HX5800_DB", path);
    else
        environment.remove("HX5800_DB");
    initdb.setProcessEnvironment(environment);
    arguments.replaceInStrings(QRegularExpression("^@$"), path);
    initdb.start(QStringLiteral(INITDB_PATH), arguments);
    QVERIFY(initdb.waitForFinished(10000));
    const QString output =
        QString::fromLocal8Bit(initdb.readAllStandardOutput() + initdb.readAllStandardError());
    QCOMPARE(initdb.exitStatus(), QProcess::NormalExit);
    QCOMPARE(initdb.exitCode(), exitCode);
    QVERIFY2(output.contains(message), qPrintable(output));

    if (freshDatabaseAfter) {
        auto store = openRecordStore(path);
        QVERIFY2(store->isOpen(), qPrintable(store->lastError()));
        QCOMPARE(store->readPointer(), std::make_optional(std::make_pair(0, 0)));
        QCOMPARE(store->hasSlot(1), false);
        Db db(path);
        QCOMPARE(db.rows("pragma journal_mode").value(0).value(0), QString("wal"));
        QCOMPARE(db.integer("select count(*) from sl_void"), 1);
        QCOMPARE(db.integer("select count(*) from pragma_table_info('pv_data')"), 13);
        QCOMPARE(db.rows("select name from pragma_table_info('pv_data') where cid < 3"),
                 (QList<QStringList>{{"w_id"}, {"w_date"}, {"w_time"}}));
        QCOMPARE(db.integer("select pk from pragma_table_info('pv_data') where name = 'w_id'"), 1);
    } else if (before == "nothing") {
        QVERIFY(!QFile::exists(path));
    } else if (before != "folder") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), contentBefore);
    }
}

QTEST_GUILESS_MAIN(TestInitDb)
#include "test_initdb.moc"
