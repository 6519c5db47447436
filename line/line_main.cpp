// hx5800-line: one program owns a line and records every instrument on it, around the clock.
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

#include "core/StopSignal.h"
#include "line/LineOptions.h"
#include "line/LineService.h"

namespace {

constexpr int kRefused = 2;

int refuse(const QString& why) {
    std::fprintf(stderr, "hx5800-line: %s\n", qPrintable(why));
    return kRefused;
}

} // namespace

int main(int argc, char* argv[]) {
    // Every recorder's tick and every message read the local time. Without TZ each reading
    // looks at /etc/localtime again, behind a lock all threads share; with it the zone is read
    // once, so a change of the machine's zone takes a restart of the service.
    if (qEnvironmentVariableIsEmpty("TZ")) qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);
    std::setvbuf(stderr, nullptr, _IOLBF, 0);
    QString why;
    const auto options = hx::line::parseLineOptions(app.arguments().mid(1), &why);
    if (!options) return refuse(why);
    if (options->help) {
        std::fputs(qPrintable(hx::line::usageText()), stdout);
        return 0;
    }
    if (options->check) {
        std::fputs(qPrintable(hx::line::settingsText(*options)), stdout);
        return 0;
    }
    // A settings file's publishing variables, as if the service had been started with them.
    for (const auto& [name, value] : options->environment)
        qputenv(name.toUtf8().constData(), value.toUtf8());
    if (!hx::line::prepareDataFolder(*options, &why)) return refuse(why);

    hx::line::LineService service(*options);
    if (!service.start(&why)) return refuse(why);
    // A stop from systemd or the terminal ends the poll and lets every publisher say "offline".
    const hx::StopSignal stopSignal([&] {
        service.stop();
        std::fprintf(stderr, "hx5800-line: stopped\n");
        QCoreApplication::quit();
    });
    return app.exec();
}
