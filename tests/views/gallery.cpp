// quillet-gallery RELAY_URL OUT_DIR: draws each content viewer, filled from a demo relay's
// replies, offscreen into OUT_DIR as PNG files, so that anyone can look at them.

#include "core/FrmLargeImage.h"
#include "core/Global.h"
#include "core/MainHelper.h"
#include "data/XMLObj.h"
#include "net/Cache_.h"
#include "net/web_connect.h"
#include "platform/Graphic.h"
#include "service/User_Intf.h"
#include "tests/support/HttpClient.h"
#include "views/CommentView.h"
#include "views/NotifyView.h"
#include "views/SNSView.h"
#include "views/StatusView.h"
#include "views/UserView.h"
#include "views/UsersView.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QScrollBar>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

using namespace quillet;

namespace {

std::string g_out;

// Signs in on a sandbox network through its form and landing page, as the browser would, and
// returns the authorization reply.
std::string SignIn(const std::string& base, const std::string& network) {
    const test::HttpResult form = test::HttpGet(base + "/intf/" + network + "/oauth");
    std::smatch m;
    const std::regex state("name=\"state\" value=\"([0-9a-f]+)\"");
    if (!std::regex_search(form.body, m, state))
        throw std::runtime_error("no sign-in form at " + base);
    const test::HttpResult landing =
        test::HttpPost(base + "/intf/" + network + "/oauth",
                       "state=" + m[1].str() + "&screen_name=demo&password=demo");
    return test::HttpGet(base + landing.Header("location")).body;
}

void Save(QWidget& widget, const char* name, QSize size) {
    widget.resize(size);
    widget.show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    // The views follow the rows as they are added; the pictures show each from its first row.
    for (QAbstractScrollArea* area : widget.findChildren<QAbstractScrollArea*>())
        area->verticalScrollBar()->setValue(0);
    QApplication::processEvents();
    const std::string path = g_out + "/" + name + ".png";
    if (!widget.grab().save(QString::fromStdString(path)))
        throw std::runtime_error("cannot write " + path);
    std::printf("%s\n", path.c_str());
    widget.hide();
}

std::unique_ptr<TNodeDict> Call(const std::string& category, const std::string& id = "") {
    TAPICall& call = *CurrentAccount->APICall;
    call.SetCategory(category);
    if (!id.empty())
        call.AddParam("ID", id);
    return call.Execute();
}

void Run(const std::string& base) {
    std::unique_ptr<TUser> user = CreateNewUser();
    if (!user->AddAccountFromReply(SignIn(base, "sina")))
        throw std::runtime_error("the relay refused the demo account");
    CurrentUser = user.get();
    CurrentAccount = user->GetAccount(atSina, 0);
    Cache().SetUserID(user->ID);
    Cache().SetAccountType(CurrentAccount->AccountType);
    Cache().SetAccountName(CurrentAccount->AccountName);

    TSNSViewer home;
    FillHomeTimeline(home);
    Save(home, "home", {520, 1400});

    // A repost alone, and the thread of the first status with comments.
    const auto timeline = CurrentAccount->GetPublicTimeline();
    const TNode* result = timeline->GetByKey("result");
    const TNode* repost = nullptr;
    std::string threadID;
    for (int i = 1; i <= result->Count(); ++i) {
        const TNode* status = result->GetByIndex(i);
        if (!repost && status->GetByKey("retweet"))
            repost = status;
        if (threadID.empty() && status->GetByKey("comment_count")->AsInteger() > 0)
            threadID = status->GetByKey("id")->AsText();
    }
    if (repost) {
        TStatusViewer status(nullptr, repost);
        Save(status, "status", {520, 520});
    }
    if (!threadID.empty()) {
        const auto thread = Call("comment", threadID);
        TCommentViewer comments(nullptr, thread.get());
        Save(comments, "thread", {520, 700});
    }

    TNotifyViewer notify;
    const auto notifications = Call("notify");
    const TNode* notifies = notifications->GetByKey("notifies");
    for (int i = 1; i <= notifies->Count(); ++i) {
        TNotifyContext context;
        context.Node->Assign(*notifies->GetByIndex(i));
        notify.AddContext(context);
    }
    Save(notify, "notifications", {420, 300});

    TUsersViewer users;
    const auto friends = Call("friends", CurrentAccount->AccountName);
    const TNode* list = friends->GetByKey("result");
    for (int i = 1; i <= list->Count(); ++i) {
        TUsersContext context;
        context.Node->Assign(*list->GetByIndex(i));
        users.AddContext(context);
    }
    Save(users, "users", {420, 600});

    const auto me = Call("user", CurrentAccount->AccountName);
    TUserViewer profile(nullptr, me.get());
    Save(profile, "profile", {640, 900});

    // The large-picture dialog, caught before it would wait for the user.
    SetDialogService([](QDialog& dialog) {
        Save(dialog, "large_image", dialog.size());
        return 0;
    });
    ShowLargeImage(DownloadPicture(base + "/pictures/sina-p1-large.png"));

    CurrentAccount = nullptr;
    CurrentUser = nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quillet-gallery RELAY_URL OUT_DIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    g_out = std::filesystem::absolute(argv[2]).string();
    std::filesystem::create_directories(g_out);
    const std::filesystem::path work =
        std::filesystem::temp_directory_path() /
        ("quillet-gallery-" + std::to_string(QApplication::applicationPid()));
    std::filesystem::create_directories(work);
    std::filesystem::current_path(work);
    const std::string images = std::string(QUILLET_SOURCE_DIR) + "/res/Res/Images";
    std::ofstream("Main.INI") << "[URL]\nHost_URL=" << argv[1] << "\n[Path]\nCache_Path=./Cache\n"
                              << "Image_Path=" << images << "\nEmotion_Sina_Path=" << images
                              << "/Emotions/Sina\n";
    int status = 0;
    try {
        LoadConfig();
        BuildUserURLs();
        Run(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillet-gallery: %s\n", e.what());
        status = 1;
    }
    SaveConfig();
    std::filesystem::current_path("/");
    std::filesystem::remove_all(work);
    return status;
}
