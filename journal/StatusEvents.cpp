#include "journal/StatusEvents.h"

namespace hx {

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

std::optional<StatusStates> statusStatesOf(const std::array<int32_t, 4>& discrete) {
    StatusStates states{};
    for (int k = 0; k < 4; ++k) {
        if (discrete[size_t(k)] < 0 || discrete[size_t(k)] >= 255) return std::nullopt;
        for (int b = 0; b < 8 && 8 * k + b < kStatusStates; ++b)
            states[size_t(8 * k + b)] = (discrete[size_t(k)] >> b) & 1;
    }
    return states;
}

std::vector<JournalEvent> statusEvents(const StatusStates& before, const StatusStates& now) {
    std::vector<JournalEvent> events;
    for (int row = 1; row <= kStatusStates; ++row) {
        const bool was = before[size_t(row - 1)] != 0;
        const bool is = now[size_t(row - 1)] != 0;
        if (was == is) continue;
        JournalEvent e;
        e.kind = is ? EventKind::AlarmRaised : EventKind::AlarmCleared;
        e.alarmRow = row;
        e.subject = row <= 24 ? QStringLiteral("CH%1").arg(row - 8 * ((row - 1) / 8))
                              : QStringLiteral("DO%1").arg(row - 24);
        // The status table's own texts; an alarm that went says which one went.
        e.text = row <= 24 ? statusRowText(row, 1).simplified() + (is ? QString() : QStringLiteral(" 消除"))
                           : statusRowText(row, is ? 1 : 0).simplified();
        events.push_back(std::move(e));
    }
    return events;
}

} // namespace hx
