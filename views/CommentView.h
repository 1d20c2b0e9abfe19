#pragma once

#include "views/CustomViewFrame.h"

namespace quillet {

class TNode;
class TSNSViewer;

// A status and its comments: the status without buttons, then each comment with "回复".
class TCommentViewer : public TCustomViewerFrame {
    Q_OBJECT
public:
    // Node is the status node with its "comments" list.
    explicit TCommentViewer(QWidget* owner = nullptr, const TNode* node = nullptr);

    TSNSViewer* innerViewer;
};

} // namespace quillet
