#include "views/UsersView.h"

#include "data/XMLObj.h"
#include "views/NodeRead.h"

#include <QString>

namespace quillet {

TUsersContext::TUsersContext() : Node(std::make_unique<TNodeDict>()) {}

TUsersContext::~TUsersContext() = default;

void TUsersContext::Assign(const TCustomContext& source) {
    const auto* other = dynamic_cast<const TUsersContext*>(&source);
    if (!other)
        throw EInvalidCast();
    if (!Node)
        Node = std::make_unique<TNodeDict>();
    Node->Assign(*other->Node);
}

TUsersViewer::TUsersViewer(QWidget* owner) : TCustomViewer(owner) {
    ContextClass = &NewContext<TUsersContext>;
    RVStyle.ParaStyles.at(psMain).LineSpacing = 150;
    ApplyStyle();
}

void TUsersViewer::RenderContext(int index, TCustomContext& context) {
    TCustomViewer::RenderContext(index, context);
    const TNode* n = static_cast<const TUsersContext&>(context).Node.get();
    TRVDocument& cell = Table->Cell(index, 0);
    const auto text = [n](std::string_view key) {
        return QString::fromStdString(EntryText(n, key));
    };
    // Counts are read as integers, so "007" and 7 both show as 7.
    const auto count = [n](std::string_view key) { return QString::number(EntryInteger(n, key)); };

    InsertPicture(cell, EntryText(n, "profile_image/small_url"),
                  EntryText(n, "profile_image/large_url"), psMain, rvvaBaseline);
    cell.AddText(text("screen_name"), tsHeader, -1);
    cell.AddText(QStringLiteral("关注数："), tsText, psMain);
    cell.AddText(count("follow_count"), tsText, -1);
    cell.AddText(QStringLiteral("  |  粉丝数："), tsText, -1);
    cell.AddText(count("follower_count"), tsText, -1);
    cell.AddTextBreaks(text("description"), tsText, psMain);
}

} // namespace quillet
