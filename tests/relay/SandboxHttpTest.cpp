// The sandbox network through the real relay over HTTP, as the client reaches it.

#include "tests/relay/RelayTestUtil.h"

#include <chrono>
#include <mutex>
#include <pugixml.hpp>
#include <set>
#include <thread>

using namespace quillet::test;

namespace {

class SandboxHttp : public ::testing::Test {
protected:
    std::string Smart(const SignedIn& s, const std::string& network, const std::string& query) {
        std::string url = m_relay.BaseUrl() + "/intf/smart?sns=" + network +
                          "&access_token=" + UrlEncode(s.token);
        if (!s.secret.empty()) {
            url += "&access_secret=" + UrlEncode(s.secret);
        }
        return HttpGet(url + "&" + query).body;
    }

    pugi::xml_node Parse(const std::string& body) {
        m_docs.emplace_back(std::make_unique<pugi::xml_document>());
        EXPECT_TRUE(m_docs.back()->load_string(body.c_str())) << body;
        return m_docs.back()->document_element();
    }

    RelayProcess m_relay{RelayOptions({"--demo"})};
    std::vector<std::unique_ptr<pugi::xml_document>> m_docs;
};

std::vector<pugi::xml_node> Items(pugi::xml_node list) {
    std::vector<pugi::xml_node> items;
    for (pugi::xml_node item : list.children()) {
        items.push_back(item);
    }
    return items;
}

std::string Text(pugi::xml_node node, const char* path) {
    return node.first_element_by_path(path).text().as_string();
}

} // namespace

TEST_F(SandboxHttp, DemoHomeTimelineAndItsPictures) {
    const SignedIn demo = SignInAt(m_relay, "sina");
    const auto home = Parse(Smart(demo, "sina", "category=public_timeline&limit=64"));
    const auto statuses = Items(home.child("result"));
    ASSERT_EQ(statuses.size(), 64u); // the client's page size; the demo holds more

    std::string statusPicture;
    for (pugi::xml_node s : statuses) {
        if (statusPicture.empty()) {
            statusPicture = Text(s, "image/large_url");
        }
    }
    ASSERT_FALSE(statusPicture.empty());
    for (const std::string& url :
         {statusPicture, Text(statuses[0], "user/profile_image/small_url")}) {
        ASSERT_EQ(url.rfind(m_relay.BaseUrl() + "/pictures/", 0), 0u) << url;
        const HttpResult picture = HttpGet(url);
        EXPECT_EQ(picture.status, 200) << url;
        EXPECT_EQ(picture.Header("content-type"), "image/png");
        EXPECT_EQ(picture.body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    }
}

TEST_F(SandboxHttp, EveryFunctionAnswersOverHttp) {
    const SignedIn demo = SignInAt(m_relay, "twitter");
    ASSERT_FALSE(demo.secret.empty());
    const std::string me = "&ID=" + demo.name;

    const auto user = Parse(Smart(demo, "twitter", "category=user" + me));
    EXPECT_EQ(Text(user, "id"), demo.name);
    EXPECT_EQ(Text(user, "screen_name"), "demo");
    EXPECT_EQ(
        Items(Parse(Smart(demo, "twitter", "category=timeline&limit=10" + me)).child("result"))
            .size(),
        10u);
    EXPECT_EQ(Items(Parse(Smart(demo, "twitter", "category=friends" + me)).child("result")).size(),
              6u);
    EXPECT_EQ(
        Items(Parse(Smart(demo, "twitter", "category=followers" + me)).child("result")).size(), 5u);

    // Reserved characters and Chinese arrive intact once percent-decoded.
    const std::string text = "a&b=c #话题# 100% @alice";
    const auto posted =
        Parse(Smart(demo, "twitter", "category=update_status&status=" + UrlEncode(text)));
    EXPECT_EQ(Text(posted, "text/text"), text);
    const auto repeated =
        Parse(Smart(demo, "twitter", "category=update_status&status=" + UrlEncode(text)));
    EXPECT_EQ(repeated.child("_error_code").text().as_int(), 4);
    const auto tooLong =
        Parse(Smart(demo, "twitter", "category=update_status&status=" + std::string(141, 'x')));
    EXPECT_FALSE(Text(tooLong, "_error").empty());
    EXPECT_TRUE(tooLong.child("_error_code").empty());

    const auto none = Parse(Smart(demo, "twitter", "category=comment&ID=" + Text(posted, "id")));
    EXPECT_EQ(Text(none, "_error"), "None");

    // alice hears of the mention once.
    const SignedIn alice = SignInAt(m_relay, "twitter", "alice");
    const auto first = Parse(Smart(alice, "twitter", "category=notify"));
    ASSERT_EQ(first.child("counts").child("count").text().as_int(), 1);
    EXPECT_EQ(Text(first, "notifies/notify/object_id"), Text(posted, "id"));
    EXPECT_EQ(Parse(Smart(alice, "twitter", "category=notify"))
                  .child("counts")
                  .child("count")
                  .text()
                  .as_int(-1),
              0);
}

TEST_F(SandboxHttp, CommentThreadOverHttp) {
    const SignedIn demo = SignInAt(m_relay, "facebook");
    std::string id;
    for (pugi::xml_node s :
         Items(Parse(Smart(demo, "facebook", "category=public_timeline&limit=100"))
                   .child("result"))) {
        if (s.child("comment_count").text().as_int() > 0) {
            id = Text(s, "id");
            break;
        }
    }
    ASSERT_FALSE(id.empty());
    const auto thread = Parse(Smart(demo, "facebook", "category=comment&ID=" + id));
    EXPECT_EQ(Text(thread, "id"), id);
    EXPECT_EQ(int(Items(thread.child("comments")).size()),
              thread.child("comment_count").text().as_int());
}

TEST(SandboxHttpExpiry, TokensExpireAfterTheirLifetime) {
    RelayProcess relay(RelayOptions({"--demo", "--token-lifetime", "2"}));
    const SignedIn demo = SignInAt(relay, "sina");
    const std::string url =
        relay.BaseUrl() + "/intf/smart?sns=sina&category=notify&access_token=" + demo.token;
    EXPECT_FALSE(IsError(HttpGet(url).body));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(Field(HttpGet(url).body, "_error_code"), "2");
}

TEST_F(SandboxHttp, ConcurrentPostsFromManyConnectionsAreEachStoredOnce) {
    const std::vector<std::string> names = {"alice", "bob", "carol", "dave"};
    std::vector<SignedIn> accounts;
    for (const std::string& name : names) {
        accounts.push_back(SignInAt(m_relay, "facebook", name));
    }
    constexpr int kThreads = 8; // two connections per account
    constexpr int kPosts = 15;
    std::mutex mutex;
    std::multiset<std::string> acknowledged;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            HttpClient client; // one keep-alive connection per thread
            const SignedIn& account = accounts[size_t(t) % accounts.size()];
            for (int i = 0; i < kPosts; ++i) {
                const std::string url =
                    m_relay.BaseUrl() +
                    "/intf/smart?sns=facebook&access_token=" + UrlEncode(account.token) +
                    "&category=update_status&status=" +
                    UrlEncode("load " + std::to_string(t) + "-" + std::to_string(i));
                for (int attempt = 0; attempt < 3; ++attempt) {
                    const std::string body = client.Get(url).body;
                    if (Field(body, "_error_code") == "1") {
                        continue; // busy: the client asks again
                    }
                    const std::string id = Field(body, "id");
                    if (!id.empty()) {
                        std::lock_guard lock(mutex);
                        acknowledged.insert(id);
                    }
                    break;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(acknowledged.size(), size_t(kThreads * kPosts));

    std::multiset<std::string> stored;
    for (const SignedIn& account : accounts) {
        const auto timeline =
            Parse(Smart(account, "facebook", "category=timeline&limit=200&ID=" + account.name));
        for (pugi::xml_node s : Items(timeline.child("result"))) {
            if (Text(s, "text/text").rfind("load ", 0) == 0) {
                stored.insert(Text(s, "id"));
            }
        }
    }
    EXPECT_EQ(stored, acknowledged);
}
