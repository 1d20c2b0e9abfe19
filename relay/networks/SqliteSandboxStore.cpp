#include "relay/networks/SqliteSandboxStore.h"

#include "relay/networks/NetworkAdapter.h"
#include "relay/store/Sqlite.h"

namespace quillet::relay {

namespace {

const std::vector<std::string> kSchema = {
    "CREATE TABLE sandbox_users("
    " network TEXT NOT NULL, id TEXT NOT NULL, screen_name TEXT NOT NULL,"
    " password_hash TEXT NOT NULL, gender TEXT NOT NULL, location TEXT NOT NULL,"
    " description TEXT NOT NULL, website TEXT NOT NULL, verified INTEGER NOT NULL,"
    " avatar_large TEXT NOT NULL, avatar_small TEXT NOT NULL,"
    " PRIMARY KEY(network, id), UNIQUE(network, screen_name)) WITHOUT ROWID;"
    "CREATE TABLE sandbox_follows("
    " network TEXT NOT NULL, follower_id TEXT NOT NULL, followed_id TEXT NOT NULL,"
    " PRIMARY KEY(network, follower_id, followed_id)) WITHOUT ROWID;"
    "CREATE INDEX sandbox_follows_followed ON sandbox_follows(network, followed_id);"
    "CREATE TABLE sandbox_statuses("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, network TEXT NOT NULL, user_id TEXT NOT NULL,"
    " text TEXT NOT NULL, picture_large TEXT NOT NULL, picture_small TEXT NOT NULL,"
    " retweet_count INTEGER NOT NULL, good_count INTEGER NOT NULL,"
    " favor_count INTEGER NOT NULL, created_at INTEGER NOT NULL, application TEXT NOT NULL);"
    "CREATE INDEX sandbox_statuses_user ON sandbox_statuses(network, user_id, created_at);"
    "CREATE TABLE sandbox_comments("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, network TEXT NOT NULL, status_id INTEGER NOT NULL,"
    " user_id TEXT NOT NULL, text TEXT NOT NULL, created_at INTEGER NOT NULL,"
    " application TEXT NOT NULL);"
    "CREATE INDEX sandbox_comments_status ON sandbox_comments(status_id, id);"
    "CREATE TABLE sandbox_notifications("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, network TEXT NOT NULL, user_id TEXT NOT NULL,"
    " type TEXT NOT NULL, object_id INTEGER NOT NULL, text TEXT NOT NULL,"
    " delivered INTEGER NOT NULL);"
    "CREATE INDEX sandbox_notifications_user"
    " ON sandbox_notifications(network, user_id, delivered, id);"
    "CREATE TABLE sandbox_tokens("
    " token_hash TEXT PRIMARY KEY, network TEXT NOT NULL, user_id TEXT NOT NULL,"
    " secret_hash TEXT NOT NULL, expires_at INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE sandbox_pictures("
    " name TEXT PRIMARY KEY, content_type TEXT NOT NULL, etag TEXT NOT NULL,"
    " bytes BLOB NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE sandbox_seeded(network TEXT PRIMARY KEY) WITHOUT ROWID;",
    "ALTER TABLE sandbox_statuses ADD COLUMN retweet_of INTEGER NOT NULL DEFAULT 0;",
};

#define USER_COLUMNS                                                                               \
    "u.id, u.screen_name, u.gender, u.location, u.description, u.website, u.verified,"             \
    " u.avatar_large, u.avatar_small,"                                                             \
    " (SELECT COUNT(*) FROM sandbox_follows f WHERE f.network = u.network"                         \
    "  AND f.follower_id = u.id),"                                                                 \
    " (SELECT COUNT(*) FROM sandbox_follows f WHERE f.network = u.network"                         \
    "  AND f.followed_id = u.id)"

#define STATUS_SELECT                                                                              \
    "SELECT s.id, s.text, s.picture_large, s.picture_small,"                                       \
    " (SELECT COUNT(*) FROM sandbox_comments c WHERE c.status_id = s.id),"                         \
    " s.retweet_count, s.good_count, s.favor_count, s.created_at, s.application, s.retweet_of, "   \
    USER_COLUMNS                                                                                   \
    " FROM sandbox_statuses s JOIN sandbox_users u ON u.network = s.network AND u.id = s.user_id "
constexpr int kStatusColumnCount = 11;

SandboxUser ReadUser(const Statement& q, int first) {
    SandboxUser u;
    u.id = q.Text(first);
    u.screenName = q.Text(first + 1);
    u.gender = q.Text(first + 2);
    u.location = q.Text(first + 3);
    u.description = q.Text(first + 4);
    u.website = q.Text(first + 5);
    u.verified = q.Int(first + 6) != 0;
    u.avatarLarge = q.Text(first + 7);
    u.avatarSmall = q.Text(first + 8);
    u.followCount = q.Int(first + 9);
    u.followerCount = q.Int(first + 10);
    return u;
}

SandboxStatus ReadStatus(const Statement& q) {
    SandboxStatus s;
    s.id = q.Int(0);
    s.text = q.Text(1);
    s.pictureLarge = q.Text(2);
    s.pictureSmall = q.Text(3);
    s.commentCount = q.Int(4);
    s.retweetCount = q.Int(5);
    s.goodCount = q.Int(6);
    s.favorCount = q.Int(7);
    s.createdAt = q.Int(8);
    s.application = q.Text(9);
    s.retweetOf = q.Int(10);
    s.author = ReadUser(q, kStatusColumnCount);
    return s;
}

std::vector<SandboxUser> ReadUsers(Statement& q) {
    std::vector<SandboxUser> users;
    while (q.Step()) {
        users.push_back(ReadUser(q, 0));
    }
    return users;
}

std::vector<SandboxStatus> ReadStatuses(Statement& q) {
    std::vector<SandboxStatus> statuses;
    while (q.Step()) {
        statuses.push_back(ReadStatus(q));
    }
    return statuses;
}

std::optional<SandboxUser> UserWhere(Database& db, const std::string& network,
                                     std::string_view column, const std::string& value) {
    const std::string sql =
        std::string("SELECT " USER_COLUMNS " FROM sandbox_users u WHERE u.network = ?1 AND u.") +
        std::string(column) + " = ?2";
    auto q = db.Prepare(sql);
    q->Bind(1, network).Bind(2, value);
    if (!q->Step()) {
        return std::nullopt;
    }
    return ReadUser(*q, 0);
}

std::optional<SandboxStatus> StatusById(Database& db, const std::string& network, int64_t id) {
    auto q = db.Prepare(STATUS_SELECT "WHERE s.network = ?1 AND s.id = ?2");
    q->Bind(1, network).Bind(2, id);
    if (!q->Step()) {
        return std::nullopt;
    }
    return ReadStatus(*q);
}

bool InsertUser(Database& db, const std::string& network, const NewSandboxUser& user) {
    auto q = db.Prepare("INSERT OR IGNORE INTO sandbox_users(network, id, screen_name,"
                        " password_hash, gender, location, description, website, verified,"
                        " avatar_large, avatar_small) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11)");
    const SandboxUser& p = user.profile;
    q->Bind(1, network).Bind(2, p.id).Bind(3, p.screenName).Bind(4, user.passwordHash);
    q->Bind(5, p.gender).Bind(6, p.location).Bind(7, p.description).Bind(8, p.website);
    q->Bind(9, int64_t(p.verified)).Bind(10, p.avatarLarge).Bind(11, p.avatarSmall);
    q->Run();
    return db.Changes() == 1;
}

void InsertFollow(Database& db, const std::string& network, const std::string& followerId,
                  const std::string& followedId) {
    auto q = db.Prepare("INSERT OR IGNORE INTO sandbox_follows(network, follower_id, followed_id)"
                        " VALUES(?1, ?2, ?3)");
    q->Bind(1, network).Bind(2, followerId).Bind(3, followedId).Run();
}

void InsertNotifications(Database& db, const std::string& network, int64_t objectId,
                         const std::vector<NewNotification>& notifications) {
    for (const NewNotification& n : notifications) {
        auto q = db.Prepare("INSERT INTO sandbox_notifications(network, user_id, type,"
                            " object_id, text, delivered) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        q->Bind(1, network).Bind(2, n.recipientId).Bind(3, n.type).Bind(4, objectId);
        q->Bind(5, n.text).Bind(6, int64_t(n.delivered)).Run();
    }
}

int64_t InsertStatus(Database& db, const std::string& network, const NewStatus& s,
                     int64_t retweetOf = 0) {
    auto q = db.Prepare("INSERT INTO sandbox_statuses(network, user_id, text, picture_large,"
                        " picture_small, retweet_count, good_count, favor_count, created_at,"
                        " application, retweet_of) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11)");
    q->Bind(1, network).Bind(2, s.authorId).Bind(3, s.text).Bind(4, s.pictureLarge);
    q->Bind(5, s.pictureSmall).Bind(6, s.retweetCount).Bind(7, s.goodCount);
    q->Bind(8, s.favorCount).Bind(9, s.createdAt).Bind(10, s.application);
    q->Bind(11, retweetOf).Run();
    const int64_t id = db.LastInsertRowId();
    InsertNotifications(db, network, id, s.notifications);
    return id;
}

void InsertComment(Database& db, const std::string& network, int64_t statusId,
                   const NewComment& c) {
    auto q = db.Prepare("INSERT INTO sandbox_comments(network, status_id, user_id, text,"
                        " created_at, application) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    q->Bind(1, network).Bind(2, statusId).Bind(3, c.authorId).Bind(4, c.text);
    q->Bind(5, c.createdAt).Bind(6, c.application).Run();
    InsertNotifications(db, network, statusId, c.notifications);
}

void InsertPicture(Database& db, const NamedPicture& p) {
    auto q = db.Prepare("INSERT OR REPLACE INTO sandbox_pictures(name, content_type, etag, bytes)"
                        " VALUES(?1, ?2, ?3, ?4)");
    q->Bind(1, p.name).Bind(2, p.picture.contentType).Bind(3, p.picture.etag);
    q->BindBlob(4, p.picture.bytes).Run();
}

} // namespace

// A connection borrowed from the pool for one call; it goes back when the call ends.
class SqliteSandboxStore::Lease {
public:
    explicit Lease(SqliteSandboxStore& store) : m_store(store) {
        {
            std::lock_guard lock(store.m_mutex);
            if (!store.m_idle.empty()) {
                m_db = std::move(store.m_idle.back());
                store.m_idle.pop_back();
            }
        }
        if (!m_db) {
            m_db = std::make_unique<Database>(store.m_path, store.m_busyTimeoutMs);
        }
    }
    ~Lease() {
        std::lock_guard lock(m_store.m_mutex);
        m_store.m_idle.push_back(std::move(m_db));
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Database& Db() { return *m_db; }

private:
    SqliteSandboxStore& m_store;
    std::unique_ptr<Database> m_db;
};

template <typename F>
auto SqliteSandboxStore::With(F&& work) {
    try {
        Lease lease(*this);
        return work(lease.Db());
    } catch (const SqliteError& e) {
        if (e.Transient()) {
            throw TransientStoreError(e.what());
        }
        throw;
    }
}

SqliteSandboxStore::SqliteSandboxStore(std::string path, int busyTimeoutMs)
    : m_path(std::move(path)), m_busyTimeoutMs(busyTimeoutMs) {
    With([](Database& db) {
        db.Migrate("sandbox", kSchema);
        return 0;
    });
}

SqliteSandboxStore::~SqliteSandboxStore() = default;

std::optional<SandboxUser> SqliteSandboxStore::FindUserById(const std::string& network,
                                                            const std::string& id) {
    return With([&](Database& db) { return UserWhere(db, network, "id", id); });
}

std::optional<SandboxUser> SqliteSandboxStore::FindUserByScreenName(const std::string& network,
                                                                    const std::string& name) {
    return With([&](Database& db) { return UserWhere(db, network, "screen_name", name); });
}

std::optional<std::pair<std::string, std::string>>
SqliteSandboxStore::FindLogin(const std::string& network, const std::string& screenName) {
    return With([&](Database& db) -> std::optional<std::pair<std::string, std::string>> {
        auto q = db.Prepare("SELECT password_hash, id FROM sandbox_users"
                            " WHERE network = ?1 AND screen_name = ?2");
        q->Bind(1, network).Bind(2, screenName);
        if (!q->Step()) {
            return std::nullopt;
        }
        return std::make_pair(q->Text(0), q->Text(1));
    });
}

bool SqliteSandboxStore::AddUser(const std::string& network, const NewSandboxUser& user) {
    return With([&](Database& db) { return InsertUser(db, network, user); });
}

void SqliteSandboxStore::Follow(const std::string& network, const std::string& followerId,
                                const std::string& followedId) {
    With([&](Database& db) {
        InsertFollow(db, network, followerId, followedId);
        return 0;
    });
}

std::vector<SandboxUser> SqliteSandboxStore::Friends(const std::string& network,
                                                     const std::string& id, int limit) {
    return With([&](Database& db) {
        auto q = db.Prepare("SELECT " USER_COLUMNS " FROM sandbox_follows x JOIN sandbox_users u"
                            " ON u.network = x.network AND u.id = x.followed_id"
                            " WHERE x.network = ?1 AND x.follower_id = ?2"
                            " ORDER BY u.screen_name LIMIT ?3");
        q->Bind(1, network).Bind(2, id).Bind(3, int64_t(limit));
        return ReadUsers(*q);
    });
}

std::vector<SandboxUser> SqliteSandboxStore::Followers(const std::string& network,
                                                       const std::string& id, int limit) {
    return With([&](Database& db) {
        auto q = db.Prepare("SELECT " USER_COLUMNS " FROM sandbox_follows x JOIN sandbox_users u"
                            " ON u.network = x.network AND u.id = x.follower_id"
                            " WHERE x.network = ?1 AND x.followed_id = ?2"
                            " ORDER BY u.screen_name LIMIT ?3");
        q->Bind(1, network).Bind(2, id).Bind(3, int64_t(limit));
        return ReadUsers(*q);
    });
}

std::vector<SandboxStatus> SqliteSandboxStore::HomeTimeline(const std::string& network,
                                                            const std::string& userId, int limit) {
    return With([&](Database& db) {
        auto q = db.Prepare(STATUS_SELECT "WHERE s.network = ?1 AND (s.user_id = ?2 OR s.user_id IN"
                                          " (SELECT followed_id FROM sandbox_follows"
                                          "  WHERE network = ?1 AND follower_id = ?2))"
                                          " ORDER BY s.created_at DESC, s.id DESC LIMIT ?3");
        q->Bind(1, network).Bind(2, userId).Bind(3, int64_t(limit));
        return ReadStatuses(*q);
    });
}

std::vector<SandboxStatus> SqliteSandboxStore::UserTimeline(const std::string& network,
                                                            const std::string& userId, int limit) {
    return With([&](Database& db) {
        auto q = db.Prepare(STATUS_SELECT "WHERE s.network = ?1 AND s.user_id = ?2"
                                          " ORDER BY s.created_at DESC, s.id DESC LIMIT ?3");
        q->Bind(1, network).Bind(2, userId).Bind(3, int64_t(limit));
        return ReadStatuses(*q);
    });
}

std::optional<SandboxStatus> SqliteSandboxStore::FindStatus(const std::string& network,
                                                            int64_t id) {
    return With([&](Database& db) { return StatusById(db, network, id); });
}

std::vector<SandboxStatus> SqliteSandboxStore::Comments(const std::string& network,
                                                        int64_t statusId, int limit) {
    return With([&](Database& db) {
        auto q = db.Prepare("SELECT c.id, c.text, '', '', 0, 0, 0, 0, c.created_at,"
                            " c.application, 0, " USER_COLUMNS
                            " FROM sandbox_comments c JOIN sandbox_users u"
                            " ON u.network = c.network AND u.id = c.user_id"
                            " WHERE c.network = ?1 AND c.status_id = ?2 ORDER BY c.id LIMIT ?3");
        q->Bind(1, network).Bind(2, statusId).Bind(3, int64_t(limit));
        return ReadStatuses(*q);
    });
}

std::optional<SandboxStatus> SqliteSandboxStore::PostStatus(const std::string& network,
                                                            const NewStatus& status) {
    return With([&](Database& db) -> std::optional<SandboxStatus> {
        Transaction tx(db);
        {
            auto last = db.Prepare("SELECT text FROM sandbox_statuses"
                                   " WHERE network = ?1 AND user_id = ?2 ORDER BY id DESC LIMIT 1");
            last->Bind(1, network).Bind(2, status.authorId);
            if (last->Step() && last->Text(0) == status.text) {
                return std::nullopt;
            }
        }
        const int64_t id = InsertStatus(db, network, status);
        tx.Commit();
        return StatusById(db, network, id);
    });
}

std::vector<SandboxNotification> SqliteSandboxStore::TakeNotifications(const std::string& network,
                                                                       const std::string& userId) {
    return With([&](Database& db) {
        struct Pending {
            int64_t id;
            std::string type, text;
            int64_t objectId;
        };
        // Most polls find nothing: a plain read answers them without taking the store's write
        // lock, which every poller would otherwise queue for. One added after this check waits
        // for the next poll.
        {
            auto any = db.Prepare("SELECT 1 FROM sandbox_notifications"
                                  " WHERE network = ?1 AND user_id = ?2 AND delivered = 0 LIMIT 1");
            any->Bind(1, network).Bind(2, userId);
            if (!any->Step()) {
                return std::vector<SandboxNotification>{};
            }
        }
        Transaction tx(db);
        std::vector<Pending> pending;
        {
            auto q = db.Prepare("SELECT id, type, text, object_id FROM sandbox_notifications"
                                " WHERE network = ?1 AND user_id = ?2 AND delivered = 0"
                                " ORDER BY id LIMIT 100");
            q->Bind(1, network).Bind(2, userId);
            while (q->Step()) {
                pending.push_back({q->Int(0), q->Text(1), q->Text(2), q->Int(3)});
            }
        }
        std::vector<SandboxNotification> out;
        for (const Pending& p : pending) {
            if (auto status = StatusById(db, network, p.objectId)) {
                out.push_back({p.id, p.type, p.text, std::move(*status)});
            }
        }
        if (!pending.empty()) {
            auto mark = db.Prepare("UPDATE sandbox_notifications SET delivered = 1"
                                   " WHERE network = ?1 AND user_id = ?2 AND delivered = 0"
                                   " AND id <= ?3");
            mark->Bind(1, network).Bind(2, userId).Bind(3, pending.back().id).Run();
        }
        tx.Commit();
        return out;
    });
}

void SqliteSandboxStore::SaveToken(const std::string& tokenHash, const std::string& network,
                                   const std::string& userId, const std::string& secretHash,
                                   int64_t expiresAt, int64_t now) {
    With([&](Database& db) {
        Transaction tx(db);
        // Signing in is the moment to forget this user's spent tokens.
        auto spent = db.Prepare("DELETE FROM sandbox_tokens"
                                " WHERE network = ?1 AND user_id = ?2 AND expires_at <= ?3");
        spent->Bind(1, network).Bind(2, userId).Bind(3, now).Run();
        auto q = db.Prepare("INSERT OR REPLACE INTO sandbox_tokens(token_hash, network, user_id,"
                            " secret_hash, expires_at) VALUES(?1, ?2, ?3, ?4, ?5)");
        q->Bind(1, tokenHash).Bind(2, network).Bind(3, userId).Bind(4, secretHash);
        q->Bind(5, expiresAt).Run();
        tx.Commit();
        return 0;
    });
}

std::optional<SandboxToken> SqliteSandboxStore::FindToken(const std::string& tokenHash,
                                                          const std::string& network, int64_t now) {
    return With([&](Database& db) -> std::optional<SandboxToken> {
        auto q = db.Prepare("SELECT t.user_id, t.secret_hash, EXISTS(SELECT 1"
                            " FROM sandbox_notifications n WHERE n.network = t.network"
                            " AND n.user_id = t.user_id AND n.delivered = 0)"
                            " FROM sandbox_tokens t"
                            " WHERE t.token_hash = ?1 AND t.network = ?2 AND t.expires_at > ?3");
        q->Bind(1, tokenHash).Bind(2, network).Bind(3, now);
        if (!q->Step()) {
            return std::nullopt;
        }
        return SandboxToken{q->Text(0), q->Text(1), q->Int(2) != 0};
    });
}

void SqliteSandboxStore::SavePicture(const NamedPicture& picture) {
    With([&](Database& db) {
        InsertPicture(db, picture);
        return 0;
    });
}

std::optional<StoredPicture> SqliteSandboxStore::LoadPicture(const std::string& name) {
    return With([&](Database& db) -> std::optional<StoredPicture> {
        auto q = db.Prepare("SELECT content_type, etag, bytes FROM sandbox_pictures"
                            " WHERE name = ?1");
        q->Bind(1, name);
        if (!q->Step()) {
            return std::nullopt;
        }
        return StoredPicture{q->Text(0), q->Text(1), q->Blob(2)};
    });
}

bool SqliteSandboxStore::IsSeeded(const std::string& network) {
    return With([&](Database& db) {
        auto q = db.Prepare("SELECT 1 FROM sandbox_seeded WHERE network = ?1");
        q->Bind(1, network);
        return q->Step();
    });
}

bool SqliteSandboxStore::SeedNetwork(const std::string& network, const DemoNetwork& demo) {
    return With([&](Database& db) {
        Transaction tx(db);
        {
            auto seeded = db.Prepare("SELECT 1 FROM sandbox_seeded WHERE network = ?1");
            seeded->Bind(1, network);
            if (seeded->Step()) {
                return false;
            }
        }
        for (const NamedPicture& p : demo.pictures) {
            InsertPicture(db, p);
        }
        for (const NewSandboxUser& u : demo.users) {
            InsertUser(db, network, u);
        }
        for (const auto& [follower, followed] : demo.follows) {
            InsertFollow(db, network, follower, followed);
        }
        std::vector<int64_t> ids;
        for (const NewStatus& s : demo.statuses) {
            ids.push_back(InsertStatus(db, network, s, s.repostOf ? ids.at(*s.repostOf) : 0));
        }
        for (const NewComment& c : demo.comments) {
            InsertComment(db, network, ids.at(c.statusIndex), c);
        }
        db.Prepare("INSERT INTO sandbox_seeded(network) VALUES(?1)")->Bind(1, network).Run();
        tx.Commit();
        return true;
    });
}

} // namespace quillet::relay
