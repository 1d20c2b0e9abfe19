#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quillet::relay {

class ReplyWriter;

// Query parameters in arrival order, already percent-decoded; names may repeat.
using Params = std::vector<std::pair<std::string, std::string>>;

// A store failure that may clear up by itself (a busy or locked database). Call() and SignIn()
// throw it; the /intf/smart handler answers it with "_error_code" 1 so the client asks again.
class TransientStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a network hands the relay after its own sign-in page accepted someone.
struct SignInResult {
    std::string accountName; // the network's user id: also the "id" of its profile
    std::string accessToken;
    std::string accessSecret; // empty on networks without secrets
    int64_t expireIn = 0;     // seconds the token stays valid
};

struct Credentials {
    std::string accessToken;
    std::string accessSecret;
};

// One social network as the relay sees it ("sina", "twitter", "facebook"). The sandbox adapter
// implements it over the relay's own store; a real network would implement it over its API.
// Implementations are called from several server threads at once.
class NetworkAdapter {
public:
    virtual ~NetworkAdapter() = default;

    virtual const std::string& Name() const = 0;

    // The network's sign-in form: screen name and password; a fresh token on success.
    virtual std::optional<SignInResult> SignIn(const std::string& screenName,
                                               const std::string& password) = 0;

    // Whether the credentials are currently valid for that account (not expired, not revoked).
    virtual bool TokenValid(const std::string& accountName, const Credentials& credentials) = 0;

    // Runs one function of the table ("user", "public_timeline", "timeline", "update_status",
    // "comment", "friends", "followers", "notify") and writes its whole reply, error replies
    // ("_error", "_error_code") included. Params holds the function's own parameters only.
    virtual void Call(const std::string& category, const Params& params,
                      const Credentials& credentials, ReplyWriter& out) = 0;
};

} // namespace quillet::relay
