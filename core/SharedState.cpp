#include "SharedState.h"

#include "core/FreshValues.h"

#include <algorithm>
#include <iterator>

namespace hx {

int32_t Com_Param[kComParamSize] = {};
float Pv_Value[kPvValueSize] = {};
int32_t Reg_Buffer[kRegBufferSize] = {};
int32_t Status_Bit[kStatusBitSize] = {};

int16_t Y_Span = 0;
int16_t Y_Min = 0;
int16_t Y_Offset = 0;
int16_t Main_Open = kFalse;
int16_t New_Record = kFalse;
int16_t Ring_Wrapped = kFalse;
double Last_Time = 0;
double Last_Date = 0;

void resetSharedState() {
    std::fill(std::begin(Com_Param), std::end(Com_Param), 0);
    std::fill(std::begin(Pv_Value), std::end(Pv_Value), 0.0f);
    std::fill(std::begin(Reg_Buffer), std::end(Reg_Buffer), 0);
    std::fill(std::begin(Status_Bit), std::end(Status_Bit), 0);
    Y_Span = 0;
    Y_Min = 0;
    Y_Offset = 0;
    Main_Open = kFalse;
    New_Record = kFalse;
    Ring_Wrapped = kFalse;
    Last_Time = 0;
    Last_Date = 0;
    freshValues() = FreshValues{};
}

} // namespace hx
