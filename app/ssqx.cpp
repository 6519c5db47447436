#include "ssqx.h"

#include "core/Clock.h"
#include "ui/Navigation.h"
#include "ui/OperatorField.h"
#include "core/SharedState.h"
#include "app/StatusTable.h"
#include "core/TextNumber.h"
#include "link/Link.h"
#include "link/Met1.h"
#include "logging/RecordStore.h"
#include "trend/ChartSurface.h"
#include "trend/TrendText.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>

#include <charconv>

namespace hx {

namespace {

const QString kReadoutStyle = QStringLiteral("background: rgb(255,192,255);");
const QString kClockStyle = QStringLiteral("background: rgb(128,255,128); color: red;");
const QString kAlertStyle = QStringLiteral("background: rgb(255,200,200);");

// The live tick and the status line run several times a second: restyle a label only when
// its style changes, since every new style sheet repolishes the widget.
void restyle(QWidget* widget, const QString& style)
{
    if (widget->styleSheet() != style)
        widget->setStyleSheet(style);
}

QString indexed(const char* name, int index) { return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index); }

// The text of a live value: the shortest decimal form of the single-precision value.
QString valueText(float v)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed);
    if (result.ec != std::errc() || result.ptr - buffer > 16)
        result = std::to_chars(buffer, buffer + sizeof buffer, v);
    if (result.ec != std::errc())
        return {};
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

// Chart position inside the window, in twips.
constexpr double kChartLeft = 900;
constexpr double kChartTop = 540;
constexpr double kRightColumn = 13200;

} // namespace

ssqx::ssqx(AppContext& context, QWidget* parent) : QWidget(parent), context_(context)
{
    setObjectName("ssqx");
    setWindowTitle(QStringLiteral("过程控制仪表  HX5800"));
    history_ = std::make_unique<HistoryReview>(trend_, nullptr, *this);
    buildControls();
    load();
    // The window sees every key before the control that has the focus.
    qApp->installEventFilter(this);
}

ssqx::~ssqx()
{
    qApp->removeEventFilter(this);
    Main_Open = kFalse;
}

int ssqx::tw(double twips) const
{
    const double dpi = logicalDpiX() > 0 ? logicalDpiX() : 96.0;
    return int(roundHalfEven(twips / 15.0 * dpi / 96.0));
}

QRect ssqx::twRect(double left, double top, double width, double height) const
{
    return QRect(tw(left), tw(top), tw(width), tw(height));
}

void ssqx::buildControls()
{
    resize(tw(19200), tw(12000));
    auto label = [this](const QString& text, const QString& name, QWidget* parent) {
        auto* l = new QLabel(text, parent ? parent : this);
        l->setObjectName(name);
        return l;
    };
    auto button = [this](const QString& text, const QString& name, QWidget* parent) {
        auto* b = new QPushButton(text, parent ? parent : this);
        b->setObjectName(name);
        return b;
    };

    // Legend captions and live values above the chart.
    for (int c = 0; c < 10; ++c) {
        const QString caption = c < 8 ? QStringLiteral("CH%1").arg(c + 1) : QStringLiteral("DA%1").arg(c - 7);
        Label1[c] = label(caption, indexed("Label1", c), nullptr);
        Label1[c]->setGeometry(twRect(kChartLeft + c * 1200, 90, 480, 300));
        QPalette pal = Label1[c]->palette();
        pal.setColor(QPalette::WindowText, QColor::fromRgb(kCurvePens[c].colour));
        Label1[c]->setPalette(pal);
        QFont f = Label1[c]->font();
        f.setBold(true);
        Label1[c]->setFont(f);
        D_3W[c] = label(QString(), indexed("D_3W", c), nullptr);
        D_3W[c]->setGeometry(twRect(kChartLeft + c * 1200 + 480, 90, 690, 300));
        D_3W[c]->setAutoFillBackground(true);
        D_3W[c]->setStyleSheet(kReadoutStyle);
        D_3W[c]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        D_3W[c]->setAccessibleName(caption);
    }

    // The chart frame; the chart surface and its labels sit in and under it.
    pt0 = new ChartFrame(this);
    pt = pt0->surface();
    pt0->setGeometry(twRect(kChartLeft, kChartTop, 12010, 7510));

    label(QStringLiteral("量程"), "Label6", nullptr)->setGeometry(twRect(60, 120, 780, 300));
    for (int i = 0; i < 7; ++i) {
        Label5[i] = label(QString::number(i * 100), indexed("Label5", i), nullptr);
        const double y = kChartTop + 7508 - (8 + 7500.0 * i / 6) - 150;
        Label5[i]->setGeometry(twRect(60, y, 780, 300));
        Label5[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    const double underChart = kChartTop + 7510 + 60;
    for (int j = 0; j < 9; ++j) {
        Label4[j] = label(QStringLiteral("00:00:00"), indexed("Label4", j), nullptr);
        Label7[j] = label(QStringLiteral("2001/07/19"), indexed("Label7", j), nullptr);
        Label4[j]->setGeometry(twRect(kChartLeft + 1500 * j - 600, underChart, 1200, 270));
        Label7[j]->setGeometry(twRect(kChartLeft + 1500 * j - 600, underChart + 270, 1200, 270));
        for (QLabel* l : {Label4[j], Label7[j]}) {
            l->setAlignment(Qt::AlignCenter);
            QPalette pal = l->palette();
            pal.setColor(QPalette::WindowText, QColor(64, 64, 64));
            l->setPalette(pal);
        }
    }
    Label19 = label(QString(), "Label19", nullptr);
    Label20 = label(QString(), "Label20", nullptr);
    Label19->hide();
    Label20->hide();

    hc = new QSlider(Qt::Horizontal, this);
    hc->setObjectName("hc");
    hc->setAccessibleName(QStringLiteral("标尺"));
    hc->setRange(-1, 12001);
    hc->setSingleStep(50);
    hc->setPageStep(50);
    hc->setGeometry(twRect(kChartLeft, underChart + 600, 12010, 330));

    // Y-scale editor, hidden until a scale label is double-clicked.
    Label9 = label(QStringLiteral("Y最大"), "Label9", nullptr);
    YKD = new QLineEdit(this);
    YKD->setObjectName("YKD");
    Label10 = label(QStringLiteral("Y最小"), "Label10", nullptr);
    YKD1 = new QLineEdit(QStringLiteral("0"), this);
    YKD1->setObjectName("YKD1");
    Command26 = button(QStringLiteral("修改Y"), "Command26", nullptr);
    Label9->setBuddy(YKD);
    Label10->setBuddy(YKD1);
    YKD->setAccessibleName(QStringLiteral("Y最大"));
    YKD1->setAccessibleName(QStringLiteral("Y最小"));
    const double editorTop = underChart + 1000;
    Label10->setGeometry(twRect(kChartLeft, editorTop, 700, 315));
    YKD1->setGeometry(twRect(kChartLeft + 720, editorTop, 1200, 315));
    Label9->setGeometry(twRect(kChartLeft + 2100, editorTop, 700, 315));
    YKD->setGeometry(twRect(kChartLeft + 2820, editorTop, 1200, 315));
    Command26->setGeometry(twRect(kChartLeft + 4200, editorTop - 30, 1100, 375));
    for (QWidget* w : std::initializer_list<QWidget*>{Label9, YKD, Label10, YKD1, Command26})
        w->hide();

    // Date and time of day.
    Label2_9 = label(QString(), "Label2_9", nullptr);
    Label2_10 = label(QString(), "Label2_10", nullptr);
    Label2_9->setGeometry(twRect(kRightColumn, 90, 1800, 330));
    Label2_10->setGeometry(twRect(kRightColumn + 1900, 90, 1500, 330));
    for (QLabel* l : {Label2_9, Label2_10}) {
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(kClockStyle);
    }

    // Alarm status table.
    label(QStringLiteral("报警状态表"), "Label3", nullptr)->setGeometry(twRect(kRightColumn, 540, 3000, 300));
    FLXG = new QTableWidget(this);
    FLXG->setObjectName("FLXG");
    FLXG->setAccessibleName(QStringLiteral("报警状态表"));
    FLXG->horizontalHeader()->hide();
    FLXG->verticalHeader()->hide();
    FLXG->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FLXG->setSelectionMode(QAbstractItemView::NoSelection);
    FLXG->setGeometry(twRect(kRightColumn, 870, 5550, 4500));

    // Function group.
    Frame3 = new QGroupBox(QStringLiteral("功能"), this);
    Frame3->setObjectName("Frame3");
    Frame3->setGeometry(twRect(kRightColumn, 5520, 5550, 1650));
    Command4 = button(QStringLiteral("F1 缩小"), "Command4", Frame3);
    Command3 = button(QStringLiteral("F2 放大"), "Command3", Frame3);
    Command2 = button(QStringLiteral("F3 打印"), "Command2", Frame3);
    Command5 = button(QStringLiteral("F4 标尺"), "Command5", Frame3);
    Command6 = button(QStringLiteral("F5 选择"), "Command6", Frame3);
    Command7 = button(QStringLiteral("F6 左移"), "Command7", Frame3);
    Command8 = button(QStringLiteral("F7 右移"), "Command8", Frame3);
    const std::array<QPushButton*, 7> functions{Command4, Command3, Command2, Command5, Command6, Command7, Command8};
    for (int i = 0; i < 7; ++i)
        functions[i]->setGeometry(twRect(120 + (i % 4) * 1350, 300 + (i / 4) * 600, 1260, 480));

    // Port settings: two groups with a captioned list, two with three option buttons.
    constexpr double portTop = 10100;
    auto group = [this](const QString& caption, const char* name, double left, double width) {
        auto* g = new QGroupBox(caption, this);
        g->setObjectName(QLatin1String(name));
        g->setGeometry(twRect(left, portTop, width, 1100));
        return g;
    };
    auto listInGroup = [&](QGroupBox* g, const QString& caption, const char* labelName, const char* name) {
        auto* l = label(caption, QLatin1String(labelName), g);
        l->setGeometry(twRect(120, 450, 900, 330));
        auto* combo = new QComboBox(g);
        combo->setObjectName(QLatin1String(name));
        combo->setEditable(true);
        combo->setGeometry(twRect(1050, 420, 1100, 375));
        l->setBuddy(combo);
        combo->setAccessibleName(caption);
        return combo;
    };
    auto optionsInGroup = [&](QGroupBox* g, const char* name, const std::array<const char16_t*, 3>& captions,
                              double pitch, std::array<QRadioButton*, 3>& options) {
        for (int i = 0; i < 3; ++i) {
            options[i] = new QRadioButton(QString::fromUtf16(captions[i]), g);
            options[i]->setObjectName(indexed(name, i));
            options[i]->setGeometry(twRect(120 + i * pitch, 450, pitch, 375));
        }
    };
    portGroup = group(QStringLiteral("通讯端口选择"), "portGroup", kChartLeft, 2300);
    Combo1 = listInGroup(portGroup, QStringLiteral("通讯端口"), "Label11", "Combo1");
    addressGroup = group(QStringLiteral("模块地址"), "addressGroup", kChartLeft + 2450, 2300);
    Combo2 = listInGroup(addressGroup, QStringLiteral("模块地址"), "Label12", "Combo2");
    baudGroup = group(QStringLiteral("波特率"), "baudGroup", kChartLeft + 4900, 3300);
    optionsInGroup(baudGroup, "Option1", {u"4800", u"9600", u"19200"}, 1050, Option1);
    parityGroup = group(QStringLiteral("校验方式"), "parityGroup", kChartLeft + 8350, 3660);
    optionsInGroup(parityGroup, "Option2", {u"无校验", u"奇校验", u"偶校验"}, 1150, Option2);
    Command9 = button(QStringLiteral("打开"), "Command9", nullptr);
    Command10 = button(QStringLiteral("关闭"), "Command10", nullptr);
    Command9->setGeometry(twRect(kRightColumn, portTop + 150, 1300, 480));
    Command10->setGeometry(twRect(kRightColumn + 1450, portTop + 150, 1300, 480));

    // Window buttons.
    Command15 = button(QStringLiteral("报警设定"), "Command15", nullptr);
    Command21 = button(QStringLiteral("CONFIG"), "Command21", nullptr);
    Command1 = button(QStringLiteral("退出"), "Command1", nullptr);
    Command15->setGeometry(twRect(kRightColumn, 7500, 1750, 540));
    Command21->setGeometry(twRect(kRightColumn + 1900, 7500, 1750, 540));
    Command1->setGeometry(twRect(kRightColumn + 3800, 7500, 1750, 540));

    // Status line.
    auto* statusFrame = new QFrame(this);
    statusFrame->setObjectName("statusLine");
    statusFrame->setFrameShape(QFrame::StyledPanel);
    statusFrame->setGeometry(twRect(0, 11340, 19200, 660));
    statusPort = label(QString(), "statusPort", statusFrame);
    statusLink = label(QString(), "statusLink", statusFrame);
    statusRecording = label(QString(), "statusRecording", statusFrame);
    statusPort->setGeometry(twRect(90, 30, 5400, 300));
    statusLink->setGeometry(twRect(5550, 30, 13560, 300));
    statusRecording->setGeometry(twRect(90, 330, 19020, 300));
    for (QLabel* l : {statusPort, statusLink, statusRecording})
        l->setAutoFillBackground(true);

    // Timers, all enabled from creation.
    Timer1 = new QTimer(this);
    Timer2 = new QTimer(this);
    Timer3 = new QTimer(this);
    Timer4 = new QTimer(this);
    statusTimer = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer2->setObjectName("Timer2");
    Timer3->setObjectName("Timer3");
    Timer4->setObjectName("Timer4");
    statusTimer->setObjectName("statusTimer");
    Timer1->setInterval(200);
    Timer2->setInterval(1000);
    Timer3->setInterval(1000);
    Timer4->setInterval(3000);
    statusTimer->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &ssqx::Timer2_Timer);
    connect(Timer3, &QTimer::timeout, this, &ssqx::Timer3_Timer);
    connect(Timer4, &QTimer::timeout, this, &ssqx::Timer4_Timer);
    connect(statusTimer, &QTimer::timeout, this, &ssqx::updateStatusLine);
    for (QTimer* t : {Timer1, Timer2, Timer3, Timer4, statusTimer})
        t->start();

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
    connect(Timer1, &QTimer::timeout, this, &ssqx::Timer1_Timer);
}

void ssqx::load()
{
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
    prepareStatusTable();
    // 3. Navigation state; the recorder may raise New_Record from here on.
    trend_.At_Oldest = false;
    Main_Open = kTrue;
    trend_.Page_Back = 0;
    hc->setEnabled(false);
    Command3->setEnabled(false);
    Command7->setEnabled(false);
    for (int s = 1; s <= 321; ++s)
        trend_.Gap_Mark[s] = 0;
    trend_.Zoom_Level = 1;
    // 4. The window's own database connection; the history window on the newest records.
    if (context_.openStore)
        store_ = context_.openStore(context_.databasePath);
    history_->setStore(store_.get());
    // 5. Close lock.
    closeLock_ = true;
    // 6. The chart surface's size, as hidden texts.
    Label19->setText(QString::number(kChartWidth));
    Label20->setText(QString::number(kChartHeight));
    // 7. Slider out of the tab order, then the newest records drawn once.
    hc->setValue(0);
    hc->setFocusPolicy(Qt::NoFocus);
    history_->openLiveWindow();
    updateStatusLine();
}

void ssqx::prepareStatusTable()
{
    FLXG->setRowCount(kStatusTableRows);
    FLXG->setColumnCount(2);
    FLXG->setColumnWidth(0, tw(kStatusColumn0Twips));
    FLXG->setColumnWidth(1, tw(kStatusColumn1Twips));
    for (int column = 0; column < 2; ++column) {
        auto* item = new QTableWidgetItem(statusHeaderText(column));
        item->setBackground(palette().button());
        FLXG->setItem(0, column, item);
    }
    for (int r = 1; r < kStatusTableRows; ++r) {
        FLXG->setItem(r, 0, new QTableWidgetItem(QString::number(r)));
        FLXG->setItem(r, 1, new QTableWidgetItem(QString()));
        FLXG->setRowHeight(r, tw(255));
    }
    FLXG->setRowHeight(0, tw(255));
}

void ssqx::Timer4_Timer()
{
    for (int r = 1; r <= kStatusTableStateRows; ++r) {
        FLXG->item(r, 0)->setText(QString::number(r));
        FLXG->item(r, 1)->setText(statusRowText(r, Status_Bit[r - 1]));
    }
}

void ssqx::setGroupsVisible(bool visible)
{
    for (QGroupBox* g : {baudGroup, addressGroup, parityGroup, portGroup})
        g->setVisible(visible);
}

void ssqx::Command9_Click()
{
    setGroupsVisible(false);
    if (auto port = numberOfText(Combo1->currentText()))
        Com_Param[0] = *port;
    for (int i = 0; i < 3; ++i)
        if (Option1[i]->isChecked())
            Com_Param[1] = i;
    for (int i = 0; i < 3; ++i)
        if (Option2[i]->isChecked())
            Com_Param[2] = i;
    if (auto address = numberOfText(Combo2->currentText()))
        Com_Param[3] = *address;
    if (context_.link)
        Com_Param[20] = context_.link->OpenPort_Modbus(Com_Param[0], Com_Param[1], Com_Param[2]);
    portEverOpened_ = true;
    Command21->setEnabled(true);
    if (context_.met1)
        context_.met1->Timer1->start();
    updateStatusLine();
}

void ssqx::Command10_Click()
{
    if (context_.link)
        context_.link->ClosePort_Modbus(Com_Param[0]);
    if (context_.met1)
        context_.met1->Timer1->stop();
    Command21->setEnabled(false);
    setGroupsVisible(true);
    updateStatusLine();
}

void ssqx::Command15_Click()
{
    std::function<QWidget*(QWidget*)> create = createAlarmWindow;
    openSecondaryWindow<QWidget>(this, alarmWindow_, create);
}

void ssqx::Command21_Click()
{
    std::function<QWidget*(QWidget*)> create = createConfigWindow;
    openSecondaryWindow<QWidget>(this, configWindow_, create);
}

void ssqx::openFactoryWindow()
{
    std::function<QWidget*(QWidget*)> create = createFactoryWindow;
    openSecondaryWindow<QWidget>(this, factoryWindow_, create);
}

void ssqx::closeDatabase() { store_.reset(); }

void ssqx::Command1_Click()
{
    closeDatabase();
    closeLock_ = false;
    close();
    // The process ends at once; the serial port is not closed first.
    if (context_.endProcess)
        context_.endProcess();
}

void ssqx::closeEvent(QCloseEvent* event)
{
    if (closeLock_) {
        event->ignore();
        return;
    }
    closeDatabase();
    Main_Open = kFalse;
    event->accept();
}

bool ssqx::eventFilter(QObject* watched, QEvent* event)
{
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
            switch (key) {
            case Qt::Key_F1: case Qt::Key_F2: case Qt::Key_F3: case Qt::Key_F4:
            case Qt::Key_F5: case Qt::Key_F6: case Qt::Key_F7: case Qt::Key_Escape:
                Form_KeyDown(key);
                return true;
            default:
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ssqx::Form_KeyDown(int key)
{
    switch (key) {
    case Qt::Key_F1:
        if (trend_.Zoom_Level < 4)
            Command4_Click();
        break;
    case Qt::Key_F2:
        if (trend_.Zoom_Level > 1)
            Command3_Click();
        break;
    case Qt::Key_F3:
        Command2_Click();
        break;
    case Qt::Key_F4:
        Command5_Click();
        break;
    case Qt::Key_F5:
        Command6_Click();
        break;
    case Qt::Key_F6:
        if (trend_.Page_Back > 0)
            Command7_Click();
        break;
    case Qt::Key_F7:
        if (!trend_.At_Oldest)
            Command8_Click();
        break;
    case Qt::Key_Escape:
        Command1_Click();
        break;
    default:
        break;
    }
}

void ssqx::zoomTo(int level)
{
    pt->Cls();
    DrawGrid(*pt);
    trend_.Zoom_Level = int16_t(level);
    Command3->setEnabled(trend_.Zoom_Level > 1);
    Command4->setEnabled(trend_.Zoom_Level < 4);
    ApplyZoom(trend_);
    const int step = int(roundHalfEven(trend_.X_Step));
    hc->setSingleStep(step);
    hc->setPageStep(step);
    DrawTrend(trend_, *pt, trendLabels_);
    applyTrendLabels();
}

void ssqx::Command4_Click() { zoomTo(trend_.Zoom_Level + 1); }
void ssqx::Command3_Click() { zoomTo(trend_.Zoom_Level - 1); }
// Printing and selection have no action yet; their buttons and keys exist.
void ssqx::Command2_Click() {}
void ssqx::Command6_Click() {}
// The ruler comes with chart navigation.
void ssqx::Command5_Click() {}
void ssqx::Command7_Click() { history_->newerPage(); }
void ssqx::Command8_Click() { history_->olderPage(); }

void ssqx::setNewerEnabled(bool enabled) { Command7->setEnabled(enabled); }
bool ssqx::newerEnabled() const { return Command7->isEnabled(); }
void ssqx::setOlderEnabled(bool enabled) { Command8->setEnabled(enabled); }
bool ssqx::olderEnabled() const { return Command8->isEnabled(); }

void ssqx::setLiveTimerActive(bool active)
{
    if (active)
        Timer1->start();
    else
        Timer1->stop();
}

void ssqx::clearSurface() { pt->Cls(); }

void ssqx::redraw()
{
    hx::redraw(trend_, *pt, trendLabels_);
    applyTrendLabels();
}

void ssqx::applyTrendLabels()
{
    for (int j = 0; j < kTimeLabels; ++j) {
        Label4[j]->setText(trendLabels_.Label4[j]);
        Label7[j]->setText(trendLabels_.Label7[j]);
    }
}

void ssqx::showFirstVisible(const QString& dateText, const QString& timeText)
{
    Label2_9->setText(dateText);
    Label2_10->setText(timeText);
}

void ssqx::Timer1_Timer()
{
    if (!trend_.Ruler_On) {
        restyle(Label2_9, kClockStyle);
        restyle(Label2_10, kClockStyle);
        for (QLabel* l : D_3W)
            restyle(l, kReadoutStyle);
    }
    // Scale labels, bottom to top.
    const float sixth = float(Y_Span) / 6.0f;
    for (int i = 0; i < 7; ++i) {
        const double n = roundHalfEven(double(float(i) * sixth));
        Label5[i]->setText(QString::number(qint64(n) + Y_Min));
    }
    if (New_Record != kFalse) {
        ++trend_.Win_Count;
        if (trend_.Win_Count == 20 * trend_.Zoom_Level + 241) {
            // The band for new samples is full: reload the newest records.
            history_->ClearWindow();
            pt->Cls();
            history_->reloadLiveWindow();
            redraw();
        }
        const int slot = trend_.Win_Count;
        if (isTrendSlot(slot)) {
            for (int c = 0; c < kDrawnChannels; ++c)
                trend_.Trend_Value[c][slot] = Pv_Value[c];
            const ClockReading now = appClock().now();
            trend_.Trend_Date[slot] = now.date;
            trend_.Trend_Time[slot] = now.time;
        }
        New_Record = kFalse;
        redraw();
    }
    for (int c = 0; c < 10; ++c)
        D_3W[c]->setText(valueText(Pv_Value[c]));
    Label19->setText(valueText(trend_.X_Step));
}

void ssqx::Timer2_Timer() { redraw(); }

void ssqx::Timer3_Timer()
{
    if (trend_.Ruler_On)
        return;
    const ClockReading now = appClock().now();
    Label2_9->setText(clockDateText(now.date));
    Label2_10->setText(clockTimeText(now.time));
}

void ssqx::updateStatusLine()
{
    const int32_t port = Com_Param[0] != 0 || portEverOpened_ ? Com_Param[0] : numberOfText(Combo1->currentText()).value_or(0);
    PortStatus portStatus;
    LinkStats stats;
    if (context_.link) {
        portStatus = context_.link->portStatus(port);
        stats = context_.link->stats();
    }
    statusPort->setText(portStatusText(port, portStatus, portEverOpened_));
    const bool portFailed = portEverOpened_ && !portStatus.open && !portStatus.error.empty();
    restyle(statusPort, portFailed ? kAlertStyle : QString());
    const int64_t nowMs = QDateTime::currentMSecsSinceEpoch();
    const QString writes = context_.writes ? writeStatusText(*context_.writes) : QString();
    statusLink->setText(linkStatusText(stats, nowMs) + writes);
    restyle(statusLink, linkLooksSilent(stats, nowMs, portStatus.open) || !writes.isEmpty() ? kAlertStyle : QString());
    if (recordingHealth) {
        const RecordingHealth health = recordingHealth();
        statusRecording->setText(recordingStatusText(health));
        restyle(statusRecording, health.available ? QString() : kAlertStyle);
    } else {
        statusRecording->setText(QStringLiteral("记录: 尚未启动"));
    }
}

} // namespace hx
