#include "ContentViewsFixture.h"
#include "core/MainHelper.h"
#include "platform/Graphic.h"
#include "views/SNSView.h"

#include <QDialog>
#include <QLabel>

namespace quillet::test {
namespace {

// A status of the test's own, in the relay's reply shape, without pictures unless Extra adds
// them.
std::string StatusXml(const std::string& blocks, const std::string& extra = "") {
    return "<status type=\"dict\"><id type=\"str\">77</id><text type=\"dict\"><text type=\"str\">t"
           "</text><blocks type=\"list\">" +
           blocks +
           "</blocks></text><user type=\"dict\"><id type=\"str\">u7</id><screen_name "
           "type=\"str\">alice</screen_name></user><comment_count type=\"int\">3</comment_count>"
           "<retweet_count type=\"int\">0</retweet_count><good_count type=\"int\">0</good_count>"
           "<favor_count type=\"int\">2</favor_count><time type=\"str\">2010-10-20 12:34:56+0800"
           "</time><application type=\"str\">网页</application>" +
           extra + "</status>";
}

std::string Block(const std::string& type, const std::string& text, const std::string& extra = "") {
    return "<block type=\"dict\"><texttype type=\"str\">" + type +
           "</texttype><text type=\"str\">" + text + "</text><extra type=\"str\">" + extra +
           "</extra></block>";
}

const std::string kTimeLine = FormatServiceTime("2010-10-20 12:34:56+0800") + "来自 网页";

// Draws one status in a fresh viewer with the buttons of a network.
class StatusViewerTest : public ContentViewsTest {
protected:
    TRVDocument& Draw(const std::string& xml, TreButtonType buttons = ButtonSet(atSina)) {
        m_node = Reply(xml);
        TSNSContext context;
        context.Node->Assign(*m_node);
        context.Parse();
        context.Buttons = buttons;
        if (context.Retweet)
            context.Retweet->Buttons = buttons;
        m_viewer.AddContext(context);
        return m_viewer.Table->Cell(int(m_viewer.Contexts.size()) - 1, 0);
    }

    // Clicks item ItemNo of a row's cell as the view would report it.
    void Click(int row, int itemNo) {
        const int id = m_viewer.reText->JumpIdOf(&m_viewer.Table->Cell(row, 0), itemNo);
        ASSERT_GE(id, 0) << "item " << itemNo << " is not a drawn jump item";
        emit m_viewer.reText->Jump(id);
    }

    std::unique_ptr<TNodeDict> m_node;
    TSNSViewer m_viewer;
};

TEST_F(StatusViewerTest, ViewerStylesAndColours) {
    const TRVStyle& s = m_viewer.RVStyle;
    ASSERT_EQ(s.TextStyles.size(), 7u);
    EXPECT_EQ(s.TextStyles[tsTimeAndApp].StyleName, "Time&App");
    EXPECT_EQ(s.TextStyles[tsTimeAndApp].FontName, "Segoe UI");
    EXPECT_EQ(s.TextStyles[tsTimeAndApp].Size, 8);
    EXPECT_EQ(s.TextStyles[tsTimeAndApp].Color, QColor(Qt::black));
    EXPECT_FALSE(s.TextStyles[tsTimeAndApp].Jump);
    const struct {
        const char* name;
        int indent;
        TRVAlignment alignment;
        int defaultText;
        bool grey;
    } paras[] = {{"Main", 20, rvaLeft, -1, false},
                 {"Retweet", 40, rvaLeft, -1, true},
                 {"Button Retweet", 40, rvaRight, tsButton, true},
                 {"Button Main", 20, rvaRight, tsButton, false}};
    ASSERT_EQ(s.ParaStyles.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const TRVParaStyle& p = s.ParaStyles[size_t(i)];
        EXPECT_EQ(p.StyleName, paras[i].name);
        EXPECT_EQ(p.LeftIndent, paras[i].indent);
        EXPECT_EQ(p.RightIndent, paras[i].indent);
        EXPECT_EQ(p.Alignment, paras[i].alignment);
        EXPECT_EQ(p.LineSpacing, 150);
        EXPECT_EQ(p.DefaultTextStyle, paras[i].defaultText);
        EXPECT_EQ(p.Background, paras[i].grey ? QColor(242, 242, 242) : QColor()) << i;
    }
    EXPECT_EQ(s.Color, QColor(233, 233, 233));
    EXPECT_EQ(m_viewer.RetweetColor(), QColor(242, 242, 242));
    m_viewer.SetRetweetColor(Qt::yellow);
    EXPECT_EQ(m_viewer.RVStyle.ParaStyles[psRetweet].Background, QColor(Qt::yellow));
    EXPECT_EQ(m_viewer.RVStyle.ParaStyles[psButtonRetweet].Background, QColor(Qt::yellow));
}

// The example row: a Sina status by an author with a picture, one normal and one mention
// block, a picture, 3 comments and nothing else; the pictures come from the demo relay.
TEST_F(StatusViewerTest, TheExampleRowHoldsItsParagraphsStylesAndTags) {
    SignInTo("sina");
    const std::string pictures = m_relay->BaseUrl() + "/pictures/";
    const std::string avatar = pictures + "sina-u1000001001-50.png";
    const std::string avatarLarge = pictures + "sina-u1000001001-180.png";
    const std::string small = pictures + "sina-p0-small.png";
    const std::string large = pictures + "sina-p0-large.png";
    const std::string extra =
        "<image type=\"dict\"><large_url type=\"str\">" + large +
        "</large_url><small_url type=\"str\">" + small +
        "</small_url></image><user type=\"dict\"><id type=\"str\">u7</id><screen_name "
        "type=\"str\">alice</screen_name><profile_image type=\"dict\"><large_url type=\"str\">" +
        avatarLarge + "</large_url><small_url type=\"str\">" + avatar +
        "</small_url></profile_image></user>";
    std::string xml = StatusXml(Block("normal", "晚上好") + Block("mention", "@bob", "bob"));
    // The full user replaces the bare one.
    xml.replace(xml.find("<user"), xml.find("</user>") + 7 - xml.find("<user"), extra);
    const std::string favor = "<favor_count type=\"int\">2";
    xml.replace(xml.find(favor), favor.size(), "<favor_count type=\"int\">0");

    const TRVDocument& cell = Draw(xml);
    const std::vector<std::string> expected = {
        "0: hot:image[image_" + avatarLarge + "] alice/0[header_u7]",
        "0: 晚上好/1 @bob/2[mention_bob]",
        "0: hot:image[image_" + large + "]",
        "3: 评论(3)/3[1_0]  | /5 转发/3[2_0]  | /5 赞/3[3_0]  | /5 收藏/3[4_0]",
        "0: " + kTimeLine + "/6",
    };
    EXPECT_EQ(Describe(cell), expected);
    EXPECT_EQ(cell.Item(0).VAlign, rvvaAbsMiddle);
    const int picture = cell.ParagraphItems(2).front();
    EXPECT_EQ(cell.Item(picture).VAlign, rvvaBaseline);
    EXPECT_EQ(m_viewer.Table->RowCount(), 2); // one row per context and the empty last one
}

TEST_F(StatusViewerTest, RowsWithoutPicturesAndOtherNetworks) {
    // No relay: no picture can be had, so none is drawn and the rest still is.
    const std::vector<std::string> plain = {"0: alice/0[header_u7]", "0: hi/1",
                                            "3: 回复/3[0_0]  | /5 转发/3[2_0]  | /5 收藏/3[4_0]",
                                            "0: " + kTimeLine + "/6"};
    EXPECT_EQ(Describe(Draw(StatusXml(Block("normal", "hi")), ButtonSet(atTwitter))), plain);

    const std::vector<std::string> facebook = {
        "0: alice/0[header_u7]", "0: hi/1", "3: 评论(3)/3[1_1]  | /5 转发/3[2_1]  | /5 赞/3[3_1]",
        "0: " + kTimeLine + "/6"};
    EXPECT_EQ(Describe(Draw(StatusXml(Block("normal", "hi")), ButtonSet(atFacebook))), facebook);

    const std::vector<std::string> noButtons = {"0: alice/0[header_u7]", "0: hi/1",
                                                "0: " + kTimeLine + "/6"};
    EXPECT_EQ(Describe(Draw(StatusXml(Block("normal", "hi")), {})), noButtons);
    EXPECT_EQ(m_viewer.Table->RowCount(), 4);
}

TEST_F(StatusViewerTest, BlocksByTextType) {
    const struct {
        const char* name;
        std::string blocks;
        std::vector<std::string> text; // the paragraphs after the author line
    } cases[] = {
        {"links of each kind",
         Block("url", "http://x/_y", "http://x/_y") + Block("trend", "#t#", "t") +
             Block("mention", "@a_b", "a_b"),
         {"0: alice/0[header_u7]",
          "0: http://x/_y/2[url_http://x/_y] #t#/2[trend_t] @a_b/2[mention_a_b]"}},
        {"an unknown type after a link keeps the link style without a tag",
         Block("url", "u", "http://u") + Block("weird", "w") + Block("normal", "n"),
         {"0: alice/0[header_u7]", "0: u/2[url_http://u] w/2 n/1"}},
        {"an emotion whose picture exists continues the author line",
         Block("emotion", "哈哈") + Block("normal", "ok"),
         {"0: alice/0[header_u7] pic:emotion ok/1"}},
        {"a missing emotion picture shows its name",
         Block("normal", "a") + Block("emotion", "没有这个") + Block("emotion", "赞"),
         {"0: alice/0[header_u7]", "0: a/1 没有这个/4 pic:emotion"}},
        {"an emotion name cannot leave the emotion folder",
         Block("emotion", "../Sina/哈哈"),
         {"0: alice/0[header_u7]", "0: ../Sina/哈哈/4"}},
        {"no blocks", "", {"0: alice/0[header_u7]"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> expected = c.text;
        expected.push_back("0: " + kTimeLine + "/6");
        EXPECT_EQ(Describe(Draw(StatusXml(c.blocks), {})), expected) << c.name;
    }
}

TEST_F(StatusViewerTest, UnreadableOrMissingTimeDropsOnlyTheTimeLine) {
    std::string xml = StatusXml(Block("normal", "hi"));
    const std::string goodTime = "2010-10-20 12:34:56+0800";
    xml.replace(xml.find(goodTime), goodTime.size(), "last tuesday");
    TRVDocument* cell = nullptr;
    ASSERT_NO_THROW(cell = &Draw(xml, {btComment}));
    const std::vector<std::string> expected = {"0: alice/0[header_u7]", "0: hi/1",
                                               "3: 评论(3)/3[1_0]"};
    EXPECT_EQ(Describe(*cell), expected);

    // A status with nothing but its id still makes a row.
    const std::vector<std::string> bare = {"0: /0[header_]"};
    EXPECT_EQ(Describe(Draw("<status type=\"dict\"><id type=\"str\">1</id></status>", {})), bare);
}

TEST_F(StatusViewerTest, ClicksAreDispatchedByTag) {
    std::vector<std::string> events;
    m_viewer.OnSNSButtonClick = [&](TSNSViewer* sender, TreButtonTypeElement kind, TNode* node) {
        EXPECT_EQ(sender, &m_viewer);
        EXPECT_EQ(node, static_cast<TSNSContext&>(*m_viewer.Contexts[1]).Node.get());
        events.push_back("button " + std::to_string(int(kind)) + " " +
                         node->GetByKey("id")->AsText());
    };
    m_viewer.OnSNSLinkClick = [&](TSNSViewer* sender, const std::string& category,
                                  const std::string& extra) {
        EXPECT_EQ(sender, &m_viewer);
        events.push_back("link " + category + " " + extra);
    };
    const std::string blocks =
        Block("mention", "@a_b", "a_b") + Block("url", "u", "http://u") + Block("weird", "w");
    Draw(StatusXml(blocks));
    Draw(StatusXml(blocks));
    // Row 1: header, mention, url, weird (no tag), then the buttons.
    Click(1, 0);
    Click(1, 1);
    Click(1, 2);
    Click(1, 3);
    Click(1, 4);
    Click(1, 8);
    const std::vector<std::string> expected = {"link header u7", "link mention a_b",
                                               "link url http://u", "button 1 77", "button 3 77"};
    EXPECT_EQ(events, expected);

    // Without handlers nothing is reported and nothing fails.
    m_viewer.OnSNSButtonClick = nullptr;
    m_viewer.OnSNSLinkClick = nullptr;
    Click(1, 0);
    Click(1, 4);
    EXPECT_EQ(events.size(), expected.size());
}

TEST_F(StatusViewerTest, PictureClickOpensTheLargePicture) {
    SignInTo("sina");
    const std::string small = m_relay->BaseUrl() + "/pictures/sina-p3-small.png";
    const std::string large = m_relay->BaseUrl() + "/pictures/sina-p3-large.png";
    const std::string extra = "<image type=\"dict\"><large_url type=\"str\">" + large +
                              "</large_url><small_url type=\"str\">" + small +
                              "</small_url></image>";
    const TRVDocument& cell = Draw(StatusXml(Block("normal", "hi"), extra), {});
    ASSERT_EQ(cell.Item(2).Kind, rvikHotPicture);
    EXPECT_EQ(cell.Item(2).Picture->Width(), 120);

    int links = 0;
    m_viewer.OnSNSLinkClick = [&](TSNSViewer*, const std::string&, const std::string&) { ++links; };
    QSize shown;
    const TDialogService previous = SetDialogService([&](QDialog& dialog) {
        const auto* label = dialog.findChild<QLabel*>();
        shown = label && !label->pixmap().isNull() ? label->pixmap().size() : QSize();
        return 0;
    });
    Click(0, 2);
    SetDialogService(previous);
    EXPECT_EQ(shown, QSize(440, 330)); // the large picture, not the small one
    EXPECT_EQ(links, 0);
}

// A repost from the demo relay's home timeline: the reposted status in grey paragraphs between
// the picture and the buttons; its buttons address the outer row.
TEST_F(StatusViewerTest, RepostsFromTheRelayAreDrawnInTheRepostBlock) {
    SignInTo("sina");
    FillHomeTimeline(m_viewer);
    int row = -1;
    for (size_t i = 0; i < m_viewer.Contexts.size() && row < 0; ++i)
        if (static_cast<TSNSContext&>(*m_viewer.Contexts[i]).HasRetweet)
            row = int(i);
    ASSERT_GE(row, 0) << "the demo home timeline shows no repost";
    const auto& c = static_cast<TSNSContext&>(*m_viewer.Contexts[size_t(row)]);
    const TSNSContext& r = *c.Retweet;
    const TRVDocument& cell = m_viewer.Table->Cell(row, 0);
    const std::vector<std::string> paragraphs = Describe(cell);

    // Paragraphs in style 1 and 2 form the repost block, right after the outer status.
    std::vector<std::string> block;
    for (const std::string& p : paragraphs)
        if (p[0] == '1' || p[0] == '2')
            block.push_back(p);
    ASSERT_GE(block.size(), 4u);
    EXPECT_EQ(block.front(), "1: " + r.User.ScreenName + "/0[header_" + r.User.ID + "]");
    EXPECT_NE(block[2].find("1: hot:image[image_" + r.Image.LargeURL + "]"), std::string::npos);
    const std::string row_ = std::to_string(row);
    EXPECT_EQ(block[3], "2: " + ButtonCaption(btComment, r) + "/3[1_" + row_ + "]  | /5 " +
                            ButtonCaption(btRetweet, r) + "/3[2_" + row_ + "]  | /5 " +
                            ButtonCaption(btGood, r) + "/3[3_" + row_ + "]  | /5 收藏/3[4_" + row_ +
                            "] /0");
    const std::string time = r.Node->GetByKey("time")->AsText();
    const std::string app = r.Node->GetByKey("application")->AsText();
    EXPECT_EQ(block.back(), "1: " + TimeAndSourceLine(time, app) + "/6");
    // Then the outer buttons and time.
    EXPECT_EQ(paragraphs[paragraphs.size() - 2].substr(0, 2), "3:");
    EXPECT_EQ(paragraphs.back().substr(0, 2), "0:");
    EXPECT_NE(paragraphs.back().find("/6"), std::string::npos);

    // A repost's button reports the outer status.
    std::string reported;
    m_viewer.OnSNSButtonClick = [&](TSNSViewer*, TreButtonTypeElement, TNode* node) {
        reported = node->GetByKey("id")->AsText();
    };
    int repostButton = -1;
    for (int p = 0; p < cell.ParagraphCount(); ++p)
        if (cell.Paragraph(p).StyleNo == psButtonRetweet)
            repostButton = cell.ParagraphItems(p).front();
    ASSERT_GE(repostButton, 0);
    Click(row, repostButton);
    EXPECT_EQ(reported, c.ID);
}

} // namespace
} // namespace quillet::test
