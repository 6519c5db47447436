// What hx5800-config costs against an instrument that answers at a real line's speed
// (hx5800-sim --pace): the whole tool run as a process, save and a full restore (every
// configuration and alarm register it may write differing, both flags given), next to the
// wire time of the same transactions at 9600 and 19200 baud.
//
//   bench_config [runs]   (default 5; the simulator from HX5800_SIM or the build)
#include "instrument/FactoryRegisters.h"
#include "settings/SettingsFile.h"
#include "support/SimProcess.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace hx::config;

namespace {

// Characters on the wire of one transaction: request, answer, and the 3.5-character silence
// after each.
double transactionCharacters(int requestBytes, int answerBytes) {
    return requestBytes + answerBytes + 2 * 3.5;
}

// Every block of a settings file read once: read 8 or 16 holding registers (request 8 bytes,
// answer 5 + 2 per register).
double readAllCharacters() {
    double characters = 0;
    for (const hx::SheetRead& block : hx::kSheetReads)
        characters += transactionCharacters(8, 5 + 2 * block.count);
    return characters;
}

// One register written (request and echo 8 bytes each) and read back in its block of 8.
double writeCharacters() {
    return transactionCharacters(8, 8) + transactionCharacters(8, 21);
}

double median(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? 0 : ms[ms.size() / 2];
}

struct Tool {
    QString device;
    QString baud;

    // Wall-clock time of one run of the tool, in milliseconds; negative when it failed.
    double run(const QStringList& args) const {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HX5800_COM5"), device);
        tool.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        tool.start(
            QStringLiteral(HX5800_CONFIG_TOOL),
            QStringList{QStringLiteral("--port"), QStringLiteral("5"), QStringLiteral("--baud"), baud} +
                args);
        if (!tool.waitForFinished(120000) || tool.exitCode() != 0) {
            std::fprintf(stderr, "%s", tool.readAllStandardError().constData());
            return -1;
        }
        return double(timer.nsecsElapsed()) / 1e6;
    }
};

void measure(int baud, int runs) {
    hx::test::SimProcess sim({"--static", "--pace", "--baud", QString::number(baud)});
    if (!sim.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(sim.errorText()));
        return;
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("settings.txt"));
    const Tool tool{sim.devicePath(), QString::number(baud)};
    const double msPerCharacter = 10.0 * 1000.0 / baud;

    std::vector<double> saves;
    for (int i = 0; i < runs; ++i)
        saves.push_back(tool.run({QStringLiteral("save"), file}));

    // The registers a restore writes: every one but calibration and the unused ones.
    std::vector<std::pair<int32_t, int>> writable;
    for (const SettingsRegister& r : settingsRegisters()) {
        if (r.role != SettingsRole::Reference)
            writable.emplace_back(r.reg, sim.query(QStringLiteral("get hr %1").arg(r.reg)).value_or(0));
    }
    std::vector<double> restores;
    for (int i = 0; i < runs; ++i) {
        for (const auto& [reg, value] : writable)
            sim.command(QStringLiteral("set hr %1 %2").arg(reg).arg((value + 1) & 0xFFFF));
        restores.push_back(tool.run({QStringLiteral("restore"), file, QStringLiteral("--include-password"),
                                     QStringLiteral("--include-line-settings")}));
    }

    const double saveWire = readAllCharacters() * msPerCharacter;
    const double restoreWire =
        (readAllCharacters() + double(writable.size()) * writeCharacters()) * msPerCharacter;
    const double save = median(saves), restore = median(restores);
    std::printf("%5d baud  save (%zu reads):                 %8.1f ms against %8.1f ms wire time: %.2f x\n",
                baud, hx::kSheetReads.size(), save, saveWire, save / saveWire);
    std::printf("%5d baud  restore (%zu writes, read back): %8.1f ms against %8.1f ms wire time: %.2f x\n",
                baud, writable.size(), restore, restoreWire, restore / restoreWire);
}

} // namespace

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (qEnvironmentVariableIsEmpty("HX5800_SIM")) qputenv("HX5800_SIM", HX5800_SIM_BUILT);
    std::printf("hx5800-config against hx5800-sim --pace, median of %d runs of the whole tool\n", runs);
    for (int baud : {9600, 19200})
        measure(baud, runs);
    return 0;
}
