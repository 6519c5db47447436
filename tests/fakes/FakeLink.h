#pragma once
// A link that answers from tables in memory and records every call, for the cases the
// real link and the simulator cannot produce on demand.
#include "link/Link.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>

namespace hx::test {

class FakeLink : public Link {
  public:
    std::map<int, int32_t> inputRegisters;   // by register number
    std::map<int, int32_t> discreteBytes;    // packed element by first input number (1, 9, 17, 25)
    std::map<int, int32_t> holdingRegisters; // by register number
    bool answering = true;
    // Register -> how many more writes to it fail (-8888) before it answers again.
    std::map<int, int> failingWrites;
    QStringList calls;
    // Runs inside every read, before it answers (to re-enter the poll, for example).
    std::function<void()> duringCall;
    bool opened = false;
    int32_t openedPort = 0, openedBaud = -1, openedParity = -1;

    int32_t OpenPort_Modbus(int32_t port, int32_t baud, int32_t parity) override {
        calls << QStringLiteral("OpenPort_Modbus(%1,%2,%3)").arg(port).arg(baud).arg(parity);
        opened = true;
        openedPort = port;
        openedBaud = baud;
        openedParity = parity;
        return 0;
    }
    int32_t ClosePort_Modbus(int32_t port) override {
        calls << QStringLiteral("ClosePort_Modbus(%1)").arg(port);
        opened = false;
        return 0;
    }
    int32_t Get_3X_D8(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) override {
        return read("Get_3X_D8", port, address, first, buffer, 8, inputRegisters);
    }
    int32_t Get_1X_B16(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) override {
        calls << QStringLiteral("Get_1X_B16(%1,%2,%3)").arg(port).arg(address).arg(first);
        if (duringCall) duringCall();
        if (!answering) {
            failure = CallFailure{LinkFailure::Timeout};
            return kCallFailed;
        }
        failure.reset();
        buffer[0] = discreteBytes[first];
        buffer[1] = discreteBytes[first + 8];
        return 0;
    }
    int32_t Get_4X_D8(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) override {
        return read("Get_4X_D8", port, address, first, buffer, 8, holdingRegisters);
    }
    int32_t Get_4X_D16(int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer) override {
        return read("Get_4X_D16", port, address, first, buffer, 16, holdingRegisters);
    }
    int32_t Set_4X_D1(int32_t port, int32_t address, int32_t reg, int32_t value) override {
        calls << QStringLiteral("Set_4X_D1(%1,%2,%3,%4)").arg(port).arg(address).arg(reg).arg(value);
        if (auto it = failingWrites.find(reg); !answering || (it != failingWrites.end() && it->second > 0)) {
            if (answering) --it->second;
            failure = CallFailure{LinkFailure::Timeout};
            return kWriteFailed;
        }
        failure.reset();
        holdingRegisters[reg] = value;
        return 0;
    }
    LinkStats stats() const override { return {}; }
    std::optional<CallFailure> lastFailure() const override { return failure; }
    std::optional<CallFailure> failure; // what lastFailure() answers
    PortStatus portStatus(int32_t) const override { return PortStatus{opened, "fake", {}}; }

  private:
    int32_t read(const char* name, int32_t port, int32_t address, int32_t first, std::span<int32_t> buffer,
                 int count, std::map<int, int32_t>& table) {
        calls << QStringLiteral("%1(%2,%3,%4)").arg(QLatin1String(name)).arg(port).arg(address).arg(first);
        if (duringCall) duringCall();
        if (!answering) {
            failure = CallFailure{LinkFailure::Timeout};
            return kCallFailed;
        }
        failure.reset();
        for (int i = 0; i < count; ++i)
            buffer[i] = table[first + i];
        return 0;
    }
};

} // namespace hx::test
