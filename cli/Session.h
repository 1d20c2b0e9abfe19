#pragma once

#include <memory>
#include <string>

#include "core/Global.h"
#include "service/User_Intf.h"

namespace quillet {

// A refusal the command-line client reports itself (not signed in, no such account, ...).
class ECliError : public Exception {
public:
    using Exception::Exception;
};

// The signed-in state of the command-line client: the relay user remembered in [Data] User
// and the current account remembered in [CLI] Account ("TYPE:NAME").
class TCliSession {
public:
    // Loads the remembered user (its accounts come from the relay) and points the cache at the
    // current account. ECliError when nobody is signed in or the user has no account.
    static TCliSession Open();

    TUser& User() const { return *m_user; }
    TAccount& Account() const { return *m_account; }

    // Makes account current and remembers it for the next commands.
    void Use(TAccount& account);

private:
    std::unique_ptr<TUser> m_user;
    TAccount* m_account = nullptr;
};

// "TYPE:NAME" of an account.
std::string AccountKey(const TAccount& account);
// Remembers user as the signed-in user and account as current ("" forgets them).
void RememberSession(const std::string& userID, const std::string& accountKey);

} // namespace quillet
