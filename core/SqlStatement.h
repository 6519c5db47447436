#pragma once
// A prepared SQLite statement, finalized when it goes out of scope, on every path.
#include <QByteArray>
#include <QString>

#include <sqlite3.h>

#include <utility>

namespace hx {

class SqlStatement {
  public:
    SqlStatement() = default;
    // Empty (false) when sql does not prepare; the reason is the database's last error.
    SqlStatement(sqlite3* db, const char* sql, unsigned flags = 0) {
        sqlite3_prepare_v3(db, sql, -1, flags, &statement_, nullptr);
    }
    SqlStatement(sqlite3* db, const QString& sql, unsigned flags = 0)
        : SqlStatement(db, sql.toUtf8().constData(), flags) {}
    ~SqlStatement() { sqlite3_finalize(statement_); }

    SqlStatement(SqlStatement&& other) noexcept : statement_(std::exchange(other.statement_, nullptr)) {}
    SqlStatement& operator=(SqlStatement&& other) noexcept {
        std::swap(statement_, other.statement_);
        return *this;
    }
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    sqlite3_stmt* get() const { return statement_; }
    explicit operator bool() const { return statement_ != nullptr; }
    // Finalizes it now, before it goes out of scope.
    void finalize() {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
    }

  private:
    sqlite3_stmt* statement_ = nullptr;
};

} // namespace hx
