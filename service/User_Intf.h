#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Global.h"
#include "service/Data_Intf.h"

namespace quillet {

class TNodeDict;
class TUser;

// The profile of a linked account, as the "user" function answers it.
struct TAccountInfo {
    std::string Id;
    std::string ScreenName;
    std::string UserName;
    std::string Description;
    std::string Website;
    TImageURLs ProfileImage;
    int32_t FollowCount = 0;
    int32_t FollowerCount = 0;
};

// One network account the relay holds for a relay user, with its own call object.
class TAccount {
public:
    // From values: no request is sent; the profile stays empty.
    TAccount(TUser* owner, std::string accessToken, std::string accessSecret,
             std::string accountName, TAccount_Type accountType, int32_t expireIn);
    // From an accounts entry; fetches the profile. EConvertError for an unknown network.
    TAccount(TUser* owner, const TNodeDict& entry);

    void UpdateFromNode(const TNodeDict& entry);
    void FetchProfile();
    std::unique_ptr<TNodeDict> GetPublicTimeline();
    std::unique_ptr<TNodeDict> GetUserTimeline(const std::string& userID);

    TUser* OwnerUser;
    std::string AccessToken;
    std::string AccountName;
    TAccount_Type AccountType = atSina;
    int32_t ExpireIn = 0;
    std::string AccessSecret;
    std::unique_ptr<TAPICall> APICall;
    TAccountInfo AccountInfo;

private:
    void ReadCredentials(const TNodeDict& entry);
    void CreateAPICall();
};

// The relay user: its ID and its accounts in three per-network lists.
class TUser {
public:
    // Loads the accounts at once; EConnectError when the relay gives no readable reply.
    explicit TUser(std::string id);

    void LoadAccounts();
    bool AddAccount(const std::string& accessToken, const std::string& accessSecret,
                    const std::string& accountName, TAccount_Type accountType, int32_t expireIn);
    bool AddAccountFromReply(const std::string& replyText);
    // Takes the account out of its list; the user keeps it alive until the user is destroyed,
    // so a window still pointing at it stays valid.
    bool DeleteAccount(TAccount_Type accountType, const std::string& accountName);
    bool DeleteAccount(const TAccount& account);
    TAccount* GetAccount(TAccount_Type accountType, const std::string& name) const;
    TAccount* GetAccount(TAccount_Type accountType, int index) const;
    int AccountCount(TAccount_Type accountType) const;
    int TotalAccountCount() const;
    TAccount* FirstAccount() const;

    const std::string ID;

private:
    int IndexOf(TAccount_Type accountType, const std::string& name) const;

    std::array<std::vector<std::unique_ptr<TAccount>>, 3> m_accountLists;
    std::vector<std::unique_ptr<TAccount>> m_removed;
};

// The relay's user-operation requests, built from User_Operate_URL by BuildUserURLs.
extern std::string CreateUserURL;
extern std::string DeleteAccountFormat;
extern std::string AddAccountFormat;
extern std::string AddAccountSecretFormat;
void BuildUserURLs();

// A new relay user; EConnectError when the relay gives no ID.
std::unique_ptr<TUser> CreateNewUser();
// The network of a name ("sina", "twitter", "facebook", exactly); none for any other name.
std::optional<TAccount_Type> AccountTypeOf(std::string_view name);
// The relay user owning an account, "" when none. The relay answers only to the holder of
// the account's current token (and secret, on networks that have one). EConnectError when it
// gives no readable reply.
std::string LookupAccountOwner(const std::string& networkName, const std::string& accountName,
                               const std::string& accessToken,
                               const std::string& accessSecret = "");
// Hands the relay an account's new credentials; the reply is not examined.
bool UpdateAccountToken(const TNodeDict& entry);

// The signed-in user and the account the window acts through; owned elsewhere.
extern TUser* CurrentUser;
extern TAccount* CurrentAccount;

} // namespace quillet
