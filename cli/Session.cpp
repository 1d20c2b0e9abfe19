#include "cli/Session.h"

#include "net/Cache_.h"
#include "platform/IniFile.h"

namespace quillet {

namespace {

constexpr std::string_view CliSection = "CLI";
constexpr std::string_view AccountKeyName = "Account";

TAccount* FindAccount(const TUser& user, const std::string& key) {
    const size_t colon = key.find(':');
    if (colon == std::string::npos)
        return nullptr;
    const std::optional<TAccount_Type> type = AccountTypeOf(key.substr(0, colon));
    return type ? user.GetAccount(*type, key.substr(colon + 1)) : nullptr;
}

} // namespace

std::string AccountKey(const TAccount& account) {
    return std::string(AccountTypeNames[account.AccountType]) + ":" + account.AccountName;
}

void RememberSession(const std::string& userID, const std::string& accountKey) {
    SaveUser(userID);
    IniFile->WriteString(CliSection, AccountKeyName, accountKey);
}

TCliSession TCliSession::Open() {
    const std::string id = LoadUser();
    if (id.empty())
        throw ECliError("not signed in: run 'quillet-cli signin NET' first");
    TCliSession session;
    session.m_user = std::make_unique<TUser>(id);
    TAccount* account = FindAccount(*session.m_user, IniFile->ReadString(CliSection, AccountKeyName, ""));
    if (!account)
        account = session.m_user->FirstAccount();
    if (!account)
        throw ECliError("the signed-in user has no linked account: run 'quillet-cli signin NET'");
    Cache().SetUserID(id);
    session.m_account = account;
    Cache().SetAccountType(account->AccountType);
    Cache().SetAccountName(account->AccountName);
    CurrentUser = session.m_user.get();
    CurrentAccount = account;
    return session;
}

void TCliSession::Use(TAccount& account) {
    m_account = &account;
    CurrentAccount = &account;
    Cache().SetAccountType(account.AccountType);
    Cache().SetAccountName(account.AccountName);
    IniFile->WriteString(CliSection, AccountKeyName, AccountKey(account));
}

} // namespace quillet
