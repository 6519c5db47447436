#pragma once
// Met1: the host (never shown) of the acquisition poll. While the port is open its
// Timer1 reads the instrument twice a second into Reg_Buffer, Pv_Value and Status_Bit, and
// notes in freshValues() which values a good answer refreshed.
#include <array>
#include <cstdint>

#include <QObject>
#include <QTimer>

namespace hx {

class Link;

class Met1 : public QObject {
    Q_OBJECT
  public:
    explicit Met1(Link& link, QObject* parent = nullptr);

    // Splits a byte into the bit buffer, bit b into element b (0 = least significant).
    void D_Byte(uint8_t value);
    // One poll cycle: two input-register blocks and two discrete-input blocks, yielding to
    // pending window events between the calls. A tick that falls due while a cycle is still
    // running passes (no nested cycles).
    void Timer1_Timer();

    QTimer* Timer1 = nullptr;
    const std::array<uint8_t, 8>& bitBuffer() const { return bits_; }
    bool cycleRunning() const { return running_; }
    uint64_t cyclesRun() const { return cycles_; }
    uint64_t ticksPassed() const { return ticksPassed_; }

  signals:
    // At the end of a cycle whose two discrete-input reads were answered with valid bytes:
    // Status_Bit 0..31 all come from this cycle's answers.
    void statusRead();

  private:
    bool splitInto(int k);
    void readValues(int32_t port, int32_t address, int first);

    Link& link_;
    std::array<int32_t, 8> discreteBuffer_{};
    std::array<uint8_t, 8> bits_{};
    bool running_ = false;
    uint64_t cycles_ = 0;
    uint64_t ticksPassed_ = 0;
};

} // namespace hx
