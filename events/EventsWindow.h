#pragma once
// The events window "事件记录" (F8 in the main window): the journal newest first with its time,
// kind, channel or register, text and when an alarm was acknowledged; filters for alarms,
// line and recording, writes; "确认" acknowledges the selected alarms, "全部确认" every one.
// "返回" or Esc returns to the main window.
#include "events/EventTableModel.h"
#include "ui/Navigation.h"

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;

namespace hx {

class EventsWindow : public SecondaryWindow {
    Q_OBJECT
  public:
    EventsWindow(EventJournal& journal, QWidget* mainWindow);

    // Told after every acknowledgement (the main window's status table follows it).
    std::function<void()> acknowledged;

    void filterChanged();
    void acknowledgeSelected(); // "确认"
    void acknowledgeAll();      // "全部确认"
    void refresh();             // newer events on top, the counts

    EventTableModel& model() { return *model_; }

    QCheckBox* filterAlarms = nullptr;
    QCheckBox* filterLine = nullptr;
    QCheckBox* filterWrites = nullptr;
    QTableView* eventTable = nullptr;
    QPushButton* acknowledgeButton = nullptr;
    QPushButton* acknowledgeAllButton = nullptr;
    QPushButton* returnButton = nullptr;
    QLabel* eventStatus = nullptr;
    QTimer* refreshTimer = nullptr;

  private:
    void afterAcknowledgement(std::optional<int> count, const std::vector<int64_t>* ids);

    EventJournal& journal_;
    EventTableModel* model_ = nullptr;
    QString note_; // the outcome of the last acknowledgement
};

} // namespace hx
