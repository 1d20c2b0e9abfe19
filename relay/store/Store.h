#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet::relay {

// One network account linked to a relay user, with its credentials in clear.
struct AccountRecord {
    std::string accountType; // "sina", "twitter", "facebook"
    std::string accountName;
    std::string accessToken;
    std::string accessSecret;
    int64_t expireIn = 0;
};

enum class AddResult { added, updated, unknownUser, ownedByOther };

// What the relay keeps: relay users, their linked accounts and the short-lived sign-in records
// (anti-forgery values, landing codes, PINs). Implementations encrypt credentials at rest and
// are called from several server threads at once. Failures throw; SqliteError::Transient()
// marks the ones worth retrying.
class Store {
public:
    virtual ~Store() = default;

    // A new relay user; returns its ID (128-bit random, hex).
    virtual std::string CreateUser() = 0;
    virtual bool UserExists(const std::string& userId) = 0;

    // Links an account to a user, or replaces the credentials when that user holds it already.
    virtual AddResult AddAccount(const std::string& userId, const AccountRecord& account) = 0;
    // False when the user does not hold that account.
    virtual bool DeleteAccount(const std::string& userId, const std::string& accountType,
                               const std::string& accountName) = 0;
    // The user's accounts in the order they were linked.
    virtual std::vector<AccountRecord> Accounts(const std::string& userId) = 0;

    struct Owned {
        std::string userId;
        AccountRecord account;
    };
    virtual std::optional<Owned> FindAccount(const std::string& accountType,
                                             const std::string& accountName) = 0;
    // Replaces an account's token and secret; false when no user holds the account.
    virtual bool UpdateCredentials(const std::string& accountType, const std::string& accountName,
                                   const std::string& accessToken,
                                   const std::string& accessSecret) = 0;

    // Sign-in records: kind names the flow ("form", "landing", "pin"), key is the secret value
    // the browser carries. Take returns the payload once and removes the record; expired
    // records are never returned.
    virtual void PutPending(const std::string& kind, const std::string& key,
                            const std::string& payload, int64_t expiresAt) = 0;
    // False when a live record of that kind already uses the key.
    virtual bool PutPendingUnique(const std::string& kind, const std::string& key,
                                  const std::string& payload, int64_t now, int64_t expiresAt) = 0;
    virtual std::optional<std::string> TakePending(const std::string& kind, const std::string& key,
                                                   int64_t now) = 0;
    virtual void PurgeExpired(int64_t now) = 0;
};

} // namespace quillet::relay
