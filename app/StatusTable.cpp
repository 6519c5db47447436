#include "StatusTable.h"

namespace hx {

QString statusHeaderText(int column) {
    return column == 0 ? QStringLiteral("编号 ") : QStringLiteral("状态");
}

QString statusRowUnreadText(int row) {
    if (row >= 1 && row <= 24) return QStringLiteral("CH %1 —").arg(row - 8 * ((row - 1) / 8));
    if (row == 25 || row == 26) return QStringLiteral("DO %1 —").arg(row - 24);
    return {};
}

} // namespace hx
