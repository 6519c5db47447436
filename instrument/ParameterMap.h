#pragma once
// The instrument's 96 configuration registers, 4097..4192 (k = register - 4097): what each
// means, how its value is encoded, the texts that offer and show its values, the control that
// edits it and where it sits in the configuration window. The reader, the writer, the window
// and the factory sheet all work from this one table.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace hx::config {

constexpr int32_t kFirstRegister = 4097;
constexpr int kParameterCount = 96;
constexpr int kComboCount = 38;
constexpr int kTabCount = 14;

enum class Encoding {
    Unused,      // read with its block, neither shown nor edited
    Password,    // 0..9999, shown with at least four digits
    Code,        // selects an entry of an option list
    Count,       // a plain number (filter level, channel count)
    Integer,     // a signed value in instrument units
    ChannelMask, // bit n-1 for channel n
};

enum class Editor { None, List, Box };

// One entry of an option list: the text the list offers, and the text the value label shows
// for the value read back (empty in lists whose values are shown as numbers).
struct Option {
    int32_t value;
    std::string_view offer;
    std::string_view shown;
};

struct OptionList {
    char name; // 'A'..'M'
    std::span<const Option> items;
    bool shownAsNumber;
};

struct Parameter {
    int k;
    int32_t reg;
    std::string_view label; // name label of the row; empty when not shown
    Editor editor;
    int combo; // n of list control Combo<n>, 0 for an entry box (T_3RW(k)) or no editor
    std::string_view hint;
    Encoding encoding;
    char list; // option list 'A'..'M', 0 for none
    int tab;   // tab index 0..13, -1 when not shown
    int row;   // row position on its tab, top row 0
};

struct Tab {
    std::string_view caption;
    std::string_view heading; // empty: no heading bar
};

// ---- option lists ---------------------------------------------------------------------------

inline constexpr Option kListA[] = {{0, "0:轮显 ", "轮显"}, {1, "1:定显 ", "定显"}};
inline constexpr Option kListB[] = {{0, "0 ", ""}, {1, "1 ", ""}, {2, "2 ", ""},  {3, "3 ", ""},
                                    {4, "4 ", ""}, {5, "5 ", ""}, {6, "6 ", ""},  {7, "7 ", ""},
                                    {8, "8 ", ""}, {9, "9 ", ""}, {10, "10 ", ""}};
inline constexpr Option kListC[] = {
    {0, "0:摄氏度 ", "摄氏度"}, {1, "1:华氏度 ", "华氏度"}, {2, "2:绝对温度K ", "绝对温度"}};
inline constexpr Option kListD[] = {{1, "1 ", ""}, {2, "2 ", ""}, {3, "3 ", ""}, {4, "4 ", ""},
                                    {5, "5 ", ""}, {6, "6 ", ""}, {7, "7 ", ""}, {8, "8 ", ""}};
inline constexpr Option kListE[] = {
    {0, "0:4800BPS ", "4800"}, {1, "1:9600BPS ", "9600"}, {2, "2:19200BPS ", "19200"}};
inline constexpr Option kListF[] = {
    {0, "0:无校验 ", "无校验"}, {1, "1:奇校验 ", "奇校验"}, {2, "2:偶校验 ", "偶校验"}};
inline constexpr Option kListG[] = {{1, "1:通道1使能 ", ""}, {2, "2:通道2使能 ", ""}, {3, "3:通道3使能 ", ""},
                                    {4, "4:通道4使能 ", ""}, {5, "5:通道5使能 ", ""}, {6, "6:通道6使能 ", ""},
                                    {7, "7:通道7使能 ", ""}, {8, "8:通道8使能 ", ""}};
inline constexpr Option kListH[] = {{1, "1:开路1使能 ", ""}, {2, "2:开路2使能 ", ""}, {3, "3:开路3使能 ", ""},
                                    {4, "4:开路4使能 ", ""}, {5, "5:开路5使能 ", ""}, {6, "6:开路6使能 ", ""},
                                    {7, "7:开路7使能 ", ""}, {8, "8:开路8使能 ", ""}};
inline constexpr Option kListI[] = {
    {0, "0:禁止变送 ", "禁止"},        {1, "1:通道1变送 ", "通道一变送"}, {2, "2:通道2变送 ", "通道二变送"},
    {3, "3:通道3变送 ", "通道三变送"}, {4, "4:通道4变送 ", "通道四变送"}, {5, "5:通道5变送 ", "通道五变送"},
    {6, "6:通道6变送 ", "通道六变送"}, {7, "7:通道7变送 ", "通道七变送"}, {8, "8:通道8变送 ", "通道八变送"}};
inline constexpr Option kListJ[] = {
    {0, "0:0V5 ", "0V5"}, {1, "1:0V10 ", "0V10"}, {2, "2:0MA20 ", "0MA20"}, {3, "3:0MA10 ", "0MA10"},
    {4, "4:1V5 ", "1V5"}, {5, "5:2V10 ", "2V10"}, {6, "6:4MA20 ", "4MA20"}};
// The offer texts and the shown texts state different ranges for the thermocouples; the item
// for 8 has a blank after its number, and two shown texts end in two brackets. The instrument's
// own texts, kept as they are.
inline constexpr Option kListK[] = {
    {0, "0:K(-200-1300)", "K(-200~1370)"},
    {1, "1:S(0-1700) ", "S(0~1760)"},
    {2, "2:R(0-1700) ", "R(0~1760)"},
    {3, "3:T(-200-400) ", "T(-270~400)"},
    {4, "4:E(0-1000) ", "E(-270~1000)"},
    {5, "5:J(0-1200) ", "J(-200~1200)"},
    {6, "6:B(400-1800) ", "B(400~1820)"},
    {7, "7:N(0-1300) ", "N(-200~1300)"},
    {8, "8 WRe325(0-2300)", "WRe325(0~2310)"},
    {9, "9:WRe526(0-2300) ", "WRe526(0~2310)"},
    {10, "10:4MA20(4-20MA) ", "4MA20(4-20MA)"},
    {11, "11:0MA20(0～20MA) ", "0MA20(0～20MA)"},
    {12, "12:Cu50(-50-150)", "Cu50(-50-150)"},
    {13, "13:PT100(-200-850) ", "PT100(-200-850)"},
    {14, "14:0Ω80(0～80Ω) ", "0Ω80(0～80Ω)"},
    {15, "15:0Ω400(0～400Ω) ", "0Ω400(0～400Ω)"},
    {16, "16:0MV20(0-20MV) ", "0MV20(0-20MV)"},
    {17, "17:0MV100(0-100MV)", "0MV100(0-100MV))"},
    {18, "18:0V1(0-1V) ", "0V1(0-1V))"},
    {19, "19:1V5(1-5V) ", "1V5(1-5V)"},
    {20, "20:0V5(0-5V) ", "0V5(0-5V)"},
    {21, "21:正负20MV(-20-+20MV) ", "正负20MV(-20-+20MV)"},
    {22, "22:正负100MV(-100-+100MV)", "正负100MV(-100-+100MV)"},
    {23, "23:正负5V(-5-+5V) ", "正负5V(-5-+5V)"},
};
inline constexpr Option kListL[] = {
    {0, "0:XXXX ", "XXXX"}, {1, "1:XXX.X ", "XXX.X"}, {2, "2:XX.XX ", "XX.XX"}, {3, "3:X.XXX ", "X.XXX"}};
inline constexpr Option kListM[] = {{0, "0:禁止 ", "禁止"},     {1, "1:上限 ", "上限"},
                                    {2, "2:下限 ", "下限"},     {3, "3:上偏差 ", "上偏差"},
                                    {4, "4:下偏差 ", "下偏差"}, {5, "5:偏差带 ", "偏差带"}};

inline constexpr OptionList kOptionLists[] = {
    {'A', kListA, false}, {'B', kListB, true},  {'C', kListC, false}, {'D', kListD, true},
    {'E', kListE, false}, {'F', kListF, false}, {'G', kListG, true},  {'H', kListH, true},
    {'I', kListI, false}, {'J', kListJ, false}, {'K', kListK, false}, {'L', kListL, false},
    {'M', kListM, false},
};

// ---- tabs -----------------------------------------------------------------------------------

inline constexpr std::array<Tab, kTabCount> kTabs = {{
    {"1.Instrument ", "功能参数设定"},
    {"2.通讯设置", "通讯参数设定"},
    {"3.报警继电器设置", "继电器功能设定"},
    {"4.变送设置", "变送通道设置"},
    {"5.通道一", "输入通道一设置"},
    {"通道二", "输入通道二设定"},
    {"7.通道三", "输入通道三"},
    {"8.通道四", "输入通道四"},
    {"9.通道五", "输入通道五"},
    {"10.通道六", "输入通道六"},
    {"11.通道七", "输入通道七"},
    {"12.通道八", "输入通道八"},
    {"Tab 12", ""},
    {"14.报警方式", ""},
}};

constexpr int kFirstChannelTab = 4;
constexpr int kEmptyTab = 12;
constexpr int kAlarmModeTab = 13;
constexpr int kOpeningTab = 10; // "11.通道七"

// ---- parameters -----------------------------------------------------------------------------

namespace detail {

using enum Encoding;
using enum Editor;

inline constexpr std::string_view kRelayHint =
    "0-255，根据各通道排序8421码组合报警。比如通道2，3报警，输入6.";
inline constexpr std::string_view kSourceHint = "0-8，0：无变送，1-8选择变送";
inline constexpr std::string_view kOutputTypeHint = "0-6，0：0V5,1:0V10,2:0MA20,3:0MA10,4:1V5,5:2V10,6:4MA20";
inline constexpr std::string_view kRangeHint = "-1999~ 9999";

// The rows outside the channel groups, with k. Registers: 4097 + k.
inline constexpr Parameter kFixedRows[] = {
    {0, 0, "密码设定", Box, 0, "0000-9999", Password, 0, 0, 0},
    {1, 0, "显示方式", List, 2, "0-轮显，1-定显。 Default=0", Code, 'A', 0, 1},
    {2, 0, "数字滤波", List, 3, "0-10级滤波，数字越大，采集速度越慢", Count, 'B', 0, 2},
    {3, 0, "温度单位", List, 4, "0-摄氏度C，1-华氏度F， 2-绝对温度K", Code, 'C', 0, 3},
    {4, 0, "有效输入通道数", List, 31, "1-8， 只能从大往小关闭通道。", Count, 'D', 0, 4},
    {8, 0, "通讯地址", Box, 0, "1-247", Integer, 0, 1, 0},
    {9, 0, "通讯波特率", List, 8, "0-4800，1-9600，2-19200 。Default=1", Code, 'E', 1, 1},
    {10, 0, "校验方式", List, 9, "0-无校验，1-奇校验，2-偶校验，Default=0", Code, 'F', 1, 2},
    {11, 0, "通讯延迟时间", Box, 0, "0-60MS", Integer, 0, 1, 3},
    {12, 0, "继电器1动作使能", List, 32, kRelayHint, ChannelMask, 'G', 2, 0},
    {13, 0, "继电器2动作使能", List, 11, kRelayHint, ChannelMask, 'G', 2, 1},
    {14, 0, "继电器1开路报警", List, 37, kRelayHint, ChannelMask, 'H', 2, 2},
    {15, 0, "继电器2开路报警", List, 38, kRelayHint, ChannelMask, 'H', 2, 3},
    // Output 2's rows sit one empty row below output 1's.
    {16, 0, "变送通道1选择", List, 1, kSourceHint, Code, 'I', 3, 0},
    {17, 0, "变送1输出类型", List, 5, kOutputTypeHint, Code, 'J', 3, 1},
    {18, 0, "变送1上限", Box, 0, kRangeHint, Integer, 0, 3, 2},
    {19, 0, "变送1下限", Box, 0, kRangeHint, Integer, 0, 3, 3},
    {20, 0, "变送通道2选择", List, 6, kSourceHint, Code, 'I', 3, 5},
    {21, 0, "变送2输出类型", List, 7, kOutputTypeHint, Code, 'J', 3, 6},
    {22, 0, "变送2上限", Box, 0, kRangeHint, Integer, 0, 3, 7},
    {23, 0, "变送2下限", Box, 0, kRangeHint, Integer, 0, 3, 8},
    {88, 0, "通道1报警方式", List, 27, "0-5，0：无,1:上限，2：下限，3：上偏差，4：下偏差，5：偏差带", Code,
     'M', 13, 0},
    {89, 0, "通道2报警方式", List, 28, "", Code, 'M', 13, 1},
    {90, 0, "通道3报警方式", List, 29, "", Code, 'M', 13, 2},
    {91, 0, "通道4报警方式", List, 30, "", Code, 'M', 13, 3},
    {92, 0, "通道5报警方式", List, 33, "", Code, 'M', 13, 4},
    {93, 0, "通道6报警方式", List, 34, "", Code, 'M', 13, 5},
    {94, 0, "通道7报警方式", List, 35, "", Code, 'M', 13, 6},
    {95, 0, "通道8报警方式", List, 36, "", Code, 'M', 13, 7},
};

// The five configured rows of every input channel (k offset within the channel's group); the
// list rows take the channel's own list controls.
inline constexpr Parameter kChannelRows[] = {
    {0, 0, "输入信号类型", List, 0, "0-23种工业传感器信号", Code, 'K', 0, 0},
    {1, 0, "小数点位置", List, 0, "0-3， 0：0000 ，  1：000.0 ，  2：00.00 ，  3：0.000", Code, 'L', 0, 1},
    {2, 0, "输入上限", Box, 0, kRangeHint, Integer, 0, 0, 2},
    {3, 0, "输入下限", Box, 0, kRangeHint, Integer, 0, 0, 3},
    {4, 0, "平移修正", Box, 0, "-500~ 500", Integer, 0, 0, 4},
};

// Signal-type and decimal-point list of channels 1..8.
inline constexpr int kChannelCombos[8][2] = {{14, 15}, {12, 10}, {16, 13}, {18, 17},
                                             {20, 19}, {22, 21}, {24, 23}, {26, 25}};

constexpr std::array<Parameter, kParameterCount> buildParameters() {
    std::array<Parameter, kParameterCount> table{};
    for (int k = 0; k < kParameterCount; ++k)
        table[k] = Parameter{k, 0, "", None, 0, "", Unused, 0, -1, -1};
    for (const Parameter& row : kFixedRows)
        table[row.k] = row;
    for (int channel = 0; channel < 8; ++channel) {
        for (const Parameter& row : kChannelRows) {
            Parameter p = row;
            p.k = 24 + 8 * channel + row.k;
            p.tab = kFirstChannelTab + channel;
            if (p.editor == List) p.combo = kChannelCombos[channel][row.k];
            table[p.k] = p;
        }
    }
    for (int k = 0; k < kParameterCount; ++k)
        table[k].reg = kFirstRegister + k;
    return table;
}

} // namespace detail

inline constexpr std::array<Parameter, kParameterCount> kParameters = detail::buildParameters();

// The reads of one refresh, in order: 4161..4176 go as two requests of 8, the rest as 16.
struct BlockRead {
    int32_t first;
    int count; // 8 or 16
};
inline constexpr BlockRead kBlockReads[] = {{4097, 16}, {4113, 16}, {4129, 16}, {4145, 16},
                                            {4161, 8},  {4169, 8},  {4177, 16}};

// ---- look-ups -------------------------------------------------------------------------------

// The option list named 'A'..'M'; nullptr for any other name.
const OptionList* optionList(char name);
// The parameter that list control Combo<n> edits; nullptr outside 1..38.
const Parameter* parameterOfCombo(int n);
// The parameter of register reg; nullptr outside 4097..4192.
const Parameter* parameterOfRegister(int32_t reg);
// Whether the row has a value label (and so a text from the reader).
constexpr bool isShown(const Parameter& p) {
    return p.encoding != Encoding::Unused;
}

} // namespace hx::config
