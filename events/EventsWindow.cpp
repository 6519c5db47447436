#include "EventsWindow.h"

#include "ui/AccessibleNames.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace hx {

namespace {

template <class Control>
Control* named(Control* control, const char* objectName, const QString& accessibleName) {
    control->setObjectName(QLatin1String(objectName));
    control->setAccessibleName(accessibleName);
    return control;
}

} // namespace

EventsWindow::EventsWindow(EventJournal& journal, QWidget* mainWindow)
    : SecondaryWindow(mainWindow), journal_(journal) {
    setObjectName("EventsWindow");
    setWindowTitle(QStringLiteral("事件记录"));
    resize(980, 640);

    filterAlarms = named(new QCheckBox(QStringLiteral("报警"), this), "filterAlarms", QStringLiteral("报警"));
    filterLine =
        named(new QCheckBox(QStringLiteral("线路与记录"), this), "filterLine", QStringLiteral("线路与记录"));
    filterWrites = named(new QCheckBox(QStringLiteral("写入"), this), "filterWrites", QStringLiteral("写入"));
    for (QCheckBox* box : {filterAlarms, filterLine, filterWrites}) {
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, this, &EventsWindow::filterChanged);
    }
    model_ = new EventTableModel(journal_, this);
    eventTable = named(new QTableView(this), "eventTable", QStringLiteral("事件"));
    eventTable->setModel(model_);
    eventTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    eventTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    eventTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    eventTable->verticalHeader()->setVisible(false);
    // Fixed row heights and column widths: measuring 100 000 rows' contents would take seconds.
    eventTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    eventTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    eventTable->setColumnWidth(EventTableModel::TimeColumn, 150);
    eventTable->setColumnWidth(EventTableModel::KindColumn, 100);
    eventTable->setColumnWidth(EventTableModel::SubjectColumn, 90);
    eventTable->setColumnWidth(EventTableModel::TextColumn, 450);
    eventTable->horizontalHeader()->setStretchLastSection(true);

    acknowledgeButton =
        named(new QPushButton(QStringLiteral("确认"), this), "acknowledgeButton", QStringLiteral("确认"));
    acknowledgeAllButton = named(new QPushButton(QStringLiteral("全部确认"), this), "acknowledgeAllButton",
                                 QStringLiteral("全部确认"));
    returnButton =
        named(new QPushButton(QStringLiteral("返回"), this), "returnButton", QStringLiteral("返回"));
    eventStatus = new QLabel(this);
    eventStatus->setObjectName("eventStatus");
    nameValueLabel(eventStatus, QStringLiteral("事件记录状态"));
    connect(acknowledgeButton, &QPushButton::clicked, this, &EventsWindow::acknowledgeSelected);
    connect(acknowledgeAllButton, &QPushButton::clicked, this, &EventsWindow::acknowledgeAll);
    connect(returnButton, &QPushButton::clicked, this, &SecondaryWindow::returnToMain);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &SecondaryWindow::returnToMain);

    auto* filters = new QHBoxLayout;
    filters->addWidget(filterAlarms);
    filters->addWidget(filterLine);
    filters->addWidget(filterWrites);
    filters->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(acknowledgeButton);
    buttons->addWidget(acknowledgeAllButton);
    buttons->addWidget(eventStatus, 1);
    buttons->addWidget(returnButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(eventTable, 1);
    layout->addLayout(buttons);

    refreshTimer = new QTimer(this);
    refreshTimer->setObjectName("refreshTimer");
    refreshTimer->setInterval(1000);
    connect(refreshTimer, &QTimer::timeout, this, &EventsWindow::refresh);
    refreshTimer->start();
    setCloseLock(true);
    refresh();
}

void EventsWindow::filterChanged() {
    model_->setFilter(
        EventFilter{filterAlarms->isChecked(), filterLine->isChecked(), filterWrites->isChecked()});
    refresh();
}

void EventsWindow::acknowledgeSelected() {
    std::vector<int64_t> ids;
    for (const QModelIndex& row : eventTable->selectionModel()->selectedRows())
        ids.push_back(model_->eventAt(row.row()).id);
    if (ids.empty()) return;
    afterAcknowledgement(journal_.acknowledge(ids), &ids);
}

void EventsWindow::acknowledgeAll() {
    afterAcknowledgement(journal_.acknowledgeAll(), nullptr);
}

void EventsWindow::afterAcknowledgement(std::optional<int> count, const std::vector<int64_t>* ids) {
    if (count) {
        model_->showAcknowledged(ids, journal_.lastAcknowledgement());
        note_ = QStringLiteral("已确认 %1 条报警").arg(*count);
    } else {
        note_ = QStringLiteral("确认未保存: ") + journal_.lastError();
    }
    if (acknowledged) acknowledged();
    refresh();
}

void EventsWindow::refresh() {
    model_->fetchNewer();
    QString text = QStringLiteral("共 %1 条事件, 未确认报警 %2")
                       .arg(journal_.storedCount())
                       .arg(journal_.unacknowledged().count);
    if (!journal_.available()) text += QStringLiteral("  无法写入: ") + journal_.lastError();
    if (!note_.isEmpty()) text += QStringLiteral("  ") + note_;
    setValueText(eventStatus, text);
}

} // namespace hx
