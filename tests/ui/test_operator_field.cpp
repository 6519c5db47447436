// Fields the operator edits: written on leave only when edited and only once, not when the
// operator switches to another program, refused texts never sent, one resend, a failed write
// marked with its reason, counted and tried again at the next leave.
#include "fakes/FakeLink.h"
#include "ui/FailureText.h"
#include "ui/OperatorField.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

using hx::test::FakeLink;

class OperatorFieldTest : public QObject {
    Q_OBJECT

  private slots:
    void onlyTheOperatorsChangesCountAsEdits() {
        QWidget window;
        auto* box = new QLineEdit(&window);
        auto* list = new QComboBox(&window);
        list->setEditable(true);
        list->addItems({"0:A ", "1:B "});
        auto* other = new QLineEdit(&window);
        hx::EditedField boxField(box), listField(list);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy boxLeft(&boxField, &hx::EditedField::left);

        box->setText("12"); // the window's own doing
        list->setCurrentIndex(1);
        QVERIFY(!boxField.edited() && !listField.edited());
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        other->setFocus(); // tabbing past
        QTRY_COMPARE(boxLeft.count(), 1);
        QVERIFY(!boxField.edited());

        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        QTest::keyClicks(box, "5");
        QVERIFY(boxField.edited());
        QTest::keyClicks(list->lineEdit(), "7");
        QVERIFY(listField.edited());
        listField.reset();
        QVERIFY(!listField.edited());
    }

    // "15" on the way to "150", a look at another program and back: the field keeps the focus
    // and was never left (the finished entry goes out at the real leave).
    void switchingToAnotherProgramIsNotLeaving() {
        QWidget window, otherProgram;
        auto* box = new QLineEdit(&window);
        new QLineEdit(&otherProgram);
        hx::EditedField field(box);
        QSignalSpy left(&field, &hx::EditedField::left);
        window.show();
        otherProgram.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        QTest::keyClicks(box, "15");
        otherProgram.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&otherProgram));
        QVERIFY(!box->hasFocus());
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_VERIFY(box->hasFocus());
        QCOMPARE(left.count(), 0);
    }

    void writesFollowTheOutcome_data() {
        QTest::addColumn<bool>("edited");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("answering");
        QTest::addColumn<int>("sends");
        QTest::addColumn<bool>("marked");
        QTest::newRow("untouched") << false << "12" << true << 0 << false;
        QTest::newRow("edited, confirmed") << true << "12.5" << true << 1 << false;
        QTest::newRow("edited, not a number") << true << "abc" << true << 0 << true;
        QTest::newRow("edited, too large") << true << "5e9" << true << 0 << true;
        QTest::newRow("edited, silent instrument") << true << "7" << false << 2 << true;
    }
    void writesFollowTheOutcome() {
        QFETCH(bool, edited);
        QFETCH(QString, text);
        QFETCH(bool, answering);
        QFETCH(int, sends);
        QFETCH(bool, marked);
        FakeLink link;
        link.answering = answering;
        QLineEdit box(text);
        hx::EditedField field(&box);
        field.setEdited(edited);
        hx::WriteLog log;
        const bool ok = hx::writeEditedField(field, hx::entryValueOf(text), link, 1, 1, 4106, &log);
        QCOMPARE(ok, sends > 0 && !marked);
        QCOMPARE(link.calls.size(), sends);
        QCOMPARE(field.marked(), marked);
        QCOMPARE(log.failed, uint64_t(marked ? 1 : 0));
        if (sends > 0 && !marked)
            QCOMPARE(link.holdingRegisters[4106], 12); // 12.5 rounds to the even neighbour
        if (!answering) QVERIFY(box.toolTip().contains(QStringLiteral("超时")));

        // The next leave: a confirmed edit is not sent again (the instrument's value may have
        // changed at its keypad since); a failed or refused one is still pending, and its mark
        // stays until a write of it gets through.
        link.answering = true;
        link.calls.clear();
        const bool pending = edited && marked;
        QCOMPARE(hx::writeEditedField(field, 3, link, 1, 1, 4106, &log), pending);
        QCOMPARE(link.calls.size(), pending ? 1 : 0);
        QVERIFY(!field.marked());
        QVERIFY(!field.edited());
        QVERIFY(box.toolTip().isEmpty());
    }

    // The journal's view: each single write with its register, value and outcome; the writes
    // of a command as one, with how many failed and the last reason.
    void writesAreToldWithTheirOutcomeAndACommandAsOne() {
        FakeLink link;
        link.failingWrites[4105] = 4; // fails with its resend, twice
        hx::WriteLog log;
        std::vector<hx::OperatorWrite> told;
        log.observer = [&told](const hx::OperatorWrite& write) { told.push_back(write); };
        QVERIFY(hx::writeOperatorValue(link, 1, 1, 4106, 7, &log).ok());
        QVERIFY(!hx::writeOperatorValue(link, 1, 1, 4105, 8, &log).ok());
        {
            const hx::WriteCommand command(&log, QStringLiteral("8输入改5伏"));
            for (int reg : {4104, 4105, 4107})
                hx::writeOperatorValue(link, 1, 1, reg, 1, &log);
            QCOMPARE(told.size(), size_t(2)); // nothing until the command ends
        }
        QCOMPARE(told.size(), size_t(3));
        QCOMPARE(told[0].reg, 4106);
        QCOMPARE(told[0].value, 7);
        QVERIFY(!told[0].failure);
        QCOMPARE(told[1].reg, 4105);
        QVERIFY(hx::writeReasonText(*told[1].failure).contains(QStringLiteral("超时")));
        QCOMPARE(told[2].command, QStringLiteral("8输入改5伏"));
        QCOMPARE(told[2].writes, 3);
        QCOMPARE(told[2].failedWrites, 1);
        QVERIFY(hx::writeFailureText(*told[2].failure).startsWith(QStringLiteral("寄存器 4105: ")));
        QCOMPARE(log.failed, uint64_t(2)); // the status line counts every failed write
    }
};

QTEST_MAIN(OperatorFieldTest)
#include "test_operator_field.moc"
