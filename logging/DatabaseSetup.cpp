#include "logging/DatabaseSetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace hx {

namespace {

constexpr const char* kSchema = "pragma journal_mode=WAL;"
                                "begin;"
                                "create table pv_data(w_id INTEGER PRIMARY KEY, w_date REAL, w_time REAL,"
                                " ch1 REAL, ch2 REAL, ch3 REAL, ch4 REAL, ch5 REAL, ch6 REAL, ch7 REAL,"
                                " ch8 REAL, da1 REAL, da2 REAL);"
                                "create table sl_void(p0 INTEGER, p1 INTEGER, p2 INTEGER, p3 INTEGER);"
                                "insert into sl_void(p0, p1) values(0, 0);"
                                "commit;";

bool removeIfThere(const QString& path, QString* error) {
    if (!QFileInfo::exists(path) || QFile::remove(path)) return true;
    *error = QStringLiteral("cannot remove %1").arg(QDir::toNativeSeparators(path));
    return false;
}

} // namespace

bool createRecordDatabase(const QString& path, bool replaceExisting, QString* error) {
    const QFileInfo file(path);
    if (path.isEmpty()) {
        *error = QStringLiteral("no database path");
        return false;
    }
    if (file.isDir()) {
        *error = QStringLiteral("%1 is a folder").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (file.exists() && !replaceExisting) {
        *error = QStringLiteral("%1 already exists (use --force to recreate it)")
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }
    // Journal files left by an old database would be replayed into the new one.
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        if (!removeIfThere(path + QLatin1String(suffix), error)) return false;
    if (!QDir().mkpath(file.absolutePath())) {
        *error =
            QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(file.absolutePath()));
        return false;
    }

    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    char* message = nullptr;
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, kSchema, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        *error = QStringLiteral("cannot create %1: %2")
                     .arg(QDir::toNativeSeparators(path),
                          QString::fromUtf8(message ? message : (db ? sqlite3_errmsg(db) : "out of memory")));
        sqlite3_free(message);
        sqlite3_close_v2(db);
        QFile::remove(path);
        return false;
    }
    if (sqlite3_close(db) != SQLITE_OK) {
        *error = QStringLiteral("cannot close %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

} // namespace hx
