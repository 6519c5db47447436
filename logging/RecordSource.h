#pragma once
// Where the recorder takes a record from: the ten recorded values (CH1..CH8, DA1, DA2), whether
// good answers refreshed all of them since the last record, and the time of that record. The
// window's recorder takes them from the shared acquisition state (Pv_Value, freshValues(),
// Last_Date/Last_Time); the line service gives each instrument's recorder a source of its own.
#include <array>

#include "core/Clock.h"

namespace hx {

class RecordSource {
  public:
    virtual ~RecordSource() = default;

    // Every recorded value was refreshed by a good answer since the last take().
    virtual bool allFresh() const = 0;
    // The values for a record; freshness starts anew.
    virtual std::array<float, 10> take() = 0;
    // The clock reading of the last record decided (0, 0 before the first).
    virtual ClockReading lastRecord() const = 0;
    virtual void setLastRecord(const ClockReading& at) = 0;
    // A record was decided, stored or not: the live trend advances.
    virtual void recordDecided() {}
};

// The shared acquisition state the windows meet in.
RecordSource& sharedRecordSource();

} // namespace hx
