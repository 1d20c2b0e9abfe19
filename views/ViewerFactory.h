#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

class QWidget;

namespace quillet {

class TNode;
class TCustomViewerFrame;

enum TViewerKind : std::uint8_t { vkUser = 0, vkStatus = 1, vkComment = 2 };

inline constexpr std::array<std::string_view, 3> ViewerClassNames = {"TUserViewer", "TStatusViewer",
                                                                     "TCommentViewer"};

// Makes a frame of one class with an owner and a node.
using TViewerFrameClass = std::function<TCustomViewerFrame*(QWidget* owner, const TNode* node)>;

// The process-wide registry of frame classes by name.
void RegisterViewerClass(std::string_view name, TViewerFrameClass create);
void UnregisterViewerClass(std::string_view name);
// Null when nothing is registered under Name.
const TViewerFrameClass* FindViewerClass(std::string_view name);

template <class T>
void RegisterViewerClass(std::string_view name) {
    RegisterViewerClass(name, [](QWidget* owner, const TNode* node) -> TCustomViewerFrame* {
        return new T(owner, node);
    });
}

// Creates the frame of Kind with Sheet as owner and parent, filling the sheet. Raises
// EConvertError for a kind outside 0 to 2 and for a class that is not registered.
TCustomViewerFrame* CreateViewer(QWidget* sheet, TViewerKind kind, const TNode* node);

} // namespace quillet
