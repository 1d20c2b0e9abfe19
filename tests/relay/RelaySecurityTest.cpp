#include "tests/relay/RelayTestUtil.h"

#include <filesystem>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>

using namespace quillet::test;

namespace {

std::string StoreBytes(const RelayProcess& relay) {
    return ReadFileBytes(relay.DatabasePath()) + ReadFileBytes(relay.DatabasePath() + "-wal");
}

} // namespace

TEST(RelaySecurity, NoSecretReachesTheDatabaseOrTheLog) {
    RelayProcess relay(RelayOptions());
    const std::string id = CreateUser(relay);
    const SignedIn sina = SignInAt(relay, "sina");
    const SignedIn twitter = SignInAt(relay, "twitter");
    ASSERT_FALSE(IsError(HttpGet(AddUrl(relay, id, "sina", sina)).body));
    ASSERT_FALSE(IsError(HttpGet(AddUrl(relay, id, "twitter", twitter)).body));
    ASSERT_NE(HttpGet(relay.BaseUrl() + "/user/query?type=xml&ID=" + id).body.find(sina.token),
              std::string::npos);
    HttpGet(relay.BaseUrl() + "/account/query?account_name=" + sina.name +
            "&account_type=sina&access_token=" + sina.token);
    HttpGet(relay.BaseUrl() + "/intf/smart?sns=sina&access_token=" + sina.token +
            "&category=notify");
    const std::string pin = "7654321";
    HttpGet(relay.BaseUrl() + "/intf/twitter/callback?pincode=" + pin);
    relay.Stop();

    const std::string db = StoreBytes(relay);
    const std::string log = relay.ReadLog();
    ASSERT_FALSE(db.empty());
    ASSERT_NE(log.find("/user/query"), std::string::npos) << "the log holds the requests";
    struct Secret {
        const char* what;
        std::string value;
    };
    const Secret secrets[] = {{"relay user ID", id},
                              {"sina token", sina.token},
                              {"twitter token", twitter.token},
                              {"twitter secret", twitter.secret},
                              {"password", "password=demo"},
                              {"PIN", pin}};
    for (const Secret& s : secrets) {
        ASSERT_FALSE(s.value.empty()) << s.what;
        EXPECT_EQ(db.find(s.value), std::string::npos) << s.what << " in the database";
        EXPECT_EQ(log.find(s.value), std::string::npos) << s.what << " in the log";
    }
}

TEST(RelaySecurity, KeyFileIsPrivateAndAccountsSurviveARestart) {
    std::string dir;
    std::string id;
    SignedIn s;
    {
        RelayProcess first(RelayOptions());
        first.KeepData();
        dir = first.DataDir();
        struct stat st {};
        ASSERT_EQ(::stat(first.KeyFilePath().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_size, 32);
        id = CreateUser(first);
        s = SignInAt(first, "facebook");
        ASSERT_FALSE(IsError(HttpGet(AddUrl(first, id, "facebook", s)).body));
    }
    RelayProcess second(RelayOptions({"--demo"}, dir));
    const std::string body = HttpGet(second.BaseUrl() + "/user/query?ID=" + id).body;
    EXPECT_NE(body.find(s.token), std::string::npos) << body;
    std::filesystem::remove_all(dir);
}

TEST(RelaySecurity, BusyStoreAnswersRetryableError) {
    RelayProcess relay(RelayOptions({"--demo", "--busy-timeout", "50"}));
    ASSERT_FALSE(IsError(HttpGet(relay.BaseUrl() + "/user/operate?method=create").body));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(relay.DatabasePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string busy = HttpGet(relay.BaseUrl() + "/user/operate?method=create").body;
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(Field(busy, "_error_code"), "1") << busy;
    EXPECT_FALSE(IsError(HttpGet(relay.BaseUrl() + "/user/operate?method=create").body));
}

TEST(RelaySecurity, PerTokenRequestBudget) {
    RelayProcess relay(RelayOptions({"--demo", "--rate-limit", "3"}));
    const SignedIn a = SignInAt(relay, "sina");
    const SignedIn b = SignInAt(relay, "sina", "alice");
    const auto poll = [&](const SignedIn& s) {
        return HttpGet(relay.BaseUrl() + "/intf/smart?sns=sina&access_token=" + s.token +
                       "&category=notify")
            .body;
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(IsError(poll(a))) << i;
    }
    const std::string over = poll(a);
    EXPECT_EQ(Field(over, "_error_code"), "3") << over;
    EXPECT_FALSE(IsError(poll(b))) << "another token has its own budget";
}

TEST(RelayHttp, OversizedAndMalformedRequestsAreRefusedAndServingGoesOn) {
    RelayProcess relay(RelayOptions());
    const std::string base = relay.BaseUrl();
    std::string manyParams = "/user/query?ID=x";
    for (int i = 0; i < 80; ++i) {
        manyParams += "&p" + std::to_string(i) + "=1";
    }
    struct Case {
        const char* what;
        std::string path;
        long status;
    };
    const Case cases[] = {
        {"target too long", "/user/query?ID=" + std::string(60000, 'a'), 414},
        {"value too long", "/intf/smart?status=" + std::string(41000, 'a'), 414},
        {"too many parameters", manyParams, 414},
        {"broken escape", "/user/query?ID=%zz", 400},
        {"cut escape", "/user/query?ID=%4", 400},
    };
    for (const Case& c : cases) {
        const HttpResult r = HttpGet(base + c.path);
        EXPECT_EQ(r.status, c.status) << c.what;
    }
    EXPECT_TRUE(IsError(HttpGet(base + "/user/query?ID=%zz").body));
    EXPECT_EQ(HttpGet(base + "/", {"X-Big: " + std::string(70000, 'h')}).status, 431);
    EXPECT_EQ(HttpPost(base + "/user/operate", std::string(70000, 'b')).status, 413);
    // A 4096-character CJK status fits: about 36 KB once percent-encoded.
    std::string cjk;
    for (int i = 0; i < 4096; ++i) {
        cjk += "\xE4\xBD\xA0";
    }
    const SignedIn s = SignInAt(relay, "facebook");
    const HttpResult longStatus =
        HttpGet(base + "/intf/smart?sns=facebook&access_token=" + s.token +
                "&category=update_status&status=" + UrlEncode(cjk));
    EXPECT_EQ(longStatus.status, 200);
    EXPECT_FALSE(IsError(longStatus.body)) << longStatus.body.substr(0, 200);
    EXPECT_FALSE(IsError(HttpGet(base + "/user/operate?method=create").body)) << "still serving";
}

TEST(RelayHttp, KeepAliveReusesTheConnection) {
    RelayProcess relay(RelayOptions());
    HttpClient client;
    EXPECT_EQ(client.Get(relay.BaseUrl() + "/user/operate?method=create").newConnections, 1);
    EXPECT_EQ(client.Get(relay.BaseUrl() + "/user/operate?method=create").newConnections, 0);
}

TEST(RelayHttp, ConcurrentPostsAreAllStored) {
    RelayProcess relay(RelayOptions());
    const SignedIn s = SignInAt(relay, "sina", "eve");
    const std::string post = relay.BaseUrl() + "/intf/smart?sns=sina&access_token=" + s.token +
                             "&category=update_status&status=";
    constexpr int kThreads = 12;
    constexpr int kPosts = 10;
    std::vector<std::thread> threads;
    std::vector<std::vector<std::string>> acknowledged(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            HttpClient client;
            for (int i = 0; i < kPosts; ++i) {
                const std::string text =
                    "concurrent-" + std::to_string(t) + "-" + std::to_string(i);
                const HttpResult r = client.Get(post + text);
                if (r.status == 200 && !IsError(r.body)) {
                    acknowledged[static_cast<size_t>(t)].push_back(text);
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    const std::string timeline =
        HttpGet(relay.BaseUrl() + "/intf/smart?sns=sina&access_token=" + s.token +
                "&category=timeline&limit=200&ID=" + s.name)
            .body;
    size_t total = 0;
    for (const auto& list : acknowledged) {
        for (const auto& text : list) {
            ++total;
            EXPECT_NE(timeline.find(">" + text + "<"), std::string::npos) << text;
        }
    }
    EXPECT_GT(total, static_cast<size_t>(kThreads * kPosts / 2)) << "most posts acknowledged";
}
