#include "CONFIG1.h"

#include "config/TwoRowTabs.h"
#include "core/SharedState.h"
#include "core/TextNumber.h"
#include "instrument/ParameterText.h"
#include "ui/AccessibleNames.h"
#include "ui/RefreshReads.h"
#include "ui/WheelGuard.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <span>

namespace hx::config {

namespace {

// Positions in twips (1/1440 inch). The value column is wide enough for the longest signal
// type ("正负100MV(-100-+100MV)"), which pushes the editor and hint columns a little right.
constexpr double kNameLeft = 150, kValueLeft = 2300, kEditorLeft = 5000, kHintLeft = 7500;
constexpr double kRowHeight = 330;
constexpr double kHeadingTop = 100, kHeadingHeight = 450;
constexpr double kRowsTop = 750, kRowsTopWithoutHeading = 250;
constexpr double kRowStep = 470, kChannelRowStep = 720;
constexpr double kPageWidth = 14200;
constexpr double kPageHeight = 5300;

constexpr auto kValueStyle = "QLabel { background: rgb(255, 192, 255); padding-left: 3px; }";
constexpr auto kHeadingStyle =
    "QFrame { background: rgb(0, 0, 128); } QLabel { color: white; font-weight: bold; }";
constexpr auto kReturnStyle = "QPushButton { background: rgb(255, 0, 0); color: white; font-weight: bold; }";

// The picture beside the note: the instrument's front with its eight channel readouts.
QPixmap instrumentPicture(int width, int height) {
    QPixmap picture(width, height);
    picture.fill(QColor(212, 208, 200));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(60, 60, 60));
    painter.drawRoundedRect(QRectF(2, 2, width - 4, height - 4), 6, 6);
    painter.setPen(QColor(240, 240, 240));
    painter.drawText(QRectF(8, 4, width - 16, height / 4.0), Qt::AlignLeft | Qt::AlignVCenter, "HX5800");
    const double cellW = (width - 16) / 4.0, cellH = (height * 0.7 - 8) / 2.0;
    for (int c = 0; c < 8; ++c) {
        const QRectF cell(8 + (c % 4) * cellW, height * 0.28 + (c / 4) * cellH, cellW - 4, cellH - 4);
        painter.fillRect(cell, QColor(10, 40, 10));
        painter.setPen(QColor(80, 255, 80));
        painter.drawText(cell, Qt::AlignCenter, QStringLiteral("CH%1").arg(c + 1));
    }
    return picture;
}

} // namespace

CONFIG1::CONFIG1(QWidget* mainWindow, Link& link, ConfigTable& configBuf, WriteLog* writes)
    : SecondaryWindow(mainWindow), Config_Buf(configBuf), link_(link), writes_(writes) {
    setCloseLock(true);
    buildControls();
    guardWheel(this);
    SSTab2->setCurrentIndex(kOpeningTab);
    // First in the tab order, so the window opens with the return button focused.
    Command11->setFocus();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &CONFIG1::Timer1_Timer);
    Timer1->start();
}

CONFIG1::~CONFIG1() {
    // Controls lose their focus while they are destroyed; that is not an operator's leave.
    for (EditedField* field : comboFields_) {
        if (field) field->disconnect(this);
    }
    for (EditedField* field : boxFields_) {
        if (field) field->disconnect(this);
    }
}

void CONFIG1::buildControls() {
    setObjectName("CONFIG1");
    setWindowTitle(QStringLiteral("HX5800 配置 "));

    // Created first: the first stop of the tab order.
    Command11 = new QPushButton(QStringLiteral(" Esc 返回"), this);
    Command11->setObjectName("Command11");
    Command11->setStyleSheet(kReturnStyle);
    Command11->setAccessibleName(QStringLiteral("返回"));
    connect(Command11, &QPushButton::clicked, this, &CONFIG1::Command11_Click);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &CONFIG1::Command11_Click);

    Frame1 = new QGroupBox(QStringLiteral("CONFIG"), this);
    Frame1->setObjectName("Frame1");
    SSTab2 = new TwoRowTabs(7, Frame1);
    SSTab2->setObjectName("SSTab2");
    auto* frameLayout = new QVBoxLayout(Frame1);
    frameLayout->addWidget(SSTab2);

    for (int t = 0; t < kTabCount; ++t) {
        QWidget* page = SSTab2->addTab(qText(kTabs[t].caption));
        page->setObjectName(QStringLiteral("SSTab2_%1").arg(t));
        if (kTabs[t].heading.empty()) continue;
        auto* bar = new QFrame(page);
        bar->setObjectName(QStringLiteral("Frame2_%1").arg(t));
        bar->setStyleSheet(kHeadingStyle);
        bar->setGeometry(tw(kNameLeft), tw(kHeadingTop), tw(kPageWidth - 2 * kNameLeft), tw(kHeadingHeight));
        auto* heading = new QLabel(qText(kTabs[t].heading), bar);
        heading->setObjectName(QStringLiteral("Label3_%1").arg(t));
        heading->setGeometry(tw(150), 0, bar->width() - tw(300), bar->height());
        Frame2[size_t(t)] = bar;
        Label3[size_t(t)] = heading;
    }

    // Rows in register order, which is also the order in which the lists are filled.
    for (const Parameter& p : kParameters) {
        if (p.tab < 0) continue;
        const bool heading = !kTabs[size_t(p.tab)].heading.empty();
        const bool channel = p.tab >= kFirstChannelTab && p.tab < kEmptyTab;
        buildRow(SSTab2->page(p.tab), p, tw(heading ? kRowsTop : kRowsTopWithoutHeading),
                 tw(channel ? kChannelRowStep : kRowStep));
    }

    // Below the tabs: the picture, the note, the return button.
    Image2 = new QLabel(this);
    Image2->setObjectName("Image2");
    Image2->setPixmap(instrumentPicture(tw(3000), tw(1200)));
    Label3[12] = new QLabel(QStringLiteral("注意："), this);
    Label3[12]->setObjectName("Label3_12");
    Label3[13] =
        new QLabel(QStringLiteral("各参数校准完毕后，请返回本界面，如客户订货未声明输入类型，默认设置各通道"
                                  "输入出厂默认值为0-5V电压信号。"),
                   this);
    Label3[13]->setObjectName("Label3_13");
    Label3[13]->setWordWrap(true);

    const int tabsHeight = tw(kPageHeight) + 2 * tw(420) + tw(450);
    Frame1->setGeometry(tw(120), tw(60), tw(kPageWidth) + tw(300), tabsHeight);
    const int below = Frame1->geometry().bottom() + tw(120);
    Image2->setGeometry(tw(240), below, tw(3000), tw(1200));
    Label3[12]->setGeometry(tw(4000), below, tw(1500), tw(300));
    Label3[13]->setGeometry(tw(4000), below + tw(300), tw(7400), tw(600));
    Command11->setGeometry(tw(12300), below + tw(700), tw(1800), tw(480));
    setFixedSize(Frame1->geometry().right() + tw(120), below + tw(1320));
}

void CONFIG1::buildRow(QWidget* page, const Parameter& p, int top, int step) {
    const int k = p.k;
    const int y = top + p.row * step;
    const QString label = qText(p.label);

    Label1[size_t(k)] = new QLabel(label, page);
    Label1[size_t(k)]->setObjectName(QStringLiteral("Label1_%1").arg(k));
    Label1[size_t(k)]->setGeometry(tw(kNameLeft), y, tw(kValueLeft - kNameLeft - 60), tw(kRowHeight));

    D_4W[size_t(k)] = new QLabel(page);
    D_4W[size_t(k)]->setObjectName(QStringLiteral("D_4W_%1").arg(k));
    D_4W[size_t(k)]->setStyleSheet(kValueStyle);
    nameValueLabel(D_4W[size_t(k)], label + QStringLiteral(" 当前值"));
    D_4W[size_t(k)]->setGeometry(tw(kValueLeft), y, tw(kEditorLeft - kValueLeft - 90), tw(kRowHeight));

    QWidget* editor = nullptr;
    if (p.editor == Editor::List) {
        const int n = p.combo;
        auto* list = new QComboBox(page);
        list->setObjectName(QStringLiteral("Combo%1").arg(n));
        list->setEditable(true);
        list->setInsertPolicy(QComboBox::NoInsert);
        if (const OptionList* options = optionList(p.list)) {
            for (const Option& option : options->items)
                list->addItem(qText(option.offer));
        }
        list->setCurrentIndex(0);
        list->view()->setMinimumWidth(list->view()->sizeHintForColumn(0) + tw(300));
        comboFields_[size_t(n)] = new EditedField(list);
        connect(comboFields_[size_t(n)], &EditedField::left, this, [this, n] { Combo_LostFocus(n); });
        Combo[size_t(n)] = list;
        editor = list;
    } else if (p.editor == Editor::Box) {
        auto* box = new QLineEdit(page);
        box->setObjectName(QStringLiteral("T_3RW_%1").arg(k));
        boxFields_[size_t(k)] = new EditedField(box);
        connect(boxFields_[size_t(k)], &EditedField::left, this, [this, k] { T_3RW_LostFocus(k); });
        T_3RW[size_t(k)] = box;
        editor = box;
    }
    if (editor) {
        // The channel tabs repeat the row names; the tab tells them apart.
        if (auto* list = qobject_cast<QComboBox*>(editor))
            nameList(list, label);
        else
            editor->setAccessibleName(label);
        Label1[size_t(k)]->setBuddy(editor);
        editor->setGeometry(tw(kEditorLeft), y, tw(kHintLeft - kEditorLeft - 200), tw(kRowHeight));
    }

    if (!p.hint.empty()) {
        Label2[size_t(k)] = new QLabel(qText(p.hint), page);
        Label2[size_t(k)]->setObjectName(QStringLiteral("Label2_%1").arg(k));
        Label2[size_t(k)]->setGeometry(tw(kHintLeft), y, tw(kPageWidth - kHintLeft - 100), tw(kRowHeight));
    }
}

void CONFIG1::Timer1_Timer() {
    std::array<RegisterBlock, std::size(kBlockReads)> blocks;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const BlockRead& read = kBlockReads[i];
        blocks[i] = {read.first, std::span<int32_t>(Config_Buf.data() + (read.first - kFirstRegister),
                                                    size_t(read.count))};
    }
    // The labels show what the table holds, once a good answer filled it.
    readBlocks(link_, blocks, [this](size_t i, int32_t rc) {
        const int first = kBlockReads[i].first - kFirstRegister;
        for (int k = first; k < first + kBlockReads[i].count; ++k) {
            if (rc == 0) Config_Buf.readOnce.set(size_t(k));
            showValue(k);
        }
    });
}

void CONFIG1::showValue(int k) {
    if (k < 0 || k >= kParameterCount || !D_4W[size_t(k)] || !Config_Buf.readOnce[size_t(k)]) return;
    if (const std::optional<QString> text = shownText(kParameters[size_t(k)], Config_Buf[size_t(k)]))
        setValueText(D_4W[size_t(k)], *text);
}

void CONFIG1::Combo_LostFocus(int n) {
    const Parameter* p = parameterOfCombo(n);
    EditedField* field = comboField(n);
    if (!p || !field || !field->edited()) return;
    const QString text = Combo[size_t(n)]->currentText();
    const bool typed = Combo[size_t(n)]->findText(text) < 0;
    const std::optional<int32_t> value = listValueOf(text, typed);
    // A list's value goes out through the staging slot.
    if (value) Com_Param[19] = *value;
    writeEditedField(*field, value ? std::optional<int32_t>(Com_Param[19]) : std::nullopt, link_,
                     Com_Param[0], Com_Param[3], p->reg, writes_);
}

void CONFIG1::T_3RW_LostFocus(int k) {
    EditedField* field = boxField(k);
    if (!field) return;
    writeEditedField(*field, entryValueOf(T_3RW[size_t(k)]->text()), link_, Com_Param[0], Com_Param[3],
                     kFirstRegister + k, writes_);
}

void CONFIG1::Command11_Click() {
    // An edited field that still has the focus (Esc) is left, and so written, first.
    Command11->setFocus();
    returnToMain();
}

EditedField* CONFIG1::comboField(int n) const {
    return n >= 1 && n <= kComboCount ? comboFields_[size_t(n)] : nullptr;
}

EditedField* CONFIG1::boxField(int k) const {
    return k >= 0 && k < kParameterCount ? boxFields_[size_t(k)] : nullptr;
}

} // namespace hx::config
