// hx5800-initdb: creates the recording database the recorder and the history review use.
#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include "logging/DatabaseSetup.h"
#include "logging/RecordStore.h"
#include "logging/RecorderLock.h"

#include <QFileInfo>

namespace {

void printUsage(std::FILE* to) {
    std::fprintf(to, "Usage: hx5800-initdb [--force] [PATH]\n"
                     "Creates the HX5800 recording database: table pv_data (the ring of 65500\n"
                     "one-second records), table sl_void with the ring pointer row (0, 0), in\n"
                     "write-ahead-log mode. The folder is created when missing.\n"
                     "\n"
                     "  PATH     database file (default: $HX5800_DB, else ~/Trendlog/Rdatabj.db)\n"
                     "  --force  delete an existing file at PATH and create it anew\n"
                     "  --help   show this text\n"
                     "\n"
                     "An existing file is left untouched unless --force is given (exit status 1),\n"
                     "and --force is refused while a running program records into it.\n");
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    bool force = false;
    QString path;
    const QStringList arguments = app.arguments().mid(1);
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            printUsage(stdout);
            return 0;
        }
        if (argument == QLatin1String("--force")) {
            force = true;
        } else if (argument.startsWith(QLatin1Char('-')) || !path.isEmpty()) {
            std::fprintf(stderr, "hx5800-initdb: unexpected argument %s\n", qPrintable(argument));
            printUsage(stderr);
            return 2;
        } else {
            path = argument;
        }
    }
    if (path.isEmpty()) path = hx::defaultDatabasePath();

    // Not under a running recorder: its records would go on into a file deleted beneath it.
    // Held while the file is made anew, so no program starts recording into the old one.
    hx::RecorderLock lock(path);
    if (force && QFileInfo(path).isFile() && !lock.tryTake()) {
        if (lock.claim() == hx::RecorderClaim::OtherProgram)
            std::fprintf(
                stderr, "hx5800-initdb: a running program (process %lld%s) records into %s; end it first\n",
                static_cast<long long>(lock.otherPid()),
                lock.otherHost().isEmpty() ? "" : qPrintable(QStringLiteral(" on ") + lock.otherHost()),
                qPrintable(QDir::toNativeSeparators(path)));
        else
            std::fprintf(stderr, "hx5800-initdb: cannot make sure no program records into %s: %s\n",
                         qPrintable(QDir::toNativeSeparators(path)), qPrintable(lock.error()));
        return 1;
    }
    QString error;
    if (!hx::createRecordDatabase(path, force, &error)) {
        std::fprintf(stderr, "hx5800-initdb: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("created %s\n", qPrintable(QDir::toNativeSeparators(path)));
    return 0;
}
