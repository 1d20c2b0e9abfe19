#include "tests/relay/RelayTestUtil.h"

#include <memory>
#include <regex>

using namespace quillet::test;

namespace {

class RelayEndpoints : public ::testing::Test {
protected:
    // One relay for the suite, started by the first test so that a failure to start fails it.
    void SetUp() override {
        if (!s_relay) {
            s_relay = std::make_unique<RelayProcess>(RelayOptions());
        }
    }
    static void TearDownTestSuite() { s_relay.reset(); }
    static RelayProcess& Relay() { return *s_relay; }
    static std::string Url(const std::string& pathAndQuery) {
        return s_relay->BaseUrl() + pathAndQuery;
    }

    static std::unique_ptr<RelayProcess> s_relay;
};

std::unique_ptr<RelayProcess> RelayEndpoints::s_relay;

} // namespace

TEST_F(RelayEndpoints, UserLifecycleCreateAddQueryDelete) {
    const std::string id = CreateUser(Relay());
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
    EXPECT_NE(id, CreateUser(Relay()));

    const SignedIn sina = SignInAt(Relay(), "sina");
    const SignedIn twitter = SignInAt(Relay(), "twitter");
    EXPECT_FALSE(IsError(HttpGet(AddUrl(Relay(), id, "sina", sina)).body));
    EXPECT_FALSE(IsError(HttpGet(AddUrl(Relay(), id, "twitter", twitter, "-1")).body));

    HttpResult q = HttpGet(Url("/user/query?type=xml&ID=" + id));
    EXPECT_EQ(q.Header("cache-control"), "no-store");
    const std::string expected =
        "<reply><accounts type=\"list\"><account type=\"dict\"><account_name type=\"str\">" +
        sina.name + "</account_name><account_type type=\"str\">sina</account_type>" +
        "<access_token type=\"str\">" + sina.token + "</access_token>" +
        "<expire_in type=\"int\">2592000</expire_in></account><account type=\"dict\">" +
        "<account_name type=\"str\">" + twitter.name + "</account_name>" +
        "<account_type type=\"str\">twitter</account_type><access_token type=\"str\">" +
        twitter.token + "</access_token><expire_in type=\"int\">-1</expire_in>" +
        "<access_secret type=\"str\">" + twitter.secret + "</access_secret></account>" +
        "</accounts></reply>";
    EXPECT_EQ(q.body, expected);

    const std::string del = Url("/user/operate?method=delete&ID=" + id +
                                "&account_type=sina&account_name=" + sina.name);
    EXPECT_FALSE(IsError(HttpGet(del).body));
    EXPECT_TRUE(IsError(HttpGet(del).body)) << "a second delete finds nothing to remove";
    q = HttpGet(Url("/user/query?type=xml&ID=" + id));
    EXPECT_EQ(q.body.find("<account_type type=\"str\">sina"), std::string::npos);
    EXPECT_NE(q.body.find(twitter.token), std::string::npos);
}

TEST_F(RelayEndpoints, AddingAgainReplacesTheTokenForTheSameUser) {
    const std::string id = CreateUser(Relay());
    const SignedIn first = SignInAt(Relay(), "facebook");
    const SignedIn second = SignInAt(Relay(), "facebook");
    ASSERT_EQ(first.name, second.name);
    ASSERT_FALSE(IsError(HttpGet(AddUrl(Relay(), id, "facebook", first)).body));
    ASSERT_FALSE(IsError(HttpGet(AddUrl(Relay(), id, "facebook", second)).body));
    const std::string body = HttpGet(Url("/user/query?ID=" + id)).body;
    EXPECT_NE(body.find(second.token), std::string::npos);
    EXPECT_EQ(body.find(first.token), std::string::npos);
}

TEST_F(RelayEndpoints, UserOperateRefusals) {
    const std::string id = CreateUser(Relay());
    const std::string other = CreateUser(Relay());
    const SignedIn s = SignInAt(Relay(), "sina", "alice");
    ASSERT_FALSE(IsError(HttpGet(AddUrl(Relay(), other, "sina", s)).body));
    const std::string good = "&account_type=sina&account_name=" + s.name +
                             "&access_token=" + s.token + "&access_secret=";
    struct Case {
        const char* what;
        std::string query;
    };
    const Case cases[] = {
        {"no method", "?ID=" + id},
        {"unknown method", "?method=rename&ID=" + id},
        {"repeated method", "?method=create&method=add"},
        {"unknown user", "?method=add&ID=0123456789abcdef0123456789abcdef" + good + "&expire_in=1"},
        {"missing ID", "?method=add" + good + "&expire_in=1"},
        {"repeated ID", "?method=add&ID=" + id + "&ID=" + other + good + "&expire_in=1"},
        {"non-numeric expire_in", "?method=add&ID=" + id + good + "&expire_in=12a"},
        {"empty expire_in", "?method=add&ID=" + id + good + "&expire_in="},
        {"missing expire_in", "?method=add&ID=" + id + good},
        {"unknown network", "?method=add&ID=" + id + "&account_type=Sina&account_name=" + s.name +
                                "&access_token=" + s.token + "&expire_in=1"},
        {"token of nobody", "?method=add&ID=" + id + "&account_type=sina&account_name=" + s.name +
                                "&access_token=forged&expire_in=1"},
        {"linked to another user", "?method=add&ID=" + id + good + "&expire_in=1"},
        {"delete of a foreign account",
         "?method=delete&ID=" + id + "&account_type=sina&account_name=" + s.name},
    };
    for (const Case& c : cases) {
        const HttpResult r = HttpGet(Url("/user/operate" + c.query));
        EXPECT_EQ(r.status, 200) << c.what;
        EXPECT_TRUE(IsError(r.body)) << c.what << ": " << r.body;
    }
    // None of the refusals touched the owner's link.
    EXPECT_NE(HttpGet(Url("/user/query?ID=" + other)).body.find(s.token), std::string::npos);
    EXPECT_EQ(HttpGet(Url("/user/query?ID=" + id)).body,
              "<reply><accounts type=\"list\"></accounts></reply>");
}

TEST_F(RelayEndpoints, UserQueryRefusals) {
    for (const char* q : {"/user/query?type=xml", "/user/query?type=xml&ID=unknown",
                          "/user/query?type=json&ID=x", "/user/query?ID=a&ID=b"}) {
        EXPECT_TRUE(IsError(HttpGet(Url(q)).body)) << q;
    }
}

TEST_F(RelayEndpoints, AccountQueryRevealsOwnerOnlyOnProofOfToken) {
    const std::string id = CreateUser(Relay());
    const SignedIn stored = SignInAt(Relay(), "twitter", "alice");
    ASSERT_FALSE(IsError(HttpGet(AddUrl(Relay(), id, "twitter", stored)).body));
    const SignedIn fresh = SignInAt(Relay(), "twitter", "alice");
    const std::string q = "/account/query?account_name=" + stored.name + "&account_type=twitter";
    struct Case {
        const char* what;
        std::string extra;
        std::string owner;
    };
    const Case cases[] = {
        {"no token", "", "None"},
        {"empty token", "&access_token=", "None"},
        {"wrong token", "&access_token=0000", "None"},
        {"stored token", "&access_token=" + stored.token, id},
        {"token of a new sign-in",
         "&access_token=" + fresh.token + "&access_secret=" + fresh.secret, id},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Field(HttpGet(Url(q + c.extra)).body, "ID"), c.owner) << c.what;
    }
    EXPECT_EQ(Field(HttpGet(Url("/account/query?account_name=nobody&account_type=twitter&"
                                "access_token=" +
                                stored.token))
                        .body,
                    "ID"),
              "None");
    EXPECT_TRUE(IsError(HttpGet(Url("/account/query?account_type=twitter")).body));
}

TEST_F(RelayEndpoints, ModifyAccountNeedsAValidNewToken) {
    const std::string id = CreateUser(Relay());
    const SignedIn old = SignInAt(Relay(), "sina", "bob");
    ASSERT_FALSE(IsError(HttpGet(AddUrl(Relay(), id, "sina", old)).body));
    const std::string base = "/user/modifyaccount?account_type=sina&account_name=" + old.name;

    EXPECT_TRUE(IsError(HttpGet(Url(base + "&access_token=forged")).body));
    EXPECT_TRUE(IsError(HttpGet(Url(base)).body)) << "missing token";
    EXPECT_TRUE(IsError(HttpGet(Url("/user/modifyaccount?account_type=sina&account_name=nobody"
                                    "&access_token=" +
                                    old.token))
                            .body));
    EXPECT_NE(HttpGet(Url("/user/query?ID=" + id)).body.find(old.token), std::string::npos);

    const SignedIn fresh = SignInAt(Relay(), "sina", "bob");
    EXPECT_FALSE(IsError(HttpGet(Url(base + "&access_token=" + fresh.token)).body));
    const std::string body = HttpGet(Url("/user/query?ID=" + id)).body;
    EXPECT_NE(body.find(fresh.token), std::string::npos);
    EXPECT_EQ(body.find(old.token), std::string::npos);
}

TEST_F(RelayEndpoints, SmartRoutesToTheNetworkAndRefusesBadCalls) {
    const SignedIn s = SignInAt(Relay(), "sina");
    const std::string std = "/intf/smart?sns=sina&access_token=" + s.token;
    const HttpResult user = HttpGet(Url(std + "&category=user&ID=" + s.name));
    EXPECT_FALSE(IsError(user.body)) << user.body;
    EXPECT_EQ(Field(user.body, "id"), s.name);
    EXPECT_EQ(Field(user.body, "screen_name"), "demo");

    struct Case {
        const char* what;
        std::string query;
    };
    const Case cases[] = {
        {"unknown network", "/intf/smart?sns=myspace&access_token=" + s.token + "&category=user"},
        {"unknown category", std + "&category=delete_everything"},
        {"missing category", std},
        {"repeated category", std + "&category=notify&category=user"},
        {"missing token", "/intf/smart?sns=sina&category=notify"},
        {"missing network", "/intf/smart?access_token=" + s.token + "&category=notify"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(IsError(HttpGet(Url(c.query)).body)) << c.what;
    }
}

TEST_F(RelayEndpoints, QueryValuesArePercentDecodedAndPlusStaysPlus) {
    const SignedIn s = SignInAt(Relay(), "facebook");
    const std::string text = "a+b c&d=e #tag 你好";
    const HttpResult r =
        HttpGet(Url("/intf/smart?sns=facebook&access_token=" + s.token +
                    "&category=update_status&status=" + UrlEncode(text) + "&status_plus=a+b"));
    ASSERT_FALSE(IsError(r.body)) << r.body;
    EXPECT_NE(r.body.find("a+b c&amp;d=e #tag 你好"), std::string::npos) << r.body;
}

TEST_F(RelayEndpoints, PicturesCarryCachingHeaders) {
    const SignedIn s = SignInAt(Relay(), "sina");
    const std::string user =
        HttpGet(Url("/intf/smart?sns=sina&access_token=" + s.token + "&category=user&ID=" + s.name))
            .body;
    const std::string url = Field(user, "large_url");
    ASSERT_EQ(url.rfind(Relay().BaseUrl() + "/pictures/", 0), 0u) << url;

    HttpClient client;
    const HttpResult first = client.Get(url);
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.Header("content-type"), "image/png");
    EXPECT_EQ(first.body.substr(1, 3), "PNG");
    EXPECT_NE(first.Header("cache-control").find("max-age="), std::string::npos);
    const std::string etag = first.Header("etag");
    ASSERT_FALSE(etag.empty());

    const HttpResult again = client.Get(url, {"If-None-Match: " + etag});
    EXPECT_EQ(again.status, 304);
    EXPECT_TRUE(again.body.empty());
    EXPECT_EQ(client.Get(url, {"If-None-Match: \"other\""}).status, 200);
    EXPECT_EQ(HttpGet(Url("/pictures/no-such-picture.png")).status, 404);
}

TEST_F(RelayEndpoints, UnknownAddressesAndMethods) {
    EXPECT_EQ(HttpGet(Url("/nothing/here")).status, 404);
    EXPECT_TRUE(IsError(HttpGet(Url("/nothing/here")).body));
    EXPECT_EQ(HttpGet(Url("/intf/myspace/oauth")).status, 404);
    EXPECT_EQ(HttpGet(Url("/intf/sina/callback?pincode=1234567")).status, 404);
}
