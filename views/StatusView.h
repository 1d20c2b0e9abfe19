#pragma once

#include "views/CustomViewFrame.h"

namespace quillet {

class TNode;
class TSNSViewer;

// One status in a frame of its own, with the buttons of the current account's network.
class TStatusViewer : public TCustomViewerFrame {
    Q_OBJECT
public:
    explicit TStatusViewer(QWidget* owner = nullptr, const TNode* node = nullptr);

    TSNSViewer* innerViewer;
};

} // namespace quillet
