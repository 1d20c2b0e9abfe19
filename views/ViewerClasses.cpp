#include "views/ViewerClasses.h"

#include "views/CommentView.h"
#include "views/StatusView.h"
#include "views/UserView.h"
#include "views/ViewerFactory.h"

namespace quillet {

void RegisterViewerClasses() {
    RegisterViewerClass<TUserViewer>(ViewerClassNames[vkUser]);
    RegisterViewerClass<TStatusViewer>(ViewerClassNames[vkStatus]);
    RegisterViewerClass<TCommentViewer>(ViewerClassNames[vkComment]);
}

void UnregisterViewerClasses() {
    for (std::string_view name : ViewerClassNames)
        UnregisterViewerClass(name);
}

} // namespace quillet
