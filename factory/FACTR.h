#pragma once
// FACTR: the factory record sheet of one instrument. Four lines of product data typed by
// the operator, the date and time, and two read-only grids of the configuration, alarm and
// calibration registers re-read every 2 s; the command that sets all eight inputs to 0-5 V;
// F3 writes the sheet as it stands as a one-page PDF report, once the sheet has been read
// completely.
#include "factory/FactorySheet.h"
#include "ui/Navigation.h"
#include "ui/OperatorField.h"
#include "ui/RefreshReads.h"
#include "ui/Twips.h"

#include "factory/FactoryReport.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace hx {

class Link;

// The read tables outlive the window: the next opening shows them until its first refresh.
struct FactoryTables {
    std::array<int32_t, kBasicBufSize> Basic_Buf{};
    std::array<int32_t, kCalBufSize> Cal_Buf{};
};

// Where the report goes (the folder of the recording database) and who else is told where
// it went (the main window's status line, hidden while this window is open).
struct FactoryReportOptions {
    QString folder;
    std::function<void(const QString&)> note;
};

class FACTR : public SecondaryWindow {
    Q_OBJECT
  public:
    FACTR(Link& link, WriteLog* writes, FactoryTables& tables, QWidget* mainWindow,
          FactoryReportOptions report = {});

    // Handlers.
    void Form_Load();
    void Timer1_Timer();   // refresh
    void Command2_Click(); // "8输入改5伏"
    void Command1_Click(); // "返回"
    void printReport();    // F3: the commissioning report

    // Whether one refresh since the window opened got every read through: until then the
    // sheet shows its placeholder date and values the instrument never sent.
    bool sheetRead() const { return sheetRead_; }

    // The sheet as it stands, for the report printed at `now`.
    FactoryReport reportContent(const ClockReading& now) const;

    std::array<int32_t, kBasicBufSize>& Basic_Buf;
    std::array<int32_t, kCalBufSize>& Cal_Buf;

    // Controls (objectName as named here; control arrays as Name_index).
    std::array<QLineEdit*, 4> Text1{};
    std::array<QLabel*, 6> Label3{};
    QLabel* Label2_9 = nullptr;  // date
    QLabel* Label2_10 = nullptr; // time of day
    QTableWidget* Flxg = nullptr;
    QTableWidget* Flxg1 = nullptr;
    QLabel* Label1 = nullptr; // "注意："
    QLabel* Label4 = nullptr; // the shipping rule
    QPushButton* Command2 = nullptr;
    QLabel* writeFailures = nullptr; // how many writes of the last "8输入改5伏" failed
    QPushButton* Command1 = nullptr;
    QPushButton* reportButton = nullptr; // "F3 打印"
    QLabel* reportStatus = nullptr;      // where the last report went, or why it failed
    QTimer* Timer1 = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildControls();
    // Every label whole inside the grids' places of the layout: the grid font as large as
    // lets it, the columns as wide as their texts.
    void placeGrids();
    // Where the report went, or why not: beside the grids' headings and to the main window.
    void noteReport(const QString& text, bool written);
    const Twips tw{*this};

    Link& link_;
    WriteLog* writes_;
    FactoryReportOptions report_;
    // The refresh yields between its reads: a tick meanwhile passes, an unload stops it.
    RefreshGuard refresh_{*this};
    bool sheetRead_ = false;
};

} // namespace hx
