#include "ui/WheelGuard.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QEvent>
#include <QWidget>

namespace hx {

void guardWheel(QWidget* window) {
    auto* guard = new WheelGuard(window);
    const auto guardOne = [guard](QWidget* control) {
        // A slider kept out of the focus chain (the ruler while it is off) stays so.
        if (control->focusPolicy() != Qt::NoFocus) control->setFocusPolicy(Qt::StrongFocus);
        control->installEventFilter(guard);
    };
    for (QComboBox* list : window->findChildren<QComboBox*>())
        guardOne(list);
    for (QAbstractSpinBox* box : window->findChildren<QAbstractSpinBox*>())
        guardOne(box);
    for (QAbstractSlider* slider : window->findChildren<QAbstractSlider*>())
        guardOne(slider);
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        const auto* control = qobject_cast<QWidget*>(watched);
        if (control && !control->hasFocus()) {
            // Not taken here: the event goes on to the parent (a scroll area scrolls).
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace hx
