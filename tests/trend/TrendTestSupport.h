#pragma once
// Test helpers of the trend display: a record store held in memory that answers the
// window query as the SQLite store does, and a main window stand-in that remembers what
// history review asked of it and redraws into a recording canvas.
#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include <QStringList>

#include "fakes/RecordingCanvas.h"
#include "logging/RecordStore.h"
#include "trend/HistoryReview.h"
#include "trend/TrendRenderer.h"

namespace hx::test {

// Day number of 2026-03-14, a plain day far from the epoch.
constexpr double kDay = 46095;

inline double secondsToDay(int seconds) {
    return seconds / 86400.0;
}

// The record of ring slot id written at the instant `second` seconds after midnight of
// kDay (may run into the next days); channel c holds id + c so a slot is recognisable.
inline StoredRecord recordAt(int32_t id, long long second) {
    StoredRecord r;
    r.id = id;
    r.date = kDay + double(second / 86400);
    r.time = secondsToDay(int(second % 86400));
    for (int c = 0; c < 10; ++c)
        r.values[c] = float(id + c);
    return r;
}

class FakeRecordStore final : public RecordStore {
  public:
    std::map<int32_t, StoredRecord> rows;
    std::optional<std::pair<int32_t, int32_t>> pointer{std::make_pair(0, 0)};
    bool open = true;
    bool failQueries = false;
    int hasSlotCalls = 0;
    struct WindowQuery {
        int32_t winStart, winEnd, winLen;
    };
    std::vector<WindowQuery> windowQueries;

    // A ring written one record per second: slots first..last (ids, wrapping past 65500
    // when first > last), the newest at `newestSecond`; the pointer on `last`.
    void fillRing(int32_t first, int32_t last, long long newestSecond) {
        std::vector<int32_t> ids;
        for (int32_t id = first;; id = id == kRingSize ? 1 : id + 1) {
            ids.push_back(id);
            if (id == last) break;
        }
        const long long n = static_cast<long long>(ids.size());
        for (long long k = 0; k < n; ++k)
            rows[ids[k]] = recordAt(ids[k], newestSecond - (n - 1 - k));
        pointer = std::make_pair(last, last);
    }

    bool isOpen() const override { return open; }
    QString path() const override { return QStringLiteral(":memory:"); }
    QString lastError() const override { return {}; }
    std::optional<std::pair<int32_t, int32_t>> readPointer() override {
        if (!open || failQueries) return std::nullopt;
        return pointer;
    }
    WriteOutcome writeRecord(const StoredRecord& record) override {
        rows[record.id] = record;
        pointer = std::make_pair(record.id, record.id);
        return WriteOutcome::Committed;
    }
    std::optional<std::vector<StoredRecord>> selectWindow(int32_t winStart, int32_t winEnd,
                                                          int32_t winLen) override {
        windowQueries.push_back({winStart, winEnd, winLen});
        if (!open || failQueries) return std::nullopt;
        std::vector<StoredRecord> out;
        auto take = [&](auto from, auto to) {
            for (auto it = from; it != to; ++it)
                out.push_back(it->second);
        };
        if (winEnd >= winLen) {
            take(rows.upper_bound(winStart), rows.upper_bound(winEnd));
        } else {
            take(rows.begin(), rows.upper_bound(winEnd));
            take(rows.upper_bound(std::max(winStart, winEnd)), rows.end());
        }
        std::stable_sort(out.begin(), out.end(), [](const StoredRecord& a, const StoredRecord& b) {
            return a.date != b.date ? a.date < b.date : a.time < b.time;
        });
        return out;
    }
    std::optional<bool> hasSlot(int32_t id) override {
        ++hasSlotCalls;
        if (!open || failQueries) return std::nullopt;
        return rows.count(id) > 0;
    }
};

// The main window as history review sees it. Redraws go through the real renderer.
class RecordingTrendView final : public TrendView {
  public:
    explicit RecordingTrendView(TrendState& state) : state_(state) {}

    bool newer = false;
    bool older = true;
    bool liveTimer = true;
    int clears = 0;
    int redraws = 0;
    QString firstDate, firstTime;
    QStringList calls; // in order
    RecordingCanvas canvas;
    TrendLabels labels;

    void setNewerEnabled(bool enabled) override {
        newer = enabled;
        calls << QStringLiteral("newer=%1").arg(enabled);
    }
    bool newerEnabled() const override { return newer; }
    void setOlderEnabled(bool enabled) override {
        older = enabled;
        calls << QStringLiteral("older=%1").arg(enabled);
    }
    bool olderEnabled() const override { return older; }
    void setLiveTimerActive(bool active) override {
        liveTimer = active;
        calls << QStringLiteral("timer=%1").arg(active);
    }
    void clearSurface() override {
        ++clears;
        canvas.Cls();
        calls << QStringLiteral("clear");
    }
    void redraw() override {
        ++redraws;
        hx::redraw(state_, canvas, labels);
        calls << QStringLiteral("redraw");
    }
    void showFirstVisible(const QString& dateText, const QString& timeText) override {
        firstDate = dateText;
        firstTime = timeText;
        calls << QStringLiteral("first");
    }

  private:
    TrendState& state_;
};

} // namespace hx::test
