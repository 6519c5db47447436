#include "ui/OperatorField.h"

#include "ui/FailureText.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPalette>

namespace hx {

EditedField::EditedField(QLineEdit* box) : QObject(box), widget_(box), lineEdit_(box) {
    connect(box, &QLineEdit::textEdited, this, [this] { edited_ = true; });
    box->installEventFilter(this);
}

EditedField::EditedField(QComboBox* list) : QObject(list), widget_(list), lineEdit_(list->lineEdit()) {
    // Picking an item or typing into the edit field; the window's own setCurrentIndex and
    // addItem are not the operator's. Nor is the pick the list reports itself after a typed
    // entry was written on leaving it, when the typed text matches an item.
    connect(list, &QComboBox::activated, this, [this, list] {
        if (!written_ || list->currentText() != *written_) edited_ = true;
    });
    if (lineEdit_) {
        connect(lineEdit_, &QLineEdit::textEdited, this, [this] { edited_ = true; });
        lineEdit_->installEventFilter(this);
    }
    list->installEventFilter(this);
}

void EditedField::reset() {
    edited_ = false;
    clearMark();
}

void EditedField::markWritten() {
    edited_ = false;
    clearMark();
    written_ = text();
}

QString EditedField::text() const {
    if (lineEdit_) return lineEdit_->text();
    const auto* list = qobject_cast<const QComboBox*>(widget_.data());
    return list ? list->currentText() : QString();
}

bool EditedField::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) written_.reset();
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Focus moving between a list and its own edit field or popup stays in the field. So
        // does the focus when the operator switches to another program: the field gets it back
        // with the window, and a half-typed entry must not go out.
        QWidget* now = QApplication::focusWidget();
        const bool stays = reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason ||
                           (now && widget_ && (now == widget_ || widget_->isAncestorOf(now)));
        if (!stays) emit left();
    }
    return QObject::eventFilter(watched, event);
}

void EditedField::markFailed(const QString& reason) {
    if (!marked_) {
        for (QWidget* w : {static_cast<QWidget*>(widget_.data()), static_cast<QWidget*>(lineEdit_.data())}) {
            if (!w) continue;
            QPalette pal = w->palette();
            pal.setColor(QPalette::Text, Qt::red);
            w->setPalette(pal);
        }
    }
    marked_ = true;
    if (widget_) widget_->setToolTip(reason);
}

void EditedField::clearMark() {
    if (!marked_) return;
    marked_ = false;
    for (QWidget* w : {static_cast<QWidget*>(widget_.data()), static_cast<QWidget*>(lineEdit_.data())}) {
        if (w) w->setPalette(QPalette()); // back to the inherited colours
    }
    if (widget_) widget_->setToolTip(QString());
}

bool writeEditedField(EditedField& field, std::optional<int32_t> value, Link& link, int32_t port,
                      int32_t address, int32_t reg, WriteLog* log) {
    if (!field.edited()) return false;
    // Refused before sending: counted with its reason and shown at the field, not journalled.
    const auto refuse = [&](WriteRefusal why) {
        const WriteFailure failure{reg, {LinkFailure::Refused}, why, value.value_or(0)};
        noteWriteFailure(log, failure);
        field.markFailed(writeReasonText(failure));
        return false;
    };
    if (!value) return refuse(WriteRefusal::NotANumber);
    if (!fitsRegister(*value)) return refuse(WriteRefusal::OutOfRange);
    const OperatorWriteResult result = writeOperatorValue(link, port, address, reg, *value, log);
    if (!result.ok()) {
        field.markFailed(QString::fromStdString(failureText(*result.failure)));
        return false;
    }
    field.markWritten();
    return true;
}

} // namespace hx
