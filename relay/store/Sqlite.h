#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::relay {

// A failed SQLite call; Transient() tells a caller that trying again later may succeed.
class SqliteError : public std::runtime_error {
public:
    SqliteError(int code, const std::string& message);
    int Code() const { return m_code; }
    bool Transient() const;

private:
    int m_code;
};

// One prepared statement. Parameter and column indexes follow SQLite: parameters from 1,
// columns from 0.
class Statement {
public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, std::string_view text);
    Statement& Bind(int index, int64_t value);
    Statement& BindBlob(int index, std::string_view bytes);
    Statement& BindNull(int index);

    // Advances to the next row; false when there is none left.
    bool Step();
    // Runs a statement that returns no rows.
    void Run();

    std::string Text(int column) const;
    std::string Blob(int column) const;
    int64_t Int(int column) const;
    bool IsNull(int column) const;

    void Reset();

private:
    void Check(int rc) const;

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// A cached statement handed out for one use; it is reset (bindings cleared) when the lease ends,
// so no read stays open behind the caller's back.
class StatementLease {
public:
    explicit StatementLease(Statement& s) : m_s(&s) {}
    ~StatementLease() { m_s->Reset(); }
    StatementLease(const StatementLease&) = delete;
    StatementLease& operator=(const StatementLease&) = delete;
    Statement* operator->() const { return m_s; }
    Statement& operator*() const { return *m_s; }

private:
    Statement* m_s;
};

// One connection. Not thread-safe by itself: callers serialise its use.
class Database {
public:
    // Opens (creating when missing) the file in WAL mode with a busy time-out.
    explicit Database(const std::string& path, int busyTimeoutMs = 5000);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Exec(std::string_view sql);
    // A statement prepared once per connection and reused.
    StatementLease Prepare(std::string_view sql);
    int64_t LastInsertRowId() const;
    int Changes() const;

    // Brings a component's tables to the newest version: step i of steps (0-based) moves the
    // schema from version i to i + 1. Versions live in the shared table "schema_version".
    void Migrate(std::string_view component, const std::vector<std::string>& steps);
    int SchemaVersion(std::string_view component);

    sqlite3* Handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> m_cache;
};

// BEGIN IMMEDIATE ... COMMIT; rolls back when left without Commit().
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

private:
    Database& m_db;
    bool m_done = false;
};

} // namespace quillet::relay
