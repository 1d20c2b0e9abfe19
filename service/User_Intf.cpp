#include "service/User_Intf.h"

#include "data/XMLObj.h"
#include "net/Cache_.h"
#include "net/web_connect.h"
#include "platform/Uri.h"

#include <QString>

namespace quillet {

std::string CreateUserURL;
std::string DeleteAccountFormat;
std::string AddAccountFormat;
std::string AddAccountSecretFormat;
TUser* CurrentUser = nullptr;
TAccount* CurrentAccount = nullptr;

namespace {

bool SameText(std::string_view a, std::string_view b) {
    return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
               .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                        Qt::CaseInsensitive) == 0;
}

std::string NetworkName(TAccount_Type type) {
    return std::string(AccountTypeNames[type]);
}

// A user operation succeeded when the relay answered and did not refuse.
bool Accepted(const std::string& url) {
    std::unique_ptr<TNodeDict> reply = RequestTree(url);
    return reply && !reply->ContainsKey("_error");
}

} // namespace

void BuildUserURLs() {
    CreateUserURL = UserOperateURL + "?method=create";
    DeleteAccountFormat = UserOperateURL + "?method=delete&ID=%s&account_type=%s&account_name=%s";
    const std::string add = UserOperateURL + "?method=add&ID=%s&account_type=%s&account_name=%s";
    AddAccountFormat = add + "&access_token=%s&expire_in=%d";
    AddAccountSecretFormat = add + "&access_token=%s&access_secret=%s&expire_in=%d";
}

std::optional<TAccount_Type> AccountTypeOf(std::string_view name) {
    for (size_t i = 0; i < AccountTypeNames.size(); ++i)
        if (AccountTypeNames[i] == name)
            return static_cast<TAccount_Type>(i);
    return std::nullopt;
}

// ---- TAccount ----

TAccount::TAccount(TUser* owner, std::string accessToken, std::string accessSecret,
                   std::string accountName, TAccount_Type accountType, int32_t expireIn)
    : OwnerUser(owner), AccessToken(std::move(accessToken)), AccountName(std::move(accountName)),
      AccountType(accountType), ExpireIn(expireIn), AccessSecret(std::move(accessSecret)) {
    CreateAPICall();
}

TAccount::TAccount(TUser* owner, const TNodeDict& entry) : OwnerUser(owner) {
    ReadCredentials(entry);
    CreateAPICall();
    FetchProfile();
}

void TAccount::ReadCredentials(const TNodeDict& entry) {
    const std::optional<TAccount_Type> type = AccountTypeOf(TextAt(&entry, "account_type"));
    if (!type)
        throw EConvertError("unknown account type '" + TextAt(&entry, "account_type") + "'");
    AccessToken = TextAt(&entry, "access_token");
    AccountName = TextAt(&entry, "account_name");
    AccountType = *type;
    if (entry.ContainsKey("access_secret"))
        AccessSecret = TextAt(&entry, "access_secret");
    ExpireIn = static_cast<int32_t>(IntegerAt(&entry, "expire_in"));
}

void TAccount::CreateAPICall() {
    APICall = std::make_unique<TAPICall>(AccessToken, AccessSecret);
    APICall->SetSNS(NetworkName(AccountType));
}

void TAccount::UpdateFromNode(const TNodeDict& entry) {
    ReadCredentials(entry);
    FetchProfile();
}

void TAccount::FetchProfile() {
    if (!APICall)
        return;
    APICall->SetCategory("user");
    APICall->AddParam("ID", AccountName);
    const std::unique_ptr<TNodeDict> reply = APICall->Execute();
    AccountInfo.Id = TextAt(reply.get(), "id");
    AccountInfo.ScreenName = TextAt(reply.get(), "screen_name");
    AccountInfo.UserName = TextAt(reply.get(), "user_name");
    if (const TNodeDict* image = DictAt(reply.get(), "profile_image")) {
        AccountInfo.ProfileImage.LargeURL = TextAt(image, "large_url");
        AccountInfo.ProfileImage.SmallURL = TextAt(image, "small_url");
    }
    AccountInfo.Description = TextAt(reply.get(), "description");
    AccountInfo.Website = TextAt(reply.get(), "website");
    AccountInfo.FollowCount = static_cast<int32_t>(IntegerAt(reply.get(), "follow_count"));
    AccountInfo.FollowerCount = static_cast<int32_t>(IntegerAt(reply.get(), "follower_count"));
}

std::unique_ptr<TNodeDict> TAccount::GetPublicTimeline() {
    if (std::unique_ptr<TNodeDict> cached = Cache().LoadPublicTimeline())
        return cached;
    APICall->SetCategory("public_timeline");
    APICall->AddParam("limit", std::string("64"));
    std::unique_ptr<TNodeDict> tree = APICall->Execute();
    Cache().SavePublicTimeline(tree.get());
    return tree;
}

std::unique_ptr<TNodeDict> TAccount::GetUserTimeline(const std::string& userID) {
    if (std::unique_ptr<TNodeDict> cached = Cache().LoadTimeline(userID))
        return cached;
    APICall->SetCategory("timeline");
    APICall->AddParam("limit", std::string("10"));
    APICall->AddParam("ID", userID);
    std::unique_ptr<TNodeDict> tree = APICall->Execute();
    Cache().SaveTimeline(userID, tree.get());
    return tree;
}

// ---- TUser ----

TUser::TUser(std::string id) : ID(std::move(id)) {
    LoadAccounts();
}

void TUser::LoadAccounts() {
    const std::string url = FormatQuery(UserQueryURL + "?type=xml&ID=%s", {ID});
    const std::unique_ptr<TNodeDict> reply = RequestTree(url);
    if (!reply)
        throw EConnectError(url);
    const auto* accounts = ListAt(reply.get(), "accounts");
    if (!accounts)
        return;
    for (int i = 1; i <= accounts->Count(); ++i) {
        const auto* entry = dynamic_cast<const TNodeDict*>(accounts->GetByIndex(i));
        if (!entry)
            continue;
        const std::optional<TAccount_Type> type = AccountTypeOf(TextAt(entry, "account_type"));
        if (!type)
            continue; // a network this client does not know
        // Looked up by its text even when the relay types the name as a number.
        if (TAccount* existing = GetAccount(*type, TextAt(entry, "account_name"))) {
            existing->UpdateFromNode(*entry);
            continue;
        }
        m_accountLists[*type].push_back(std::make_unique<TAccount>(this, *entry));
    }
}

bool TUser::AddAccount(const std::string& accessToken, const std::string& accessSecret,
                       const std::string& accountName, TAccount_Type accountType,
                       int32_t expireIn) {
    const std::string net = NetworkName(accountType);
    const std::string expiry = std::to_string(expireIn);
    const std::string url =
        accessToken.empty()
            ? FormatQuery(AddAccountFormat, {ID, net, accountName, accessToken, expiry})
            : FormatQuery(AddAccountSecretFormat,
                          {ID, net, accountName, accessToken, accessSecret, expiry});
    if (!Accepted(url))
        return false;
    m_accountLists[accountType].push_back(std::make_unique<TAccount>(
        this, accessToken, accessSecret, accountName, accountType, expireIn));
    return true;
}

bool TUser::AddAccountFromReply(const std::string& replyText) {
    const std::unique_ptr<TNodeDict> dict = ParseReply(replyText);
    const std::optional<TAccount_Type> type = AccountTypeOf(TextAt(dict.get(), "account_type"));
    if (!type)
        return false;
    return AddAccount(TextAt(dict.get(), "access_token"), TextAt(dict.get(), "access_secret"),
                      TextAt(dict.get(), "account_name"), *type,
                      static_cast<int32_t>(IntegerAt(dict.get(), "expire_in")));
}

bool TUser::DeleteAccount(TAccount_Type accountType, const std::string& accountName) {
    const std::string url =
        FormatQuery(DeleteAccountFormat, {ID, NetworkName(accountType), accountName});
    if (!Accepted(url))
        return false;
    const int index = IndexOf(accountType, accountName);
    if (index < 0)
        return true;
    auto& list = m_accountLists[accountType];
    m_removed.push_back(std::move(list[index]));
    list.erase(list.begin() + index);
    return true;
}

bool TUser::DeleteAccount(const TAccount& account) {
    // Copies: the account's own fields must not change under the call.
    return DeleteAccount(account.AccountType, std::string(account.AccountName));
}

int TUser::IndexOf(TAccount_Type accountType, const std::string& name) const {
    const auto& list = m_accountLists[accountType];
    for (size_t i = 0; i < list.size(); ++i)
        if (SameText(list[i]->AccountName, name))
            return static_cast<int>(i);
    return -1;
}

TAccount* TUser::GetAccount(TAccount_Type accountType, const std::string& name) const {
    return GetAccount(accountType, IndexOf(accountType, name));
}

TAccount* TUser::GetAccount(TAccount_Type accountType, int index) const {
    const auto& list = m_accountLists[accountType];
    if (index < 0 || index >= static_cast<int>(list.size()))
        return nullptr;
    return list[index].get();
}

int TUser::AccountCount(TAccount_Type accountType) const {
    return static_cast<int>(m_accountLists[accountType].size());
}

int TUser::TotalAccountCount() const {
    return AccountCount(atSina) + AccountCount(atTwitter) + AccountCount(atFacebook);
}

TAccount* TUser::FirstAccount() const {
    for (TAccount_Type type : {atSina, atTwitter, atFacebook})
        if (TAccount* account = GetAccount(type, 0))
            return account;
    return nullptr;
}

// ---- Unit functions ----

std::unique_ptr<TUser> CreateNewUser() {
    const std::unique_ptr<TNodeDict> reply = RequestTree(CreateUserURL);
    const std::string id = reply ? TextAt(reply.get(), "ID") : std::string();
    if (id.empty())
        throw EConnectError(CreateUserURL);
    return std::make_unique<TUser>(id);
}

std::string LookupAccountOwner(const std::string& networkName, const std::string& accountName,
                               const std::string& accessToken, const std::string& accessSecret) {
    std::string url =
        FormatQuery(AccountQueryURL + "?account_name=%s&account_type=%s&access_token=%s",
                    {accountName, networkName, accessToken});
    if (!accessSecret.empty())
        url += "&access_secret=" + PercentEncode(accessSecret);
    std::unique_ptr<TNodeDict> reply;
    try {
        reply = ParseReply(RequestText(url));
    } catch (const std::exception&) {
        throw EConnectError(url);
    }
    const std::string id = TextAt(reply.get(), "ID");
    return id == "None" ? std::string() : id;
}

bool UpdateAccountToken(const TNodeDict& entry) {
    std::string url =
        FormatQuery(AccountModifyURL + "?account_type=%s&account_name=%s&access_token=%s",
                    {TextAt(&entry, "account_type"), TextAt(&entry, "account_name"),
                     TextAt(&entry, "access_token")});
    if (entry.ContainsKey("access_secret"))
        url += "&access_secret=" + PercentEncode(TextAt(&entry, "access_secret"));
    RequestText(url);
    return true;
}

} // namespace quillet
