// The number of a text, as every entry box, list and port box reads it.
#include "core/TextNumber.h"

#include <QtTest>

using hx::numberOfText;

class TextNumberTest : public QObject {
    Q_OBJECT
  private slots:
    void convertibleTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain") << "42" << 42;
        QTest::newRow("list item with trailing blank") << "1 " << 1;
        QTest::newRow("leading blanks and trailing text") << "  42abc" << 42;
        QTest::newRow("half to even down") << "2.5" << 2;
        QTest::newRow("half to even up") << "3.5" << 4;
        QTest::newRow("negative half to even") << "-7.5" << -8;
        QTest::newRow("negative half to even toward zero") << "-6.5" << -6;
        QTest::newRow("just below half") << "2.4999" << 2;
        QTest::newRow("exponent") << "1e3" << 1000;
        QTest::newRow("exponent with sign") << "25E-1" << 2;
        QTest::newRow("blanks between digits") << "1 2 3" << 123;
        QTest::newRow("sign then blanks") << "-  12" << -12;
        QTest::newRow("plus sign") << "+9" << 9;
        QTest::newRow("option list text") << "3:通道3使能 " << 3;
        QTest::newRow("item with blank after number") << "8 WRe325(0-2300)" << 8;
        QTest::newRow("leading decimal point") << ".6" << 1;
        QTest::newRow("trailing decimal point") << "7." << 7;
        QTest::newRow("not a number") << "abc" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("only blanks") << "   " << 0;
        QTest::newRow("only a sign") << "-" << 0;
        QTest::newRow("sign and point") << "-." << 0;
        QTest::newRow("dangling exponent") << "1e" << 1;
        QTest::newRow("exponent without digits but sign") << "5e+" << 5;
        QTest::newRow("full-width digits are not digits") << QString::fromUtf16(u"１２") << 0;
        QTest::newRow("chinese text") << QString::fromUtf16(u"无校验") << 0;
        QTest::newRow("largest 32-bit") << "2147483647" << 2147483647;
        QTest::newRow("smallest 32-bit") << "-2147483648" << int(-2147483647 - 1);
        QTest::newRow("tiny exponent") << "1e-400" << 0;
        QTest::newRow("second number ignored") << "12-5" << 12;
        QTest::newRow("unsigned register form") << "63537" << 63537;
    }
    void convertibleTexts() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto value = numberOfText(text);
        QVERIFY2(value.has_value(), qPrintable(text));
        QCOMPARE(*value, expected);
    }

    // A number outside the signed 32-bit range is reported as not convertible, so the
    // caller writes nothing.
    void outOfRangeTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("5e9") << "5e9";
        QTest::newRow("just above") << "2147483647.5";
        QTest::newRow("just below") << "-2147483649";
        QTest::newRow("huge exponent") << "1e999";
        QTest::newRow("very long digits") << QString(400, QLatin1Char('9'));
    }
    void outOfRangeTexts() {
        QFETCH(QString, text);
        QVERIFY(!numberOfText(text).has_value());
    }

    // The writers' reading: single precision, and a text that is not a number as a whole is
    // refused instead of read as its leading number or 0.
    void entryValues_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1 for refused
        QTest::newRow("half to even") << "12.5" << 12;
        QTest::newRow("half to even up") << "13.5" << 14;
        QTest::newRow("single precision") << "16777217" << 16777216;
        QTest::newRow("trailing text") << "  42abc" << -1;
        QTest::newRow("not a number") << "abc" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("only a sign") << "-" << -1;
        QTest::newRow("too large") << "5e9" << -1;
        QTest::newRow("beyond single precision") << "1e300" << -1;
        QTest::newRow("beyond single precision, negative") << "-4e38" << -1;
        QTest::newRow("infinite") << "1e999" << -1;
    }
    void entryValues() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(hx::entryValueOf(text), expected == -1 ? std::nullopt : std::optional<int32_t>(expected));
    }

    void leadingNumberKeepsFractions() {
        QCOMPARE(hx::leadingNumber(" -12.25xyz"), -12.25);
        QCOMPARE(hx::leadingNumber("36000.4"), 36000.4);
        QCOMPARE(hx::leadingNumber(""), 0.0);
    }
};

QTEST_GUILESS_MAIN(TextNumberTest)
#include "test_text_number.moc"
