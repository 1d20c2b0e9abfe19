#include "ServiceFixture.h"

#include "data/XMLObj.h"
#include "service/SignIn.h"

namespace quillet::test {
namespace {

TEST_F(ServiceTest, ANewUserHasNoAccounts) {
    std::unique_ptr<TUser> user = CreateNewUser();
    EXPECT_EQ(user->ID.size(), 32u) << user->ID;
    EXPECT_EQ(user->TotalAccountCount(), 0);
    EXPECT_EQ(user->FirstAccount(), nullptr);
    EXPECT_EQ(user->GetAccount(atSina, 0), nullptr);
}

TEST_F(ServiceTest, AccountsAddedAreLoadedBackWithTheirProfiles) {
    const SignedIn sina = SignInAt(*m_relay, "sina");
    const SignedIn twitter = SignInAt(*m_relay, "twitter", "alice");
    std::unique_ptr<TUser> user = CreateNewUser();
    ASSERT_TRUE(user->AddAccountFromReply(sina.reply));
    ASSERT_TRUE(user->AddAccountFromReply(twitter.reply));
    EXPECT_EQ(user->TotalAccountCount(), 2);
    EXPECT_EQ(user->GetAccount(atSina, 0)->AccountInfo.ScreenName, ""); // added from values

    TUser loaded(user->ID);
    ASSERT_EQ(loaded.AccountCount(atSina), 1);
    ASSERT_EQ(loaded.AccountCount(atTwitter), 1);
    const TAccount& s = *loaded.GetAccount(atSina, 0);
    EXPECT_EQ(s.AccountName, sina.name);
    EXPECT_EQ(s.AccessToken, sina.token);
    EXPECT_EQ(s.AccessSecret, "");
    EXPECT_EQ(s.AccountInfo.Id, sina.name);
    EXPECT_EQ(s.AccountInfo.ScreenName, "demo");
    EXPECT_GT(s.AccountInfo.FollowCount, 0);
    EXPECT_NE(s.AccountInfo.ProfileImage.SmallURL, "");
    const TAccount& t = *loaded.GetAccount(atTwitter, 0);
    EXPECT_EQ(t.AccessSecret, twitter.secret);
    EXPECT_FALSE(t.AccessSecret.empty());
    EXPECT_EQ(t.AccountInfo.ScreenName, "alice");
    // Sina comes first; names are found whatever their letter case.
    EXPECT_EQ(loaded.FirstAccount(), &s);
    EXPECT_EQ(loaded.GetAccount(atTwitter, t.AccountName), &t);
}

TEST_F(ServiceTest, RefusedAddsAndDeletesChangeNothing) {
    std::unique_ptr<TUser> user = CreateNewUser();
    const SignedIn sina = SignInAt(*m_relay, "sina");
    EXPECT_FALSE(user->AddAccount("forged-token", "", sina.name, atSina, 3600));
    EXPECT_EQ(user->TotalAccountCount(), 0);
    EXPECT_FALSE(user->DeleteAccount(atSina, "nobody"));
    // A name with query characters is sent as one value, not as extra parameters.
    EXPECT_FALSE(user->AddAccount(sina.token, "", sina.name + "&ID=x", atSina, 3600));
    EXPECT_EQ(user->TotalAccountCount(), 0);
}

TEST_F(ServiceTest, DeletedAccountStaysUsableUntilTheUserGoes) {
    std::unique_ptr<TUser> user = CreateNewUser();
    ASSERT_TRUE(user->AddAccountFromReply(SignInAt(*m_relay, "facebook").reply));
    ASSERT_TRUE(user->AddAccountFromReply(SignInAt(*m_relay, "sina").reply));
    TAccount* current = user->GetAccount(atFacebook, 0);
    const std::string name = current->AccountName;
    ASSERT_TRUE(user->DeleteAccount(*current));
    EXPECT_EQ(user->AccountCount(atFacebook), 0);
    EXPECT_EQ(current->AccountName, name); // still alive
    EXPECT_EQ(TUser(user->ID).AccountCount(atFacebook), 0);
}

TEST_F(ServiceTest, OwnerIsRevealedOnlyWithTheAccountsToken) {
    std::unique_ptr<TUser> user = CreateNewUser();
    const SignedIn sina = SignInAt(*m_relay, "sina");
    EXPECT_EQ(LookupAccountOwner("sina", sina.name, sina.token), "");
    ASSERT_TRUE(user->AddAccountFromReply(sina.reply));
    EXPECT_EQ(LookupAccountOwner("sina", sina.name, sina.token), user->ID);
    EXPECT_EQ(LookupAccountOwner("sina", sina.name, "guess"), "");
    EXPECT_EQ(LookupAccountOwner("twitter", sina.name, sina.token), "");
}

TEST_F(ServiceTest, SigningInAgainUpdatesTheToken) {
    std::unique_ptr<TUser> user = CreateNewUser();
    ASSERT_TRUE(user->AddAccountFromReply(SignInAt(*m_relay, "twitter").reply));
    const SignedIn again = SignInAt(*m_relay, "twitter");
    TSignInResult result = HandleAuthorizationReply(again.reply, nullptr);
    ASSERT_EQ(result.Outcome, TSignInOutcome::soExistingUser);
    EXPECT_EQ(result.User->ID, user->ID);
    EXPECT_EQ(result.User->GetAccount(atTwitter, 0)->AccessToken, again.token);
    EXPECT_EQ(result.User->GetAccount(atTwitter, 0)->AccessSecret, again.secret);
}

TEST_F(ServiceTest, SignInDecisions) {
    TSignInResult first = HandleAuthorizationReply(SignInAt(*m_relay, "sina").reply, nullptr);
    ASSERT_EQ(first.Outcome, TSignInOutcome::soNewUser);
    TUser& user = *first.User;
    EXPECT_EQ(user.AccountCount(atSina), 1);

    const std::string other = SignInAt(*m_relay, "facebook", "bob").reply;
    EXPECT_EQ(HandleAuthorizationReply(other, &user).Outcome, TSignInOutcome::soAccountAdded);
    EXPECT_EQ(user.AccountCount(atFacebook), 1);

    // Owned, by this user or another, while someone is signed in: nothing changes.
    EXPECT_EQ(HandleAuthorizationReply(SignInAt(*m_relay, "sina").reply, &user).Outcome,
              TSignInOutcome::soOwned);
    EXPECT_EQ(HandleAuthorizationReply("<r><_error type=\"str\">denied</_error></r>", nullptr)
                  .Outcome,
              TSignInOutcome::soRefused);
    EXPECT_EQ(HandleAuthorizationReply("not a reply", nullptr).Outcome,
              TSignInOutcome::soRefused);
}

TEST_F(ServiceTest, TimelinesComeFromTheCacheForFiveMinutes) {
    std::unique_ptr<TUser> user = CreateNewUser();
    ASSERT_TRUE(user->AddAccountFromReply(SignInAt(*m_relay, "sina").reply));
    TAccount& account = *user->GetAccount(atSina, 0);
    PointCacheAt(*user, account);

    std::unique_ptr<TNodeDict> home = account.GetPublicTimeline();
    const auto* result = dynamic_cast<TNodeList*>(home->GetByKey("result"));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->Count(), 64);
    std::unique_ptr<TNodeDict> again = account.GetPublicTimeline();
    EXPECT_EQ(Logged("public_timeline"), 1);
    EXPECT_EQ(again->XmlText(), home->XmlText());

    const std::string author = result->GetByIndex(1)->GetByKey("user")->GetByKey("id")->AsText();
    std::unique_ptr<TNodeDict> timeline = account.GetUserTimeline(author);
    const auto* statuses = dynamic_cast<TNodeList*>(timeline->GetByKey("result"));
    ASSERT_NE(statuses, nullptr);
    EXPECT_GT(statuses->Count(), 0);
    EXPECT_LE(statuses->Count(), 10);
    for (int i = 1; i <= statuses->Count(); ++i)
        EXPECT_EQ(statuses->GetByIndex(i)->GetByKey("user")->GetByKey("id")->AsText(), author);
    account.GetUserTimeline(author);
    EXPECT_EQ(Logged("timeline"), 1);
}

// Every function of the relay's table through an account's call object.
TEST_F(ServiceTest, EveryFunctionAnswersThroughTheCallObject) {
    std::unique_ptr<TUser> user = CreateNewUser();
    ASSERT_TRUE(user->AddAccountFromReply(SignInAt(*m_relay, "sina").reply));
    TAccount& account = *user->GetAccount(atSina, 0);
    TAPICall& call = *account.APICall;

    const std::string text = "a&b=c #话题# 100% [微笑]\r\nline two";
    call.SetCategory("update_status");
    call.AddParam("status", text);
    std::unique_ptr<TNodeDict> posted = call.Execute();
    ASSERT_FALSE(posted->ContainsKey("_error")) << posted->XmlText();
    EXPECT_EQ(posted->GetByKey("text")->GetByKey("text")->AsText(),
              "a&b=c #话题# 100% [微笑]\nline two");
    const std::string statusID = posted->GetByKey("id")->AsText();

    call.SetCategory("update_status");
    call.AddParam("status", text);
    EXPECT_EQ(call.Execute()->GetByKey("_error_code")->AsInteger(), 4);

    call.SetCategory("comment");
    call.AddParam("ID", statusID);
    std::unique_ptr<TNodeDict> thread = call.Execute();
    EXPECT_EQ(thread->GetByKey("id")->AsText(), statusID);
    EXPECT_NE(dynamic_cast<TNodeList*>(thread->GetByKey("comments")), nullptr);

    for (const char* category : {"friends", "followers"}) {
        call.SetCategory(category);
        call.AddParam("ID", account.AccountName);
        std::unique_ptr<TNodeDict> users = call.Execute();
        const auto* list = dynamic_cast<TNodeList*>(users->GetByKey("result"));
        ASSERT_NE(list, nullptr) << category;
        EXPECT_GT(list->Count(), 0) << category;
        EXPECT_NE(list->GetByIndex(1)->GetByKey("screen_name"), nullptr) << category;
    }

    call.SetCategory("notify");
    std::unique_ptr<TNodeDict> notify = call.Execute();
    const int64_t count = notify->GetByKey("counts")->GetByKey("count")->AsInteger();
    EXPECT_GT(count, 0);
    EXPECT_EQ(dynamic_cast<TNodeList*>(notify->GetByKey("notifies"))->Count(), count);
    call.SetCategory("notify");
    EXPECT_EQ(call.Execute()->GetByKey("counts")->GetByKey("count")->AsInteger(), 0);
    EXPECT_EQ(call.ParamNames, (std::vector<std::string>{"sns", "access_token"}));
}

TEST_F(ServiceTest, ExpiredTokensRaiseAndLeaveNoParameters) {
    m_relay = std::make_unique<RelayProcess>(RelayOptions({"--demo", "--token-lifetime", "1"}));
    std::ofstream("Main.INI") << "[URL]\nHost_URL=" << m_relay->BaseUrl() << "\n";
    LoadConfig();
    BuildUserURLs();
    const SignedIn sina = SignInAt(*m_relay, "sina");
    TAPICall call(sina.token, "");
    call.SetSNS("sina");
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    call.SetCategory("user");
    call.AddParam("ID", sina.name);
    EXPECT_THROW(call.Execute(), EAccountExpiredError);
    EXPECT_EQ(call.ParamNames, (std::vector<std::string>{"sns", "access_token"}));
}

TEST_F(ServiceTest, NoRelayMeansConnectErrors) {
    m_relay->Stop();
    EXPECT_THROW(CreateNewUser(), EConnectError);
    EXPECT_THROW(TUser("someone"), EConnectError);
    EXPECT_THROW(LookupAccountOwner("sina", "x", "y"), EConnectError);
}

} // namespace
} // namespace quillet::test
