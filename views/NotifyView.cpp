#include "views/NotifyView.h"

#include "data/XMLObj.h"
#include "platform/Graphic.h"
#include "views/NodeRead.h"

#include <QString>

namespace quillet {

TNotifyContext::TNotifyContext() : Node(std::make_unique<TNodeDict>()) {}

TNotifyContext::~TNotifyContext() = default;

void TNotifyContext::Assign(const TCustomContext& source) {
    const auto* other = dynamic_cast<const TNotifyContext*>(&source);
    if (!other)
        throw EInvalidCast();
    if (!Node)
        Node = std::make_unique<TNodeDict>();
    Node->Assign(*other->Node);
}

TNotifyViewer::TNotifyViewer(QWidget* owner) : TCustomViewer(owner) {
    ContextClass = &NewContext<TNotifyContext>;
    TRVTextStyle& text = RVStyle.TextStyles.at(tsText);
    text.FontName = QStringLiteral("Segoe UI");
    text.Size = 8;
    ApplyStyle();
    connect(reText, &TRichView::Jump, this, &TNotifyViewer::reTextJump);
}

void TNotifyViewer::RenderContext(int index, TCustomContext& context) {
    TCustomViewer::RenderContext(index, context);
    const auto& c = static_cast<const TNotifyContext&>(context);
    TRVDocument& cell = Table->Cell(index, 0);
    cell.AddText(QString::fromStdString(EntryText(c.Node.get(), "text")), tsText, psMain);

    std::unique_ptr<TGraphic> detail;
    try {
        detail = LoadPictureFile(ImagePath + "/detail.png");
    } catch (const Exception&) {
        // A missing or broken detail picture leaves the row with its text only.
    }
    if (detail)
        cell.AddHotPicture(QStringLiteral("d"), std::move(detail), -1, rvvaBaseline, index);
}

void TNotifyViewer::reTextJump(int id) {
    const int row = TagInt(reText->JumpTag(id));
    if (row < 0 || row >= int(Contexts.size()))
        return;
    auto& context = static_cast<TNotifyContext&>(*Contexts[std::size_t(row)]);
    const std::string type = EntryText(context.Node.get(), "type");
    if (!OnNotifyClick)
        return;
    TNode* object = context.Node->GetByKey("object");
    OnNotifyClick(this, object, EntryText(context.Node.get(), "object_id"), type);
}

} // namespace quillet
