#include "ui/AccessibleNames.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace hx {

namespace {

constexpr char kValueName[] = "hxValueName";

// A list as Qt's own accessible list presents it (its popup and edit field as children, its
// current item as value, opening its popup as action), but named by its accessible name.
class NamedList : public QAccessibleWidget {
  public:
    explicit NamedList(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && !list()->accessibleName().isEmpty()) return list()->accessibleName();
        if (t == QAccessible::Name || t == QAccessible::Value) return list()->currentText();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = list()->isEditable();
        s.expandable = true;
        s.expanded = list()->view()->isVisible();
        return s;
    }
    int childCount() const override { return list()->lineEdit() ? 2 : 1; }
    QAccessibleInterface* child(int index) const override {
        if (index == 0) return QAccessible::queryAccessibleInterface(list()->view());
        if (index == 1) return QAccessible::queryAccessibleInterface(list()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int i = 0; i < childCount(); ++i) {
            if (this->child(i) == child) return i;
        }
        return -1;
    }
    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == showMenuAction())
            list()->showPopup();
        else
            QAccessibleWidget::doAction(name);
    }

  private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* namedListFactory(const QString& className, QObject* object) {
    auto* list = qobject_cast<QComboBox*>(object);
    return list && className == QLatin1String("QComboBox") ? new NamedList(list) : nullptr;
}

} // namespace

void nameValueLabel(QLabel* label, const QString& name) {
    label->setProperty(kValueName, name);
    setValueText(label, label->text());
}

void setValueText(QLabel* label, const QString& text) {
    label->setText(text);
    const QString name = label->property(kValueName).toString();
    const QString spoken = text.isEmpty() ? name : name + QLatin1Char(' ') + text;
    if (!name.isEmpty() && label->accessibleName() != spoken) label->setAccessibleName(spoken);
}

void nameList(QComboBox* list, const QString& name) {
    static const bool installed = [] {
        QAccessible::installFactory(namedListFactory); // asked before Qt's own
        return true;
    }();
    Q_UNUSED(installed);
    list->setAccessibleName(name);
    if (list->lineEdit()) list->lineEdit()->setAccessibleName(name);
    // A screen reader that is already running may hold Qt's own presentation of the list.
    QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(list);
    if (shown && !dynamic_cast<NamedList*>(shown)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(shown));
        QAccessible::queryAccessibleInterface(list);
    }
}

} // namespace hx
