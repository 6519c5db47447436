#pragma once
// Ring and window arithmetic of the recording database, apart from SQLite.
#include <cstdint>

#include <QString>

#include "logging/RecordStore.h"

namespace hx {

// The slot counter as the recorder keeps it between reading the pointer and deciding a
// record: a pointer at or beyond the ring size starts the ring again (65499 is the last
// value kept, so the next record goes to 65500 and the one after it to 1). A negative
// pointer (another program's edit) names no slot either and starts the ring again too;
// kept, it would send the next records to slots nobody reads.
constexpr int32_t ringCounterOf(int32_t pointer) {
    return pointer >= kRingSize || pointer < 0 ? 0 : pointer;
}

// First slot before a window of winLen records ending at slot winEnd; a window that
// reaches back past slot 1 continues at the end of the ring.
constexpr int32_t windowStart(int32_t winEnd, int32_t winLen) {
    return winEnd >= winLen ? winEnd - winLen : kRingSize - (winLen - winEnd);
}

// The query for the window (winStart, winEnd]: one rowid range when it does not wrap, two
// rowid ranges (1..winEnd and winStart+1..end) when it does. Both forms are answered from
// the integer primary key; "not between" would scan the whole table.
QString windowQuerySql(int32_t winStart, int32_t winEnd, int32_t winLen);

} // namespace hx
