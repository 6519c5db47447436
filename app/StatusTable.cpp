#include "StatusTable.h"

namespace hx {

QString statusHeaderText(int column) {
    return column == 0 ? QStringLiteral("编号 ") : QStringLiteral("状态");
}

QString statusRowText(int row, int32_t bit) {
    const bool on = bit != 0;
    if (row >= 1 && row <= 24) {
        const int group = (row - 1) / 8; // open circuit, short circuit, setpoint alarm
        const int channel = row - 8 * group;
        static const char16_t* const alarms[] = {u" 开路报警", u" 短路报警", u" 设定值报警"};
        return QStringLiteral("CH ") + QString::number(channel) +
               (on ? QString::fromUtf16(alarms[group]) : QStringLiteral(" 正常"));
    }
    if (row == 25 || row == 26) {
        // The closed text has no blank before the word, the open text has one.
        return QStringLiteral("DO ") + QString::number(row - 24) +
               (on ? QStringLiteral("闭合") : QStringLiteral(" 断开"));
    }
    return {};
}

QString statusRowUnreadText(int row) {
    if (row >= 1 && row <= 24) return QStringLiteral("CH %1 —").arg(row - 8 * ((row - 1) / 8));
    if (row == 25 || row == 26) return QStringLiteral("DO %1 —").arg(row - 24);
    return {};
}

} // namespace hx
