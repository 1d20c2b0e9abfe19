#include "core/MainHelper.h"

#include "core/FrmLargeImage.h"
#include "platform/Graphic.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace quillet {
namespace {

struct Asked {
    QString text;
    QString caption;
    int flags = -1;
};

// Answers every message box with Answer and remembers what was asked.
class MessageBoxes : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous =
            SetMessageBoxService([this](const QString& text, const QString& caption, int flags) {
                m_asked.push_back({text, caption, flags});
                return m_answer;
            });
    }
    void TearDown() override { SetMessageBoxService(m_previous); }

    TMessageBoxService m_previous;
    std::vector<Asked> m_asked;
    int m_answer = IDOK;
};

TEST_F(MessageBoxes, CaptionIconAndButtonsAndTheAnswerComeBack) {
    struct Case {
        int (*show)(const QString&, int);
        int buttons;
        int answer;
        const char* caption;
        int flags;
    };
    const Case cases[] = {
        {ShowWarning, MB_OK, IDOK, "警告", 0x30},   {ShowWarning, MB_YESNO, IDYES, "警告", 0x34},
        {ShowPrompt, MB_OK, IDOK, "提示", 0x20},    {ShowPrompt, MB_YESNO, IDYES, "提示", 0x24},
        {ShowPrompt, MB_YESNO, IDNO, "提示", 0x24},
    };
    for (const Case& c : cases) {
        m_asked.clear();
        m_answer = c.answer;
        EXPECT_EQ(c.show("删除这个账户吗？", c.buttons), c.answer);
        ASSERT_EQ(m_asked.size(), 1u);
        EXPECT_EQ(m_asked[0].text, "删除这个账户吗？");
        EXPECT_EQ(m_asked[0].caption, c.caption);
        EXPECT_EQ(m_asked[0].flags, c.flags);
    }
}

// Runs the event loop until Done or a second has passed.
template <class F>
void ProcessUntil(F done) {
    for (int i = 0; i < 100 && !done(); ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(RunDeferred, TheCallRunsAfterTheHandlerThatAskedForIt) {
    std::vector<std::string> order;
    // A handler, itself run from the event loop, that asks for a call as its last step.
    QTimer::singleShot(0, [&] {
        order.push_back("handler start");
        RunDeferred([&] { order.push_back("deferred"); });
        order.push_back("handler end");
    });
    ProcessUntil([&] { return order.size() == 3; });
    EXPECT_EQ(order, (std::vector<std::string>{"handler start", "handler end", "deferred"}));
}

TEST(RunDeferred, AnExceptionReachesTheApplicationHandler) {
    std::vector<std::string> caught;
    TExceptionHandler previous = SetApplicationExceptionHandler([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const EConnectError& e) {
            caught.push_back(e.URL);
        }
    });
    bool later = false;
    RunDeferred([] { throw EConnectError("http://relay/x"); });
    RunDeferred([&] { later = true; });
    ProcessUntil([&] { return later; });
    SetApplicationExceptionHandler(previous);
    EXPECT_EQ(caught, std::vector<std::string>{"http://relay/x"});
    EXPECT_TRUE(later);

    // Without a handler of its own the application logs it.
    testing::internal::CaptureStderr();
    bool done = false;
    RunDeferred([] { throw EConvertError("unreadable time"); });
    RunDeferred([&] { done = true; });
    ProcessUntil([&] { return done; });
    EXPECT_NE(testing::internal::GetCapturedStderr().find("unreadable time"), std::string::npos);
}

std::unique_ptr<TGraphic> Picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    return std::make_unique<TGraphic>(image);
}

TEST(LargeImage, TheDialogFitsThePictureExactly) {
    struct Seen {
        QString title;
        QSize client;
        QSize picture;
        QRgb corner = 0;
        bool modal = false;
    } seen;
    TDialogService previous = SetDialogService([&](QDialog& dialog) {
        auto& form = dynamic_cast<TLargeImageForm&>(dialog);
        seen.title = form.windowTitle();
        seen.client = form.contentsRect().size();
        seen.picture = form.Image->pixmap().size();
        seen.corner = form.Image->pixmap().toImage().pixel(499, 299);
        seen.modal = form.isModal();
        return 0;
    });
    ShowLargeImage(Picture(500, 300));
    SetDialogService(previous);

    EXPECT_EQ(seen.title, "查看大图");
    EXPECT_EQ(seen.client, QSize(500, 300));
    EXPECT_EQ(seen.picture, QSize(500, 300));
    EXPECT_EQ(seen.corner, QColor(10, 200, 30).rgb());
    EXPECT_TRUE(seen.modal);
}

TEST(LargeImage, TheRealDialogShowsModallyAndReturnsWhenClosed) {
    QSize shown;
    QTimer::singleShot(50, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        shown = dialog->size();
        dialog->close();
    });
    ShowLargeImage(Picture(500, 300));
    EXPECT_EQ(shown, QSize(500, 300));
}

} // namespace
} // namespace quillet
