#include "relay/networks/Sandbox.h"

#include "relay/networks/SandboxCrypto.h"
#include "relay/xml/ReplyWriter.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <pugixml.hpp>
#include <set>
#include <sqlite3.h>
#include <sstream>
#include <thread>

using namespace quillet::relay;

namespace {

// A sandbox on its own temporary database, driven in process through its adapters.
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("sandbox-test-" + RandomToken().substr(0, 12));
        std::filesystem::create_directories(m_dir);
        Open(30 * 24 * 3600);
    }

    void TearDown() override {
        m_sandbox.reset();
        std::filesystem::remove_all(m_dir);
    }

    void Open(int64_t tokenLifetime, int busyTimeoutMs = 5000) {
        m_sandbox.reset();
        m_sandbox = std::make_unique<Sandbox>(SandboxOptions{
            (m_dir / "relay.db").string(), "http://relay.test", tokenLifetime, busyTimeoutMs});
    }

    Credentials SignIn(const std::string& network, const std::string& name,
                       const std::string& password = "demo") {
        const auto result = m_sandbox->Adapter(network)->SignIn(name, password);
        EXPECT_TRUE(result) << name;
        return result ? Credentials{result->accessToken, result->accessSecret} : Credentials{};
    }

    pugi::xml_node Call(const std::string& network, const Credentials& credentials,
                        const std::string& category, const Params& params = {}) {
        ReplyWriter out;
        m_sandbox->Adapter(network)->Call(category, params, credentials, out);
        m_replies.emplace_back(std::make_unique<pugi::xml_document>());
        const std::string text = out.Finish();
        EXPECT_TRUE(m_replies.back()->load_string(text.c_str())) << text;
        return m_replies.back()->document_element();
    }

    std::filesystem::path m_dir;
    std::unique_ptr<Sandbox> m_sandbox;
    std::vector<std::unique_ptr<pugi::xml_document>> m_replies;
};

std::string Text(pugi::xml_node node, const char* path) {
    return node.first_element_by_path(path).text().as_string();
}

int64_t Int(pugi::xml_node node, const char* path) {
    return node.first_element_by_path(path).text().as_llong(-1);
}

std::vector<pugi::xml_node> Items(pugi::xml_node list) {
    std::vector<pugi::xml_node> items;
    for (pugi::xml_node item : list.children()) {
        items.push_back(item);
    }
    return items;
}

// Every element below the root carries its kind, and dictionaries and lists hold nothing but
// elements, as the client's reader needs.
void ExpectTyped(pugi::xml_node container) {
    for (pugi::xml_node child : container.children()) {
        ASSERT_EQ(child.type(), pugi::node_element) << container.name();
        const std::string type = child.attribute("type").value();
        ASSERT_TRUE(type == "str" || type == "int" || type == "bool" || type == "dict" ||
                    type == "list")
            << child.name();
        if (type == "dict" || type == "list") {
            ExpectTyped(child);
        }
    }
}

constexpr const char* kNetworks[] = {"sina", "twitter", "facebook"};

} // namespace

TEST_F(SandboxTest, DemoSeedsEveryNetworkOnceWithAFullHomeTimeline) {
    m_sandbox->SeedDemo();
    m_sandbox->SeedDemo();
    for (const std::string network : kNetworks) {
        SCOPED_TRACE(network);
        const Credentials demo = SignIn(network, "demo");
        const auto home = Call(network, demo, "public_timeline", {{"limit", "200"}});
        ExpectTyped(home);
        const auto statuses = Items(home.child("result"));
        ASSERT_GE(statuses.size(), 80u);
        EXPECT_LT(statuses.size(), 200u);

        std::set<std::string> types, ids;
        int withPicture = 0, quiet = 0, busy = 0;
        std::string previousTime = "9999";
        for (pugi::xml_node s : statuses) {
            ids.insert(Text(s, "id"));
            for (pugi::xml_node block : s.child("text").child("blocks").children()) {
                types.insert(Text(block, "texttype"));
            }
            withPicture += !Text(s, "image/small_url").empty();
            const int64_t counts = Int(s, "comment_count") + Int(s, "retweet_count") +
                                   Int(s, "good_count") + Int(s, "favor_count");
            (counts == 0 ? quiet : busy) += 1;
            EXPECT_LE(Text(s, "time"), previousTime); // newest first
            previousTime = Text(s, "time");
            EXPECT_EQ(Text(s, "time").size(), 24u);
        }
        EXPECT_EQ(ids.size(), statuses.size()); // seeded once, not twice
        std::set<std::string> expected = {"normal", "url", "mention", "trend"};
        if (network == "sina") {
            expected.insert("emotion");
        }
        EXPECT_EQ(types, expected);
        EXPECT_GT(withPicture, 0);
        EXPECT_GT(quiet, 0);
        EXPECT_GT(busy, 0);

        // The picture addresses lead to pictures the sandbox serves.
        const std::string url = Text(statuses.front(), "user/profile_image/small_url");
        const std::string prefix = "http://relay.test/pictures/";
        ASSERT_EQ(url.substr(0, prefix.size()), prefix);
        const auto picture = m_sandbox->FindPicture(url.substr(prefix.size()));
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->contentType, "image/png");
        EXPECT_EQ(picture->bytes.substr(1, 3), "PNG");
        EXPECT_FALSE(picture->etag.empty());
    }
}

TEST_F(SandboxTest, DemoRepostsCarryTheRepostedStatusOneLevelDeep) {
    m_sandbox->SeedDemo();
    const Credentials demo = SignIn("sina", "demo");
    const auto home = Call("sina", demo, "public_timeline");
    ExpectTyped(home);
    std::map<std::string, pugi::xml_node> byId;
    std::vector<pugi::xml_node> reposts;
    for (pugi::xml_node s : Items(home.child("result"))) {
        byId[Text(s, "id")] = s;
        if (s.child("retweet")) {
            reposts.push_back(s);
        }
    }
    ASSERT_GE(reposts.size(), 2u); // the first page already shows some
    for (pugi::xml_node s : reposts) {
        const pugi::xml_node r = s.child("retweet");
        EXPECT_EQ(std::string(r.attribute("type").value()), "dict");
        EXPECT_LT(std::stoll(Text(r, "id")), std::stoll(Text(s, "id")));
        EXPECT_FALSE(Text(r, "user/screen_name").empty());
        EXPECT_FALSE(Text(r, "text/text").empty());
        EXPECT_FALSE(Text(r, "image/small_url").empty());
        EXPECT_LT(Text(r, "time"), Text(s, "time"));
        EXPECT_TRUE(r.child("retweet").empty());
        // The reposted status reads the same as in the timeline, where it appears there.
        const auto same = byId.find(Text(r, "id"));
        if (same != byId.end()) {
            EXPECT_EQ(Text(same->second, "text/text"), Text(r, "text/text"));
        }
    }
    // A repost read on its own carries the reposted status too.
    const auto status = Call("sina", demo, "comment", {{"ID", Text(reposts.front(), "id")}});
    EXPECT_EQ(Text(status, "retweet/id"), Text(reposts.front(), "retweet/id"));
}

TEST_F(SandboxTest, DemoNotificationsOfBothKindsAreDeliveredOnce) {
    m_sandbox->SeedDemo();
    const Credentials demo = SignIn("sina", "demo");
    const auto first = Call("sina", demo, "notify");
    ExpectTyped(first);
    const auto notifies = Items(first.child("notifies"));
    EXPECT_EQ(Int(first, "counts/count"), int64_t(notifies.size()));
    std::set<std::string> kinds;
    for (pugi::xml_node n : notifies) {
        kinds.insert(Text(n, "type"));
        EXPECT_FALSE(Text(n, "text").empty());
        EXPECT_EQ(Text(n, "object_id"), Text(n, "object/id"));
        EXPECT_FALSE(Text(n, "object/user/screen_name").empty());
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"mention_status", "comment"}));

    const auto second = Call("sina", demo, "notify");
    EXPECT_EQ(Int(second, "counts/count"), 0);
    EXPECT_TRUE(Items(second.child("notifies")).empty());
}

TEST_F(SandboxTest, MentionAfterAnEmptyPollIsDeliveredOnceWhicheverTokenPolls) {
    ASSERT_TRUE(m_sandbox->CreateUser("sina", "alice", "pw-a"));
    ASSERT_TRUE(m_sandbox->CreateUser("sina", "bob", "pw-b"));
    const Credentials alice = SignIn("sina", "alice", "pw-a");
    const Credentials phone = SignIn("sina", "bob", "pw-b");
    const Credentials desk = SignIn("sina", "bob", "pw-b");
    EXPECT_EQ(Int(Call("sina", phone, "notify"), "counts/count"), 0);
    EXPECT_EQ(Int(Call("sina", desk, "notify"), "counts/count"), 0);

    const auto posted = Call("sina", alice, "update_status", {{"status", "hello @bob"}});
    const auto told = Call("sina", phone, "notify");
    ASSERT_EQ(Int(told, "counts/count"), 1);
    EXPECT_EQ(Text(told, "notifies/notify/object_id"), Text(posted, "id"));
    EXPECT_EQ(Int(Call("sina", desk, "notify"), "counts/count"), 0);
    EXPECT_EQ(Int(Call("sina", phone, "notify"), "counts/count"), 0);
    EXPECT_EQ(Int(Call("sina", alice, "notify"), "counts/count"), 0);
}

TEST_F(SandboxTest, PollsRacingPostsDeliverEveryMentionExactlyOnce) {
    ASSERT_TRUE(m_sandbox->CreateUser("sina", "alice", "pw-a"));
    ASSERT_TRUE(m_sandbox->CreateUser("sina", "bob", "pw-b"));
    const Credentials alice = SignIn("sina", "alice", "pw-a");
    const std::vector<Credentials> bob = {SignIn("sina", "bob", "pw-b"),
                                          SignIn("sina", "bob", "pw-b")};
    constexpr int kPosts = 40;
    std::atomic<bool> posting{true};
    std::mutex mutex;
    std::multiset<std::string> delivered;
    NetworkAdapter* sina = m_sandbox->Adapter("sina");
    const auto poll = [&](const Credentials& c) {
        ReplyWriter out;
        sina->Call("notify", {}, c, out);
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(out.Finish().c_str()));
        const pugi::xml_node reply = doc.document_element();
        ASSERT_TRUE(reply.child("_error").empty()) << reply.child("_error").text().as_string();
        const std::lock_guard lock(mutex);
        for (pugi::xml_node n : reply.child("notifies").children()) {
            delivered.insert(n.child("object_id").text().as_string());
        }
    };
    std::vector<std::thread> pollers;
    for (int t = 0; t < 4; ++t) {
        pollers.emplace_back([&, t] {
            while (posting) {
                poll(bob[size_t(t) % bob.size()]);
            }
        });
    }
    std::set<std::string> posted;
    for (int i = 0; i < kPosts; ++i) {
        const auto reply =
            Call("sina", alice, "update_status", {{"status", "@bob number " + std::to_string(i)}});
        posted.insert(Text(reply, "id"));
    }
    posting = false;
    for (auto& t : pollers) {
        t.join();
    }
    poll(bob[0]); // whatever came after the pollers' last look
    EXPECT_EQ(posted.size(), size_t(kPosts));
    EXPECT_EQ(delivered, std::multiset<std::string>(posted.begin(), posted.end()));
}

TEST_F(SandboxTest, UserIsFoundByIdOrScreenNameWithCounts) {
    m_sandbox->SeedDemo();
    const auto signIn = m_sandbox->Adapter("sina")->SignIn("demo", "demo");
    ASSERT_TRUE(signIn);
    const Credentials demo{signIn->accessToken, ""};

    const auto byId = Call("sina", demo, "user", {{"ID", signIn->accountName}});
    ExpectTyped(byId);
    EXPECT_EQ(Text(byId, "id"), signIn->accountName);
    EXPECT_EQ(Text(byId, "screen_name"), "demo");
    EXPECT_EQ(Int(byId, "follow_count"), 6);
    EXPECT_EQ(Int(byId, "follower_count"), 5);
    EXPECT_EQ(std::string(byId.child("verified").attribute("type").value()), "bool");
    EXPECT_NE(Text(byId, "profile_image/large_url"), Text(byId, "profile_image/small_url"));

    const auto byName = Call("sina", demo, "user", {{"screen_name", "小明"}});
    EXPECT_EQ(Text(byName, "screen_name"), "小明");
    EXPECT_FALSE(Text(byName, "id").empty());

    for (const Params& params : {Params{{"ID", "nobody"}}, Params{}}) {
        const auto refused = Call("sina", demo, "user", params);
        EXPECT_FALSE(Text(refused, "_error").empty());
        EXPECT_TRUE(refused.child("id").empty());
    }
}

TEST_F(SandboxTest, HomeTimelineHoldsOwnAndFollowedStatusesUpToTheLimit) {
    m_sandbox->SeedDemo();
    const Credentials demo = SignIn("facebook", "demo");
    const std::string eve = Text(Call("facebook", demo, "user", {{"screen_name", "eve"}}), "id");
    std::set<std::string> followed = {
        Text(Call("facebook", demo, "user", {{"screen_name", "demo"}}), "id")};
    for (pugi::xml_node u : Call("facebook", demo, "friends").child("result").children()) {
        followed.insert(Text(u, "id"));
    }
    EXPECT_EQ(followed.size(), 7u);
    EXPECT_FALSE(followed.contains(eve));

    const auto all =
        Items(Call("facebook", demo, "public_timeline", {{"limit", "200"}}).child("result"));
    for (pugi::xml_node s : all) {
        EXPECT_TRUE(followed.contains(Text(s, "user/id"))) << Text(s, "user/screen_name");
    }
    EXPECT_FALSE(Items(Call("facebook", demo, "timeline", {{"ID", eve}}).child("result")).empty());

    const auto five =
        Items(Call("facebook", demo, "public_timeline", {{"limit", "5"}}).child("result"));
    ASSERT_EQ(five.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(Text(five[i], "id"), Text(all[i], "id"));
    }
    for (const char* bad : {"0", "201", "x", "-1", ""}) {
        const auto refused = Call("facebook", demo, "public_timeline", {{"limit", bad}});
        EXPECT_FALSE(Text(refused, "_error").empty()) << bad;
    }
}

TEST_F(SandboxTest, TimelineFriendsAndFollowersOfOneUser) {
    m_sandbox->SeedDemo();
    const Credentials demo = SignIn("twitter", "demo");
    const std::string alice = Text(Call("twitter", demo, "user", {{"screen_name", "alice"}}), "id");

    const auto timeline =
        Items(Call("twitter", demo, "timeline", {{"limit", "10"}, {"ID", alice}}).child("result"));
    EXPECT_EQ(timeline.size(), 10u);
    for (pugi::xml_node s : timeline) {
        EXPECT_EQ(Text(s, "user/id"), alice);
    }

    std::set<std::string> friends, followers;
    for (pugi::xml_node u :
         Call("twitter", demo, "friends", {{"ID", alice}}).child("result").children()) {
        friends.insert(Text(u, "screen_name"));
    }
    for (pugi::xml_node u :
         Call("twitter", demo, "followers", {{"ID", alice}}).child("result").children()) {
        followers.insert(Text(u, "screen_name"));
    }
    EXPECT_EQ(friends, (std::set<std::string>{"demo", "bob", "新闻快讯"}));
    EXPECT_EQ(followers, (std::set<std::string>{"demo", "bob", "eve"}));
    EXPECT_FALSE(Text(Call("twitter", demo, "followers", {{"ID", "nobody"}}), "_error").empty());
}

TEST_F(SandboxTest, PostedStatusLeadsTheTimelineAndNotifiesTheMentioned) {
    const auto aliceId = m_sandbox->CreateUser("sina", "alice", "pw-a");
    const auto bobId = m_sandbox->CreateUser("sina", "bob", "pw-b");
    ASSERT_TRUE(aliceId && bobId);
    const Credentials alice = SignIn("sina", "alice", "pw-a");
    const Credentials bob = SignIn("sina", "bob", "pw-b");

    const auto posted =
        Call("sina", alice, "update_status", {{"status", "hi @bob [笑] #t# @alice"}});
    ExpectTyped(posted);
    EXPECT_EQ(Text(posted, "text/text"), "hi @bob [笑] #t# @alice");
    EXPECT_EQ(Text(posted, "user/id"), *aliceId);
    EXPECT_EQ(Int(posted, "comment_count"), 0);
    EXPECT_EQ(Text(posted, "image/small_url"), "");
    const auto blocks = Items(posted.child("text").child("blocks"));
    ASSERT_EQ(blocks.size(), 8u);
    // Spaces at the edges of a block survive the reader's trimming as no-break spaces.
    EXPECT_EQ(Text(blocks[0], "text"), "hi\u00A0");
    EXPECT_EQ(Text(blocks[2], "text"), "\u00A0");
    EXPECT_EQ(Text(blocks[1], "texttype"), "mention");
    EXPECT_EQ(Text(blocks[1], "extra"), "bob"); // sina mentions by screen name
    EXPECT_EQ(Text(blocks[3], "texttype"), "emotion");

    const auto home = Items(Call("sina", alice, "public_timeline").child("result"));
    ASSERT_EQ(home.size(), 1u);
    EXPECT_EQ(Text(home[0], "id"), Text(posted, "id"));

    // bob is told once; alice mentioning herself is not news to her.
    const auto told = Call("sina", bob, "notify");
    ASSERT_EQ(Int(told, "counts/count"), 1);
    EXPECT_EQ(Text(told, "notifies/notify/type"), "mention_status");
    EXPECT_EQ(Text(told, "notifies/notify/object_id"), Text(posted, "id"));
    EXPECT_EQ(Int(Call("sina", bob, "notify"), "counts/count"), 0);
    EXPECT_EQ(Int(Call("sina", alice, "notify"), "counts/count"), 0);
}

TEST_F(SandboxTest, MentionsIdentifyUsersByIdOutsideSina) {
    const auto bobId = m_sandbox->CreateUser("twitter", "bob", "pw-b");
    ASSERT_TRUE(m_sandbox->CreateUser("twitter", "alice", "pw-a"));
    const Credentials alice = SignIn("twitter", "alice", "pw-a");
    const auto posted = Call("twitter", alice, "update_status", {{"status", "@bob [笑]"}});
    const auto blocks = Items(posted.child("text").child("blocks"));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(Text(blocks[0], "extra"), *bobId);
    EXPECT_EQ(Text(blocks[1], "texttype"), "normal"); // no emotions on twitter
}

TEST_F(SandboxTest, UpdateStatusRefusals) {
    m_sandbox->SeedDemo();
    std::map<std::string, Credentials> demo;
    for (const std::string network : kNetworks) {
        demo[network] = SignIn(network, "demo");
    }
    const auto latestId = [&](const std::string& network) {
        return Text(Call(network, demo[network], "public_timeline", {{"limit", "1"}}),
                    "result/status/id");
    };

    // Repeating the latest text is refused with code 4; after another status it is accepted.
    const std::string firstId =
        Text(Call("sina", demo["sina"], "update_status", {{"status", "once"}}), "id");
    const auto repeated = Call("sina", demo["sina"], "update_status", {{"status", "once"}});
    EXPECT_EQ(Int(repeated, "_error_code"), 4);
    EXPECT_EQ(latestId("sina"), firstId);
    Call("sina", demo["sina"], "update_status", {{"status", "twice"}});
    EXPECT_TRUE(
        Text(Call("sina", demo["sina"], "update_status", {{"status", "once"}}), "_error").empty());

    struct Case {
        std::string network, text;
        bool accepted;
    };
    std::string cjk140;
    for (int i = 0; i < 140; ++i) {
        cjk140 += "字";
    }
    const std::vector<Case> cases = {
        {"sina", cjk140, true},
        {"sina", cjk140 + "字", false},
        {"twitter", std::string(140, 'a'), true},
        {"twitter", std::string(139, 'a') + "😀", false}, // 141 UTF-16 units
        {"facebook", std::string(4096, 'b'), true},
        {"facebook", std::string(4097, 'b'), false},
        {"sina", "", false},
        {"sina", "bad \xC3(", false},
        {"sina", std::string("nul\0", 4), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.network + " " + std::to_string(c.text.size()));
        const std::string before = latestId(c.network);
        const auto reply = Call(c.network, demo[c.network], "update_status", {{"status", c.text}});
        EXPECT_EQ(Text(reply, "_error").empty(), c.accepted) << Text(reply, "_error");
        EXPECT_TRUE(reply.child("_error_code").empty());
        EXPECT_EQ(latestId(c.network) != before, c.accepted);
    }
    const auto missing = Call("sina", demo["sina"], "update_status");
    EXPECT_FALSE(Text(missing, "_error").empty());
}

TEST_F(SandboxTest, CommentThreadsExceptOnTwitter) {
    m_sandbox->SeedDemo();
    for (const std::string network : {"sina", "facebook"}) {
        const Credentials demo = SignIn(network, "demo");
        std::string id;
        for (pugi::xml_node s : Call(network, demo, "public_timeline", {{"limit", "200"}})
                                    .child("result")
                                    .children()) {
            if (Int(s, "comment_count") > 1) {
                id = Text(s, "id");
                break;
            }
        }
        ASSERT_FALSE(id.empty()) << network;
        const auto thread = Call(network, demo, "comment", {{"ID", id}});
        ExpectTyped(thread);
        EXPECT_EQ(Text(thread, "id"), id);
        const auto comments = Items(thread.child("comments"));
        EXPECT_EQ(int64_t(comments.size()), Int(thread, "comment_count"));
        EXPECT_FALSE(Text(comments.front(), "text/text").empty());
        EXPECT_FALSE(Text(comments.front(), "user/screen_name").empty());
        for (const char* bad : {"999999", "x", ""}) {
            EXPECT_FALSE(Text(Call(network, demo, "comment", {{"ID", bad}}), "_error").empty());
        }
    }
    const Credentials twitter = SignIn("twitter", "demo");
    const auto none = Call("twitter", twitter, "comment", {{"ID", "1"}});
    EXPECT_EQ(Text(none, "_error"), "None");
    EXPECT_TRUE(none.child("_error_code").empty());
}

TEST_F(SandboxTest, TokensAreCheckedAndNeverStoredInClear) {
    ASSERT_TRUE(m_sandbox->CreateUser("twitter", "tom", "pw-t"));
    EXPECT_FALSE(m_sandbox->Adapter("twitter")->SignIn("tom", "wrong"));
    EXPECT_FALSE(m_sandbox->Adapter("twitter")->SignIn("nobody", "pw-t"));
    EXPECT_FALSE(m_sandbox->Adapter("sina")->SignIn("tom", "pw-t")); // networks are separate

    const auto tom = m_sandbox->Adapter("twitter")->SignIn("tom", "pw-t");
    ASSERT_TRUE(tom);
    EXPECT_EQ(tom->accessToken.size(), 64u);
    EXPECT_FALSE(tom->accessSecret.empty());
    EXPECT_EQ(tom->expireIn, 30 * 24 * 3600);
    const Credentials good{tom->accessToken, tom->accessSecret};
    NetworkAdapter* twitter = m_sandbox->Adapter("twitter");
    EXPECT_TRUE(twitter->TokenValid(tom->accountName, good));
    EXPECT_FALSE(twitter->TokenValid("someone-else", good));
    EXPECT_FALSE(m_sandbox->Adapter("facebook")->TokenValid(tom->accountName, good));

    for (const Credentials& bad :
         {Credentials{tom->accessToken, "wrong"}, Credentials{tom->accessToken, ""},
          Credentials{RandomToken(), tom->accessSecret}, Credentials{}}) {
        EXPECT_EQ(Int(Call("twitter", bad, "user", {{"ID", tom->accountName}}), "_error_code"), 2);
    }
    EXPECT_EQ(Text(Call("twitter", good, "user", {{"ID", tom->accountName}}), "screen_name"),
              "tom");

    std::ifstream file(m_dir / "relay.db", std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    std::ifstream wal(m_dir / "relay.db-wal", std::ios::binary);
    bytes << wal.rdbuf();
    EXPECT_EQ(bytes.str().find(tom->accessToken), std::string::npos);
    EXPECT_EQ(bytes.str().find(tom->accessSecret), std::string::npos);
    EXPECT_EQ(bytes.str().find("pw-t"), std::string::npos);
}

TEST_F(SandboxTest, ExpiredTokensGetCodeTwo) {
    Open(0); // every token is past its lifetime at once
    ASSERT_TRUE(m_sandbox->CreateUser("sina", "sam", "pw"));
    const auto sam = m_sandbox->Adapter("sina")->SignIn("sam", "pw");
    ASSERT_TRUE(sam);
    const Credentials credentials{sam->accessToken, ""};
    EXPECT_FALSE(m_sandbox->Adapter("sina")->TokenValid(sam->accountName, credentials));
    EXPECT_EQ(Int(Call("sina", credentials, "notify"), "_error_code"), 2);
}

TEST_F(SandboxTest, BadRequestsGetAnErrorReply) {
    ASSERT_TRUE(m_sandbox->CreateUser("sina", "sam", "pw"));
    const Credentials sam = SignIn("sina", "sam", "pw");
    const auto unknown = Call("sina", sam, "delete_everything");
    EXPECT_FALSE(Text(unknown, "_error").empty());
    const auto repeated = Call("sina", sam, "update_status", {{"status", "a"}, {"status", "b"}});
    EXPECT_FALSE(Text(repeated, "_error").empty());
    EXPECT_TRUE(Items(Call("sina", sam, "public_timeline").child("result")).empty());
    EXPECT_EQ(m_sandbox->Adapter("myspace"), nullptr);
}

TEST_F(SandboxTest, SignUpsAreCheckedAndGetAvatars) {
    const auto id = m_sandbox->CreateUser("facebook", "新人", "pw");
    ASSERT_TRUE(id);
    EXPECT_FALSE(m_sandbox->CreateUser("facebook", "新人", "other"));
    EXPECT_FALSE(m_sandbox->CreateUser("facebook", "two words", "pw"));
    EXPECT_FALSE(m_sandbox->CreateUser("facebook", "x", ""));
    EXPECT_FALSE(m_sandbox->CreateUser("myspace", "x", "pw"));
    EXPECT_TRUE(m_sandbox->CreateUser("sina", "新人", "pw")); // another network

    const Credentials me = SignIn("facebook", "新人", "pw");
    const auto user = Call("facebook", me, "user", {{"ID", *id}});
    const std::string url = Text(user, "profile_image/large_url");
    const auto picture = m_sandbox->FindPicture(url.substr(url.rfind('/') + 1));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->contentType, "image/png");
    for (const char* bad : {"", "../relay.db", ".hidden", "a/b", "missing.png"}) {
        EXPECT_EQ(m_sandbox->FindPicture(bad), nullptr) << bad;
    }
}

TEST_F(SandboxTest, ConcurrentPostsAreEachStoredOnce) {
    constexpr int kThreads = 8;
    constexpr int kPosts = 20;
    std::vector<Credentials> credentials;
    for (int t = 0; t < kThreads / 2; ++t) {
        const std::string name = "poster" + std::to_string(t);
        ASSERT_TRUE(m_sandbox->CreateUser("facebook", name, "pw"));
        credentials.push_back(SignIn("facebook", name, "pw"));
    }
    // Two threads per account, so posts of one account also race each other.
    std::mutex mutex;
    std::multiset<std::string> acknowledged;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPosts; ++i) {
                ReplyWriter out;
                const std::string text = "post " + std::to_string(t) + "/" + std::to_string(i);
                try {
                    m_sandbox->Adapter("facebook")
                        ->Call("update_status", {{"status", text}}, credentials[size_t(t / 2)],
                               out);
                } catch (const TransientStoreError&) {
                    continue; // not acknowledged: the client asks again
                }
                pugi::xml_document doc;
                doc.load_string(out.Finish().c_str());
                const std::string id = doc.document_element().child("id").text().as_string();
                if (!id.empty()) {
                    std::lock_guard lock(mutex);
                    acknowledged.insert(id);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(acknowledged.size(), size_t(kThreads * kPosts));
    std::multiset<std::string> stored;
    for (int t = 0; t < kThreads; t += 2) {
        for (pugi::xml_node s :
             Call("facebook", credentials[size_t(t / 2)], "public_timeline", {{"limit", "200"}})
                 .child("result")
                 .children()) {
            stored.insert(Text(s, "id"));
        }
    }
    EXPECT_EQ(stored, acknowledged);
}

TEST_F(SandboxTest, LockedStoreGivesATransientErrorAndWritesNothing) {
    Open(3600, 50);
    ASSERT_TRUE(m_sandbox->CreateUser("sina", "sam", "pw"));
    const Credentials sam = SignIn("sina", "sam", "pw");

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((m_dir / "relay.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    ReplyWriter out;
    EXPECT_THROW(m_sandbox->Adapter("sina")->Call("update_status", {{"status", "held"}}, sam, out),
                 TransientStoreError);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    EXPECT_TRUE(Items(Call("sina", sam, "public_timeline").child("result")).empty());
    EXPECT_EQ(Text(Call("sina", sam, "update_status", {{"status", "held"}}), "text/text"), "held");
}
