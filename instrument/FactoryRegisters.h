#pragma once
// The instrument's registers as the factory record sheet lists them: the labels of the items of
// its two grids, the blocks read on every refresh into its tables, and the writes that set all
// eight inputs to 0-5 V.
#include <QString>

#include <array>
#include <cstdint>

namespace hx {

inline constexpr int kBasicBufSize = 201;
inline constexpr int kCalBufSize = 101;
inline constexpr int kBasicItems = 120; // Flxg: five column pairs of 24 rows
inline constexpr int kCalItems = 72;    // Flxg1: three column pairs

// Item 113 repeats the label of channel 8's alarm mode, but no read feeds it (the mode is item
// 96): its cell shows no value rather than a 0 the instrument never sent.
inline constexpr int kUnreadLabelledItem = 113;

// The labels of the basic configuration (Flxg, items 1..120) and calibration (Flxg1, items
// 1..72) grids; empty for an unlabelled item or one outside the grid.
QString basicItemLabel(int item);
QString calibrationItemLabel(int item);

// One block read on every refresh: `count` holding registers from `first` into the basic
// (Basic_Buf) or calibration (Cal_Buf) table from element `element`.
struct SheetRead {
    bool calibration;
    int32_t first;
    int count;
    int element;
};
inline constexpr std::array<SheetRead, 11> kSheetReads{{
    {false, 4097, 16, 1},
    {false, 4113, 16, 17},
    {false, 4129, 16, 33},
    {false, 4145, 16, 49},
    {false, 4161, 16, 65},
    {false, 4177, 16, 81},
    {false, 257, 16, 97},
    {true, 24577, 16, 1},
    {true, 24593, 16, 17},
    {true, 24609, 16, 33},
    {true, 24625, 8, 49},
}};

// "8输入改5伏": every channel to the 0-5 V signal type (20) with input range 0..5000, channel
// by channel; decimal point and offset stay as they are.
struct RegisterWrite {
    int32_t reg;
    int32_t value;
};
constexpr std::array<RegisterWrite, 24> fiveVoltWrites() {
    std::array<RegisterWrite, 24> writes{};
    for (int i = 0; i < 8; ++i) {
        writes[3 * i] = {4121 + 8 * i, 20};
        writes[3 * i + 1] = {4123 + 8 * i, 5000};
        writes[3 * i + 2] = {4124 + 8 * i, 0};
    }
    return writes;
}

} // namespace hx
