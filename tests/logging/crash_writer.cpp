// Child process of the crash test: records as fast as it can into the database given on the
// command line, with a clock that moves one second per tick, and prints every record whose
// commit returned, right after it returned. The test kills it at random moments.
//   logging_crash_writer DATABASE FIRST_SECOND
#include <cstdio>

#include <QCoreApplication>

#include "LoggingTestSupport.h"
#include "core/FreshValues.h"
#include "core/SharedState.h"
#include "logging/mscom.h"

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: logging_crash_writer DATABASE FIRST_SECOND\n");
        return 2;
    }
    hx::testing::FakeClock clock;
    clock.advance(QByteArray(argv[2]).toLongLong() - clock.seconds());
    hx::mscom recorder(QString::fromLocal8Bit(argv[1]), clock);
    recorder.Timer1.stop();
    if (!recorder.status().databaseAvailable) {
        std::fprintf(stderr, "no database: %s\n", qPrintable(recorder.status().lastError));
        return 1;
    }
    QObject::connect(&recorder, &hx::mscom::recordWritten, [](const hx::StoredRecord& r, hx::WriteOutcome o) {
        if (o != hx::WriteOutcome::Committed) return;
        std::printf("%d %.17g %.17g", r.id, r.date, r.time);
        for (float v : r.values)
            std::printf(" %.9g", double(v));
        std::printf("\n");
        std::fflush(stdout);
    });
    for (;;) {
        const qint64 second = clock.seconds();
        for (int i = 0; i < 10; ++i)
            hx::Pv_Value[i] = float(second % 1000000) + i * 0.25f;
        hx::freshValues().noteMeasured(0, hx::FreshValues::kValues, hx::FreshValues::steadyNowMs());
        recorder.Timer1_Timer();
        clock.advance(1);
    }
}
