// The event journal through the whole program: the simulator's alarm comes and goes while
// nobody looks, and the journal keeps both times and waits for the operator's acknowledgement
// in the events window; the operator's writes are there with their outcome; the export lists
// them all.
#include "ProgramHarness.h"

#include "alarm/ALM1.h"
#include "events/EventsWindow.h"
#include "journal/EventCsv.h"
#include "journal/EventJournal.h"
#include "logging/DatabaseSetup.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

#include <sqlite3.h>

using namespace hx;
using hx::test::ProgramHarness;

namespace {

std::optional<JournalEvent> newest(EventJournal& journal, EventKind kind, const QString& subject) {
    for (const JournalEvent& e : journal.page({}, std::nullopt, 200))
        if (e.kind == kind && e.subject == subject) return e;
    return std::nullopt;
}

// Types text into an alarm box and leaves it, as the operator does.
void editAndLeave(ALM1& window, int box, const QString& text) {
    QLineEdit* edit = window.T_3RWA(box);
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    edit->selectAll();
    QTest::keyClicks(edit, text);
    window.Command1->setFocus();
}

} // namespace

class TestEventsProgram : public QObject {
    Q_OBJECT
  private slots:
    void alarmsAndWritesAreJournalledAcknowledgedAndExported();
    void aMissingDatabaseAndItsReturnAreJournalled();
};

void TestEventsProgram::alarmsAndWritesAreJournalledAcknowledgedAndExported() {
    ProgramHarness program;
    QVERIFY2(program.start(), qPrintable(program.why()));
    EventJournal& journal = program.app().journal();
    QVERIFY(newest(journal, EventKind::PortOpened, "端口1"));
    // The simulator starts with the setpoint alarms of CH2 and CH4 on (rows 18 and 20).
    QTRY_VERIFY_WITH_TIMEOUT(journal.unacknowledged().count == 2, 5000);
    QVERIFY(journal.unacknowledged().rows[18] && journal.unacknowledged().rows[20]);

    // CH5 in open circuit for a while, then normal again.
    QVERIFY(program.command("open-circuit 16"));
    QTRY_VERIFY_WITH_TIMEOUT(newest(journal, EventKind::AlarmRaised, "CH5"), 5000);
    QTableWidgetItem* row5 = program.window().FLXG->item(5, 1);
    QVERIFY(row5->font().bold());
    QCOMPARE(row5->foreground().color(), QColor(Qt::red));
    QTest::qWait(1100); // so the two times differ
    QVERIFY(program.command("open-circuit 0"));
    QTRY_VERIFY_WITH_TIMEOUT(newest(journal, EventKind::AlarmCleared, "CH5"), 5000);
    const JournalEvent raised = *newest(journal, EventKind::AlarmRaised, "CH5");
    const JournalEvent cleared = *newest(journal, EventKind::AlarmCleared, "CH5");
    QVERIFY(cleared.at > raised.at);
    QCOMPARE(raised.text, QStringLiteral("CH 5 开路报警"));
    QVERIFY(!raised.acknowledgedAt);
    QVERIFY(row5->font().bold()); // gone, but nobody has seen it yet
    QTRY_VERIFY(program.window().statusChart->text().contains(QStringLiteral("未确认报警 3")));

    // Two writes in the alarm window: one the instrument confirms, one it never answers.
    program.window().Command15->click();
    QPointer<ALM1> alarms = qobject_cast<ALM1*>(program.window().alarmWindow());
    QVERIFY(alarms);
    editAndLeave(*alarms, 98, "432"); // alarm 2 setpoint, register 259
    QTRY_VERIFY(newest(journal, EventKind::WriteConfirmed, "259"));
    QVERIFY(program.command("silent on"));
    editAndLeave(*alarms, 99, "7"); // alarm 2 hysteresis, register 260
    QTRY_VERIFY(newest(journal, EventKind::WriteFailed, "260"));
    // Silent for longer than 3 s: the instrument is lost, and back when it answers again.
    QTRY_VERIFY_WITH_TIMEOUT(newest(journal, EventKind::InstrumentLost, "端口1"), 6000);
    QVERIFY(!newest(journal, EventKind::InstrumentBack, "端口1"));
    QVERIFY(program.command("silent off"));
    QTRY_VERIFY_WITH_TIMEOUT(newest(journal, EventKind::InstrumentBack, "端口1"), 5000);
    QCOMPARE(newest(journal, EventKind::WriteConfirmed, "259")->text,
             QStringLiteral("报警设定 寄存器 259 报警二设定值 = 432: 已确认"));
    QVERIFY2(newest(journal, EventKind::WriteFailed, "260")->text.contains(QStringLiteral("= 7: 失败 ")),
             qPrintable(newest(journal, EventKind::WriteFailed, "260")->text));
    alarms->Command1->click();
    QTRY_VERIFY(program.window().isVisible());

    // F8: the events window, where the operator acknowledges the alarm.
    QTest::keyClick(&program.window(), Qt::Key_F8);
    QPointer<EventsWindow> events = qobject_cast<EventsWindow*>(program.window().eventsWindow());
    QVERIFY(events);
    QVERIFY(!program.window().isVisible());
    int raisedRow = -1;
    for (int row = 0; row < events->model().rowCount(); ++row)
        if (events->model().eventAt(row).id == raised.id) raisedRow = row;
    QVERIFY(raisedRow >= 0);
    const QModelIndex acknowledgedAt = events->model().index(raisedRow, EventTableModel::AcknowledgedColumn);
    QCOMPARE(acknowledgedAt.data().toString(), QStringLiteral("未确认"));
    events->eventTable->selectRow(raisedRow);
    events->acknowledgeButton->click();
    QCOMPARE(journal.unacknowledged().count, 2);
    QCOMPARE(acknowledgedAt.data().toString(), eventTimeText(journal.lastAcknowledgement()));
    QVERIFY(!row5->font().bold());
    QVERIFY(program.window().FLXG->item(18, 1)->font().bold());
    QVERIFY(QTest::qWaitForWindowActive(events));
    QTest::keyClick(events->eventTable, Qt::Key_Escape);
    QTRY_VERIFY(program.window().isVisible());
    QTRY_VERIFY(events.isNull());

    // The export lists the alarm with both times, its acknowledgement, and the writes.
    QProcess exporter;
    exporter.start(EXPORT_PATH, {"--events", program.databasePath()});
    QVERIFY(exporter.waitForFinished(20000));
    QCOMPARE(exporter.exitCode(), 0);
    const QString csv = QString::fromUtf8(exporter.readAllStandardOutput());
    const auto line = [&csv](const QString& start) {
        for (const QString& l : csv.split('\n'))
            if (l.startsWith(start)) return l;
        return QString();
    };
    QCOMPARE(
        line(QString::number(raised.id) + ','),
        QStringLiteral("%1,%2,alarm-raised,CH5,CH 5 开路报警,%3")
            .arg(raised.id)
            .arg(isoTextOfEventInstant(raised.at), isoTextOfEventInstant(journal.lastAcknowledgement())));
    QVERIFY(line(QString::number(cleared.id) + ',').contains(",alarm-cleared,CH5,"));
    QVERIFY(csv.contains(",write-confirmed,259,报警设定 寄存器 259 报警二设定值 = 432: 已确认,"));
    QVERIFY(csv.contains(",write-failed,260,"));
}

void TestEventsProgram::aMissingDatabaseAndItsReturnAreJournalled() {
    ProgramHarness program({"--static"}, false);
    QVERIFY2(program.start(), qPrintable(program.why()));
    EventJournal& journal = program.app().journal();
    const auto missing = newest(journal, EventKind::DatabaseUnavailable, "记录");
    QVERIFY(missing);
    QVERIFY2(missing->text.startsWith(QStringLiteral("记录数据库不可用 ") + program.databasePath()),
             qPrintable(missing->text));
    QString why;
    QVERIFY2(createRecordDatabase(program.databasePath(), false, &why), qPrintable(why));
    QTRY_VERIFY_WITH_TIMEOUT(newest(journal, EventKind::DatabaseBack, "记录"), 10000);
    // The journal's file is its own: the recording database keeps its two tables.
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open_v2(program.databasePath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr),
             SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "select count(*) from sqlite_master where type = 'table'", -1, &st, nullptr);
    QCOMPARE(sqlite3_step(st), SQLITE_ROW);
    QCOMPARE(sqlite3_column_int(st, 0), 2);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

QTEST_MAIN(TestEventsProgram)
#include "test_events_program.moc"
