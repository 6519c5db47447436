#pragma once
// The alarm setpoint window's frame: its control indices and the placement of its rows.
#include "instrument/AlarmRows.h"

namespace hx {

// Control array indices of row 0: captions and hints Label1/Label2(67..82), value labels and
// entry boxes D_4W/T_3RWA(96..111); Alarm_Buf(96..111) holds registers 257..272.
inline constexpr int kFirstCaptionIndex = 67;
inline constexpr int kFirstBoxIndex = 96;
inline constexpr int kAlarmBufSize = 221;

// The holding register of entry box (and Alarm_Buf element) i.
constexpr int32_t alarmRegisterOfBox(int box) {
    return box + 161;
}

// Placement in twips. Rows inside the frame, top to bottom.
struct AlarmLayout {
    static constexpr int firstRowTop = 270;
    static constexpr int rowPitch = 365;
    static constexpr int captionLeft = 180, captionWidth = 1575;
    static constexpr int valueLeft = 1830, valueWidth = 1545, valueHeight = 285;
    static constexpr int boxLeft = 3480, boxWidth = 2115, boxHeight = 315;
    static constexpr int hintLeft = 5700, hintWidth = 1500;
    static constexpr int frameLeft = 0, frameTop = 60, frameWidth = 7275, frameHeight = 6435;
    static constexpr int returnLeft = 2910, returnTop = 6630, returnWidth = 1245, returnHeight = 465;
    static constexpr int clientWidth = 7245, clientHeight = 7185;
};

} // namespace hx
