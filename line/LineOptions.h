#pragma once
// The command line of hx5800-line: the line (--port, --baud, --parity, as hx5800-config takes
// them), the instruments on it (--addresses) and where their recordings go (--data), given as
// arguments or as KEY=value lines of a settings file (--config, what the service unit reads).
// Everything here is checked before the line is touched; a refusal says why and ends with exit
// status 2.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace hx::line {

struct LineOptions {
    QString portText = QStringLiteral("1"); // as given: N, a device or tcp://HOST[:PORT]
    QString device;                         // the device or gateway it names
    int32_t baudChoice = 1;                 // 0 4800, 1 9600, 2 19200
    int32_t parityChoice = 0;               // 0 none, 1 odd, 2 even
    std::vector<int> addresses;             // ascending, each once
    QString dataDir;
    // Where the Modbus TCP clients connect: loopback unless told otherwise.
    QString listenText = QStringLiteral("127.0.0.1:1502");
    // The publisher's settings a settings file gave (HX5800_MQTT=...), for the environment.
    std::vector<std::pair<QString, QString>> environment;
    bool check = false; // --check: the settings are read and shown, nothing is opened
    bool help = false;
};

// `arguments` without the program name, --config FILE read in its place; nullopt with *why for
// a command line that cannot be used. The data folder is not looked at here (prepareDataFolder).
std::optional<LineOptions> parseLineOptions(const QStringList& arguments, QString* why);

// The lines of a settings file as arguments: "PORT=/dev/ttyUSB0" is --port /dev/ttyUSB0 (each
// key is a valued option's name in capitals, '-' as '_'); blank lines and lines starting with
// '#' are passed over, a value may be quoted. The publisher's variables (HX5800_MQTT, ...) go
// to *environment. nullopt with *why naming the file and line for a key that is no option or
// is given twice, or a file that cannot be read.
std::optional<QStringList>
readSettingsFile(const QString& path, std::vector<std::pair<QString, QString>>* environment, QString* why);

// What the options come to, a line each, as --check shows them.
QString settingsText(const LineOptions& options);

// DIR/<address>/Rdatabj.db
QString databasePathOf(const QString& dataDir, int address);

// Makes the data folder and each instrument's folder and database where missing; false with
// *why when the folder cannot be written or a database cannot be made.
bool prepareDataFolder(const LineOptions& options, QString* why);

// The line as topics and log lines name it: "com1" for a port number (as the window names
// it), otherwise the device or gateway ("ttyUSB0", "tcp-10-0-0-5-502" once made a topic).
QString lineNameOf(const QString& portText);

QString usageText();

} // namespace hx::line
