#include "app/MainWindowLayout.h"

#include "app/ssqx.h"
#include "trend/ChartSurface.h"
#include "ui/AccessibleNames.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>

namespace hx {

namespace {

QString indexed(const char* name, int index) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

// Chart position inside the window, in twips. The window, its status line included, fits a
// 1366 x 768 screen with a panel and a title bar (688 px high at 96 dpi): the chart frame is
// a little lower than the chart's own 7510.
constexpr double kChartLeft = 900;
constexpr double kChartTop = 480;
constexpr double kChartFrameHeight = 6750;
constexpr double kRightColumn = 13200;
constexpr double kWindowHeight = 10320;

} // namespace

void ssqx::buildControls() {
    resize(tw(19200), tw(kWindowHeight));
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
        Label1[c]->setGeometry(tw.rect(kChartLeft + c * 1200, 90, 480, 300));
        QPalette pal = Label1[c]->palette();
        pal.setColor(QPalette::WindowText, QColor::fromRgb(kCurvePens[c].colour));
        Label1[c]->setPalette(pal);
        QFont f = Label1[c]->font();
        f.setBold(true);
        Label1[c]->setFont(f);
        D_3W[c] = label(QString(), indexed("D_3W", c), nullptr);
        D_3W[c]->setGeometry(tw.rect(kChartLeft + c * 1200 + 480, 90, 690, 300));
        D_3W[c]->setAutoFillBackground(true);
        D_3W[c]->setStyleSheet(kReadoutStyle);
        D_3W[c]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        nameValueLabel(D_3W[c], caption);
    }

    // The chart frame; the chart surface and its labels sit in and under it.
    pt0 = new ChartFrame(this);
    pt = pt0->surface();
    pt0->setGeometry(tw.rect(kChartLeft, kChartTop, 12010, kChartFrameHeight));

    label(QStringLiteral("量程"), "Label6", nullptr)->setGeometry(tw.rect(60, 120, 780, 300));
    for (int i = 0; i < 7; ++i) {
        Label5[i] = label(QString::number(i * 100), indexed("Label5", i), nullptr);
        // Beside the grid line of its value, wherever the frame's height puts it.
        const double y = kChartTop + (7508 - (8 + 7500.0 * i / 6)) * kChartFrameHeight / 7510 - 150;
        Label5[i]->setGeometry(tw.rect(60, y, 780, 300));
        Label5[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    const double underChart = kChartTop + kChartFrameHeight + 60;
    for (int j = 0; j < 9; ++j) {
        Label4[j] = label(QStringLiteral("00:00:00"), indexed("Label4", j), nullptr);
        Label7[j] = label(QStringLiteral("2001/07/19"), indexed("Label7", j), nullptr);
        Label4[j]->setGeometry(tw.rect(kChartLeft + 1500 * j - 600, underChart, 1200, 270));
        Label7[j]->setGeometry(tw.rect(kChartLeft + 1500 * j - 600, underChart + 270, 1200, 270));
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
    hc->setGeometry(tw.rect(kChartLeft, underChart + 570, 12010, 330));
    Line1 = new ChartLine(pt);
    Line1->setObjectName("Line1");

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
    const double editorTop = underChart + 960;
    Label10->setGeometry(tw.rect(kChartLeft, editorTop, 700, 315));
    YKD1->setGeometry(tw.rect(kChartLeft + 720, editorTop, 1200, 315));
    Label9->setGeometry(tw.rect(kChartLeft + 2100, editorTop, 700, 315));
    YKD->setGeometry(tw.rect(kChartLeft + 2820, editorTop, 1200, 315));
    Command26->setGeometry(tw.rect(kChartLeft + 4200, editorTop - 30, 1100, 375));
    for (QWidget* w : std::initializer_list<QWidget*>{Label9, YKD, Label10, YKD1, Command26})
        w->hide();

    // Beside the editor: the span a history page or the ruler shows.
    historyMark = label(QString(), "historyMark", nullptr);
    historyMark->setGeometry(tw.rect(kChartLeft + 6000, editorTop, 6010, 315));
    historyMark->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    historyMark->setStyleSheet(kHistoryMarkStyle);
    historyMark->hide();

    // Date and time of day.
    Label2_9 = label(QString(), "Label2_9", nullptr);
    Label2_10 = label(QString(), "Label2_10", nullptr);
    Label2_9->setGeometry(tw.rect(kRightColumn, 90, 1800, 330));
    Label2_10->setGeometry(tw.rect(kRightColumn + 1900, 90, 1500, 330));
    for (QLabel* l : {Label2_9, Label2_10}) {
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(kClockStyle);
    }

    // Alarm status table.
    label(QStringLiteral("报警状态表"), "Label3", nullptr)
        ->setGeometry(tw.rect(kRightColumn, 540, 3000, 300));
    FLXG = new QTableWidget(this);
    FLXG->setObjectName("FLXG");
    FLXG->setAccessibleName(QStringLiteral("报警状态表"));
    FLXG->horizontalHeader()->hide();
    FLXG->verticalHeader()->hide();
    FLXG->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FLXG->setSelectionMode(QAbstractItemView::NoSelection);
    FLXG->setGeometry(tw.rect(kRightColumn, 870, 5550, 4500));

    // Function group.
    Frame3 = new QGroupBox(QStringLiteral("功能"), this);
    Frame3->setObjectName("Frame3");
    Frame3->setGeometry(tw.rect(kRightColumn, 5520, 5550, 1650));
    Command4 = button(QStringLiteral("F1 缩小"), "Command4", Frame3);
    Command3 = button(QStringLiteral("F2 放大"), "Command3", Frame3);
    Command2 = button(QStringLiteral("F3 打印"), "Command2", Frame3);
    Command5 = button(QStringLiteral("F4 标尺"), "Command5", Frame3);
    Command6 = button(QStringLiteral("F5 选择"), "Command6", Frame3);
    Command7 = button(QStringLiteral("F6 左移"), "Command7", Frame3);
    Command8 = button(QStringLiteral("F7 右移"), "Command8", Frame3);
    const std::array<QPushButton*, 7> functions{Command4, Command3, Command2, Command5,
                                                Command6, Command7, Command8};
    for (int i = 0; i < 7; ++i)
        functions[i]->setGeometry(tw.rect(120 + (i % 4) * 1350, 300 + (i / 4) * 600, 1260, 480));

    // Port settings: two groups with a captioned list, two with three option buttons.
    constexpr double portTop = 8640;
    auto group = [this](const QString& caption, const char* name, double left, double width) {
        auto* g = new QGroupBox(caption, this);
        g->setObjectName(QLatin1String(name));
        g->setGeometry(tw.rect(left, portTop, width, 950));
        return g;
    };
    auto listInGroup = [&](QGroupBox* g, const QString& caption, const char* labelName, const char* name) {
        auto* l = label(caption, QLatin1String(labelName), g);
        l->setGeometry(tw.rect(120, 450, 900, 330));
        auto* combo = new QComboBox(g);
        combo->setObjectName(QLatin1String(name));
        combo->setEditable(true);
        // A typed number is used as it stands; the list keeps exactly its items.
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setGeometry(tw.rect(1050, 420, 1100, 375));
        l->setBuddy(combo);
        nameList(combo, caption);
        return combo;
    };
    auto optionsInGroup = [&](QGroupBox* g, const char* name, const std::array<const char16_t*, 3>& captions,
                              double pitch, std::array<QRadioButton*, 3>& options) {
        for (int i = 0; i < 3; ++i) {
            options[i] = new QRadioButton(QString::fromUtf16(captions[i]), g);
            options[i]->setObjectName(indexed(name, i));
            options[i]->setGeometry(tw.rect(120 + i * pitch, 450, pitch, 375));
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
    Command9->setGeometry(tw.rect(kRightColumn, portTop + 150, 1300, 480));
    Command10->setGeometry(tw.rect(kRightColumn + 1450, portTop + 150, 1300, 480));

    // Window buttons.
    Command15 = button(QStringLiteral("报警设定"), "Command15", nullptr);
    Command21 = button(QStringLiteral("CONFIG"), "Command21", nullptr);
    Command1 = button(QStringLiteral("退出"), "Command1", nullptr);
    // Below the reach of the last time and date labels under the chart.
    constexpr double windowButtonsTop = 7900;
    Command15->setGeometry(tw.rect(kRightColumn, windowButtonsTop, 1750, 540));
    Command21->setGeometry(tw.rect(kRightColumn + 1900, windowButtonsTop, 1750, 540));
    Command1->setGeometry(tw.rect(kRightColumn + 3800, windowButtonsTop, 1750, 540));

    // Status line.
    auto* statusFrame = new QFrame(this);
    statusFrame->setObjectName("statusLine");
    statusFrame->setFrameShape(QFrame::StyledPanel);
    statusFrame->setGeometry(tw.rect(0, kWindowHeight - 660, 19200, 660));
    auto statusLabel = [statusFrame](const char* name) {
        auto* l = new StatusLabel(statusFrame);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    statusPort = statusLabel("statusPort");
    statusLink = statusLabel("statusLink");
    statusRecording = statusLabel("statusRecording");
    statusPort->setGeometry(tw.rect(90, 30, 5400, 300));
    statusLink->setGeometry(tw.rect(5550, 30, 13560, 300));
    statusChart = statusLabel("statusChart");
    statusRecording->setGeometry(tw.rect(90, 330, 10500, 300));
    statusChart->setGeometry(tw.rect(10650, 330, 8460, 300));
    for (QLabel* l : {statusPort, statusLink, statusRecording, statusChart})
        l->setAutoFillBackground(true);
}

} // namespace hx
