// The event feed: each state of the status table raised and cleared under its own row, and the
// recorder's lock (a second program on one database is journalled as not recording, and again
// when it takes the recording up after the first has ended).
#include "app/EventFeed.h"
#include "app/PortSession.h"
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
    // The first and last row of each group of the status table (open circuit, short circuit,
    // setpoint alarm, relays): each raised and cleared under its own row.
    void eachStateIsJournalledUnderItsRow() {
        for (int row : {1, 8, 9, 16, 17, 24, 25, 26}) {
            std::array<int32_t, 26> off{}, on{};
            on[size_t(row - 1)] = 1;
            for (const auto& [before, now, kind] : {std::tuple(off, on, EventKind::AlarmRaised),
                                                    std::tuple(on, off, EventKind::AlarmCleared)}) {
                const auto events = statusEvents(before, now);
                QVERIFY2(events.size() == 1 && events[0].kind == kind && events[0].alarmRow == row,
                         qPrintable(QStringLiteral("row %1").arg(row)));
            }
        }
    }

    void anotherRecorderIsJournalledAndSoIsTakingOver() {
        resetSharedState();
        QTemporaryDir dir;
        const QString path = freshDatabase(dir);
        FakeClock clock;
        EventJournal journal(EventJournal::pathBeside(path), clock);
        PortSession session;
        EventFeed feed(journal, nullptr, session);
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
