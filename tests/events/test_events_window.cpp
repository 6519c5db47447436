// The events window on a full journal (100 000 events in a real file): it opens and reaches
// the oldest event, filters by category, and acknowledges the selected alarms or all of them.
#include "events/EventsWindow.h"
#include "logging/LoggingTestSupport.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QtTest>

using namespace hx;
using hx::testing::FakeClock;

namespace {

// Every tenth event a write, every fifth an alarm raised on row 1..24, the rest line events.
JournalEvent nthEvent(int n) {
    JournalEvent e;
    e.kind = n % 10 == 0  ? EventKind::WriteConfirmed
             : n % 5 == 0 ? EventKind::AlarmRaised
                          : EventKind::InstrumentLost;
    e.alarmRow = e.kind == EventKind::AlarmRaised ? 1 + n % 24 : 0;
    e.subject = QStringLiteral("S%1").arg(n);
    e.text = QStringLiteral("event %1").arg(n);
    return e;
}

} // namespace

class TestEventsWindow : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void opensOnAFullJournalAndReachesTheOldest();
    void filtersShowOnlyTheChosenCategories();
    void acknowledgesTheSelectedAlarmsThenAll();

  private:
    QTemporaryDir dir_;
    FakeClock clock_;
    std::unique_ptr<EventJournal> journal_;
    static constexpr int kEvents = 100000;
};

void TestEventsWindow::initTestCase() {
    journal_ = std::make_unique<EventJournal>(dir_.filePath("Events.db"), clock_);
    std::vector<JournalEvent> events;
    for (int n = 0; n < kEvents; ++n)
        events.push_back(nthEvent(n));
    QVERIFY(journal_->record(std::move(events)));
    QCOMPARE(journal_->storedCount(), kEvents);
}

void TestEventsWindow::opensOnAFullJournalAndReachesTheOldest() {
    QWidget main;
    QElapsedTimer clock;
    clock.start();
    auto* window = new EventsWindow(*journal_, &main);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const qint64 openMs = clock.elapsed();
    QCOMPARE(window->model().index(0, EventTableModel::TextColumn).data().toString(),
             QStringLiteral("event 99999"));
    // To the oldest as the operator does: the end of the scroll bar, again and again.
    clock.restart();
    QScrollBar* bar = window->eventTable->verticalScrollBar();
    while (window->model().canFetchMore({})) {
        bar->setValue(bar->maximum());
        QCoreApplication::processEvents();
    }
    window->eventTable->scrollToBottom();
    const qint64 scrollMs = clock.elapsed();
    const int last = window->model().rowCount() - 1;
    QCOMPARE(last, kEvents - 1);
    QCOMPARE(window->model().index(last, EventTableModel::TextColumn).data().toString(),
             QStringLiteral("event 0"));
    qInfo("opened in %lld ms, at the oldest after %lld ms", openMs, scrollMs);
    // Usable, on a busy machine too: well under what an operator would call stuck.
    QVERIFY2(openMs < 5000 && scrollMs < 20000, qPrintable(QString::number(openMs)));
    window->returnButton->click();
    QVERIFY(main.isVisible());
}

void TestEventsWindow::filtersShowOnlyTheChosenCategories() {
    QWidget main;
    QPointer<EventsWindow> window = new EventsWindow(*journal_, &main);
    window->filterAlarms->setChecked(false);
    window->filterLine->setChecked(false);
    QCOMPARE(window->model().index(0, EventTableModel::TextColumn).data().toString(),
             QStringLiteral("event 99990"));
    for (int row = 0; row < window->model().rowCount(); ++row)
        QCOMPARE(window->model().eventAt(row).kind, EventKind::WriteConfirmed);
    window->filterWrites->setChecked(false);
    QCOMPARE(window->model().rowCount(), 0);
    window->filterAlarms->setChecked(true);
    QCOMPARE(window->model().index(0, EventTableModel::TextColumn).data().toString(),
             QStringLiteral("event 99995"));
    delete window;
}

void TestEventsWindow::acknowledgesTheSelectedAlarmsThenAll() {
    QWidget main;
    QPointer<EventsWindow> window = new EventsWindow(*journal_, &main);
    int told = 0;
    window->acknowledged = [&told] { ++told; };
    const int before = journal_->unacknowledged().count;
    QCOMPARE(before, kEvents / 10); // the raised alarms
    // Rows 0..5: event 99999 (line), 99998, 99997, 99996, 99995 (alarm), 99994; and a write
    // among them at 99990: only the alarm is acknowledged.
    clock_.advance(3600);
    window->eventTable->selectionModel()->select(
        QItemSelection(window->model().index(0, 0), window->model().index(9, 0)),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    window->acknowledgeButton->click();
    QCOMPARE(journal_->unacknowledged().count, before - 1);
    QCOMPARE(window->model().index(4, EventTableModel::AcknowledgedColumn).data().toString(),
             QStringLiteral("2024-03-14 11:00:00"));
    QCOMPARE(window->model().index(9, EventTableModel::AcknowledgedColumn).data().toString(), QString());
    QCOMPARE(window->model().index(14, EventTableModel::AcknowledgedColumn).data().toString(),
             QStringLiteral("未确认"));
    window->acknowledgeAllButton->click();
    QCOMPARE(journal_->unacknowledged().count, 0);
    QCOMPARE(window->model().index(14, EventTableModel::AcknowledgedColumn).data().toString(),
             QStringLiteral("2024-03-14 11:00:00"));
    QCOMPARE(told, 2);
    delete window;
}

QTEST_MAIN(TestEventsWindow)
#include "test_events_window.moc"
