#include "tests/relay/RelayTestUtil.h"

#include <chrono>
#include <memory>
#include <regex>
#include <thread>

using namespace quillet::test;

namespace {

class RelaySignIn : public ::testing::Test {
protected:
    void SetUp() override {
        if (!s_relay) {
            // Short PIN lifetime so expiry can be seen; the other flows finish well within it.
            s_relay =
                std::make_unique<RelayProcess>(RelayOptions({"--demo", "--pin-lifetime", "2"}));
        }
    }
    static void TearDownTestSuite() { s_relay.reset(); }
    static std::string Url(const std::string& p) { return s_relay->BaseUrl() + p; }

    static std::string Pin(const std::string& user) {
        const HttpResult to = HttpGet(Url("/intf/twitter/oauth"));
        const HttpResult form = HttpGet(Url(to.Header("location")));
        const HttpResult page =
            HttpPost(Url("/oauth/authorize"),
                     "state=" + FormState(form.body) + "&screen_name=" + user + "&password=demo");
        std::smatch m;
        return std::regex_search(page.body, m, std::regex("<code>([0-9]{7})</code>")) ? m[1].str()
                                                                                      : "";
    }

    static std::unique_ptr<RelayProcess> s_relay;
};

std::unique_ptr<RelayProcess> RelaySignIn::s_relay;

} // namespace

TEST_F(RelaySignIn, FormLeadsToLandingPageWhoseTextIsTheReply) {
    const HttpResult form = HttpGet(Url("/intf/sina/oauth"));
    EXPECT_EQ(form.status, 200);
    EXPECT_NE(form.body.find("<b>demo</b>"), std::string::npos) << "demo credentials shown";
    const std::string state = FormState(form.body);
    ASSERT_EQ(state.size(), 32u);

    const HttpResult post =
        HttpPost(Url("/intf/sina/oauth"), "state=" + state + "&screen_name=demo&password=demo");
    EXPECT_EQ(post.status, 302);
    const std::string location = post.Header("location");
    ASSERT_EQ(location.rfind("/user/login?", 0), 0u) << location;

    const HttpResult landing = HttpGet(Url(location));
    EXPECT_EQ(landing.Header("content-type"), "text/plain; charset=utf-8");
    EXPECT_EQ(landing.Header("cache-control"), "no-store");
    EXPECT_TRUE(std::regex_match(
        landing.body, std::regex("<reply><account_name type=\"str\">[0-9]+</account_name>"
                                 "<account_type type=\"str\">sina</account_type>"
                                 "<access_token type=\"str\">[0-9a-f]{64}</access_token>"
                                 "<expire_in type=\"int\">[0-9]+</expire_in></reply>")))
        << landing.body;

    // Single use: the code and the form value are spent.
    EXPECT_TRUE(IsError(HttpGet(Url(location)).body));
    const HttpResult replay =
        HttpPost(Url("/intf/sina/oauth"), "state=" + state + "&screen_name=demo&password=demo");
    EXPECT_EQ(replay.status, 200);
    EXPECT_TRUE(replay.Header("location").empty());
    EXPECT_NE(replay.body.find("expired"), std::string::npos);
}

TEST_F(RelaySignIn, RefusedSignInsGiveNoReply) {
    const std::string state = FormState(HttpGet(Url("/intf/facebook/oauth")).body);
    const HttpResult wrong =
        HttpPost(Url("/intf/facebook/oauth"), "state=" + state + "&screen_name=demo&password=nope");
    EXPECT_EQ(wrong.status, 200);
    EXPECT_TRUE(wrong.Header("location").empty());
    EXPECT_NE(wrong.body.find("Wrong screen name or password"), std::string::npos);
    EXPECT_EQ(FormState(wrong.body).size(), 32u) << "a fresh form to try again";

    EXPECT_EQ(HttpPost(Url("/intf/facebook/oauth"), "screen_name=demo&password=demo").status, 400);
    // A value issued for one network is no good on another.
    const std::string sinaState = FormState(HttpGet(Url("/intf/sina/oauth")).body);
    EXPECT_TRUE(HttpPost(Url("/intf/facebook/oauth"),
                         "state=" + sinaState + "&screen_name=demo&password=demo")
                    .Header("location")
                    .empty());
    for (const char* p : {"/user/login", "/user/login?code=", "/user/login?code=0123"}) {
        EXPECT_TRUE(IsError(HttpGet(Url(p)).body)) << p;
    }
}

TEST_F(RelaySignIn, TwitterShowsPinOnAuthorizePageAndCallbackAnswersOnce) {
    const HttpResult to = HttpGet(Url("/intf/twitter/oauth"));
    EXPECT_EQ(to.status, 302);
    ASSERT_EQ(to.Header("location").rfind("/oauth/authorize?oauth_token=", 0), 0u);
    const HttpResult form = HttpGet(Url(to.Header("location")));
    const HttpResult page = HttpPost(Url("/oauth/authorize"), "state=" + FormState(form.body) +
                                                                  "&screen_name=bob&password=demo");
    EXPECT_EQ(page.status, 200);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(page.body, m, std::regex("<code>([0-9]{7})</code>")))
        << page.body;

    const HttpResult reply = HttpGet(Url("/intf/twitter/callback?pincode=" + m[1].str()));
    EXPECT_EQ(reply.Header("cache-control"), "no-store");
    EXPECT_EQ(Field(reply.body, "account_type"), "twitter");
    EXPECT_EQ(Field(reply.body, "access_secret").size(), 64u) << reply.body;
    EXPECT_FALSE(IsError(reply.body));
    EXPECT_TRUE(IsError(HttpGet(Url("/intf/twitter/callback?pincode=" + m[1].str())).body));
}

TEST_F(RelaySignIn, PinExpires) {
    const std::string pin = Pin("carol");
    ASSERT_EQ(pin.size(), 7u);
    std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    EXPECT_TRUE(IsError(HttpGet(Url("/intf/twitter/callback?pincode=" + pin)).body));
}

// Last in the suite: it locks this client's address out of the PIN callback for a minute.
TEST_F(RelaySignIn, BurstOfWrongPinsIsRefused) {
    const std::string pin = Pin("dave");
    ASSERT_EQ(pin.size(), 7u);
    const std::string wrong = pin == "0000000" ? "0000001" : "0000000";
    for (const std::string& bad :
         {wrong, std::string("12345"), std::string("abcdefg"), wrong, std::string()}) {
        EXPECT_TRUE(IsError(HttpGet(Url("/intf/twitter/callback?pincode=" + bad)).body));
    }
    const std::string locked = HttpGet(Url("/intf/twitter/callback?pincode=" + pin)).body;
    EXPECT_TRUE(IsError(locked));
    EXPECT_EQ(Field(locked, "_error_code"), "3");
}
