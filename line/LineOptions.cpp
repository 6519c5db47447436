#include "line/LineOptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>

#include "core/AddressList.h"
#include "line/ModbusTcpServer.h"
#include "link/LineChoice.h"
#include "link/PortMap.h"
#include "logging/DatabaseSetup.h"

namespace hx::line {

namespace {

bool isPortNumber(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n >= 1 && n <= 65535 && !text.startsWith(u'+');
}

// The options that take a value; each is also a key of a settings file.
const QStringList kValuedOptions = {"--port", "--baud", "--parity", "--addresses", "--data", "--listen"};

// The publisher's settings a settings file may carry (publish/MqttSettings.h reads them). Not
// HX5800_MQTT_TOPIC: one prefix for every instrument of the line would mix them.
const QStringList kPublishingVariables = {"HX5800_MQTT", "HX5800_MQTT_CA", "HX5800_MQTT_USER",
                                          "HX5800_MQTT_PASSWORD_FILE"};

QString keyOf(const QString& option) {
    return option.mid(2).toUpper().replace(u'-', u'_');
}

// --config FILE replaced by the file's lines as arguments; later arguments win over earlier.
std::optional<QStringList> withSettingsFiles(const QStringList& arguments,
                                             std::vector<std::pair<QString, QString>>* environment,
                                             QString* why) {
    QStringList expanded;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != QLatin1String("--config")) {
            expanded << arguments[i];
            continue;
        }
        if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
            *why = QStringLiteral("--config needs a value");
            return std::nullopt;
        }
        const auto lines = readSettingsFile(arguments[++i], environment, why);
        if (!lines) return std::nullopt;
        expanded << *lines;
    }
    return expanded;
}

} // namespace

std::optional<QStringList>
readSettingsFile(const QString& path, std::vector<std::pair<QString, QString>>* environment, QString* why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *why = QStringLiteral("--config %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QStringList known;
    for (const QString& option : kValuedOptions)
        known << keyOf(option);
    QStringList arguments;
    QStringList keys;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        const QString key = line.section(u'=', 0, 0).trimmed();
        QString value = line.section(u'=', 1).trimmed();
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        const QString where = QStringLiteral("%1:%2: ").arg(path).arg(number);
        if (!line.contains(u'=') || (!known.contains(key) && !kPublishingVariables.contains(key))) {
            *why = where + QStringLiteral("%1 is no setting (KEY=value, KEY one of %2)")
                               .arg(line, (known + kPublishingVariables).join(QStringLiteral(", ")));
            return std::nullopt;
        }
        if (keys.contains(key)) {
            *why = where + QStringLiteral("%1 is given twice").arg(key);
            return std::nullopt;
        }
        keys << key;
        if (kPublishingVariables.contains(key))
            environment->emplace_back(key, value);
        else
            arguments << kValuedOptions[known.indexOf(key)] << value;
    }
    return arguments;
}

std::optional<LineOptions> parseLineOptions(const QStringList& given, QString* why) {
    LineOptions options;
    const auto expanded = withSettingsFiles(given, &options.environment, why);
    if (!expanded) return std::nullopt;
    const QStringList& arguments = *expanded;
    bool addressesGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
            continue;
        }
        if (argument == QLatin1String("--check")) {
            options.check = true;
            continue;
        }
        if (!kValuedOptions.contains(argument)) {
            *why = QStringLiteral("unexpected argument %1 (--help shows the usage)").arg(argument);
            return std::nullopt;
        }
        if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
            *why = argument + QStringLiteral(" needs a value");
            return std::nullopt;
        }
        const QString value = arguments[++i];
        const std::string text = value.toStdString();
        std::string reason;
        if (argument == QLatin1String("--port")) {
            options.portText = value;
        } else if (argument == QLatin1String("--baud")) {
            const auto choice = baudChoiceOf(text);
            if (!choice) reason = "is not 4800, 9600 or 19200";
            options.baudChoice = choice.value_or(1);
        } else if (argument == QLatin1String("--parity")) {
            const auto choice = parityChoiceOf(text);
            if (!choice) reason = "is not none, odd or even";
            options.parityChoice = choice.value_or(0);
        } else if (argument == QLatin1String("--addresses")) {
            if (const auto list = parseAddressList(text, reason)) options.addresses = *list;
            addressesGiven = true;
        } else if (argument == QLatin1String("--listen")) {
            if (!listenAddressOf(value)) reason = "is not ADDRESS:PORT (127.0.0.1:1502, [::1]:1502)";
            options.listenText = value;
        } else {
            options.dataDir = value;
        }
        if (!reason.empty()) {
            *why = QStringLiteral("%1 %2: %3").arg(argument, value, QString::fromStdString(reason));
            return std::nullopt;
        }
    }
    if (options.help) return options;
    if (!addressesGiven || options.dataDir.isEmpty()) {
        *why = QStringLiteral("--addresses and --data are needed (--help shows the usage)");
        return std::nullopt;
    }
    options.device = QString::fromStdString(devicePathForPortText(options.portText.toStdString()));
    if (options.device.isEmpty()) {
        *why = QStringLiteral("--port %1 names no device").arg(options.portText);
        return std::nullopt;
    }
    if (namesGateway(options.device.toStdString()) && !gatewayOf(options.device.toStdString())) {
        *why = QStringLiteral("--port %1: not a gateway address (tcp://HOST[:PORT])").arg(options.portText);
        return std::nullopt;
    }
    return options;
}

QString databasePathOf(const QString& dataDir, int address) {
    return QDir(dataDir).filePath(QStringLiteral("%1/Rdatabj.db").arg(address));
}

bool prepareDataFolder(const LineOptions& options, QString* why) {
    const QDir dir(options.dataDir);
    if (!dir.mkpath(QStringLiteral("."))) {
        *why = QStringLiteral("--data %1: the folder cannot be made").arg(options.dataDir);
        return false;
    }
    // Tried, not looked up: permissions, a read-only mount and a full disk all show here.
    QTemporaryFile probe(dir.filePath(QStringLiteral(".hx5800-line-XXXXXX")));
    if (!probe.open()) {
        *why = QStringLiteral("--data %1: the folder cannot be written (%2)")
                   .arg(options.dataDir, probe.errorString());
        return false;
    }
    for (const int address : options.addresses) {
        const QString path = databasePathOf(options.dataDir, address);
        if (QFileInfo::exists(path)) continue;
        QString error;
        if (!createRecordDatabase(path, false, &error)) {
            *why = QStringLiteral("%1: %2").arg(path, error);
            return false;
        }
    }
    return true;
}

QString lineNameOf(const QString& portText) {
    return isPortNumber(portText) ? QStringLiteral("com%1").arg(portText.toInt()) : portText;
}

QString settingsText(const LineOptions& options) {
    QStringList addresses;
    for (const int address : options.addresses)
        addresses << QString::number(address);
    static const char* const bauds[] = {"4800", "9600", "19200"};
    static const char* const parities[] = {"none", "odd", "even"};
    QString text =
        QStringLiteral("line %1 (%2), %3 baud, parity %4\naddresses %5\ndata %6\n")
            .arg(lineNameOf(options.portText), options.device)
            .arg(QLatin1String(bauds[options.baudChoice]), QLatin1String(parities[options.parityChoice]),
                 addresses.join(u','), options.dataDir);
    for (const auto& [name, value] : options.environment)
        text += QStringLiteral("%1 set\n").arg(name);
    return text;
}

QString usageText() {
    return QStringLiteral(
        "Usage: hx5800-line --addresses LIST --data DIR [--port N|DEVICE|tcp://HOST[:PORT]]\n"
        "                   [--baud 4800|9600|19200] [--parity none|odd|even]\n"
        "                   [--listen ADDRESS:PORT]\n"
        "       hx5800-line --config FILE [OPTION...] [--check]\n"
        "Owns one line and records every instrument on it, around the clock: each address is\n"
        "polled in turn and, once a second, recorded into DIR/<address>/Rdatabj.db (made when\n"
        "missing), with its own event journal beside it and, when HX5800_MQTT is set, its own\n"
        "MQTT publisher. Windows and tools reach the instruments through it over Modbus TCP\n"
        "(the unit identifier is the instrument's address).\n"
        "\n"
        "  --addresses LIST   the instruments, as 1-4,7 (1..247, each once)\n"
        "  --data DIR         where the recordings go; must be writable\n"
        "  --port P           a port number (HX5800_COM<n> names its device, as in the main\n"
        "                     window), a serial device or a Modbus TCP gateway; default 1\n"
        "  --baud B           default 9600 (behind a gateway: the gateway's own)\n"
        "  --parity P         default none\n"
        "  --listen A:P       where Modbus TCP clients connect; default 127.0.0.1:1502\n"
        "                     (0.0.0.0:1502 lets every network in)\n"
        "  --config FILE      the options as KEY=value lines (PORT=/dev/ttyUSB0, BAUD=9600,\n"
        "                     PARITY=none, ADDRESSES=1-8, DATA=/var/lib/hx5800/line1,\n"
        "                     LISTEN=127.0.0.1:1502) and the\n"
        "                     publisher's HX5800_MQTT, HX5800_MQTT_CA, HX5800_MQTT_USER and\n"
        "                     HX5800_MQTT_PASSWORD_FILE; '#' starts a comment line. Options\n"
        "                     given after it win over the file's\n"
        "  --check            read and show the settings, open nothing\n"
        "  --help             show this text\n"
        "\n"
        "Ends cleanly on SIGTERM or SIGINT. Exit status 2: bad arguments, a data folder that\n"
        "cannot be written, a listen address in use, or a line that cannot be opened (held by\n"
        "another program, ...).\n");
}

} // namespace hx::line
