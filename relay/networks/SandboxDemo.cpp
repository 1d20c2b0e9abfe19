#include "relay/networks/SandboxDemo.h"

#include "relay/networks/SandboxCrypto.h"
#include "relay/networks/SandboxPictures.h"

#include <array>
#include <functional>

namespace quillet::relay {

namespace {

constexpr int kStatusCount = 100;
constexpr int kPictureCount = 12;
constexpr int kUndelivered = 3; // of each notification type, for "demo"
constexpr int64_t kStatusSpacing = 1800;

struct DemoUser {
    const char* screenName;
    const char* gender;
    const char* location;
    const char* description;
    const char* website;
    bool verified;
};

// Index 0 is "demo"; index 7 ("eve") is followed by nobody, so her statuses stay out of demo's
// home timeline.
constexpr std::array<DemoUser, 8> kUsers = {{
    {"demo", "m", "北京", "Quillet 的演示账号", "https://example.com/demo", false},
    {"alice", "f", "上海", "喜欢摄影和旅行", "https://example.com/alice", true},
    {"bob", "m", "广州", "程序员，写点代码", "", false},
    {"小明", "m", "杭州", "学生", "", false},
    {"carol", "f", "成都", "美食博主", "https://example.com/carol", false},
    {"dave", "n", "", "", "", false},
    {"新闻快讯", "n", "北京", "每日新闻", "https://news.example.com", true},
    {"eve", "f", "深圳", "只关注，不发言", "", false},
}};
constexpr size_t kEve = 7;

constexpr std::array<std::pair<int, int>, 16> kFollows = {{
    {0, 1},
    {0, 2},
    {0, 3},
    {0, 4},
    {0, 5},
    {0, 6}, // demo follows all but eve
    {1, 0},
    {2, 0},
    {3, 0},
    {4, 0},
    {7, 0}, // and is followed back
    {7, 1},
    {1, 2},
    {1, 6},
    {2, 1},
    {3, 6},
}};

constexpr std::array<size_t, 10> kAuthors = {0, 1, 2, 3, 4, 5, 6, 1, 0, 3};

constexpr std::array<const char*, 3> kApplications = {"Quillet", "iPhone客户端", "网页"};

std::string Replace(std::string text, const std::string& key, const std::string& value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
        text.replace(at, key.size(), value);
        at += value.size();
    }
    return text;
}

std::string StatusText(int i, const std::string& mention) {
    static constexpr std::array<const char*, 8> templates = {
        "今天天气不错，出去走走。第{i}天",
        "看看这个链接 https://example.com/post/{i} 很有意思",
        "@{m} 晚上一起吃饭吗？",
        "#周末去哪儿# 推荐几个好地方，第{i}个",
        "[哈哈] 这个太好笑了[爱你] ({i})",
        "新版本发布了！详情见 http://example.org/release/{i} #Quillet# @{m}",
        "第{i}条：随便写写，@nobody 不在这里。",
        "Hello from the sandbox, message {i}.",
    };
    const std::string text =
        Replace(templates[size_t(i) % templates.size()], "{i}", std::to_string(i));
    return Replace(text, "{m}", mention);
}

std::string UserId(const std::string& network, size_t index) {
    const int64_t base = network == "sina" ? 1 : network == "twitter" ? 2 : 3;
    return std::to_string(base * 1000000000 + 1001 + int64_t(index));
}

// Marks the latest few notifications of a type to demo as not yet delivered.
template <typename Items>
void LeaveLatestUndelivered(Items& items) {
    int left = kUndelivered;
    for (auto it = items.rbegin(); it != items.rend() && left > 0; ++it) {
        for (NewNotification& n : it->notifications) {
            if (left > 0) {
                n.delivered = false;
                --left;
            }
        }
    }
}

} // namespace

StoredPicture PngPicture(std::string bytes) {
    const std::string etag = "\"" + Sha256Hex(bytes).substr(0, 32) + "\"";
    return {"image/png", etag, std::move(bytes)};
}

std::vector<NamedPicture> MakeAvatars(const std::string& network, SandboxUser& user) {
    const auto seed = uint32_t(std::hash<std::string>{}(network + "/" + user.id));
    user.avatarLarge = network + "-u" + user.id + "-180.png";
    user.avatarSmall = network + "-u" + user.id + "-50.png";
    return {{user.avatarLarge, PngPicture(AvatarPng(seed, 180))},
            {user.avatarSmall, PngPicture(AvatarPng(seed, 50))}};
}

DemoNetwork BuildDemoNetwork(const std::string& network, int64_t now,
                             const std::string& passwordHash) {
    DemoNetwork demo;
    for (size_t i = 0; i < kUsers.size(); ++i) {
        const DemoUser& d = kUsers[i];
        NewSandboxUser user{{UserId(network, i), d.screenName, d.gender, d.location, d.description,
                             d.website, d.verified, "", ""},
                            passwordHash};
        auto avatars = MakeAvatars(network, user.profile);
        demo.pictures.insert(demo.pictures.end(), avatars.begin(), avatars.end());
        demo.users.push_back(std::move(user));
    }
    for (const auto& [follower, followed] : kFollows) {
        demo.follows.emplace_back(UserId(network, size_t(follower)),
                                  UserId(network, size_t(followed)));
    }
    for (int p = 0; p < kPictureCount; ++p) {
        const std::string base = network + "-p" + std::to_string(p);
        demo.pictures.push_back(
            {base + "-large.png", PngPicture(LandscapePng(uint32_t(p), 440, 330))});
        demo.pictures.push_back(
            {base + "-small.png", PngPicture(LandscapePng(uint32_t(p), 120, 90))});
    }

    const bool comments = network != "twitter"; // no comment threads there
    for (int i = 0; i < kStatusCount; ++i) {
        const size_t author = i % 25 == 24 ? kEve : kAuthors[size_t(i) % kAuthors.size()];
        const size_t mentioned = (author + 1 + size_t(i / 8)) % 7;
        NewStatus s;
        s.authorId = UserId(network, author);
        s.text = StatusText(i, kUsers[mentioned].screenName);
        s.createdAt = now - (kStatusCount - i) * kStatusSpacing;
        s.application = kApplications[size_t(i) % kApplications.size()];
        if (i % 4 == 1) {
            const std::string base = network + "-p" + std::to_string((i / 4) % kPictureCount);
            s.pictureLarge = base + "-large.png";
            s.pictureSmall = base + "-small.png";
        }
        if (i % 7 == 6) {
            // A repost of the latest status with a picture at least three before it; that one
            // is never a repost itself.
            s.repostOf = size_t((i - 4) / 4 * 4 + 1);
        }
        const bool quiet = i % 10 == 3; // a status nobody reacted to
        s.retweetCount = quiet || i % 5 == 2 ? 0 : (i * 7) % 13 + 1;
        s.goodCount = quiet || i % 3 == 0 ? 0 : i % 11 + 1;
        s.favorCount = quiet || i % 4 == 0 ? 0 : i % 6 + 1;
        const bool mentions =
            s.text.find("@" + std::string(kUsers[mentioned].screenName)) != std::string::npos;
        if (mentions && mentioned == 0 && author != 0) {
            s.notifications.push_back({UserId(network, 0), "mention_status",
                                       std::string(kUsers[author].screenName) + " 在微博中提到了你",
                                       true});
        }
        demo.statuses.push_back(std::move(s));

        if (!comments || quiet || i % 5 != 0) {
            continue;
        }
        static constexpr std::array<const char*, 3> replies = {"说得好！", "[赞] 学习了",
                                                               "同意，@demo 你怎么看？"};
        for (int j = 0; j < 1 + i % 3; ++j) {
            const size_t commenter = (author + 1 + size_t(j)) % 7;
            NewComment c;
            c.statusIndex = size_t(i);
            c.authorId = UserId(network, commenter);
            c.text = replies[size_t(j) % replies.size()];
            c.createdAt = demo.statuses.back().createdAt + 300 * (j + 1);
            c.application = kApplications[size_t(j) % kApplications.size()];
            if (author == 0 && commenter != 0) {
                c.notifications.push_back(
                    {UserId(network, 0), "comment",
                     std::string(kUsers[commenter].screenName) + " 评论了你的微博：" + c.text,
                     true});
            }
            demo.comments.push_back(std::move(c));
        }
    }
    LeaveLatestUndelivered(demo.statuses);
    LeaveLatestUndelivered(demo.comments);
    return demo;
}

} // namespace quillet::relay
