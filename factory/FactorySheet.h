#pragma once
// The factory record sheet as data: the items of its two grids with their labels and
// places, the blocks read on every refresh, the writes of the 0-5 V command, and the texts
// of its date and time labels.
#include <QDate>
#include <QString>
#include <QTime>

#include <array>
#include <cstdint>

namespace hx {

inline constexpr int kBasicBufSize = 201;
inline constexpr int kCalBufSize = 101;
inline constexpr int kBasicItems = 120; // Flxg: five column pairs of 24 rows
inline constexpr int kCalItems = 72;    // Flxg1: three column pairs
inline constexpr int kSheetRows = 25;   // row 0 is the header
inline constexpr int kItemsPerPair = 24;

// Where item n (from 1) of a grid sits: column pair c = ceil(n / 24), row n - 24(c - 1),
// its label in column 2c - 1 and its value in column 2c.
struct ItemCell {
    int row;
    int labelColumn;
    int valueColumn;
};
constexpr ItemCell itemCell(int item) {
    const int pair = (item + kItemsPerPair - 1) / kItemsPerPair;
    return {item - kItemsPerPair * (pair - 1), 2 * pair - 1, 2 * pair};
}

// Item 113 repeats the label of channel 8's alarm mode, but no read feeds it (the mode is item
// 96): its cell shows no value rather than a 0 the instrument never sent.
inline constexpr int kUnreadLabelledItem = 113;

// Column widths in twips: the row number, then label and value columns by pairs.
inline constexpr int kNumberColumnWidth = 550;
inline constexpr int kLabelColumnWidth = 1400;
inline constexpr int kValueColumnWidth = 700;

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

// Placement in twips.
struct FactoryLayout {
    static constexpr int clientWidth = 18390, clientHeight = 10305;
    static constexpr std::array<int, 4> productTops{120, 660, 1200, 1740};
    static constexpr int headingLeft = 420, headingWidth = 1900;
    static constexpr int productLeft = 2400, productWidth = 11355, productHeight = 405;
    static constexpr int clockTop = 90, dateWidth = 1260, timeWidth = 1440, clockHeight = 330;
    static constexpr int dateLeft = 14490, timeLeft = 15750;
    static constexpr int returnLeft = 17280, returnTop = 30, returnWidth = 975, returnHeight = 435;
    static constexpr int noteLeft = 14010, noteTop = 570, noteWidth = 1000, noteHeight = 330;
    static constexpr int ruleLeft = 13980, ruleTop = 990, ruleWidth = 4275, ruleHeight = 975;
    static constexpr int commandLeft = 15210, commandTop = 2040, commandWidth = 1605, commandHeight = 435;
    static constexpr int failuresLeft = 16875, failuresWidth = 1450;
    static constexpr int reportLeft = 13860, reportWidth = 1290; // beside "8输入改5伏"
    static constexpr int reportStatusWidth = 8800; // from productLeft, on the grid headings' line
    static constexpr int gridHeadingTop = 2310, gridHeadingWidth = 1900, gridHeadingHeight = 300;
    static constexpr int gridTop = 2640, gridHeight = 7605, rowHeight = 300;
    static constexpr int basicLeft = 90, basicWidth = 11205;
    static constexpr int calibrationLeft = 11310, calibrationWidth = 7005;
};

// The date label: month first, "03-03-2001"; the time label: "18:42:00" on the 24-hour clock.
QString sheetDateText(const QDate& date);
QString sheetTimeText(const QTime& time);

} // namespace hx
