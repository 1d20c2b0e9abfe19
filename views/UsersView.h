#pragma once

#include "views/CustomView.h"

#include <memory>

namespace quillet {

class TNodeDict;

// One user of a list: its own copy of the user node.
class TUsersContext : public TCustomContext {
public:
    TUsersContext();
    ~TUsersContext() override;

    // Deep copy of another TUsersContext's node; EInvalidCast for any other class.
    void Assign(const TCustomContext& source) override;

    std::unique_ptr<TNodeDict> Node;
};

// A read-only list of users: avatar and screen name, the two counts, the self-description.
class TUsersViewer : public TCustomViewer {
    Q_OBJECT
public:
    explicit TUsersViewer(QWidget* owner = nullptr);

protected:
    void RenderContext(int index, TCustomContext& context) override;
};

} // namespace quillet
