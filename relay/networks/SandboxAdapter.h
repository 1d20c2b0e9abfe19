#pragma once

#include "relay/networks/NetworkAdapter.h"
#include "relay/networks/Sandbox.h"
#include "relay/networks/SandboxStore.h"

#include <functional>
#include <string>

namespace quillet::relay {

// One network name of the sandbox: sign-in against the sandbox's users and the function table
// over its store. The three names differ only in their rules (text limit, emotions, secrets,
// comment threads, how a mention is identified).
class SandboxAdapter : public NetworkAdapter {
public:
    using Clock = std::function<int64_t()>; // seconds since 1970, UTC

    SandboxAdapter(std::string name, SandboxStore& store, const SandboxOptions& options,
                   Clock clock);

    const std::string& Name() const override { return m_name; }
    std::optional<SignInResult> SignIn(const std::string& screenName,
                                       const std::string& password) override;
    bool TokenValid(const std::string& accountName, const Credentials& credentials) override;
    void Call(const std::string& category, const Params& params, const Credentials& credentials,
              ReplyWriter& out) override;

    // The longest status text in UTF-16 code units.
    size_t TextLimit() const;

private:
    struct Request;

    std::optional<SandboxToken> Authenticate(const Credentials& credentials);
    void Dispatch(const std::string& category, Request& request);
    void User(Request& request);
    void Timeline(Request& request, bool home);
    void Users(Request& request, bool friends);
    void UpdateStatus(Request& request);
    void Comment(Request& request);
    void Notify(Request& request);

    void WriteUser(ReplyWriter& out, const SandboxUser& user) const;
    void ResolveMentions(Request& request, const SandboxStatus& status);
    // Everything WriteStatus looks up in the store: mentions and the reposted status.
    void PrepareStatus(Request& request, const SandboxStatus& status);
    // A status's entries; with withRepost, the status it reposts as its "retweet" dictionary.
    void WriteStatus(Request& request, const SandboxStatus& status, bool withRepost = true);
    void WriteImage(ReplyWriter& out, std::string_view key, const std::string& large,
                    const std::string& small) const;
    std::string PictureUrl(const std::string& name) const;

    std::string m_name;
    SandboxStore& m_store;
    const SandboxOptions& m_options;
    Clock m_clock;
};

// "YYYY-MM-DD HH:MM:SS+0000" of a UTC time.
std::string FormatSandboxTime(int64_t seconds);

} // namespace quillet::relay
