// hx5800: the supervisory program. Starts in the splash window, which hands over to the
// main window, the poll host and the recorder.
#include "app/Application.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kHelp =
    "Usage: hx5800 [--help | --version]\n"
    "\n"
    "The supervisory program of the HX5800 process-control and recording instrument on an\n"
    "RS-485 Modbus RTU line. Port, module address, baud rate and parity are chosen in the main\n"
    "window.\n"
    "\n"
    "Environment:\n"
    "  HX5800_COM<n>   device of port number n (e.g. HX5800_COM1=/dev/ttyUSB3); without it\n"
    "                  /dev/ttyUSB<n-1> when it exists, else /dev/ttyS<n-1>\n"
    "  HX5800_DB       the recording database (default ~/Trendlog/Rdatabj.db; create it with\n"
    "                  hx5800-initdb); printouts and reports go into its folder\n"
    "  HX5800_TRACE    a file to append one line per Modbus transaction to\n"
    "  HX5800_MQTT     a broker to publish the records, the status and the events to:\n"
    "                  mqtt://host:1883, or mqtts://host:8883 for TLS (unset: no publishing)\n"
    "  HX5800_MQTT_CA  with mqtts://: the certificate authority of the broker's certificate\n"
    "                  (default: the system's)\n"
    "  HX5800_MQTT_USER           the broker login's user name\n"
    "  HX5800_MQTT_PASSWORD_FILE  a file whose first line is the login's password\n"
    "  HX5800_MQTT_TOPIC          the topic prefix (default hx5800/<host name>/<module address>)\n"
    "\n"
    "  --help          print this text and exit\n"
    "  --version       print the version and exit\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so they work without a display (installers, scripts).
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("hx5800 %s\n", HX5800_VERSION);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("hx5800"));
    QApplication::setApplicationVersion(QStringLiteral(HX5800_VERSION));
    hx::Application app;
    app.start();
    return qtApp.exec();
}
