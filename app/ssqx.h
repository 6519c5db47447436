#pragma once
// ssqx: the main window. The trend chart with its navigation, the live readout, the port
// settings, the alarm status table, the Y-scale editor, the buttons that open the other
// windows, and a quiet status line at the foot.
#include "app/AppContext.h"
#include "app/MainWindowHost.h"
#include "app/StatusLabel.h"
#include "app/StatusLine.h"
#include "link/Link.h"
#include "logging/RecordStore.h"
#include "trend/ChartPrintout.h"
#include "trend/ChartRuler.h"
#include "trend/HistoryConnection.h"
#include "trend/HistoryReview.h"
#include "trend/LiveTrend.h"
#include "trend/TrendRenderer.h"
#include "trend/TrendState.h"
#include "ui/Twips.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTableWidget;
class QTimer;
class QFrame;

namespace hx {

class RecordStore;

class ChartFrame;
class ChartLine;
class ChartSurface;

class ssqx : public QWidget, public TrendView {
    Q_OBJECT
  public:
    explicit ssqx(AppContext& context, QWidget* parent = nullptr);
    ~ssqx() override;

    // The program around the window: the windows the buttons open, the parts of the status
    // table and status line other rooms know.
    void setHost(MainWindowHost* host) { host_ = host; }

    // Handlers.
    void Command9_Click();           // "打开"
    void Command10_Click();          // "关闭"
    void Command15_Click();          // "报警设定"
    void Command21_Click();          // "CONFIG"
    void openFactoryWindow();        // Ctrl+Shift+F12: the factory record sheet
    void openEventsWindow();         // F8: the event journal
    void Command1_Click();           // "退出"
    void Command4_Click();           // "F1 缩小"
    void Command3_Click();           // "F2 放大"
    void Command2_Click();           // "F3 打印"
    void Command5_Click();           // "F4 标尺"
    void Command6_Click();           // "F5 选择"
    void Command7_Click();           // "F6 左移": newer page
    void Command8_Click();           // "F7 右移": older page
    void hc_Change(int value);       // ruler slider moved
    void Label5_DblClick(int index); // a scale label: opens the Y-scale editor
    void Command26_Click();          // "修改Y"
    void Form_KeyDown(int key);
    void Timer1_Timer(); // live refresh
    void Timer2_Timer(); // chart redraw
    void Timer3_Timer(); // clock labels
    void Timer4_Timer(); // status table
    void updateStatusLine();
    // Where a printout went, or why it failed (the chart's, or a report of another window).
    void notePrintout(const QString& text);
    // A record the recorder decided: once stored, the live tick appends this very record to
    // the chart, so the chart and the database agree point for point.
    void noteRecord(const StoredRecord& record, WriteOutcome outcome);

    // TrendView: what history review asks of the window.
    void setNewerEnabled(bool enabled) override;
    bool newerEnabled() const override;
    void setOlderEnabled(bool enabled) override;
    bool olderEnabled() const override;
    void setLiveTimerActive(bool active) override;
    void clearSurface() override;
    void redraw() override;
    void showFirstVisible(const QString& dateText, const QString& timeText) override;

  signals:
    // "打开" (opening true) or "关闭" has run: the port is open, closed or could not be opened.
    // "关闭" is told only when it closed a port "打开" opened.
    void portActionDone(bool opening);
    // The status line was brought up to date: the port and the instrument as it showed them.
    void portRead(const PortReading& port);

  public:
    // What "F3 打印" prints besides the trend window: the caption and the labels as shown.
    ChartPrintout printoutContent(const ClockReading& now) const;

    TrendState& trend() { return trend_; }
    HistoryReview& history() { return *history_; }
    bool closeLock() const { return closeLock_; }
    RecordStore* store() const { return connection_ ? connection_->store() : nullptr; }
    HistoryConnection* historyConnection() const { return connection_.get(); }
    QWidget* alarmWindow() const { return alarmWindow_.data(); }
    QWidget* configWindow() const { return configWindow_.data(); }
    QWidget* eventsWindow() const { return eventsWindow_.data(); }

    // Controls (objectName as named here; control arrays as Name_index).
    QComboBox* Combo1 = nullptr;
    QComboBox* Combo2 = nullptr;
    std::array<QRadioButton*, 3> Option1{};
    std::array<QRadioButton*, 3> Option2{};
    QGroupBox* portGroup = nullptr;
    QGroupBox* addressGroup = nullptr;
    QGroupBox* baudGroup = nullptr;
    QGroupBox* parityGroup = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command10 = nullptr;
    QPushButton* Command15 = nullptr;
    QPushButton* Command21 = nullptr;
    QPushButton* Command1 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QPushButton* Command4 = nullptr; // F1 缩小
    QPushButton* Command3 = nullptr; // F2 放大
    QPushButton* Command2 = nullptr; // F3 打印
    QPushButton* Command5 = nullptr; // F4 标尺
    QPushButton* Command6 = nullptr; // F5 选择
    QPushButton* Command7 = nullptr; // F6 左移
    QPushButton* Command8 = nullptr; // F7 右移
    std::array<QLabel*, 10> Label1{};
    std::array<QLabel*, 10> D_3W{};
    QLabel* Label2_9 = nullptr;  // date
    QLabel* Label2_10 = nullptr; // time of day
    std::array<QLabel*, 7> Label5{};
    std::array<QLabel*, 9> Label4{};
    std::array<QLabel*, 9> Label7{};
    QLabel* Label19 = nullptr;
    QLabel* Label20 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* YKD = nullptr;
    QLineEdit* YKD1 = nullptr;
    QPushButton* Command26 = nullptr;
    QSlider* hc = nullptr;
    ChartLine* Line1 = nullptr;
    ChartFrame* pt0 = nullptr;
    ChartSurface* pt = nullptr;
    QTableWidget* FLXG = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QTimer* Timer3 = nullptr;
    QTimer* Timer4 = nullptr;
    QTimer* statusTimer = nullptr;
    StatusLabel* statusPort = nullptr;
    StatusLabel* statusLink = nullptr;
    StatusLabel* statusRecording = nullptr;
    StatusLabel* statusChart = nullptr; // history that cannot be read, where a printout went
    QLabel* historyMark = nullptr;      // the span shown, while the chart is not the live chart

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls(); // MainWindowLayout.cpp
    void connectHandlers();
    void load();
    void applyTrendLabels();
    void zoomTo(int level);
    void setGroupsVisible(bool visible);
    void closeDatabase();
    void openWindow(MainWindowHost::Window which, QPointer<QWidget>& slot);
    void rulerOn();
    void rulerOff();
    void showRulerReadout(const RulerReadout& readout);
    void showScaleLabels();
    void applySliderSteps(); // one arrow press moves the ruler one record
    void chartClicked(double x);
    void showShownSpan(); // the history mark beside the chart
    void updateChartStatus();
    const Twips tw{*this}; // twips to pixels at this screen's resolution

    AppContext& context_;
    std::unique_ptr<HistoryConnection> connection_;
    QString printStatus_; // where the last printout went, or why it failed
    TrendState trend_;
    TrendLabels trendLabels_;
    std::unique_ptr<HistoryReview> history_;
    bool closeLock_ = false;
    MainWindowHost* host_ = nullptr;
    PendingRecords pendingRecords_; // announced since the last live tick
    QPointer<QWidget> alarmWindow_;
    QPointer<QWidget> configWindow_;
    QPointer<QWidget> factoryWindow_;
    QPointer<QWidget> eventsWindow_;
};

} // namespace hx
