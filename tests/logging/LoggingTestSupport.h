#pragma once
// Shared by the recording tests: a clock the test sets by hand, and plain SQLite access to
// look at a recording database from outside the store under test.
#include <atomic>
#include <cstdint>
#include <optional>

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "core/Clock.h"
#include "logging/DatabaseSetup.h"

namespace hx::testing {

// A wall clock that moves only when the test says so, to the second. It may be read on
// another thread (the publisher's) while the test moves it.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(const QDateTime& at = QDateTime(QDate(2024, 3, 14), QTime(10, 0, 0))) { set(at); }
    ClockReading now() const override {
        const qint64 seconds = seconds_;
        const qint64 day = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
        return ClockReading{double(day), double(seconds - day * 86400) / 86400.0};
    }
    // A timer waiting on it looks again soon: the test may have moved it meanwhile.
    int realWaitMs(int) const override { return 20; }
    void set(const QDateTime& at) {
        seconds_ = qint64(dayNumberOf(at.date())) * 86400 + at.time().msecsSinceStartOfDay() / 1000;
    }
    void advance(qint64 seconds) { seconds_ += seconds; }
    qint64 seconds() const { return seconds_; }

  private:
    std::atomic<qint64> seconds_ = 0; // since day 0 (1899-12-30 00:00:00)
};

// A raw connection to a database file, for preparing and inspecting it.
class Db {
  public:
    explicit Db(const QString& path) {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
        }
        if (db_) sqlite3_busy_timeout(db_, 2000);
    }
    ~Db() { sqlite3_close_v2(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    bool ok() const { return db_ != nullptr; }
    sqlite3* handle() const { return db_; }

    bool exec(const QString& sql) {
        char* message = nullptr;
        const int rc = sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, &message);
        if (rc != SQLITE_OK) qWarning("sqlite: %s in %s", message ? message : "?", qPrintable(sql));
        sqlite3_free(message);
        return rc == SQLITE_OK;
    }

    // Every row of a query, each as its columns' texts ("NULL" for null).
    QList<QStringList> rows(const QString& sql) {
        QList<QStringList> result;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK) {
            qWarning("sqlite: %s in %s", sqlite3_errmsg(db_), qPrintable(sql));
            return result;
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
                row << (text ? QString::fromUtf8(text) : QStringLiteral("NULL"));
            }
            result << row;
        }
        sqlite3_finalize(statement);
        return result;
    }

    std::optional<qint64> integer(const QString& sql) {
        const auto r = rows(sql);
        if (r.isEmpty() || r[0].isEmpty() || r[0][0] == QLatin1String("NULL")) return std::nullopt;
        return r[0][0].toLongLong();
    }

    std::optional<double> real(const QString& sql) {
        const auto r = rows(sql);
        if (r.isEmpty() || r[0].isEmpty() || r[0][0] == QLatin1String("NULL")) return std::nullopt;
        return r[0][0].toDouble();
    }

    qint64 rowCount() { return integer("select count(*) from pv_data").value_or(-1); }
    std::optional<qint64> pointer() { return integer("select p0 from sl_void order by rowid limit 1"); }
    bool setPointer(qint64 slot) { return exec(QStringLiteral("update sl_void set p0=%1, p1=%1").arg(slot)); }

    // Fills slots 1..count in one transaction. Slot s holds values s + c / 10 for channel c
    // and an instant that makes the ring's order start after slot newest: slot newest + 1
    // is the oldest record, slot newest the latest. The pointer names newest.
    bool fillRing(int32_t count, int32_t newest, const QDateTime& latestAt) {
        if (!exec("begin")) return false;
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db_, "insert or replace into pv_data values(?,?,?,?,?,?,?,?,?,?,?,?,?)", -1,
                           &insert, nullptr);
        const qint64 latest =
            qint64(dayNumberOf(latestAt.date())) * 86400 + latestAt.time().msecsSinceStartOfDay() / 1000;
        for (int32_t s = 1; s <= count; ++s) {
            const qint64 age = s <= newest ? newest - s : newest + (count - s);
            const qint64 at = latest - age;
            sqlite3_bind_int(insert, 1, s);
            sqlite3_bind_double(insert, 2, double(at / 86400));
            sqlite3_bind_double(insert, 3, double(at % 86400) / 86400.0);
            for (int c = 0; c < 10; ++c)
                sqlite3_bind_double(insert, 4 + c, double(float(s + c / 10.0)));
            if (sqlite3_step(insert) != SQLITE_DONE) {
                sqlite3_finalize(insert);
                exec("rollback");
                return false;
            }
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        return exec("commit") && setPointer(newest);
    }

  private:
    sqlite3* db_ = nullptr;
};

// Makes a file unwritable for the life of the guard, also for root: its permission bits
// drop to read-only and, for root (whom permission bits do not stop), the file is marked
// immutable. active() tells whether the file really is read-only now.
class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(const QString& path) : path_(path) {
        QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
        if (geteuid() == 0) immutable_ = setImmutable(true);
        active_ = geteuid() != 0 || immutable_;
    }
    ~ReadOnlyFile() {
        if (immutable_) setImmutable(false);
        QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    bool active() const { return active_; }

  private:
    bool setImmutable(bool on) {
        const int fd = ::open(path_.toLocal8Bit().constData(), O_RDONLY);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    QString path_;
    bool immutable_ = false;
    bool active_ = false;
};

// A fresh recording database in dir, made the way hx5800-initdb makes it.
inline QString freshDatabase(const QTemporaryDir& dir, const QString& name = QStringLiteral("Rdatabj.db")) {
    const QString path = dir.filePath(name);
    QString error;
    if (!createRecordDatabase(path, false, &error))
        qWarning("cannot create %s: %s", qPrintable(path), qPrintable(error));
    return path;
}

} // namespace hx::testing
