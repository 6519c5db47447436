#pragma once
// One instrument of the line as the service keeps it: its own values and their freshness (the
// record source of its own recorder), its recorder on DIR/<address>/Rdatabj.db with the
// database's lock, its event journal beside the database and, when HX5800_MQTT is set, its
// own publisher. Lives on the event loop's thread; the poll hands it each cycle's answers.
#include <QString>

#include <memory>
#include <optional>

#include "core/FreshValues.h"
#include "journal/JournalEvent.h"
#include "journal/StatusEvents.h"
#include "logging/RecordSource.h"
#include "publish/MqttSettings.h"

namespace hx {
class EventJournal;
class Publisher;
class mscom;
} // namespace hx

namespace hx::line {

struct CycleAnswers;

// The values of one instrument, as Pv_Value and freshValues() are the window's.
class InstrumentValues final : public RecordSource {
  public:
    bool allFresh() const override { return fresh.allSinceTaken(); }
    std::array<float, 10> take() override;
    ClockReading lastRecord() const override { return last; }
    void setLastRecord(const ClockReading& at) override { last = at; }

    std::array<float, 16> values{};
    FreshValues fresh;
    ClockReading last;
};

class LineInstrument {
  public:
    // publishing: the instrument's publisher settings, nullopt when publishing is off.
    LineInstrument(int address, const QString& databasePath, const QString& lineText,
                   const std::optional<MqttSettings>& publishing);
    ~LineInstrument();
    LineInstrument(const LineInstrument&) = delete;
    LineInstrument& operator=(const LineInstrument&) = delete;

    int address() const { return address_; }
    // One cycle's answers: good blocks become the instrument's values; good status reads are
    // journalled as the states that changed, as the window journals them.
    void take(const CycleAnswers& answers);
    // Every second: the instrument lost (no good answer for 3 s) or back, the journal's waiting
    // events, the publisher's state and notices. startedMs: when the line was opened.
    void tick(int64_t nowMs, int64_t startedMs);
    // The recorder's tick (every 100 ms): the service ticks all its recorders from one timer,
    // so a line of instruments wakes the service once per tick, not once per instrument.
    void recordTick();
    // An event of the instrument that is none of the poll's (a write a client sent).
    void journal(JournalEvent event);

    const InstrumentValues& values() const { return values_; }
    bool lost() const { return lost_; }

    // How often each publisher writes its cursor while records are acknowledged.
    static constexpr int kCursorWriteSeconds = 30;
    // No good answer for this long is "instrument lost", as in the window.
    static constexpr int64_t kLostAfterMs = FreshValues::kStaleAfterMs;

  private:
    int address_;
    QString lineText_;
    InstrumentValues values_;
    std::unique_ptr<EventJournal> journal_;
    std::unique_ptr<mscom> recorder_;
    std::unique_ptr<Publisher> publisher_;
    bool lost_ = false;
    // Its last turn on the line, if it had one: an instrument that answered its last turn is not
    // lost, however long the line takes to give it the next (a slow gateway, many instruments).
    bool hadTurn_ = false;
    bool lastTurnAnswered_ = false;
    StatusStates states_{}; // as the last good status read left them; all off at start
};

} // namespace hx::line
