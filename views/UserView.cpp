#include "views/UserView.h"

#include "core/MainHelper.h"
#include "data/XMLObj.h"
#include "net/web_connect.h"
#include "platform/Graphic.h"
#include "service/User_Intf.h"
#include "views/NodeRead.h"
#include "views/SNSView.h"
#include "views/UsersView.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace quillet {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* HeaderLabel(const QString& caption, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    QFont font(QStringLiteral("Arial Black"), 16);
    font.setBold(true);
    label->setFont(font);
    label->setContentsMargins(10, 10, 10, 0);
    return label;
}

} // namespace

const char* GenderText(const std::string& gender) {
    if (gender.empty())
        return nullptr;
    switch (gender.front()) {
    case 'f':
        return "女";
    case 'm':
        return "男";
    case 'n':
        return "性别不详";
    default:
        return nullptr;
    }
}

TUserViewer::TUserViewer(QWidget* owner, const TNode* node) : TCustomViewerFrame(owner, node) {
    resize(451, 304);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildHeader();
    BuildTabs();
    layout->addWidget(pnlHeader);
    layout->addWidget(PageControl, 1);
    if (node)
        ShowUser(*node);
}

void TUserViewer::BuildHeader() {
    pnlHeader = new QFrame(this);
    pnlHeader->setFixedHeight(249);

    // The picture sits in a framed panel at 31, 31; the name fills the panel under it.
    auto* pictureFrame = new QFrame(pnlHeader);
    pictureFrame->setFrameShape(QFrame::Box);
    pictureFrame->setGeometry(31, 31, 152, 171);
    imgProfile = new QLabel(pictureFrame);
    imgProfile->setGeometry(1, 1, 150, 151);
    imgProfile->setScaledContents(true);
    imgProfile->setCursor(Qt::PointingHandCursor);
    lblAccountName = new QLabel(pictureFrame);
    lblAccountName->setGeometry(1, 152, 150, 18);
    lblAccountName->setAlignment(Qt::AlignCenter);
    lblAccountName->setFont(QFont(QStringLiteral("Segoe UI"), 9));
    imgVerified = new QLabel(pictureFrame);
    imgVerified->setGeometry(1 + 150 - 20, 1 + 151 - 16, 20, 16);
    imgVerified->setScaledContents(true);
    imgVerified->setPixmap(QPixmap(Q(ImagePath + "/verified.png")));
    imgVerified->hide();

    auto* labels = new QWidget(pnlHeader);
    auto* headerLayout = new QVBoxLayout(pnlHeader);
    headerLayout->setContentsMargins(216, 30, 30, 30);
    headerLayout->addWidget(labels);

    lblFriendsCount = HeaderLabel(QStringLiteral("关注数："), labels);
    lblFollowersCount = HeaderLabel(QStringLiteral("粉丝数："), labels);
    auto* descriptionPanel = new QWidget(labels);
    descriptionPanel->setFixedHeight(70);
    auto* descriptionLayout = new QHBoxLayout(descriptionPanel);
    descriptionLayout->setContentsMargins(10, 10, 10, 0);
    descriptionLayout->addWidget(new QLabel(QStringLiteral("简介："), descriptionPanel), 0,
                                 Qt::AlignTop);
    mmoDescription = new QPlainTextEdit(descriptionPanel);
    mmoDescription->setReadOnly(true);
    mmoDescription->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    descriptionLayout->addWidget(mmoDescription, 1);
    lblGender = HeaderLabel(QString(), labels);
    lblLocation = HeaderLabel(QString(), labels);

    auto* stack = new QVBoxLayout(labels);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    for (QWidget* w :
         {static_cast<QWidget*>(lblFriendsCount), static_cast<QWidget*>(lblFollowersCount),
          descriptionPanel, static_cast<QWidget*>(lblGender), static_cast<QWidget*>(lblLocation)})
        stack->addWidget(w);
    stack->addStretch(1);
}

void TUserViewer::BuildTabs() {
    PageControl = new QTabWidget(this);
    tabTimeline = new QWidget;
    tabFollow = new QWidget;
    tabFollower = new QWidget;
    TimelineViewer = new TSNSViewer(tabTimeline);
    FriendsViewer = new TUsersViewer(tabFollow);
    FollowersViewer = new TUsersViewer(tabFollower);
    const std::pair<QWidget*, QWidget*> tabs[] = {
        {tabTimeline, TimelineViewer}, {tabFollow, FriendsViewer}, {tabFollower, FollowersViewer}};
    for (const auto& [tab, viewer] : tabs) {
        auto* layout = new QVBoxLayout(tab);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(viewer);
    }
    PageControl->addTab(tabTimeline, QStringLiteral("微博"));
    PageControl->addTab(tabFollow, QStringLiteral("关注"));
    PageControl->addTab(tabFollower, QStringLiteral("粉丝"));
    PageControl->setCurrentWidget(tabTimeline);
}

void TUserViewer::ShowUser(const TNode& node) {
    pnlHeader->show();
    const std::string pictureURL = EntryText(&node, "profile_image/large_url");
    std::unique_ptr<TGraphic> picture = pictureURL.empty() ? nullptr : DownloadPicture(pictureURL);
    imgVerified->setVisible(EntryBool(&node, "verified"));
    lblAccountName->setText(Q(EntryText(&node, "screen_name")));
    lblFriendsCount->setText(QStringLiteral("关注数：") +
                             QString::number(EntryInteger(&node, "follow_count")));
    lblFollowersCount->setText(QStringLiteral("粉丝数：") +
                               QString::number(EntryInteger(&node, "follower_count")));
    mmoDescription->setPlainText(Q(EntryText(&node, "description")));
    if (picture)
        imgProfile->setPixmap(QPixmap::fromImage(ToBitmap(*picture)->Image()));
    else
        imgProfile->clear();
    picture.reset();
    if (const char* gender = GenderText(EntryText(&node, "gender")))
        lblGender->setText(QString::fromUtf8(gender));
    lblLocation->setText(Q(EntryText(&node, "location")));
    // The header is painted before the lists load.
    QApplication::processEvents();

    const std::string userID = EntryText(&node, "id");
    if (!FillUserTimeline(*TimelineViewer, userID)) {
        PageControl->hide();
        return;
    }
    PageControl->show();
    FillUsers(*FriendsViewer, "friends", userID);
    FillUsers(*FollowersViewer, "followers", userID);
}

void TUserViewer::FillUsers(TUsersViewer& viewer, const char* category, const std::string& userID) {
    viewer.ClearContexts();
    if (!CurrentAccount)
        return;
    TAPICall& call = *CurrentAccount->APICall;
    call.SetCategory(category);
    call.AddParam("ID", userID);
    const std::unique_ptr<TNodeDict> reply = call.Execute();
    const auto* users = dynamic_cast<const TNodeList*>(NodeEntry(reply.get(), "result"));
    for (int i = 1; users && i <= users->Count(); ++i) {
        const auto* user = dynamic_cast<const TNodeDict*>(users->GetByIndex(i));
        if (!user)
            continue;
        TUsersContext context;
        context.Node->Assign(*user);
        viewer.AddContext(context);
    }
}

void TUserViewer::ClearView() {
    pnlHeader->hide();
    PageControl->hide();
    TimelineViewer->ClearContexts();
    FollowersViewer->ClearContexts();
    FriendsViewer->ClearContexts();
}

} // namespace quillet
