#include "views/StatusView.h"

#include "core/MainHelper.h"
#include "views/SNSView.h"

#include <QVBoxLayout>

namespace quillet {

TStatusViewer::TStatusViewer(QWidget* owner, const TNode* node)
    : TCustomViewerFrame(owner, node), innerViewer(new TSNSViewer(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(innerViewer);
    if (!node || !IsStatusNode(*node))
        return;
    innerViewer->AddContext(*MakeStatusContext(*node));
}

} // namespace quillet
