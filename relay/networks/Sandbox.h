#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "relay/networks/NetworkAdapter.h"

namespace quillet::relay {

struct SandboxOptions {
    std::string databasePath;  // the relay's SQLite file; the sandbox keeps its own tables there
    std::string publicUrl;     // base of picture addresses, e.g. "http://127.0.0.1:8080"
    int64_t tokenLifetime = 30 * 24 * 3600; // seconds a sandbox token stays valid
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

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace quillet::relay
