#pragma once
// What the program tells the event journal: the states of the status table raised and cleared
// after every poll cycle whose status reads were answered, the port opened, closed or not
// opened, the instrument lost (no good answer for 3 s) and back, the recording database
// unavailable and back, and every write an operator made to the instrument with its outcome.
#include "journal/EventJournal.h"
#include "journal/StatusEvents.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <vector>

namespace hx {

class Link;
class PortSession;
struct OperatorWrite;
struct RecorderStatus;

// A write as the journal keeps it: the window, the register, the parameter's name, the value
// sent, the outcome.
JournalEvent writeEvent(const OperatorWrite& write);

class EventFeed : public QObject {
    Q_OBJECT
  public:
    // The port and its opening as session tells them.
    EventFeed(EventJournal& journal, Link* link, const PortSession& session, QObject* parent = nullptr);

    // The poll read Status_Bit from good answers.
    void noteStatusRead();
    // After "打开" (opening) or a "关闭" that closed the port.
    void notePortAction(bool opening);
    void noteRecorder(const RecorderStatus& status);
    void noteWrite(const OperatorWrite& write);
    // Every second: the instrument lost or back; events waiting for the file.
    void tick();

    // The status line's part: unacknowledged alarms, and the journal's file when it has trouble.
    QString statusText();

    QTimer timer;

  signals:
    // Alarms were raised, cleared or acknowledged: the status table shows it at once.
    void alarmsChanged();

  private:
    void noteRecorderClaim(const RecorderStatus& status);

    EventJournal& journal_;
    Link* link_;
    StatusStates states_{}; // as the last good read left them; all off at start
    const PortSession& session_;
    bool lost_ = false;
    std::optional<bool> databaseAvailable_;
    bool otherRecorder_ = false; // another program records there, as last told
};

} // namespace hx
