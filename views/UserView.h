#pragma once

#include "views/CustomViewFrame.h"

class QFrame;
class QLabel;
class QPlainTextEdit;
class QTabWidget;

namespace quillet {

class TNode;
class TSNSViewer;
class TUsersViewer;

// One user's profile: a header with picture, name, badge, counts, description, gender and
// location, and tabs with the user's statuses, the people followed and the followers.
class TUserViewer : public TCustomViewerFrame {
    Q_OBJECT
public:
    // With a node, shows that user at once.
    explicit TUserViewer(QWidget* owner = nullptr, const TNode* node = nullptr);

    // Fills the header and the three tabs from a user node; the tabs stay hidden when the
    // current account may not read this user's timeline.
    void ShowUser(const TNode& node);
    // Hides the header and the tabs and empties the three lists.
    void ClearView();

    QFrame* pnlHeader;
    QLabel* imgProfile;
    QLabel* lblAccountName;
    QLabel* imgVerified;
    QLabel* lblFriendsCount;
    QLabel* lblFollowersCount;
    QPlainTextEdit* mmoDescription;
    QLabel* lblGender;
    QLabel* lblLocation;
    QTabWidget* PageControl;
    QWidget* tabTimeline;
    QWidget* tabFollow;
    QWidget* tabFollower;
    TSNSViewer* TimelineViewer;
    TUsersViewer* FriendsViewer;
    TUsersViewer* FollowersViewer;

private:
    void BuildHeader();
    void BuildTabs();
    void FillUsers(TUsersViewer& viewer, const char* category, const std::string& userID);
};

// The profile's gender label for a "gender" value: by its first character, f "女", m "男",
// n "性别不详"; null for anything else, which leaves the label as it was.
const char* GenderText(const std::string& gender);

} // namespace quillet
