#include "trend/HistoryReview.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/Clock.h"
#include "core/SharedState.h"
#include "logging/RecordStore.h"
#include "trend/HistoryConnection.h"
#include "trend/TrendRenderer.h"
#include "trend/TrendText.h"

namespace hx {

namespace {

constexpr int kLastClearedSlot = 321;

bool ringWrapped() {
    return Ring_Wrapped != kFalse;
}

// A record can take a place in the window when it has an instant: a calendar day and a time
// of day. One without (a date or time edited to NULL, text or nonsense) cannot be put in
// order among the others and is left out.
bool hasInstant(const StoredRecord& r) {
    return dateOfDayNumber(r.date).isValid() && r.time >= 0 && r.time < 1;
}

} // namespace

HistoryReview::HistoryReview(TrendState& state, RecordStore* store, TrendView& view)
    : state_(state), store_(store), view_(view) {}

RecordStore* HistoryReview::openStore() {
    if (connection_) return connection_->acquire();
    return store_ && store_->isOpen() ? store_ : nullptr;
}

void HistoryReview::noteRead(bool succeeded) {
    if (connection_) connection_->noteRead(succeeded);
}

void HistoryReview::readRingPosition() {
    RecordStore* store = openStore();
    if (!store) return;
    auto pointer = store->readPointer();
    if (!pointer && !store->isOpen()) {
        // The store closed itself on finding its file replaced: read the new file's pointer
        // when the connection may open it now.
        store = openStore();
        if (!store) return;
        pointer = store->readPointer();
    }
    noteRead(pointer.has_value());
    // A pointer outside the ring (another program's edit) is read as no pointer: the window
    // stays where it was instead of jumping to records it does not name.
    if (pointer && isRingPointer(pointer->first)) state_.Ring_Pos = pointer->first;
    // Rows are added until the ring is full and never deleted, so once the last slot is
    // there the ring has wrapped for good; one primary-key lookup until then. (The read above
    // may have closed a store whose file was replaced.)
    if (!ringWrapped() && store->isOpen()) {
        const auto last = store->hasSlot(kRingSize);
        if (last && *last) Ring_Wrapped = kTrue;
    }
}

void HistoryReview::ClearWindow() {
    for (int s = 0; s <= kLastClearedSlot; ++s) {
        state_.Trend_Date[s] = 0;
        state_.Trend_Time[s] = 0;
        for (int c = 0; c < kDrawnChannels; ++c)
            state_.Trend_Value[c][s] = 0;
    }
}

void HistoryReview::LoadWindow() {
    ClearWindow();
    for (int s = 0; s <= kLastClearedSlot; ++s)
        state_.Gap_Mark[s] = 0;

    const int32_t winLen = state_.Win_Len;
    if (state_.Win_End >= winLen)
        state_.Win_Start = state_.Win_End - winLen;
    else
        state_.Win_Start = kRingSize - (winLen - state_.Win_End); // the window wraps

    std::optional<std::vector<StoredRecord>> records;
    if (RecordStore* store = openStore()) {
        records = store->selectWindow(state_.Win_Start, state_.Win_End, winLen);
        noteRead(records.has_value());
    }
    if (records) {
        std::erase_if(*records, [](const StoredRecord& r) { return !hasInstant(r); });
        // The newest record goes into slot Win_Len whatever the ring holds: a ring younger than
        // the window (every first run) fills the newest slots and leaves the oldest cleared,
        // so the chart shows its records where a full window's newest ones stand.
        const int n =
            std::min({static_cast<int>(records->size()), static_cast<int>(winLen), kTrendSlots - 1});
        const int firstSlot = winLen - n + 1;
        const int skipped = static_cast<int>(records->size()) - n;
        for (int i = firstSlot; i <= winLen; ++i) {
            const StoredRecord& r = (*records)[size_t(skipped + i - firstSlot)];
            state_.Trend_Date[i] = r.date;
            state_.Trend_Time[i] = r.time;
            for (int c = 0; c < kDrawnChannels; ++c)
                state_.Trend_Value[c][i] = r.values[c];
            // A gap lies between two loaded records more than five minutes apart. Whole
            // instants are compared, so midnight between them is no gap, and the first
            // record has no neighbour to be measured against.
            if (i > firstSlot) {
                const double here = state_.Trend_Date[i] + state_.Trend_Time[i];
                const double before = state_.Trend_Date[i - 1] + state_.Trend_Time[i - 1];
                if (std::fabs(here - before) > kGapDays) state_.Gap_Mark[i] = static_cast<int16_t>(i);
            }
        }
    }

    const int first = state_.Slot_Offset + 1;
    if (isTrendSlot(first)) view_.showFirstVisible(slotDateText(state_, first), slotTimeText(state_, first));
}

void HistoryReview::openLiveWindow() {
    state_.Zoom_Level = 1;
    // The geometry of level 1 now rather than at the redraw, so that the first visible
    // slot LoadWindow reports is the one drawn at x = 0.
    ApplyZoom(state_);
    for (int s = 1; s <= kLastClearedSlot; ++s)
        state_.Gap_Mark[s] = 0;
    view_.setNewerEnabled(false);
    reloadLiveWindow();
    view_.redraw();
}

void HistoryReview::reloadLiveWindow() {
    readRingPosition();
    state_.Win_Len = kLiveWinLen;
    state_.Win_End = state_.Ring_Pos;
    state_.Probe_End = state_.Ring_Pos;
    state_.Win_Count = kLiveWinLen;
    LoadWindow();
}

// Where the older pages end. A page P records behind the newest covers the records P to
// P + 320 behind it. On a ring that has not wrapped the records are slots 1..Ring_Pos; on a
// wrapped ring all 65500 slots hold records and the oldest is the slot after Ring_Pos.
//
// Probe_End follows the ring: Ring_Pos - P while that is a slot id, and, on a wrapped ring,
// 65500 - (P - Ring_Pos) once the page lies across the end of the ring. The last page is
// the first one that reaches the oldest record:
//  - not wrapped: Probe_End <= 321, i.e. the page reaches slot 1; when P is already at or
//    beyond Ring_Pos the page holds slot 1 too, so it is the last as well (otherwise the
//    operator could page on into slots that were never written);
//  - wrapped: P + 321 >= 65500. Across the end of the ring this is the rule
//    Probe_End - Ring_Pos <= 321. Before the end it replaces the test Probe_End <= 321,
//    which would stop paging at slot 1 although the older records after Ring_Pos are there.
bool HistoryReview::pageReachesOldest(int32_t p) const {
    const int32_t r = state_.Ring_Pos;
    if (ringWrapped()) return kRingSize - p <= kHistoryWinLen;
    return r > p ? state_.Probe_End <= kHistoryWinLen : true;
}

// On a wrapped ring the last page would reach past the oldest record into the newest ones,
// which sort after it by date and time and would show up at the right of the page. The last
// page therefore holds exactly the oldest 321 records, slots Ring_Pos + 1 onward.
int32_t HistoryReview::oldestPageWindowEnd() const {
    int32_t end = state_.Ring_Pos + kHistoryWinLen;
    while (end > kRingSize)
        end -= kRingSize;
    while (end < 1)
        end += kRingSize;
    return end;
}

void HistoryReview::setWindowEndForPage(int32_t p) {
    const int32_t r = state_.Ring_Pos;
    if (r > p) {
        state_.Win_End = r - p;
    } else if (ringWrapped()) {
        // Behind slot 1 lie the last slots of the ring; P records behind Ring_Pos = P is
        // slot 65500 itself (keeping the old end there would show the page before again).
        state_.Win_End = kRingSize - (p - r);
    } else if (r < p) {
        // Before the ring has wrapped the page stays on the first records.
        state_.Win_End = r;
    }
    // Ring_Pos equal to P on a ring that has not wrapped leaves Win_End as it was.
}

void HistoryReview::olderPage() {
    if (state_.Page_Back == std::numeric_limits<int16_t>::max()) return;
    ++state_.Page_Back;
    state_.Win_Len = kHistoryWinLen;
    if (state_.Page_Back >= 1) {
        view_.setLiveTimerActive(false);
        view_.setNewerEnabled(true);
    }

    const int32_t p = kPageRecords * state_.Page_Back;
    updateProbeEnd(p);
    const bool oldest = pageReachesOldest(p);
    if (oldest) {
        view_.setOlderEnabled(false);
        state_.At_Oldest = true;
    }

    setWindowEndForPage(p);
    if (oldest && ringWrapped()) state_.Win_End = oldestPageWindowEnd();
    state_.Win_Count = kHistoryWinLen;
    LoadWindow();
    view_.redraw();
}

// Probe_End follows the ring P records behind the newest: Ring_Pos - P while that is a slot
// id, and on a wrapped ring the slot as far behind the end of the ring.
void HistoryReview::updateProbeEnd(int32_t p) {
    const int32_t r = state_.Ring_Pos;
    if (r > p)
        state_.Probe_End = r - p;
    else if (ringWrapped())
        state_.Probe_End = kRingSize - (p - r);
}

void HistoryReview::newerPage() {
    // Live already: there is no newer page (the button is disabled and the key guarded).
    if (state_.Page_Back <= 0) return;
    view_.clearSurface();
    --state_.Page_Back;
    state_.Win_Len = kHistoryWinLen;

    if (state_.Page_Back != 0) {
        const int32_t p = kPageRecords * state_.Page_Back;
        updateProbeEnd(p);
        setWindowEndForPage(p);
        state_.Win_Count = kHistoryWinLen;
        LoadWindow();
        view_.redraw();
    } else {
        reloadLiveWindow();
        view_.setNewerEnabled(false);
        view_.redraw();
        view_.setLiveTimerActive(true);
    }
    if (!view_.olderEnabled()) {
        view_.setOlderEnabled(true);
        state_.At_Oldest = false;
    }
}

void HistoryReview::settleLiveOldest() {
    state_.At_Oldest = !ringWrapped() && state_.Ring_Pos <= kLiveWinLen;
    view_.setOlderEnabled(!state_.At_Oldest);
}

} // namespace hx
