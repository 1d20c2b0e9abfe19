#include "relay/store/Sqlite.h"

namespace quillet::relay {

namespace {

[[noreturn]] void Throw(sqlite3* db, int rc) {
    const char* detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw SqliteError(rc, std::string("sqlite: ") + detail);
}

} // namespace

SqliteError::SqliteError(int code, const std::string& message)
    : std::runtime_error(message), m_code(code) {}

bool SqliteError::Transient() const {
    const int primary = m_code & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

Statement::Statement(sqlite3* db, std::string_view sql) : m_db(db) {
    const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        Throw(db, rc);
    }
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

void Statement::Check(int rc) const {
    if (rc != SQLITE_OK) {
        Throw(m_db, rc);
    }
}

Statement& Statement::Bind(int index, std::string_view text) {
    Check(sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
    return *this;
}

Statement& Statement::Bind(int index, int64_t value) {
    Check(sqlite3_bind_int64(m_stmt, index, value));
    return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
    Check(sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                            SQLITE_TRANSIENT));
    return *this;
}

Statement& Statement::BindNull(int index) {
    Check(sqlite3_bind_null(m_stmt, index));
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    Throw(m_db, rc);
}

void Statement::Run() {
    while (Step()) {
    }
}

std::string Statement::Text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
             : std::string();
}

std::string Statement::Blob(int column) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
             : std::string();
}

int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

void Statement::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

Database::Database(const std::string& path, int busyTimeoutMs) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = std::string("sqlite: cannot open ") + path + ": " +
                                    (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
        sqlite3_close(m_db);
        throw SqliteError(rc, message);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    Exec("PRAGMA foreign_keys=ON");
}

Database::~Database() {
    m_cache.clear();
    sqlite3_close(m_db);
}

void Database::Exec(std::string_view sql) {
    const std::string text(sql);
    char* error = nullptr;
    const int rc = sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const std::string message = std::string("sqlite: ") + (error ? error : sqlite3_errstr(rc));
        sqlite3_free(error);
        throw SqliteError(sqlite3_extended_errcode(m_db), message);
    }
}

StatementLease Database::Prepare(std::string_view sql) {
    auto it = m_cache.find(sql);
    if (it == m_cache.end()) {
        it = m_cache.emplace(std::string(sql), std::make_unique<Statement>(m_db, sql)).first;
    }
    return StatementLease(*it->second);
}

int64_t Database::LastInsertRowId() const {
    return sqlite3_last_insert_rowid(m_db);
}

int Database::Changes() const {
    return sqlite3_changes(m_db);
}

int Database::SchemaVersion(std::string_view component) {
    Exec("CREATE TABLE IF NOT EXISTS schema_version("
         "component TEXT PRIMARY KEY, version INTEGER NOT NULL)");
    auto q = Prepare("SELECT version FROM schema_version WHERE component = ?1");
    q->Bind(1, component);
    return q->Step() ? static_cast<int>(q->Int(0)) : 0;
}

void Database::Migrate(std::string_view component, const std::vector<std::string>& steps) {
    Transaction tx(*this);
    const int current = SchemaVersion(component);
    if (current > static_cast<int>(steps.size())) {
        throw SqliteError(SQLITE_ERROR, "sqlite: the database holds a newer schema of " +
                                            std::string(component) + " than this program knows");
    }
    for (size_t i = static_cast<size_t>(current); i < steps.size(); ++i) {
        Exec(steps[i]);
    }
    auto q = Prepare("INSERT INTO schema_version(component, version) VALUES(?1, ?2) "
                     "ON CONFLICT(component) DO UPDATE SET version = excluded.version");
    q->Bind(1, component).Bind(2, static_cast<int64_t>(steps.size())).Run();
    tx.Commit();
}

Transaction::Transaction(Database& db) : m_db(db) {
    m_db.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!m_done) {
        try {
            m_db.Exec("ROLLBACK");
        } catch (const SqliteError&) {
            // The transaction is gone already (SQLite rolled it back itself).
        }
    }
}

void Transaction::Commit() {
    m_db.Exec("COMMIT");
    m_done = true;
}

} // namespace quillet::relay
