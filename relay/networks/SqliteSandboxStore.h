#pragma once

#include "relay/networks/SandboxStore.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillet::relay {

class Database;

// The sandbox's tables in the relay's SQLite file (component "sandbox" of its schema versions).
// Each call borrows a connection from a small pool, so server threads never share one.
class SqliteSandboxStore : public SandboxStore {
public:
    SqliteSandboxStore(std::string path, int busyTimeoutMs);
    ~SqliteSandboxStore() override;

    std::optional<SandboxUser> FindUserById(const std::string& network,
                                            const std::string& id) override;
    std::optional<SandboxUser> FindUserByScreenName(const std::string& network,
                                                    const std::string& screenName) override;
    std::optional<std::pair<std::string, std::string>>
    FindLogin(const std::string& network, const std::string& screenName) override;
    bool AddUser(const std::string& network, const NewSandboxUser& user) override;
    void Follow(const std::string& network, const std::string& followerId,
                const std::string& followedId) override;
    std::vector<SandboxUser> Friends(const std::string& network, const std::string& id,
                                     int limit) override;
    std::vector<SandboxUser> Followers(const std::string& network, const std::string& id,
                                       int limit) override;
    std::vector<SandboxStatus> HomeTimeline(const std::string& network, const std::string& userId,
                                            int limit) override;
    std::vector<SandboxStatus> UserTimeline(const std::string& network, const std::string& userId,
                                            int limit) override;
    std::optional<SandboxStatus> FindStatus(const std::string& network, int64_t id) override;
    std::vector<SandboxStatus> Comments(const std::string& network, int64_t statusId,
                                        int limit) override;
    std::optional<SandboxStatus> PostStatus(const std::string& network,
                                            const NewStatus& status) override;
    std::vector<SandboxNotification> TakeNotifications(const std::string& network,
                                                       const std::string& userId) override;
    void SaveToken(const std::string& tokenHash, const std::string& network,
                   const std::string& userId, const std::string& secretHash, int64_t expiresAt,
                   int64_t now) override;
    std::optional<SandboxToken> FindToken(const std::string& tokenHash, const std::string& network,
                                          int64_t now) override;
    void SavePicture(const NamedPicture& picture) override;
    std::optional<StoredPicture> LoadPicture(const std::string& name) override;
    bool IsSeeded(const std::string& network) override;
    bool SeedNetwork(const std::string& network, const DemoNetwork& demo) override;

private:
    class Lease;
    template <typename F>
    auto With(F&& work);

    std::string m_path;
    int m_busyTimeoutMs;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Database>> m_idle;
};

} // namespace quillet::relay
