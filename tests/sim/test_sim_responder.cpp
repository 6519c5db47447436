// The instrument's answers on the protocol level: addresses, counts, exceptions, the
// read-only calibration block, the CRC and the counting faults.
#include "sim/Responder.h"

#include <QTest>

using namespace hx::sim;
using Bytes = std::vector<uint8_t>;

Q_DECLARE_METATYPE(Bytes)

namespace {

Bytes pdu(uint8_t function, int address, int countOrValue) {
    return {function, uint8_t(address >> 8), uint8_t(address), uint8_t(countOrValue >> 8),
            uint8_t(countOrValue)};
}

Bytes writeMany(int address, const std::vector<int>& values) {
    Bytes p{kWriteMultipleRegisters, uint8_t(address >> 8),     uint8_t(address), 0,
            uint8_t(values.size()),  uint8_t(2 * values.size())};
    for (int v : values) {
        p.push_back(uint8_t(v >> 8));
        p.push_back(uint8_t(v));
    }
    return p;
}

Bytes frame(uint8_t slave, Bytes p) {
    p.insert(p.begin(), slave);
    return withCrc(p);
}

Bytes exceptionPdu(uint8_t function, uint8_t code) {
    return {uint8_t(function | 0x80), code};
}

int wordAt(const Bytes& answer, int index) {
    return int16_t((answer[2 + 2 * index] << 8) | answer[3 + 2 * index]);
}

bool crcGood(const Bytes& f) {
    const uint16_t crc = modbusCrc(std::span(f).first(f.size() - 2));
    return f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
}

} // namespace

class TestResponder : public QObject {
    Q_OBJECT
  private slots:
    void crcOfKnownFrames_data();
    void crcOfKnownFrames();
    void readsOfTheMap_data();
    void readsOfTheMap();
    void refusedRequests_data();
    void refusedRequests();
    void registerValuesAreTheInstrumentsNumbersMinusOne();
    void discreteInputsPackedFirstInputInBitZero();
    void writesAreKeptAndChangeTheInstrument();
    void refusedMultipleWriteChangesNothing();
    void otherSlavesAndBroadcasts();
    void countingFaults_data();
    void countingFaults();
    void refuseFirstWritePerRegister();
};

void TestResponder::crcOfKnownFrames_data() {
    QTest::addColumn<Bytes>("body");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    // the textbook example, and a frame as mbpoll (libmodbus) sent it
    QTest::newRow("read 10 holding registers") << Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A} << 0xC5 << 0xCD;
    QTest::newRow("slave 5 read 2 input registers")
        << Bytes{0x05, 0x04, 0x00, 0x00, 0x00, 0x02} << 0x70 << 0x4F;
}

void TestResponder::crcOfKnownFrames() {
    QFETCH(Bytes, body);
    QFETCH(int, low);
    QFETCH(int, high);
    const Bytes f = withCrc(body);
    QCOMPARE(int(f[f.size() - 2]), low);
    QCOMPARE(int(f[f.size() - 1]), high);
}

void TestResponder::readsOfTheMap_data() {
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::newRow("input registers 1..8") << 4 << 0 << 8;
    QTest::newRow("input registers 9..16") << 4 << 8 << 8;
    QTest::newRow("input registers 1..16") << 4 << 0 << 16;
    QTest::newRow("discrete inputs 1..16") << 2 << 0 << 16;
    QTest::newRow("discrete inputs 17..32") << 2 << 16 << 16;
    QTest::newRow("discrete input 32") << 2 << 31 << 1;
    QTest::newRow("alarm setpoints 257..272") << 3 << 256 << 16;
    QTest::newRow("alarm setpoints 265..272 (8)") << 3 << 264 << 8;
    for (int first = 4097; first <= 4177; first += 16)
        QTest::addRow("configuration %d..%d", first, first + 15) << 3 << first - 1 << 16;
    QTest::newRow("configuration 4185..4192 (8)") << 3 << 4184 << 8;
    QTest::newRow("configuration in one block") << 3 << 4096 << 96;
    QTest::newRow("calibration 24577..24592") << 3 << 24576 << 16;
    QTest::newRow("calibration 24625..24632 (8)") << 3 << 24624 << 8;
    QTest::newRow("calibration in one block") << 3 << 24576 << 56;
}

void TestResponder::readsOfTheMap() {
    QFETCH(int, function);
    QFETCH(int, address);
    QFETCH(int, count);
    Instrument inst;
    FaultSettings faults;
    Responder responder(inst, faults, 1);
    const Bytes answer = responder.answerPdu(pdu(uint8_t(function), address, count));
    const int bytes = function == 2 ? (count + 7) / 8 : 2 * count;
    QCOMPARE(int(answer.size()), 2 + bytes);
    QCOMPARE(int(answer[0]), function);
    QCOMPARE(int(answer[1]), bytes);
    if (function == 2) return;
    for (int i = 0; i < count; ++i) {
        const auto expected =
            function == 4 ? inst.inputRegister(address + 1 + i) : inst.holdingRegister(address + 1 + i);
        QCOMPARE(wordAt(answer, i), int(*expected));
    }
}

void TestResponder::refusedRequests_data() {
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<Bytes>("answer");
    QTest::newRow("input register 17") << pdu(4, 16, 1) << exceptionPdu(4, kIllegalDataAddress);
    QTest::newRow("input registers 9..17") << pdu(4, 8, 9) << exceptionPdu(4, kIllegalDataAddress);
    QTest::newRow("discrete input 33") << pdu(2, 32, 1) << exceptionPdu(2, kIllegalDataAddress);
    QTest::newRow("discrete inputs 17..33") << pdu(2, 16, 17) << exceptionPdu(2, kIllegalDataAddress);
    QTest::newRow("holding register 256") << pdu(3, 255, 1) << exceptionPdu(3, kIllegalDataAddress);
    QTest::newRow("holding registers 257..273") << pdu(3, 256, 17) << exceptionPdu(3, kIllegalDataAddress);
    QTest::newRow("holding register 4096") << pdu(3, 4095, 1) << exceptionPdu(3, kIllegalDataAddress);
    QTest::newRow("holding registers 4185..4200") << pdu(3, 4184, 16) << exceptionPdu(3, kIllegalDataAddress);
    QTest::newRow("holding register 24633") << pdu(3, 24632, 1) << exceptionPdu(3, kIllegalDataAddress);
    QTest::newRow("holding register 1") << pdu(3, 0, 1) << exceptionPdu(3, kIllegalDataAddress);
    QTest::newRow("holding register 65536") << pdu(3, 65535, 1) << exceptionPdu(3, kIllegalDataAddress);
    QTest::newRow("input registers as holding") << pdu(3, 0, 8) << exceptionPdu(3, kIllegalDataAddress);
    QTest::newRow("read of 0 registers") << pdu(3, 256, 0) << exceptionPdu(3, kIllegalDataValue);
    QTest::newRow("read of 126 registers") << pdu(3, 4096, 126) << exceptionPdu(3, kIllegalDataValue);
    QTest::newRow("read of 0 inputs") << pdu(2, 0, 0) << exceptionPdu(2, kIllegalDataValue);
    QTest::newRow("write calibration 24577") << pdu(6, 24576, 5) << exceptionPdu(6, kIllegalDataAddress);
    QTest::newRow("write calibration 24632") << pdu(6, 24631, 5) << exceptionPdu(6, kIllegalDataAddress);
    QTest::newRow("write register 273") << pdu(6, 272, 5) << exceptionPdu(6, kIllegalDataAddress);
    QTest::newRow("write register 4193") << pdu(6, 4192, 5) << exceptionPdu(6, kIllegalDataAddress);
    QTest::newRow("write into calibration, many")
        << writeMany(24575, {1, 2}) << exceptionPdu(16, kIllegalDataAddress);
    QTest::newRow("write past configuration, many")
        << writeMany(4190, {1, 2, 3}) << exceptionPdu(16, kIllegalDataAddress);
    QTest::newRow("write of 0 registers")
        << Bytes{16, 0x01, 0x00, 0, 0, 0} << exceptionPdu(16, kIllegalDataValue);
    QTest::newRow("write with short byte count")
        << Bytes{16, 0x01, 0x00, 0, 2, 2, 0, 1} << exceptionPdu(16, kIllegalDataValue);
    QTest::newRow("read coils") << pdu(1, 0, 8) << exceptionPdu(1, kIllegalFunction);
    QTest::newRow("write coil") << pdu(5, 0, 0xFF00) << exceptionPdu(5, kIllegalFunction);
    QTest::newRow("diagnostics") << Bytes{8, 0, 0, 0x12, 0x34} << exceptionPdu(8, kIllegalFunction);
    QTest::newRow("truncated read") << Bytes{3, 0x01, 0x00} << exceptionPdu(3, kIllegalDataValue);
}

void TestResponder::refusedRequests() {
    QFETCH(Bytes, request);
    QFETCH(Bytes, answer);
    Instrument inst;
    const Instrument before;
    FaultSettings faults;
    Responder responder(inst, faults, 1);
    QCOMPARE(responder.answerPdu(request), answer);
    for (int n : {257, 272, 4097, 4191, 4192, 24577, 24632})
        QCOMPARE(inst.holdingRegister(n), before.holdingRegister(n)); // nothing written
}

void TestResponder::registerValuesAreTheInstrumentsNumbersMinusOne() {
    Instrument inst;
    inst.setStatic(true);
    inst.update(0);
    FaultSettings faults;
    Responder responder(inst, faults, 1);
    // address 0 = input register 1 = CH1 (2500 = 0x09C4); CH2 is -1500 = 0xFA24
    QCOMPARE(responder.answerPdu(pdu(4, 0, 2)), (Bytes{4, 4, 0x09, 0xC4, 0xFA, 0x24}));
    // address 4096 = holding register 4097 (password 0), 4100 = 4101 (8 channels)
    QCOMPARE(wordAt(responder.answerPdu(pdu(3, 4100, 1)), 0), 8);
    QCOMPARE(wordAt(responder.answerPdu(pdu(3, 4122, 2)), 0), 8000);  // CH1 upper, 4123
    QCOMPARE(wordAt(responder.answerPdu(pdu(3, 4122, 2)), 1), -1000); // CH1 lower, 4124
    QCOMPARE(wordAt(responder.answerPdu(pdu(3, 256, 1)), 0), 3000);   // alarm 1 setpoint, 257
}

void TestResponder::discreteInputsPackedFirstInputInBitZero() {
    Instrument inst;
    inst.setStatic(true);
    inst.setOpenCircuit(0b00000101);  // DI 1, 3
    inst.setShortCircuit(0b10000000); // DI 16
    inst.update(0);                   // static: DI 18, 20 (alarms), 25 (DO1); open circuit closes DO2 (26)
    FaultSettings faults;
    Responder responder(inst, faults, 1);
    QCOMPARE(responder.answerPdu(pdu(2, 0, 32)), (Bytes{2, 4, 0x05, 0x80, 0x0A, 0x03}));
    QCOMPARE(responder.answerPdu(pdu(2, 16, 16)), (Bytes{2, 2, 0x0A, 0x03}));
    QCOMPARE(responder.answerPdu(pdu(2, 2, 3)), (Bytes{2, 1, 0x01})); // DI 3..5
}

void TestResponder::writesAreKeptAndChangeTheInstrument() {
    Instrument inst;
    inst.setStatic(true);
    FaultSettings faults;
    Responder responder(inst, faults, 1);
    // single write answers with the request itself
    const Bytes write = pdu(6, 4122, 0xF830); // CH1 upper := -2000
    QCOMPARE(responder.answerPdu(write), write);
    QCOMPARE(int(*inst.holdingRegister(4123)), -2000);
    // CH1 range -2000..-1000 (inverted): the static 2500 clamps to -1000
    inst.update(1);
    QCOMPARE(int(*inst.inputRegister(1)), -1000);
    // many at once: alarm 1 setpoint -1500 and hysteresis 0
    QCOMPARE(responder.answerPdu(writeMany(256, {0xFA24, 0})), (Bytes{16, 0x01, 0x00, 0, 2}));
    QCOMPARE(int(*inst.holdingRegister(257)), -1500);
    QCOMPARE(int(*inst.holdingRegister(258)), 0);
    inst.update(2);
    QVERIFY(*inst.discreteInput(17)); // high limit -1500 passed by -1000
}

void TestResponder::refusedMultipleWriteChangesNothing() {
    Instrument inst;
    FaultSettings faults;
    Responder responder(inst, faults, 1);
    const int before = *inst.holdingRegister(4191);
    QCOMPARE(responder.answerPdu(writeMany(4190, {1, 1, 1})), exceptionPdu(16, kIllegalDataAddress));
    QCOMPARE(int(*inst.holdingRegister(4191)), before);
}

void TestResponder::otherSlavesAndBroadcasts() {
    Instrument inst;
    FaultSettings faults;
    Responder responder(inst, faults, 5);
    QVERIFY(!responder.respond(frame(1, pdu(4, 0, 8))));
    QVERIFY(!responder.respond(frame(6, pdu(6, 256, 77))));
    QCOMPARE(int(*inst.holdingRegister(257)), 3000); // not for us: not written
    const auto answer = responder.respond(frame(5, pdu(4, 0, 8)));
    QVERIFY(answer);
    QCOMPARE(int((*answer)[0]), 5);
    QVERIFY(crcGood(*answer));
    // a broadcast write is carried out and not answered
    QVERIFY(!responder.respond(frame(0, pdu(6, 256, 77))));
    QCOMPARE(int(*inst.holdingRegister(257)), 77);
    QVERIFY(!responder.respond(frame(0, pdu(3, 256, 1))));
    QVERIFY(!responder.respond(Bytes{5, 4, 0}));
}

void TestResponder::countingFaults_data() {
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<int>("corruptEvery");
    QTest::addColumn<int>("exceptionEvery");
    QTest::addColumn<QString>("expected"); // per request: a answer, d dropped, c bad CRC, x busy
    QTest::newRow("no faults") << 0 << 0 << 0 << "aaaaaa";
    QTest::newRow("drop every 3rd") << 3 << 0 << 0 << "aadaad";
    QTest::newRow("drop every answer") << 1 << 0 << 0 << "dddddd";
    QTest::newRow("corrupt every 2nd") << 0 << 2 << 0 << "acacac";
    QTest::newRow("corrupt every answer") << 0 << 1 << 0 << "cccccc";
    QTest::newRow("exception every 4th") << 0 << 0 << 4 << "aaaxaa";
    QTest::newRow("exception every request") << 0 << 0 << 1 << "xxxxxx";
    QTest::newRow("drop before corrupt") << 2 << 3 << 0 << "adcdad";
}

void TestResponder::countingFaults() {
    QFETCH(int, dropEvery);
    QFETCH(int, corruptEvery);
    QFETCH(int, exceptionEvery);
    QFETCH(QString, expected);
    Instrument inst;
    FaultSettings faults;
    faults.dropEvery = dropEvery;
    faults.corruptEvery = corruptEvery;
    faults.exceptionEvery = exceptionEvery;
    Responder responder(inst, faults, 1);
    QString seen;
    for (int i = 0; i < expected.size(); ++i) {
        // writes of the request number show which requests were carried out
        const auto answer = responder.respond(frame(1, pdu(6, 4101, 100 + i)));
        if (!answer)
            seen += 'd';
        else if (!crcGood(*answer))
            seen += 'c';
        else if ((*answer)[1] == (0x80 | 6)) {
            QCOMPARE(int((*answer)[2]), int(kSlaveDeviceBusy));
            QVERIFY(*inst.holdingRegister(4102) != 100 + i); // a busy answer writes nothing
            seen += 'x';
        } else {
            seen += 'a';
        }
        if (seen.back() != 'x') QCOMPARE(int(*inst.holdingRegister(4102)), 100 + i);
    }
    QCOMPARE(seen, expected);
}

void TestResponder::refuseFirstWritePerRegister() {
    Instrument inst;
    FaultSettings faults;
    faults.refuseFirstWrite = true;
    Responder responder(inst, faults, 1);
    const Bytes busy = exceptionPdu(6, kSlaveDeviceBusy);
    QCOMPARE(responder.answerPdu(pdu(6, 256, 11)), busy);
    QCOMPARE(int(*inst.holdingRegister(257)), 3000);
    QCOMPARE(responder.answerPdu(pdu(6, 256, 11)), pdu(6, 256, 11)); // the retry succeeds
    QCOMPARE(int(*inst.holdingRegister(257)), 11);
    QCOMPARE(responder.answerPdu(pdu(6, 257, 12)), busy);            // another register: refused once too
    QCOMPARE(responder.answerPdu(pdu(6, 256, 13)), pdu(6, 256, 13)); // 257 stays accepted
    // an illegal write is not an attempt that uses up the refusal
    QCOMPARE(responder.answerPdu(pdu(6, 24576, 1)), exceptionPdu(6, kIllegalDataAddress));
    // a block write is refused while any of its registers is new
    QCOMPARE(responder.answerPdu(writeMany(256, {1, 2, 3})), exceptionPdu(16, kSlaveDeviceBusy));
    QCOMPARE(int(*inst.holdingRegister(257)), 13);
    QCOMPARE(responder.answerPdu(writeMany(256, {1, 2, 3})), (Bytes{16, 0x01, 0x00, 0, 3}));
    QCOMPARE(int(*inst.holdingRegister(259)), 3);
    // switching the fault on again starts over
    responder.resetRefusals();
    QCOMPARE(responder.answerPdu(pdu(6, 256, 14)), busy);
}

QTEST_GUILESS_MAIN(TestResponder)
#include "test_sim_responder.moc"
