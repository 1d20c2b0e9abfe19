#include "views/SNSView.h"

#include "core/MainHelper.h"
#include "data/XMLObj.h"
#include "net/web_connect.h"
#include "platform/Graphic.h"
#include "views/NodeRead.h"

#include <QString>
#include <cctype>
#include <charconv>
#include <filesystem>

namespace quillet {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A name from a reply must stay a file name inside the emotion folder.
bool SafeEmotionName(const std::string& name) {
    return !name.empty() && name.front() != '.' && name.find_first_of("/\\") == std::string::npos;
}

int ParseDecimal(std::string_view text, std::string_view tag) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        throw EConvertError("'" + std::string(tag) + "' is not a valid button tag");
    return value;
}

} // namespace

// ---- TSNSContext ----

TSNSContext::TSNSContext() : Node(std::make_unique<TNodeDict>()) {}

TSNSContext::~TSNSContext() = default;

void TSNSContext::ParseOwn() {
    const TNode* node = Node.get();
    ID = EntryText(node, "id");
    Image.SmallURL = EntryText(node, "image/small_url");
    Image.LargeURL = EntryText(node, "image/large_url");
    FavorCount = EntryCount(node, "favor_count");
    RetweetCount = EntryCount(node, "retweet_count");
    CommentCount = EntryCount(node, "comment_count");
    GoodCount = EntryCount(node, "good_count");
    User = ReadUserContext(NodeEntry(node, "user"));
}

void TSNSContext::Parse() {
    ParseOwn();
    const TNode* repost = NodeEntry(Node.get(), "retweet");
    HasRetweet = repost && IsStatusNode(*repost);
    if (!HasRetweet) {
        Retweet.reset();
        return;
    }
    // Only one level: the reposted status is drawn without a repost of its own.
    auto retweet = std::make_unique<TSNSContext>();
    retweet->Node->Assign(*repost);
    retweet->ParseOwn();
    Retweet = std::move(retweet);
}

void TSNSContext::Assign(const TCustomContext& source) {
    const auto* other = dynamic_cast<const TSNSContext*>(&source);
    if (!other)
        throw EInvalidCast();
    Image = other->Image;
    CommentCount = other->CommentCount;
    RetweetCount = other->RetweetCount;
    GoodCount = other->GoodCount;
    FavorCount = other->FavorCount;
    Buttons = other->Buttons;
    User = other->User;
    AccountType = other->AccountType;
    if (!Node)
        Node = std::make_unique<TNodeDict>();
    Node->Assign(*other->Node);
    Parse();
    if (Retweet && other->Retweet) {
        Retweet->Buttons = other->Retweet->Buttons;
        Retweet->AccountType = other->Retweet->AccountType;
    }
}

bool IsStatusNode(const TNode& node) {
    return dynamic_cast<const TNodeDict*>(&node) && NodeEntry(&node, "id");
}

TUserContext ReadUserContext(const TNode* userNode) {
    TUserContext user;
    user.ID = EntryText(userNode, "id");
    user.ScreenName = EntryText(userNode, "screen_name");
    user.DisplayName = user.ScreenName;
    user.Gender = EntryText(userNode, "gender");
    user.Location = EntryText(userNode, "location");
    user.Description = EntryText(userNode, "description");
    user.Website = EntryText(userNode, "website");
    user.Verified = EntryBool(userNode, "verified");
    user.ProfileImage.LargeURL = EntryText(userNode, "profile_image/large_url");
    user.ProfileImage.SmallURL = EntryText(userNode, "profile_image/small_url");
    return user;
}

TreButtonType ButtonSet(TAccount_Type accountType) {
    switch (accountType) {
    case atSina:
        return {btComment, btRetweet, btGood, btFavor};
    case atTwitter:
        return {btReply, btRetweet, btFavor};
    case atFacebook:
        return {btComment, btRetweet, btGood};
    }
    return {};
}

// ---- Tags and captions ----

std::pair<std::string, std::string> SplitKey(std::string_view tag) {
    const std::size_t at = tag.find('_');
    if (at == std::string_view::npos)
        return {std::string(), std::string(tag)};
    return {std::string(tag.substr(0, at)), std::string(tag.substr(at + 1))};
}

std::string ButtonTag(TreButtonTypeElement button, int row) {
    return std::to_string(int(button)) + "_" + std::to_string(row);
}

TButtonTagValue ParseButtonTag(std::string_view tag) {
    const std::size_t at = tag.find('_');
    if (at == std::string_view::npos)
        throw EConvertError("'" + std::string(tag) + "' is not a valid button tag");
    return {static_cast<std::uint8_t>(ParseDecimal(tag.substr(0, at), tag)),
            ParseDecimal(tag.substr(at + 1), tag)};
}

std::string TimeAndSourceLine(std::string_view time, std::string_view source) {
    if (time.empty())
        return {};
    return FormatServiceTime(time) + "来自 " + std::string(source);
}

std::string CountCaption(std::string_view caption, std::int64_t count) {
    if (count == 0)
        return std::string(caption);
    return std::string(caption) + "(" + std::to_string(count) + ")";
}

std::string ButtonCaption(TreButtonTypeElement button, const TSNSContext& context) {
    const std::string_view caption = ButtonCaptions[button];
    switch (button) {
    case btComment:
        return CountCaption(caption, context.CommentCount);
    case btRetweet:
        return CountCaption(caption, context.RetweetCount);
    case btGood:
        return CountCaption(caption, context.GoodCount);
    default:
        return std::string(caption);
    }
}

// ---- TSNSViewer ----

TSNSViewer::TSNSViewer(QWidget* owner) : TCustomViewer(owner) {
    ContextClass = &NewContext<TSNSContext>;

    TRVTextStyle timeAndApp;
    timeAndApp.StyleName = QStringLiteral("Time&App");
    timeAndApp.FontName = QStringLiteral("Segoe UI");
    timeAndApp.Size = 8;
    timeAndApp.Color = Qt::black;
    RVStyle.TextStyles.resize(tsTimeAndApp);
    RVStyle.TextStyles.push_back(timeAndApp);

    struct Para {
        const char* name;
        int indent;
        TRVAlignment alignment;
        int defaultTextStyle;
    };
    static constexpr Para paras[] = {{"Main", 20, rvaLeft, -1},
                                     {"Retweet", 40, rvaLeft, -1},
                                     {"Button Retweet", 40, rvaRight, tsButton},
                                     {"Button Main", 20, rvaRight, tsButton}};
    RVStyle.ParaStyles.clear();
    for (const Para& p : paras) {
        TRVParaStyle style;
        style.StyleName = QString::fromLatin1(p.name);
        style.LeftIndent = p.indent;
        style.RightIndent = p.indent;
        style.Alignment = p.alignment;
        style.LineSpacing = 150;
        style.DefaultTextStyle = p.defaultTextStyle;
        RVStyle.ParaStyles.push_back(style);
    }
    RVStyle.Color = ColorFromNumber(15329769);
    SetRetweetColor(ColorFromNumber(15921906));
    connect(reText, &TRichView::Jump, this, &TSNSViewer::reTextJump);
}

void TSNSViewer::SetRetweetColor(const QColor& color) {
    m_retweetColor = color;
    RVStyle.ParaStyles.at(psRetweet).Background = color;
    RVStyle.ParaStyles.at(psButtonRetweet).Background = color;
    ApplyStyle();
}

void TSNSViewer::RenderContext(int index, TCustomContext& context) {
    TCustomViewer::RenderContext(index, context);
    const auto& c = static_cast<const TSNSContext&>(context);
    TRVDocument& cell = Table->Cell(index, 0);

    InsertPicture(cell, c.User.ProfileImage.SmallURL, c.User.ProfileImage.LargeURL, psMain,
                  rvvaAbsMiddle);
    cell.AddText(Q(c.User.ScreenName), tsHeader, -1, JoinKey("header", c.User.ID));
    RenderBlocks(cell, psMain, *c.Node);
    InsertPicture(cell, c.Image.SmallURL, c.Image.LargeURL, psMain, rvvaBaseline);
    if (c.HasRetweet && c.Retweet)
        RenderRetweet(cell, index, c);
    RenderButtons(c.Buttons, cell, false, index, c);
    RenderTimeAndSource(cell, psMain, EntryText(c.Node.get(), "time"),
                        EntryText(c.Node.get(), "application"));
}

void TSNSViewer::RenderRetweet(TRVDocument& cell, int index, const TSNSContext& context) {
    const TSNSContext& r = *context.Retweet;
    cell.AddText(Q(r.User.ScreenName), tsHeader, psRetweet, JoinKey("header", r.User.ID));
    RenderBlocks(cell, psRetweet, *r.Node);
    InsertPicture(cell, r.Image.SmallURL, r.Image.LargeURL, psRetweet, rvvaBaseline);
    // The tags carry the outer row, so a click reports the status shown in that row.
    RenderButtons(r.Buttons, cell, true, index, r);
    cell.AddText(QString(), tsHeader, -1);
    RenderTimeAndSource(cell, psRetweet, EntryText(context.Node.get(), "retweet/time"),
                        EntryText(context.Node.get(), "retweet/application"));
}

void TSNSViewer::RenderBlocks(TRVDocument& cell, int firstParaNo, const TNode& statusNode) {
    const TNode* blocks = NodePath(&statusNode, "text/blocks");
    const int count = blocks && dynamic_cast<const TNodeList*>(blocks) ? blocks->Count() : 0;
    int style = tsText;
    for (int i = 1; i <= count; ++i) {
        const TNode* block = blocks->GetByIndex(i);
        const int paraNo = i == 1 ? firstParaNo : -1;
        const std::string type = EntryText(block, "texttype");
        const std::string text = EntryText(block, "text");
        std::string tag;
        if (type == "normal") {
            style = tsText;
        } else if (type == "url" || type == "mention" || type == "trend") {
            style = tsLink;
            tag = JoinKey(type, EntryText(block, "extra"));
        } else if (type == "emotion") {
            style = tsEmotion;
            if (InsertEmotion(cell, text))
                continue;
        }
        cell.AddText(Q(text), style, paraNo, tag.empty() ? TRVTag{} : TRVTag{tag});
    }
}

bool TSNSViewer::InsertEmotion(TRVDocument& cell, const std::string& name) {
    if (!SafeEmotionName(name))
        return false;
    const std::string file = EmotionSinaPath + "/" + name + ".gif";
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(file), error))
        return false;
    std::unique_ptr<TGraphic> picture;
    try {
        picture = LoadPictureFile(file);
    } catch (const Exception&) {
        return false; // an unreadable file shows the emotion's text, like a missing one
    }
    if (!picture || picture->Format() != TGraphicFormat::gfGIF)
        return false;
    cell.AddPicture(QStringLiteral("emotion"), std::move(picture), -1, rvvaBaseline);
    return true;
}

void TSNSViewer::RenderButtons(TreButtonType buttons, TRVDocument& cell, bool isRetweet, int row,
                               const TSNSContext& context) {
    const int paraNo = isRetweet ? psButtonRetweet : psButtonMain;
    bool first = true;
    for (int kind = 0; kind < ButtonKindCount; ++kind) {
        const auto button = static_cast<TreButtonTypeElement>(kind);
        if (!buttons.Contains(button))
            continue;
        if (!first)
            cell.AddText(QStringLiteral(" | "), tsButtonSep, -1);
        cell.AddText(Q(ButtonCaption(button, context)), tsButton, first ? paraNo : -1,
                     ButtonTag(button, row));
        first = false;
    }
}

void TSNSViewer::RenderTimeAndSource(TRVDocument& cell, int paraNo, const std::string& time,
                                     const std::string& source) {
    std::string line;
    try {
        line = TimeAndSourceLine(time, source);
    } catch (const EConvertError&) {
        return; // an unreadable time leaves the row without its time line
    }
    if (!line.empty())
        cell.AddText(Q(line), tsTimeAndApp, paraNo);
}

void TSNSViewer::reTextJump(int id) {
    const std::string tag = TagText(reText->JumpTag(id));
    if (tag.empty())
        return;
    if (std::isdigit(static_cast<unsigned char>(tag.front()))) {
        const TButtonTagValue value = ParseButtonTag(tag);
        if (!OnSNSButtonClick || value.Button >= ButtonKindCount || value.Row < 0 ||
            value.Row >= int(Contexts.size()))
            return;
        auto& context = static_cast<TSNSContext&>(*Contexts[std::size_t(value.Row)]);
        OnSNSButtonClick(this, static_cast<TreButtonTypeElement>(value.Button), context.Node.get());
        return;
    }
    const auto [category, extra] = SplitKey(tag);
    if (category == "image") {
        if (auto picture = DownloadPicture(extra))
            ShowLargeImage(std::move(picture));
        return;
    }
    if (OnSNSLinkClick)
        OnSNSLinkClick(this, category, extra);
}

} // namespace quillet
