#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "ScriptedServer.h"
#include "core/Global.h"
#include "data/XMLObj.h"
#include "net/Cache_.h"
#include "net/web_connect.h"
#include "platform/Graphic.h"
#include "platform/MessagePump.h"

namespace fs = std::filesystem;
using namespace quillet;
using quillet::test::ScriptedReply;
using quillet::test::ScriptedServer;

namespace {

std::string ErrorReply(const std::string& code) {
    return "<reply><_error type=\"str\">failed</_error><_error_code type=\"int\">" + code +
           "</_error_code></reply>";
}

const std::string OkReply = "<reply><ok type=\"str\">yes</ok></reply>";

std::string PngBytes() {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

TEST(RequestChecked, RetriesCodesZeroAndOneThenReturnsTheReply) {
    ScriptedServer server;
    server.Push({200, ErrorReply("1")});
    server.Push({200, ErrorReply("0")});
    server.Push({200, OkReply});
    auto tree = RequestChecked(server.Url("/intf/smart?a=1"));
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->GetByKey("ok")->AsText(), "yes");
    EXPECT_EQ(server.RequestCount(), 3);
}

TEST(RequestChecked, GivesUpAfterThreeRetries) {
    ScriptedServer server;
    server.Push({200, ErrorReply("1")});
    const std::string url = server.Url("/busy");
    try {
        RequestChecked(url);
        FAIL() << "no error raised";
    } catch (const EConnectError& e) {
        EXPECT_EQ(e.URL, url);
    }
    EXPECT_EQ(server.RequestCount(), 4);
}

TEST(RequestChecked, MapsErrorCodes) {
    ScriptedServer expired;
    expired.Push({200, ErrorReply("2")});
    EXPECT_THROW(RequestChecked(expired.Url()), EAccountExpiredError);

    ScriptedServer limited;
    limited.Push({200, ErrorReply("3")});
    EXPECT_THROW(RequestChecked(limited.Url()), ERateLimitError);
}

TEST(RequestChecked, ReturnsOtherRepliesAsTheyAre) {
    const struct {
        const char* name;
        std::string body;
    } cases[] = {
        {"repeated status", ErrorReply("4")},
        {"negative code", ErrorReply("-1")},
        {"code without error", "<r><_error_code type=\"int\">2</_error_code></r>"},
        {"error without code", "<r><_error type=\"str\">None</_error></r>"},
        {"non-numeric code", "<r><_error type=\"str\">x</_error><_error_code type=\"str\">two"
                             "</_error_code></r>"},
    };
    for (const auto& c : cases) {
        ScriptedServer server;
        server.Push({200, c.body});
        std::unique_ptr<TNodeDict> tree;
        EXPECT_NO_THROW(tree = RequestChecked(server.Url())) << c.name;
        EXPECT_NE(tree, nullptr) << c.name;
        EXPECT_EQ(server.RequestCount(), 1) << c.name;
    }
}

TEST(RequestChecked, ReadsTheBodyWhateverTheStatus) {
    ScriptedServer server;
    server.Push({404, OkReply});
    auto tree = RequestChecked(server.Url("/missing"));
    EXPECT_EQ(tree->GetByKey("ok")->AsText(), "yes");
}

TEST(RequestChecked, NoReadableReplyIsAConnectError) {
    const struct {
        const char* name;
        ScriptedReply reply;
    } cases[] = {
        {"empty", {200, ""}},
        {"not xml", {200, "Service Unavailable", "text/plain"}},
        {"binary", {500, std::string("\0\x01\xff\xfe", 4), "application/octet-stream"}},
    };
    for (const auto& c : cases) {
        ScriptedServer server;
        server.Push(c.reply);
        EXPECT_THROW(RequestChecked(server.Url()), EConnectError) << c.name;
        EXPECT_EQ(RequestTree(server.Url()), nullptr) << c.name;
    }
}

TEST(RequestChecked, CutShortReplyGivesThePartialTree) {
    ScriptedServer server;
    server.Push({200, "<reply><a type=\"str\">1</a><b type=\"list\"><i type=\"int\">5</i><i ty"});
    auto tree = RequestChecked(server.Url());
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->GetByKey("a")->AsText(), "1");
}

TEST(RequestChecked, UnreachableAndSilentServersEndInConnectError) {
    int port;
    {
        ScriptedServer gone;
        port = std::stoi(gone.Url().substr(17));
    }
    EXPECT_THROW(RequestChecked("http://127.0.0.1:" + std::to_string(port) + "/"), EConnectError);

    const TRequestTimeouts saved = RequestTimeouts();
    SetRequestTimeouts({2000, 1});
    ScriptedServer silent;
    silent.Push({200, OkReply, "text/xml", 0, /*hang=*/true});
    EXPECT_THROW(RequestChecked(silent.Url()), EConnectError);
    SetRequestTimeouts(saved);
}

TEST(Transport, OverLongRepliesAreDroppedWhole) {
    ScriptedServer server;
    server.Push({200, std::string(MaxReplyBytes + 1, 'x')});
    EXPECT_EQ(RequestText(server.Url()), "");
}

TEST(Transport, PostSendsTheBodyToTheUrlAsGiven) {
    ScriptedServer server;
    server.Push({200, "thanks"});
    std::string stream = "before:";
    HttpPost(server.Url("/post/here?keep=1"), "a=1&b=2", stream);
    EXPECT_EQ(stream, "before:thanks");
    EXPECT_EQ(server.Targets().at(0), "/post/here?keep=1");
}

TEST(Transport, TheUiKeepsRunningDuringARequest) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    TQtMessagePump pump;
    SetMessagePump(&pump);

    ScriptedServer slow;
    slow.Push({200, OkReply, "text/xml", 600});
    ScriptedServer quick;
    quick.Push({200, "<r><nested type=\"str\">done</nested></r>"});

    std::vector<std::string> events;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++ticks == 1) {
            auto nested = RequestTree(quick.Url());
            events.push_back(nested ? nested->GetByKey("nested")->AsText() : "nested failed");
        }
    });
    timer.start();
    auto outer = RequestTree(slow.Url());
    events.push_back(outer ? "outer" : "outer failed");
    timer.stop();
    SetMessagePump(nullptr);

    EXPECT_EQ(events, (std::vector<std::string>{"done", "outer"}));
    EXPECT_GE(ticks, 3);
}

class DownloadPictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("quillet-dl-" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "run");
        fs::create_directories(m_root / "Res/Images");
        QImage broken(1, 1, QImage::Format_RGB32);
        broken.fill(Qt::gray);
        broken.save(QString::fromStdString((m_root / "Res/Images/broken_img.jpg").string()), "JPEG");
        m_savedCwd = fs::current_path();
        fs::current_path(m_root / "run");
        CachePath = "../Cache";
        Cache().SetUserID("u");
        Cache().SetAccountType(atSina);
        Cache().SetAccountName("a" + std::to_string(m_counter++));
    }
    void TearDown() override {
        fs::current_path(m_savedCwd);
        fs::remove_all(m_root);
    }
    size_t CachedFiles() const {
        size_t n = 0;
        for (auto& entry : fs::directory_iterator(Cache().PicturesDir()))
            n += entry.is_regular_file();
        return n;
    }

    fs::path m_root;
    fs::path m_savedCwd;
    static inline int m_counter = 0;
};

TEST_F(DownloadPictureTest, SecondDownloadComesFromTheCache) {
    ScriptedServer server;
    server.Push({200, PngBytes(), "image/png"});
    const std::string url = server.Url("/pictures/a.png?size=large");
    auto first = DownloadPicture(url);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Format(), TGraphicFormat::gfPNG);
    auto second = DownloadPicture(url);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Bytes(), first->Bytes());
    EXPECT_EQ(server.RequestCount(), 1);
    EXPECT_TRUE(fs::exists(Cache().PicturesDir() + "/" + FileNameFromURL(url)));
}

TEST_F(DownloadPictureTest, TextIsNoPictureAndIsNotStored) {
    ScriptedServer server;
    server.Push({200, "<html>not a picture</html>", "text/html"});
    EXPECT_EQ(DownloadPicture(server.Url("/p")), nullptr);
    EXPECT_EQ(CachedFiles(), 0u);
}

TEST_F(DownloadPictureTest, CorruptPictureShowsTheFallbackAndIsNotStored) {
    ScriptedServer server;
    server.Push({200, "\x89PNG\r\n\x1a\n but then garbage", "image/png"});
    auto picture = DownloadPicture(server.Url("/p.png"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Format(), TGraphicFormat::gfJPEG);
    EXPECT_EQ(CachedFiles(), 0u);
}

TEST_F(DownloadPictureTest, OverLongKeysBecomeAStableHash) {
    const std::string url = "http://127.0.0.1/" + std::string(400, 'p') + ".png";
    const std::string key = PictureCacheKey(url);
    EXPECT_LE(key.size(), 255u);
    EXPECT_EQ(key, PictureCacheKey(url));
    EXPECT_NE(key, PictureCacheKey(url + "?2"));
    EXPECT_EQ(PictureCacheKey("http://h/a.png"), FileNameFromURL("http://h/a.png"));

    ScriptedServer server;
    server.Push({200, PngBytes(), "image/png"});
    const std::string longUrl = server.Url("/" + std::string(300, 'q') + ".png");
    ASSERT_NE(DownloadPicture(longUrl), nullptr);
    ASSERT_NE(DownloadPicture(longUrl), nullptr);
    EXPECT_EQ(server.RequestCount(), 1);
}

} // namespace
