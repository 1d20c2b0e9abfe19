#include "relay/store/SqliteStore.h"

namespace quillet::relay {

namespace {

const std::vector<std::string> kSchema = {
    "CREATE TABLE relay_users("
    " id INTEGER PRIMARY KEY,"
    " id_hash TEXT NOT NULL UNIQUE,"
    " id_sealed BLOB NOT NULL);"
    "CREATE TABLE relay_accounts("
    " id INTEGER PRIMARY KEY,"
    " user_row INTEGER NOT NULL REFERENCES relay_users(id) ON DELETE CASCADE,"
    " account_type TEXT NOT NULL,"
    " account_name TEXT NOT NULL,"
    " token_sealed BLOB NOT NULL,"
    " secret_sealed BLOB NOT NULL,"
    " expire_in INTEGER NOT NULL,"
    " UNIQUE(account_type, account_name));"
    "CREATE INDEX relay_accounts_user ON relay_accounts(user_row);"
    "CREATE TABLE relay_pending("
    " kind TEXT NOT NULL,"
    " key_hash TEXT NOT NULL,"
    " payload_sealed BLOB NOT NULL,"
    " expires_at INTEGER NOT NULL,"
    " PRIMARY KEY(kind, key_hash));",
};

constexpr std::string_view kUserContext = "relay user id";

} // namespace

SqliteStore::SqliteStore(const std::string& path, const TokenCipher& cipher, int busyTimeoutMs)
    : m_cipher(cipher), m_db(path, busyTimeoutMs) {
    m_db.Migrate("relay", kSchema);
}

std::string SqliteStore::Seal(std::string_view plain, const std::string& type,
                              const std::string& name, std::string_view field) const {
    std::string context(field);
    context += '\0';
    context += type;
    context += '\0';
    context += name;
    return m_cipher.Encrypt(plain, context);
}

std::string SqliteStore::CreateUser() {
    const std::lock_guard lock(m_mutex);
    const std::string id = RandomHex(16);
    m_db.Prepare("INSERT INTO relay_users(id_hash, id_sealed) VALUES(?1, ?2)")
        ->Bind(1, m_cipher.LookupHash(id))
        .BindBlob(2, m_cipher.Encrypt(id, kUserContext))
        .Run();
    return id;
}

std::optional<int64_t> SqliteStore::UserRow(const std::string& userId) {
    auto q = m_db.Prepare("SELECT id FROM relay_users WHERE id_hash = ?1");
    q->Bind(1, m_cipher.LookupHash(userId));
    if (!q->Step()) {
        return std::nullopt;
    }
    return q->Int(0);
}

bool SqliteStore::UserExists(const std::string& userId) {
    const std::lock_guard lock(m_mutex);
    return UserRow(userId).has_value();
}

AddResult SqliteStore::AddAccount(const std::string& userId, const AccountRecord& account) {
    const std::lock_guard lock(m_mutex);
    Transaction tx(m_db);
    const auto row = UserRow(userId);
    if (!row) {
        return AddResult::unknownUser;
    }
    std::optional<int64_t> holder;
    {
        auto q = m_db.Prepare(
            "SELECT user_row FROM relay_accounts WHERE account_type = ?1 AND account_name = ?2");
        q->Bind(1, account.accountType).Bind(2, account.accountName);
        if (q->Step()) {
            holder = q->Int(0);
        }
    }
    if (holder && *holder != *row) {
        return AddResult::ownedByOther;
    }
    const std::string token =
        Seal(account.accessToken, account.accountType, account.accountName, "token");
    const std::string secret =
        Seal(account.accessSecret, account.accountType, account.accountName, "secret");
    if (holder) {
        m_db.Prepare("UPDATE relay_accounts SET token_sealed = ?3, secret_sealed = ?4, "
                     "expire_in = ?5 WHERE account_type = ?1 AND account_name = ?2")
            ->Bind(1, account.accountType)
            .Bind(2, account.accountName)
            .BindBlob(3, token)
            .BindBlob(4, secret)
            .Bind(5, account.expireIn)
            .Run();
    } else {
        m_db.Prepare("INSERT INTO relay_accounts(user_row, account_type, account_name, "
                     "token_sealed, secret_sealed, expire_in) VALUES(?1, ?2, ?3, ?4, ?5, ?6)")
            ->Bind(1, *row)
            .Bind(2, account.accountType)
            .Bind(3, account.accountName)
            .BindBlob(4, token)
            .BindBlob(5, secret)
            .Bind(6, account.expireIn)
            .Run();
    }
    tx.Commit();
    return holder ? AddResult::updated : AddResult::added;
}

bool SqliteStore::DeleteAccount(const std::string& userId, const std::string& accountType,
                                const std::string& accountName) {
    const std::lock_guard lock(m_mutex);
    m_db.Prepare("DELETE FROM relay_accounts WHERE account_type = ?2 AND account_name = ?3 AND "
                 "user_row = (SELECT id FROM relay_users WHERE id_hash = ?1)")
        ->Bind(1, m_cipher.LookupHash(userId))
        .Bind(2, accountType)
        .Bind(3, accountName)
        .Run();
    return m_db.Changes() > 0;
}

AccountRecord SqliteStore::ReadAccount(Statement& q, int c) const {
    AccountRecord a;
    a.accountType = q.Text(c);
    a.accountName = q.Text(c + 1);
    a.accessToken = m_cipher.Decrypt(q.Blob(c + 2), "token" + std::string(1, '\0') + a.accountType +
                                                        '\0' + a.accountName);
    a.accessSecret = m_cipher.Decrypt(q.Blob(c + 3), "secret" + std::string(1, '\0') +
                                                         a.accountType + '\0' + a.accountName);
    a.expireIn = q.Int(c + 4);
    return a;
}

std::vector<AccountRecord> SqliteStore::Accounts(const std::string& userId) {
    const std::lock_guard lock(m_mutex);
    auto q = m_db.Prepare("SELECT a.account_type, a.account_name, a.token_sealed, "
                          "a.secret_sealed, a.expire_in FROM relay_accounts a "
                          "JOIN relay_users u ON u.id = a.user_row WHERE u.id_hash = ?1 "
                          "ORDER BY a.id");
    q->Bind(1, m_cipher.LookupHash(userId));
    std::vector<AccountRecord> out;
    while (q->Step()) {
        out.push_back(ReadAccount(*q, 0));
    }
    return out;
}

std::optional<Store::Owned> SqliteStore::FindAccount(const std::string& accountType,
                                                     const std::string& accountName) {
    const std::lock_guard lock(m_mutex);
    auto q = m_db.Prepare("SELECT u.id_sealed, a.account_type, a.account_name, a.token_sealed, "
                          "a.secret_sealed, a.expire_in FROM relay_accounts a "
                          "JOIN relay_users u ON u.id = a.user_row "
                          "WHERE a.account_type = ?1 AND a.account_name = ?2");
    q->Bind(1, accountType).Bind(2, accountName);
    if (!q->Step()) {
        return std::nullopt;
    }
    return Owned{m_cipher.Decrypt(q->Blob(0), kUserContext), ReadAccount(*q, 1)};
}

bool SqliteStore::UpdateCredentials(const std::string& accountType, const std::string& accountName,
                                    const std::string& accessToken,
                                    const std::string& accessSecret) {
    const std::lock_guard lock(m_mutex);
    m_db.Prepare("UPDATE relay_accounts SET token_sealed = ?3, secret_sealed = ?4 "
                 "WHERE account_type = ?1 AND account_name = ?2")
        ->Bind(1, accountType)
        .Bind(2, accountName)
        .BindBlob(3, Seal(accessToken, accountType, accountName, "token"))
        .BindBlob(4, Seal(accessSecret, accountType, accountName, "secret"))
        .Run();
    return m_db.Changes() > 0;
}

void SqliteStore::PutPending(const std::string& kind, const std::string& key,
                             const std::string& payload, int64_t expiresAt) {
    const std::lock_guard lock(m_mutex);
    m_db.Prepare("INSERT OR REPLACE INTO relay_pending(kind, key_hash, payload_sealed, "
                 "expires_at) VALUES(?1, ?2, ?3, ?4)")
        ->Bind(1, kind)
        .Bind(2, m_cipher.LookupHash(key))
        .BindBlob(3, Seal(payload, kind, "", "pending"))
        .Bind(4, expiresAt)
        .Run();
}

bool SqliteStore::PutPendingUnique(const std::string& kind, const std::string& key,
                                   const std::string& payload, int64_t now, int64_t expiresAt) {
    const std::lock_guard lock(m_mutex);
    // An expired record under the same key may be replaced; a live one may not.
    m_db.Prepare("INSERT INTO relay_pending(kind, key_hash, payload_sealed, expires_at) "
                 "VALUES(?1, ?2, ?3, ?4) ON CONFLICT(kind, key_hash) DO UPDATE SET "
                 "payload_sealed = excluded.payload_sealed, expires_at = excluded.expires_at "
                 "WHERE relay_pending.expires_at <= ?5")
        ->Bind(1, kind)
        .Bind(2, m_cipher.LookupHash(key))
        .BindBlob(3, Seal(payload, kind, "", "pending"))
        .Bind(4, expiresAt)
        .Bind(5, now)
        .Run();
    return m_db.Changes() > 0;
}

std::optional<std::string> SqliteStore::TakePending(const std::string& kind, const std::string& key,
                                                    int64_t now) {
    const std::lock_guard lock(m_mutex);
    auto q = m_db.Prepare("DELETE FROM relay_pending WHERE kind = ?1 AND key_hash = ?2 "
                          "RETURNING payload_sealed, expires_at");
    q->Bind(1, kind).Bind(2, m_cipher.LookupHash(key));
    if (!q->Step()) {
        return std::nullopt;
    }
    const std::string sealed = q->Blob(0);
    const int64_t expiresAt = q->Int(1);
    q->Run();
    if (expiresAt <= now) {
        return std::nullopt;
    }
    return m_cipher.Decrypt(sealed, "pending" + std::string(1, '\0') + kind + '\0');
}

void SqliteStore::PurgeExpired(int64_t now) {
    const std::lock_guard lock(m_mutex);
    m_db.Prepare("DELETE FROM relay_pending WHERE expires_at <= ?1")->Bind(1, now).Run();
}

} // namespace quillet::relay
