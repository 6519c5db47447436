// hx5800-export: the recording database as CSV for a spreadsheet, and the daily archive job
// that keeps every record beyond the ring's 18 hours.
#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include "journal/EventCsv.h"
#include "journal/EventJournal.h"
#include "logging/CsvExport.h"
#include "logging/RecordStore.h"

namespace {

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: hx5800-export [--events] [--from TIME] [--to TIME] [--since-last FILE] [--output "
                 "PATH] [DATABASE]\n"
                 "Writes the records of the HX5800 recording database as CSV, one row per record in\n"
                 "time order: date-time (ISO 8601), CH1..CH8, DA1, DA2 as stored. The database is\n"
                 "opened read-only; the recording goes on undisturbed.\n"
                 "\n"
                 "  DATABASE           default: $HX5800_DB, else ~/Trendlog/Rdatabj.db\n"
                 "  --from TIME        records at or after TIME (2024-03-14T08:00:00, or a date)\n"
                 "  --to TIME          records before TIME\n"
                 "  --since-last FILE  only records after the instant FILE holds, then store the\n"
                 "                     instant of the last record written in FILE (created when missing)\n"
                 "  --output PATH      append to PATH instead of standard output; {date} in PATH stands\n"
                 "                     for the record's day (YYYY-MM-DD): one file per day\n"
                 "  --events           the event journal instead (Events.db beside DATABASE): id,\n"
                 "                     date-time, kind, subject, text, acknowledged-at; --since-last\n"
                 "                     then needs a cursor file of its own\n"
                 "  --help             show this text\n"
                 "\n"
                 "Exit status: 0 done, 1 database or output failed, 2 bad arguments or range.\n");
}

int refuse(int code, const QString& why) {
    std::fprintf(stderr, "hx5800-export: %s\n", qPrintable(why));
    return code;
}

// The journal's events within the range's from and to, after the cursor in sinceLastFile.
int exportEvents(const QString& journal, const hx::ExportRange& range, const QString& sinceLastFile,
                 const QString& outputPattern) {
    hx::EventRange events{range.from, range.to, std::nullopt};
    QString error;
    if (!sinceLastFile.isEmpty()) {
        events.after = hx::readEventCursor(sinceLastFile, &error);
        if (!error.isEmpty()) return refuse(1, error);
    }
    hx::CsvOutput output(outputPattern, hx::kEventCsvHeader);
    hx::EventExportSummary summary;
    const bool exported = hx::exportEvents(
        journal, events,
        [&output](hx::EventInstant at, std::string_view line) { return output.write(at, line); }, &summary,
        &error);
    if (!exported) return refuse(1, output.error().isEmpty() ? error : output.error());
    if (!output.finish()) return refuse(1, output.error());
    if (!sinceLastFile.isEmpty() && summary.last &&
        !hx::writeEventCursor(sinceLastFile, *summary.last, &error))
        return refuse(1, error);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    hx::ExportRange range;
    QString database;
    QString sinceLastFile;
    QString outputPattern;
    bool events = false;
    const QStringList arguments = app.arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            printUsage(stdout);
            return 0;
        }
        if (argument == QLatin1String("--events")) {
            events = true;
            continue;
        }
        const bool takesValue = argument == QLatin1String("--from") || argument == QLatin1String("--to") ||
                                argument == QLatin1String("--since-last") ||
                                argument == QLatin1String("--output");
        if (takesValue) {
            if (i + 1 >= arguments.size()) return refuse(2, argument + QStringLiteral(" needs a value"));
            const QString value = arguments[++i];
            if (argument == QLatin1String("--since-last")) {
                sinceLastFile = value;
            } else if (argument == QLatin1String("--output")) {
                outputPattern = value;
            } else {
                const auto instant = hx::instantOfIsoText(value);
                if (!instant)
                    return refuse(
                        2, QStringLiteral("%1 %2 is not an ISO 8601 date and time").arg(argument, value));
                (argument == QLatin1String("--from") ? range.from : range.to) = instant;
            }
        } else if (argument.startsWith(QLatin1Char('-')) || !database.isEmpty()) {
            return refuse(2, QStringLiteral("unexpected argument %1 (--help shows the usage)").arg(argument));
        } else {
            database = argument;
        }
    }
    if (range.isEmpty())
        return refuse(2, QStringLiteral("--from %1 is not before --to %2")
                             .arg(hx::isoTextOfInstant(*range.from), hx::isoTextOfInstant(*range.to)));
    if (database.isEmpty()) database = hx::defaultDatabasePath();

    if (events)
        return exportEvents(hx::EventJournal::pathBeside(database), range, sinceLastFile, outputPattern);

    QString error;
    if (!sinceLastFile.isEmpty()) {
        range.after = hx::readLastExported(sinceLastFile, &error);
        if (!error.isEmpty()) return refuse(1, error);
    }

    hx::CsvOutput output(outputPattern);
    hx::ExportSummary summary;
    const bool exported = hx::exportRecords(
        database, range,
        [&output](hx::RecordInstant instant, std::string_view line) { return output.write(instant, line); },
        &summary, &error);
    if (!exported) return refuse(1, output.error().isEmpty() ? error : output.error());
    if (!output.finish()) return refuse(1, output.error());

    if (!sinceLastFile.isEmpty()) {
        // The ring may have overwritten records the last run had not reached: say so, the
        // export itself is good.
        if (range.after && summary.ringFull && summary.oldestInRing &&
            *summary.oldestInRing > *range.after + 1)
            std::fprintf(stderr,
                         "hx5800-export: warning: records after %s and before %s, if any, were "
                         "overwritten in the ring before this export\n",
                         qPrintable(hx::isoTextOfInstant(*range.after)),
                         qPrintable(hx::isoTextOfInstant(*summary.oldestInRing)));
        if (summary.last && !hx::writeLastExported(sinceLastFile, *summary.last, &error))
            return refuse(1, error);
    }
    return 0;
}
