#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "service/User_Intf.h"

namespace quillet {

inline constexpr std::string_view SignInSuccessText = "登录成功！";
inline constexpr std::string_view AccountAddedText = "账户添加成功！";
inline constexpr std::string_view AccountOwnedText =
    "此账号已被其他用户关联，请 切换用户 或者 重新登录账号！";

// What an authorization reply led to.
enum class TSignInOutcome {
    soNewUser,      // nobody owned the account and nobody was signed in: a new relay user
    soAccountAdded, // nobody owned the account: added to the signed-in user
    soExistingUser, // its owner was signed in, with the account's new token
    soOwned,        // somebody owns it while a user is signed in: nothing changes
    soRefused,      // the authorization failed or the relay refused the account
};

struct TSignInResult {
    TSignInOutcome Outcome = TSignInOutcome::soRefused;
    std::unique_ptr<TUser> User; // the user to sign in, for soNewUser and soExistingUser
};

// The decision the sign-in page makes on the text of an authorization reply. signedIn is the
// user signed in now, or nullptr. Transport failures pass as exceptions.
TSignInResult HandleAuthorizationReply(const std::string& reply, TUser* signedIn);

} // namespace quillet
