#include "relay/networks/SandboxAdapter.h"

#include "relay/networks/SandboxCrypto.h"
#include "relay/networks/SandboxText.h"
#include "relay/xml/ReplyWriter.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <map>

namespace quillet::relay {

namespace {

// Readers trim blanks at the edges of every text, which would glue the words around a link or
// a mention together; edge spaces go out as no-break spaces, which are not trimmed.
std::string KeepEdgeSpaces(const std::string& text) {
    const size_t first = std::min(text.find_first_not_of(' '), text.size());
    const size_t end = first == text.size() ? first : text.find_last_not_of(' ') + 1;
    std::string out;
    const auto noBreakSpaces = [&out](size_t n) {
        for (; n > 0; --n)
            out += "\xC2\xA0";
    };
    noBreakSpaces(first);
    out.append(text, first, end - first);
    noBreakSpaces(text.size() - end);
    return out;
}

constexpr int kDefaultLimit = 20;
constexpr int kMaxLimit = 200;
constexpr int kErrorExpired = 2;
constexpr int kErrorRepeated = 4;
constexpr const char* kApplication = "Quillet";

// A refused request: its text (and code, when not negative) become the error reply.
struct Refusal {
    std::string text;
    int code = -1;
};

// The hash VerifyPassword is run against for an unknown name, so that a wrong name costs as
// long as a wrong password and the time does not tell which names exist.
const std::string& DecoyHash() {
    static const std::string hash = HashPassword(RandomToken());
    return hash;
}

std::optional<int64_t> ParseId(std::string_view text) {
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 1) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string FormatSandboxTime(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S+0000", &tm);
    return text;
}

struct SandboxAdapter::Request {
    const Params& params;
    std::string userId;
    bool notificationsWaiting;
    ReplyWriter& out;
    // Screen name to the "extra" of its mention blocks, looked up before any output is written.
    std::map<std::string, std::optional<std::string>, std::less<>> mentions;
    // Reposted statuses by id, also read before any output is written.
    std::map<int64_t, SandboxStatus> reposts;

    // The value of a parameter given at most once; a repeated one is refused rather than guessed.
    const std::string* Param(std::string_view name) const {
        const std::string* found = nullptr;
        for (const auto& [key, value] : params) {
            if (key != name) {
                continue;
            }
            if (found) {
                throw Refusal{"parameter \"" + std::string(name) + "\" given more than once"};
            }
            found = &value;
        }
        return found;
    }

    int Limit() const {
        const std::string* text = Param("limit");
        if (!text) {
            return kDefaultLimit;
        }
        const auto value = ParseId(*text);
        if (!value || *value > kMaxLimit) {
            throw Refusal{"limit must be a whole number from 1 to " + std::to_string(kMaxLimit)};
        }
        return static_cast<int>(*value);
    }

    // The user named by "ID", or the caller when there is none.
    std::string TargetId() const {
        const std::string* id = Param("ID");
        return id ? *id : userId;
    }
};

SandboxAdapter::SandboxAdapter(std::string name, SandboxStore& store, const SandboxOptions& options,
                               Clock clock)
    : m_name(std::move(name)), m_store(store), m_options(options), m_clock(std::move(clock)) {}

size_t SandboxAdapter::TextLimit() const {
    return m_name == "facebook" ? 4096 : 140;
}

std::optional<SignInResult> SandboxAdapter::SignIn(const std::string& screenName,
                                                   const std::string& password) {
    const auto login = m_store.FindLogin(m_name, screenName);
    const bool match = VerifyPassword(password, login ? login->first : DecoyHash());
    if (!login || !match) {
        return std::nullopt;
    }
    SignInResult result;
    result.accountName = login->second;
    result.accessToken = RandomToken();
    if (m_name == "twitter") {
        result.accessSecret = RandomToken();
    }
    result.expireIn = m_options.tokenLifetime;
    const std::string secretHash =
        result.accessSecret.empty() ? "" : Sha256Hex(result.accessSecret);
    const int64_t now = m_clock();
    m_store.SaveToken(Sha256Hex(result.accessToken), m_name, result.accountName, secretHash,
                      now + m_options.tokenLifetime, now);
    return result;
}

std::optional<SandboxToken> SandboxAdapter::Authenticate(const Credentials& credentials) {
    if (credentials.accessToken.empty()) {
        return std::nullopt;
    }
    auto token = m_store.FindToken(Sha256Hex(credentials.accessToken), m_name, m_clock());
    if (!token) {
        return std::nullopt;
    }
    const std::string secretHash =
        credentials.accessSecret.empty() ? "" : Sha256Hex(credentials.accessSecret);
    if (secretHash != token->secretHash) {
        return std::nullopt;
    }
    return token;
}

bool SandboxAdapter::TokenValid(const std::string& accountName, const Credentials& credentials) {
    const auto token = Authenticate(credentials);
    return token && token->userId == accountName;
}

void SandboxAdapter::Call(const std::string& category, const Params& params,
                          const Credentials& credentials, ReplyWriter& out) {
    auto token = Authenticate(credentials);
    if (!token) {
        out.Error("the access token has expired or is not known", kErrorExpired);
        return;
    }
    Request request{params, std::move(token->userId), token->notificationsWaiting, out, {}, {}};
    try {
        Dispatch(category, request);
    } catch (const Refusal& refusal) {
        out.Error(refusal.text, refusal.code);
    }
}

void SandboxAdapter::Dispatch(const std::string& category, Request& request) {
    if (category == "user") {
        User(request);
    } else if (category == "public_timeline" || category == "timeline") {
        Timeline(request, category == "public_timeline");
    } else if (category == "friends" || category == "followers") {
        Users(request, category == "friends");
    } else if (category == "update_status") {
        UpdateStatus(request);
    } else if (category == "comment") {
        Comment(request);
    } else if (category == "notify") {
        Notify(request);
    } else {
        throw Refusal{"unknown category"};
    }
}

void SandboxAdapter::User(Request& request) {
    const std::string* id = request.Param("ID");
    const std::string* screenName = request.Param("screen_name");
    std::optional<SandboxUser> user;
    if (id) {
        user = m_store.FindUserById(m_name, *id);
    } else if (screenName) {
        user = m_store.FindUserByScreenName(m_name, *screenName);
    } else {
        throw Refusal{"\"ID\" or \"screen_name\" is required"};
    }
    if (!user) {
        throw Refusal{"no such user"};
    }
    WriteUser(request.out, *user);
}

void SandboxAdapter::Timeline(Request& request, bool home) {
    const int limit = request.Limit();
    std::vector<SandboxStatus> statuses;
    if (home) {
        statuses = m_store.HomeTimeline(m_name, request.userId, limit);
    } else {
        const std::string id = request.TargetId();
        if (!m_store.FindUserById(m_name, id)) {
            throw Refusal{"no such user"};
        }
        statuses = m_store.UserTimeline(m_name, id, limit);
    }
    for (const SandboxStatus& status : statuses) {
        PrepareStatus(request, status);
    }
    request.out.BeginList("result");
    for (const SandboxStatus& status : statuses) {
        request.out.BeginDict("status");
        WriteStatus(request, status);
        request.out.EndDict();
    }
    request.out.EndList();
}

void SandboxAdapter::Users(Request& request, bool friends) {
    const int limit = request.Limit();
    const std::string id = request.TargetId();
    if (!m_store.FindUserById(m_name, id)) {
        throw Refusal{"no such user"};
    }
    const auto users =
        friends ? m_store.Friends(m_name, id, limit) : m_store.Followers(m_name, id, limit);
    request.out.BeginList("result");
    for (const SandboxUser& user : users) {
        request.out.BeginDict("user");
        WriteUser(request.out, user);
        request.out.EndDict();
    }
    request.out.EndList();
}

void SandboxAdapter::UpdateStatus(Request& request) {
    const std::string* text = request.Param("status");
    if (!text || text->empty()) {
        throw Refusal{"\"status\" is required and must not be empty"};
    }
    if (!StorableText(*text)) {
        throw Refusal{"\"status\" is not valid UTF-8 text"};
    }
    if (Utf16Length(*text) > TextLimit()) {
        throw Refusal{"\"status\" is longer than " + std::to_string(TextLimit()) + " characters"};
    }
    const auto author = m_store.FindUserById(m_name, request.userId);
    if (!author) {
        throw Refusal{"no such user"};
    }
    NewStatus status;
    status.authorId = author->id;
    status.text = *text;
    status.createdAt = m_clock();
    status.application = kApplication;
    for (const std::string& name : MentionedNames(*text, m_name == "sina")) {
        const auto mentioned = m_store.FindUserByScreenName(m_name, name);
        if (mentioned && mentioned->id != author->id) {
            status.notifications.push_back(
                {mentioned->id, "mention_status", author->screenName + " 在微博中提到了你", false});
        }
    }
    const auto posted = m_store.PostStatus(m_name, status);
    if (!posted) {
        throw Refusal{"the same status was just posted", kErrorRepeated};
    }
    PrepareStatus(request, *posted);
    WriteStatus(request, *posted);
}

void SandboxAdapter::Comment(Request& request) {
    if (m_name == "twitter") {
        // The client shows the status it already has when there is no thread.
        throw Refusal{"None"};
    }
    const std::string* idText = request.Param("ID");
    const auto id = idText ? ParseId(*idText) : std::nullopt;
    if (!id) {
        throw Refusal{"\"ID\" must be a status id"};
    }
    const auto status = m_store.FindStatus(m_name, *id);
    if (!status) {
        throw Refusal{"no such status"};
    }
    const auto comments = m_store.Comments(m_name, *id, request.Limit());
    PrepareStatus(request, *status);
    for (const SandboxStatus& comment : comments) {
        ResolveMentions(request, comment);
    }
    WriteStatus(request, *status);
    request.out.BeginList("comments");
    for (const SandboxStatus& comment : comments) {
        request.out.BeginDict("comment");
        WriteStatus(request, comment);
        request.out.EndDict();
    }
    request.out.EndList();
}

void SandboxAdapter::Notify(Request& request) {
    // None were waiting when the token was read: one added since waits for the next poll, as it
    // would had it come just after this one.
    const auto notifications = request.notificationsWaiting
                                   ? m_store.TakeNotifications(m_name, request.userId)
                                   : std::vector<SandboxNotification>{};
    try {
        for (const SandboxNotification& n : notifications) {
            PrepareStatus(request, n.object);
        }
    } catch (const TransientStoreError&) {
        // These notifications count as delivered already: better plain mentions than none.
    }
    ReplyWriter& out = request.out;
    out.BeginDict("counts");
    out.Int("count", static_cast<int64_t>(notifications.size()));
    out.EndDict();
    out.BeginList("notifies");
    for (const SandboxNotification& n : notifications) {
        out.BeginDict("notify");
        out.Str("text", n.text);
        out.Str("type", n.type);
        out.Str("object_id", std::to_string(n.object.id));
        out.BeginDict("object");
        WriteStatus(request, n.object);
        out.EndDict();
        out.EndDict();
    }
    out.EndList();
}

std::string SandboxAdapter::PictureUrl(const std::string& name) const {
    return name.empty() ? std::string() : m_options.publicUrl + "/pictures/" + name;
}

void SandboxAdapter::WriteImage(ReplyWriter& out, std::string_view key, const std::string& large,
                                const std::string& small) const {
    out.BeginDict(key);
    out.Str("large_url", PictureUrl(large));
    out.Str("small_url", PictureUrl(small));
    out.EndDict();
}

void SandboxAdapter::WriteUser(ReplyWriter& out, const SandboxUser& user) const {
    out.Str("id", user.id);
    out.Str("screen_name", user.screenName);
    out.Str("user_name", user.screenName);
    out.Str("gender", user.gender);
    out.Str("location", user.location);
    out.Str("description", user.description);
    out.Str("website", user.website);
    out.Bool("verified", user.verified);
    WriteImage(out, "profile_image", user.avatarLarge, user.avatarSmall);
    out.Int("follow_count", user.followCount);
    out.Int("follower_count", user.followerCount);
}

void SandboxAdapter::ResolveMentions(Request& request, const SandboxStatus& status) {
    for (const std::string& name : MentionedNames(status.text, m_name == "sina")) {
        if (request.mentions.contains(name)) {
            continue;
        }
        const auto user = m_store.FindUserByScreenName(m_name, name);
        // The client looks a mention up by screen name on sina and by id elsewhere.
        request.mentions.emplace(name, !user              ? std::nullopt
                                       : m_name == "sina" ? std::optional(user->screenName)
                                                          : std::optional(user->id));
    }
}

void SandboxAdapter::PrepareStatus(Request& request, const SandboxStatus& status) {
    ResolveMentions(request, status);
    if (status.retweetOf == 0 || request.reposts.contains(status.retweetOf)) {
        return;
    }
    // A reposted status that is gone leaves the repost as a plain status.
    if (auto repost = m_store.FindStatus(m_name, status.retweetOf)) {
        ResolveMentions(request, *repost);
        request.reposts.emplace(status.retweetOf, std::move(*repost));
    }
}

void SandboxAdapter::WriteStatus(Request& request, const SandboxStatus& status, bool withRepost) {
    const MentionResolver resolve = [&request](std::string_view name) {
        const auto it = request.mentions.find(name);
        return it == request.mentions.end() ? std::nullopt : it->second;
    };
    const auto blocks = CutBlocks(status.text, m_name == "sina", resolve);

    ReplyWriter& out = request.out;
    out.Str("id", std::to_string(status.id));
    out.BeginDict("text");
    out.Str("text", status.text);
    out.BeginList("blocks");
    for (const TextBlock& block : blocks) {
        out.BeginDict("block");
        out.Str("texttype", block.type);
        out.Str("text", KeepEdgeSpaces(block.text));
        out.Str("extra", block.extra);
        out.EndDict();
    }
    out.EndList();
    out.EndDict();
    WriteImage(out, "image", status.pictureLarge, status.pictureSmall);
    out.BeginDict("user");
    WriteUser(out, status.author);
    out.EndDict();
    out.Int("comment_count", status.commentCount);
    out.Int("retweet_count", status.retweetCount);
    out.Int("good_count", status.goodCount);
    out.Int("favor_count", status.favorCount);
    out.Str("time", FormatSandboxTime(status.createdAt));
    out.Str("application", status.application);
    const auto repost = request.reposts.find(status.retweetOf);
    if (!withRepost || status.retweetOf == 0 || repost == request.reposts.end()) {
        return;
    }
    // One level only, as the networks show it: a repost of a repost shows the status it reposts.
    out.BeginDict("retweet");
    WriteStatus(request, repost->second, false);
    out.EndDict();
}

} // namespace quillet::relay
