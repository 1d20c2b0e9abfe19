#include "service/SignIn.h"

#include "data/XMLObj.h"

namespace quillet {

TSignInResult HandleAuthorizationReply(const std::string& reply, TUser* signedIn) {
    TSignInResult result;
    if (reply.find("_error") != std::string::npos)
        return result;
    std::unique_ptr<TNodeDict> dict;
    try {
        dict = ParseReply(reply);
    } catch (const std::exception&) {
        return result;
    }
    const std::string owner =
        LookupAccountOwner(TextAt(dict.get(), "account_type"), TextAt(dict.get(), "account_name"),
                           TextAt(dict.get(), "access_token"), TextAt(dict.get(), "access_secret"));
    if (!owner.empty()) {
        if (signedIn) {
            result.Outcome = TSignInOutcome::soOwned;
            return result;
        }
        UpdateAccountToken(*dict);
        result.User = std::make_unique<TUser>(owner);
        result.Outcome = TSignInOutcome::soExistingUser;
        return result;
    }
    if (signedIn) {
        if (signedIn->AddAccountFromReply(reply))
            result.Outcome = TSignInOutcome::soAccountAdded;
        return result;
    }
    std::unique_ptr<TUser> user = CreateNewUser();
    if (!user->AddAccountFromReply(reply))
        return result; // a relay user without an account would be of no use
    result.User = std::move(user);
    result.Outcome = TSignInOutcome::soNewUser;
    return result;
}

} // namespace quillet
