#include "JournalEvent.h"

namespace hx {

EventInstant eventInstantOf(const ClockReading& reading) {
    return static_cast<EventInstant>(reading.date) * 86400 + secondsOfDayFraction(reading.time);
}

QDateTime dateTimeOfEventInstant(EventInstant instant) {
    const int64_t days = instant >= 0 ? instant / 86400 : -((-instant + 86399) / 86400);
    const int64_t seconds = instant - days * 86400;
    return QDateTime(dateOfDayNumber(static_cast<double>(days)),
                     QTime(0, 0).addSecs(static_cast<int>(seconds)));
}

QString eventTimeText(EventInstant instant) {
    return dateTimeOfEventInstant(instant).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

EventCategory categoryOf(EventKind kind) {
    switch (kind) {
    case EventKind::AlarmRaised:
    case EventKind::AlarmCleared:
        return EventCategory::Alarm;
    case EventKind::WriteConfirmed:
    case EventKind::WriteFailed:
        return EventCategory::Write;
    default:
        return EventCategory::LineAndRecording;
    }
}

namespace {

struct KindNames {
    EventKind kind;
    const char16_t* text;
    const char* key;
};

constexpr KindNames kKindNames[] = {
    {EventKind::AlarmRaised, u"报警", "alarm-raised"},
    {EventKind::AlarmCleared, u"报警消除", "alarm-cleared"},
    {EventKind::PortOpened, u"端口打开", "port-opened"},
    {EventKind::PortClosed, u"端口关闭", "port-closed"},
    {EventKind::PortOpenFailed, u"端口无法打开", "port-open-failed"},
    {EventKind::InstrumentLost, u"仪表无应答", "instrument-lost"},
    {EventKind::InstrumentBack, u"仪表恢复应答", "instrument-back"},
    {EventKind::DatabaseUnavailable, u"数据库不可用", "database-unavailable"},
    {EventKind::DatabaseBack, u"数据库恢复", "database-back"},
    {EventKind::OtherRecorder, u"另一程序记录", "other-recorder"},
    {EventKind::RecordingTakenUp, u"恢复记录", "recording-taken-up"},
    {EventKind::PublishCursorUnreadable, u"发布位置无法读取", "publish-cursor-unreadable"},
    {EventKind::PublishRecordsLost, u"记录未发布即被覆盖", "publish-records-lost"},
    {EventKind::WriteConfirmed, u"写入", "write-confirmed"},
    {EventKind::WriteFailed, u"写入失败", "write-failed"},
};

const KindNames* namesOf(int kind) {
    for (const KindNames& n : kKindNames)
        if (static_cast<int>(n.kind) == kind) return &n;
    return nullptr;
}

} // namespace

QString kindText(EventKind kind) {
    const KindNames* n = namesOf(static_cast<int>(kind));
    return n ? QString::fromUtf16(n->text) : QString::number(static_cast<int>(kind));
}

const char* kindKey(EventKind kind) {
    const KindNames* n = namesOf(static_cast<int>(kind));
    return n ? n->key : "unknown";
}

bool isKnownKind(int kind) {
    return namesOf(kind) != nullptr;
}

} // namespace hx
