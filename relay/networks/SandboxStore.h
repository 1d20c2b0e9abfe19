#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillet::relay {

// Data of the sandbox network, one set per network name ("sina", "twitter", "facebook").
// Pictures are referred to by name; the sandbox turns names into addresses.

struct SandboxUser {
    std::string id; // also the account name its sign-in gives
    std::string screenName;
    std::string gender; // "m", "f" or "n"
    std::string location;
    std::string description;
    std::string website;
    bool verified = false;
    std::string avatarLarge;
    std::string avatarSmall;
    int64_t followCount = 0;   // read only: computed from the follows
    int64_t followerCount = 0; // read only: computed from the follows
};

struct SandboxStatus {
    int64_t id = 0;
    SandboxUser author;
    std::string text;
    std::string pictureLarge; // empty when the status has no picture
    std::string pictureSmall;
    int64_t commentCount = 0; // read only: computed from the comments
    int64_t retweetCount = 0;
    int64_t goodCount = 0;
    int64_t favorCount = 0;
    int64_t createdAt = 0; // seconds since 1970, UTC
    std::string application;
    int64_t retweetOf = 0; // id of the status this one reposts, 0 for none
};

struct SandboxNotification {
    int64_t id = 0;
    std::string type; // "mention_status" or "comment"
    std::string text;
    SandboxStatus object; // the status concerned
};

// A token still valid, as a call sees it.
struct SandboxToken {
    std::string userId;
    std::string secretHash;
    // Read together with the token, so a notification poll that finds nothing looks at the
    // store once.
    bool notificationsWaiting = false;
};

struct StoredPicture {
    std::string contentType;
    std::string etag;
    std::string bytes;
};

// A new user; its password is already hashed.
struct NewSandboxUser {
    SandboxUser profile;
    std::string passwordHash;
};

// A notification to add with a status or a comment.
struct NewNotification {
    std::string recipientId;
    std::string type;
    std::string text;
    bool delivered = false;
};

struct NewStatus {
    std::string authorId;
    std::string text;
    std::string pictureLarge;
    std::string pictureSmall;
    int64_t retweetCount = 0;
    int64_t goodCount = 0;
    int64_t favorCount = 0;
    int64_t createdAt = 0;
    std::string application;
    std::vector<NewNotification> notifications;
    // Demo only: position in DemoNetwork::statuses of an earlier status this one reposts.
    std::optional<size_t> repostOf;
};

struct NewComment {
    size_t statusIndex = 0; // position in DemoNetwork::statuses
    std::string authorId;
    std::string text;
    int64_t createdAt = 0;
    std::string application;
    std::vector<NewNotification> notifications;
};

struct NamedPicture {
    std::string name;
    StoredPicture picture;
};

// Everything the demo puts into one network, written in one go.
struct DemoNetwork {
    std::vector<NewSandboxUser> users;
    std::vector<std::pair<std::string, std::string>> follows; // follower id, followed id
    std::vector<NewStatus> statuses;                          // oldest first
    std::vector<NewComment> comments;
    std::vector<NamedPicture> pictures;
};

// The sandbox's storage. Implementations are safe to call from several threads at once and
// throw TransientStoreError when the store is busy for longer than they wait.
class SandboxStore {
public:
    virtual ~SandboxStore() = default;

    virtual std::optional<SandboxUser> FindUserById(const std::string& network,
                                                    const std::string& id) = 0;
    virtual std::optional<SandboxUser> FindUserByScreenName(const std::string& network,
                                                            const std::string& screenName) = 0;
    // The stored password hash and user id of a screen name.
    virtual std::optional<std::pair<std::string, std::string>>
    FindLogin(const std::string& network, const std::string& screenName) = 0;

    // Adds a user; false when the id or the screen name is taken in that network.
    virtual bool AddUser(const std::string& network, const NewSandboxUser& user) = 0;
    virtual void Follow(const std::string& network, const std::string& followerId,
                        const std::string& followedId) = 0;
    virtual std::vector<SandboxUser> Friends(const std::string& network, const std::string& id,
                                             int limit) = 0;
    virtual std::vector<SandboxUser> Followers(const std::string& network, const std::string& id,
                                               int limit) = 0;

    // Statuses of the user and of the users it follows, newest first.
    virtual std::vector<SandboxStatus> HomeTimeline(const std::string& network,
                                                    const std::string& userId, int limit) = 0;
    // The user's own statuses, newest first.
    virtual std::vector<SandboxStatus> UserTimeline(const std::string& network,
                                                    const std::string& userId, int limit) = 0;
    virtual std::optional<SandboxStatus> FindStatus(const std::string& network, int64_t id) = 0;
    // Comments of a status, oldest first, in the shape of statuses.
    virtual std::vector<SandboxStatus> Comments(const std::string& network, int64_t statusId,
                                                int limit) = 0;

    // Adds the status with its notifications in one step, unless the author's latest status has
    // the same text: then nothing is written and the result is empty.
    virtual std::optional<SandboxStatus> PostStatus(const std::string& network,
                                                    const NewStatus& status) = 0;

    // The notifications of a user not yet delivered, oldest first; they count as delivered
    // once returned, so each is handed out once.
    virtual std::vector<SandboxNotification> TakeNotifications(const std::string& network,
                                                               const std::string& userId) = 0;

    // Keeps a token until expiresAt and drops the user's tokens already expired at now.
    virtual void SaveToken(const std::string& tokenHash, const std::string& network,
                           const std::string& userId, const std::string& secretHash,
                           int64_t expiresAt, int64_t now) = 0;
    // A token still valid at the time now.
    virtual std::optional<SandboxToken> FindToken(const std::string& tokenHash,
                                                  const std::string& network, int64_t now) = 0;

    virtual void SavePicture(const NamedPicture& picture) = 0;
    virtual std::optional<StoredPicture> LoadPicture(const std::string& name) = 0;

    virtual bool IsSeeded(const std::string& network) = 0;
    // Writes the demo of a network unless it is already there; true when it wrote it.
    virtual bool SeedNetwork(const std::string& network, const DemoNetwork& demo) = 0;
};

} // namespace quillet::relay
