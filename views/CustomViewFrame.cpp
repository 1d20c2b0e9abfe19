#include "views/CustomViewFrame.h"

namespace quillet {

TCustomViewerFrame::TCustomViewerFrame(QWidget* owner, const TNode*)
    : QWidget(owner), SkinFrame(this) {
    resize(320, 240);
}

TCustomViewerFrame::~TCustomViewerFrame() = default;

} // namespace quillet
