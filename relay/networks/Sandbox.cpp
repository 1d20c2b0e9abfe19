#include "relay/networks/Sandbox.h"

#include "relay/networks/SandboxAdapter.h"
#include "relay/networks/SandboxCrypto.h"
#include "relay/networks/SandboxDemo.h"
#include "relay/networks/SandboxText.h"
#include "relay/networks/SqliteSandboxStore.h"

#include <chrono>
#include <map>
#include <mutex>
#include <vector>

namespace quillet::relay {

namespace {

constexpr size_t kMaxPictureName = 100;
constexpr size_t kPictureCacheSize = 512;

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool ValidPictureName(std::string_view name) {
    if (name.empty() || name.size() > kMaxPictureName || name.front() == '.') {
        return false;
    }
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return true;
}

} // namespace

struct Sandbox::Impl {
    explicit Impl(SandboxOptions o)
        : options(std::move(o)), store(options.databasePath, options.busyTimeoutMs) {
        for (const char* name : {"sina", "twitter", "facebook"}) {
            adapters.push_back(std::make_unique<SandboxAdapter>(name, store, options, Now));
        }
    }

    SandboxOptions options;
    SqliteSandboxStore store;
    std::vector<std::unique_ptr<SandboxAdapter>> adapters;
    std::mutex pictureMutex;
    std::map<std::string, std::shared_ptr<const Picture>, std::less<>> pictures;
    std::mutex seedMutex;
};

Sandbox::Sandbox(SandboxOptions options) : m_impl(std::make_unique<Impl>(std::move(options))) {}

Sandbox::~Sandbox() = default;

NetworkAdapter* Sandbox::Adapter(std::string_view network) {
    for (const auto& adapter : m_impl->adapters) {
        if (adapter->Name() == network) {
            return adapter.get();
        }
    }
    return nullptr;
}

std::shared_ptr<const Picture> Sandbox::FindPicture(std::string_view name) {
    if (!ValidPictureName(name)) {
        return nullptr;
    }
    {
        std::lock_guard lock(m_impl->pictureMutex);
        const auto it = m_impl->pictures.find(name);
        if (it != m_impl->pictures.end()) {
            return it->second;
        }
    }
    const auto stored = m_impl->store.LoadPicture(std::string(name));
    if (!stored) {
        return nullptr;
    }
    auto picture =
        std::make_shared<const Picture>(Picture{stored->contentType, stored->bytes, stored->etag});
    std::lock_guard lock(m_impl->pictureMutex);
    // Pictures never change under a name, so dropping the cache only costs a reload.
    if (m_impl->pictures.size() >= kPictureCacheSize) {
        m_impl->pictures.clear();
    }
    m_impl->pictures.emplace(std::string(name), picture);
    return picture;
}

void Sandbox::SeedDemo() {
    std::lock_guard lock(m_impl->seedMutex);
    // Demo passwords are public ("demo"), so one salted hash serves every demo user and seeding
    // stays fast.
    std::string hash;
    const int64_t now = Now();
    for (const auto& adapter : m_impl->adapters) {
        const std::string& network = adapter->Name();
        if (m_impl->store.IsSeeded(network)) {
            continue;
        }
        if (hash.empty()) {
            hash = HashPassword("demo");
        }
        m_impl->store.SeedNetwork(network, BuildDemoNetwork(network, now, hash));
    }
}

std::optional<std::string> Sandbox::CreateUser(std::string_view network,
                                               const std::string& screenName,
                                               const std::string& password) {
    if (!Adapter(network) || !ValidScreenName(screenName) || password.empty()) {
        return std::nullopt;
    }
    const std::string net(network);
    if (m_impl->store.FindLogin(net, screenName)) {
        return std::nullopt;
    }
    NewSandboxUser user;
    user.profile.screenName = screenName;
    user.profile.gender.assign(1, 'n');
    user.passwordHash = HashPassword(password);
    // Ids are long random numbers, like the networks' own; a clash only costs another draw.
    for (int attempt = 0; attempt < 3; ++attempt) {
        user.profile.id = std::to_string(std::stoull(RandomToken().substr(0, 13), nullptr, 16));
        for (const NamedPicture& picture : MakeAvatars(net, user.profile)) {
            m_impl->store.SavePicture(picture);
        }
        if (m_impl->store.AddUser(net, user)) {
            return user.profile.id;
        }
        if (m_impl->store.FindLogin(net, screenName)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace quillet::relay
