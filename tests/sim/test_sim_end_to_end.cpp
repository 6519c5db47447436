// hx5800-sim as a running process, against Modbus masters that share no code with it:
// mbpoll and a pymodbus script. They are the proof that the simulator speaks standard
// Modbus RTU. Byte-level checks (stale requests, pause, delay) use a raw line.
#include "sim/Responder.h"
#include "support/ChildSignal.h"
#include "support/RawLine.h"
#include "support/SimProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <map>
#include <memory>
#include <modbus/modbus.h>
#include <set>

using hx::test::RawLine;
using hx::test::SimProcess;

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun runTool(const QString& program, const QStringList& args, int timeoutMs = 10000) {
    QProcess p;
    p.start(program, args);
    ToolRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("did not finish");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString mbpollProgram() {
    return QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
}

// mbpoll -t: 1 discrete inputs, 3 input registers, 4 holding registers; -r is 1-based.
ToolRun mbpoll(const QString& device, int table, int reference, int count, int slave = 1,
               const QStringList& values = {}) {
    QStringList args{"-m", "rtu",  "-a", QString::number(slave), "-b", "9600",
                     "-P", "none", "-t", QString::number(table), "-r", QString::number(reference),
                     "-1", "-o",   "0.5"};
    if (values.isEmpty()) args << "-c" << QString::number(count);
    args << device << values;
    return runTool(mbpollProgram(), args);
}

// "[257]: \t63537 (-1999)" -> {257: 63537}
std::map<int, int> mbpollValues(const QString& out) {
    std::map<int, int> values;
    static const QRegularExpression line(QStringLiteral("^\\[(\\d+)\\]:\\s+(\\d+)"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        values[m.captured(1).toInt()] = m.captured(2).toInt();
    }
    return values;
}

int16_t asSigned(int word) {
    return static_cast<int16_t>(word);
}

QByteArray frameOf(std::vector<uint8_t> body) {
    const auto f = hx::sim::withCrc(std::move(body));
    return QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size()));
}

// slave 1, read input registers 1..2
const QByteArray kReadCh1Ch2 = frameOf({0x01, 0x04, 0x00, 0x00, 0x00, 0x02});
// its answer with the static values 2500 and -1500
const QByteArray kCh1Ch2Answer = frameOf({0x01, 0x04, 0x04, 0x09, 0xC4, 0xFA, 0x24});

// Gone, or a zombie waiting for init to reap it (which may take a while in a container).
bool processEnded(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || close + 2 >= text.size() || text[close + 2] == 'Z' || text[close + 2] == 'X';
}

#define START_SIM(sim) QVERIFY2((sim).start(), qPrintable((sim).errorText()))

} // namespace

class TestSimEndToEnd : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void mbpollReadsWhatTheInstrumentHolds_data();
    void mbpollReadsWhatTheInstrumentHolds();
    void mbpollWritesAreKeptAndChangeTheValues();
    void calibrationWriteIsRefusedWithAnException();
    void faultsAsMbpollSeesThem_data();
    void faultsAsMbpollSeesThem();
    void refusedFirstWriteSucceedsOnRetry();
    void pymodbusReadsAndWrites();
    void silentMidRunDropsStaleRequests();
    void pausedSimulatorAnswersQueuedRequestAfterResume();
    void runTimeDelayAndDrop();
    void wavesMoveWithoutStatic();
    void staleLinkReplacedAndLinkRemovedAtExit();
    void keepsServingWithoutStandardInput();
    void startFailsForBadOptions();
    void requestWithBadCrcIsIgnored();
    void servesAnExistingDevice();
    void simulatorEndsWithAKilledTest();
    void severalInstrumentsShareOneLine();
};

void TestSimEndToEnd::initTestCase() {
    QVERIFY2(QFileInfo(qEnvironmentVariable("HX5800_SIM")).isExecutable(), "HX5800_SIM must name hx5800-sim");
    QVERIFY2(!mbpollProgram().isEmpty(), "mbpoll is needed (tools/setup.sh installs it)");
    QVERIFY2(QFileInfo(QStringLiteral("/usr/bin/python3")).isExecutable(), "/usr/bin/python3 is needed");
}

void TestSimEndToEnd::mbpollReadsWhatTheInstrumentHolds_data() {
    QTest::addColumn<int>("table");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("expected"); // the documented static values; empty: as `get` reports
    QTest::newRow("channel values") << 3 << 1 << 8
                                    << QList<int>{2500, -1500, 1234, 3750, -320, 455, 612, 7001};
    QTest::newRow("outputs and steady values")
        << 3 << 9 << 8 << QList<int>{3889, 7500, 253, 240, 103, 5800, 0, 0};
    QTest::newRow("open and short circuit") << 1 << 1 << 16 << QList<int>(16, 0);
    QTest::newRow("alarms and relays")
        << 1 << 17 << 16 << QList<int>{0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("alarm setpoints") << 4 << 257 << 16 << QList<int>{};
    QTest::newRow("configuration 4097..4112") << 4 << 4097 << 16 << QList<int>{};
    QTest::newRow("configuration 4113..4128") << 4 << 4113 << 16 << QList<int>{};
    QTest::newRow("configuration 4177..4192") << 4 << 4177 << 16 << QList<int>{};
    QTest::newRow("configuration 4185..4192") << 4 << 4185 << 8 << QList<int>{};
    QTest::newRow("calibration 24577..24592") << 4 << 24577 << 16 << QList<int>{};
    QTest::newRow("calibration 24625..24632") << 4 << 24625 << 8 << QList<int>{};
}

void TestSimEndToEnd::mbpollReadsWhatTheInstrumentHolds() {
    QFETCH(int, table);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(QList<int>, expected);
    SimProcess sim({"--static"});
    START_SIM(sim);
    const ToolRun run = mbpoll(sim.devicePath(), table, first, count);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const auto values = mbpollValues(run.out);
    QCOMPARE(int(values.size()), count);
    const QString kind = table == 1 ? "di" : table == 3 ? "ir" : "hr";
    for (int i = 0; i < count; ++i) {
        const int number = first + i;
        QVERIFY2(values.count(number), qPrintable(run.out));
        const int seen = table == 1 ? values.at(number) : asSigned(values.at(number));
        const auto reported = sim.query(QStringLiteral("get %1 %2").arg(kind).arg(number));
        QVERIFY(reported);
        QCOMPARE(seen, *reported);
        if (!expected.isEmpty()) QCOMPARE(seen, expected[i]);
    }
    QVERIFY(sim.isRunning()); // the line stayed up after the client closed it
}

void TestSimEndToEnd::mbpollWritesAreKeptAndChangeTheValues() {
    SimProcess sim({"--static"});
    START_SIM(sim);
    // negative values travel in their unsigned form
    ToolRun run = mbpoll(sim.devicePath(), 4, 257, 1, 1, {"63537"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(sim.query("get hr 257"), std::optional<int>(-1999));
    run = mbpoll(sim.devicePath(), 4, 257, 1);
    QCOMPARE(mbpollValues(run.out)[257], 63537);
    // a new upper limit of CH4 (static 3750) pulls its value down, and DA2 (CH4 over 0..5000) with it
    run = mbpoll(sim.devicePath(), 4, 4147, 1, 1, {"2000"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    run = mbpoll(sim.devicePath(), 3, 4, 7);
    const auto values = mbpollValues(run.out);
    QCOMPARE(values.at(4), 2000);
    QCOMPARE(values.at(10), 4000);
    // CH1 alarm: setpoint 257 is now -1999, high limit, CH1 at 2500 -> alarm 1 and DO1
    run = mbpoll(sim.devicePath(), 1, 17, 10);
    QCOMPARE(mbpollValues(run.out).at(17), 1);
    QCOMPARE(mbpollValues(run.out).at(25), 1);
}

void TestSimEndToEnd::calibrationWriteIsRefusedWithAnException() {
    SimProcess sim({"--static"});
    START_SIM(sim);
    const auto before = sim.query("get hr 24577");
    QVERIFY(before);
    const ToolRun run = mbpoll(sim.devicePath(), 4, 24577, 1, 1, {"5"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("Illegal data address"), qPrintable(run.err));
    QCOMPARE(sim.query("get hr 24577"), before);
}

void TestSimEndToEnd::faultsAsMbpollSeesThem_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("silent") << QStringList{"--silent"} << 1 << 1 << "timed out";
    QTest::newRow("bad CRC on every answer") << QStringList{"--corrupt-every", "1"} << 1 << 1 << "CRC";
    QTest::newRow("busy on every request") << QStringList{"--exception-every", "1"} << 1 << 1 << "busy";
    QTest::newRow("every answer dropped") << QStringList{"--drop-every", "1"} << 1 << 1 << "timed out";
    QTest::newRow("slave 5 ignores slave 1") << QStringList{"--slave", "5"} << 1 << 1 << "timed out";
    QTest::newRow("slave 5 answers slave 5") << QStringList{"--slave", "5"} << 5 << 0 << "";
    QTest::newRow("delay beyond the time-out") << QStringList{"--delay", "800"} << 1 << 1 << "timed out";
    QTest::newRow("delay within the time-out") << QStringList{"--delay", "200"} << 1 << 0 << "";
}

void TestSimEndToEnd::faultsAsMbpollSeesThem() {
    QFETCH(QStringList, args);
    QFETCH(int, slave);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    SimProcess sim(QStringList{"--static"} + args);
    START_SIM(sim);
    const ToolRun run = mbpoll(sim.devicePath(), 3, 1, 2, slave);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 0)
        QCOMPARE(mbpollValues(run.out), (std::map<int, int>{{1, 2500}, {2, 64036}}));
    else
        QVERIFY2(run.err.contains(message, Qt::CaseInsensitive), qPrintable(run.err));
}

void TestSimEndToEnd::refusedFirstWriteSucceedsOnRetry() {
    SimProcess sim({"--static", "--refuse-first-write"});
    START_SIM(sim);
    ToolRun run = mbpoll(sim.devicePath(), 4, 4123, 1, 1, {"1000"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("busy"), qPrintable(run.err));
    QCOMPARE(sim.query("get hr 4123"), std::optional<int>(8000));
    run = mbpoll(sim.devicePath(), 4, 4123, 1, 1, {"1000"}); // the one retry
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(sim.query("get hr 4123"), std::optional<int>(1000));
    run = mbpoll(sim.devicePath(), 4, 4123, 1, 1, {"900"}); // that register is past its refusal
    QCOMPARE(run.exitCode, 0);
    run = mbpoll(sim.devicePath(), 4, 4124, 1, 1, {"0"}); // every register is refused once
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(sim.query("get hr 4123"), std::optional<int>(900));
}

void TestSimEndToEnd::pymodbusReadsAndWrites() {
    SimProcess sim({"--static"});
    START_SIM(sim);
    const ToolRun run =
        runTool(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(HX_SIM_TEST_DIR "/modbus_peer.py"), sim.devicePath(), "1", "261", "-777"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
    const QJsonObject r = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QVERIFY2(!r.isEmpty(), qPrintable(run.out));

    auto compareTable = [&](const char* key, const QString& kind, int first, int count) {
        const QJsonArray values = r.value(QLatin1String(key)).toArray();
        QCOMPARE(values.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(values[i].toInt(),
                     sim.query(QStringLiteral("get %1 %2").arg(kind).arg(first + i)).value_or(-99999));
    };
    const QJsonArray ir = r.value("ir").toArray();
    const QList<int> staticValues{2500, -1500, 1234, 3750, -320, 455, 612, 7001, 3889, 7500};
    for (int i = 0; i < staticValues.size(); ++i)
        QCOMPARE(ir[i].toInt(), staticValues[i]);
    // read before the write: CH2 and CH4 alarms, DO1
    const QJsonArray di = r.value("di").toArray();
    QCOMPARE(di.size(), 32);
    for (int i = 0; i < 32; ++i)
        QCOMPARE(di[i].toInt(), int(i == 17 || i == 19 || i == 24));
    compareTable("hr4097", "hr", 4097, 16);
    compareTable("hr24577", "hr", 24577, 8);
    QCOMPARE(r.value("write").toString(), QStringLiteral("ok"));
    QCOMPARE(r.value("readback").toArray().at(0).toInt(), -777);
    QCOMPARE(sim.query("get hr 261"), std::optional<int>(-777));
    QCOMPARE(sim.query("get di 19"), std::optional<int>(1)); // CH3 (1234) is now past its high limit
    // hr257 was read before the write: the factory setpoints
    QCOMPARE(r.value("hr257").toArray().at(4).toInt(), 2000);
    QCOMPARE(r.value("calibration_write").toObject().value("error").toInt(), 2);
    QCOMPARE(r.value("beyond_map").toObject().value("error").toInt(), 2);
}

void TestSimEndToEnd::silentMidRunDropsStaleRequests() {
    SimProcess sim({"--static"});
    START_SIM(sim);
    RawLine line;
    QVERIFY(line.open(sim.devicePath()));
    QVERIFY(line.send(kReadCh1Ch2));
    QCOMPARE(line.receive(1000), kCh1Ch2Answer);

    QVERIFY(sim.command("silent on"));
    QVERIFY(line.send(kReadCh1Ch2));
    QCOMPARE(line.receive(300), QByteArray());
    QVERIFY(sim.command("silent off"));
    QCOMPARE(line.receive(300), QByteArray()); // the request made while silent is never answered
    QVERIFY(line.send(kReadCh1Ch2));
    QCOMPARE(line.receive(1000), kCh1Ch2Answer); // exactly one answer, to the new request
}

void TestSimEndToEnd::pausedSimulatorAnswersQueuedRequestAfterResume() {
    SimProcess sim({"--static"});
    START_SIM(sim);
    RawLine line;
    QVERIFY(line.open(sim.devicePath()));
    sim.pause();
    QVERIFY(line.send(kReadCh1Ch2));
    QCOMPARE(line.receive(300), QByteArray());
    sim.resume();
    QCOMPARE(line.receive(2000), kCh1Ch2Answer);
    QVERIFY(sim.query("get ir 1")); // commands sent after the pause are served too
}

void TestSimEndToEnd::runTimeDelayAndDrop() {
    SimProcess sim({"--static"});
    START_SIM(sim);
    RawLine line;
    QVERIFY(line.open(sim.devicePath()));
    QVERIFY(sim.command("delay 300"));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(line.send(kReadCh1Ch2));
    QCOMPARE(line.receive(2000), kCh1Ch2Answer);
    QVERIFY2(clock.elapsed() >= 290, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(sim.command("delay 0"));
    QVERIFY(sim.command("drop-every 2"));
    QString seen;
    for (int i = 0; i < 4; ++i) {
        QVERIFY(line.send(kReadCh1Ch2));
        seen += line.receive(300).isEmpty() ? '-' : 'a';
    }
    QCOMPARE(seen, QStringLiteral("a-a-"));
}

void TestSimEndToEnd::wavesMoveWithoutStatic() {
    SimProcess sim;
    START_SIM(sim);
    const auto first = sim.query("get ir 1");
    std::optional<int> later;
    for (int i = 0; i < 20 && (!later || later == first); ++i) {
        QTest::qWait(200);
        later = sim.query("get ir 1");
    }
    QVERIFY(first && later);
    QVERIFY(*first != *later);
    const int upper = sim.query("get hr 4123").value_or(0), lower = sim.query("get hr 4124").value_or(0);
    QVERIFY(*later >= lower && *later <= upper);
}

void TestSimEndToEnd::staleLinkReplacedAndLinkRemovedAtExit() {
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyOLD");
    QVERIFY(QFile::link("/nonexistent/pts/99", link));
    QProcess p;
    p.start(qEnvironmentVariable("HX5800_SIM"), {"--pty", link, "--static"});
    QVERIFY(p.waitForReadyRead(5000));
    QCOMPARE(QString::fromUtf8(p.readLine()).trimmed(), QStringLiteral("ready ") + link);
    QVERIFY(QFileInfo(link).symLinkTarget().startsWith("/dev/pts/"));
    const ToolRun run = mbpoll(link, 3, 1, 1);
    QCOMPARE(run.exitCode, 0);
    p.terminate();
    QVERIFY(p.waitForFinished(3000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());

    // SimProcess::stop does the same
    SimProcess sim;
    START_SIM(sim);
    const QString path = sim.devicePath();
    QVERIFY(QFileInfo(path).isSymLink());
    sim.stop();
    QVERIFY(!QFileInfo(path).isSymLink());
}

void TestSimEndToEnd::keepsServingWithoutStandardInput() {
    QTemporaryDir dir;
    const QString link = dir.filePath("ttySIM");
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(qEnvironmentVariable("HX5800_SIM"), {"--pty", link, "--static"});
    QVERIFY(p.waitForReadyRead(5000));
    QTest::qWait(200); // stdin has long hit its end
    const ToolRun run = mbpoll(link, 3, 1, 2);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(mbpollValues(run.out).at(1), 2500);
    QCOMPARE(p.state(), QProcess::Running);
    p.terminate();
    QVERIFY(p.waitForFinished(3000));
}

void TestSimEndToEnd::startFailsForBadOptions() {
    SimProcess sim({"--baud", "1200"});
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!sim.start(3000));
    QVERIFY(clock.elapsed() < 2500); // fails when the process ends, not at the time-out
    QVERIFY(!sim.errorText().isEmpty());
    QVERIFY(!sim.isRunning());
    QVERIFY(!sim.command("static on"));
    QVERIFY(!sim.query("get ir 1"));
}

void TestSimEndToEnd::requestWithBadCrcIsIgnored() {
    SimProcess sim({"--static"});
    START_SIM(sim);
    RawLine line;
    QVERIFY(line.open(sim.devicePath()));
    QByteArray damaged = kReadCh1Ch2;
    damaged[damaged.size() - 1] = static_cast<char>(damaged.back() ^ 0x55);
    QVERIFY(line.send(damaged));
    QCOMPARE(line.receive(300), QByteArray());
    QVERIFY(line.send(kReadCh1Ch2));
    QCOMPARE(line.receive(1000), kCh1Ch2Answer);
}

void TestSimEndToEnd::servesAnExistingDevice() {
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    QVERIFY2(!socat.isEmpty(), "socat is needed");
    QTemporaryDir dir;
    const QString simEnd = dir.filePath("A"), clientEnd = dir.filePath("B");
    QProcess pair;
    pair.start(socat, {"pty,raw,echo=0,link=" + simEnd, "pty,raw,echo=0,link=" + clientEnd});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(simEnd) && QFileInfo::exists(clientEnd), 5000);

    QProcess sim;
    sim.start(qEnvironmentVariable("HX5800_SIM"), {"--device", simEnd, "--static", "--slave", "7"});
    QVERIFY(sim.waitForReadyRead(5000));
    QCOMPARE(QString::fromUtf8(sim.readLine()).trimmed(), QStringLiteral("ready ") + simEnd);
    const ToolRun run = mbpoll(clientEnd, 4, 4105, 3, 7);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    // the line settings registers show what the simulator serves: slave 7, 9600 (1), no parity (0)
    QCOMPARE(mbpollValues(run.out), (std::map<int, int>{{4105, 7}, {4106, 1}, {4107, 0}}));
    sim.terminate();
    QVERIFY(sim.waitForFinished(3000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(QFileInfo::exists(simEnd)); // a device it did not create is left alone
    pair.terminate();
    pair.waitForFinished(3000);
}

void TestSimEndToEnd::simulatorEndsWithAKilledTest() {
    QTemporaryDir scratch; // the killed holder cannot remove its own temporary folder
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), scratch.path());
    QProcess holder;
    holder.setProcessEnvironment(env);
    holder.start(QStringLiteral(SIM_HOLDER));
    QVERIFY(holder.waitForReadyRead(5000));
    const QStringList fields = QString::fromUtf8(holder.readLine()).trimmed().split(' ');
    QCOMPARE(fields.size(), 2);
    const pid_t simPid = fields[0].toInt();
    const QString device = fields[1];
    QVERIFY(simPid > 0 && QFileInfo(device).isSymLink());
    QVERIFY(hx::test::signalChild(holder, SIGKILL));
    QVERIFY(holder.waitForFinished(3000));
    // the simulator gets SIGTERM, removes its link and ends
    QTRY_VERIFY_WITH_TIMEOUT(processEnded(simPid), 3000);
    QVERIFY(!QFileInfo(device).isSymLink());
}

void TestSimEndToEnd::severalInstrumentsShareOneLine() {
    SimProcess sim({"--static", "--pace", "--slaves", "1-3"});
    START_SIM(sim);
    const std::unique_ptr<modbus_t, void (*)(modbus_t*)> ctx(
        modbus_new_rtu(qPrintable(sim.devicePath()), 9600, 'N', 8, 1), [](modbus_t* c) {
            modbus_close(c);
            modbus_free(c);
        });
    QVERIFY(ctx && modbus_connect(ctx.get()) == 0);
    modbus_set_response_timeout(ctx.get(), 0, 500000);
    auto read = [&](int slave, int address, bool holding = false) -> std::optional<int> {
        uint16_t v = 0;
        modbus_set_slave(ctx.get(), slave);
        const int n = holding ? modbus_read_registers(ctx.get(), address, 1, &v)
                              : modbus_read_input_registers(ctx.get(), address, 1, &v);
        return n == 1 ? std::optional<int>(int16_t(v)) : std::nullopt;
    };
    std::set<int> ch1; // each address answers with its own values, those its console reports
    for (int slave = 1; slave <= 3; ++slave) {
        const auto value = read(slave, 0);
        QVERIFY(value && value == sim.query(QStringLiteral("get %1 ir 1").arg(slave)));
        ch1.insert(*value);
    }
    QCOMPARE(int(ch1.size()), 3);
    QVERIFY(!read(4, 0)); // nobody at 4: no answer
    QCOMPARE(errno, ETIMEDOUT);
    QVERIFY(sim.command("silent 2 on"));
    QVERIFY(read(1, 0) && !read(2, 0) && read(3, 0));
    modbus_set_slave(ctx.get(), 3); // a write to 3 reaches 3 alone
    QCOMPARE(modbus_write_register(ctx.get(), 256, 1234), 1);
    QCOMPARE(read(3, 256, true), std::optional<int>(1234));
    QCOMPARE(read(1, 256, true), std::optional<int>(3000));
    QCOMPARE(sim.query("get 2 hr 257"), std::optional<int>(3000));
    RawLine line; // a broadcast reaches every instrument that hears the line, answered by none
    QVERIFY(line.open(sim.devicePath()) && line.send(frameOf({0x00, 0x06, 0x01, 0x01, 0x00, 0x07})));
    QVERIFY(read(1, 257, true) == 7 && read(3, 257, true) == 7 && sim.query("get 2 hr 258") == 20);
    QCOMPARE(line.receive(300), QByteArray());
    const ToolRun refused = runTool(qEnvironmentVariable("HX5800_SIM"), {"--pty", "x", "--slaves", "1,1"});
    QVERIFY2(refused.exitCode == 2 && refused.err.contains("address 1 twice"), qPrintable(refused.err));
}

QTEST_GUILESS_MAIN(TestSimEndToEnd)
#include "test_sim_end_to_end.moc"
