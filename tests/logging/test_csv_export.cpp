// The CSV export: records in time order across the ring's end and by range, as a library
// function and as the hx5800-export tool (its refusals, its read-only opening, and the
// --since-last archive job run twice over a ring that wrapped in between).
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <set>

#include "LoggingTestSupport.h"
#include "logging/CsvExport.h"
#include "logging/SqliteRecordStore.h"

using namespace hx;
using namespace hx::testing;

namespace {

const QDateTime kLatest(QDate(2024, 3, 14), QTime(10, 0, 0));

// The instant Db::fillRing gives slot s of a ring of count records whose newest is slot newest.
QDateTime instantOfSlot(int32_t s, int32_t count, int32_t newest) {
    const qint64 age = s <= newest ? newest - s : newest + (count - s);
    return kLatest.addSecs(-age);
}

// The CSV line Db::fillRing's slot s must give, built from the fill rule, not from the code.
QString lineOfSlot(int32_t s, int32_t count, int32_t newest) {
    QStringList fields{instantOfSlot(s, count, newest).toString(Qt::ISODate)};
    for (int c = 0; c < 10; ++c)
        fields << QString::number(s + c / 10.0, 'g', 10);
    return fields.join(',');
}

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun runExport(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral(EXPORT_PATH), arguments);
    ToolRun run;
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit) return run;
    run.exitCode = tool.exitCode();
    run.out = QString::fromUtf8(tool.readAllStandardOutput());
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestCsvExport : public QObject {
    Q_OBJECT

  private slots:
    void recordsInTimeOrder_data();
    void recordsInTimeOrder();
    void instantTexts_data();
    void instantTexts();
    void toolRefuses_data();
    void toolRefuses();
    void toolWritesCsvToStandardOutput();
    void toolNeitherChangesNorWaitsForTheRecording();
    void sinceLastTwiceOverAWrapLosesNothingAndRepeatsNothing();
};

void TestCsvExport::recordsInTimeOrder_data() {
    QTest::addColumn<int>("count");  // records in the ring
    QTest::addColumn<int>("newest"); // slot of the newest record
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QList<int>>("expected"); // expected: first slot, last slot, rows

    QTest::newRow("ring not yet full, all") << 100 << 100 << ""
                                            << "" << QList<int>{1, 100, 100};
    QTest::newRow("wrapped ring, all: oldest is after the pointer")
        << int(kRingSize) << 30000 << ""
        << "" << QList<int>{30001, 30000, int(kRingSize)};
    QTest::newRow("wrapped, pointer at the last slot") << int(kRingSize) << int(kRingSize) << ""
                                                       << "" << QList<int>{1, int(kRingSize), int(kRingSize)};
    // Slot 65500 is 30000 s older than the newest, slot 1 29999 s: a range across the ring's end.
    QTest::newRow("range across the ring's end") << int(kRingSize) << 30000 << "2024-03-14T01:39:58"
                                                 << "2024-03-14T01:40:03" << QList<int>{65498, 2, 5};
    QTest::newRow("from only") << int(kRingSize) << 30000 << "2024-03-14T09:59:57"
                               << "" << QList<int>{29997, 30000, 4};
    QTest::newRow("to only, exclusive") << 100 << 100 << ""
                                        << "2024-03-14T09:58:22" << QList<int>{1, 1, 1};
    QTest::newRow("range after the newest record") << 100 << 100 << "2024-03-14T10:00:01"
                                                   << "" << QList<int>{0, 0, 0};
}

void TestCsvExport::recordsInTimeOrder() {
    QFETCH(int, count);
    QFETCH(int, newest);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QList<int>, expected);

    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    {
        Db db(path);
        QVERIFY(db.fillRing(count, newest, kLatest));
    }
    ExportRange range;
    if (!from.isEmpty()) range.from = instantOfIsoText(from);
    if (!to.isEmpty()) range.to = instantOfIsoText(to);

    QStringList lines;
    std::optional<RecordInstant> previous;
    bool ascending = true;
    ExportSummary summary;
    QString error;
    QVERIFY2(exportRecords(
                 path, range,
                 [&](RecordInstant instant, std::string_view line) {
                     ascending = ascending && (!previous || instant > *previous);
                     previous = instant;
                     lines << QString::fromUtf8(line.data(), qsizetype(line.size()));
                     return true;
                 },
                 &summary, &error),
             qPrintable(error));

    QVERIFY(ascending);
    QCOMPARE(lines.size(), expected[2]);
    QCOMPARE(summary.rows, expected[2]);
    QCOMPARE(summary.ringFull, count == kRingSize);
    if (lines.isEmpty()) return;
    QCOMPARE(lines.first(), lineOfSlot(expected[0], count, newest) + "\n");
    QCOMPARE(lines.last(), lineOfSlot(expected[1], count, newest) + "\n");
    QCOMPARE(isoTextOfInstant(*summary.last),
             instantOfSlot(expected[1], count, newest).toString(Qt::ISODate));
}

void TestCsvExport::instantTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("instant"); // empty: not a date and time

    QTest::newRow("date and time") << "2024-03-14T10:05:09"
                                   << "2024-03-14T10:05:09";
    QTest::newRow("blank for T") << "2024-03-14 10:05:09"
                                 << "2024-03-14T10:05:09";
    QTest::newRow("minutes only") << "2024-03-14T10:05"
                                  << "2024-03-14T10:05:00";
    QTest::newRow("date alone is its midnight") << "2024-03-14"
                                                << "2024-03-14T00:00:00";
    QTest::newRow("before 1900") << "1899-12-29T23:59:59"
                                 << "1899-12-29T23:59:59";
    QTest::newRow("no such day") << "2024-02-30T10:00:00"
                                 << "";
    QTest::newRow("no such hour") << "2024-03-14T25:00:00"
                                  << "";
    QTest::newRow("words") << "yesterday"
                           << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestCsvExport::instantTexts() {
    QFETCH(QString, text);
    QFETCH(QString, instant);
    const auto parsed = instantOfIsoText(text);
    QCOMPARE(parsed.has_value(), !instant.isEmpty());
    if (parsed) QCOMPARE(isoTextOfInstant(*parsed), instant);
}

void TestCsvExport::toolRefuses_data() {
    QTest::addColumn<QString>("database");    // what lies at the database path
    QTest::addColumn<QStringList>("options"); // "@db" the database, "@name" a file beside it
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing database") << "nothing" << QStringList{} << 1 << "no database file";
    QTest::newRow("not SQLite") << "text" << QStringList{} << 1 << "not a database";
    QTest::newRow("foreign SQLite database") << "foreign" << QStringList{} << 1 << "no table pv_data";
    QTest::newRow("from after to") << "recording"
                                   << QStringList{"--from", "2024-03-14T10:00", "--to", "2024-03-14T09:00"}
                                   << 2 << "is not before --to";
    QTest::newRow("empty range") << "recording"
                                 << QStringList{"--from", "2024-03-14T10:00", "--to", "2024-03-14T10:00"} << 2
                                 << "is not before --to";
    QTest::newRow("not a time") << "recording" << QStringList{"--to", "noon"} << 2 << "not an ISO 8601";
    QTest::newRow("option without value")
        << "recording" << QStringList{"@db", "--from"} << 2 << "needs a value";
    QTest::newRow("unknown option") << "recording" << QStringList{"--all"} << 2 << "unexpected argument";
    QTest::newRow("since-last file of something else")
        << "recording" << QStringList{"--since-last", "@notes"} << 1 << "does not hold the date and time";
    QTest::newRow("output into a file that is a folder")
        << "recording" << QStringList{"--output", "@folder"} << 1 << "cannot open";
}

void TestCsvExport::toolRefuses() {
    QFETCH(QString, database);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    if (database == "recording") {
        freshDatabase(dir);
        Db db(path);
        QVERIFY(db.fillRing(10, 10, kLatest));
    } else if (database == "text") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("operator's notes\n");
    } else if (database == "foreign") {
        sqlite3* raw = nullptr;
        QCOMPARE(sqlite3_open(path.toUtf8().constData(), &raw), SQLITE_OK);
        QCOMPARE(sqlite3_exec(raw, "create table measurements(t, v)", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(raw);
    }
    QFile notes(dir.filePath("notes"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("remember the coffee\n");
    notes.close();
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    if (!options.contains("@db")) options << "@db"; // the database last unless the row places it
    options.replaceInStrings(QRegularExpression("^@db$"), path);
    options.replaceInStrings(QRegularExpression("^@"), dir.path() + "/");
    const QByteArray before = contentOf(path);

    const ToolRun run = runExport(options);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY2(run.out.isEmpty(), qPrintable(run.out));
    QCOMPARE(contentOf(path), before);
    QCOMPARE(contentOf(dir.filePath("notes")), QByteArray("remember the coffee\n"));
    if (database == "nothing") QVERIFY(!QFile::exists(path));
}

void TestCsvExport::toolWritesCsvToStandardOutput() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    {
        Db db(path);
        QVERIFY(db.fillRing(5, 2, kLatest));
    }
    const ToolRun run = runExport({"--from", "2024-03-14T09:59:58", path});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    // Slots 3..5 are older than 1 and 2: the newest is slot 2.
    const QStringList expected{QString::fromLatin1(kCsvHeader).trimmed(), lineOfSlot(5, 5, 2),
                               lineOfSlot(1, 5, 2), lineOfSlot(2, 5, 2)};
    QCOMPARE(run.out, expected.join('\n') + '\n');

    // Nothing in range: the header alone, so a spreadsheet still gets its columns.
    const ToolRun none = runExport({"--from", "2030-01-01", path});
    QCOMPARE(none.exitCode, 0);
    QCOMPARE(none.out, QString::fromLatin1(kCsvHeader));
}

void TestCsvExport::toolNeitherChangesNorWaitsForTheRecording() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    {
        Db db(path);
        QVERIFY(db.fillRing(1000, 400, kLatest));
        QVERIFY(db.exec("pragma wal_checkpoint(truncate)"));
    }
    const QByteArray before = contentOf(path);

    // A writer in the middle of a transaction: the export reads the last committed state.
    Db writer(path);
    QVERIFY(writer.exec("begin immediate"));
    QVERIFY(writer.exec("update pv_data set ch1 = -1 where w_id = 400"));
    const ToolRun run = runExport({path});
    QVERIFY(writer.exec("commit"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.count('\n'), 1001);
    QVERIFY(run.out.endsWith(lineOfSlot(400, 1000, 400) + "\n"));

    // A file nobody may write is still exported.
    QVERIFY(writer.exec("pragma wal_checkpoint(truncate)"));
    const QByteArray committed = contentOf(path);
    QVERIFY(committed != before);
    ReadOnlyFile readOnly(path);
    QVERIFY(readOnly.active());
    const ToolRun again = runExport({path});
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(again.out.count('\n'), 1001);
    QCOMPARE(contentOf(path), committed);
}

void TestCsvExport::sinceLastTwiceOverAWrapLosesNothingAndRepeatsNothing() {
    QTemporaryDir dir;
    const QString path = freshDatabase(dir);
    constexpr int32_t kNewest = kRingSize - 300;
    {
        Db db(path);
        QVERIFY(db.fillRing(kRingSize, kNewest, kLatest));
    }
    const QString state = dir.filePath("archive/last-export");
    const QString pattern = dir.filePath("archive/{date}.csv");
    const QStringList arguments{"--since-last", state, "--output", pattern, path};

    const ToolRun first = runExport(arguments);
    QCOMPARE(first.exitCode, 0);
    QVERIFY2(first.err.isEmpty(), qPrintable(first.err));
    QVERIFY(contentOf(state).startsWith(kLatest.toString(Qt::ISODate).toUtf8() + " #")); // with its checksum

    // The recorder goes on across midnight and past the ring's end: slots 65201..65500, then 1..700.
    {
        SqliteStoreOptions options;
        options.sync = SqliteStoreOptions::Sync::Normal;
        SqliteRecordStore store(path, options);
        QVERIFY2(store.isOpen(), qPrintable(store.lastError()));
        QDateTime at = kLatest.addSecs(14 * 3600); // 2024-03-15T00:00:00
        for (int i = 0; i < 1000; ++i) {
            const ClockReading reading = readingOf(at.addSecs(i));
            StoredRecord record;
            record.id = kNewest + i < kRingSize ? kNewest + i + 1 : kNewest + i + 1 - kRingSize;
            record.date = reading.date;
            record.time = reading.time;
            record.values.fill(float(100000 + i));
            QCOMPARE(store.writeRecord(record), WriteOutcome::Committed);
        }
    }
    const ToolRun second = runExport(arguments);
    QCOMPARE(second.exitCode, 0);
    QVERIFY2(second.err.isEmpty(), qPrintable(second.err));
    const ToolRun third = runExport(arguments); // nothing new: nothing written, nothing changed
    QCOMPARE(third.exitCode, 0);
    QVERIFY(
        contentOf(state).startsWith(kLatest.addSecs(14 * 3600 + 999).toString(Qt::ISODate).toUtf8() + " #"));

    QStringList files;
    QDirIterator it(dir.filePath("archive"), {"*.csv"}, QDir::Files);
    while (it.hasNext())
        files << it.next();
    files.sort();
    QCOMPARE(files,
             (QStringList{dir.filePath("archive/2024-03-13.csv"), dir.filePath("archive/2024-03-14.csv"),
                          dir.filePath("archive/2024-03-15.csv")}));
    std::set<QString> instants;
    qsizetype rows = 0;
    QString previous;
    for (const QString& file : files) {
        const QStringList lines = QString::fromUtf8(contentOf(file)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QString::fromLatin1(kCsvHeader).trimmed());
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QString instant = lines[i].section(',', 0, 0);
            QVERIFY2(instant.startsWith(QFileInfo(file).baseName()), qPrintable(lines[i]));
            QVERIFY2(instant > previous, qPrintable(lines[i]));
            previous = instant;
            instants.insert(instant);
            ++rows;
        }
    }
    // Every record of the first ring and every new one, once each, without a gap.
    QCOMPARE(rows, qsizetype(kRingSize) + 1000);
    QCOMPARE(qsizetype(instants.size()), rows);
    QCOMPARE(*instants.begin(), kLatest.addSecs(-(kRingSize - 1)).toString(Qt::ISODate));
    QCOMPARE(*instants.rbegin(), kLatest.addSecs(14 * 3600 + 999).toString(Qt::ISODate));
    const QStringList lastDay = QString::fromUtf8(contentOf(files.last())).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lastDay.size(), 1 + 1000);
    QCOMPARE(lastDay.last(), "2024-03-15T00:16:39" + QString(",100999").repeated(10));
}

QTEST_GUILESS_MAIN(TestCsvExport)
#include "test_csv_export.moc"
