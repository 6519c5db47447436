// The event journal's file: what it keeps, in which order, what it drops, and what it does
// when its folder is gone or its file is not a journal.
#include "journal/EventCsv.h"
#include "journal/EventJournal.h"
#include "logging/LoggingTestSupport.h"

#include <QDir>
#include <QTest>

using namespace hx;
using hx::testing::FakeClock;

namespace {

JournalEvent makeEvent(EventKind kind, const QString& text, int alarmRow = 0) {
    JournalEvent e;
    e.kind = kind;
    e.subject = alarmRow ? QStringLiteral("CH%1").arg(alarmRow) : QStringLiteral("端口1");
    e.text = text;
    e.alarmRow = alarmRow;
    return e;
}

QStringList textsOf(const std::vector<JournalEvent>& events) {
    QStringList texts;
    for (const JournalEvent& e : events)
        texts << e.text;
    return texts;
}

} // namespace

class TestEventJournal : public QObject {
    Q_OBJECT
  private slots:
    void eventsReadBackNewestFirstWithTheirTimesAndFilters();
    void pastTheBoundTheOldestAreDroppedInOneBatch();
    void eventsWaitInMemoryWhileTheFolderIsMissingAndAreWrittenWhenItIsBack();
    void aFileThatIsNotAJournalIsKeptAsideAndANewOneBegun_data();
    void aFileThatIsNotAJournalIsKeptAsideAndANewOneBegun();
    void onlyRaisedAlarmsAreAcknowledgedAndTheAcknowledgementIsStored();
    void theExportContinuesAfterItsCursorAlsoWithinOneSecond();
    void eachDatabaseHasAJournalOfItsOwn();
    void aCursorFindsItsPlaceAlsoInAJournalBegunAnew();
};

void TestEventJournal::eventsReadBackNewestFirstWithTheirTimesAndFilters() {
    QTemporaryDir dir;
    FakeClock clock;
    EventJournal journal(dir.filePath("Events.db"), clock);
    QVERIFY(journal.record(
        {makeEvent(EventKind::PortOpened, "open"), makeEvent(EventKind::AlarmRaised, "raised", 3)}));
    clock.advance(7);
    QVERIFY(journal.record(makeEvent(EventKind::WriteConfirmed, "write")));

    const auto all = journal.page({}, std::nullopt, 10);
    QCOMPARE(textsOf(all), QStringList({"write", "raised", "open"}));
    QCOMPARE(eventTimeText(all[0].at), QStringLiteral("2024-03-14 10:00:07"));
    QCOMPARE(eventTimeText(all[2].at), QStringLiteral("2024-03-14 10:00:00"));
    QCOMPARE(textsOf(journal.page({}, all[0].id, 1)), QStringList({"raised"}));
    QCOMPARE(textsOf(journal.page(EventFilter{true, false, true}, std::nullopt, 10)),
             QStringList({"write", "raised"}));
    QCOMPARE(textsOf(journal.newerThan({}, all[2].id, 10)), QStringList({"write", "raised"}));
}

void TestEventJournal::pastTheBoundTheOldestAreDroppedInOneBatch() {
    QTemporaryDir dir;
    FakeClock clock;
    EventJournal journal(dir.filePath("Events.db"), clock, {10, 4, 100});
    for (int i = 1; i <= 10; ++i)
        QVERIFY(journal.record(makeEvent(EventKind::PortOpened, QString::number(i))));
    QCOMPARE(journal.storedCount(), 10);
    QVERIFY(journal.record(makeEvent(EventKind::PortOpened, "11")));
    const auto kept = journal.page({}, std::nullopt, 100);
    QCOMPARE(textsOf(kept), QStringList({"11", "10", "9", "8", "7", "6"}));
    QCOMPARE(journal.storedCount(), 6);
    // Counted again from the file: the count the journal keeps is the file's.
    EventJournal reopened(dir.filePath("Events.db"), clock, {10, 4, 100});
    QCOMPARE(reopened.storedCount(), 6);
}

void TestEventJournal::eventsWaitInMemoryWhileTheFolderIsMissingAndAreWrittenWhenItIsBack() {
    QTemporaryDir dir;
    FakeClock clock;
    const QString folder = dir.filePath("Trendlog");
    EventJournal journal(folder + "/Events.db", clock, {100, 10, 3});
    QVERIFY(!journal.available());
    QVERIFY(!journal.lastError().isEmpty());
    for (const char* text : {"a", "b", "c", "d"}) {
        QVERIFY(!journal.record(makeEvent(EventKind::AlarmRaised, text, 1)));
        clock.advance(1);
    }
    QCOMPARE(journal.waiting(), size_t(3)); // the oldest went past the memory limit
    QCOMPARE(journal.lost(), uint64_t(1));
    QCOMPARE(journal.unacknowledged().count, 3);
    // Not acknowledged while nothing can be stored: the window says so, the alarms stay counted.
    QVERIFY(!journal.acknowledgeAll());
    QCOMPARE(journal.unacknowledged().count, 3);

    QVERIFY(QDir().mkpath(folder));
    clock.advance(EventJournal::kRetrySeconds);
    QVERIFY(journal.retry());
    QCOMPARE(journal.waiting(), size_t(0));
    const auto stored = EventJournal(folder + "/Events.db", clock).page({}, std::nullopt, 10);
    QCOMPARE(textsOf(stored), QStringList({"d", "c", "b"}));
    QCOMPARE(eventTimeText(stored[2].at), QStringLiteral("2024-03-14 10:00:01")); // when it happened
}

void TestEventJournal::aFileThatIsNotAJournalIsKeptAsideAndANewOneBegun_data() {
    QTest::addColumn<bool>("recordingDatabase");
    QTest::newRow("garbage") << false;
    QTest::newRow("the recording database") << true;
}

void TestEventJournal::aFileThatIsNotAJournalIsKeptAsideAndANewOneBegun() {
    QFETCH(bool, recordingDatabase);
    QTemporaryDir dir;
    const QString path = dir.filePath("Events.db");
    QByteArray before;
    if (recordingDatabase) {
        QString why;
        QVERIFY2(createRecordDatabase(path, false, &why), qPrintable(why));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, '\x5a'));
    }
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        before = file.readAll();
    }
    FakeClock clock;
    EventJournal journal(path, clock);
    QVERIFY(journal.available());
    QVERIFY(!journal.damagedCopy().isEmpty());
    QFile kept(journal.damagedCopy());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), before);
    QVERIFY(journal.record(makeEvent(EventKind::PortOpened, "new")));
    QCOMPARE(textsOf(journal.page({}, std::nullopt, 10)), QStringList({"new"}));
}

void TestEventJournal::onlyRaisedAlarmsAreAcknowledgedAndTheAcknowledgementIsStored() {
    QTemporaryDir dir;
    FakeClock clock;
    const QString path = dir.filePath("Events.db");
    {
        EventJournal journal(path, clock);
        QVERIFY(journal.record(
            {makeEvent(EventKind::AlarmRaised, "ch2", 2), makeEvent(EventKind::AlarmRaised, "ch5", 5),
             makeEvent(EventKind::AlarmCleared, "ch2 off", 2), makeEvent(EventKind::WriteFailed, "w")}));
        QCOMPARE(journal.unacknowledged().count, 2);
        std::vector<int64_t> ids;
        for (const JournalEvent& e : journal.page({}, std::nullopt, 10))
            if (e.text != "ch5") ids.push_back(e.id);
        clock.advance(60);
        QCOMPARE(journal.acknowledge(ids), 1);
    }
    EventJournal journal(path, clock);
    const UnacknowledgedAlarms left = journal.unacknowledged();
    QCOMPARE(left.count, 1);
    QVERIFY(left.rows[5] && !left.rows[2]);
    const auto events = journal.page({}, std::nullopt, 10);
    QCOMPARE(eventTimeText(*events[3].acknowledgedAt), QStringLiteral("2024-03-14 10:01:00"));
    QCOMPARE(journal.acknowledgeAll(), 1);
    QCOMPARE(journal.unacknowledged().count, 0);
}

void TestEventJournal::theExportContinuesAfterItsCursorAlsoWithinOneSecond() {
    QTemporaryDir dir;
    FakeClock clock;
    const QString path = dir.filePath("Events.db");
    EventJournal journal(path, clock);
    QVERIFY(journal.record(makeEvent(EventKind::WriteConfirmed, "4106 参数, \"1\"")));
    const QString cursorFile = dir.filePath("cursor");
    QStringList lines;
    const auto sink = [&lines](EventInstant, std::string_view line) {
        lines << QString::fromStdString(std::string(line));
        return true;
    };
    EventExportSummary summary;
    QString error;
    QVERIFY(exportEvents(path, {}, sink, &summary, &error));
    QCOMPARE(lines, QStringList({"1,2024-03-14T10:00:00,write-confirmed,端口1,\"4106 参数, \"\"1\"\"\",\n"}));
    QVERIFY(writeEventCursor(cursorFile, *summary.last, &error));

    QVERIFY(journal.record(makeEvent(EventKind::PortClosed, "same second")));
    lines.clear();
    EventRange range;
    range.after = readEventCursor(cursorFile, &error);
    QVERIFY2(range.after, qPrintable(error));
    QVERIFY(exportEvents(path, range, sink, &summary, &error));
    QCOMPARE(lines, QStringList({"2,2024-03-14T10:00:00,port-closed,端口1,same second,\n"}));
}

// Two lines recording into one folder keep their events apart; the journal an installation
// kept beside its default database before stays in use.
void TestEventJournal::eachDatabaseHasAJournalOfItsOwn() {
    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    QCOMPARE(EventJournal::pathBeside(folder + "Rdatabj.db"), folder + "Rdatabj.events.db");
    QVERIFY(QFile(folder + "Events.db").open(QIODevice::WriteOnly));
    QCOMPARE(EventJournal::pathBeside(folder + "Rdatabj.db"), folder + "Events.db");
    QCOMPARE(EventJournal::pathBeside(folder + "line2.db"), folder + "line2.events.db");
}

// The publisher's event cursor is a time and an id: a journal begun anew (the old one set
// aside as damaged) counts its ids from 1 again, and its events are found by time, whether or
// not it has grown past the old id.
void TestEventJournal::aCursorFindsItsPlaceAlsoInAJournalBegunAnew() {
    QTemporaryDir dir;
    FakeClock clock;
    const QString path = dir.filePath("Rdatabj.events.db");
    const auto recordSome = [&](EventJournal& journal, int count) {
        for (int i = 0; i < count; ++i, clock.advance(10))
            QVERIFY(journal.record(makeEvent(EventKind::PortOpened, QString::number(i))));
    };
    auto old = std::make_unique<EventJournal>(path, clock);
    recordSome(*old, 5);
    const JournalEvent third = old->page({}, 4, 1).front();
    old.reset();
    JournalReader reader(path);
    QCOMPARE(reader.resumeAfter({third.at, 3}), std::optional<int64_t>(3));
    QCOMPARE(reader.resumeAfter({0, 3}), std::optional<int64_t>(3)); // an id alone, as cursors were once

    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + suffix);
    EventJournal anew(path, clock);
    recordSome(anew, 2); // not yet past the old id
    QCOMPARE(reader.resumeAfter({third.at, 3}), std::optional<int64_t>(0));
    recordSome(anew, 4); // past it
    QCOMPARE(reader.resumeAfter({third.at, 3}), std::optional<int64_t>(0));
    QCOMPARE(reader.resumeAfter({anew.page({}, 5, 1).front().at, 99}), std::optional<int64_t>(3));
}

QTEST_GUILESS_MAIN(TestEventJournal)
#include "test_event_journal.moc"
