#pragma once
// What screen readers (and tests that read the windows from outside) hear for the value labels
// and lists of the windows. Qt exposes a label's text only as its accessible name, so a value
// label named "CH1" would hide its value: a value label is named "<name> <value>", and its
// name follows every new value through setValueText. On Linux Qt announces a list by its
// current item whatever its accessible name: a list named here is announced by its
// parameter, with its current item as its value.
#include <QString>

class QComboBox;
class QLabel;

namespace hx {

// Names a value label; from now on its accessible name is "<name> <text>" (name alone while
// it shows nothing).
void nameValueLabel(QLabel* label, const QString& name);

// Shows text in a value label and keeps its accessible name in step.
void setValueText(QLabel* label, const QString& text);

// Names a list and its edit field by the parameter they set.
void nameList(QComboBox* list, const QString& name);

} // namespace hx
