#pragma once

#include "relay/store/Sqlite.h"
#include "relay/store/Store.h"
#include "relay/store/TokenCipher.h"

#include <mutex>

namespace quillet::relay {

// The embedded store: one SQLite file in WAL mode. IDs, PINs and codes are kept as keyed
// hashes for lookup; user IDs, tokens, secrets and sign-in payloads are kept encrypted.
class SqliteStore : public Store {
public:
    SqliteStore(const std::string& path, const TokenCipher& cipher, int busyTimeoutMs = 5000);

    std::string CreateUser() override;
    bool UserExists(const std::string& userId) override;
    AddResult AddAccount(const std::string& userId, const AccountRecord& account) override;
    bool DeleteAccount(const std::string& userId, const std::string& accountType,
                       const std::string& accountName) override;
    std::vector<AccountRecord> Accounts(const std::string& userId) override;
    std::optional<Owned> FindAccount(const std::string& accountType,
                                     const std::string& accountName) override;
    bool UpdateCredentials(const std::string& accountType, const std::string& accountName,
                           const std::string& accessToken,
                           const std::string& accessSecret) override;
    void PutPending(const std::string& kind, const std::string& key, const std::string& payload,
                    int64_t expiresAt) override;
    bool PutPendingUnique(const std::string& kind, const std::string& key,
                          const std::string& payload, int64_t now, int64_t expiresAt) override;
    std::optional<std::string> TakePending(const std::string& kind, const std::string& key,
                                           int64_t now) override;
    void PurgeExpired(int64_t now) override;

private:
    std::optional<int64_t> UserRow(const std::string& userId);
    AccountRecord ReadAccount(Statement& q, int firstColumn) const;
    std::string Seal(std::string_view plain, const std::string& type, const std::string& name,
                     std::string_view field) const;

    const TokenCipher& m_cipher;
    std::mutex m_mutex; // one connection, used by one thread at a time
    Database m_db;
};

} // namespace quillet::relay
