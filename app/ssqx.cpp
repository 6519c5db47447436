#include "ssqx.h"

#include "app/MainWindowLayout.h"

#include "app/StatusTable.h"
#include "core/Clock.h"
#include "core/FreshValues.h"
#include "core/Rounding.h"
#include "core/SharedState.h"
#include "core/TextNumber.h"
#include "link/Met1.h"
#include "trend/ChartPrintout.h"
#include "trend/ChartRuler.h"
#include "trend/ChartSurface.h"
#include "trend/LiveTrend.h"
#include "trend/TrendText.h"
#include "trend/YScale.h"
#include "ui/AccessibleNames.h"
#include "ui/Navigation.h"
#include "ui/OperatorField.h"
#include "ui/WheelGuard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>

namespace hx {

namespace {

// The live tick and the status line run several times a second: restyle a label only when
// its style changes, since every new style sheet repolishes the widget.
void restyle(QWidget* widget, const QString& style) {
    if (widget->styleSheet() != style) widget->setStyleSheet(style);
}

template <class Handler>
QTimer* startedTimer(ssqx* window, const char* name, int intervalMs, Handler handler) {
    auto* timer = new QTimer(window);
    timer->setObjectName(name);
    timer->setInterval(intervalMs);
    QObject::connect(timer, &QTimer::timeout, window, handler);
    timer->start();
    return timer;
}

} // namespace

ssqx::ssqx(AppContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    setObjectName("ssqx");
    setWindowTitle(QStringLiteral("过程控制仪表  HX5800"));
    history_ = std::make_unique<HistoryReview>(trend_, nullptr, *this);
    buildControls();
    guardWheel(this);
    connectHandlers();
    load();
    // The window sees every key before the control that has the focus.
    qApp->installEventFilter(this);
}

ssqx::~ssqx() {
    qApp->removeEventFilter(this);
    // The secondary windows read through the program's link and tables: none outlives them.
    qDeleteAll(QList<QWidget*>{alarmWindow_, configWindow_, factoryWindow_, eventsWindow_});
    Main_Open = kFalse;
}

void ssqx::connectHandlers() {
    // Timers, all enabled from creation.
    Timer1 = startedTimer(this, "Timer1", 200, &ssqx::Timer1_Timer);
    Timer2 = startedTimer(this, "Timer2", 1000, &ssqx::Timer2_Timer);
    Timer3 = startedTimer(this, "Timer3", 1000, &ssqx::Timer3_Timer);
    Timer4 = startedTimer(this, "Timer4", 3000, &ssqx::Timer4_Timer);
    statusTimer = startedTimer(this, "statusTimer", 1000, &ssqx::updateStatusLine);

    connect(Command9, &QPushButton::clicked, this, &ssqx::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &ssqx::Command10_Click);
    connect(Command15, &QPushButton::clicked, this, &ssqx::Command15_Click);
    connect(Command21, &QPushButton::clicked, this, &ssqx::Command21_Click);
    connect(Command1, &QPushButton::clicked, this, &ssqx::Command1_Click);
    connect(Command4, &QPushButton::clicked, this, &ssqx::Command4_Click);
    connect(Command3, &QPushButton::clicked, this, &ssqx::Command3_Click);
    connect(Command2, &QPushButton::clicked, this, &ssqx::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &ssqx::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &ssqx::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &ssqx::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &ssqx::Command8_Click);
    connect(hc, &QSlider::valueChanged, this, &ssqx::hc_Change);
    connect(Command26, &QPushButton::clicked, this, &ssqx::Command26_Click);
}

void ssqx::load() {
    // 1. Port settings.
    for (int i = 1; i <= 20; ++i)
        Combo1->addItem(QStringLiteral("%1 ").arg(i));
    for (int i = 1; i <= 16; ++i)
        Combo2->addItem(QStringLiteral("%1 ").arg(i));
    Combo1->setCurrentIndex(0);
    Combo2->setCurrentIndex(0);
    Option1[1]->setChecked(true);
    Option2[0]->setChecked(true);
    // 2. Status table.
    prepareStatusTable(*FLXG, tw);
    // 3. Navigation state; the recorder may raise New_Record from here on.
    trend_.At_Oldest = false;
    Main_Open = kTrue;
    trend_.Page_Back = 0;
    hc->setEnabled(false);
    Command3->setEnabled(false);
    Command7->setEnabled(false);
    for (int s = 1; s <= kHistoryWinLen; ++s)
        trend_.Gap_Mark[s] = 0;
    trend_.Zoom_Level = 1;
    // 4. The window's own database connection, which comes back by itself when the database
    // appears later or its file is replaced; the history window on the newest records.
    connection_ = std::make_unique<HistoryConnection>(context_.databasePath, context_.openStore, appClock());
    history_->setConnection(connection_.get());
    // 5. Close lock.
    closeLock_ = true;
    // 6. The chart surface's size, as hidden texts.
    Label19->setText(QString::number(kChartWidth));
    Label20->setText(QString::number(kChartHeight));
    // 7. Slider out of the tab order, then the newest records drawn once.
    hc->setValue(0);
    hc->setFocusPolicy(Qt::NoFocus);
    history_->openLiveWindow();
    applySliderSteps();
    updateStatusLine();
}

void ssqx::Timer4_Timer() {
    // Until the poll read the states, no row claims one.
    showStatusRows(*FLXG, Status_Bit, freshValues().statusReadOnce(),
                   host_ ? host_->unacknowledgedRows() : std::array<bool, 27>{});
}

void ssqx::setGroupsVisible(bool visible) {
    for (QGroupBox* g : {baudGroup, addressGroup, parityGroup, portGroup})
        g->setVisible(visible);
}

void ssqx::Command9_Click() {
    PortSession& session = context_.session;
    const std::optional<int32_t> address = session.acceptAddress(Combo2->currentText());
    if (!address) {
        updateStatusLine();
        return;
    }
    setGroupsVisible(false);
    if (auto port = numberOfText(Combo1->currentText())) Com_Param[kComPort] = *port;
    for (int i = 0; i < 3; ++i) {
        if (Option1[i]->isChecked()) Com_Param[kComBaud] = i;
        if (Option2[i]->isChecked()) Com_Param[kComParity] = i;
    }
    Com_Param[kComAddress] = *address;
    Com_Param[kComOpenResult] = session.open(context_.link, context_.writes, Com_Param[kComPort],
                                             Com_Param[kComBaud], Com_Param[kComParity]);
    // A port that did not open must not look connected: the settings stay for the next try,
    // "CONFIG" keeps its state, no poll runs, and the status line says why.
    const bool opened = Com_Param[kComOpenResult] == 0;
    setGroupsVisible(!opened);
    if (opened) Command21->setEnabled(true);
    if (context_.met1) opened ? context_.met1->Timer1->start() : context_.met1->Timer1->stop();
    updateStatusLine();
    emit portActionDone(true);
}

void ssqx::Command10_Click() {
    const bool closed = context_.session.close(context_.link, Com_Param[kComPort]);
    if (context_.met1) context_.met1->Timer1->stop();
    Command21->setEnabled(false);
    setGroupsVisible(true);
    updateStatusLine();
    if (closed) emit portActionDone(false);
}

void ssqx::openWindow(MainWindowHost::Window which, QPointer<QWidget>& slot) {
    std::function<QWidget*(QWidget*)> create;
    if (host_) create = [this, which](QWidget* main) { return host_->createWindow(which, main); };
    openSecondaryWindow<QWidget>(this, slot, create);
}

void ssqx::Command15_Click() {
    openWindow(MainWindowHost::Window::Alarm, alarmWindow_);
}
void ssqx::Command21_Click() {
    openWindow(MainWindowHost::Window::Config, configWindow_);
}
void ssqx::openFactoryWindow() {
    openWindow(MainWindowHost::Window::Factory, factoryWindow_);
}
void ssqx::openEventsWindow() {
    openWindow(MainWindowHost::Window::Events, eventsWindow_);
}

void ssqx::closeDatabase() {
    if (connection_) connection_->shutDown();
}

void ssqx::Command1_Click() {
    closeDatabase();
    closeLock_ = false;
    close();
    // The process ends at once; the serial port is not closed first.
    if (context_.endProcess) context_.endProcess();
}

void ssqx::closeEvent(QCloseEvent* event) {
    if (closeLock_) return event->ignore();
    closeDatabase();
    Main_Open = kFalse;
    event->accept();
}

bool ssqx::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (int i = 0; i < kScaleLabels; ++i) {
            if (watched == Label5[i]) {
                Label5_DblClick(i);
                return true;
            }
        }
    }
    if (event->type() == QEvent::MouseButtonPress && trend_.Ruler_On && (watched == pt || watched == Line1)) {
        const auto* press = static_cast<QMouseEvent*>(event);
        const QPointF at = static_cast<QWidget*>(watched)->mapTo(pt, press->position());
        chartClicked(at.x() * kChartWidth / std::max(1, pt->width()));
        return true;
    }
    if (event->type() == QEvent::KeyPress && isVisible()) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            const auto* press = static_cast<QKeyEvent*>(event);
            const int key = press->key();
            // A chord no operator presses by accident.
            if (key == Qt::Key_F12 && press->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)) {
                openFactoryWindow();
                return true;
            }
            if ((key >= Qt::Key_F1 && key <= Qt::Key_F8) || key == Qt::Key_Escape) {
                Form_KeyDown(key);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// F1..F7 as their buttons, each only while its button could be pressed; F8 the event journal.
void ssqx::Form_KeyDown(int key) {
    if (key == Qt::Key_F1 && trend_.Zoom_Level < 4) Command4_Click();
    if (key == Qt::Key_F2 && trend_.Zoom_Level > 1) Command3_Click();
    if (key == Qt::Key_F3) Command2_Click();
    if (key == Qt::Key_F4) Command5_Click();
    if (key == Qt::Key_F5) Command6_Click();
    if (key == Qt::Key_F6 && trend_.Page_Back > 0) Command7_Click();
    if (key == Qt::Key_F7 && !trend_.At_Oldest) Command8_Click();
    if (key == Qt::Key_F8) openEventsWindow();
    if (key == Qt::Key_Escape) Command1_Click();
}

void ssqx::zoomTo(int level) {
    // A reload brings the records announced meanwhile.
    if (zoomTrend(trend_, *history_, *this, level)) pendingRecords_.clear();
    Command3->setEnabled(trend_.Zoom_Level > 1);
    Command4->setEnabled(trend_.Zoom_Level < 4);
    applySliderSteps();
}

void ssqx::applySliderSteps() {
    const int step = int(roundHalfEven(trend_.X_Step));
    hc->setSingleStep(step);
    hc->setPageStep(step);
}

void ssqx::Command4_Click() {
    zoomTo(trend_.Zoom_Level + 1);
}
void ssqx::Command3_Click() {
    zoomTo(trend_.Zoom_Level - 1);
}
// Selection has no action; its button and key exist.
void ssqx::Command6_Click() {}

// The chart as shown, as a one-page PDF beside the recording database; no dialog.
ChartPrintout ssqx::printoutContent(const ClockReading& now) const {
    ChartPrintout content;
    content.title = windowTitle();
    content.printedAt = dateText(now.date) + QLatin1Char(' ') + timeOfDayText(now.time);
    content.dateText = Label2_9->text();
    content.timeText = Label2_10->text();
    for (int c = 0; c < kDrawnChannels; ++c)
        content.values[c] = D_3W[c]->text();
    for (int i = 0; i < kScaleLabels; ++i)
        content.scale[i] = Label5[i]->text();
    if (trend_.Ruler_On) content.ruler = Line1->shape();
    return content;
}

void ssqx::Command2_Click() {
    const ClockReading now = appClock().now();
    const ChartPrintout content = printoutContent(now);
    const QString folder = QFileInfo(context_.databasePath).absolutePath();
    const QString path = QDir(folder).filePath(printoutFileName(now));
    QString error;
    if (writeChartPdf(path, trend_, content, &error))
        notePrintout(QStringLiteral("打印到 ") + QDir::toNativeSeparators(path));
    else
        notePrintout(QStringLiteral("打印失败: ") + error);
}

void ssqx::noteRecord(const StoredRecord& record, WriteOutcome outcome) {
    // On a history page or with the ruler on, returning to live reloads the newest records.
    // A record that could not be stored is still a measurement: the live chart draws it.
    if (Timer1->isActive()) pendingRecords_.add(record, outcome);
}

void ssqx::notePrintout(const QString& text) {
    printStatus_ = text;
    updateChartStatus();
}

void ssqx::Command5_Click() {
    if (trend_.Ruler_On)
        rulerOff();
    else
        rulerOn();
}

void ssqx::rulerOn() {
    hc->setValue(0);
    hc->setFocus();
    Line1->setShape(kRulerOnTick);
    hc->setEnabled(true);
    trend_.Ruler_On = true;
    hc->setFocusPolicy(Qt::StrongFocus);
    hc->setFocus();
    Timer1->stop();
    Command5->setText(QStringLiteral("F4 复原"));
    showShownSpan();
}

void ssqx::rulerOff() {
    hc->setValue(0);
    hc->setFocusPolicy(Qt::NoFocus);
    Line1->setShape(kRulerOffTick);
    hc->setEnabled(false);
    Command5->setFocus();
    Command5->setText(QStringLiteral("F4 标尺"));
    // Back to the live page as a whole, wherever the ruler left the chart.
    leaveRuler(trend_, *history_, *this);
}

void ssqx::hc_Change(int value) {
    const auto readout = moveRuler(trend_, *history_, value);
    Line1->setShape(rulerLineAt(value));
    if (readout) showRulerReadout(*readout);
}

// With the ruler on, a click on the chart moves the ruler to the record drawn there.
void ssqx::chartClicked(double x) {
    if (const auto v = rulerValueAt(trend_, x)) hc->setValue(*v);
}

void ssqx::showRulerReadout(const RulerReadout& readout) {
    Label2_9->setText(readout.date);
    Label2_10->setText(readout.time);
    restyle(Label2_9, kRulerClockStyle);
    restyle(Label2_10, kRulerClockStyle);
    for (int c = 0; c < kDrawnChannels; ++c) {
        setValueText(D_3W[c], readout.values[c]);
        restyle(D_3W[c], kRulerReadoutStyle);
    }
}

void ssqx::Label5_DblClick(int) {
    for (QWidget* w : std::initializer_list<QWidget*>{Label9, Label10, YKD, YKD1, Command26})
        w->show();
}

// The new scale reaches the labels at once, wherever the chart stands (the live tick is off on
// a history page and with the ruler on), and the curves at the next redraw.
void ssqx::Command26_Click() {
    const auto scale = yScaleOfEntry(YKD->text(), YKD1->text());
    if (!scale) return; // refused: the editor stays open and nothing changes
    Y_Min = scale->yMin;
    Y_Span = scale->ySpan;
    showScaleLabels();
    for (QWidget* w : std::initializer_list<QWidget*>{Label9, Label10, YKD, YKD1, Command26})
        w->hide();
}
void ssqx::Command7_Click() {
    history_->newerPage();
}
void ssqx::Command8_Click() {
    history_->olderPage();
}

void ssqx::setNewerEnabled(bool enabled) {
    Command7->setEnabled(enabled);
}
bool ssqx::newerEnabled() const {
    return Command7->isEnabled();
}
void ssqx::setOlderEnabled(bool enabled) {
    Command8->setEnabled(enabled);
}
bool ssqx::olderEnabled() const {
    return Command8->isEnabled();
}

void ssqx::setLiveTimerActive(bool active) {
    // Back to live after a reload (or leaving it): the records announced meanwhile are in the
    // reloaded window already, or belong to no page.
    pendingRecords_.clear();
    // With the ruler on the chart stands still under the ruler line, also on the live page the
    // slider's right end pages back to; only leaving the ruler starts the live tick.
    if (active && !trend_.Ruler_On)
        Timer1->start();
    else
        Timer1->stop();
}

void ssqx::clearSurface() {
    pt->Cls();
}

void ssqx::redraw() {
    hx::redraw(trend_, *pt, trendLabels_);
    applyTrendLabels();
    showShownSpan();
}

void ssqx::showShownSpan() {
    const QString span = shownSpanText(trend_);
    historyMark->setText(span);
    historyMark->setVisible(!span.isEmpty());
}

void ssqx::applyTrendLabels() {
    for (int j = 0; j < kTimeLabels; ++j) {
        Label4[j]->setText(trendLabels_.Label4[j]);
        Label7[j]->setText(trendLabels_.Label7[j]);
    }
}

void ssqx::showFirstVisible(const QString& dateText, const QString& timeText) {
    Label2_9->setText(dateText);
    Label2_10->setText(timeText);
}

void ssqx::Timer1_Timer() {
    if (!trend_.Ruler_On) {
        restyle(Label2_9, kClockStyle);
        restyle(Label2_10, kClockStyle);
    }
    showScaleLabels();
    if (New_Record != kFalse) {
        pendingRecords_.appendTo(trend_, *history_, *this);
        New_Record = kFalse;
        redraw();
    }
    const int64_t nowMs = FreshValues::steadyNowMs();
    for (int c = 0; c < 10; ++c) {
        // A value no good answer ever gave is unknown, not 0.
        setValueText(D_3W[c], freshValues().readOnce(c) ? liveValueText(Pv_Value[c]) : QString());
        if (!trend_.Ruler_On)
            restyle(D_3W[c], freshValues().stale(c, nowMs) ? kStaleReadoutStyle : kReadoutStyle);
    }
    Label19->setText(liveValueText(trend_.X_Step));
}

// Scale labels, bottom to top.
void ssqx::showScaleLabels() {
    const auto scale = scaleLabelValues(Y_Min, Y_Span);
    for (int i = 0; i < kScaleLabels; ++i)
        Label5[i]->setText(QString::number(scale[i]));
}

void ssqx::Timer2_Timer() {
    redraw();
}

void ssqx::Timer3_Timer() {
    if (trend_.Ruler_On) return;
    const ClockReading now = appClock().now();
    Label2_9->setText(clockDateText(now.date));
    Label2_10->setText(clockTimeText(now.time));
}

void ssqx::updateStatusLine() {
    const PortSession& session = context_.session;
    // Before the first "打开" the port is the one chosen here.
    const int32_t port = Com_Param[kComPort] != 0 || session.everOpened()
                             ? Com_Param[kComPort]
                             : numberOfText(Combo1->currentText()).value_or(0);
    const PortReading reading = session.read(context_.link, context_.writes, port);
    const StatusLineParts line =
        host_ ? statusLineOf(reading, host_->recordingHealth(), host_->publishingStatus())
              : statusLineOf(reading, std::nullopt, {QString(), true});
    statusPort->showStatus(line.port);
    statusLink->showStatus(line.link);
    statusRecording->showStatus(line.recording);
    updateChartStatus();
    emit portRead(reading);
}

void ssqx::updateChartStatus() {
    // Asking for the store also tries a closed one again (at most every few seconds), so the
    // line clears as soon as history can be read.
    const bool unreadable = connection_ && (!connection_->acquire() || !connection_->readable());
    const QString history = unreadable ? connection_->lastError() + QStringLiteral("  ") +
                                             QDir::toNativeSeparators(connection_->path())
                                       : QString();
    statusChart->showStatus(chartStatusOf(host_ ? host_->eventStatus() : QString(), history, printStatus_));
}

} // namespace hx
