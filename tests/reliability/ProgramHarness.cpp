#include "ProgramHarness.h"

#include "core/SharedState.h"
#include "link/Met1.h"
#include "logging/DatabaseSetup.h"
#include "trend/LiveTrend.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <sqlite3.h>

namespace hx::test {

namespace {

// Put into Pv_Value 0 to see the next poll arrive; never a value of the frozen instrument.
constexpr float kMarker = -32001;

} // namespace

Heartbeat::Heartbeat() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        const qint64 now = clock_.elapsed();
        if (!suspended_) longest_ = std::max(longest_, now - last_);
        last_ = now;
    });
    clock_.start();
    timer_.start();
}

void Heartbeat::resume() {
    last_ = clock_.elapsed();
    suspended_ = false;
}

void Heartbeat::reset() {
    longest_ = 0;
    resume();
}

ProgramHarness::ProgramHarness(QStringList simArgs, bool withDatabase, QString databaseFolder)
    : simArgs_(std::move(simArgs)), withDatabase_(withDatabase), databaseFolder_(std::move(databaseFolder)) {
    // Checked on every turn of the event loop that the heartbeat gets.
    watch_.setInterval(10);
    QObject::connect(&watch_, &QTimer::timeout, [this] {
        if (!insane_ && app_ && app_->mainWindow() && !valuesAreSane()) {
            insane_ = true;
            for (int c = 0; c < 10; ++c)
                firstInsane_ +=
                    QStringLiteral("%1 (%2) ").arg(Pv_Value[c]).arg(app_->mainWindow()->D_3W[c]->text());
        }
    });
}

ProgramHarness::~ProgramHarness() {
    app_.reset();
    qunsetenv("HX5800_DB");
    qunsetenv("HX5800_COM1");
}

std::unique_ptr<SimProcess> ProgramHarness::newSim() const {
    auto sim = std::make_unique<SimProcess>(simArgs_);
    if (tcp_) sim->useTcp(sim_ ? sim_->tcpPort() : 0);
    return sim;
}

bool ProgramHarness::relink() {
    // A gateway keeps its address: the port's name stays tcp://127.0.0.1:PORT.
    if (tcp_) return qputenv("HX5800_COM1", sim_->devicePath().toUtf8());
    const QString stable = dir_.filePath(QStringLiteral("ttyHX"));
    qputenv("HX5800_COM1", stable.toUtf8());
    QFile::remove(stable);
    return QFile::link(sim_->devicePath(), stable);
}

bool ProgramHarness::start() {
    resetSharedState();
    sim_ = newSim();
    if (!sim_->start()) return why_ = sim_->errorText(), false;
    if (!relink()) return why_ = QStringLiteral("cannot link the device"), false;
    if (withDatabase_ && !QFile::exists(databasePath()) &&
        !createRecordDatabase(databasePath(), false, &why_))
        return false;
    qputenv("HX5800_DB", databasePath().toUtf8());
    app_ = std::make_unique<Application>();
    app_->context().endProcess = [] {};
    app_->start();
    if (!QTest::qWaitFor([this] { return app_->mainWindow() && app_->recorder(); }, 10000))
        return why_ = QStringLiteral("no hand-over"), false;
    window().Command9->click();
    if (!QTest::qWaitFor([] { return Pv_Value[7] == kStaticValues[7]; }, 5000))
        return why_ = QStringLiteral("no values from the instrument"), false;
    watch_.start();
    heartbeat_.reset();
    return true;
}

bool ProgramHarness::command(const QString& line) {
    heartbeat_.suspend();
    const bool ok = sim_->command(line);
    heartbeat_.resume();
    return ok;
}

void ProgramHarness::removeDevice() {
    heartbeat_.suspend();
    sim_->stop();
    heartbeat_.resume();
}

bool ProgramHarness::replaceDevice() {
    heartbeat_.suspend();
    sim_ = newSim();
    const bool ok = sim_->start() && relink();
    heartbeat_.resume();
    return ok;
}

bool ProgramHarness::valuesAreSane() const {
    if (insane_) return false;
    for (int c = 0; c < 10; ++c) {
        const float v = Pv_Value[c];
        if (v != kStaticValues[c] && v != 0 && !(c == 0 && v == kMarker)) return false;
        const QString label = app_->mainWindow()->D_3W[c]->text();
        if (!label.isEmpty() && label != liveValueText(kStaticValues[c]) && label != QLatin1String("0") &&
            label != liveValueText(kMarker))
            return false;
    }
    return true;
}

qint64 ProgramHarness::msUntilFreshValues(int timeoutMs) {
    Pv_Value[0] = kMarker;
    Reg_Buffer[0] = int32_t(kMarker);
    QElapsedTimer clock;
    clock.start();
    if (!QTest::qWaitFor([] { return Pv_Value[0] == kStaticValues[0]; }, timeoutMs)) return -1;
    return clock.elapsed();
}

bool ProgramHarness::recordsAreSane(QString* first) const {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(databasePath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "select w_id, ch1, ch2, ch3, ch4, ch5, ch6, ch7, ch8, da1, da2 from pv_data", -1,
                       &st, nullptr);
    bool sane = true;
    while (sane && st && sqlite3_step(st) == SQLITE_ROW) {
        // Per channel: the instrument's value, or the resumption marker (a record is taken only
        // after a poll answered, so never a value before the first answer).
        bool rowSane = true;
        for (int c = 0; c < 10; ++c) {
            const double v = sqlite3_column_double(st, c + 1);
            rowSane = rowSane && (v == kStaticValues[c] || (c == 0 && v == kMarker));
        }
        if (!rowSane) {
            sane = false;
            if (first) *first = QStringLiteral("slot %1").arg(sqlite3_column_int(st, 0));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return sane;
}

} // namespace hx::test
