#include "logging/Ring.h"

namespace hx {

QString windowQuerySql(int32_t winStart, int32_t winEnd, int32_t winLen) {
    if (winEnd >= winLen)
        return QStringLiteral("select * from pv_data where w_id between %1 and %2 order by w_date, w_time")
            .arg(qint64(winStart) + 1)
            .arg(winEnd);
    return QStringLiteral("select * from pv_data where w_id <= %1 or w_id > %2 order by w_date, w_time")
        .arg(winEnd)
        .arg(winStart);
}

} // namespace hx
