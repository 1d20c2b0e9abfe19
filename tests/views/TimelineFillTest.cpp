#include "core/MainHelper.h"
#include "data/XMLObj.h"
#include "net/Cache_.h"
#include "service/User_Intf.h"
#include "tests/service/ServiceFixture.h"
#include "views/SNSView.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace quillet::test {
namespace {

// A demo relay, a client configured for it in a temporary folder, and a relay user.
class TimelineFillTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        m_user = CreateNewUser();
    }

    void TearDown() override {
        CurrentAccount = nullptr;
        m_user.reset();
        ServiceTest::TearDown();
    }

    // Signs in on Network as "demo"; the account becomes current.
    TAccount& SignIn(const std::string& network) {
        EXPECT_TRUE(m_user->AddAccountFromReply(SignInAt(*m_relay, network).reply));
        TAccount* account = m_user->GetAccount(*AccountTypeOf(network), 0);
        CurrentAccount = account;
        Cache().SetUserID(m_user->ID);
        Cache().SetAccountType(account->AccountType);
        Cache().SetAccountName(account->AccountName);
        return *account;
    }

    static std::vector<std::string> IDs(const TSNSViewer& viewer) {
        std::vector<std::string> ids;
        for (const auto& c : viewer.Contexts)
            ids.push_back(static_cast<const TSNSContext&>(*c).ID);
        return ids;
    }

    // The "id" of every status of a reply's "result" list.
    static std::vector<std::string> IDs(const TNodeDict& reply) {
        std::vector<std::string> ids;
        const TNode* result = reply.GetByKey("result");
        for (int i = 1; i <= result->Count(); ++i)
            ids.push_back(result->GetItem(i)->GetByKey("id")->AsText());
        return ids;
    }

    std::unique_ptr<TUser> m_user;
};

TEST_F(TimelineFillTest, HomeTimelineRowsCarryTheAccountsTypeAndButtons) {
    TAccount& account = SignIn("twitter");
    TSNSViewer viewer;
    FillHomeTimeline(viewer);
    const std::vector<std::string> expected = IDs(*account.GetPublicTimeline());
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(IDs(viewer), expected);
    EXPECT_EQ(viewer.Table->RowCount(), int(expected.size()) + 1);
    bool sawRepost = false;
    for (const auto& c : viewer.Contexts) {
        const auto& status = static_cast<const TSNSContext&>(*c);
        EXPECT_EQ(status.AccountType, atTwitter);
        EXPECT_EQ(status.Buttons, ButtonSet(atTwitter));
        if (status.HasRetweet) {
            sawRepost = true;
            EXPECT_EQ(status.Retweet->Buttons, ButtonSet(atTwitter));
        }
    }
    EXPECT_TRUE(sawRepost) << "the demo timeline holds no repost";

    // A second fill replaces the rows instead of adding to them.
    FillHomeTimeline(viewer);
    EXPECT_EQ(IDs(viewer), expected);
}

TEST_F(TimelineFillTest, ASinaAccountReadsOnlyItsOwnTimeline) {
    TAccount& account = SignIn("sina");
    TSNSViewer viewer;
    FillHomeTimeline(viewer);
    const std::vector<std::string> home = IDs(viewer);
    ASSERT_FALSE(home.empty());

    // Another user, and the own name in another case: refused, the viewer keeps its rows.
    for (const std::string& other : {std::string("someone-else"), std::string("DEMO")}) {
        EXPECT_FALSE(FillUserTimeline(viewer, other)) << other;
        EXPECT_EQ(IDs(viewer), home);
    }

    ASSERT_TRUE(FillUserTimeline(viewer, account.AccountName));
    EXPECT_EQ(IDs(viewer), IDs(*account.GetUserTimeline(account.AccountName)));
    EXPECT_NE(IDs(viewer), home);
}

TEST_F(TimelineFillTest, OtherNetworksReadAnyUsersTimeline) {
    TAccount& account = SignIn("facebook");
    TSNSViewer viewer;
    FillHomeTimeline(viewer);
    std::string other;
    for (const auto& c : viewer.Contexts) {
        const auto& status = static_cast<const TSNSContext&>(*c);
        if (status.User.ID != account.AccountName)
            other = status.User.ID;
    }
    ASSERT_FALSE(other.empty()) << "every demo status is the account's own";
    ASSERT_TRUE(FillUserTimeline(viewer, other));
    ASSERT_FALSE(viewer.Contexts.empty());
    for (const auto& c : viewer.Contexts)
        EXPECT_EQ(static_cast<const TSNSContext&>(*c).User.ID, other);
}

TEST_F(TimelineFillTest, ErrorRepliesAndNoAccountFillNothing) {
    SignIn("twitter");
    TSNSViewer viewer;
    FillHomeTimeline(viewer);
    ASSERT_FALSE(viewer.Contexts.empty());
    // The relay refuses an unknown user with an "_error" reply, which holds no "result".
    EXPECT_TRUE(FillUserTimeline(viewer, "no-such-user"));
    EXPECT_TRUE(viewer.Contexts.empty());

    CurrentAccount = nullptr;
    FillHomeTimeline(viewer);
    EXPECT_TRUE(viewer.Contexts.empty());
    EXPECT_FALSE(FillUserTimeline(viewer, "anyone"));
}

} // namespace
} // namespace quillet::test
