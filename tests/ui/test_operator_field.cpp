// Fields the operator edits: written on leave only when edited, refused texts never sent,
// one resend, a failed write marked with its reason and counted.
#include "fakes/FakeLink.h"
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

        // The mark stays until a later write of the field succeeds.
        if (marked) {
            link.answering = true;
            field.setEdited(true);
            QVERIFY(hx::writeEditedField(field, 3, link, 1, 1, 4106, &log));
            QVERIFY(!field.marked());
            QVERIFY(box.toolTip().isEmpty());
        }
    }
};

QTEST_MAIN(OperatorFieldTest)
#include "test_operator_field.moc"
