#pragma once
// The main window's controls where the design put them: positions and sizes in twips
// (15 to a pixel at 96 dpi, scaled to the screen), and the label colours the live tick
// restores. The controls are built by ssqx::buildControls, defined beside this header.
#include <QString>

namespace hx {

inline const QString kReadoutStyle = QStringLiteral("background: rgb(255,192,255);");
// A value no good answer refreshed for a while (or the port closed): its last value, greyed.
inline const QString kStaleReadoutStyle = QStringLiteral("background: rgb(255,192,255); color: gray;");
inline const QString kClockStyle = QStringLiteral("background: rgb(128,255,128); color: red;");
// The readout labels while they show the slot under the ruler.
inline const QString kRulerReadoutStyle = QStringLiteral("background: rgb(255,255,0);");
inline const QString kRulerClockStyle = QStringLiteral("background: rgb(255,255,0); color: red;");
inline const QString kHistoryMarkStyle = QStringLiteral("background: rgb(255,255,0); font-weight: bold;");
inline const QString kAlertStyle = QStringLiteral("background: rgb(255,200,200);");
// Not a fault, but something the operator must notice (another program records instead).
inline const QString kNoticeStyle = QStringLiteral("background: rgb(255,235,170);");

} // namespace hx
