#include "ContentViewsFixture.h"
#include "views/CommentView.h"
#include "views/SNSView.h"
#include "views/StatusView.h"
#include "views/UserView.h"
#include "views/UsersView.h"
#include "views/ViewerClasses.h"
#include "views/ViewerFactory.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>

namespace quillet::test {
namespace {

using FramesTest = ContentViewsTest;

TEST(ProfileGender, OnlyTheFirstCharacterCounts) {
    const std::pair<const char*, const char*> cases[] = {
        {"f", "女"},    {"female", "女"}, {"fx", "女"},   {"m", "男"},    {"n", "性别不详"},
        {"F", nullptr}, {"", nullptr},    {"x", nullptr}, {" f", nullptr}};
    for (const auto& [gender, text] : cases) {
        const char* got = GenderText(gender);
        EXPECT_EQ(got ? std::string(got) : "(unchanged)", text ? std::string(text) : "(unchanged)")
            << gender;
    }
}

const TSNSContext& Row(const TSNSViewer& viewer, size_t row) {
    return static_cast<const TSNSContext&>(*viewer.Contexts.at(row));
}

TEST_F(FramesTest, OwnSinaProfileShowsHeaderAndThreeFilledTabs) {
    SignInTo("sina");
    const auto user = Call("user", {{"ID", CurrentAccount->AccountName}});
    TUserViewer frame(nullptr, user.get());
    EXPECT_FALSE(frame.pnlHeader->isHidden());
    EXPECT_FALSE(frame.PageControl->isHidden());
    EXPECT_EQ(frame.lblAccountName->text(), "demo");
    EXPECT_EQ(frame.lblFriendsCount->text(), "关注数：6");
    EXPECT_EQ(frame.lblFollowersCount->text(), "粉丝数：5");
    EXPECT_EQ(frame.mmoDescription->toPlainText(), "Quillet 的演示账号");
    EXPECT_EQ(frame.lblGender->text(), "男");
    EXPECT_EQ(frame.lblLocation->text(), "北京");
    EXPECT_TRUE(frame.imgVerified->isHidden());
    EXPECT_EQ(frame.imgProfile->pixmap().size(), QSize(180, 180));
    EXPECT_EQ(frame.PageControl->currentWidget(), frame.tabTimeline);
    EXPECT_EQ(frame.PageControl->tabText(1), "关注");

    ASSERT_FALSE(frame.TimelineViewer->Contexts.empty());
    for (size_t i = 0; i < frame.TimelineViewer->Contexts.size(); ++i)
        EXPECT_EQ(Row(*frame.TimelineViewer, i).User.ID, CurrentAccount->AccountName);
    EXPECT_EQ(frame.FriendsViewer->Contexts.size(), 6u);
    EXPECT_EQ(frame.FollowersViewer->Contexts.size(), 5u);

    // Showing the user again replaces everything rather than adding to it.
    const size_t statuses = frame.TimelineViewer->Contexts.size();
    frame.ShowUser(*user);
    EXPECT_EQ(frame.lblFriendsCount->text(), "关注数：6");
    EXPECT_EQ(frame.TimelineViewer->Contexts.size(), statuses);
    EXPECT_EQ(frame.FriendsViewer->Contexts.size(), 6u);
    EXPECT_EQ(frame.FollowersViewer->Contexts.size(), 5u);

    frame.ClearView();
    EXPECT_TRUE(frame.pnlHeader->isHidden());
    EXPECT_TRUE(frame.PageControl->isHidden());
    EXPECT_TRUE(frame.TimelineViewer->Contexts.empty());
    EXPECT_TRUE(frame.FriendsViewer->Contexts.empty());
    EXPECT_TRUE(frame.FollowersViewer->Contexts.empty());
}

TEST_F(FramesTest, SinaHidesTheTabsOfOtherUsersOtherNetworksShowThem) {
    SignInTo("sina");
    const auto alice = Call("user", {{"screen_name", "alice"}});
    TUserViewer frame;
    frame.ShowUser(*alice);
    EXPECT_FALSE(frame.pnlHeader->isHidden());
    EXPECT_TRUE(frame.PageControl->isHidden());
    EXPECT_EQ(frame.lblAccountName->text(), "alice");
    EXPECT_EQ(frame.lblGender->text(), "女");
    EXPECT_FALSE(frame.imgVerified->isHidden());
    EXPECT_TRUE(frame.TimelineViewer->Contexts.empty());
    EXPECT_TRUE(frame.FriendsViewer->Contexts.empty());

    // "dave" has gender n; the next user's empty location replaces the previous one.
    SignInTo("twitter");
    const auto dave = Call("user", {{"screen_name", "dave"}});
    frame.ShowUser(*dave);
    EXPECT_FALSE(frame.PageControl->isHidden());
    EXPECT_EQ(frame.lblGender->text(), "性别不详");
    EXPECT_EQ(frame.lblLocation->text(), "");
    ASSERT_FALSE(frame.TimelineViewer->Contexts.empty());
    EXPECT_EQ(Row(*frame.TimelineViewer, 0).User.ScreenName, "dave");
    EXPECT_EQ(Row(*frame.TimelineViewer, 0).AccountType, atTwitter);
    EXPECT_EQ(frame.FriendsViewer->Contexts.size(),
              size_t(dave->GetByKey("follow_count")->AsInteger()));
    EXPECT_EQ(frame.FollowersViewer->Contexts.size(),
              size_t(dave->GetByKey("follower_count")->AsInteger()));
}

TEST_F(FramesTest, StatusFrameShowsTheButtonsOfTheCurrentNetwork) {
    SignInTo("twitter", "alice");
    const auto home = CurrentAccount->GetPublicTimeline();
    const TNode* status = Items(home->GetByKey("result")).at(0);
    TStatusViewer frame(nullptr, status);
    ASSERT_EQ(frame.innerViewer->Contexts.size(), 1u);
    const TRVDocument& cell = frame.innerViewer->Table->Cell(0, 0);
    const std::vector<std::string> paragraphs = Describe(cell);
    const std::string retweet = ButtonCaption(btRetweet, Row(*frame.innerViewer, 0));
    EXPECT_EQ(paragraphs.at(paragraphs.size() - 2),
              "3: 回复/3[0_0]  | /5 " + retweet + "/3[2_0]  | /5 收藏/3[4_0]");
}

TEST_F(FramesTest, ThreadFrameDrawsTheStatusWithoutButtonsAndEachCommentWithReply) {
    SignInTo("sina");
    const auto home = CurrentAccount->GetPublicTimeline();
    std::string withComments, without;
    for (const TNode* s : Items(home->GetByKey("result"))) {
        const std::string id = s->GetByKey("id")->AsText();
        (s->GetByKey("comment_count")->AsInteger() > 0 ? withComments : without) = id;
    }
    ASSERT_FALSE(withComments.empty());
    ASSERT_FALSE(without.empty());

    const auto thread = Call("comment", {{"ID", withComments}});
    const auto comments = Items(thread->GetByKey("comments"));
    ASSERT_FALSE(comments.empty());
    TCommentViewer frame(nullptr, thread.get());
    TSNSViewer& inner = *frame.innerViewer;
    ASSERT_EQ(inner.Contexts.size(), comments.size() + 1);
    EXPECT_EQ(inner.Table->RowCount(), int(comments.size()) + 2);
    EXPECT_EQ(Row(inner, 0).ID, withComments);
    for (const std::string& p : Describe(inner.Table->Cell(0, 0)))
        EXPECT_NE(p.substr(0, 2), "3:") << p;
    for (size_t i = 1; i < inner.Contexts.size(); ++i) {
        EXPECT_EQ(Row(inner, i).ID, comments[i - 1]->GetByKey("id")->AsText());
        const std::vector<std::string> paragraphs = Describe(inner.Table->Cell(int(i), 0));
        EXPECT_EQ(paragraphs.at(paragraphs.size() - 2), "3: 回复/3[0_" + std::to_string(i) + "]");
    }

    const auto lone = Call("comment", {{"ID", without}});
    TCommentViewer loneFrame(nullptr, lone.get());
    EXPECT_EQ(loneFrame.innerViewer->Contexts.size(), 1u);
    EXPECT_TRUE(Row(*loneFrame.innerViewer, 0).Buttons.Empty());
}

TEST_F(FramesTest, TheFactoryMakesEachRegisteredFrame) {
    RegisterViewerClasses();
    const auto status = Reply("<status type=\"dict\"><id type=\"str\">5</id><comments "
                              "type=\"list\"><comment type=\"dict\"><text type=\"str\">no id"
                              "</text></comment></comments></status>");
    QWidget sheet;
    auto* thread = dynamic_cast<TCommentViewer*>(CreateViewer(&sheet, vkComment, status.get()));
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->parentWidget(), &sheet);
    EXPECT_EQ(thread->innerViewer->Contexts.size(), 1u); // the comment without an id is left out
    EXPECT_NE(dynamic_cast<TStatusViewer*>(CreateViewer(&sheet, vkStatus, status.get())), nullptr);
    EXPECT_NE(dynamic_cast<TUserViewer*>(CreateViewer(&sheet, vkUser, nullptr)), nullptr);
    UnregisterViewerClasses();
    EXPECT_THROW(CreateViewer(&sheet, vkUser, nullptr), EConvertError);
}

} // namespace
} // namespace quillet::test
