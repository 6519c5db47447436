#include "line/LineInstrument.h"

#include <cstdio>

#include "journal/EventJournal.h"
#include "line/LinePoll.h"
#include "logging/mscom.h"
#include "publish/Publisher.h"

namespace hx::line {

std::array<float, 10> InstrumentValues::take() {
    std::array<float, 10> taken{};
    std::copy_n(values.begin(), taken.size(), taken.begin());
    fresh.take();
    return taken;
}

LineInstrument::LineInstrument(int address, const QString& databasePath, const QString& lineText,
                               const std::optional<MqttSettings>& publishing)
    : address_(address), lineText_(lineText),
      journal_(std::make_unique<EventJournal>(EventJournal::pathBeside(databasePath))),
      recorder_(std::make_unique<mscom>(databasePath, appClock(), openRecordStore, values_)) {
    recorder_->Timer1.stop(); // ticked by the service
    // Only the program that records an instrument publishes it (another one may page it).
    if (publishing && recorder_->status().claim == RecorderClaim::Held) {
        MqttSettings settings = *publishing;
        settings.firstEventsAfter = journal_->newestId();
        // A line's publishers each write their cursor: every 5 s, as the window's does, that is
        // three synced files a second for 16 instruments. After a crash a cursor 30 s old sends
        // at most 30 records an instrument again, with the slots and times they had.
        settings.cursorWriteSeconds = kCursorWriteSeconds;
        publisher_ = std::make_unique<Publisher>(settings);
        journal_->onStored = [p = publisher_.get()](int64_t) { p->noteEvents(); };
        QObject::connect(recorder_.get(), &mscom::recordWritten, recorder_.get(),
                         [p = publisher_.get()](const StoredRecord& record, WriteOutcome outcome) {
                             p->noteRecord(record, outcome);
                         });
    }
}

LineInstrument::~LineInstrument() {
    // The recorder first (its lock goes with it), then the publisher says "offline" and saves
    // its cursors; the journal is told nothing more.
    recorder_.reset();
    journal_->onStored = nullptr;
    publisher_.reset();
}

void LineInstrument::take(const CycleAnswers& answers) {
    hadTurn_ = true;
    lastTurnAnswered_ = answers.valueBlocks[0];
    for (int block = 0; block < 2; ++block) {
        if (!answers.valueBlocks[block]) continue;
        for (int i = 8 * block; i < 8 * block + 8; ++i)
            values_.values[i] = static_cast<float>(answers.values[i]);
        values_.fresh.noteMeasured(8 * block, 8, answers.atMs);
    }
    if (!answers.discreteBlocks[0] || !answers.discreteBlocks[1]) return;
    const auto states = statusStatesOf(answers.discrete);
    if (!states) return;
    if (auto events = statusEvents(states_, *states); !events.empty()) journal_->record(std::move(events));
    states_ = *states;
    if (!publisher_) return;
    std::array<bool, kAlarmStates> alarms{};
    for (int i = 0; i < kAlarmStates; ++i)
        alarms[size_t(i)] = states_[size_t(i)] != 0;
    publisher_->setAlarmStates(alarms);
}

void LineInstrument::recordTick() {
    recorder_->Timer1_Timer();
}

void LineInstrument::journal(JournalEvent event) {
    journal_->record(std::move(event));
}

void LineInstrument::tick(int64_t nowMs, int64_t startedMs) {
    journal_->retry();
    // Lost: its last turn went unanswered and no good answer came for 3 s (before the first
    // answer: since the line was opened, as any instrument had as long to answer).
    const bool silent =
        hadTurn_ && !lastTurnAnswered_ && values_.fresh.stale(0, nowMs) && nowMs - startedMs > kLostAfterMs;
    if (silent != lost_) {
        lost_ = silent;
        JournalEvent e;
        e.kind = silent ? EventKind::InstrumentLost : EventKind::InstrumentBack;
        e.subject = QStringLiteral("地址%1").arg(address_);
        e.text = silent ? QStringLiteral("仪表 %1 秒无有效应答").arg(kLostAfterMs / 1000)
                        : QStringLiteral("仪表恢复应答");
        journal_->record(std::move(e));
        std::fprintf(stderr, "hx5800-line: address %d %s\n", address_,
                     silent ? "lost (no good answer for 3 s)" : "answers again");
    }
    if (!publisher_) return;
    ProgramState state;
    state.portOpen = true;
    state.port = lineText_;
    state.instrument = lost_ ? QStringLiteral("silent") : QStringLiteral("answering");
    publisher_->setProgramState(state);
    if (auto notices = publisher_->takeNotices(); !notices.empty()) journal_->record(std::move(notices));
}

} // namespace hx::line
