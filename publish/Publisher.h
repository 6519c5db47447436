#pragma once
// The publisher: every stored record, the program's state, the alarm states and the journal's
// events to a plant's MQTT broker, nothing lost across outages of the broker, the network or
// the program.
//
// All its work runs on a thread of its own (the connection, reading the backlog from the
// ring, the cursor file); every call here only hands a message over and returns at once, so a
// broker that is down, slow or refusing never holds the windows.
//
// Records are read from the ring, not kept in memory: after the last record the broker
// acknowledged (the cursor) come, oldest first, every record the ring still holds, then the
// live ones as the recorder stores them. A record may be sent twice after a crash (the
// cursor is written at most every five seconds), never lost while an outage is shorter than
// the ring. A cursor file that cannot be read loses nothing either: publishing goes on from
// the oldest record (and event) left. An outage longer than the ring is counted as it
// happens: the records overwritten before they were sent are shown and journalled.
#include <QDateTime>
#include <QString>

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/Clock.h"
#include "journal/JournalEvent.h"
#include "logging/RecordStore.h"
#include "publish/Messages.h"
#include "publish/MqttSettings.h"

class QThread;

namespace hx {

// What the status line shows about the broker.
struct PublisherStatus {
    enum class State { Connecting, Connected, Retrying, Refused };
    State state = State::Connecting;
    QString broker;                  // host:port
    QString reason;                  // why it is retrying or was refused
    int32_t backlog = 0;             // records stored but not yet handed to the broker
    quint64 acknowledged = 0;        // records the broker acknowledged since the start
    bool recordsOverwritten = false; // the outage outlasted the ring: some records were lost
    quint64 overwrittenCount = 0;    // how many, when counted as it happened (0: not known)
    bool cursorDamaged = false;      // a cursor file could not be read: sent again from the oldest
    QString cursorError;             // a cursor file could not be written (kept in memory, tried again)
    QString warning;                 // a setting that works, but not as one may think
};

// "MQTT: 已连接 host:1883" / "MQTT: 连接中断, 正在重试 host:1883: reason" / "MQTT: 代理拒绝登录 ..."
QString publisherStatusText(const PublisherStatus& status);
bool publisherHealthy(const PublisherStatus& status);

class PublisherWorker;

class Publisher {
  public:
    // Starts the thread and the first connection attempt. Retries, back-off, cursor writes and
    // the other waits of the publisher are measured on clock, which must outlive it (the
    // keep-alive's pings and the last wait for the broker at the end are libmosquitto's and the
    // network's, on real time).
    explicit Publisher(const MqttSettings& settings, Clock& clock = appClock());
    // Sends "offline" (retained) when connected, saves both cursors and disconnects: within
    // a second.
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // The recorder stored a record (connect to mscom::recordWritten); failed ones are ignored.
    void noteRecord(const StoredRecord& record, WriteOutcome outcome);
    // The port and instrument as the status line sees them; "status" is sent when it changed.
    // Both are meant to be called often from one thread (the windows'); only a change wakes
    // the publisher's thread.
    void setProgramState(const ProgramState& state);
    // Status_Bit 0..25 as they are now; each state that changed is sent (retained).
    void setAlarmStates(const std::array<bool, kAlarmStates>& states);
    // The journal stored events (connect to EventJournal::onStored): they go out, QoS 1, read
    // from the journal after the last event the broker acknowledged, so none is lost across an
    // outage or a restart while the journal still holds it.
    void noteEvents();

    PublisherStatus status() const;
    // What the journal should hold about publishing since the last call (a cursor that could
    // not be read, records overwritten before they were sent); the caller records them.
    std::vector<JournalEvent> takeNotices();

  private:
    friend class PublisherWorker;
    void setStatus(const PublisherStatus& status);
    void addNotice(JournalEvent event);

    MqttSettings settings_;
    mutable std::mutex statusMutex_;
    PublisherStatus status_;
    std::vector<JournalEvent> notices_;                          // under statusMutex_
    std::optional<ProgramState> handedState_;                    // the callers' thread only
    std::optional<std::array<bool, kAlarmStates>> handedAlarms_; // likewise
    std::unique_ptr<QThread> thread_;
    PublisherWorker* worker_ = nullptr; // lives on thread_, deleted there
};

} // namespace hx
