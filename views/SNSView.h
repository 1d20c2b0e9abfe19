#pragma once

#include "core/Global.h"
#include "views/CustomView.h"

#include <QColor>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace quillet {

class TNode;
class TNodeDict;
class TSNSViewer;

// The kinds of button a status row can show; the ordinal is part of the button's tag.
enum TreButtonTypeElement : std::uint8_t {
    btReply = 0,
    btComment = 1,
    btRetweet = 2,
    btGood = 3,
    btFavor = 4,
    btDelete = 5,
};
inline constexpr int ButtonKindCount = 6;

// A set of button kinds in one byte: bit n for ordinal n.
struct TreButtonType {
    std::uint8_t Bits = 0;

    constexpr TreButtonType() = default;
    constexpr TreButtonType(std::initializer_list<TreButtonTypeElement> kinds) {
        for (TreButtonTypeElement kind : kinds)
            Bits |= std::uint8_t(1u << kind);
    }
    static constexpr TreButtonType FromBits(std::uint8_t bits) {
        TreButtonType set;
        set.Bits = bits;
        return set;
    }
    constexpr bool Contains(TreButtonTypeElement kind) const { return Bits & (1u << kind); }
    constexpr bool Empty() const { return Bits == 0; }
    constexpr bool operator==(const TreButtonType&) const = default;
};

// The author of a status, as read from its "user" node.
struct TUserContext {
    std::string ID;
    std::string ScreenName;
    std::string DisplayName;
    std::string Gender;
    std::string Location;
    std::string Description;
    std::string Website;
    bool Verified = false;
    TImageURLs ProfileImage;
};

// One status (or comment) of a reply: its own copy of the status node and what the viewer
// draws from it.
class TSNSContext : public TCustomContext {
public:
    TSNSContext();
    ~TSNSContext() override;

    // Recomputes every field but Buttons and AccountType from Node. A missing entry reads as
    // empty or zero; a count that is no integer raises EConvertError.
    void Parse();
    // Copies another TSNSContext, with a deep copy of its node; EInvalidCast for any other class.
    void Assign(const TCustomContext& source) override;

    std::unique_ptr<TNodeDict> Node;
    std::string ID;
    TUserContext User;
    TImageURLs Image;
    std::int32_t CommentCount = 0;
    std::int32_t RetweetCount = 0;
    std::int32_t GoodCount = 0;
    std::int32_t FavorCount = 0;
    TreButtonType Buttons;
    TAccount_Type AccountType = atSina;
    // Set by Parse when the node holds a "retweet" dictionary with an "id": the status reposted.
    bool HasRetweet = false;
    std::unique_ptr<TSNSContext> Retweet;

private:
    void ParseOwn();
};

// Whether a node can be drawn as a status: a dictionary with an "id". Statuses without one are
// left out of every list.
bool IsStatusNode(const TNode& node);
// The author's fields from a user node; missing entries read as empty or false.
TUserContext ReadUserContext(const TNode* userNode);
// The buttons a status shows for an account type.
TreButtonType ButtonSet(TAccount_Type accountType);

// Left and right of the first "_"; without one, an empty left and the whole tag.
std::pair<std::string, std::string> SplitKey(std::string_view tag);
// "button_row", e.g. "2_15".
std::string ButtonTag(TreButtonTypeElement button, int row);
struct TButtonTagValue {
    std::uint8_t Button = 0;
    int Row = 0;
};
// The button ordinal and row of a button tag; EConvertError for anything else.
TButtonTagValue ParseButtonTag(std::string_view tag);
// "" for an empty time, else the formatted time, "来自 " and the source. EConvertError when
// the time cannot be read.
std::string TimeAndSourceLine(std::string_view time, std::string_view source);

// The caption of each button kind, by ordinal.
inline constexpr std::string_view ButtonCaptions[ButtonKindCount] = {"回复", "评论", "转发",
                                                                     "赞",   "收藏", "删除"};
// "caption(count)", or the caption alone for a count of 0.
std::string CountCaption(std::string_view caption, std::int64_t count);
// The caption of a button kind with the count of the context it stands for.
std::string ButtonCaption(TreButtonTypeElement button, const TSNSContext& context);

// Text style 6 of the status viewer.
inline constexpr int tsTimeAndApp = 6;

// The first argument of both events is the viewer itself.
using TSNSButtonClick =
    std::function<void(TSNSViewer* sender, TreButtonTypeElement buttonType, TNode* node)>;
using TSNSLinkClick =
    std::function<void(TSNSViewer* sender, const std::string& category, const std::string& extra)>;

// The list viewer of statuses: author line, text, picture, a right-aligned button row and the
// time-and-source line per row, with a grey block for a repost.
class TSNSViewer : public TCustomViewer {
    Q_OBJECT
public:
    explicit TSNSViewer(QWidget* owner = nullptr);

    TSNSButtonClick OnSNSButtonClick;
    TSNSLinkClick OnSNSLinkClick;

    QColor RetweetColor() const { return m_retweetColor; }
    // Also the background of the paragraph styles "Retweet" and "Button Retweet".
    void SetRetweetColor(const QColor& color);

    void RenderBlocks(TRVDocument& cell, int firstParaNo, const TNode& statusNode);
    bool InsertEmotion(TRVDocument& cell, const std::string& name);
    void RenderButtons(TreButtonType buttons, TRVDocument& cell, bool isRetweet, int row,
                       const TSNSContext& context);
    void RenderTimeAndSource(TRVDocument& cell, int paraNo, const std::string& time,
                             const std::string& source);

public slots:
    // Dispatches a click on a jump item by its tag.
    void reTextJump(int id);

protected:
    void RenderContext(int index, TCustomContext& context) override;

private:
    void RenderRetweet(TRVDocument& cell, int index, const TSNSContext& context);

    QColor m_retweetColor;
};

} // namespace quillet
