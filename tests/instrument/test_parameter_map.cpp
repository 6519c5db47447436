// The register map as a table: every list bound to its register, the entry boxes, k and
// register, the tab of each row, the offered and shown texts of every list; and the texts
// between values and the window: value label texts and the values lists write.
#include "instrument/ParameterMap.h"
#include "instrument/ParameterText.h"

#include <QtTest>

#include <set>

using namespace hx::config;

namespace {

// All offer (or shown) texts of a list, joined by '|'.
QString joined(char name, bool shown) {
    QStringList texts;
    if (const OptionList* list = optionList(name)) {
        for (const Option& option : list->items)
            texts << qText(shown ? option.shown : option.offer);
    }
    return texts.join(u'|');
}

} // namespace

class ParameterMapTest : public QObject {
    Q_OBJECT

  private slots:
    void everyListIsBoundToItsRegister_data() {
        QTest::addColumn<int>("combo");
        QTest::addColumn<int>("reg");
        const int bindings[][2] = {
            {1, 4113},  {2, 4098},  {3, 4099},  {4, 4100},  {5, 4114},  {6, 4117},  {7, 4118},  {8, 4106},
            {9, 4107},  {10, 4130}, {11, 4110}, {12, 4129}, {13, 4138}, {14, 4121}, {15, 4122}, {16, 4137},
            {17, 4146}, {18, 4145}, {19, 4154}, {20, 4153}, {21, 4162}, {22, 4161}, {23, 4170}, {24, 4169},
            {25, 4178}, {26, 4177}, {27, 4185}, {28, 4186}, {29, 4187}, {30, 4188}, {31, 4101}, {32, 4109},
            {33, 4189}, {34, 4190}, {35, 4191}, {36, 4192}, {37, 4111}, {38, 4112},
        };
        for (const auto& b : bindings)
            QTest::addRow("Combo%d", b[0]) << b[0] << b[1];
    }
    void everyListIsBoundToItsRegister() {
        QFETCH(int, combo);
        QFETCH(int, reg);
        const Parameter* p = parameterOfCombo(combo);
        QVERIFY(p);
        QCOMPARE(p->reg, reg);
        QCOMPARE(p->editor, Editor::List);
        QCOMPARE(parameterOfRegister(reg), p);
    }

    void editorsShownRowsAndRegisters() {
        std::set<int> boxes, combos, shown;
        for (int k = 0; k < kParameterCount; ++k) {
            const Parameter& p = kParameters[size_t(k)];
            QCOMPARE(p.k, k);
            QCOMPARE(p.reg, 4097 + k);
            if (p.editor == Editor::Box) boxes.insert(k);
            if (p.editor == Editor::List)
                QVERIFY(combos.insert(p.combo).second); // each list edits one register
            if (isShown(p)) shown.insert(k);
            QCOMPARE(isShown(p), !p.label.empty());
            QCOMPARE(isShown(p), p.tab >= 0);
            QCOMPARE(p.editor != Editor::None, isShown(p)); // every shown row is editable
        }
        std::set<int> expectedBoxes = {0, 8, 11, 18, 19, 22, 23};
        for (int n = 0; n < 8; ++n)
            expectedBoxes.insert({26 + 8 * n, 27 + 8 * n, 28 + 8 * n});
        QCOMPARE(boxes, expectedBoxes);
        QCOMPARE(int(boxes.size()), 31);
        QCOMPARE(int(combos.size()), 38);
        QCOMPARE(*combos.begin(), 1);
        QCOMPARE(*combos.rbegin(), 38);
        // Not shown: 4102..4104 and the last three registers of every channel group.
        for (int k : {5, 6, 7})
            QVERIFY(!shown.count(k));
        for (int n = 0; n < 8; ++n) {
            for (int k : {29 + 8 * n, 30 + 8 * n, 31 + 8 * n})
                QVERIFY(!shown.count(k));
        }
        QCOMPARE(int(shown.size()), 96 - 3 - 24);
        QCOMPARE(parameterOfRegister(4096), nullptr);
        QCOMPARE(parameterOfRegister(4193), nullptr);
        QCOMPARE(parameterOfCombo(0), nullptr);
        QCOMPARE(parameterOfCombo(39), nullptr);
    }

    void everyRowSitsOnItsTab_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("rows"); // "k@row" in register order
        QTest::newRow("instrument") << 0 << "1.Instrument "
                                    << "0@0 1@1 2@2 3@3 4@4";
        QTest::newRow("communication") << 1 << "2.通讯设置"
                                       << "8@0 9@1 10@2 11@3";
        QTest::newRow("relays") << 2 << "3.报警继电器设置"
                                << "12@0 13@1 14@2 15@3";
        QTest::newRow("outputs, output 2 one row lower") << 3 << "4.变送设置"
                                                         << "16@0 17@1 18@2 19@3 20@5 21@6 22@7 23@8";
        QTest::newRow("channel 1") << 4 << "5.通道一"
                                   << "24@0 25@1 26@2 27@3 28@4";
        QTest::newRow("channel 2") << 5 << "通道二"
                                   << "32@0 33@1 34@2 35@3 36@4";
        QTest::newRow("channel 7") << 10 << "11.通道七"
                                   << "72@0 73@1 74@2 75@3 76@4";
        QTest::newRow("channel 8") << 11 << "12.通道八"
                                   << "80@0 81@1 82@2 83@3 84@4";
        QTest::newRow("empty tab") << 12 << "Tab 12"
                                   << "";
        QTest::newRow("alarm modes") << 13 << "14.报警方式"
                                     << "88@0 89@1 90@2 91@3 92@4 93@5 94@6 95@7";
    }
    void everyRowSitsOnItsTab() {
        QFETCH(int, tab);
        QFETCH(QString, caption);
        QFETCH(QString, rows);
        QCOMPARE(qText(kTabs[size_t(tab)].caption), caption);
        QStringList found;
        for (const Parameter& p : kParameters) {
            if (p.tab == tab) found << QStringLiteral("%1@%2").arg(p.k).arg(p.row);
        }
        QCOMPARE(found.join(u' '), rows);
    }

    void channelRowsRepeatOnEveryChannelTab() {
        const QStringList labels = {"输入信号类型", "小数点位置", "输入上限", "输入下限", "平移修正"};
        for (int n = 0; n < 8; ++n) {
            for (int i = 0; i < 5; ++i) {
                const Parameter& p = kParameters[size_t(24 + 8 * n + i)];
                QCOMPARE(qText(p.label), labels[i]);
                QCOMPARE(p.tab, kFirstChannelTab + n);
                QCOMPARE(p.list, i == 0 ? 'K' : i == 1 ? 'L' : char(0));
            }
        }
    }

    void listTexts_data() {
        QTest::addColumn<char>("list");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("shown"); // empty: shown as a number
        QTest::newRow("A") << 'A' << "0:轮显 |1:定显 "
                           << "轮显|定显";
        QTest::newRow("B") << 'B' << "0 |1 |2 |3 |4 |5 |6 |7 |8 |9 |10 "
                           << "";
        QTest::newRow("C") << 'C' << "0:摄氏度 |1:华氏度 |2:绝对温度K "
                           << "摄氏度|华氏度|绝对温度";
        QTest::newRow("D") << 'D' << "1 |2 |3 |4 |5 |6 |7 |8 "
                           << "";
        QTest::newRow("E") << 'E' << "0:4800BPS |1:9600BPS |2:19200BPS "
                           << "4800|9600|19200";
        QTest::newRow("F") << 'F' << "0:无校验 |1:奇校验 |2:偶校验 "
                           << "无校验|奇校验|偶校验";
        QTest::newRow("G") << 'G'
                           << "1:通道1使能 |2:通道2使能 |3:通道3使能 |4:通道4使能 |5:通道5使能 |6:通道6使能 |"
                              "7:通道7使能 |8:通道8使能 "
                           << "";
        QTest::newRow("H") << 'H'
                           << "1:开路1使能 |2:开路2使能 |3:开路3使能 |4:开路4使能 |5:开路5使能 |6:开路6使能 |"
                              "7:开路7使能 |8:开路8使能 "
                           << "";
        QTest::newRow("I") << 'I'
                           << "0:禁止变送 |1:通道1变送 |2:通道2变送 |3:通道3变送 |4:通道4变送 |5:通道5变送 |"
                              "6:通道6变送 |7:通道7变送 |8:通道8变送 "
                           << "禁止|通道一变送|通道二变送|通道三变送|通道四变送|通道五变送|通道六变送|"
                              "通道七变送|通道八变送";
        QTest::newRow("J") << 'J' << "0:0V5 |1:0V10 |2:0MA20 |3:0MA10 |4:1V5 |5:2V10 |6:4MA20 "
                           << "0V5|0V10|0MA20|0MA10|1V5|2V10|4MA20";
        QTest::newRow("K") << 'K'
                           << "0:K(-200-1300)|1:S(0-1700) |2:R(0-1700) |3:T(-200-400) |4:E(0-1000) |"
                              "5:J(0-1200) |6:B(400-1800) |7:N(0-1300) |8 WRe325(0-2300)|9:WRe526(0-2300) |"
                              "10:4MA20(4-20MA) |11:0MA20(0～20MA) |12:Cu50(-50-150)|13:PT100(-200-850) |"
                              "14:0Ω80(0～80Ω) |15:0Ω400(0～400Ω) |16:0MV20(0-20MV) |17:0MV100(0-100MV)|"
                              "18:0V1(0-1V) |19:1V5(1-5V) |20:0V5(0-5V) |21:正负20MV(-20-+20MV) |"
                              "22:正负100MV(-100-+100MV)|23:正负5V(-5-+5V) "
                           << "K(-200~1370)|S(0~1760)|R(0~1760)|T(-270~400)|E(-270~1000)|J(-200~1200)|"
                              "B(400~1820)|N(-200~1300)|WRe325(0~2310)|WRe526(0~2310)|4MA20(4-20MA)|"
                              "0MA20(0～20MA)|Cu50(-50-150)|PT100(-200-850)|0Ω80(0～80Ω)|0Ω400(0～400Ω)|"
                              "0MV20(0-20MV)|0MV100(0-100MV))|0V1(0-1V))|1V5(1-5V)|0V5(0-5V)|"
                              "正负20MV(-20-+20MV)|正负100MV(-100-+100MV)|正负5V(-5-+5V)";
        QTest::newRow("L") << 'L' << "0:XXXX |1:XXX.X |2:XX.XX |3:X.XXX "
                           << "XXXX|XXX.X|XX.XX|X.XXX";
        QTest::newRow("M") << 'M' << "0:禁止 |1:上限 |2:下限 |3:上偏差 |4:下偏差 |5:偏差带 "
                           << "禁止|上限|下限|上偏差|下偏差|偏差带";
    }
    void listTexts() {
        QFETCH(char, list);
        QFETCH(QString, offered);
        QFETCH(QString, shown);
        const OptionList* options = optionList(list);
        QVERIFY(options);
        QCOMPARE(joined(list, false), offered);
        QCOMPARE(options->shownAsNumber, shown.isEmpty());
        if (!shown.isEmpty()) QCOMPARE(joined(list, true), shown);
        // Every offered item writes the value it stands for.
        for (const Option& option : options->items)
            QCOMPARE(listValueOf(qText(option.offer)), std::optional<int32_t>(option.value));
    }

    void labelTexts_data() {
        QTest::addColumn<int>("k");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("text"); // "-": the label keeps its text
        QTest::newRow("password 7") << 0 << 7 << "0007";
        QTest::newRow("password 12") << 0 << 12 << "0012";
        QTest::newRow("password 0") << 0 << 0 << "0000";
        QTest::newRow("password of five digits") << 0 << 12345 << "12345";
        QTest::newRow("negative password") << 0 << -5 << "-0005";
        QTest::newRow("display mode 1") << 1 << 1 << "定显";
        QTest::newRow("display mode outside its list") << 1 << 7 << "-";
        QTest::newRow("filter level, a number") << 2 << 10 << "10";
        QTest::newRow("channel count beyond its offers") << 4 << 9 << "9";
        QTest::newRow("baud 2") << 9 << 2 << "19200";
        QTest::newRow("relay mask 6") << 12 << 6 << "6";
        QTest::newRow("relay mask 255") << 14 << 255 << "255";
        QTest::newRow("output source 8") << 16 << 8 << "通道八变送";
        QTest::newRow("output type -1") << 21 << -1 << "-";
        QTest::newRow("signal type 17") << 24 << 17 << "0MV100(0-100MV))";
        QTest::newRow("signal type 24") << 72 << 24 << "-";
        QTest::newRow("decimal point 3") << 81 << 3 << "X.XXX";
        QTest::newRow("lower limit -1999") << 43 << -1999 << "-1999";
        QTest::newRow("upper limit 1000") << 26 << 1000 << "1000";
        QTest::newRow("offset 0") << 28 << 0 << "0";
        QTest::newRow("alarm mode 5") << 95 << 5 << "偏差带";
        QTest::newRow("alarm mode 6") << 88 << 6 << "-";
        QTest::newRow("register not shown") << 5 << 1 << "-";
    }
    void labelTexts() {
        QFETCH(int, k);
        QFETCH(int, value);
        QFETCH(QString, text);
        const std::optional<QString> shown = shownText(kParameters[size_t(k)], value);
        QCOMPARE(shown.value_or("-"), text);
    }

    void valuesListsWrite_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value"); // -99999: nothing is written
        QTest::newRow("baud item") << "2:19200BPS " << 2;
        QTest::newRow("typed mask") << "6" << 6;
        QTest::newRow("relay item") << "3:通道3使能 " << 3;
        QTest::newRow("channel count item") << "8 " << 8;
        QTest::newRow("item with a blank after its number") << "8 WRe325(0-2300)" << 8;
        QTest::newRow("leading blanks, sign") << "  -150" << -150;
        QTest::newRow("half to even, down") << "12.5" << 12;
        QTest::newRow("half to even, up") << "13.5" << 14;
        QTest::newRow("not a number") << "abc" << -99999;
        QTest::newRow("empty") << "" << -99999;
        QTest::newRow("beyond 32 bits") << "123456789012" << -99999;
    }
    void valuesListsWrite() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(listValueOf(text).value_or(-99999), value);
    }
};

QTEST_GUILESS_MAIN(ParameterMapTest)
#include "test_parameter_map.moc"
