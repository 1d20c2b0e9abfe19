#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include "ScriptedServer.h"
#include "core/Global.h"
#include "data/XMLObj.h"
#include "platform/MessagePump.h"
#include "platform/Uri.h"
#include "service/Data_Intf.h"
#include "service/User_Intf.h"

namespace quillet::test {
namespace {

class APICallTest : public ::testing::Test {
protected:
    void SetUp() override { IntfSmartURL = "http://relay/intf/smart"; }
};

TEST_F(APICallTest, StandardParametersFollowTheSecret) {
    TAPICall sina("T", "");
    sina.SetSNS("sina");
    EXPECT_EQ(sina.BuildURL(), "http://relay/intf/smart?sns=sina&access_token=T");

    TAPICall twitter("T", "S");
    twitter.SetSNS("twitter");
    twitter.SetCategory("user");
    twitter.AddParam("ID", std::string("bob"));
    EXPECT_EQ(twitter.BuildURL(),
              "http://relay/intf/smart?sns=twitter&access_token=T&access_secret=S&category=user&ID=bob");
}

TEST_F(APICallTest, ValuesAreEncodedSoTheyCannotInjectParameters) {
    TAPICall call("a+b/c=", "");
    call.SetSNS("sina");
    call.SetCategory("update_status");
    call.AddParam("status", std::string("a&b=c #t 中\r\nx\ry"));
    EXPECT_EQ(call.BuildURL(), "http://relay/intf/smart?sns=sina&access_token=a%2Bb%2Fc%3D"
                               "&category=update_status&status=a%26b%3Dc%20%23t%20%E4%B8%AD%0Ax%0Ay");
}

TEST_F(APICallTest, PairsBehaveAsAList) {
    TAPICall call("T", "");
    call.SetSNS("sina");
    call.SetCategory("user");
    call.SetCategory("user");
    call.AddParam("limit", int64_t{64});
    call.AddParam("func_name", std::string("x"));
    call.SetParam("SNS", std::string("facebook")); // names match in any case
    call.RemoveParam("absent");
    EXPECT_EQ(call.BuildURL(),
              "http://relay/intf/smart?sns=facebook&access_token=T&category=user&category=user&limit=64");
    call.ResetParams();
    EXPECT_EQ(call.ParamNames, (std::vector<std::string>{"sns", "access_token"}));
}

TEST_F(APICallTest, QueryTemplatesEncodeEveryValue) {
    EXPECT_EQ(FormatQuery("u?a=%s&n=%d", {"x y&z", "12"}), "u?a=x%20y%26z&n=12");
    EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
}

TEST_F(APICallTest, ANestedCallStartsFromTheStandardParameters) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    TQtMessagePump pump;
    SetMessagePump(&pump);
    ScriptedServer server;
    server.Push({200, "<r><n type=\"int\">1</n></r>", "text/xml", 300});
    server.Push({200, "<r><n type=\"int\">2</n></r>"});
    IntfSmartURL = server.Url("/intf/smart");

    TAPICall call("T", "");
    call.SetSNS("sina");
    QTimer::singleShot(20, [&] {
        call.SetCategory("notify");
        call.Execute();
    });
    call.SetCategory("public_timeline");
    call.AddParam("limit", std::string("64"));
    call.Execute();
    SetMessagePump(nullptr);

    const std::vector<std::string> targets = server.Targets();
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0], "/intf/smart?sns=sina&access_token=T&category=public_timeline&limit=64");
    EXPECT_EQ(targets[1], "/intf/smart?sns=sina&access_token=T&category=notify");
}

TEST(AccountTypeOf, OnlyTheExactNames) {
    EXPECT_EQ(AccountTypeOf("sina"), atSina);
    EXPECT_EQ(AccountTypeOf("facebook"), atFacebook);
    EXPECT_EQ(AccountTypeOf("Sina"), std::nullopt);
    EXPECT_EQ(AccountTypeOf("weibo"), std::nullopt);
}

// Replies the relay never gives: unknown networks, names typed as numbers, missing keys.
TEST(UserReplies, OddAccountEntriesAreSkippedOrReadByName) {
    ScriptedServer server;
    auto entry = [](const std::string& type, const std::string& nameXml) {
        return "<a type=\"dict\"><account_type type=\"str\">" + type + "</account_type>" + nameXml +
               "<access_token type=\"str\">t</access_token><expire_in type=\"str\">soon"
               "</expire_in></a>";
    };
    server.Push({200, "<r><accounts type=\"list\">" + entry("myspace", "<account_name type=\"str\">m</account_name>") +
                          entry("twitter", "<account_name type=\"int\">5</account_name>") +
                          entry("twitter", "<account_name type=\"int\">5</account_name>") +
                          "</accounts></r>"});
    server.Push({200, "<r><id type=\"str\">5</id></r>"}); // every profile request
    UserQueryURL = server.Url("/user/query");
    IntfSmartURL = server.Url("/intf/smart");
    TUser user("u");
    EXPECT_EQ(user.TotalAccountCount(), 1);
    const TAccount* account = user.GetAccount(atTwitter, "5");
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(account->ExpireIn, 0);
    EXPECT_EQ(account->AccountInfo.Id, "5");
    EXPECT_EQ(account->AccountInfo.ScreenName, "");
}

TEST(UserReplies, ARelayThatGivesNoIDCreatesNoUser) {
    ScriptedServer server;
    server.Push({200, "<r><_error type=\"str\">busy</_error></r>"});
    UserOperateURL = server.Url("/user/operate");
    BuildUserURLs();
    EXPECT_THROW(CreateNewUser(), EConnectError);
}

} // namespace
} // namespace quillet::test
