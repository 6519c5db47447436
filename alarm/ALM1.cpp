#include "ALM1.h"

#include <algorithm>

#include "core/SharedState.h"
#include "core/TextNumber.h"
#include "link/Link.h"
#include "ui/AccessibleNames.h"
#include "ui/RefreshReads.h"
#include "ui/WheelGuard.h"

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <span>

namespace hx {

namespace {

const QString kValueStyle = QStringLiteral("background: rgb(255,192,255);");
const QString kHintStyle = QStringLiteral("color: rgb(0,0,192);");

QString indexed(const char* name, int index) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

} // namespace

ALM1::ALM1(Link& link, WriteLog* writes, AlarmBuffer& alarmBuf, QWidget* mainWindow)
    : SecondaryWindow(mainWindow), Alarm_Buf(alarmBuf), link_(link), writes_(writes) {
    setObjectName("ALM1");
    setWindowTitle(QStringLiteral("ALARM"));
    buildControls();
    guardWheel(this);
    Form_Load();
}

void ALM1::buildControls() {
    using L = AlarmLayout;
    setFixedSize(tw(L::clientWidth), tw(L::clientHeight));
    Frame1 = new QFrame(this);
    Frame1->setObjectName("Frame1");
    Frame1->setFrameShape(QFrame::Box);
    // The frame of the layout runs 2 px past the window's right edge: it ends at the edge instead.
    Frame1->setGeometry(tw(L::frameLeft), tw(L::frameTop),
                        std::min(tw(L::frameWidth), width() - tw(L::frameLeft)), tw(L::frameHeight));

    QFont valueFont(QStringLiteral("宋体"));
    valueFont.setPointSizeF(10.5);
    valueFont.setItalic(true);

    for (int k = 0; k < kAlarmRowCount; ++k) {
        const int top = L::firstRowTop + k * L::rowPitch;
        const int box = kFirstBoxIndex + k;
        const QString caption = QString::fromUtf8(kAlarmRows[k].caption);

        auto* label = new QLabel(caption, Frame1);
        label->setObjectName(indexed("Label1", kFirstCaptionIndex + k));
        label->setGeometry(tw(L::captionLeft), tw(top), tw(L::captionWidth), tw(L::valueHeight));
        Label1.items[k] = label;

        auto* value = new QLabel(Frame1);
        value->setObjectName(indexed("D_4W", box));
        value->setStyleSheet(kValueStyle);
        value->setFont(valueFont);
        value->setGeometry(tw(L::valueLeft), tw(top), tw(L::valueWidth), tw(L::valueHeight));
        nameValueLabel(value, caption + QStringLiteral(" 当前值"));
        D_4W.items[k] = value;

        auto* entry = new QLineEdit(Frame1);
        entry->setObjectName(indexed("T_3RWA", box));
        entry->setAccessibleName(caption);
        entry->setGeometry(tw(L::boxLeft), tw(top), tw(L::boxWidth), tw(L::boxHeight));
        T_3RWA.items[k] = entry;
        fields_[k] = new EditedField(entry);
        connect(fields_[k], &EditedField::left, this, [this, box] { T_3RWA_LostFocus(box); });

        auto* hint = new QLabel(QString::fromUtf8(kAlarmRows[k].hint), Frame1);
        hint->setObjectName(indexed("Label2", kFirstCaptionIndex + k));
        hint->setStyleSheet(kHintStyle);
        hint->setGeometry(tw(L::hintLeft), tw(top), tw(L::hintWidth), tw(L::valueHeight));
        Label2.items[k] = hint;
    }

    Command1 = new QPushButton(QStringLiteral("返回"), this);
    Command1->setObjectName("Command1");
    Command1->setGeometry(tw(L::returnLeft), tw(L::returnTop), tw(L::returnWidth), tw(L::returnHeight));
    connect(Command1, &QPushButton::clicked, this, &ALM1::Command1_Click);

    // The return button first, then the boxes from the last row up: the window opens with no
    // box entered.
    QWidget* previous = Command1;
    for (int k = kAlarmRowCount - 1; k >= 0; --k) {
        setTabOrder(previous, T_3RWA.items[k]);
        previous = T_3RWA.items[k];
    }
    Command1->setFocus();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &ALM1::Timer1_Timer);
    Timer1->start();
}

void ALM1::Form_Load() {
    setCloseLock(true);
}

EditedField* ALM1::field(int index) const {
    const int k = index - kFirstBoxIndex;
    return k >= 0 && k < kAlarmRowCount ? fields_[k] : nullptr;
}

void ALM1::Timer1_Timer() {
    const RegisterBlock setpoints{kFirstAlarmRegister,
                                  std::span<int32_t>(Alarm_Buf.data() + kFirstBoxIndex, kAlarmRowCount)};
    if (readBlocks(link_, {&setpoints, 1}) == RefreshEnd::AllRead) Alarm_Buf.readOnce = true;
    if (!Alarm_Buf.readOnce) return;
    for (int k = 0; k < kAlarmRowCount; ++k)
        setValueText(D_4W.items[k], QString::number(Alarm_Buf[kFirstBoxIndex + k]));
}

void ALM1::T_3RWA_LostFocus(int index) {
    EditedField* edited = field(index);
    if (!edited || !T_3RWA(index)) return;
    writeEditedField(*edited, entryValueOf(T_3RWA(index)->text()), link_, Com_Param[0], Com_Param[3],
                     alarmRegisterOfBox(index), writes_);
}

void ALM1::Command1_Click() {
    Timer1->stop();
    returnToMain();
}

} // namespace hx
