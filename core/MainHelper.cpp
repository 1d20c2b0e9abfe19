#include "core/MainHelper.h"

#include "core/FrmLargeImage.h"
#include "data/XMLObj.h"
#include "platform/Graphic.h"
#include "service/User_Intf.h"
#include "views/SNSView.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <iostream>

namespace quillet {

namespace {

int ShowQtMessageBox(const QString& text, const QString& caption, int flags) {
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(text);
    const int icon = flags & 0xF0;
    box.setIcon(icon == MB_ICONWARNING    ? QMessageBox::Warning
                : icon == MB_ICONQUESTION ? QMessageBox::Question
                                          : QMessageBox::NoIcon);
    const bool question = (flags & 0x0F) == MB_YESNO;
    box.setStandardButtons(question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    const int pressed = box.exec();
    if (!question)
        return IDOK;
    return pressed == QMessageBox::Yes ? IDYES : IDNO;
}

void LogException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::cerr << "quillet: unhandled error in a deferred call: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "quillet: unhandled error of unknown type in a deferred call\n";
    }
}

TMessageBoxService& MessageBoxService() {
    static TMessageBoxService service;
    return service;
}

TDialogService& DialogService() {
    static TDialogService service;
    return service;
}

TExceptionHandler& ExceptionHandler() {
    static TExceptionHandler handler;
    return handler;
}

int ShowMessage(const QString& text, std::string_view caption, int flags) {
    const QString title = QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
    const TMessageBoxService& service = MessageBoxService();
    return service ? service(text, title, flags) : ShowQtMessageBox(text, title, flags);
}

// Adds the statuses of a timeline reply's "result" list to Viewer, in order. Items that are no
// status (no "id") are left out.
void AddTimeline(TSNSViewer& viewer, const TNodeDict& reply) {
    // An error reply has no "result": it fills nothing.
    const TNodeList* result = ListAt(&reply, "result");
    if (!result)
        return;
    for (int i = 1; i <= result->Count(); ++i) {
        const TNode* item = result->GetItem(i);
        if (!IsStatusNode(*item))
            continue;
        const std::unique_ptr<TSNSContext> context = MakeStatusContext(*item);
        context->AccountType = CurrentAccount->AccountType;
        viewer.AddContext(*context);
    }
}

} // namespace

TMessageBoxService SetMessageBoxService(TMessageBoxService service) {
    return std::exchange(MessageBoxService(), std::move(service));
}

TDialogService SetDialogService(TDialogService service) {
    return std::exchange(DialogService(), std::move(service));
}

int ExecDialog(QDialog& dialog) {
    const TDialogService& service = DialogService();
    return service ? service(dialog) : dialog.exec();
}

TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler) {
    return std::exchange(ExceptionHandler(), std::move(handler));
}

void HandleApplicationException(std::exception_ptr error) {
    const TExceptionHandler& handler = ExceptionHandler();
    if (handler)
        handler(error);
    else
        LogException(error);
}

void RunDeferred(std::function<void()> call) {
    // Queued on the application object, the call runs once control is back in the event loop.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [call = std::move(call)] {
            try {
                call();
            } catch (...) {
                HandleApplicationException(std::current_exception());
            }
        },
        Qt::QueuedConnection);
}

int ShowWarning(const QString& text, int buttons) {
    return ShowMessage(text, WarningCaption, buttons | MB_ICONWARNING);
}

int ShowPrompt(const QString& text, int buttons) {
    return ShowMessage(text, PromptCaption, buttons | MB_ICONQUESTION);
}

void ShowLargeImage(std::unique_ptr<TGraphic> picture) {
    if (!picture)
        return;
    TLargeImageForm form;
    form.SetPicture(*picture);
    ExecDialog(form);
}

std::unique_ptr<TSNSContext> MakeStatusContext(const TNode& node) {
    auto context = std::make_unique<TSNSContext>();
    context->Node->Assign(node);
    context->Parse();
    // Without a current account (signed out) a status shows no buttons.
    const TreButtonType buttons =
        CurrentAccount ? ButtonSet(CurrentAccount->AccountType) : TreButtonType();
    context->Buttons = buttons;
    if (context->HasRetweet)
        context->Retweet->Buttons = buttons;
    return context;
}

void FillHomeTimeline(TSNSViewer& viewer) {
    viewer.ClearContexts();
    if (!CurrentAccount)
        return;
    const std::unique_ptr<TNodeDict> reply = CurrentAccount->GetPublicTimeline();
    AddTimeline(viewer, *reply);
}

bool FillUserTimeline(TSNSViewer& viewer, const std::string& userID) {
    if (!CurrentAccount)
        return false;
    if (CurrentAccount->AccountType == atSina && userID != CurrentAccount->AccountName)
        return false;
    viewer.ClearContexts();
    const std::unique_ptr<TNodeDict> reply = CurrentAccount->GetUserTimeline(userID);
    AddTimeline(viewer, *reply);
    return true;
}

} // namespace quillet
