#include "ContentViewsFixture.h"
#include "views/NotifyView.h"
#include "views/SNSView.h"
#include "views/UsersView.h"

#include <fstream>
#include <sstream>

namespace quillet::test {
namespace {

std::unique_ptr<TNodeDict> FixtureReply(const std::string& name) {
    std::ifstream in(std::string(QUILLET_FIXTURES) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return ParseReply(text.str());
}

std::unique_ptr<TSNSContext> Parsed(const TNode& status) {
    auto context = std::make_unique<TSNSContext>();
    context->Node->Assign(status);
    context->Parse();
    return context;
}

TEST(StatusTags, SplitKeyCutsAtTheFirstUnderscore) {
    const struct {
        const char* tag;
        const char* left;
        const char* right;
    } cases[] = {{"mention_a_b", "mention", "a_b"},
                 {"url_", "url", ""},
                 {"abc", "", "abc"},
                 {"_x", "", "x"},
                 {"image_http://h/p_1.png", "image", "http://h/p_1.png"}};
    for (const auto& c : cases) {
        const auto [left, right] = SplitKey(c.tag);
        EXPECT_EQ(left, c.left) << c.tag;
        EXPECT_EQ(right, c.right) << c.tag;
    }
}

TEST(StatusTags, ButtonTagsRoundTripAndRefuseOtherText) {
    EXPECT_EQ(ButtonTag(btReply, 0), "0_0");
    EXPECT_EQ(ButtonTag(btRetweet, 15), "2_15");
    const TButtonTagValue value = ParseButtonTag("4_123");
    EXPECT_EQ(value.Button, 4);
    EXPECT_EQ(value.Row, 123);
    const TButtonTagValue back = ParseButtonTag(ButtonTag(btDelete, 7));
    EXPECT_EQ(back.Button, btDelete);
    EXPECT_EQ(back.Row, 7);
    for (const char* bad : {"", "12", "1_", "_1", "a_1", "1_x", "1_2_3", "1 _2"})
        EXPECT_THROW(ParseButtonTag(bad), EConvertError) << bad;
}

TEST(StatusTags, TimeAndSourceLine) {
    EXPECT_EQ(TimeAndSourceLine("", "网页"), "");
    const std::string time = "2010-10-20 12:34:56+0800";
    EXPECT_EQ(TimeAndSourceLine(time, "网页"), FormatServiceTime(time) + "来自 网页");
    EXPECT_EQ(TimeAndSourceLine(time, ""), FormatServiceTime(time) + "来自 ");
    EXPECT_THROW(TimeAndSourceLine("yesterday", "网页"), EConvertError);
}

TEST(StatusButtons, SetsPerNetworkAndCaptionsWithCounts) {
    EXPECT_EQ(ButtonSet(atSina).Bits, 30);
    EXPECT_EQ(ButtonSet(atTwitter).Bits, 21);
    EXPECT_EQ(ButtonSet(atFacebook).Bits, 14);
    for (TAccount_Type type : {atSina, atTwitter, atFacebook})
        EXPECT_FALSE(ButtonSet(type).Contains(btDelete));

    EXPECT_EQ(CountCaption("转发", 5), "转发(5)");
    EXPECT_EQ(CountCaption("评论", 0), "评论");
    TSNSContext c;
    c.CommentCount = 3;
    c.RetweetCount = 4;
    c.GoodCount = 5;
    c.FavorCount = 6;
    const std::pair<TreButtonTypeElement, const char*> captions[] = {
        {btReply, "回复"}, {btComment, "评论(3)"}, {btRetweet, "转发(4)"},
        {btGood, "赞(5)"}, {btFavor, "收藏"},      {btDelete, "删除"}};
    for (const auto& [kind, caption] : captions)
        EXPECT_EQ(ButtonCaption(kind, c), caption);
}

TEST(StatusContext, ParseReadsEveryFieldOfARealReply) {
    const auto reply = FixtureReply("timeline.xml");
    const auto statuses = Items(reply->GetByKey("result"));
    ASSERT_GE(statuses.size(), 2u);

    const auto c = Parsed(*statuses[0]);
    EXPECT_EQ(c->ID, "3512339184739812");
    EXPECT_EQ(c->Image.LargeURL, "http://ww2.sinaimg.cn/large/6a1b2c3dgw1e.jpg");
    EXPECT_EQ(c->Image.SmallURL, "http://ww2.sinaimg.cn/thumbnail/6a1b2c3dgw1e.jpg");
    EXPECT_EQ(c->CommentCount, 12);
    EXPECT_EQ(c->RetweetCount, 3);
    EXPECT_EQ(c->GoodCount, 40);
    EXPECT_EQ(c->FavorCount, 1);
    EXPECT_EQ(c->User.ID, "1789234561");
    EXPECT_EQ(c->User.ScreenName, "晨跑的猫");
    EXPECT_EQ(c->User.DisplayName, "晨跑的猫");
    EXPECT_EQ(c->User.Gender, "f");
    EXPECT_EQ(c->User.Location, "北京 海淀区");
    EXPECT_EQ(c->User.Description, "每天跑五公里");
    EXPECT_FALSE(c->User.Verified);
    EXPECT_EQ(c->User.ProfileImage.SmallURL, "http://tp2.sinaimg.cn/1789234561/50/1.jpg");
    EXPECT_TRUE(c->Buttons.Empty()); // Parse never sets buttons
    EXPECT_FALSE(c->HasRetweet);

    const auto second = Parsed(*statuses[1]);
    EXPECT_EQ(second->Image.LargeURL, "");
    EXPECT_EQ(second->Image.SmallURL, "");
    EXPECT_EQ(second->CommentCount + second->RetweetCount + second->GoodCount, 0);
    EXPECT_TRUE(second->User.Verified);
}

TEST(StatusContext, MissingEntriesReadAsEmptyOrZero) {
    // A bare status, and one whose dictionaries arrive as plain values.
    for (const char* xml :
         {"<status type=\"dict\"><id type=\"str\">9</id></status>",
          "<status type=\"dict\"><id type=\"str\">9</id><user type=\"str\">x</user>"
          "<image type=\"str\"/><text type=\"str\">t</text></status>"}) {
        const auto node = Reply(xml);
        const auto c = Parsed(*node);
        EXPECT_EQ(c->ID, "9");
        EXPECT_EQ(c->User.ID, "");
        EXPECT_EQ(c->User.ScreenName, "");
        EXPECT_FALSE(c->User.Verified);
        EXPECT_EQ(c->Image.SmallURL, "");
        EXPECT_EQ(c->CommentCount + c->RetweetCount + c->GoodCount + c->FavorCount, 0);
        EXPECT_TRUE(IsStatusNode(*node));
    }
    EXPECT_FALSE(
        IsStatusNode(*Reply("<status type=\"dict\"><text type=\"str\">t</text></status>")));

    const auto badCount =
        Reply("<status type=\"dict\"><id type=\"str\">9</id><good_count type=\"str\">many"
              "</good_count></status>");
    EXPECT_THROW(Parsed(*badCount), EConvertError);
}

TEST(StatusContext, RepostIsParsedOneLevelDeep) {
    const auto node = Reply(
        "<status type=\"dict\"><id type=\"str\">2</id><comment_count type=\"int\">1</comment_count>"
        "<retweet type=\"dict\"><id type=\"str\">1</id><retweet_count "
        "type=\"int\">8</retweet_count>"
        "<user type=\"dict\"><id type=\"str\">u1</id><screen_name type=\"str\">alice</screen_name>"
        "</user><image type=\"dict\"><large_url type=\"str\">L</large_url><small_url type=\"str\">S"
        "</small_url></image><retweet type=\"dict\"><id type=\"str\">0</id></retweet></retweet>"
        "</status>");
    const auto c = Parsed(*node);
    ASSERT_TRUE(c->HasRetweet);
    ASSERT_TRUE(c->Retweet);
    EXPECT_EQ(c->Retweet->ID, "1");
    EXPECT_EQ(c->Retweet->User.ScreenName, "alice");
    EXPECT_EQ(c->Retweet->RetweetCount, 8);
    EXPECT_EQ(c->Retweet->Image.SmallURL, "S");
    EXPECT_EQ(c->Retweet->Image.LargeURL, "L");
    EXPECT_FALSE(c->Retweet->HasRetweet);
    EXPECT_EQ(c->Retweet->Node->GetByKey("id")->AsText(), "1");

    // A "retweet" that is no status leaves the status plain.
    const auto plain = Parsed(*Reply("<status type=\"dict\"><id type=\"str\">2</id>"
                                     "<retweet type=\"dict\"><text type=\"str\">x</text></retweet>"
                                     "</status>"));
    EXPECT_FALSE(plain->HasRetweet);
    EXPECT_FALSE(plain->Retweet);
}

TEST(StatusContext, AssignMakesAnIndependentCopyThatKeepsButtons) {
    const auto reply = FixtureReply("timeline.xml");
    auto source = Parsed(*Items(reply->GetByKey("result"))[0]);
    source->Buttons = {btReply};
    source->AccountType = atTwitter;

    TSNSContext copy;
    copy.Assign(*source);
    EXPECT_EQ(copy.Buttons, (TreButtonType{btReply}));
    EXPECT_EQ(copy.AccountType, atTwitter);
    EXPECT_EQ(copy.ID, source->ID);
    EXPECT_EQ(copy.User.ScreenName, "晨跑的猫");
    ASSERT_NE(copy.Node.get(), source->Node.get());
    source->Node->Remove("id");
    EXPECT_EQ(copy.Node->GetByKey("id")->AsText(), "3512339184739812");

    // The repost's own buttons travel with the copy.
    auto repost = Parsed(*Reply("<status type=\"dict\"><id type=\"str\">2</id><retweet "
                                "type=\"dict\"><id type=\"str\">1</id></retweet></status>"));
    repost->Retweet->Buttons = {btGood};
    TSNSContext repostCopy;
    repostCopy.Assign(*repost);
    ASSERT_TRUE(repostCopy.Retweet);
    EXPECT_EQ(repostCopy.Retweet->Buttons, (TreButtonType{btGood}));
}

TEST(StatusContext, EachContextAcceptsOnlyItsOwnClass) {
    TSNSContext status;
    TNotifyContext notify;
    TUsersContext users;
    EXPECT_THROW(status.Assign(notify), EInvalidCast);
    EXPECT_THROW(notify.Assign(users), EInvalidCast);
    EXPECT_THROW(users.Assign(status), EInvalidCast);

    notify.Node->Assign(*Reply("<n type=\"dict\"><text type=\"str\">hi</text></n>"));
    TNotifyContext notifyCopy;
    notifyCopy.Assign(notify);
    notify.Node->Remove("text");
    EXPECT_EQ(notifyCopy.Node->GetByKey("text")->AsText(), "hi");
}

} // namespace
} // namespace quillet::test
