#pragma once
// CONFIG1: the configuration window. The 96 configuration registers on fourteen tabs, their
// values read back every second into the value labels, and a parameter written when the
// operator leaves its list or box after editing it. Closed only by its return button.
#include "instrument/ParameterMap.h"
#include "link/Link.h"
#include "ui/Navigation.h"
#include "ui/OperatorField.h"
#include "ui/Twips.h"

#include <array>
#include <bitset>
#include <cstdint>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace hx::config {

class TwoRowTabs;

constexpr int kConfigBufSize = 201;
// Config_Buf lives as long as the program, not as one opening of the window: a reopened
// window shows the values of the last opening until its own reads succeed. readOnce marks the
// elements a good answer ever filled; the others are unknown and their labels stay empty.
struct ConfigTable : std::array<int32_t, kConfigBufSize> {
    std::bitset<kConfigBufSize> readOnce;
};

class CONFIG1 : public SecondaryWindow {
    Q_OBJECT
  public:
    // The load: lists filled at their first item, boxes and value labels empty, the tab of
    // channel 7 showing, the focus on the return button, the refresh running.
    CONFIG1(QWidget* mainWindow, Link& link, ConfigTable& configBuf, WriteLog* writes = nullptr);
    ~CONFIG1() override;

    // Handlers.
    void Timer1_Timer();         // one refresh: the seven block reads, each followed by its labels
    void Combo_LostFocus(int n); // the focus left Combo<n> (the 38 list handlers differ only in n)
    void T_3RW_LostFocus(int k); // the focus left box T_3RW(k)
    void Command11_Click();      // " Esc 返回"

    EditedField* comboField(int n) const;
    EditedField* boxField(int k) const;

    ConfigTable& Config_Buf;

    // Controls (objectName as named here; control arrays as Name_index, by k).
    QGroupBox* Frame1 = nullptr;
    TwoRowTabs* SSTab2 = nullptr;
    std::array<QFrame*, 12> Frame2{};
    std::array<QLabel*, 14> Label3{};
    std::array<QLabel*, kParameterCount> Label1{}; // name labels
    std::array<QLabel*, kParameterCount> D_4W{};   // value labels
    std::array<QLabel*, kParameterCount> Label2{}; // hint labels
    std::array<QLineEdit*, kParameterCount> T_3RW{};
    std::array<QComboBox*, kComboCount + 1> Combo{}; // Combo[n] is Combo<n>; Combo[0] unused
    QLabel* Image2 = nullptr;
    QPushButton* Command11 = nullptr;
    QTimer* Timer1 = nullptr;

  private:
    void buildControls();
    void buildRow(QWidget* page, const Parameter& p, int top, int step);
    void showValue(int k);
    const Twips tw{*this};

    Link& link_;
    WriteLog* writes_;
    std::array<EditedField*, kComboCount + 1> comboFields_{};
    std::array<EditedField*, kParameterCount> boxFields_{};
};

} // namespace hx::config
