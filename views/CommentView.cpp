#include "views/CommentView.h"

#include "core/MainHelper.h"
#include "data/XMLObj.h"
#include "views/NodeRead.h"
#include "views/SNSView.h"

#include <QVBoxLayout>

namespace quillet {

TCommentViewer::TCommentViewer(QWidget* owner, const TNode* node)
    : TCustomViewerFrame(owner, node), innerViewer(new TSNSViewer(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(innerViewer);
    if (!node)
        return;
    if (IsStatusNode(*node)) {
        const auto status = MakeStatusContext(*node);
        status->Buttons = {};
        innerViewer->AddContext(*status);
    }
    const auto* comments = dynamic_cast<const TNodeList*>(NodeEntry(node, "comments"));
    for (int i = 1; comments && i <= comments->Count(); ++i) {
        const TNode* comment = comments->GetByIndex(i);
        if (!IsStatusNode(*comment))
            continue;
        const auto context = MakeStatusContext(*comment);
        context->Buttons = {btReply};
        innerViewer->AddContext(*context);
    }
}

} // namespace quillet
