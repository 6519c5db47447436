// hx5800-config: an instrument's settings as a file for commissioning. save keeps them, diff
// compares a running instrument with the file, restore brings an instrument to the file.
#include <cstdio>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include "instrument/LineRegisters.h"
#include "link/LineChoice.h"
#include "link/ModbusLink.h"
#include "link/PortMap.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsTransfer.h"

using namespace hx::config;

namespace {

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: hx5800-config [LINE OPTIONS] save FILE\n"
                 "       hx5800-config [LINE OPTIONS] diff FILE\n"
                 "       hx5800-config [LINE OPTIONS] restore FILE [--dry-run] [--include-line-settings]\n"
                 "                                                 [--include-password]\n"
                 "Keeps the settings of an HX5800 in a text file, compares an instrument with it and\n"
                 "sets an instrument up from it.\n"
                 "\n"
                 "  save FILE      read the 96 configuration and 16 alarm registers and, for reference,\n"
                 "                 the 56 calibration registers into FILE (replaced only when all are read)\n"
                 "  diff FILE      show the configuration and alarm registers that differ from FILE\n"
                 "  restore FILE   write the configuration and alarm registers that differ from FILE, each\n"
                 "                 read back; calibration is never written. Again after an interruption:\n"
                 "                 it writes what still differs\n"
                 "  --dry-run                 show what restore would write, write nothing\n"
                 "  --include-line-settings   also write address, baud rate and parity (4105..4107), last\n"
                 "  --include-password        also write the password (4097)\n"
                 "\n"
                 "Line options, as in the main window (HX5800_COM<n> names the device of port n):\n"
                 "  --port N                  default 1\n"
                 "  --address A               1..247, default 1\n"
                 "  --baud 4800|9600|19200    default 9600\n"
                 "  --parity none|odd|even    default none\n"
                 "  --help                    show this text\n"
                 "\n"
                 "Exit status: 0 done (diff: no difference), 1 diff found differences, 2 failure or bad\n"
                 "arguments.\n");
}

constexpr int kFailed = 2;

int refuse(const QString& why) {
    std::fprintf(stderr, "hx5800-config: %s\n", why.toUtf8().constData());
    return kFailed;
}

void say(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
}

// Columns as a terminal shows them: CJK and full-width characters take two.
int displayWidth(const QString& text) {
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x2E80 && !c.isLowSurrogate() ? 2 : 1;
    return width;
}

QString padded(const QString& text, int width) {
    return text + QString(qMax(0, width - displayWidth(text)), u' ');
}

QString valueText(int32_t reg, int32_t value) {
    const QString shown = shownValue(reg, value);
    return shown.isEmpty() ? QString::number(value) : QStringLiteral("%1 %2").arg(value).arg(shown);
}

QString nameOf(int32_t reg) {
    const SettingsRegister* r = settingsRegister(reg);
    if (!r) return {};
    const QString name = r->name.isEmpty() ? QStringLiteral("(未用)") : r->name;
    return r->place.isEmpty() ? name : QStringLiteral("%1 [%2]").arg(name, r->place);
}

void printTable(const QStringList& header, const QList<QStringList>& rows) {
    QList<int> widths;
    for (const QString& h : header)
        widths.append(displayWidth(h));
    for (const QStringList& row : rows) {
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = qMax(widths[c], displayWidth(row[c]));
    }
    const auto line = [&widths](const QStringList& cells) {
        QString out;
        for (qsizetype c = 0; c < cells.size(); ++c)
            out += c + 1 < cells.size() ? padded(cells[c], widths[c] + 2) : cells[c];
        say(out);
    };
    line(header);
    for (const QStringList& row : rows)
        line(row);
}

QList<QStringList> differenceRows(const std::vector<Difference>& differences) {
    QList<QStringList> rows;
    for (const Difference& d : differences)
        rows.append({QString::number(d.reg), nameOf(d.reg), valueText(d.reg, d.file),
                     valueText(d.reg, d.instrument)});
    return rows;
}

const QStringList kDifferenceHeader = {QStringLiteral("register"), QStringLiteral("name"),
                                       QStringLiteral("file"), QStringLiteral("instrument")};

struct Command {
    QString action; // save, diff, restore
    QString file;
    LineSettings line;
    bool dryRun = false;
    RestoreOptions options;
};

// The command line, or the reason it is refused.
std::optional<Command> parse(const QStringList& arguments, QString* why) {
    Command command;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--dry-run")) {
            command.dryRun = true;
        } else if (argument == QLatin1String("--include-line-settings")) {
            command.options.lineSettings = true;
        } else if (argument == QLatin1String("--include-password")) {
            command.options.password = true;
        } else if (argument == QLatin1String("--port") || argument == QLatin1String("--address") ||
                   argument == QLatin1String("--baud") || argument == QLatin1String("--parity")) {
            if (i + 1 >= arguments.size()) {
                *why = argument + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            const QString value = arguments[++i];
            bool ok = true;
            if (argument == QLatin1String("--port")) {
                command.line.port = value.toInt(&ok);
                ok = ok && command.line.port >= 1;
            } else if (argument == QLatin1String("--address")) {
                command.line.address = value.toInt(&ok);
                ok = ok && command.line.address >= 1 && command.line.address <= 247;
            } else if (argument == QLatin1String("--baud")) {
                command.line.baudChoice = hx::baudChoiceOf(value.toStdString()).value_or(-1);
                ok = command.line.baudChoice >= 0;
            } else {
                command.line.parityChoice = hx::parityChoiceOf(value.toStdString()).value_or(-1);
                ok = command.line.parityChoice >= 0;
            }
            if (!ok) {
                *why = QStringLiteral("%1 %2 is not a valid setting").arg(argument, value);
                return std::nullopt;
            }
        } else if (argument.startsWith(u'-') || !command.file.isEmpty()) {
            *why = QStringLiteral("unexpected argument %1 (--help shows the usage)").arg(argument);
            return std::nullopt;
        } else if (command.action.isEmpty()) {
            command.action = argument;
            if (command.action != QLatin1String("save") && command.action != QLatin1String("diff") &&
                command.action != QLatin1String("restore")) {
                *why = QStringLiteral("unknown command %1 (save, diff or restore)").arg(argument);
                return std::nullopt;
            }
        } else {
            command.file = argument;
        }
    }
    if (command.file.isEmpty()) {
        *why = QStringLiteral("a command and a FILE are needed (--help shows the usage)");
        return std::nullopt;
    }
    if ((command.dryRun || command.options.lineSettings || command.options.password) &&
        command.action != QLatin1String("restore")) {
        *why = QStringLiteral("--dry-run and --include-... go with restore only");
        return std::nullopt;
    }
    return command;
}

std::optional<SettingsFile> loadFile(const QString& path, QString* why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QString error;
    auto settings = parseSettings(QString::fromUtf8(file.readAll()), &error);
    if (!settings) *why = QStringLiteral("%1: %2").arg(path, error);
    return settings;
}

int save(hx::Link& link, const Command& command, const QString& lineDescription) {
    QString error;
    const std::optional<RegisterValues> values = readSettings(link, command.line, &error);
    if (!values) return refuse(error + QStringLiteral("; nothing written"));
    SettingsFile settings;
    const QDateTime now = QDateTime::currentDateTime();
    settings.saved = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
    settings.line = lineDescription;
    settings.values = *values;
    // Written beside the file and renamed over it: an old file stays whole until the new
    // one is complete.
    QSaveFile out(command.file);
    if (!out.open(QIODevice::WriteOnly) || out.write(settingsText(settings).toUtf8()) < 0 || !out.commit())
        return refuse(QStringLiteral("%1: %2").arg(command.file, out.errorString()));
    say(QStringLiteral("saved %1 registers from %2 to %3")
            .arg(values->size())
            .arg(lineDescription, command.file));
    return 0;
}

int diff(const SettingsFile& settings, const RegisterValues& instrument) {
    const std::vector<Difference> found = differences(settings.values, instrument);
    const std::vector<Difference> reference = referenceDifferences(settings.values, instrument);
    if (found.empty()) {
        say(QStringLiteral("no difference: the instrument matches the file"));
    } else {
        printTable(kDifferenceHeader, differenceRows(found));
        say(QStringLiteral("%1 register(s) differ").arg(found.size()));
    }
    if (!reference.empty())
        say(QStringLiteral("(%1 calibration or unused register(s) differ too: kept for reference, never "
                           "compared or written)")
                .arg(reference.size()));
    return found.empty() ? 0 : 1;
}

QString outcomeText(const WriteResult& result) {
    const QString reason = causeText(result.failure.value_or(hx::CallFailure{}));
    switch (result.outcome) {
    case WriteOutcome::Confirmed:
        return QStringLiteral("written, reads back %1").arg(result.readBack);
    case WriteOutcome::Differs:
        return QStringLiteral("FAILED: written, but reads back %1").arg(result.readBack);
    case WriteOutcome::Refused:
        return QStringLiteral("FAILED: refused, %1").arg(reason);
    case WriteOutcome::NoAnswer:
        return result.answered
                   ? QStringLiteral("STOPPED: written, but the read back failed: %1").arg(reason)
                   : QStringLiteral("STOPPED: %1; the instrument may or may not have taken it").arg(reason);
    }
    return {};
}

// gateway: the port is a Modbus TCP gateway, whose serial side must follow the instrument's
// line settings; this program reaches it by the unit identifier alone.
int restore(hx::Link& link, const Command& command, const SettingsFile& settings,
            const RegisterValues& instrument, bool gateway) {
    const RestorePlan plan = planRestore(settings.values, instrument, command.options);
    if (!plan.refusals.empty()) {
        for (const QString& why : plan.refusals)
            refuse(QStringLiteral("%1: %2").arg(command.file, why));
        return refuse(QStringLiteral("restore refused, nothing written"));
    }
    for (const Difference& d : plan.skipped) {
        const bool line = settingsRegister(d.reg)->role == SettingsRole::LineSetting;
        say(QStringLiteral("skipped %1 %2: file %3, instrument %4 (needs %5)")
                .arg(d.reg)
                .arg(nameOf(d.reg), valueText(d.reg, d.file), valueText(d.reg, d.instrument),
                     line ? QStringLiteral("--include-line-settings")
                          : QStringLiteral("--include-password")));
    }
    if (plan.writes.empty()) {
        // Differences that need a flag are differences all the same.
        say(plan.skipped.empty()
                ? QStringLiteral("nothing to write: the instrument matches the file")
                : QStringLiteral("nothing written: the instrument differs from the file only in the %1 "
                                 "register(s) skipped above; add the option each names to write them")
                      .arg(plan.skipped.size()));
        return 0;
    }
    if (command.dryRun) {
        say(QStringLiteral("would write %1 register(s), in this order:").arg(plan.writes.size()));
        printTable(kDifferenceHeader, differenceRows(plan.writes));
        return 0;
    }
    say(QStringLiteral("writing %1 register(s):").arg(plan.writes.size()));
    int written = 0, failed = 0;
    const RestoreRun run = runRestore(link, command.line, plan.writes, [&](const WriteResult& r) {
        r.outcome == WriteOutcome::Confirmed ? ++written : ++failed;
        say(QStringLiteral("%1 %2: %3 -> %4: %5")
                .arg(r.write.reg)
                .arg(nameOf(r.write.reg), valueText(r.write.reg, r.write.instrument),
                     valueText(r.write.reg, r.write.file), outcomeText(r)));
    });
    if (run.stopped) {
        say(QStringLiteral(
                "restore stopped at register %1: %2 of %3 register(s) written and confirmed (listed "
                "above), %4 not tried. Run the same command again to finish: it writes only what "
                "still differs.")
                .arg(run.results.back().write.reg)
                .arg(written)
                .arg(plan.writes.size())
                .arg(plan.writes.size() - run.results.size()));
    } else {
        say(QStringLiteral("restore done: %1 of %2 register(s) written and confirmed")
                .arg(written)
                .arg(plan.writes.size()));
    }
    const bool lineWritten = std::any_of(run.results.begin(), run.results.end(), [](const WriteResult& r) {
        return settingsRegister(r.write.reg)->role == SettingsRole::LineSetting;
    });
    if (lineWritten) {
        LineSettings target = command.line;
        for (int32_t reg : {kLineRegisters.address, kLineRegisters.baud, kLineRegisters.parity}) {
            const auto value = settings.values.find(reg);
            const auto current = instrument.find(reg);
            target =
                afterWriting(target, reg, value != settings.values.end() ? value->second : current->second);
        }
        const QString reach =
            gateway ? QStringLiteral(
                          "--port %1 --address %2, the gateway's serial side set to %3 baud, parity %4")
                    : QStringLiteral("--port %1 --address %2 --baud %3 --parity %4");
        const QString reachTarget = reach.arg(target.port)
                                        .arg(target.address)
                                        .arg(hx::baudOfChoice(target.baudChoice))
                                        .arg(parityName(target.parityChoice));
        // Through a gateway the instrument's serial side is what it held before, not this line's.
        LineSettings current = run.line;
        if (gateway) {
            current.baudChoice = instrument.at(kLineRegisters.baud);
            current.parityChoice = instrument.at(kLineRegisters.parity);
        }
        if (current.address == target.address && current.baudChoice == target.baudChoice &&
            current.parityChoice == target.parityChoice)
            say(QStringLiteral("line settings: the instrument answers at %1; reach it with %2")
                    .arg(lineText(target), reachTarget));
        else
            say(QStringLiteral("line settings: the instrument still answers at %1 and holds %2 for its next "
                               "start; then reach it with %3")
                    .arg(lineText(current), lineText(target), reachTarget));
    }
    return run.stopped || failed > 0 ? kFailed : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // Each register's line goes out as soon as it is done: a restore cut short leaves its
    // account, also through a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        printUsage(stdout);
        return 0;
    }
    QString why;
    const std::optional<Command> command = parse(arguments, &why);
    if (!command) return refuse(why);

    std::optional<SettingsFile> settings;
    if (command->action != QLatin1String("save")) {
        settings = loadFile(command->file, &why);
        if (!settings) return refuse(why);
    }

    hx::ModbusLink link;
    const LineSettings& line = command->line;
    if (link.OpenPort_Modbus(line.port, line.baudChoice, line.parityChoice) != 0) {
        const hx::PortStatus status = link.portStatus(line.port);
        return refuse(QStringLiteral("cannot open port %1 (%2): %3")
                          .arg(line.port)
                          .arg(QString::fromStdString(status.device), QString::fromStdString(status.error)));
    }
    // Behind a gateway the address is the unit identifier; the baud rate and parity are the
    // gateway's own business, not this line's.
    const std::string device = link.portStatus(line.port).device;
    const bool gateway = hx::namesGateway(device);
    const QString lineDescription =
        QStringLiteral("port %1 (%2), %3")
            .arg(line.port)
            .arg(QString::fromStdString(device),
                 gateway ? QStringLiteral("unit identifier %1").arg(line.address) : lineText(line));
    if (command->action == QLatin1String("save")) return save(link, *command, lineDescription);

    const std::optional<RegisterValues> instrument = readSettings(link, line, &why);
    if (!instrument) return refuse(why);
    if (command->action == QLatin1String("diff")) return diff(*settings, *instrument);
    return restore(link, *command, *settings, *instrument, gateway);
}
