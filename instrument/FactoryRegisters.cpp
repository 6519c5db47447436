#include "FactoryRegisters.h"

namespace hx {

namespace {

constexpr std::array<const char*, 24> kBasicFirstPair{
    "密码",
    "显示方式",
    "数字滤波",
    "温度单位",
    "通道数量",
    "",
    "",
    "",
    "通讯地址",
    "波特率",
    "校验方式",
    "通讯延迟",
    "报警1动作组合定义",
    "报警2动作组合定义",
    "开路报警1组合定义",
    "开路报警2组合定义",
    "变送1通道选择",
    "变送1量程",
    "变送1上限",
    "变送1下限",
    "变送2通道选择",
    "变送2量程",
    "变送2上限",
    "变送2下限",
};

// Items 25..88: eight blocks of eight, one per channel; only the first names the channel.
constexpr std::array<const char*, 8> kChannelBlock{
    "信号类型", "小数点", "输入上限", "输入下限", "OFFSET", "", "", "",
};

// Items 97..113; 114..120 are unlabelled. The odd spellings are the sheet's own.
constexpr std::array<const char*, 17> kAlarmItems{
    "CH1报警设定值", "CH1报警回差值", "CH2报警设定值", "CH2报警回差", "CH3报警设定值T", "CH3报警回差",
    "CH4报警设定值", "CH4报警回差",   "CH5报警设定值", "CH5报警回差", "CH6报警设定值",  "CH6报警回差",
    "CH7报警设定值", "CH7报警回差",   "CH8报警设定值", "CH8报警回差", "CH8报警方式",
};

constexpr std::array<const char*, 8> kCalibrationFirst{
    "校准DA标志", "DA1校准值", "DA校准值", "", "冷端温度校准值", "实测冷端温度", "校准后冷端", "",
};

// Items 9..56: eight blocks of six, every label naming its channel.
constexpr std::array<const char*, 6> kCalibrationBlock{
    "-5V比例校准", "-MA比例校准", "-MV零点校准", "-MV满度校准", "-电阻零点校准", "-电阻满度校准",
};

QString channel(int m) {
    return QStringLiteral("CH%1").arg(m);
}

} // namespace

QString basicItemLabel(int item) {
    if (item >= 1 && item <= 24) return QString::fromUtf8(kBasicFirstPair[item - 1]);
    if (item >= 25 && item <= 88) {
        const int m = (item - 25) / 8 + 1;
        const int j = (item - 25) % 8;
        return j == 0 ? channel(m) + QString::fromUtf8(kChannelBlock[0])
                      : QString::fromUtf8(kChannelBlock[j]);
    }
    if (item >= 89 && item <= 96) return channel(item - 88) + QStringLiteral("报警方式");
    if (item >= 97 && item <= 113) return QString::fromUtf8(kAlarmItems[item - 97]);
    return {};
}

QString calibrationItemLabel(int item) {
    if (item >= 1 && item <= 8) return QString::fromUtf8(kCalibrationFirst[item - 1]);
    if (item >= 9 && item <= 56)
        return channel((item - 9) / 6 + 1) + QString::fromUtf8(kCalibrationBlock[(item - 9) % 6]);
    return {};
}

} // namespace hx
