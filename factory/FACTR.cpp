#include "FACTR.h"

#include "core/Clock.h"
#include "core/SharedState.h"
#include "link/Link.h"
#include "ui/FailureText.h"
#include "ui/WheelGuard.h"

#include <QCloseEvent>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

namespace hx {

namespace {

const QString kClockStyle = QStringLiteral("background: rgb(128,255,128); color: red;");
const QString kNoteStyle = QStringLiteral("color: red;");
const QString kFailedStyle = QStringLiteral("color: red;");

// Every block lands inside its table.
constexpr bool readsFit() {
    for (const SheetRead& read : kSheetReads) {
        const int size = read.calibration ? kCalBufSize : kBasicBufSize;
        if (read.element < 0 || read.element + read.count > size || (read.count != 8 && read.count != 16))
            return false;
    }
    return true;
}
static_assert(readsFit());

QFont songti(double points, bool bold, bool italic) {
    QFont font(QStringLiteral("宋体"));
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QTableWidgetItem* fixedCell(const QString& text, const QWidget& grid) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    item->setBackground(grid.palette().button());
    return item;
}

QTableWidgetItem* sheetCell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

void setCellText(QTableWidget* grid, int row, int column, const QString& text) {
    if (QTableWidgetItem* item = grid->item(row, column)) item->setText(text);
}

// The width a cell needs to show its text whole: the text in the grid's font, the margin the
// grid's cells keep on either side, and the grid line.
int cellWidthOf(const QTableWidget& grid, const QString& text) {
    const QFontMetrics metrics(grid.font());
    const int margin = grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1;
    return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).width()) + 2 * margin + 1;
}

// The width each column needs to show its texts whole: a value column at least the widest
// value a register shows.
std::vector<int> neededWidths(const QTableWidget& grid) {
    std::vector<int> widths(size_t(grid.columnCount()), 0);
    for (int column = 0; column < grid.columnCount(); ++column) {
        int& width = widths[size_t(column)];
        if (column > 0 && column % 2 == 0) width = cellWidthOf(grid, QStringLiteral("-32768"));
        for (int row = 0; row < grid.rowCount(); ++row) {
            if (const QTableWidgetItem* item = grid.item(row, column))
                width = std::max(width, cellWidthOf(grid, item->text()));
        }
    }
    return widths;
}

// The grid keeps its place in the layout. Its font is the largest, from the sheet's own size
// down, at which every column shows its texts whole within the grid's width; the room left
// goes to the label columns in equal parts, so no label is cut and no column hidden.
void fitColumns(QTableWidget& grid) {
    const int room = grid.width() - 2 * grid.frameWidth();
    QFont font = grid.font();
    std::vector<int> widths;
    for (double points = font.pointSizeF(); points >= 6.0; points -= 0.25) {
        font.setPointSizeF(points);
        grid.setFont(font);
        widths = neededWidths(grid);
        if (std::accumulate(widths.begin(), widths.end(), 0) <= room) break;
    }
    const int labelColumns = grid.columnCount() / 2;
    int spare = std::max(0, room - std::accumulate(widths.begin(), widths.end(), 0));
    for (int column = 0; column < grid.columnCount(); ++column) {
        int width = widths[size_t(column)];
        if (column % 2 == 1 && labelColumns > 0) {
            const int share = spare / (labelColumns - column / 2);
            width += share;
            spare -= share;
        }
        grid.setColumnWidth(column, width);
    }
}

ReportGrid reportGridOf(const QTableWidget& grid) {
    ReportGrid report;
    report.heading = grid.accessibleName();
    for (int column = 0; column < grid.columnCount(); ++column)
        report.columnWidths.push_back(grid.columnWidth(column));
    for (int row = 0; row < grid.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < grid.columnCount(); ++column) {
            const QTableWidgetItem* item = grid.item(row, column);
            cells << (item ? item->text() : QString());
        }
        report.rows.push_back(cells);
    }
    return report;
}

} // namespace

FACTR::FACTR(Link& link, WriteLog* writes, FactoryTables& tables, QWidget* mainWindow,
             FactoryReportOptions report)
    : SecondaryWindow(mainWindow), Basic_Buf(tables.Basic_Buf), Cal_Buf(tables.Cal_Buf), link_(link),
      writes_(writes), report_(std::move(report)) {
    setObjectName("FACTR");
    setWindowTitle(QStringLiteral("HX5800出厂记录保存"));
    buildControls();
    guardWheel(this);
    Form_Load();
}

void FACTR::buildControls() {
    using L = FactoryLayout;
    setFixedSize(tw(L::clientWidth), tw(L::clientHeight));
    auto label = [this](const QString& text, const QString& name) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        return l;
    };

    const QStringList headings{QStringLiteral("产品型号"), QStringLiteral("产品编号"),
                               QStringLiteral("软件版本"), QStringLiteral("客户名称"),
                               QStringLiteral("基本配置"), QStringLiteral("校准参数")};
    for (int i = 0; i < 6; ++i) {
        Label3[i] = label(headings[i], QStringLiteral("Label3_%1").arg(i));
        Label3[i]->setFont(songti(12, false, false));
    }
    for (int i = 0; i < 4; ++i) {
        const int top = L::productTops[i];
        Label3[i]->setGeometry(tw.rect(L::headingLeft, top, L::headingWidth, L::productHeight));
        Text1[i] = new QLineEdit(this);
        Text1[i]->setObjectName(QStringLiteral("Text1_%1").arg(i));
        Text1[i]->setAccessibleName(headings[i]);
        Text1[i]->setFont(songti(12, false, false));
        Text1[i]->setGeometry(tw.rect(L::productLeft, top, L::productWidth, L::productHeight));
    }
    Label3[4]->setGeometry(
        tw.rect(L::basicLeft, L::gridHeadingTop, L::gridHeadingWidth, L::gridHeadingHeight));
    Label3[5]->setGeometry(
        tw.rect(L::calibrationLeft, L::gridHeadingTop, L::gridHeadingWidth, L::gridHeadingHeight));

    QFont clockFont(QStringLiteral("Arial"));
    clockFont.setPointSizeF(10.5);
    clockFont.setBold(true);
    clockFont.setItalic(true);
    // The date in bold italic is a few pixels wider than its place with the fallback fonts.
    clockFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.6);
    Label2_9 = label(QStringLiteral("2001-03-12"), "Label2_9");
    Label2_10 = label(QStringLiteral("18：42：00"), "Label2_10");
    Label2_9->setGeometry(tw.rect(L::dateLeft, L::clockTop, L::dateWidth, L::clockHeight));
    Label2_10->setGeometry(tw.rect(L::timeLeft, L::clockTop, L::timeWidth, L::clockHeight));
    for (QLabel* l : {Label2_9, Label2_10}) {
        l->setStyleSheet(kClockStyle);
        l->setFont(clockFont);
        l->setAlignment(Qt::AlignCenter);
    }

    Command1 = new QPushButton(QStringLiteral("返回"), this);
    Command1->setObjectName("Command1");
    Command1->setGeometry(tw.rect(L::returnLeft, L::returnTop, L::returnWidth, L::returnHeight));
    connect(Command1, &QPushButton::clicked, this, &FACTR::Command1_Click);

    Label1 = label(QStringLiteral("注意："), "Label1");
    Label1->setStyleSheet(kNoteStyle);
    Label1->setFont(songti(10.5, true, false));
    Label1->setGeometry(tw.rect(L::noteLeft, L::noteTop, L::noteWidth, L::noteHeight));
    Label4 =
        label(QStringLiteral("订货时客户未指定输入类型，默认按0-5伏输入发货，请按下面的按键。"), "Label4");
    Label4->setStyleSheet(kNoteStyle);
    Label4->setFont(songti(10.5, true, true));
    Label4->setWordWrap(true);
    Label4->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label4->setGeometry(tw.rect(L::ruleLeft, L::ruleTop, L::ruleWidth, L::ruleHeight));

    Command2 = new QPushButton(QStringLiteral("8输入改5伏"), this);
    Command2->setObjectName("Command2");
    Command2->setGeometry(tw.rect(L::commandLeft, L::commandTop, L::commandWidth, L::commandHeight));
    connect(Command2, &QPushButton::clicked, this, &FACTR::Command2_Click);
    writeFailures = label(QString(), "writeFailures");
    writeFailures->setGeometry(tw.rect(L::failuresLeft, L::commandTop, L::failuresWidth, L::commandHeight));

    reportButton = new QPushButton(QStringLiteral("F3 打印"), this);
    reportButton->setObjectName("reportButton");
    reportButton->setGeometry(tw.rect(L::reportLeft, L::commandTop, L::reportWidth, L::commandHeight));
    connect(reportButton, &QPushButton::clicked, this, &FACTR::printReport);
    reportStatus = label(QString(), "reportStatus");
    reportStatus->setGeometry(
        tw.rect(L::productLeft, L::gridHeadingTop, L::reportStatusWidth, L::gridHeadingHeight));

    auto grid = [&](const char* name, const QString& heading, QRect place) {
        auto* g = new QTableWidget(this);
        g->setObjectName(name);
        g->setAccessibleName(heading);
        g->setFont(songti(11.25, false, true));
        g->horizontalHeader()->hide();
        g->verticalHeader()->hide();
        // 25 rows of the sheet's height without a scroll bar; the columns are as wide as their
        // longest label (the full text is the cell's tooltip too).
        g->verticalHeader()->setMinimumSectionSize(tw(FactoryLayout::rowHeight));
        g->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        g->setTextElideMode(Qt::ElideNone);
        g->setWordWrap(false);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->setGeometry(place);
        return g;
    };
    Flxg = grid("Flxg", headings[4], tw.rect(L::basicLeft, L::gridTop, L::basicWidth, L::gridHeight));
    Flxg1 = grid("Flxg1", headings[5],
                 tw.rect(L::calibrationLeft, L::gridTop, L::calibrationWidth, L::gridHeight));

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, &FACTR::Timer1_Timer);
    Timer1->start();
}

void FACTR::Form_Load() {
    setCloseLock(true);
    const auto build = [this](QTableWidget* grid, int items, const std::function<QString(int)>& labelOf) {
        const int columns = 1 + 2 * (items / kItemsPerPair);
        grid->setRowCount(kSheetRows);
        grid->setColumnCount(columns);
        grid->setColumnWidth(0, tw(kNumberColumnWidth));
        for (int column = 1; column < columns; ++column)
            grid->setColumnWidth(column, tw(column % 2 ? kLabelColumnWidth : kValueColumnWidth));
        for (int row = 0; row < kSheetRows; ++row)
            grid->setRowHeight(row, tw(FactoryLayout::rowHeight));
        for (int column = 0; column < columns; ++column)
            grid->setItem(0, column, fixedCell(QString(), *grid));
        grid->item(0, 0)->setText(QStringLiteral("编号 "));
        grid->item(0, 1)->setText(QStringLiteral("功能"));
        for (int row = 1; row < kSheetRows; ++row)
            grid->setItem(row, 0, fixedCell(QString::number(row), *grid));
        for (int item = 1; item <= items; ++item) {
            const ItemCell cell = itemCell(item);
            QTableWidgetItem* label = sheetCell(labelOf(item));
            label->setToolTip(label->text());
            grid->setItem(cell.row, cell.labelColumn, label);
            grid->setItem(cell.row, cell.valueColumn, sheetCell(QString()));
        }
    };
    build(Flxg1, kCalItems, calibrationItemLabel);
    build(Flxg, kBasicItems, basicItemLabel);
    placeGrids();
}

void FACTR::placeGrids() {
    fitColumns(*Flxg);
    fitColumns(*Flxg1);
}

void FACTR::Timer1_Timer() {
    // A tick that falls due while the previous refresh yields passes.
    if (!refresh_.start()) return;
    const ClockReading now = appClock().now();
    const QDate date = dateOfDayNumber(now.date);
    if (date.isValid()) Label2_9->setText(sheetDateText(date));
    Label2_10->setText(sheetTimeText(QTime(0, 0).addSecs(secondsOfDayFraction(now.time))));

    std::array<RegisterBlock, kSheetReads.size()> blocks;
    for (size_t i = 0; i < kSheetReads.size(); ++i) {
        const SheetRead& read = kSheetReads[i];
        int32_t* table = read.calibration ? Cal_Buf.data() : Basic_Buf.data();
        blocks[i] = {read.first, std::span<int32_t>(table + read.element, size_t(read.count))};
    }
    // A failed read leaves its part of the table as it was.
    const RefreshEnd end = readBlocks(link_, blocks, {}, &refresh_);
    // Closed during a yield: stop at once, nothing of the window is touched again.
    if (end == RefreshEnd::Stopped) return;

    for (int item = 1; item <= kCalItems; ++item) {
        const ItemCell cell = itemCell(item);
        setCellText(Flxg1, cell.row, cell.valueColumn, QString::number(Cal_Buf[item]));
    }
    for (int item = 1; item <= kBasicItems; ++item) {
        const ItemCell cell = itemCell(item);
        setCellText(Flxg, cell.row, cell.valueColumn,
                    item == kUnreadLabelledItem ? QString() : QString::number(Basic_Buf[item]));
    }
    sheetRead_ = sheetRead_ || end == RefreshEnd::AllRead;
    refresh_.finish();
}

void FACTR::Command2_Click() {
    constexpr auto writes = fiveVoltWrites();
    // One command for the journal, with its count of failed writes.
    const WriteCommand command(writes_, Command2->text());
    int failed = 0;
    QStringList reasons;
    for (const RegisterWrite& w : writes) {
        const OperatorWriteResult result =
            writeOperatorValue(link_, Com_Param[0], Com_Param[3], w.reg, w.value, writes_);
        if (!result.ok()) {
            ++failed;
            reasons << writeFailureText(WriteFailure{w.reg, *result.failure});
        }
    }
    writeFailures->setText(QStringLiteral("写入失败 %1/%2").arg(failed).arg(writes.size()));
    writeFailures->setStyleSheet(failed ? kFailedStyle : QString());
    writeFailures->setToolTip(reasons.join(QLatin1Char('\n')));
}

void FACTR::Command1_Click() {
    returnToMain();
}

FactoryReport FACTR::reportContent(const ClockReading& now) const {
    FactoryReport report;
    report.title = windowTitle();
    report.printedAt = reportTimeText(now);
    for (size_t i = 0; i < Text1.size(); ++i) {
        report.productLabels[i] = Label3[i]->text();
        report.productData[i] = Text1[i]->text();
    }
    report.dateText = Label2_9->text();
    report.timeText = Label2_10->text();
    report.basic = reportGridOf(*Flxg);
    report.calibration = reportGridOf(*Flxg1);
    return report;
}

// The sheet as it stands, as a one-page PDF beside the recording database; no dialog.
void FACTR::printReport() {
    if (!sheetRead_) {
        noteReport(QStringLiteral("报告未写: 出厂记录尚未读完"), false);
        return;
    }
    const ClockReading now = appClock().now();
    QString error = QStringLiteral("no folder for the report");
    const QString path = QDir(report_.folder).filePath(factoryReportFileName(now));
    const bool written = !report_.folder.isEmpty() && writeFactoryPdf(path, reportContent(now), &error);
    noteReport(written ? QStringLiteral("出厂记录打印到 ") + QDir::toNativeSeparators(path)
                       : QStringLiteral("出厂记录打印失败: ") + error,
               written);
}

void FACTR::noteReport(const QString& text, bool written) {
    reportStatus->setText(text);
    reportStatus->setToolTip(text);
    reportStatus->setStyleSheet(written ? QString() : kFailedStyle);
    if (report_.note) report_.note(text);
}

void FACTR::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F3 && event->modifiers() == Qt::NoModifier) {
        printReport();
        return;
    }
    SecondaryWindow::keyPressEvent(event);
}

void FACTR::closeEvent(QCloseEvent* event) {
    SecondaryWindow::closeEvent(event);
    if (event->isAccepted()) {
        refresh_.unload();
        Timer1->stop();
    }
}

} // namespace hx
