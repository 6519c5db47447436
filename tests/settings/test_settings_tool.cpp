// hx5800-config end to end: the real tool on a pseudo-terminal with hx5800-sim on the other end.
// A saved file brings a changed instrument back; the safety rules hold; a restore cut short by
// a silent instrument says what it wrote and a second run finishes it.
#include "instrument/ParameterMap.h"
#include "link/ModbusLink.h"
#include "settings/SettingsFile.h"
#include "support/SimProcess.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <set>

using hx::test::SimProcess;
using namespace hx::config;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

void prepare(QProcess& tool, const SimProcess& sim, const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HX5800_COM3"), sim.devicePath());
    tool.setProcessEnvironment(env);
    tool.setProgram(QStringLiteral(HX5800_CONFIG_TOOL));
    tool.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("3")} + args);
}

Run runTool(const SimProcess& sim, const QStringList& args) {
    QProcess tool;
    prepare(tool, sim, args);
    tool.start();
    Run run;
    if (!tool.waitForFinished(60000)) return run;
    run.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    run.out = QString::fromUtf8(tool.readAllStandardOutput());
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

// The instrument's own view of a holding register, signed as the registers are.
int simHolding(SimProcess& sim, int reg) {
    return int16_t(uint16_t(sim.query(QStringLiteral("get hr %1").arg(reg)).value_or(-1)));
}

// The registers a restore reports as written (read back, or answered before it was cut
// short), in the order it wrote them.
std::vector<int> writtenIn(const QString& out) {
    static const QRegularExpression line(QStringLiteral("^(\\d+) [^\n]*: (?:STOPPED: )?written"),
                                         QRegularExpression::MultilineOption);
    std::vector<int> regs;
    for (auto it = line.globalMatch(out); it.hasNext();)
        regs.push_back(it.next().captured(1).toInt());
    return regs;
}

// Every entry-box setting and alarm register: numbers the instrument takes as they are.
std::vector<int> boxRegisters() {
    std::vector<int> regs;
    for (const SettingsRegister& r : settingsRegisters()) {
        const Parameter* p = parameterOfRegister(r.reg);
        if (r.role == SettingsRole::Setting && (!p || p->encoding == Encoding::Integer))
            regs.push_back(r.reg);
    }
    return regs;
}

} // namespace

class SettingsToolTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString file() const { return dir->filePath(QStringLiteral("settings.txt")); }

    bool startAndSave(SimProcess& sim) {
        if (!sim.start()) {
            qWarning("%s", qPrintable(sim.errorText()));
            return false;
        }
        const Run save = runTool(sim, {QStringLiteral("save"), file()});
        if (save.exitCode != 0) qWarning("%s", qPrintable(save.err));
        return save.exitCode == 0;
    }

  private slots:
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    void aSavedFileBringsAChangedInstrumentBack() {
        SimProcess sim({"--static"});
        QVERIFY(startAndSave(sim));
        const int calibration = 24578;
        const int calibrationBefore = simHolding(sim, calibration);
        for (const char* change : {"set hr 4101 5", "set hr 4121 13", "set hr 4192 0", "set hr 257 -500",
                                   "set hr 4139 1234", "set hr 24578 1"})
            QVERIFY(sim.command(change));
        QCOMPARE(runTool(sim, {QStringLiteral("diff"), file()}).exitCode, 1);

        const Run restore = runTool(sim, {QStringLiteral("restore"), file()});
        QCOMPARE(restore.exitCode, 0);
        QCOMPARE(writtenIn(restore.out), (std::vector<int>{4101, 4121, 4139, 4192, 257}));
        const Run diff = runTool(sim, {QStringLiteral("diff"), file()});
        QCOMPARE(diff.exitCode, 0);
        QVERIFY2(diff.out.startsWith(QStringLiteral("no difference")), qPrintable(diff.out));
        // Calibration belongs to each instrument: kept in the file, never written back.
        QCOMPARE(simHolding(sim, calibration), 1);
        QVERIFY(calibrationBefore != 1);
    }

    // Behind a Modbus TCP gateway the file names the gateway and the unit identifier, not a
    // baud rate the line does not have; after line settings are restored, the hint names the
    // gateway's serial side, not a --baud.
    void aFileSavedThroughAGatewayNamesItsUnit() {
        SimProcess sim({"--static"});
        sim.useTcp();
        QVERIFY(startAndSave(sim));
        QFile saved(file());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(saved.readAll());
        QVERIFY2(
            text.contains(QStringLiteral("(tcp://127.0.0.1:%1), unit identifier 1\n").arg(sim.tcpPort())),
            qPrintable(text.left(300)));
        QVERIFY(!text.contains(QStringLiteral("baud")));

        QVERIFY(sim.command("set hr 4107 1"));
        const Run restore =
            runTool(sim, {QStringLiteral("restore"), file(), QStringLiteral("--include-line-settings")});
        QCOMPARE(restore.exitCode, 0);
        QVERIFY2(restore.out.contains(QStringLiteral("still answers at address 1, 9600 baud, parity odd")) &&
                     restore.out.contains(QStringLiteral(
                         "--address 1, the gateway's serial side set to 9600 baud, parity none")) &&
                     !restore.out.contains(QStringLiteral("--baud")),
                 qPrintable(restore.out));
    }

    void lineSettingsAndThePasswordNeedTheirFlagsAndTheLineGoesLast() {
        SimProcess sim({"--static"});
        QVERIFY(startAndSave(sim));
        for (const char* change : {"set hr 4097 4321", "set hr 4106 2", "set hr 4107 1", "set hr 4108 40"})
            QVERIFY(sim.command(change));

        const Run guarded = runTool(sim, {QStringLiteral("restore"), file()});
        QCOMPARE(guarded.exitCode, 0);
        QCOMPARE(writtenIn(guarded.out), std::vector<int>{4108});
        QVERIFY(guarded.out.contains(QStringLiteral("skipped 4097 ")));
        QVERIFY(guarded.out.contains(QStringLiteral("skipped 4106 ")));
        QCOMPARE(simHolding(sim, 4097), 4321);
        QCOMPARE(simHolding(sim, 4106), 2);
        // Only settings that need their flags differ now: a dry run says so, not "matches".
        const Run dry = runTool(sim, {QStringLiteral("restore"), file(), QStringLiteral("--dry-run")});
        QVERIFY2(dry.out.contains("differs from the file only") && !dry.out.contains("matches"),
                 qPrintable(dry.out));

        const Run all = runTool(sim, {QStringLiteral("restore"), file(), QStringLiteral("--include-password"),
                                      QStringLiteral("--include-line-settings")});
        QCOMPARE(all.exitCode, 0);
        QCOMPARE(writtenIn(all.out), (std::vector<int>{4097, 4106, 4107}));
        QVERIFY2(
            all.out.contains(QStringLiteral("reach it with --port 3 --address 1 --baud 9600 --parity none")),
            qPrintable(all.out));
        QCOMPARE(runTool(sim, {QStringLiteral("diff"), file()}).exitCode, 0);
    }

    void aValueOutsideItsListIsRefusedBeforeAnythingIsWritten() {
        SimProcess sim({"--static"});
        QVERIFY(startAndSave(sim));
        QFile f(file());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QString text = QString::fromUtf8(f.readAll());
        // The display mode (a coded list) given a code the list does not have, by hand.
        text.replace(QRegularExpression(QStringLiteral("\n4098\t\\d+\t")), QStringLiteral("\n4098\t7\t"));
        f.resize(0);
        f.write(text.toUtf8());
        f.close();
        QVERIFY(sim.command("set hr 257 -500"));

        const Run restore = runTool(sim, {QStringLiteral("restore"), file()});
        QCOMPARE(restore.exitCode, 2);
        QVERIFY2(restore.err.contains(QStringLiteral("register 4098")), qPrintable(restore.err));
        QVERIFY(writtenIn(restore.out).empty());
        QCOMPARE(simHolding(sim, 257), -500);
    }

    void aSaveThatCannotReadEverythingWritesNothing() {
        SimProcess sim({"--static", "--exception-every", "1"});
        QVERIFY(sim.start());
        QFile old(file());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older file\n");
        old.close();

        const Run save = runTool(sim, {QStringLiteral("save"), file()});
        QCOMPARE(save.exitCode, 2);
        QVERIFY2(save.err.contains(QStringLiteral("could not be read")), qPrintable(save.err));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("an older file\n"));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("settings.txt")});
    }

    // A port the running program holds is refused: the tool never shares a line.
    void aPortAnotherProgramHoldsIsRefused() {
        SimProcess sim({"--static"});
        QVERIFY(sim.start());
        qputenv("HX5800_COM3", sim.devicePath().toUtf8());
        hx::ModbusLink holder;
        QCOMPARE(holder.OpenPort_Modbus(3, 1, 0), 0);
        qunsetenv("HX5800_COM3");
        const Run save = runTool(sim, {QStringLiteral("save"), file()});
        QCOMPARE(save.exitCode, 2);
        QVERIFY2(save.err.contains(QStringLiteral("in use by another program")), qPrintable(save.err));
        QVERIFY(!QFile::exists(file()));
    }

    void aRestoreCutShortSaysWhatItWroteAndASecondRunFinishesIt() {
        SimProcess sim({"--static"});
        QVERIFY(startAndSave(sim));
        std::map<int, int> saved;
        for (int reg : boxRegisters()) {
            saved[reg] = simHolding(sim, reg);
            QVERIFY(sim.command(QStringLiteral("set hr %1 %2").arg(reg).arg(saved[reg] + 1)));
        }

        // The line is cut after the restore's reads and a few writes with their read-backs.
        QVERIFY(sim.command("silent-after 17"));
        const Run cut = runTool(sim, {QStringLiteral("restore"), file()});
        QCOMPARE(cut.exitCode, 2);
        const QByteArray out = cut.out.toUtf8();
        QVERIFY2(out.contains("STOPPED: no answer") && out.contains("restore stopped at register"),
                 out.constData());

        // The account matches the instrument register by register.
        QVERIFY(sim.command("silent off"));
        const std::vector<int> first = writtenIn(QString::fromUtf8(out));
        const std::set<int> reported(first.begin(), first.end());
        QVERIFY(!reported.empty() && reported.size() < saved.size());
        for (const auto& [reg, value] : saved)
            QCOMPARE(simHolding(sim, reg) == value, reported.count(reg) == 1);

        const Run second = runTool(sim, {QStringLiteral("restore"), file()});
        QCOMPARE(second.exitCode, 0);
        const std::vector<int> rest = writtenIn(second.out);
        QCOMPARE(reported.size() + rest.size(), saved.size());
        for (int reg : rest)
            QVERIFY(!reported.count(reg));
        QCOMPARE(runTool(sim, {QStringLiteral("diff"), file()}).exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(SettingsToolTest)
#include "test_settings_tool.moc"
