#include "views/ViewerFactory.h"

#include "core/Global.h"
#include "views/CustomViewFrame.h"

#include <QLayout>
#include <QVBoxLayout>
#include <map>
#include <string>

namespace quillet {

namespace {

std::map<std::string, TViewerFrameClass, std::less<>>& Registry() {
    static std::map<std::string, TViewerFrameClass, std::less<>> registry;
    return registry;
}

} // namespace

void RegisterViewerClass(std::string_view name, TViewerFrameClass create) {
    Registry()[std::string(name)] = std::move(create);
}

void UnregisterViewerClass(std::string_view name) {
    const auto found = Registry().find(name);
    if (found != Registry().end())
        Registry().erase(found);
}

const TViewerFrameClass* FindViewerClass(std::string_view name) {
    const auto found = Registry().find(name);
    return found == Registry().end() ? nullptr : &found->second;
}

TCustomViewerFrame* CreateViewer(QWidget* sheet, TViewerKind kind, const TNode* node) {
    if (kind >= ViewerClassNames.size())
        throw EConvertError("unknown viewer kind " + std::to_string(kind));
    const std::string_view name = ViewerClassNames[kind];
    const TViewerFrameClass* create = FindViewerClass(name);
    if (!create)
        throw EConvertError("Class " + std::string(name) + " not found");
    TCustomViewerFrame* frame = (*create)(sheet, node);
    if (!sheet->layout()) {
        auto* layout = new QVBoxLayout(sheet);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    sheet->layout()->addWidget(frame);
    return frame;
}

} // namespace quillet
