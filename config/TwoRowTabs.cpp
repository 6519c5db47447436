#include "TwoRowTabs.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace hx::config {

namespace {

constexpr auto kTabStyle = "QToolButton { border: 1px solid #808080; border-bottom: none;"
                           " border-top-left-radius: 4px; border-top-right-radius: 4px;"
                           " background: #d4d0c8; padding: 3px 6px; }"
                           "QToolButton:checked { background: #f0f0f0; font-weight: bold; }";

} // namespace

TwoRowTabs::TwoRowTabs(int tabsPerRow, QWidget* parent)
    : QWidget(parent), tabsPerRow_(tabsPerRow > 0 ? tabsPerRow : 1), layout_(new QVBoxLayout(this)),
      group_(new QButtonGroup(this)), pages_(new QStackedWidget(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    pages_->setFrameShape(QFrame::StyledPanel);
    layout_->addWidget(pages_, 1);
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, &TwoRowTabs::setCurrentIndex);
}

QWidget* TwoRowTabs::addTab(const QString& caption) {
    const int index = count();
    if (index % tabsPerRow_ == 0) {
        auto* row = new QWidget(this);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(0);
        rows_.push_back(row);
    }
    auto* tab = new QToolButton(rows_.back());
    tab->setText(caption);
    tab->setAccessibleName(caption);
    tab->setCheckable(true);
    tab->setStyleSheet(kTabStyle);
    tab->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Clicking a tab takes the focus, so an edited field is left (and written) first.
    tab->setFocusPolicy(Qt::ClickFocus);
    rows_.back()->layout()->addWidget(tab);
    group_->addButton(tab, index);
    tabs_.push_back(tab);

    auto* page = new QWidget(pages_);
    pages_->addWidget(page);
    if (index == 0)
        setCurrentIndex(0);
    else
        showRows();
    return page;
}

int TwoRowTabs::currentIndex() const {
    return pages_->currentIndex();
}

void TwoRowTabs::setCurrentIndex(int index) {
    if (index < 0 || index >= count()) return;
    tabs_[size_t(index)]->setChecked(true);
    const bool changed = pages_->currentIndex() != index;
    pages_->setCurrentIndex(index);
    showRows();
    if (changed) emit currentChanged(index);
}

QString TwoRowTabs::tabText(int index) const {
    return index >= 0 && index < count() ? tabs_[size_t(index)]->text() : QString();
}

QWidget* TwoRowTabs::page(int index) const {
    return pages_->widget(index);
}

QAbstractButton* TwoRowTabs::tabButton(int index) const {
    return index >= 0 && index < count() ? tabs_[size_t(index)] : nullptr;
}

void TwoRowTabs::showRows() {
    // The showing tab's row sits on the page, the other rows above it in their own order.
    const int front = currentIndex() >= 0 ? currentIndex() / tabsPerRow_ : 0;
    int position = 0;
    for (int r = 0; r < int(rows_.size()); ++r) {
        if (r == front) continue;
        layout_->removeWidget(rows_[size_t(r)]);
        layout_->insertWidget(position++, rows_[size_t(r)]);
    }
    if (front < int(rows_.size())) {
        layout_->removeWidget(rows_[size_t(front)]);
        layout_->insertWidget(position, rows_[size_t(front)]);
    }
}

} // namespace hx::config
