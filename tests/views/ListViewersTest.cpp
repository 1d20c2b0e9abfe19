#include "ContentViewsFixture.h"
#include "views/NotifyView.h"
#include "views/UsersView.h"

namespace quillet::test {
namespace {

using ListViewersTest = ContentViewsTest;

void AddNotifications(TNotifyViewer& viewer, const TNode* list) {
    for (const TNode* item : Items(list)) {
        TNotifyContext context;
        context.Node->Assign(*item);
        viewer.AddContext(context);
    }
}

TEST_F(ListViewersTest, NotificationRowsAndClicksFromTheRelay) {
    SignInTo("sina");
    const auto reply = Call("notify");
    const TNode* notifies = reply->GetByKey("notifies");
    ASSERT_GE(Items(notifies).size(), 2u);

    TNotifyViewer viewer;
    EXPECT_EQ(viewer.RVStyle.TextStyles[tsText].FontName, "Segoe UI");
    EXPECT_EQ(viewer.RVStyle.TextStyles[tsText].Size, 8);
    AddNotifications(viewer, notifies);
    ASSERT_EQ(viewer.Table->RowCount(), int(Items(notifies).size()) + 1);
    for (int row = 0; row < int(viewer.Contexts.size()); ++row) {
        const std::string text = Items(notifies)[size_t(row)]->GetByKey("text")->AsText();
        const std::vector<std::string> expected = {"0: " + text + "/1 hot:d[#" +
                                                   std::to_string(row) + "]"};
        EXPECT_EQ(Describe(viewer.Table->Cell(row, 0)), expected);
    }

    std::vector<std::string> clicked;
    TNode* object = nullptr;
    viewer.OnNotifyClick = [&](TNotifyViewer* sender, TNode* o, const std::string& id,
                               const std::string& type) {
        EXPECT_EQ(sender, &viewer);
        object = o;
        clicked.push_back(type + " " + id);
    };
    const int last = int(viewer.Contexts.size()) - 1;
    for (int row : {0, last})
        emit viewer.reText->Jump(viewer.reText->JumpIdOf(&viewer.Table->Cell(row, 0), 1));
    const TNode* lastNode = Items(notifies)[size_t(last)];
    const std::vector<std::string> expected = {
        Items(notifies)[0]->GetByKey("type")->AsText() + " " +
            Items(notifies)[0]->GetByKey("object_id")->AsText(),
        lastNode->GetByKey("type")->AsText() + " " + lastNode->GetByKey("object_id")->AsText()};
    EXPECT_EQ(clicked, expected);
    // The object handed out is the viewer's own copy of the last row's.
    auto& own = static_cast<TNotifyContext&>(*viewer.Contexts.back());
    EXPECT_EQ(object, own.Node->GetByKey("object"));
    EXPECT_EQ(object->GetByKey("id")->AsText(), lastNode->GetByKey("object_id")->AsText());
}

TEST_F(ListViewersTest, NotificationWithoutDetailPictureOrEntries) {
    // A folder without the picture, and one whose picture is damaged.
    std::filesystem::create_directories(m_dir / "damaged");
    std::ofstream(m_dir / "damaged" / "detail.png") << "\x89PNG but nothing else";
    TNotifyViewer viewer;
    const auto node = Reply("<notify type=\"dict\"><text type=\"str\">hi</text></notify>");
    TNotifyContext context;
    context.Node->Assign(*node);
    for (const char* folder : {"missing", "damaged"}) {
        WriteConfig("http://127.0.0.1:9", (m_dir / folder).string());
        viewer.ClearContexts();
        ASSERT_NO_THROW(viewer.AddContext(context)) << folder;
        const std::vector<std::string> textOnly = {"0: hi/1"};
        EXPECT_EQ(Describe(viewer.Table->Cell(0, 0)), textOnly) << folder;
    }
    viewer.ClearContexts();
    viewer.AddContext(context);

    // A notification lacking every entry: an empty line, a click reports empty values.
    WriteConfig("http://127.0.0.1:9", ImagesDir());
    context.Node->Clear();
    viewer.AddContext(context);
    const std::vector<std::string> empty = {"0: /1 hot:d[#1]"};
    EXPECT_EQ(Describe(viewer.Table->Cell(1, 0)), empty);
    int clicks = 0;
    viewer.OnNotifyClick = [&](TNotifyViewer*, TNode* object, const std::string& id,
                               const std::string& type) {
        ++clicks;
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(id, "");
        EXPECT_EQ(type, "");
    };
    emit viewer.reText->Jump(viewer.reText->JumpIdOf(&viewer.Table->Cell(1, 0), 1));
    EXPECT_EQ(clicks, 1);
}

TEST_F(ListViewersTest, UserRowsFromTheRelay) {
    SignInTo("sina");
    const auto reply = Call("friends", {{"ID", CurrentAccount->AccountName}});
    const auto users = Items(reply->GetByKey("result"));
    ASSERT_GE(users.size(), 3u);

    TUsersViewer viewer;
    EXPECT_EQ(viewer.RVStyle.ParaStyles[psMain].LineSpacing, 150);
    for (const TNode* user : users) {
        TUsersContext context;
        context.Node->Assign(*user);
        viewer.AddContext(context);
    }
    ASSERT_EQ(viewer.Table->RowCount(), int(users.size()) + 1);
    for (size_t row = 0; row < users.size(); ++row) {
        const TNode* u = users[row];
        const auto text = [u](const char* key) { return u->GetByKey(key)->AsText(); };
        const std::string large = u->GetByKey("profile_image")->GetByKey("large_url")->AsText();
        const std::vector<std::string> expected = {
            "0: hot:image[image_" + large + "] " + text("screen_name") + "/0",
            "0: 关注数：/1 " + text("follow_count") + "/1   |  粉丝数：/1 " +
                text("follower_count") + "/1",
            "0: " + text("description") + "/1"};
        EXPECT_EQ(Describe(viewer.Table->Cell(int(row), 0)), expected) << row;
    }
}

TEST_F(ListViewersTest, UserRowEdgeCases) {
    TUsersViewer viewer;
    const auto node =
        Reply("<user type=\"dict\"><screen_name type=\"str\">dave</screen_name><follow_count "
              "type=\"int\">0</follow_count><follower_count type=\"str\">007</follower_count>"
              "<description type=\"str\"/></user>");
    TUsersContext context;
    context.Node->Assign(*node);
    viewer.AddContext(context);
    // No picture: the name opens the row; counts are numbers; the empty description a line.
    const std::vector<std::string> expected = {"0: dave/0", "0: 关注数：/1 0/1   |  粉丝数：/1 7/1",
                                               "0: /1"};
    EXPECT_EQ(Describe(viewer.Table->Cell(0, 0)), expected);

    context.Node->Assign(*Reply("<user type=\"dict\"><follow_count type=\"str\">lots"
                                "</follow_count></user>"));
    EXPECT_THROW(viewer.AddContext(context), EConvertError);
}

} // namespace
} // namespace quillet::test
