#pragma once
// The live window's arithmetic, apart from the widgets that show it: the scale labels, the
// text of a live value, and one recorded sample appended to the trend window, with the
// window reloaded from the recording when its growth band is full.
#include "core/Clock.h"
#include "logging/RecordStore.h"
#include "trend/HistoryReview.h"
#include "trend/TrendState.h"

#include <QString>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace hx {

constexpr int kScaleLabels = 7;

// The scale labels bottom (0) to top (6): i x (Y_Span / 6) with the quotient in single
// precision, rounded half to even, plus Y_Min.
std::array<int64_t, kScaleLabels> scaleLabelValues(int16_t yMin, int16_t ySpan);

// The shortest decimal form of a single-precision value (at most seven significant digits).
QString liveValueText(float value);

// Win_Count at which the growth band of the zoom level is full: 20 samples a level beyond
// the 241 loaded.
constexpr int growthBandEnd(int zoomLevel) {
    return 20 * zoomLevel + kLiveWinLen;
}

// One stored record: Win_Count moves on and its values and instant go into slot Win_Count (a
// slot outside the window is not stored); when the growth band is full (or overfull after a
// zoom in) the window is cleared and the newest stored records loaded again instead (the
// view's surface cleared and redrawn), which brings this record with them. Returns true
// when the window was reloaded.
// F1/F2: the chart at another zoom level, redrawn. On the live page a growth band already
// fuller than the new level's (zooming in) is reloaded at once, so the newest records stand
// at the growth end at once instead of past the right edge until the next sample. Returns
// true when the window was reloaded.
bool zoomTrend(TrendState& state, HistoryReview& history, TrendView& view, int level);

bool appendLiveSample(TrendState& state, HistoryReview& history, TrendView& view,
                      std::span<const float> values, const ClockReading& now);

// A measured record that could not be stored (the database unavailable, a write that
// failed): drawn as measured, like a stored one. A full growth band cannot be reloaded from the
// recording, which lacks the record; the window moves on in memory instead and keeps its
// newest kLiveWinLen samples, the new one last, as a reload would have.
void appendUnstoredSample(TrendState& state, std::span<const float> values, const ClockReading& now);

// The records the recorder announced since the last live tick, which appends them all; the
// chart and the database then agree point for point.
class PendingRecords {
  public:
    // A record that could not be stored is still a measurement: the live chart draws it.
    void add(const StoredRecord& record, WriteOutcome outcome) {
        pending_.push_back({record, outcome != WriteOutcome::Failed});
    }
    // The window was reloaded: the records announced meanwhile are in it, or belong to no page.
    void clear() { pending_.clear(); }
    // A reload brings the stored record that caused it and every stored one announced after it.
    void appendTo(TrendState& state, HistoryReview& history, TrendView& view);

  private:
    struct Pending {
        StoredRecord record;
        bool stored = false; // in the database; false: measured, but it could not be stored
    };
    std::vector<Pending> pending_;
};

} // namespace hx
