#pragma once

#include "relay/networks/NetworkAdapter.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::relay {

struct SandboxOptions {
    std::string databasePath; // the relay's SQLite file; the sandbox keeps its own tables there
    std::string publicUrl;    // base of picture addresses, e.g. "http://127.0.0.1:8080"
    int64_t tokenLifetime = 30 * 24 * 3600; // seconds a sandbox token stays valid
    int busyTimeoutMs = 5000; // how long a call waits for a locked store before giving up
};

// A picture the relay serves itself (avatars, status pictures).
struct Picture {
    std::string contentType; // "image/png", ...
    std::string bytes;
    std::string etag;
};

// The built-in sandbox network: one small social network in the relay's store, served under
// each of the names "sina", "twitter" and "facebook".
class Sandbox {
public:
    explicit Sandbox(SandboxOptions options);
    ~Sandbox();

    // The adapter for a network name, or nullptr for a name the sandbox does not serve.
    NetworkAdapter* Adapter(std::string_view network);

    // A picture by the path part the relay received after "/pictures/"; nullptr when unknown.
    std::shared_ptr<const Picture> FindPicture(std::string_view name);

    // Seeds every network with demo users, statuses, comments, follows, pictures and
    // notifications; does nothing when they are already there.
    void SeedDemo();

    // Adds a user to a network (a sign-up) with generated avatars; its id, or nothing when the
    // network is unknown, the screen name is taken or not a valid name, or the password empty.
    std::optional<std::string> CreateUser(std::string_view network, const std::string& screenName,
                                          const std::string& password);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace quillet::relay
