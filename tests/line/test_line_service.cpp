// hx5800-line end to end: four simulated instruments on one pseudo-terminal, each recorded
// into its own database with its own values and its alarms in its own journal; one falls
// silent and only it stops recording and is journalled lost; SIGTERM ends the service cleanly.
// A SIGKILL loses no stored record and a restart records every instrument again. Modbus TCP
// clients reach each instrument through it, the main window among them. And what it refuses
// before the line is touched, with exit status 2.
#include "alarm/ALM1.h"
#include "app/Application.h"
#include "app/ssqx.h"
#include "config/CONFIG1.h"
#include "core/SharedState.h"
#include "link/ModbusLink.h"
#include "logging/mscom.h"
#include "publish/MqttTestSupport.h"
#include "publish/PublishCursor.h"
#include "support/ChildSignal.h"
#include "support/SimProcess.h"
#include "trend/LiveTrend.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sqlite3.h>

using hx::test::SimProcess;

namespace {

// One number a query on an SQLite file gives (-1 when it cannot be read yet).
double queryNumber(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    double value = -1;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL)
            value = sqlite3_column_double(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

QString databaseOf(const QTemporaryDir& dir, int address) {
    return dir.filePath(QStringLiteral("data/%1/Rdatabj.db").arg(address));
}
QString journalOf(const QTemporaryDir& dir, int address) {
    return dir.filePath(QStringLiteral("data/%1/Rdatabj.events.db").arg(address));
}
// Every row of the records up to id `last`, as text: what a reader found stored.
QString rowsText(const QString& path, int last) {
    sqlite3* db = nullptr;
    QString text;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "select * from pv_data where w_id <= ? order by w_id", -1, &statement,
                               nullptr) == SQLITE_OK) {
            sqlite3_bind_int(statement, 1, last);
            while (sqlite3_step(statement) == SQLITE_ROW)
                for (int c = 0; c < sqlite3_column_count(statement); ++c)
                    text +=
                        QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, c))) +
                        (c + 1 < sqlite3_column_count(statement) ? u',' : u'\n');
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return text;
}

int recordsOf(const QTemporaryDir& dir, int address) {
    return int(queryNumber(databaseOf(dir, address), "select count(*) from pv_data"));
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QTest::qWait(100);
    }
    return true;
}

// The service on the simulator's line, clients at `listen`.
void startService(QProcess& line, const SimProcess& sim, const QTemporaryDir& dir, const QString& listen,
                  const QString& addresses = QStringLiteral("1-4")) {
    line.setProgram(QStringLiteral(HX5800_LINE));
    line.setArguments({"--port", sim.devicePath(), "--addresses", addresses, "--data", dir.filePath("data"),
                       "--listen", listen});
    line.setProcessChannelMode(QProcess::ForwardedChannels);
    line.start();
}

QString freeListenAddress() {
    return QStringLiteral("127.0.0.1:%1").arg(hx::test::unusedTcpPort());
}

void startLine(QProcess& line, const QStringList& args) {
    line.setProgram(QStringLiteral(HX5800_LINE));
    line.setArguments(args + QStringList{"--listen", freeListenAddress()});
    line.setProcessChannelMode(QProcess::ForwardedChannels);
    line.start();
}

} // namespace

class LineServiceTest : public QObject {
    Q_OBJECT

  private slots:
    void everyInstrumentIsRecordedAndOnlyTheSilentOneStops() {
        SimProcess sim({"--static", "--slaves", "1-4"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        QTemporaryDir dir;
        QProcess line;
        startLine(line, {"--port", sim.devicePath(), "--addresses", "1-4", "--data", dir.filePath("data")});
        QVERIFY(line.waitForStarted());

        // Each its own values: the simulator's --static values lie 10 (A - 1) above address 1's.
        const auto recordedOwnValues = [&] {
            for (int a = 1; a <= 4; ++a) {
                const QString db = databaseOf(dir, a);
                if (recordsOf(dir, a) < 3 ||
                    queryNumber(db, "select ch1 from pv_data order by w_id desc limit 1") !=
                        2500 + 10 * (a - 1) ||
                    queryNumber(db, "select ch4 from pv_data order by w_id desc limit 1") !=
                        3750 + 10 * (a - 1))
                    return false;
            }
            return true;
        };
        QVERIFY2(waitFor(recordedOwnValues, 20000), "four databases with each instrument's own values");

        // Channel 3 of instrument 2 in open-circuit alarm: journalled by instrument 2 alone.
        QVERIFY(sim.command("open-circuit 2 4"));
        const char* const raised = "select count(*) from events where kind = 1 and alarm_row = 3";
        QVERIFY2(waitFor([&] { return queryNumber(journalOf(dir, 2), raised) == 1; }, 10000),
                 "alarm journalled");
        for (const int a : {1, 3, 4})
            QCOMPARE(queryNumber(journalOf(dir, a), raised), 0.0);

        QVERIFY(sim.command("silent 3 on"));
        const auto lost = [&] {
            return queryNumber(journalOf(dir, 3), "select count(*) from events where kind = 13") >= 1;
        };
        QVERIFY2(waitFor(lost, 15000), "instrument 3 journalled lost");
        QCOMPARE(queryNumber(journalOf(dir, 1), "select count(*) from events where kind = 13"), 0.0);

        const int silentBefore = recordsOf(dir, 3);
        const std::array<int, 3> others = {1, 2, 4};
        std::array<int, 3> before{};
        for (size_t i = 0; i < others.size(); ++i)
            before[i] = recordsOf(dir, others[i]);
        QElapsedTimer watched;
        watched.start();
        QTest::qWait(5000);
        const double seconds = watched.elapsed() / 1000.0;
        QCOMPARE(recordsOf(dir, 3), silentBefore);
        // One record a second each: a record per whole second watched, give or take the edges.
        for (size_t i = 0; i < others.size(); ++i) {
            const int added = recordsOf(dir, others[i]) - before[i];
            QVERIFY2(
                added >= int(seconds) - 1 && added <= int(seconds) + 1,
                qPrintable(
                    QStringLiteral("address %1: %2 records in %3 s").arg(others[i]).arg(added).arg(seconds)));
        }

        QVERIFY(hx::test::signalChild(line, SIGTERM));
        QVERIFY(line.waitForFinished(10000));
        QCOMPARE(line.exitStatus(), QProcess::NormalExit);
        QCOMPARE(line.exitCode(), 0);
    }

    // The link gives up on a silent instrument alone: the others' good answers between its
    // timeouts do not keep it asked every time.
    void oneSilentAddressIsBackedOffAlone() {
        SimProcess sim({"--static", "--slaves", "1-2"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        hx::ModbusLink link;
        QCOMPARE(link.openDevice(1, sim.devicePath().toStdString(), 1, 0), 0);
        QVERIFY(sim.command("silent 2 on"));
        int32_t buffer[8];
        for (int turn = 0; turn <= hx::ModbusLink::kTimeoutsBeforeBackOff; ++turn) {
            QCOMPARE(link.Get_3X_D8(1, 2, 1, buffer), hx::kCallFailed);
            QCOMPARE(link.lastFailure()->kind, turn < hx::ModbusLink::kTimeoutsBeforeBackOff
                                                   ? hx::LinkFailure::Timeout
                                                   : hx::LinkFailure::BackOff);
            QCOMPARE(link.Get_3X_D8(1, 1, 1, buffer), 0);
        }
    }

    // Behind a gateway far away (300 ms before every answer) the service still records. Three
    // instruments then get a turn every 3.6 s, and none of them is taken for lost between turns.
    void aSlowGatewayIsRecorded() {
        SimProcess sim({"--static", "--delay", "300", "--slaves", "1-3"});
        sim.useTcp();
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        QTemporaryDir dir;
        QProcess line;
        startService(line, sim, dir, freeListenAddress(), "1-3");
        QVERIFY(waitFor([&] { return recordsOf(dir, 3) >= 3; }, 40000));
        for (int a = 1; a <= 3; ++a)
            QCOMPARE(queryNumber(journalOf(dir, a), "select count(*) from events where kind = 13"), 0.0);
        QVERIFY(hx::test::signalChild(line, SIGTERM));
        QVERIFY(line.waitForFinished(10000));
    }

    // A libmodbus TCP master, as the window's link is one, talks to the instruments through the
    // service; clients that are no Modbus master are dropped while the recording goes on.
    void clientsReachEachInstrumentThroughTheService() {
        // Paced as a real line is: the poll's cycles take their wire time, and so does a client's read.
        SimProcess sim({"--static", "--pace", "--slaves", "1-4"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        QTemporaryDir dir;
        const quint16 port = hx::test::unusedTcpPort();
        QProcess line;
        startService(line, sim, dir, QStringLiteral("127.0.0.1:%1").arg(port));
        QVERIFY(waitFor([&] { return recordsOf(dir, 4) >= 2; }, 20000));
        const auto closeAndFree = [](modbus_t* c) {
            modbus_close(c);
            modbus_free(c);
        };
        const std::unique_ptr<modbus_t, void (*)(modbus_t*)> client(modbus_new_tcp("127.0.0.1", port),
                                                                    closeAndFree);
        QVERIFY(client && modbus_connect(client.get()) == 0);
        modbus_set_response_timeout(client.get(), 2, 0);
        modbus_set_slave(client.get(), 3);

        // Instrument 3's values: a block the poll reads and holding registers from the wire.
        struct Read {
            const char* table;
            int first, count;
        };
        for (const Read& r : {Read{"ir", 1, 8}, Read{"ir", 9, 8}, Read{"hr", 257, 8}, Read{"hr", 4097, 16}}) {
            uint16_t got[16] = {};
            const int rc = QByteArray(r.table) == "ir"
                               ? modbus_read_input_registers(client.get(), r.first - 1, r.count, got)
                               : modbus_read_registers(client.get(), r.first - 1, r.count, got);
            QCOMPARE(rc, r.count);
            for (int i = 0; i < r.count; ++i)
                QCOMPARE(std::optional<int>(int16_t(got[i])),
                         sim.query(QStringLiteral("get 3 %1 %2").arg(r.table).arg(r.first + i)));
        }
        uint8_t bits[16] = {};
        uint16_t word = 0;
        QCOMPARE(modbus_read_input_bits(client.get(), 0, 16, bits), 16);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(std::optional<int>(bits[i]), sim.query(QStringLiteral("get 3 di %1").arg(i + 1)));

        // A write reaches instrument 3 alone and is journalled there with the client.
        std::array<std::optional<int>, 4> before{};
        for (int a = 1; a <= 4; ++a)
            before[size_t(a - 1)] = sim.query(QStringLiteral("get %1 hr 257").arg(a));
        const int written = *before[2] + 7;
        QCOMPARE(modbus_write_register(client.get(), 256, uint16_t(written)), 1);
        for (int a = 1; a <= 4; ++a)
            QCOMPARE(sim.query(QStringLiteral("get %1 hr 257").arg(a)),
                     a == 3 ? written : before[size_t(a - 1)]);
        sockaddr_in self{};
        socklen_t length = sizeof self;
        QVERIFY(::getsockname(modbus_get_socket(client.get()), reinterpret_cast<sockaddr*>(&self), &length) ==
                0);
        const QString journalled =
            "select count(*) from events where kind = 30 and subject = '257' and text like '%" +
            QStringLiteral("127.0.0.1:%1 ").arg(ntohs(self.sin_port)) + "%= " + QString::number(written) +
            ": %'";
        QCOMPARE(queryNumber(journalOf(dir, 3), journalled.toUtf8().constData()), 1.0);
        QCOMPARE(queryNumber(journalOf(dir, 1), "select count(*) from events where kind in (30, 31)"), 0.0);

        // Garbage and a request stopped half-way: both clients dropped, the records go on.
        const int recorded = recordsOf(dir, 1);
        QTcpSocket garbage, hung;
        for (QTcpSocket* s : {&garbage, &hung}) {
            s->connectToHost(QStringLiteral("127.0.0.1"), port);
            QVERIFY(s->waitForConnected(5000));
        }
        garbage.write(QByteArray("\x00\x01\x12\x34\x00\x06\x03\x03\x01\x00\x00\x01", 12)); // not protocol 0
        hung.write(QByteArray("\x00\x01\x00\x00\x00\x06\x03\x04", 8));
        QVERIFY2(waitFor(
                     [&] {
                         return garbage.state() == QAbstractSocket::UnconnectedState &&
                                hung.state() == QAbstractSocket::UnconnectedState;
                     },
                     10000),
                 "both clients dropped");
        QVERIFY(waitFor([&] { return recordsOf(dir, 1) >= recorded + 3; }, 6000));
        QCOMPARE(modbus_read_registers(client.get(), 256, 1, &word), 1);

        // An address not on the line, and one fallen silent: exception 0x0B, as from a gateway.
        QVERIFY(sim.command("silent 2 on"));
        for (const int unit : {9, 2}) {
            modbus_set_slave(client.get(), unit);
            QCOMPARE(modbus_read_registers(client.get(), 256, 1, &word), -1);
            QCOMPARE(errno, int(EMBXGTAR));
        }

        QVERIFY(hx::test::signalChild(line, SIGTERM));
        QVERIFY(line.waitForFinished(10000));
        QCOMPARE(line.exitCode(), 0);
    }

    // The main window as an operator attaches it to instrument 3 of the service's line: the
    // instrument's values, the history the service records, an alarm setpoint to it alone.
    void theWindowWatchesOneInstrumentThroughTheService() {
        SimProcess sim({"--static", "--slaves", "1-4"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        QTemporaryDir dir;
        const quint16 port = hx::test::unusedTcpPort();
        QProcess line;
        startService(line, sim, dir, QStringLiteral("127.0.0.1:%1").arg(port));
        QVERIFY(waitFor([&] { return recordsOf(dir, 3) >= 3; }, 20000));

        hx::resetSharedState();
        qputenv("HX5800_COM1", QStringLiteral("tcp://127.0.0.1:%1").arg(port).toUtf8());
        qputenv("HX5800_DB", databaseOf(dir, 3).toUtf8());
        auto app = std::make_unique<hx::Application>();
        app->context().endProcess = [] {};
        app->start();
        QTRY_VERIFY_WITH_TIMEOUT(app->mainWindow() && app->recorder(), 10000);
        hx::ssqx& window = *app->mainWindow();
        window.Combo2->setCurrentIndex(window.Combo2->findText("3 "));
        window.Command9->click();
        // Instrument 3's CH1 lies 20 above address 1's.
        QTRY_COMPARE_WITH_TIMEOUT(hx::Pv_Value[0], 2520.0f, 5000);
        QTRY_COMPARE(window.D_3W[0]->text(), hx::liveValueText(2520));
        QCOMPARE(app->recorder()->status().claim, hx::RecorderClaim::OtherProgram);
        window.history().reloadLiveWindow();
        const hx::TrendState& trend = window.trend();
        QVERIFY(trend.Trend_Date[size_t(trend.Win_Len)] > 0);
        QCOMPARE(trend.Trend_Value[0][size_t(trend.Win_Len)], 2520.0f);

        std::array<std::optional<int>, 4> before{};
        for (int a = 1; a <= 4; ++a)
            before[size_t(a - 1)] = sim.query(QStringLiteral("get %1 hr 259").arg(a));
        window.Command15->click();
        QPointer<hx::ALM1> alarms = qobject_cast<hx::ALM1*>(window.alarmWindow());
        QVERIFY(alarms);
        QLineEdit* setpoint = alarms->T_3RWA(98); // alarm 2 setpoint, register 259
        setpoint->setFocus();
        QTRY_VERIFY(setpoint->hasFocus());
        setpoint->selectAll();
        QTest::keyClicks(setpoint, QString::number(*before[2] + 11));
        alarms->Command1->setFocus();
        QTRY_COMPARE(sim.query("get 3 hr 259"), std::optional(*before[2] + 11));
        for (const int a : {1, 2, 4})
            QCOMPARE(sim.query(QStringLiteral("get %1 hr 259").arg(a)), before[size_t(a - 1)]);

        // The configuration window reads its sheet through the service and writes instrument 3.
        window.Command21->click();
        QPointer<hx::config::CONFIG1> config = qobject_cast<hx::config::CONFIG1*>(window.configWindow());
        QVERIFY(config);
        QTRY_VERIFY_WITH_TIMEOUT(!config->D_4W[43]->text().isEmpty(), 5000);
        QLineEdit* lower = config->T_3RW[43]; // channel 3's lower limit, register 4140
        lower->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(lower->hasFocus());
        QTest::keyClick(lower, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(lower, "-1999");
        config->Command11->setFocus();
        QTRY_COMPARE(sim.query("get 3 hr 4140"), std::optional(-1999));
        QTRY_COMPARE_WITH_TIMEOUT(config->D_4W[43]->text(), QStringLiteral("-1999"), 5000);
        for (const int a : {1, 2, 4})
            QVERIFY(sim.query(QStringLiteral("get %1 hr 4140").arg(a)) != std::optional(-1999));
        app.reset();
        qunsetenv("HX5800_COM1");
        qunsetenv("HX5800_DB");
        QVERIFY(hx::test::signalChild(line, SIGTERM));
        QVERIFY(line.waitForFinished(10000));
    }

    // Each instrument publishes its own values under its own address; SIGTERM ends every
    // publisher with "offline" and its cursor saved.
    void everyInstrumentPublishesUnderItsOwnAddress() {
        SimProcess sim({"--static", "--slaves", "1-3"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        hx::test::BrokerProcess broker;
        QVERIFY(broker.start());
        hx::test::Subscriber subscriber(broker.port(), "hx5800/#");
        QVERIFY(subscriber.waitConnected(5000));
        QTemporaryDir dir;
        QProcess line;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HX5800_MQTT", broker.url());
        line.setProcessEnvironment(environment);
        startService(line, sim, dir, freeListenAddress(), "1-3");
        const auto on = [&](int address, const char* leaf) {
            std::vector<QJsonObject> found;
            for (const auto& m : subscriber.messages())
                if (m.topic.endsWith(QStringLiteral("/ttySIM/%1/%2").arg(address).arg(leaf)))
                    found.push_back(m.json());
            return found;
        };
        QVERIFY(waitFor(
            [&] {
                return on(1, "record").size() >= 3 && on(2, "record").size() >= 3 &&
                       on(3, "record").size() >= 3;
            },
            20000));
        for (int a = 1; a <= 3; ++a) // CH1 lies 10 above the address before
            QCOMPARE(on(a, "record").back().value("ch1").toDouble(), 2500.0 + 10 * (a - 1));
        QVERIFY(hx::test::signalChild(line, SIGTERM));
        QVERIFY(line.waitForFinished(10000));
        for (int a = 1; a <= 3; ++a) {
            QTRY_VERIFY(!on(a, "status").empty() && on(a, "status").back().value("state") == "offline");
            const auto saved = hx::readPublishCursor(hx::cursorPathFor(databaseOf(dir, a))).cursor;
            QCOMPARE(saved.value_or(hx::PublishCursor{}).slot, on(a, "record").back().value("slot").toInt());
        }
    }

    void aKilledServiceLosesNoStoredRecordAndTakesEveryInstrumentUpAgain() {
        SimProcess sim({"--static", "--slaves", "1-3"});
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        QTemporaryDir dir;
        const QStringList args = {"--port", sim.devicePath(), "--addresses",
                                  "1-3",    "--data",         dir.filePath("data")};
        const auto everyOneHas = [&](const std::array<int, 3>& counts) {
            return [&dir, counts] {
                for (int a = 1; a <= 3; ++a)
                    if (recordsOf(dir, a) < counts[size_t(a - 1)]) return false;
                return true;
            };
        };
        QProcess line;
        startLine(line, args);
        QVERIFY2(waitFor(everyOneHas({5, 5, 5}), 30000), "every instrument recording");
        std::array<QString, 3> stored;
        std::array<int, 3> counts{};
        for (int a = 1; a <= 3; ++a) {
            counts[size_t(a - 1)] = recordsOf(dir, a);
            stored[size_t(a - 1)] = rowsText(databaseOf(dir, a), counts[size_t(a - 1)]);
            QCOMPARE(stored[size_t(a - 1)].count(u'\n'), counts[size_t(a - 1)]);
        }
        QVERIFY(hx::test::signalChild(line, SIGKILL));
        QVERIFY(line.waitForFinished(10000));
        QCOMPARE(line.exitStatus(), QProcess::CrashExit);

        QProcess again;
        startLine(again, args);
        QVERIFY2(waitFor(everyOneHas({counts[0] + 4, counts[1] + 4, counts[2] + 4}), 30000),
                 "every instrument recorded again after the restart");
        for (int a = 1; a <= 3; ++a) {
            QCOMPARE(rowsText(databaseOf(dir, a), counts[size_t(a - 1)]), stored[size_t(a - 1)]);
            QCOMPARE(queryNumber(databaseOf(dir, a), "select count(*) from pragma_integrity_check "
                                                     "where integrity_check <> 'ok'"),
                     0.0);
        }
        QVERIFY(hx::test::signalChild(again, SIGTERM));
        QVERIFY(again.waitForFinished(10000));
        QCOMPARE(again.exitCode(), 0);
    }

    void refusedBeforeTheLineIsTouched_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        // The address list's own cases are the simulator's table (one parser, in core/).
        QTest::newRow("address 0") << QStringList{"--addresses", "0-3"} << "outside the addresses 1..247";
        QTest::newRow("baud") << QStringList{"--addresses", "1", "--baud", "1200"}
                              << "is not 4800, 9600 or 19200";
        QTest::newRow("parity") << QStringList{"--addresses", "1", "--parity", "mark"}
                                << "is not none, odd or even";
        QTest::newRow("gateway") << QStringList{"--addresses", "1", "--port", "tcp://"}
                                 << "not a gateway address";
        QTest::newRow("data a file") << QStringList{"--addresses", "1", "--data", "FILE/data"}
                                     << "cannot be made";
        // Refused even to root (pseudo-file systems take no new files).
        QTest::newRow("data not writable")
            << QStringList{"--addresses", "1", "--data", "/proc"} << "cannot be written";
        QTest::newRow("port held") << QStringList{"--addresses", "1", "--port", "SIM"}
                                   << "in use by another program";
        QTest::newRow("listen address")
            << QStringList{"--addresses", "1", "--listen", "1502"} << "is not ADDRESS:PORT";
        QTest::newRow("listen in use")
            << QStringList{"--addresses", "1", "--listen", "127.0.0.1:BUSY"} << "the address is in use";
    }

    void refusedBeforeTheLineIsTouched() {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        QTemporaryDir dir;
        QFile file(dir.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        // Another program holds the line.
        hx::ModbusLink holder;
        QVERIFY(holder.openDevice(1, sim.devicePath().toStdString(), 1, 0) == 0);
        // And another program listens where clients would connect.
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        args.replaceInStrings(QStringLiteral("BUSY"), QString::number(listener.serverPort()));
        args.replaceInStrings(QStringLiteral("FILE"), file.fileName());
        args.replaceInStrings(QStringLiteral("SIM"), sim.devicePath());
        if (!args.contains("--data")) args << "--data" << dir.filePath("data");
        if (!args.contains("--port")) args << "--port" << sim.devicePath();
        if (!args.contains("--listen")) args << "--listen" << freeListenAddress();

        QProcess line;
        line.setProgram(QStringLiteral(HX5800_LINE));
        line.setArguments(args);
        line.start();
        QVERIFY(line.waitForFinished(10000));
        QCOMPARE(line.exitCode(), 2);
        const QString err = QString::fromUtf8(line.readAllStandardError());
        QVERIFY2(err.contains(says), qPrintable(err));
        QVERIFY2(!QFile::exists(dir.filePath("data/1/Rdatabj.events.db")),
                 "the refused service journalled nothing");
    }
};

QTEST_MAIN(LineServiceTest)
#include "test_line_service.moc"
