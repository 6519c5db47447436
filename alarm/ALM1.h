#pragma once
// ALM1: the alarm setpoint window. Shows the eight alarm setpoints and hysteresis values
// (holding registers 257..272) every 500 ms and writes a box the operator edited when the
// focus leaves it.
#include "alarm/AlarmLayout.h"
#include "ui/Navigation.h"
#include "ui/OperatorField.h"
#include "ui/Twips.h"

#include <array>
#include <cstdint>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace hx {

class Link;

// The read table outlives the window: it keeps its contents from one opening to the next.
// readOnce: a good answer filled the setpoints; before, they are unknown and shown as nothing.
struct AlarmBuffer : std::array<int32_t, kAlarmBufSize> {
    bool readOnce = false;
};

// Controls of one kind indexed First..First+Count-1; an index outside gives nullptr.
template <class Control, int First, int Count> struct ControlArray {
    std::array<Control*, Count> items{};
    Control* operator()(int index) const {
        return index >= First && index < First + Count ? items[index - First] : nullptr;
    }
};

class ALM1 : public SecondaryWindow {
    Q_OBJECT
  public:
    ALM1(Link& link, WriteLog* writes, AlarmBuffer& alarmBuf, QWidget* mainWindow);

    // Handlers.
    void Form_Load();
    void Timer1_Timer();              // refresh
    void T_3RWA_LostFocus(int index); // write an edited box to register index + 161
    void Command1_Click();            // "返回"

    AlarmBuffer& Alarm_Buf;

    // Controls (objectName Name_index for the arrays).
    QFrame* Frame1 = nullptr;
    ControlArray<QLabel, kFirstCaptionIndex, kAlarmRowCount> Label1;
    ControlArray<QLabel, kFirstBoxIndex, kAlarmRowCount> D_4W;
    ControlArray<QLineEdit, kFirstBoxIndex, kAlarmRowCount> T_3RWA;
    ControlArray<QLabel, kFirstCaptionIndex, kAlarmRowCount> Label2;
    QPushButton* Command1 = nullptr;
    QTimer* Timer1 = nullptr;

    // Whether the operator edited box index, and whether its last write failed.
    EditedField* field(int index) const;

  private:
    void buildControls();
    const Twips tw{*this};

    Link& link_;
    WriteLog* writes_;
    std::array<EditedField*, kAlarmRowCount> fields_{};
};

} // namespace hx
