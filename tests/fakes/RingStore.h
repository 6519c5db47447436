#pragma once
// A recording ring that can go round in a test without 65500 rows on a disk: records are made
// from their sequence number (value and time), slot by slot as the recorder would have written
// them. One ring, shared with every store opened on it; append() may run on another thread
// than the reader's.
#include "core/Clock.h"
#include "logging/RecordStore.h"

#include <QDateTime>

#include <algorithm>
#include <memory>
#include <mutex>

namespace hx::test {

class RingStore : public RecordStore {
  public:
    struct Ring {
        std::mutex mutex;
        int64_t stored = 0; // records written since the ring was new
        QDateTime first{QDate(2026, 12, 8), QTime(0, 0)};

        int32_t newest() const { return stored == 0 ? 0 : int32_t((stored - 1) % kRingSize) + 1; }
        // The record the recorder wrote as its nth (from 1).
        StoredRecord recordNumber(int64_t n) const {
            const QDateTime at = first.addSecs(n);
            return StoredRecord{int32_t((n - 1) % kRingSize) + 1,
                                double(dayNumberOf(at.date())),
                                dayFractionOf(at.time()),
                                {float(n)}};
        }
        StoredRecord append() {
            std::lock_guard lock(mutex);
            return recordNumber(++stored);
        }
        // What slot holds now; nullopt when nothing was written there yet.
        std::optional<StoredRecord> inSlot(int32_t slot) const {
            if (slot < 1 || slot > kRingSize || slot > stored) return std::nullopt;
            return recordNumber(stored - (newest() - slot + kRingSize) % kRingSize);
        }
    };

    explicit RingStore(std::shared_ptr<Ring> ring) : ring_(std::move(ring)) {}
    bool isOpen() const override { return true; }
    QString path() const override { return QStringLiteral("ring"); }
    QString lastError() const override { return {}; }
    bool isReadOnly() const override { return true; }
    std::optional<std::pair<int32_t, int32_t>> readPointer() override {
        std::lock_guard lock(ring_->mutex);
        return std::pair{ring_->newest(), ring_->newest()};
    }
    WriteOutcome writeRecord(const StoredRecord&) override { return WriteOutcome::Failed; }
    std::optional<std::vector<StoredRecord>> selectWindow(int32_t winStart, int32_t winEnd,
                                                          int32_t winLen) override {
        std::lock_guard lock(ring_->mutex);
        std::vector<StoredRecord> rows;
        const auto take = [&](int32_t from, int32_t to) {
            for (int32_t slot = from; slot <= to; ++slot)
                if (const auto r = ring_->inSlot(slot)) rows.push_back(*r);
        };
        if (winEnd >= winLen) {
            take(winStart + 1, winEnd);
        } else {
            take(1, winEnd);
            take(winStart + 1, kRingSize);
        }
        std::sort(rows.begin(), rows.end(), [](const StoredRecord& a, const StoredRecord& b) {
            return std::pair(a.date, a.time) < std::pair(b.date, b.time);
        });
        return rows;
    }
    std::optional<bool> hasSlot(int32_t id) override {
        std::lock_guard lock(ring_->mutex);
        return id >= 1 && id <= std::min<int64_t>(ring_->stored, kRingSize);
    }

  private:
    std::shared_ptr<Ring> ring_;
};

} // namespace hx::test
