#pragma once
// A list, spin box or slider under the mouse takes the wheel without having the keyboard
// focus: one notch while the operator scrolls past changes an instrument setting, and the next
// focus change writes it. Guarded, such a control takes the wheel only while it has the focus
// (after a click or Tab); otherwise the wheel goes on to the window around it.
#include <QObject>

class QWidget;

namespace hx {

// Guards every list, spin box and slider of window (installed once, after its controls are
// built): each gets Qt::StrongFocus and ignores the wheel unless it has the focus.
void guardWheel(QWidget* window);

class WheelGuard : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace hx
