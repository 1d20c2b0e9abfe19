#pragma once

#include <QWidget>

namespace quillet {

class TNode;

// The base of the composite frames the factory creates by kind (profile, status, thread).
class TCustomViewerFrame : public QWidget {
    Q_OBJECT
public:
    // The base ignores Node; subclasses fill themselves from it.
    explicit TCustomViewerFrame(QWidget* owner = nullptr, const TNode* node = nullptr);
    ~TCustomViewerFrame() override;

    // Where the main window applies its skin (a style sheet) after creation.
    QWidget* SkinFrame;
};

} // namespace quillet
