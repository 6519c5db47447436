// The publisher alone against a real broker: what it sends after its cursor, what it does
// when the ring went round since, the journal's events across an outage, an idle connection,
// a broker that is not there.
#include "MqttTestSupport.h"

#include "core/Clock.h"
#include "journal/EventJournal.h"
#include "logging/DatabaseSetup.h"
#include "logging/LoggingTestSupport.h"
#include "logging/SqliteRecordStore.h"
#include "publish/PublishCursor.h"
#include "publish/Publisher.h"

#include <QtTest>

#include <set>

using namespace hx;
using namespace hx::test;
using hx::testing::FakeClock;

namespace {

const QString kPrefix = QStringLiteral("hx5800/bench-line");

// A database with records in slots 1..count, one a second from 08:00.
QString databaseWith(const QTemporaryDir& dir, int count) {
    const QString path = dir.filePath("Rdatabj.db");
    QString error;
    if (!createRecordDatabase(path, false, &error)) return {};
    SqliteRecordStore store(path);
    for (int slot = 1; slot <= count; ++slot)
        store.writeRecord(StoredRecord{
            slot, dayNumberOf(QDate(2026, 12, 8)), dayFractionOf(QTime(8, 0).addSecs(slot)), {float(slot)}});
    return path;
}

MqttSettings settingsFor(const BrokerProcess& broker, const QString& database) {
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    settings.topicPrefix = kPrefix;
    settings.databasePath = database;
    return settings;
}

std::vector<int> slotsOf(const std::vector<std::pair<int, QString>>& records) {
    std::vector<int> ids;
    for (const auto& r : records)
        ids.push_back(r.first);
    return ids;
}

std::vector<int> range(int first, int last) {
    std::vector<int> ids;
    for (int s = first; s <= last; ++s)
        ids.push_back(s);
    return ids;
}

// Lets `seconds` of the publisher's clock pass, a second every 50 ms of real time.
void letPass(FakeClock& clock, int seconds) {
    for (int s = 0; s < seconds; ++s) {
        clock.advance(1);
        QTest::qWait(50);
    }
}

} // namespace

class PublisherTest : public QObject {
    Q_OBJECT

  private slots:
    void theRecordsAfterTheCursorGoOutOldestFirstThenTheLiveOnes_data() {
        QTest::addColumn<QString>("cursorFile");
        QTest::addColumn<int>("firstSent");
        QTest::addColumn<bool>("overwritten");
        QTest::newRow("the ring still holds the cursor's record") << "in the ring" << 21 << false;
        // The slot holds another record now: what followed the cursor is gone; everything the
        // ring holds goes out, and the status line says records were lost.
        QTest::newRow("the ring went round since") << "went round" << 1 << true;
        // A cursor that cannot be read loses nothing: everything the ring holds goes (again).
        QTest::newRow("a damaged cursor file") << "damaged" << 1 << false;
    }
    void theRecordsAfterTheCursorGoOutOldestFirstThenTheLiveOnes() {
        QFETCH(QString, cursorFile);
        QFETCH(int, firstSent);
        QFETCH(bool, overwritten);
        QTemporaryDir dir;
        const QString database = databaseWith(dir, 50);
        QVERIFY(!database.isEmpty());
        const RecordInstant at20 = *instantOfIsoText("2026-12-08T08:00:20");
        QString error;
        QVERIFY(writePublishCursor(cursorPathFor(database),
                                   PublishCursor{20, cursorFile == "went round" ? at20 - 86400 : at20},
                                   &error));
        if (cursorFile == "damaged") {
            QFile file(cursorPathFor(database));
            QVERIFY(file.open(QIODevice::ReadWrite) && file.write("3") == 1); // a torn write
        }
        BrokerProcess broker;
        QVERIFY(broker.start());
        Subscriber subscriber(broker.port(), kPrefix + "/#");
        QVERIFY(subscriber.waitConnected(5000));

        FakeClock clock;
        Publisher publisher(settingsFor(broker, database), clock);
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.records().size(), size_t(50 - firstSent + 1), 10000);
        QCOMPARE(slotsOf(subscriber.records()), range(firstSent, 50));
        QCOMPARE(publisher.status().recordsOverwritten, overwritten);
        QCOMPARE(publisher.status().cursorDamaged, cursorFile == "damaged");
        QVERIFY(publisherStatusText(publisher.status()).contains(QStringLiteral("已连接")));
        const auto notices = publisher.takeNotices();
        QCOMPARE(notices.size(), size_t(cursorFile == "in the ring" ? 0 : 1));

        // Live: the recorder's next record goes out, and the cursor follows the acknowledgements.
        StoredRecord next{51, dayNumberOf(QDate(2026, 12, 8)), dayFractionOf(QTime(8, 0, 51)), {51}};
        QCOMPARE(SqliteRecordStore(database).writeRecord(next), WriteOutcome::Committed);
        publisher.noteRecord(next, WriteOutcome::Committed);
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.records().back().first, 51, 5000);
        // Each look moves the publisher's clock a second on (twenty times faster than real time).
        QTRY_COMPARE_WITH_TIMEOUT(
            (clock.advance(1),
             readPublishCursor(cursorPathFor(database)).cursor.value_or(PublishCursor{}).slot),
            51, 15000);
        QCOMPARE(subscriber.records().size(), size_t(50 - firstSent + 2)); // none twice
    }

    // The broker away longer than the ring: the records overwritten before they were sent are
    // counted as it happens (the backlog never wraps to a small number), and on its return the
    // records go out from the oldest the ring still holds.
    void aRingThatGoesRoundWhileTheBrokerIsAwayGoesOnFromItsOldestRecord() {
        QTemporaryDir dir;
        const QString database = databaseWith(dir, 100); // record n in slot n, the broker has all
        QString error;
        QVERIFY(writePublishCursor(cursorPathFor(database),
                                   PublishCursor{100, *instantOfIsoText("2026-12-08T08:01:40")}, &error));
        BrokerProcess broker;
        QVERIFY(broker.start());
        Subscriber subscriber(broker.port(), kPrefix + "/record");
        QVERIFY(subscriber.waitConnected(5000));
        broker.stop();
        FakeClock clock;
        Publisher publisher(settingsFor(broker, database), clock);
        QTRY_COMPARE_WITH_TIMEOUT(publisher.status().state, PublisherStatus::State::Retrying, 5000);

        // A whole ring and 50 more records while the broker is away: the newest lands in slot 149,
        // the oldest left is record 150. Only the rows the publisher reads are written.
        SqliteRecordStore store(database);
        const qint64 last = 100 + kRingSize + 49;
        for (qint64 n = 101; n <= last; ++n) {
            const QDateTime at = QDateTime(QDate(2026, 12, 8), QTime(8, 0)).addSecs(n);
            const StoredRecord r{int32_t((n - 1) % kRingSize) + 1,
                                 double(dayNumberOf(at.date())),
                                 dayFractionOf(at.time()),
                                 {float(n)}};
            if ((r.id >= 150 && r.id <= 152) || r.id == kRingSize || n == last) store.writeRecord(r);
            publisher.noteRecord(r, WriteOutcome::Committed);
        }
        QTRY_COMPARE_WITH_TIMEOUT(publisher.status().overwrittenCount, quint64(50), 10000);
        QCOMPARE(publisher.status().backlog, kRingSize - 1); // counted, not wrapped to a small number
        QVERIFY(publisherStatusText(publisher.status()).contains(QStringLiteral("50 条记录发送前已被覆盖")));
        const auto notices = publisher.takeNotices();
        QVERIFY(notices.size() == 1 && notices[0].kind == EventKind::PublishRecordsLost);

        QVERIFY(broker.start());
        QTRY_VERIFY_WITH_TIMEOUT((clock.advance(1), subscriber.records().size() >= 2), 20000);
        QCOMPARE(subscriber.records().front().first, 151);
        QCOMPARE(subscriber.records().front().second.left(19), QStringLiteral("2026-12-08T08:02:31"));
    }

    // The journal's events go out from the journal itself, after the last one the broker
    // acknowledged: those of a broker outage, and those recorded while no publisher ran, come
    // afterwards in order; those from before publishing was first switched on do not.
    void journalEventsComeAfterAnOutageAndARestart() {
        QTemporaryDir dir;
        const QString database = databaseWith(dir, 1);
        EventJournal journal(EventJournal::pathBeside(database));
        const auto note = [&](const char* text) {
            QVERIFY(journal.record(
                JournalEvent{0, 0, EventKind::AlarmRaised, "CH3", QString::fromUtf8(text), 3, {}}));
        };
        note("before publishing");
        BrokerProcess broker;
        QVERIFY(broker.start());
        Subscriber subscriber(broker.port(), kPrefix + "/event");
        QVERIFY(subscriber.waitConnected(5000));
        const auto texts = [&] {
            QStringList seen; // each once, as a consumer keeps them by id
            std::set<int> ids;
            for (const ReceivedMessage& m : subscriber.messages())
                if (ids.insert(m.json().value("id").toInt()).second)
                    seen << m.json().value("text").toString();
            return seen;
        };
        {
            Publisher publisher(settingsFor(broker, database));
            journal.onStored = [&](int64_t) { publisher.noteEvents(); };
            QTRY_COMPARE_WITH_TIMEOUT(publisher.status().state, PublisherStatus::State::Connected, 5000);
            note("A");
            QTRY_COMPARE_WITH_TIMEOUT(texts(), QStringList{"A"}, 5000);
            QCOMPARE(subscriber.messages()[0].json().value("kind").toString(),
                     QStringLiteral("alarm-raised"));
            broker.stop();
            QTRY_COMPARE_WITH_TIMEOUT(publisher.status().state, PublisherStatus::State::Retrying, 5000);
            note("B");
            journal.onStored = nullptr;
        }
        note("C"); // no publisher runs
        QVERIFY(broker.start());
        Publisher publisher(settingsFor(broker, database));
        QTRY_COMPARE_WITH_TIMEOUT(texts(), (QStringList{"A", "B", "C"}), 20000);
    }

    // mqtts://: the broker's certificate must come from the authority in HX5800_MQTT_CA. One
    // from another authority is refused, the status line says why, nothing goes out, and the
    // publisher keeps trying.
    void mqttsTrustsOnlyTheGivenAuthority_data() {
        QTest::addColumn<bool>("brokersAuthority");
        QTest::newRow("the broker's authority") << true;
        QTest::newRow("another authority") << false;
    }
    void mqttsTrustsOnlyTheGivenAuthority() {
        QFETCH(bool, brokersAuthority);
        QTemporaryDir dir;
        const QString database = databaseWith(dir, 1);
        BrokerProcess broker;
        QVERIFY(broker.useTls());
        QVERIFY(broker.start());
        QTemporaryDir other;
        QVERIFY(brokersAuthority || makeTestCertificates(other.path()));
        Subscriber subscriber(broker.port(), kPrefix + "/event"); // on the plain listener
        QVERIFY(subscriber.waitConnected(5000));

        MqttSettings settings = settingsFor(broker, database);
        settings.tls = true;
        settings.port = broker.tlsPort();
        settings.caFile = brokersAuthority ? broker.caFile() : other.filePath("ca.crt");
        FakeClock clock;
        Publisher publisher(settings, clock);
        // No journal yet when publishing begins: its first event goes out.
        const QString journalPath = EventJournal::pathBeside(database);
        QTRY_VERIFY(QFile::exists(eventCursorPathFor(journalPath)));
        EventJournal journal(journalPath);
        QVERIFY(journal.record(
            JournalEvent{0, 0, EventKind::PortOpened, "端口1", QStringLiteral("经 TLS"), 0, {}}));
        publisher.noteEvents();
        if (brokersAuthority) {
            QTRY_COMPARE_WITH_TIMEOUT(subscriber.messages().size(), size_t(1), 10000);
            QCOMPARE(subscriber.messages()[0].json().value("text").toString(), QStringLiteral("经 TLS"));
            QCOMPARE(publisher.status().state, PublisherStatus::State::Connected);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!publisher.status().reason.isEmpty(), 10000);
        const QString text = publisherStatusText(publisher.status());
        QVERIFY2(publisher.status().state == PublisherStatus::State::Retrying &&
                     text.contains(QStringLiteral("证书")),
                 qPrintable(text));
        letPass(clock, 10); // attempts go on (after 1, 2 and 4 s), none gets through
        QCOMPARE(publisher.status().state, PublisherStatus::State::Retrying);
        QCOMPARE(subscriber.messages().size(), size_t(0));
    }

    // Nothing to send for longer than the broker's patience: the keep-alive's pings hold the
    // connection, so the broker never announces the program gone.
    void anIdleConnectionIsKeptAlive() {
        QTemporaryDir dir;
        BrokerProcess broker;
        QVERIFY(broker.start());
        Subscriber subscriber(broker.port(), kPrefix + "/status");
        QVERIFY(subscriber.waitConnected(5000));
        MqttSettings settings = settingsFor(broker, databaseWith(dir, 1));
        settings.keepAliveSeconds = 5; // without its pings, this broker gives up after about 11 s
        Publisher publisher(settings);
        QTRY_COMPARE_WITH_TIMEOUT(publisher.status().state, PublisherStatus::State::Connected, 5000);
        QElapsedTimer idle;
        idle.start();
        while (idle.elapsed() < 14000) {
            QTest::qWait(250);
            QCOMPARE(publisher.status().state, PublisherStatus::State::Connected);
        }
        QCOMPARE(subscriber.messages().size(), size_t(0)); // no "offline" will
    }

    void aBrokerThatIsNotThereIsTriedAgainAndHoldsNothingUp() {
        QTemporaryDir dir;
        const QString database = databaseWith(dir, 1);
        MqttSettings settings;
        settings.host = "127.0.0.1";
        settings.port = 1; // nothing listens there
        settings.topicPrefix = kPrefix;
        settings.databasePath = database;
        QElapsedTimer clock;
        clock.start();
        {
            FakeClock publisherClock;
            Publisher publisher(settings, publisherClock);
            QTRY_COMPARE_WITH_TIMEOUT(publisher.status().state, PublisherStatus::State::Retrying, 5000);
            QVERIFY2(publisherStatusText(publisher.status()).contains(QStringLiteral("无法连接")),
                     qPrintable(publisherStatusText(publisher.status())));
            letPass(publisherClock, 3); // into the waits between attempts
            clock.restart();
        }
        // The program ends promptly although the broker never answered.
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(PublisherTest)
#include "test_publisher.moc"
