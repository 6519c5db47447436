#pragma once
// One entry of the event journal: when (local wall-clock time to the second), what kind, about
// which channel, relay or register, a text for the operator and, for a raised alarm, when the
// operator acknowledged it.
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

#include "core/Clock.h"

namespace hx {

// Whole seconds since day 0 (1899-12-30 00:00:00) in local wall-clock time, the same count the
// record export uses, so ranges given to hx5800-export mean the same for records and events.
using EventInstant = int64_t;
EventInstant eventInstantOf(const ClockReading& reading);
// "2026-12-08 14:03:22"
QString eventTimeText(EventInstant instant);
// The local date and time of an instant.
QDateTime dateTimeOfEventInstant(EventInstant instant);

// Stored as numbers: never renumber a kind.
enum class EventKind : int {
    AlarmRaised = 1, // a state of the status table came on (alarm, or a relay closed)
    AlarmCleared = 2,
    PortOpened = 10,
    PortClosed = 11,
    PortOpenFailed = 12,
    InstrumentLost = 13, // no good answer for 3 s while the port is open
    InstrumentBack = 14,
    DatabaseUnavailable = 20,
    DatabaseBack = 21,
    OtherRecorder = 22,           // another program records into the database; this one does not
    RecordingTakenUp = 23,        // that program ended and this one records again
    PublishCursorUnreadable = 24, // publishing goes on from the oldest record or event left
    PublishRecordsLost = 25,      // the ring went round while the broker was away
    WriteConfirmed = 30,
    WriteFailed = 31,
};

// What the events window filters by.
enum class EventCategory : int { Alarm = 1, LineAndRecording = 2, Write = 3 };

EventCategory categoryOf(EventKind kind);
// A short Chinese name for the window ("报警", "报警消除", "端口打开", ...).
QString kindText(EventKind kind);
// A stable English name for the CSV ("alarm-raised", "port-opened", ...).
const char* kindKey(EventKind kind);
bool isKnownKind(int kind);

struct JournalEvent {
    int64_t id = 0; // rowid once stored, 0 before
    EventInstant at = 0;
    EventKind kind = EventKind::AlarmRaised;
    QString subject; // "CH3", "DO1", "4106", "端口1"
    QString text;
    // Row of the status table (1..26) for alarm events; 0 otherwise.
    int alarmRow = 0;
    std::optional<EventInstant> acknowledgedAt;

    // An alarm the operator must acknowledge: raised, of rows 1..24 (the relays follow the
    // alarms and need none).
    bool needsAcknowledgement() const {
        return kind == EventKind::AlarmRaised && alarmRow >= 1 && alarmRow <= 24;
    }
};

// Where the last --since-last export of events ended, or the newest event the broker
// acknowledged: the event's time and id. The time tells a journal begun anew (ids from 1
// again) from the one the id was taken in. at 0: not known (an id alone, as cursors were once
// written).
struct EventCursor {
    EventInstant at = 0;
    int64_t id = 0;
    bool operator==(const EventCursor&) const = default;
};

} // namespace hx
