#pragma once
// A tab control whose tabs stand in two rows, the row of the showing tab next to the page
// (the other row moves behind it), each tab a page of its own.
#include <QWidget>

#include <vector>

class QAbstractButton;
class QButtonGroup;
class QStackedWidget;
class QVBoxLayout;

namespace hx::config {

class TwoRowTabs : public QWidget {
    Q_OBJECT
  public:
    explicit TwoRowTabs(int tabsPerRow, QWidget* parent = nullptr);

    // Adds a tab and returns its page, on which the caller lays out its controls.
    QWidget* addTab(const QString& caption);
    int count() const { return int(tabs_.size()); }
    int currentIndex() const;
    void setCurrentIndex(int index);
    QString tabText(int index) const;
    QWidget* page(int index) const;
    QAbstractButton* tabButton(int index) const;

  signals:
    void currentChanged(int index);

  private:
    void showRows();

    int tabsPerRow_;
    QVBoxLayout* layout_;
    std::vector<QWidget*> rows_;
    std::vector<QAbstractButton*> tabs_;
    QButtonGroup* group_;
    QStackedWidget* pages_;
};

} // namespace hx::config
