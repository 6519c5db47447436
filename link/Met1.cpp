#include "Met1.h"

#include "core/FreshValues.h"
#include "core/SharedState.h"
#include "link/Link.h"

#include <QCoreApplication>

namespace hx {

Met1::Met1(Link& link, QObject* parent) : QObject(parent), link_(link) {
    setObjectName("Met1");
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &Met1::Timer1_Timer);
}

void Met1::D_Byte(uint8_t value) {
    int v = value;
    for (int b = 7; b >= 0; --b) {
        if (v / (1 << b) >= 1) {
            bits_[b] = 1;
            v -= 1 << b;
        } else {
            bits_[b] = 0;
        }
    }
}

bool Met1::splitInto(int k) {
    // 255 (all eight inputs on) counts as invalid, like a negative value or one above it.
    const int32_t byte = discreteBuffer_[k];
    if (byte < 0 || byte >= 255) return false;
    D_Byte(static_cast<uint8_t>(byte));
    for (int b = 0; b < 8; ++b)
        Status_Bit[8 * k + b] = bits_[b];
    return true;
}

// Eight input registers from register first + 1 into Reg_Buffer and Pv_Value at first. Only a
// good answer reaches Pv_Value, and only a good answer counts as a measurement.
void Met1::readValues(int32_t port, int32_t address, int first) {
    if (link_.Get_3X_D8(port, address, first + 1, std::span<int32_t>(Reg_Buffer + first, 8)) != 0) return;
    for (int i = first; i < first + 8; ++i)
        Pv_Value[i] = static_cast<float>(Reg_Buffer[i]);
    freshValues().noteMeasured(first, 8, FreshValues::steadyNowMs());
}

void Met1::Timer1_Timer() {
    if (running_) {
        ++ticksPassed_;
        return;
    }
    running_ = true;
    const int32_t port = Com_Param[kComPort];
    const int32_t address = Com_Param[kComAddress];

    readValues(port, address, 0);
    QCoreApplication::processEvents();

    readValues(port, address, 8);
    QCoreApplication::processEvents();

    // A failed read leaves the buffer as it was: its bits are not this cycle's.
    bool statusGood = link_.Get_1X_B16(port, address, 1, std::span<int32_t>(discreteBuffer_.data(), 2)) == 0;
    statusGood = splitInto(0) && statusGood;
    statusGood = splitInto(1) && statusGood;
    QCoreApplication::processEvents();

    statusGood =
        link_.Get_1X_B16(port, address, 17, std::span<int32_t>(discreteBuffer_.data() + 2, 2)) == 0 &&
        statusGood;
    statusGood = splitInto(2) && statusGood;
    statusGood = splitInto(3) && statusGood;

    ++cycles_;
    running_ = false;
    if (statusGood) {
        freshValues().noteStatusRead();
        emit statusRead();
    }
}

} // namespace hx
