#pragma once
// The instrument fields an operator edits (entry boxes and editable lists of the
// configuration and alarm windows). A field is written when the keyboard focus leaves it,
// and only when the operator changed its text since the window opened or since its last
// confirmed write: tabbing through untouched fields writes nothing, and an edit goes out
// once, so a value changed at the instrument's keypad meanwhile is not overwritten by an old
// entry. Switching to another program is not leaving the field. A write that fails after its
// one resend marks the field (red text, the reason as tooltip) and stays pending until a
// later leave gets it through; failures are counted for the status line (link/OperatorWrite).
#include "core/TextNumber.h"
#include "link/Link.h"
#include "link/OperatorWrite.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QComboBox;
class QLineEdit;

namespace hx {

// Watches one entry box or editable list: whether the operator changed its text, and the
// focus leaving it (a list's own popup and the window losing activation do not count as
// leaving).
class EditedField : public QObject {
    Q_OBJECT
  public:
    explicit EditedField(QLineEdit* box);
    explicit EditedField(QComboBox* list);

    QWidget* widget() const { return widget_.data(); }
    // Whether the operator changed the text since the window opened, since reset() or since
    // the instrument confirmed its last write: an edit not yet written.
    bool edited() const { return edited_; }
    void setEdited(bool edited) { edited_ = edited; }
    void reset();
    // The instrument confirmed the write of the field's text: the edit is done.
    void markWritten();

    // Shows that the last write of the field did not reach the instrument, and why.
    void markFailed(const QString& reason);
    void clearMark();
    bool marked() const { return marked_; }

  signals:
    // The focus left the field.
    void left();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QString text() const;

    QPointer<QWidget> widget_;
    QPointer<QLineEdit> lineEdit_; // the box, or the list's edit field
    bool edited_ = false;
    bool marked_ = false;
    std::optional<QString> written_; // the text last written, until the field has the focus again
};

// Writes an edited field: the value its text gives (nullopt: the text is refused, the field
// is marked and nothing is sent; so is a value no register holds) goes to reg with one resend; the field's
// mark follows the outcome. Returns true when the instrument confirmed the write; the edit is then written
// and the field counts as unedited until the operator changes it again. Nothing happens, and false is
// returned, when the field was not edited.
bool writeEditedField(EditedField& field, std::optional<int32_t> value, Link& link, int32_t port,
                      int32_t address, int32_t reg, WriteLog* log = nullptr);

} // namespace hx
