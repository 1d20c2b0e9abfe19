#pragma once

#include "views/CustomView.h"

#include <functional>
#include <memory>
#include <string>

namespace quillet {

class TNode;
class TNodeDict;
class TNotifyViewer;

// One notification: its own copy of the notification node.
class TNotifyContext : public TCustomContext {
public:
    TNotifyContext();
    ~TNotifyContext() override;

    // Deep copy of another TNotifyContext's node; EInvalidCast for any other class.
    void Assign(const TCustomContext& source) override;

    std::unique_ptr<TNodeDict> Node;
};

// Sender, the notification's "object" (the viewer's own copy; null when it has none), its
// "object_id" and its "type".
using TNotifyClickEvent =
    std::function<void(TNotifyViewer* sender, TNode* object, const std::string& objectID,
                       const std::string& notifyType)>;

// The list of notifications: each row is the notification's text and a detail picture whose
// click reports the notification.
class TNotifyViewer : public TCustomViewer {
    Q_OBJECT
public:
    explicit TNotifyViewer(QWidget* owner = nullptr);

    TNotifyClickEvent OnNotifyClick;

public slots:
    // Reports the row whose detail picture was clicked; its tag is the row index.
    void reTextJump(int id);

protected:
    void RenderContext(int index, TCustomContext& context) override;
};

} // namespace quillet
