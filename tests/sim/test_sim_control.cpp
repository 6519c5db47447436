// How the simulator is told what to do: its command line and its run-time commands.
#include "sim/Console.h"
#include "sim/SimOptions.h"

#include <QTest>

#include <map>

using namespace hx::sim;

namespace {

ParsedOptions parse(const QStringList& args) {
    std::vector<std::string> v;
    for (const QString& a : args)
        v.push_back(a.toStdString());
    return parseOptions(v);
}

} // namespace

class TestSimControl : public QObject {
    Q_OBJECT
  private slots:
    void defaults();
    void options_data();
    void options();
    void pacing_data();
    void pacing();
    void badCommandLines_data();
    void badCommandLines();
    void slaveLists();
    void helpNamesEveryOption();
    void commands_data();
    void commands();
    void commandsChangeWhatTheInstrumentReports();
    void faultSwitchesAtRunTime();
};

void TestSimControl::defaults() {
    const ParsedOptions p = parse({"--pty", "/tmp/x"});
    QVERIFY2(p.error.empty(), p.error.c_str());
    const SimOptions& o = p.options;
    QCOMPARE(o.slave, 1);
    QCOMPARE(o.baud, 9600);
    QCOMPARE(o.parity, 'N');
    QCOMPARE(o.baudCode(), 1);
    QCOMPARE(o.parityCode(), 0);
    QVERIFY(!o.frozen && !o.demo && !o.verbose && !o.faults.silent && !o.faults.refuseFirstWrite);
    QCOMPARE(o.faults.delayMs + o.faults.dropEvery + o.faults.corruptEvery + o.faults.exceptionEvery, 0);
}

void TestSimControl::options_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::newRow("slave") << QStringList{"--slave", "247"} << "slave" << 247;
    QTest::newRow("baud 4800") << QStringList{"--baud", "4800"} << "baudCode" << 0;
    QTest::newRow("baud 19200") << QStringList{"--baud", "19200"} << "baudCode" << 2;
    QTest::newRow("parity odd") << QStringList{"--parity", "odd"} << "parityCode" << 1;
    QTest::newRow("parity even") << QStringList{"--parity", "even"} << "parityCode" << 2;
    QTest::newRow("static") << QStringList{"--static"} << "frozen" << 1;
    QTest::newRow("demo") << QStringList{"--demo"} << "demo" << 1;
    QTest::newRow("open circuit") << QStringList{"--open-circuit", "129"} << "open" << 129;
    QTest::newRow("open circuit hex") << QStringList{"--open-circuit", "0xF0"} << "open" << 240;
    QTest::newRow("short circuit") << QStringList{"--short-circuit", "255"} << "short" << 255;
    QTest::newRow("silent") << QStringList{"--silent"} << "silent" << 1;
    QTest::newRow("delay") << QStringList{"--delay", "250"} << "delay" << 250;
    QTest::newRow("drop every") << QStringList{"--drop-every", "3"} << "drop" << 3;
    QTest::newRow("corrupt every") << QStringList{"--corrupt-every", "1"} << "corrupt" << 1;
    QTest::newRow("exception every") << QStringList{"--exception-every", "5"} << "exception" << 5;
    QTest::newRow("refuse first write") << QStringList{"--refuse-first-write"} << "refuse" << 1;
    QTest::newRow("verbose") << QStringList{"--verbose"} << "verbose" << 1;
    QTest::newRow("pace") << QStringList{"--pace"} << "pace" << 1;
    QTest::newRow("last one wins") << QStringList{"--delay", "5", "--delay", "7"} << "delay" << 7;
}

void TestSimControl::options() {
    QFETCH(QStringList, args);
    QFETCH(QString, field);
    QFETCH(int, value);
    const ParsedOptions p = parse(QStringList{"--pty", "/tmp/x"} + args);
    QVERIFY2(p.error.empty(), p.error.c_str());
    const SimOptions& o = p.options;
    const std::map<QString, int> fields = {
        {"slave", o.slave},
        {"baudCode", o.baudCode()},
        {"parityCode", o.parityCode()},
        {"frozen", o.frozen},
        {"demo", o.demo},
        {"open", o.openCircuit},
        {"short", o.shortCircuit},
        {"silent", o.faults.silent},
        {"delay", o.faults.delayMs},
        {"drop", o.faults.dropEvery},
        {"corrupt", o.faults.corruptEvery},
        {"exception", o.faults.exceptionEvery},
        {"refuse", o.faults.refuseFirstWrite},
        {"verbose", o.verbose},
        {"pace", o.pace},
    };
    QCOMPARE(fields.at(field), value);
}

void TestSimControl::pacing_data() {
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("baud");
    QTest::addColumn<char>("parity");
    QTest::addColumn<qint64>("microseconds");
    // (request + 3.5 + answer) characters of 10 or 11 bits
    QTest::newRow("8 registers at 9600 8N1") << 8 << 21 << 9600 << 'N' << qint64(33854);
    QTest::newRow("16 inputs at 19200 8E1") << 8 << 7 << 19200 << 'E' << qint64(10599);
    QTest::newRow("write at 4800 8O1") << 8 << 8 << 4800 << 'O' << qint64(44688);
}

void TestSimControl::pacing() {
    QFETCH(int, request);
    QFETCH(int, answer);
    QFETCH(int, baud);
    QFETCH(char, parity);
    QFETCH(qint64, microseconds);
    QCOMPARE(qint64(hx::sim::pacedAnswerMicroseconds(size_t(request), size_t(answer), baud, parity)),
             microseconds);
}

void TestSimControl::badCommandLines_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::newRow("no line") << QStringList{"--static"} << "either --pty";
    QTest::newRow("two lines") << QStringList{"--pty", "a", "--device", "b"} << "either --pty";
    QTest::newRow("a pseudo-terminal and a TCP port")
        << QStringList{"--pty", "a", "--tcp", "1502"} << "either --pty";
    QTest::newRow("missing value") << QStringList{"--pty"} << "--pty needs PATH";
    QTest::newRow("unknown option") << QStringList{"--pty", "a", "--fast"} << "unknown option --fast";
    QTest::newRow("slave 0") << QStringList{"--pty", "a", "--slave", "0"} << "--slave expects";
    QTest::newRow("slave 248") << QStringList{"--pty", "a", "--slave", "248"} << "--slave expects";
    QTest::newRow("baud 115200") << QStringList{"--pty", "a", "--baud", "115200"} << "--baud expects";
    QTest::newRow("parity mark") << QStringList{"--pty", "a", "--parity", "mark"} << "--parity expects";
    QTest::newRow("mask 256") << QStringList{"--pty", "a", "--open-circuit", "256"}
                              << "--open-circuit expects";
    QTest::newRow("negative delay") << QStringList{"--pty", "a", "--delay", "-1"} << "--delay expects";
    QTest::newRow("not a number") << QStringList{"--pty", "a", "--drop-every", "3x"}
                                  << "--drop-every expects";
    QTest::newRow("slaves from 0") << QStringList{"--pty", "a", "--slaves", "0-3"}
                                   << "0-3, outside the addresses";
    QTest::newRow("slaves to 248") << QStringList{"--pty", "a", "--slaves", "1,240-248"}
                                   << "240-248, outside";
    QTest::newRow("slave named twice") << QStringList{"--pty", "a", "--slaves", "1-4,3"} << "address 3 twice";
    QTest::newRow("backward range") << QStringList{"--pty", "a", "--slaves", "4-1"} << "4-1 runs backwards";
    QTest::newRow("empty item") << QStringList{"--pty", "a", "--slaves", "1,,2"} << "--slaves expects";
    QTest::newRow("slave and slaves")
        << QStringList{"--pty", "a", "--slave", "2", "--slaves", "1-3"} << "either --slave N or --slaves";
}

void TestSimControl::badCommandLines() {
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    const ParsedOptions p = parse(args);
    QVERIFY2(QString::fromStdString(p.error).contains(error), p.error.c_str());
}

void TestSimControl::slaveLists() {
    QCOMPARE(parse({"--pty", "a", "--slaves", "7,1-4"}).options.addresses(),
             (std::vector<int>{1, 2, 3, 4, 7}));
    QCOMPARE(parse({"--pty", "a", "--slaves", "247"}).options.addresses(), std::vector<int>{247});
    QCOMPARE(parse({"--pty", "a", "--slave", "5"}).options.addresses(), std::vector<int>{5});
}

void TestSimControl::helpNamesEveryOption() {
    const ParsedOptions p = parse({"--help"});
    QVERIFY(p.error.empty());
    QVERIFY(p.options.help);
    const QString help = QString::fromStdString(helpText());
    for (const char* name :
         {"--pty", "--device", "--slave", "--slaves", "--baud", "--parity", "--static", "--demo",
          "--open-circuit", "--short-circuit", "--silent", "--delay", "--drop-every", "--corrupt-every",
          "--exception-every", "--refuse-first-write", "--verbose"})
        QVERIFY2(help.contains(QLatin1String(name)), name);
    // the frozen values are documented as the model has them
    for (int v : kStaticValues)
        QVERIFY(help.contains(QString::number(v)));
}

void TestSimControl::commands_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("lastReply");
    QTest::newRow("get input register") << QStringList{"get ir 2"} << "-1500";
    QTest::newRow("get DA1") << QStringList{"get ir 9"} << "3889";
    QTest::newRow("get holding register") << QStringList{"get hr 4124"} << "-1000";
    QTest::newRow("get calibration") << QStringList{"get hr 24582"} << "253";
    QTest::newRow("get discrete input") << QStringList{"get di 25"} << "1";
    QTest::newRow("set then get holding") << QStringList{"set hr 257 -1999", "get hr 257"} << "-1999";
    QTest::newRow("unsigned form reads signed") << QStringList{"set hr 257 63537", "get hr 257"} << "-1999";
    QTest::newRow("set calibration") << QStringList{"set hr 24577 9", "get hr 24577"} << "9";
    QTest::newRow("pin input") << QStringList{"set ir 3 -42", "get ir 3"} << "-42";
    QTest::newRow("release input") << QStringList{"set ir 3 -42", "release ir 3", "get ir 3"} << "1234";
    QTest::newRow("set open circuit") << QStringList{"set di 7 1", "get di 7"} << "1";
    QTest::newRow("set short circuit") << QStringList{"set di 16 1", "get di 16"} << "1";
    QTest::newRow("mask command") << QStringList{"short-circuit 6", "get di 11"} << "1";
    QTest::newRow("range change shows at once") << QStringList{"set hr 4123 1000", "get ir 1"} << "1000";
    QTest::newRow("alarm follows a setpoint") << QStringList{"set hr 257 2499", "get di 17"} << "1";
    QTest::newRow("waves again") << QStringList{"static off"} << "ok";
    QTest::newRow("quit") << QStringList{"quit"} << "ok";
    QTest::newRow("unmapped register") << QStringList{"get hr 4193"} << "error hr 4193 is not mapped";
    QTest::newRow("unmapped input") << QStringList{"get ir 17"} << "error ir 17 is not mapped";
    QTest::newRow("computed input cannot be set")
        << QStringList{"set di 17 1"} << "error di 17 cannot be set";
    QTest::newRow("holding outside the map") << QStringList{"set hr 300 1"} << "error hr 300 cannot be set";
    QTest::newRow("value too big") << QStringList{"set hr 257 65536"}
                                   << "error usage: set ir|hr N V (V -32768..65535) | set di N 0|1";
    QTest::newRow("di value 2") << QStringList{"set di 3 2"} << "error usage: set di N 0|1";
    QTest::newRow("bad switch") << QStringList{"silent maybe"}
                                << "error usage: silent|static|refuse-first-write on|off";
    QTest::newRow("by its address") << QStringList{"set 1 hr 257 -5", "get 1 hr 257"} << "-5";
    QTest::newRow("address not on the line")
        << QStringList{"silent 2 on"} << "error no instrument at address 2";
    QTest::newRow("unknown") << QStringList{"reboot"} << "error unknown command: reboot";
    QTest::newRow("missing argument") << QStringList{"get hr"} << "error unknown command: get";
}

void TestSimControl::commands() {
    QFETCH(QStringList, lines);
    QFETCH(QString, lastReply);
    Instrument inst;
    inst.setStatic(true);
    FaultSettings faults;
    Responder responder(inst, faults, 1);
    Console console(inst, faults, responder);
    CommandReply reply;
    for (const QString& line : lines)
        reply = console.execute(line.toStdString(), 1.0);
    QCOMPARE(QString::fromStdString(reply.line), lastReply);
    QCOMPARE(reply.quit, lines.last() == "quit");
}

void TestSimControl::commandsChangeWhatTheInstrumentReports() {
    Instrument inst;
    FaultSettings faults;
    Responder responder(inst, faults, 1);
    Console console(inst, faults, responder);
    QCOMPARE(console.execute("static on", 0).line, std::string("ok"));
    QVERIFY(inst.isStatic());
    QCOMPARE(console.execute("open-circuit 0x81", 0).line, std::string("ok"));
    QCOMPARE(inst.openCircuit(), uint8_t(0x81));
    // what the line answers changes with it: DI 1 and 8, DO2 closed by the open circuit
    const auto answer = responder.answerPdu(std::vector<uint8_t>{2, 0, 0, 0, 32});
    QCOMPARE(int(answer[2]), 0x81);
    QCOMPARE(int(answer[5]) & 0x03, 0x03);
}

void TestSimControl::faultSwitchesAtRunTime() {
    Instrument inst;
    FaultSettings faults;
    Responder responder(inst, faults, 1);
    Console console(inst, faults, responder);
    for (const char* line : {"silent on", "delay 300", "drop-every 4", "corrupt-every 5", "exception-every 6",
                             "refuse-first-write on"})
        QCOMPARE(console.execute(line, 0).line, std::string("ok"));
    QVERIFY(faults.silent && faults.refuseFirstWrite);
    QCOMPARE(faults.delayMs, 300);
    QCOMPARE(faults.dropEvery, 4);
    QCOMPARE(faults.corruptEvery, 5);
    QCOMPARE(faults.exceptionEvery, 6);
    for (const char* line : {"silent off", "delay 0", "drop-every 0", "corrupt-every 0", "exception-every 0",
                             "refuse-first-write off"})
        QCOMPARE(console.execute(line, 0).line, std::string("ok"));
    QVERIFY(!faults.silent && !faults.refuseFirstWrite);
    QCOMPARE(faults.delayMs + faults.dropEvery + faults.corruptEvery + faults.exceptionEvery, 0);
    QCOMPARE(console.execute("delay 60001", 0).line.substr(0, 5), std::string("error"));
    QCOMPARE(faults.delayMs, 0);
}

QTEST_GUILESS_MAIN(TestSimControl)
#include "test_sim_control.moc"
