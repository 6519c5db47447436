#pragma once
// The factory record sheet as the window shows it: where the items of its two grids sit, the
// window's placement, and the texts of its date and time labels. The items, reads and writes
// themselves are the instrument's (instrument/FactoryRegisters).
#include "instrument/FactoryRegisters.h"

#include <QDate>
#include <QString>
#include <QTime>

#include <array>

namespace hx {

inline constexpr int kSheetRows = 25; // row 0 is the header
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

// Column widths in twips: the row number, then label and value columns by pairs.
inline constexpr int kNumberColumnWidth = 550;
inline constexpr int kLabelColumnWidth = 1400;
inline constexpr int kValueColumnWidth = 700;

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
