#pragma once

#include "core/Global.h"

#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <string>

class QWidget;
class QDialog;

namespace quillet {

class TGraphic;
class TSNSContext;
class TSNSViewer;
class TNode;

// Message-box flags and results of the old platform, which callers still pass and compare.
inline constexpr int MB_OK = 0;
inline constexpr int MB_YESNO = 4;
inline constexpr int MB_ICONQUESTION = 0x20;
inline constexpr int MB_ICONWARNING = 0x30;
inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

inline constexpr std::string_view WarningCaption = "警告";
inline constexpr std::string_view PromptCaption = "提示";

// Shows a modal message box; flags = button set | icon. Returns the pressed button's code.
using TMessageBoxService =
    std::function<int(const QString& text, const QString& caption, int flags)>;
// Replaces the message-box service (tests read what is asked and answer); an empty function
// restores the real one. Returns the previous service.
TMessageBoxService SetMessageBoxService(TMessageBoxService service);

// Runs a modal dialog and returns its result; tests replace it to close the dialog themselves.
using TDialogService = std::function<int(QDialog& dialog)>;
TDialogService SetDialogService(TDialogService service);
int ExecDialog(QDialog& dialog);

// What happens to an exception that escapes a deferred call. The default writes it to stderr;
// the main window installs its own. Returns the previous handler.
using TExceptionHandler = std::function<void(std::exception_ptr)>;
TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(std::exception_ptr error);

// Runs Call on the UI thread's event loop after the current handler has returned.
void RunDeferred(std::function<void()> call);

int ShowWarning(const QString& text, int buttons = MB_OK);
int ShowPrompt(const QString& text, int buttons = MB_OK);

// Shows the picture unscaled in a dialog that fits it; returns when the dialog is closed.
void ShowLargeImage(std::unique_ptr<TGraphic> picture);

// A status context from one status node, parsed, with the buttons of the current account.
std::unique_ptr<TSNSContext> MakeStatusContext(const TNode& node);
// Fills Viewer with the current account's home timeline.
void FillHomeTimeline(TSNSViewer& viewer);
// Fills Viewer with one user's timeline; false (viewer untouched) when a Sina account asks for
// another user's timeline.
bool FillUserTimeline(TSNSViewer& viewer, const std::string& userID);

} // namespace quillet
