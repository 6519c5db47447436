// bench_journal: what the event journal costs. An event stored durably (WAL, synchronous
// FULL, one transaction), a poll cycle's worst case of 26 state changes in one, a poll cycle
// with the journal fed against one without (an alarm changing on every cycle), and the events
// window opening on 100 000 events and reaching the oldest. Not a test; run it by hand.
#include "app/EventFeed.h"
#include "app/PortSession.h"
#include "core/SharedState.h"
#include "events/EventsWindow.h"
#include "journal/EventJournal.h"
#include "link/Met1.h"
#include "link/ModbusLink.h"
#include "support/SimProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace hx;

namespace {

JournalEvent alarm(int n) {
    JournalEvent e;
    e.kind = n % 2 ? EventKind::AlarmRaised : EventKind::AlarmCleared;
    e.alarmRow = 1 + n % 24;
    e.subject = QStringLiteral("CH%1").arg(1 + n % 8);
    e.text = QStringLiteral("CH %1 开路报警").arg(1 + n % 8);
    return e;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void report(const char* what, const std::vector<double>& ms) {
    std::printf("%-58s median %8.3f ms  p90 %8.3f ms  p99 %8.3f ms\n", what, percentile(ms, 0.5),
                percentile(ms, 0.9), percentile(ms, 0.99));
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;

    {
        EventJournal journal(dir.filePath("one.db"));
        std::vector<double> one, cycle;
        QElapsedTimer t;
        for (int i = 0; i < 300; ++i) {
            t.start();
            journal.record(alarm(i));
            one.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        for (int i = 0; i < 100; ++i) {
            std::vector<JournalEvent> events;
            for (int k = 0; k < 26; ++k)
                events.push_back(alarm(k + i));
            t.start();
            journal.record(std::move(events));
            cycle.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        report("one event, durable (WAL, synchronous FULL)", one);
        report("26 events of one poll cycle, one transaction", cycle);
    }

    {
        // Poll cycles through the real link against the simulator paced as a 9600-baud line,
        // CH1's open circuit changing before every cycle, side by side: without the journal,
        // and with the feed storing that change as an event each cycle.
        qputenv("HX5800_SIM", HX5800_SIM_BUILT);
        test::SimProcess sim({"--static", "--pace"});
        ModbusLink link;
        if (!sim.start()) {
            std::fprintf(stderr, "bench_journal: %s\n", qPrintable(sim.errorText()));
            return 1;
        }
        qputenv("HX5800_COM9", sim.devicePath().toUtf8());
        link.OpenPort_Modbus(9, 1, 0);
        Com_Param[kComPort] = 9;
        Com_Param[kComAddress] = 1;
        Met1 met1(link);
        EventJournal journal(dir.filePath("poll.db"));
        PortSession session;
        EventFeed feed(journal, &link, session);
        std::vector<double> without, with;
        QElapsedTimer t;
        for (int i = 0; i < 200; ++i) {
            const bool fed = i % 2 == 1;
            if (fed) QObject::connect(&met1, &Met1::statusRead, &feed, &EventFeed::noteStatusRead);
            sim.command(QStringLiteral("open-circuit %1").arg((i / 2) % 2));
            t.start();
            met1.Timer1_Timer();
            (fed ? with : without).push_back(double(t.nsecsElapsed()) / 1e6);
            QObject::disconnect(&met1, &Met1::statusRead, &feed, &EventFeed::noteStatusRead);
        }
        report("poll cycle at 9600 baud without the journal", without);
        report("poll cycle at 9600 baud with the journal (an event each cycle)", with);
        std::printf("ratio of medians: %.3f\n", percentile(with, 0.5) / percentile(without, 0.5));
    }

    EventJournal journal(dir.filePath("full.db"));
    std::vector<JournalEvent> events;
    for (int n = 0; n < 100000; ++n)
        events.push_back(alarm(n));
    journal.record(std::move(events));
    std::vector<double> open, oldest;
    for (int run = 0; run < 5; ++run) {
        QWidget main;
        QElapsedTimer t;
        t.start();
        auto* window = new EventsWindow(journal, &main);
        window->show();
        QCoreApplication::processEvents();
        open.push_back(double(t.nsecsElapsed()) / 1e6);
        t.start();
        QScrollBar* bar = window->eventTable->verticalScrollBar();
        while (window->model().canFetchMore({})) {
            bar->setValue(bar->maximum());
            QCoreApplication::processEvents();
        }
        window->eventTable->scrollToBottom();
        QCoreApplication::processEvents();
        oldest.push_back(double(t.nsecsElapsed()) / 1e6);
        delete window;
    }
    {
        std::vector<double> drop;
        QElapsedTimer t;
        for (int i = 0; i < 5; ++i) {
            std::vector<JournalEvent> batch(1000, alarm(i)); // pushes 1000 of the oldest out
            t.start();
            journal.record(std::move(batch));
            drop.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        report("1000 events past the bound (1000 oldest dropped)", drop);
    }
    report("events window open and shown on 100 000 events", open);
    report("from the newest to the oldest (scroll bar to its end)", oldest);
    return 0;
}
