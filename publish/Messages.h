#pragma once
// The messages the publisher sends, as JSON: a record, the program's state, one state of the
// alarm status table, an event of the journal. Consumers drop a record they already have by
// its slot and time (a record may come twice after a crash).
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>

#include "logging/RecordStore.h"

namespace hx {

// A local wall-clock time with its offset from UTC: "2026-12-08T14:03:22+08:00".
QString isoTextWithOffset(const QDateTime& localTime);
// The instant of a record (the recorder stores local wall-clock time) as above.
QString isoTextOfRecord(const StoredRecord& record);

// {"slot":1234,"time":"...","ch1":..,...,"ch8":..,"da1":..,"da2":..}; a value that holds no
// number is null.
QByteArray recordMessage(const StoredRecord& record);

// The 26 states of the alarm status table (Status_Bit 0..25), by the name of their topic.
constexpr int kAlarmStates = 26;
// "ch1-open-circuit" .. "ch8-open-circuit", "ch1-short-circuit" .., "ch1-setpoint-alarm" ..,
// "do1", "do2".
QString alarmStateName(int index);
// {"state":"ch3-open-circuit","on":true,"time":"..."}
QByteArray alarmMessage(int index, bool on, const QDateTime& at);

// What the main window's status line knows about the line and the instrument.
struct ProgramState {
    bool portOpen = false;
    QString port;       // the status line's port part: "端口1 已打开 /dev/ttyUSB0"
    QString instrument; // "answering", "silent" (no good answer for 3 s) or "closed"
    bool operator==(const ProgramState&) const = default;
};
// {"state":"online","time":"...","port":{"open":true,"text":"..."},"instrument":"answering"}
QByteArray onlineMessage(const ProgramState& state, const QDateTime& at);
// {"state":"offline"}: the broker's last will, and what a program that ends cleanly sends.
QByteArray offlineMessage();

// {"id":812,"time":"...","kind":"...","text":"..."}: id is the journal's, by which consumers
// drop an event they already have (one may come twice after a crash).
QByteArray eventMessage(int64_t id, const QDateTime& at, const QString& kind, const QString& text);

} // namespace hx
