// Settings files without a device: what a saved file reads back as, which files are refused,
// and which values a restore refuses.
#include "instrument/ParameterMap.h"
#include "settings/SettingsFile.h"

#include <QtTest>

#include <algorithm>

using namespace hx::config;

namespace {

// A value for every register of a file: a list's last item, else one that differs per register.
RegisterValues someValues() {
    RegisterValues values;
    for (const SettingsRegister& r : settingsRegisters()) {
        const Parameter* p = parameterOfRegister(r.reg);
        values[r.reg] = p && p->list ? optionList(p->list)->items.back().value : int32_t(r.reg % 97) - 40;
    }
    return values;
}

// A coded parameter whose list names its items (the list does not take every number).
const Parameter& codedListParameter() {
    return *std::find_if(kParameters.begin(), kParameters.end(), [](const Parameter& p) {
        return p.encoding == Encoding::Code && p.list && !optionList(p.list)->shownAsNumber;
    });
}

} // namespace

class SettingsFileTest : public QObject {
    Q_OBJECT

  private slots:
    void aSavedFileReadsBackAsSaved() {
        SettingsFile saved;
        saved.saved = QStringLiteral("2026-12-08T14:03:22+08:00");
        saved.line = QStringLiteral("port 1 (/dev/ttyUSB0), address 7, 19200 baud, parity even");
        saved.values = someValues();
        QString error;
        const auto read = parseSettings(settingsText(saved), &error);
        QVERIFY2(read, qPrintable(error));
        QCOMPARE(read->saved, saved.saved);
        QCOMPARE(read->line, saved.line);
        QVERIFY(read->values == saved.values);
        // Every register once, every list value with its text: a person reads the file.
        QCOMPARE(settingsRegisters().size(), size_t(96 + 16 + 56));
        const Parameter& coded = codedListParameter();
        const int32_t item = optionList(coded.list)->items[0].value;
        saved.values = {{coded.reg, item}};
        QVERIFY(settingsText(saved).contains(
            QStringLiteral("\n%1\t%2\t%3\t").arg(coded.reg).arg(item).arg(shownValue(coded.reg, item))));
    }

    void aFileEditedByHandIsReadByItsValues() {
        // Comments, blank lines, Windows line ends, stale shown texts and names: the value counts.
        const QString text = QStringLiteral("# kept for line 7\r\nhx5800-settings\t1\r\n\r\n"
                                            "4101\t5\twhatever\tsomething else\r\n272\t-3\r\n");
        QString error;
        const auto read = parseSettings(text, &error);
        QVERIFY2(read, qPrintable(error));
        QVERIFY(read->values == (RegisterValues{{4101, 5}, {272, -3}}));
    }

    void aFileThatIsNotASettingsFileIsRefusedByItsLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no header") << "4101\t5\n"
                                   << "line 1: not a settings file";
        QTest::newRow("empty") << ""
                               << "line 1: not a settings file";
        QTest::newRow("newer format") << "hx5800-settings\t2\n"
                                      << "line 1: format 2";
        QTest::newRow("unknown register") << "hx5800-settings\t1\n4096\t0\n"
                                          << "line 2: register 4096";
        QTest::newRow("twice") << "hx5800-settings\t1\n4101\t5\n4101\t6\n"
                               << "line 3: register 4101 appears twice";
        QTest::newRow("too big") << "hx5800-settings\t1\n257\t40000\n"
                                 << "line 2: value 40000 does not fit";
        QTest::newRow("no value") << "hx5800-settings\t1\n257\n"
                                  << "line 2: expected a register";
    }
    void aFileThatIsNotASettingsFileIsRefusedByItsLine() {
        QFETCH(QString, text);
        QFETCH(QString, reason);
        QString error;
        QVERIFY(!parseSettings(text, &error));
        QVERIFY2(error.startsWith(reason), qPrintable(error));
    }

    void aValueOutsideItsListIsRefused_data() {
        QTest::addColumn<int32_t>("reg");
        QTest::addColumn<int32_t>("value");
        QTest::addColumn<bool>("refused");
        const Parameter& coded = codedListParameter();
        int32_t beyond = 0;
        for (const Option& o : optionList(coded.list)->items)
            beyond = std::max(beyond, o.value + 1);
        QTest::newRow("coded, an item") << coded.reg << optionList(coded.list)->items[0].value << false;
        QTest::newRow("coded, past the items") << coded.reg << beyond << true;
        QTest::newRow("coded, negative") << coded.reg << -1 << true;
        const auto mask = std::find_if(kParameters.begin(), kParameters.end(), [](const Parameter& p) {
            return p.encoding == Encoding::ChannelMask;
        });
        QTest::newRow("channel mask, channels 1..8") << mask->reg << 255 << false;
        QTest::newRow("channel mask, a ninth channel") << mask->reg << 256 << true;
        QTest::newRow("channel mask, negative") << mask->reg << -1 << true;
        const auto box = std::find_if(kParameters.begin(), kParameters.end(),
                                      [](const Parameter& p) { return p.encoding == Encoding::Integer; });
        QTest::newRow("entry box, any number") << box->reg << 30000 << false;
    }
    void aValueOutsideItsListIsRefused() {
        QFETCH(int32_t, reg);
        QFETCH(int32_t, value);
        QFETCH(bool, refused);
        RegisterValues file = someValues();
        file[reg] = value;
        // Refused also when the instrument already holds it: the file is checked as a whole.
        const RestorePlan plan = planRestore(file, file, {});
        QCOMPARE(plan.refusals.size(), size_t(refused ? 1 : 0));
        if (refused) QVERIFY(plan.refusals.front().startsWith(QStringLiteral("register %1 ").arg(reg)));
    }
};

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "test_settings_file.moc"
