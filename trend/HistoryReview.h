#pragma once
// History review: fills the trend window from the recording database and pages it back
// and forth through the ring in steps of 60 records. Plain logic on the trend state and a
// record store; the window it talks to is behind TrendView. A missing or closed store, or a
// failing query, never stops anything: the window just stays cleared.
#include <QString>

#include "trend/TrendState.h"

namespace hx {

class HistoryConnection;
class RecordStore;

// What history review needs from the main window.
class TrendView {
  public:
    virtual ~TrendView() = default;
    virtual void setNewerEnabled(bool enabled) = 0; // Command7 "F6"
    virtual bool newerEnabled() const = 0;
    virtual void setOlderEnabled(bool enabled) = 0; // Command8 "F7"
    virtual bool olderEnabled() const = 0;
    virtual void setLiveTimerActive(bool active) = 0; // the live refresh Timer1
    virtual void clearSurface() = 0;                  // Cls on pt
    virtual void redraw() = 0;                        // Cls, DrawGrid, ApplyZoom, DrawTrend
    // The first visible slot's date and time into Label2(9) and Label2(10).
    virtual void showFirstVisible(const QString& dateText, const QString& timeText) = 0;
};

constexpr int kPageRecords = 60;
// Neighbouring records further apart than this (five minutes, in days) mark a gap.
constexpr double kGapDays = 0.00347222;

class HistoryReview {
  public:
    // store may be null. All three must outlive this object.
    HistoryReview(TrendState& state, RecordStore* store, TrendView& view);

    void setStore(RecordStore* store) { store_ = store; }
    // Reads through a connection that reopens itself instead of a fixed store (the main
    // window's); the connection tells whether each read succeeded. Must outlive this object.
    void setConnection(HistoryConnection* connection) { connection_ = connection; }

    // Ring_Pos from the ring pointer; a failed read, or a pointer outside 0..65500, keeps
    // the old value. Also notes in
    // Ring_Wrapped (shared state) once the ring has wrapped.
    void readRingPosition();
    // Slots 0..321: date, time and the values of channels 0..9 to 0.
    void ClearWindow();
    // Win_Len records ending at ring slot Win_End into slots 1..Win_Len, oldest first, the
    // newest always in slot Win_Len (fewer records leave the oldest slots cleared), with gap
    // marks; then the first visible slot's date and time to the view. A record
    // without a readable date and time is left out; a value that is no number stays NaN and
    // its curve segments are not drawn.
    void LoadWindow();

    // Window load of the main window: zoom level 1, no gap marks, the newest 241 records,
    // drawn once.
    void openLiveWindow();
    // The newest 241 records again (return to live, ruler off, full growth band): reads
    // the ring position, Win_Len = Win_Count = 241, Win_End = Probe_End = Ring_Pos,
    // LoadWindow. Draws nothing.
    void reloadLiveWindow();

    void olderPage(); // F7 (Command8), and the ruler slider's left end
    void newerPage(); // F6 (Command7), and the ruler slider's right end

    // On the live page: At_Oldest, and F7 offered, from whether the live window already holds
    // the oldest record (a ring that has not wrapped, with no more records than the window).
    void settleLiveOldest();

  private:
    RecordStore* openStore();
    void noteRead(bool succeeded);
    void updateProbeEnd(int32_t p);
    void setWindowEndForPage(int32_t p);
    bool pageReachesOldest(int32_t p) const;
    int32_t oldestPageWindowEnd() const;

    TrendState& state_;
    RecordStore* store_;
    HistoryConnection* connection_ = nullptr;
    TrendView& view_;
};

} // namespace hx
