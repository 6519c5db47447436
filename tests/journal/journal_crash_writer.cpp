// Child process of the journal's crash test: stores events into the journal given on the
// command line as fast as it can, one to three a transaction, and prints the id and text of
// every event whose record() returned, right after it returned. The test kills it at random.
//   journal_crash_writer JOURNAL RUN
#include "journal/EventJournal.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: journal_crash_writer JOURNAL RUN\n");
        return 2;
    }
    hx::EventJournal journal(QString::fromLocal8Bit(argv[1]));
    if (!journal.available()) {
        std::fprintf(stderr, "no journal: %s\n", qPrintable(journal.lastError()));
        return 1;
    }
    for (int n = 0;; ++n) {
        std::vector<hx::JournalEvent> events(size_t(1 + n % 3));
        for (size_t i = 0; i < events.size(); ++i) {
            events[i].kind = hx::EventKind::AlarmRaised;
            events[i].alarmRow = 1 + int(i);
            events[i].text = QStringLiteral("run %1 event %2.%3").arg(argv[2]).arg(n).arg(i);
        }
        const int64_t first = journal.newestId() + 1;
        if (!journal.record(events)) return 1;
        for (size_t i = 0; i < events.size(); ++i)
            std::printf("%lld %s\n", static_cast<long long>(first + int64_t(i)), qPrintable(events[i].text));
        std::fflush(stdout);
    }
}
