#include "FactorySheet.h"

namespace hx {

QString sheetDateText(const QDate& date) {
    return date.toString(QStringLiteral("MM-dd-yyyy"));
}

QString sheetTimeText(const QTime& time) {
    return time.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace hx
