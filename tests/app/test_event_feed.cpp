// The event feed: each state of the status table raised and cleared under its own row, and the
// recorder's lock (a second program on one database is journalled as not recording, and again
// when it takes the recording up after the first has ended).
#include "app/EventFeed.h"
#include "core/FreshValues.h"
#include "core/SharedState.h"
#include "journal/EventJournal.h"
#include "logging/LoggingTestSupport.h"
#include "logging/mscom.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

using namespace hx;
using namespace hx::testing;

class EventFeedTest : public QObject {
    Q_OBJECT
  private slots:
    // The first and last row of each group of the status table.
    void eachStateIsJournalledUnderItsRow_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("raised");
        QTest::addColumn<QString>("cleared");
        struct Row {
            int row;
            const char *subject, *raised, *cleared;
        };
        for (const Row& r :
             {Row{1, "CH1", "CH 1 开路报警", "CH 1 开路报警 消除"},
              Row{8, "CH8", "CH 8 开路报警", "CH 8 开路报警 消除"},
              Row{9, "CH1", "CH 1 短路报警", "CH 1 短路报警 消除"},
              Row{16, "CH8", "CH 8 短路报警", "CH 8 短路报警 消除"},
              Row{17, "CH1", "CH 1 设定值报警", "CH 1 设定值报警 消除"},
              Row{24, "CH8", "CH 8 设定值报警", "CH 8 设定值报警 消除"},
              Row{25, "DO1", "DO 1闭合", "DO 1 断开"}, Row{26, "DO2", "DO 2闭合", "DO 2 断开"}})
            QTest::addRow("row %d", r.row)
                << r.row << QString(r.subject) << QString::fromUtf8(r.raised) << QString::fromUtf8(r.cleared);
    }
    void eachStateIsJournalledUnderItsRow() {
        QFETCH(int, row);
        QFETCH(QString, subject);
        QFETCH(QString, raised);
        QFETCH(QString, cleared);
        std::array<int32_t, 26> off{}, on{};
        on[size_t(row - 1)] = 1;
        for (const auto& [before, now, kind, text] :
             {std::tuple(off, on, EventKind::AlarmRaised, raised),
              std::tuple(on, off, EventKind::AlarmCleared, cleared)}) {
            const auto events = statusEvents(before, now);
            QCOMPARE(events.size(), size_t(1));
            QCOMPARE(events[0].kind, kind);
            QCOMPARE(events[0].alarmRow, row);
            QCOMPARE(events[0].subject, subject);
            QCOMPARE(events[0].text, text);
        }
    }

    void anotherRecorderIsJournalledAndSoIsTakingOver() {
        resetSharedState();
        QTemporaryDir dir;
        const QString path = freshDatabase(dir);
        FakeClock clock;
        EventJournal journal(EventJournal::pathBeside(path), clock);
        EventFeed feed(journal, nullptr);
        auto first = std::make_unique<mscom>(path, clock);
        mscom second(path, clock);
        for (mscom* m : {first.get(), &second})
            m->Timer1.stop();
        connect(&second, &mscom::statusChanged, &feed, [&] { feed.noteRecorder(second.status()); });
        const auto seconds = [&](int n) {
            for (int s = 0; s < n; ++s, clock.advance(1)) {
                freshValues().noteMeasured(0, FreshValues::kValues, FreshValues::steadyNowMs());
                if (first) first->Timer1_Timer();
                second.Timer1_Timer();
            }
        };
        seconds(2);
        first.reset();
        seconds(mscom::kReopenSeconds + 1);

        const auto events = journal.page({}, std::nullopt, 10); // newest first
        QCOMPARE(events.size(), size_t(2));
        QCOMPARE(events[1].kind, EventKind::OtherRecorder);
        QVERIFY2(events[1].text.contains(QStringLiteral("进程 %1").arg(QCoreApplication::applicationPid())),
                 qPrintable(events[1].text));
        QCOMPARE(events[0].kind, EventKind::RecordingTakenUp);
    }
};

QTEST_GUILESS_MAIN(EventFeedTest)
#include "test_event_feed.moc"
