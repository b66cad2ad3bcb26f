#pragma once
// A read-only connection to one SQLite database, with statements made only from fixed SQL
// texts and values bound by position. Library databases are the user's own files: they are
// never opened for writing, and nothing read from them ever becomes part of an SQL text.
//
// SQLite is initialised once per process (it is thread-safe that way) and never shut down
// behind other readers' backs. One connection belongs to one thread at a time.
#include <QByteArray>
#include <QString>
#include <cstdint>

struct sqlite3;
struct sqlite3_stmt;

namespace intake {

class SqliteStatement {
public:
    SqliteStatement() = default;
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    ~SqliteStatement();

    bool ok() const { return stmt_ != nullptr; }
    // Binds a text value to the 1-based parameter index; false when it cannot.
    bool bind(int index, const QString& value);
    // Next row: true while a row is ready. A failure ends the rows (logged once).
    bool step();
    // Column values of the current row; NULL reads as an empty text or 0.
    QString text(int column) const;
    bool isNull(int column) const;
    int int32(int column) const;
    std::int64_t int64(int column) const;

private:
    friend class SqliteReader;
    explicit SqliteStatement(sqlite3_stmt* stmt) : stmt_(stmt) {}
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteReader {
public:
    // Opens the file read-only; a missing file is not created (ok() is false then).
    explicit SqliteReader(const QString& path);
    ~SqliteReader();
    SqliteReader(const SqliteReader&) = delete;
    SqliteReader& operator=(const SqliteReader&) = delete;

    bool ok() const { return db_ != nullptr; }
    // A statement for one fixed SQL text; a failed one is !ok() and logged.
    SqliteStatement prepare(const char* sql) const;
    // Whether the schema holds a table of that name (compared ignoring case).
    bool hasTable(const QString& name) const;
    QString lastError() const;

private:
    sqlite3* db_ = nullptr;
    QString path_;
};

}  // namespace intake
