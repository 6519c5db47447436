#pragma once
// The process-wide acquisition state the windows meet in. Plain storage, fixed bounds,
// zero-filled at start; booleans held in 16-bit values are -1 (true) and 0 (false).
#include <cstdint>

namespace hx {

constexpr int16_t kTrue = -1;
constexpr int16_t kFalse = 0;

constexpr int kComParamSize = 501;
constexpr int kPvValueSize = 301;
constexpr int kRegBufferSize = 501;
constexpr int kStatusBitSize = 101;

// Com_Param: 0 port, 1 baud choice, 2 parity choice, 3 slave address,
// 19 value about to be written, 20 result of the last open.
enum ComParamIndex : int {
    kComPort = 0,
    kComBaud = 1,
    kComParity = 2,
    kComAddress = 3,
    kComWriteValue = 19,
    kComOpenResult = 20,
};
extern int32_t Com_Param[kComParamSize];
extern float Pv_Value[kPvValueSize];
extern int32_t Reg_Buffer[kRegBufferSize];
extern int32_t Status_Bit[kStatusBitSize];

extern int16_t Y_Span;
extern int16_t Y_Min;
extern int16_t Y_Offset;
extern int16_t Main_Open;
extern int16_t New_Record;
extern int16_t Ring_Wrapped;
extern double Last_Time;
extern double Last_Date;

// Back to the state at process start (everything zero). Tests use it between cases.
void resetSharedState();

} // namespace hx
