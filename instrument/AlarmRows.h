#pragma once
// The instrument's sixteen alarm rows: for each of the eight channels its alarm setpoint and its
// hysteresis, holding registers 257..272, with the row's caption and its range hint (shown,
// never enforced).
#include <array>
#include <cstdint>

namespace hx {

struct AlarmRow {
    const char* caption;
    const char* hint;
};

inline constexpr int kAlarmRowCount = 16;
inline constexpr int kFirstAlarmRegister = 257;

inline constexpr std::array<AlarmRow, kAlarmRowCount> kAlarmRows{{
    {"报警一设定值", "-1999~ 9999"},
    {"报警一回差值", "0-100"},
    {"报警二设定值", "-1999~ 9999"},
    {"报警二回差值", "0-100"},
    {"报警三设定值", "-1999~ 9999"},
    {"报警三回差值", "0-100"},
    {"报警四设定值", "-1999~ 9999"},
    {"报警四回差值", "0-100"},
    {"报警五设定值", "-1999~ 9999"},
    {"报警五回差值", "0-100"},
    {"报警六设定值", "-1999~ 9999"},
    {"报警六回差值", "0-100"},
    {"报警七设定值", "-1999~ 9999"},
    {"报警七回差值", "0-100"},
    {"报警八设定值", "-1999~ 9999"},
    {"报警八回差值", "0-100"},
}};

} // namespace hx
