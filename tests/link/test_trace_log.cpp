// The traffic log: its line format and frames, its size bound, and end to end the link's
// lines against the bytes hx5800-sim saw and sent on the line (its --verbose log).
#include "link/ModbusLink.h"
#include "link/TraceLog.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <vector>

using namespace std::chrono_literals;
using hx::TraceLog;

namespace {

QStringList linesOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

const QRegularExpression kLine(QStringLiteral(
    R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}\treq ([0-9A-F]{2}(?: [0-9A-F]{2})*)\tans ([-?]|[0-9A-F]{2}(?: [0-9A-F]{2})*)\t([a-z-]+)\t(\d+\.\d) ms$)"));

// hx5800-sim with --verbose: what it received and sent, from its standard error.
class VerboseSim {
  public:
    bool start(const QString& pty) { return start(QStringList{"--pty", pty}); }
    // The line as options; served_ is what the ready line names.
    bool start(const QStringList& line) {
        process_.start(qEnvironmentVariable("HX5800_SIM"), line + QStringList{"--verbose"});
        QDeadlineTimer deadline(10000);
        while (!process_.canReadLine()) {
            if (process_.state() == QProcess::NotRunning || deadline.hasExpired()) return false;
            process_.waitForReadyRead(100);
        }
        served_ = QString::fromUtf8(process_.readLine()).trimmed();
        return served_.startsWith("ready ") && (served_.remove(0, 6), true);
    }
    QString served() const { return served_; }
    bool command(const QByteArray& line) {
        process_.write(line + "\n");
        QDeadlineTimer deadline(5000);
        while (!process_.canReadLine() && !deadline.hasExpired())
            process_.waitForReadyRead(100);
        return process_.readLine().trimmed() == "ok";
    }
    // The frames the log shows received ("rx", also while silent) and sent ("tx"), in order.
    QStringList frames() {
        log_ += QString::fromUtf8(process_.readAllStandardError());
        QStringList out;
        static const QRegularExpression frame(R"(hx5800-sim: (rx|tx|silent, dropped) ([0-9A-F ]+)$)",
                                              QRegularExpression::MultilineOption);
        for (auto it = frame.globalMatch(log_); it.hasNext();) {
            const auto m = it.next();
            out << (m.captured(1) == "tx" ? "tx " : "rx ") + m.captured(2).trimmed();
        }
        return out;
    }
    ~VerboseSim() {
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
        process_.waitForFinished(3000);
    }

  private:
    QProcess process_;
    QString log_;
    QString served_;
};

} // namespace

class TestTraceLog : public QObject {
    Q_OBJECT

  private slots:
    void frames_data();
    void frames();
    void lineFormat();
    void sizeIsBoundedByRotation();
    void linkTracesWhatTheLineCarried();
    void linkTracesWhatTheGatewayCarried();
};

void TestTraceLog::frames_data() {
    QTest::addColumn<int>("slave");
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<QString>("frame");

    QTest::newRow("read 8 input registers")
        << 1 << QByteArray::fromHex("0400000008") << "01 04 00 00 00 08 F1 CC";
    QTest::newRow("read 10 holding registers")
        << 1 << QByteArray::fromHex("030000000A") << "01 03 00 00 00 0A C5 CD";
    QTest::newRow("protocol's own example")
        << 0x11 << QByteArray::fromHex("03006B0003") << "11 03 00 6B 00 03 76 87";
}

void TestTraceLog::frames() {
    QFETCH(int, slave);
    QFETCH(QByteArray, pdu);
    QFETCH(QString, frame);
    const std::vector<uint8_t> bytes(pdu.begin(), pdu.end());
    QCOMPARE(QString::fromStdString(hx::hexText(hx::rtuFrame(uint8_t(slave), bytes))), frame);
}

void TestTraceLog::lineFormat() {
    QTemporaryDir dir;
    const QString path = dir.filePath("trace.log");
    {
        TraceLog log(path.toStdString());
        const std::array<uint8_t, 8> request{0x01, 0x06, 0x10, 0x1A, 0x00, 0x05, 0x6C, 0xCE};
        const std::array<uint8_t, 5> exception{0x01, 0x86, 0x02, 0xC3, 0xA1};
        log.transaction(request, TraceLog::Answer::Frame, request, "ok", 1234us);
        log.transaction(request, TraceLog::Answer::Frame, exception, "exception", 5us);
        log.transaction(request, TraceLog::Answer::None, {}, "timeout", 92345us);
        log.transaction(request, TraceLog::Answer::Bad, {}, "bad-answer", 20049us);
    }
    const QStringList lines = linesOf(path);
    QCOMPARE(lines.size(), 4);
    const QStringList expected[] = {
        {"01 06 10 1A 00 05 6C CE", "01 06 10 1A 00 05 6C CE", "ok", "1.2"},
        {"01 06 10 1A 00 05 6C CE", "01 86 02 C3 A1", "exception", "0.0"},
        {"01 06 10 1A 00 05 6C CE", "-", "timeout", "92.3"},
        {"01 06 10 1A 00 05 6C CE", "?", "bad-answer", "20.0"},
    };
    for (int i = 0; i < 4; ++i) {
        const auto m = kLine.match(lines[i]);
        QVERIFY2(m.hasMatch(), qPrintable(lines[i]));
        QCOMPARE((QStringList{m.captured(1), m.captured(2), m.captured(3), m.captured(4)}), expected[i]);
    }
    // Appends: a second run of the program adds to the same file.
    {
        TraceLog log(path.toStdString());
        const std::array<uint8_t, 1> request{0x01};
        log.transaction(request, TraceLog::Answer::None, {}, "timeout", 1ms);
    }
    QCOMPARE(linesOf(path).size(), 5);
}

void TestTraceLog::sizeIsBoundedByRotation() {
    QTemporaryDir dir;
    const QString path = dir.filePath("trace.log");
    constexpr int64_t kMax = 2000;
    constexpr int kLines = 400;
    {
        TraceLog log(path.toStdString(), kMax);
        for (int i = 0; i < kLines; ++i) {
            const std::array<uint8_t, 8> request{0x01, 0x04, uint8_t(i >> 8), uint8_t(i), 0, 8, 0, 0};
            log.transaction(request, TraceLog::Answer::None, {}, "timeout", std::chrono::milliseconds(i));
        }
    }
    QVERIFY(QFileInfo(path).size() <= kMax);
    QVERIFY(QFileInfo(path + ".1").size() <= kMax);
    QVERIFY(!QFile::exists(path + ".2"));
    // The newest lines survive, whole and in order, across the two files.
    const QStringList lines = linesOf(path + ".1") + linesOf(path);
    QVERIFY(lines.size() > 10);
    for (int k = 0; k < lines.size(); ++k) {
        const auto m = kLine.match(lines[k]);
        QVERIFY2(m.hasMatch(), qPrintable(lines[k]));
        QCOMPARE(m.captured(4), QString::number(kLines - lines.size() + k) + ".0");
    }
}

void TestTraceLog::linkTracesWhatTheLineCarried() {
    QTemporaryDir dir;
    const QString pty = dir.filePath("ttySIM");
    const QString tracePath = dir.filePath("trace.log");
    VerboseSim sim;
    QVERIFY(sim.start(pty));
    qputenv("HX5800_COM7", pty.toLocal8Bit());
    qputenv("HX5800_TRACE", tracePath.toLocal8Bit());
    hx::ModbusLink link;
    qunsetenv("HX5800_TRACE");
    QCOMPARE(link.OpenPort_Modbus(7, 1, 0), 0);

    std::array<int32_t, 16> buffer{};
    QCOMPARE(link.Get_3X_D8(7, 1, 1, buffer), 0);
    QCOMPARE(link.Get_1X_B16(7, 1, 17, buffer), 0);
    QCOMPARE(link.Get_4X_D16(7, 1, 4097, buffer), 0);
    QCOMPARE(link.Set_4X_D1(7, 1, 257, -5), 0);
    QCOMPARE(link.Get_4X_D8(7, 1, 1, buffer), hx::kCallFailed); // exception 02
    QVERIFY(sim.command("corrupt-every 1"));
    QCOMPARE(link.Get_3X_D8(7, 1, 1, buffer), hx::kCallFailed);
    QVERIFY(sim.command("corrupt-every 0"));
    QVERIFY(sim.command("silent on"));
    QCOMPARE(link.Get_3X_D8(7, 1, 1, buffer), hx::kCallFailed);
    QVERIFY(sim.command("silent off"));
    QCOMPARE(link.Get_3X_D8(7, 2, 1, buffer), hx::kCallFailed); // no instrument at address 2
    link.ClosePort_Modbus(7);

    const QStringList lines = linesOf(tracePath);
    QCOMPARE(lines.size(), 8);
    QStringList traced;
    QStringList outcomes;
    for (const QString& line : lines) {
        const auto m = kLine.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        traced << "rx " + m.captured(1);
        if (m.captured(2) != "-" && m.captured(2) != "?") traced << "tx " + m.captured(2);
        outcomes << m.captured(3) + " " + (m.captured(2).size() == 1 ? m.captured(2) : "frame");
    }
    QCOMPARE(outcomes, (QStringList{"ok frame", "ok frame", "ok frame", "ok frame", "exception frame",
                                    "bad-answer ?", "timeout -", "timeout -"}));
    // Every byte the trace shows is a byte on the line. The corrupted answer (the sixth
    // request's) is not shown, and the simulator does not log a request for another address.
    QStringList seen = sim.frames();
    QCOMPARE(seen.size(), 2 * 6 + 1);
    QVERIFY(seen[11].startsWith("tx "));
    seen.removeAt(11);
    traced.removeLast();
    QCOMPARE(traced, seen);
}

// Through a Modbus TCP gateway the frames carry the MBAP header (transaction id, protocol,
// length, unit) instead of the CRC; the transaction ids count afresh on a new connection.
void TestTraceLog::linkTracesWhatTheGatewayCarried() {
    QTemporaryDir dir;
    const QString tracePath = dir.filePath("trace.log");
    VerboseSim sim;
    QVERIFY(sim.start(QStringList{"--tcp", "0"}));
    qputenv("HX5800_COM7", sim.served().toLocal8Bit());
    qputenv("HX5800_TRACE", tracePath.toLocal8Bit());
    hx::ModbusLink link;
    qunsetenv("HX5800_TRACE");
    QCOMPARE(link.OpenPort_Modbus(7, 1, 0), 0);

    std::array<int32_t, 16> buffer{};
    QCOMPARE(link.Get_3X_D8(7, 1, 1, buffer), 0);
    QCOMPARE(link.Set_4X_D1(7, 1, 257, -5), 0);
    QCOMPARE(link.Get_4X_D8(7, 1, 1, buffer), hx::kCallFailed); // exception 02
    QVERIFY(sim.command("silent on"));
    QCOMPARE(link.Get_3X_D8(7, 1, 1, buffer), hx::kCallFailed);
    QVERIFY(sim.command("silent off"));
    QCOMPARE(link.Get_1X_B16(7, 1, 17, buffer), 0); // on a new connection
    link.ClosePort_Modbus(7);

    QStringList traced;
    QStringList outcomes;
    for (const QString& line : linesOf(tracePath)) {
        const auto m = kLine.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        traced << "rx " + m.captured(1);
        if (m.captured(2) != "-") traced << "tx " + m.captured(2);
        outcomes << m.captured(3);
    }
    QCOMPARE(outcomes, (QStringList{"ok", "ok", "exception", "timeout", "ok"}));
    QVERIFY2(traced[0].startsWith("rx 00 01 00 00 00 06 01 04 00 00 00 08"), qPrintable(traced[0]));
    QVERIFY2(traced.last().startsWith("tx 00 01 00 00 00 05 01 02 02"), qPrintable(traced.last()));
    QTRY_COMPARE(sim.frames(), traced);
}

QTEST_GUILESS_MAIN(TestTraceLog)
#include "test_trace_log.moc"
