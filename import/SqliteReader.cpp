#include "import/SqliteReader.h"

#include "platform/foundation/Log.h"

#include <mutex>
#include <sqlite3.h>

namespace intake {

namespace {

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        const int rc = sqlite3_initialize();
        if (rc != SQLITE_OK) platform::log(u"sqlite3_initialize failed (%d)", rc);
    });
}

}  // namespace

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        if (stmt_) sqlite3_finalize(stmt_);
        stmt_ = other.stmt_;
        other.stmt_ = nullptr;
    }
    return *this;
}

SqliteStatement::~SqliteStatement() {
    if (stmt_) sqlite3_finalize(stmt_);
}

bool SqliteStatement::bind(int index, const QString& value) {
    if (!stmt_) return false;
    const QByteArray utf8 = value.toUtf8();
    return sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) == SQLITE_OK;
}

bool SqliteStatement::step() {
    if (!stmt_) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) {
        platform::log(u"sqlite step failed: %@", QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(stmt_))));
    }
    // A failed or finished statement gives no more rows; drop it so later calls stay cheap.
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return false;
}

QString SqliteStatement::text(int column) const {
    if (!stmt_) return {};
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (!p) return {};
    return QString::fromUtf8(p, sqlite3_column_bytes(stmt_, column));
}

bool SqliteStatement::isNull(int column) const {
    return !stmt_ || sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

int SqliteStatement::int32(int column) const { return stmt_ ? sqlite3_column_int(stmt_, column) : 0; }

std::int64_t SqliteStatement::int64(int column) const {
    return stmt_ ? std::int64_t(sqlite3_column_int64(stmt_, column)) : 0;
}

SqliteReader::SqliteReader(const QString& path) : path_(path) {
    initialiseOnce();
    const QByteArray p = path.toUtf8();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(p.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        platform::log(u"cannot open database %@: %@", path, QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory"));
        if (db) sqlite3_close(db);
        return;
    }
    // A damaged file may still "open"; bound the time a locked or broken file can cost.
    sqlite3_busy_timeout(db, 2000);
    db_ = db;
}

SqliteReader::~SqliteReader() {
    if (db_) sqlite3_close_v2(db_);
}

SqliteStatement SqliteReader::prepare(const char* sql) const {
    if (!db_) return SqliteStatement();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        platform::log(u"cannot prepare a query on %@: %@", path_, lastError());
        if (stmt) sqlite3_finalize(stmt);
        return SqliteStatement();
    }
    return SqliteStatement(stmt);
}

bool SqliteReader::hasTable(const QString& name) const {
    SqliteStatement s = prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE;");
    if (!s.bind(1, name)) return false;
    return s.step();
}

QString SqliteReader::lastError() const {
    return db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString();
}

}  // namespace intake
