#include <QImage>
#include <QBuffer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "core/Global.h"
#include "data/XMLObj.h"
#include "net/Cache_.h"
#include "platform/Graphic.h"

namespace fs = std::filesystem;
using namespace quillet;
using namespace std::chrono_literals;

namespace {

class CacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() /
                 ("quillet-cache-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        CachePath = (m_root / "Cache").string();
        m_now = std::chrono::system_clock::now();
        m_cache.SetClock([this] { return m_now; });
    }
    void TearDown() override { fs::remove_all(m_root); }

    void Ready(const std::string& name = "alice") {
        m_cache.SetUserID("u1");
        m_cache.SetAccountType(atTwitter);
        m_cache.SetAccountName(name);
    }

    static std::unique_ptr<TNodeDict> Reply(const std::string& text) {
        return ParseReply("<reply><text type=\"str\">" + text + "</text></reply>");
    }

    static std::string TextOf(const TNodeDict& reply) {
        return reply.GetByKey("text")->AsText();
    }

    fs::path m_root;
    std::chrono::system_clock::time_point m_now;
    TCache m_cache;
};

TEST_F(CacheTest, FoldersAreDerivedOnceUserAndAccountAreSet) {
    m_cache.SetUserID("u1");
    EXPECT_EQ(m_cache.PicturesDir(), "");
    EXPECT_THROW(m_cache.LoadPublicTimeline(), EAbort);
    m_cache.SetAccountType(atTwitter);
    m_cache.SetAccountName("alice");
    EXPECT_EQ(m_cache.PicturesDir(), CachePath + "/u1/twitter/alice/Pictures");
    EXPECT_EQ(m_cache.ContextsDir(), CachePath + "/u1/twitter/alice/Contexts");
    EXPECT_TRUE(fs::is_directory(m_cache.PicturesDir()));
    EXPECT_TRUE(fs::is_directory(m_cache.ContextsDir()));
}

TEST_F(CacheTest, EveryOperationAbortsSilentlyBeforeAnAccountIsSet) {
    const QImage image(2, 2, QImage::Format_RGB32);
    TGraphic picture(image);
    EXPECT_THROW(m_cache.LoadPicture("k"), EAbort);
    EXPECT_THROW(m_cache.SavePicture("k", picture), EAbort);
    EXPECT_THROW(m_cache.LoadTimeline("1"), EAbort);
    EXPECT_THROW(m_cache.SaveTimeline("1", Reply("x").get()), EAbort);
}

TEST_F(CacheTest, SwitchingAccountsKeepsEachAccountsFiles) {
    Ready("alice");
    ASSERT_TRUE(m_cache.SavePublicTimeline(Reply("alice's").get()));
    Ready("bob");
    EXPECT_EQ(m_cache.LoadPublicTimeline(), nullptr);
    Ready("alice");
    auto back = m_cache.LoadPublicTimeline();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(TextOf(*back), "alice's");
}

TEST_F(CacheTest, RepliesStayFreshForFiveMinutes) {
    Ready();
    ASSERT_TRUE(m_cache.SaveTimeline("12345", Reply("first").get()));
    const std::string file = m_cache.ContextsDir() + "/12345.tl";
    ASSERT_TRUE(fs::exists(file));

    m_now += 4min + 50s;
    auto fresh = m_cache.LoadTimeline("12345");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(TextOf(*fresh), "first");

    m_now += 20s; // 5 min 10 s after the save
    EXPECT_EQ(m_cache.LoadTimeline("12345"), nullptr);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(CacheTest, SavingOverAFreshReplyKeepsTheFirstOne) {
    Ready();
    ASSERT_TRUE(m_cache.SavePublicTimeline(Reply("first").get()));
    EXPECT_TRUE(m_cache.SavePublicTimeline(Reply("second").get()));
    EXPECT_EQ(TextOf(*m_cache.LoadPublicTimeline()), "first");
}

TEST_F(CacheTest, ErrorRepliesAndChineseTextRoundTrip) {
    Ready();
    auto reply = ParseReply("<r><_error type=\"str\">频繁</_error>"
                            "<_error_code type=\"int\">4</_error_code></r>");
    ASSERT_TRUE(m_cache.SavePublicTimeline(reply.get()));
    auto back = m_cache.LoadPublicTimeline();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetByKey("_error")->AsText(), "频繁");
    EXPECT_EQ(back->GetByKey("_error_code")->AsInteger(), 4);
}

TEST_F(CacheTest, NoReplyOrUnreadableFileIsAMissNotAnError) {
    Ready();
    EXPECT_FALSE(m_cache.SavePublicTimeline(nullptr));
    std::ofstream(m_cache.ContextsDir() + "/public.ptl") << "not xml at all";
    EXPECT_EQ(m_cache.LoadPublicTimeline(), nullptr);
}

TEST_F(CacheTest, PicturesRoundTripWithTheirOwnBytes) {
    Ready();
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    image.save(&buffer, "PNG");
    TGraphic picture(TGraphicFormat::gfPNG, png.toStdString());
    EXPECT_EQ(m_cache.LoadPicture("p.png"), nullptr);
    ASSERT_TRUE(m_cache.SavePicture("p.png", picture));
    auto back = m_cache.LoadPicture("p.png");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Bytes(), png.toStdString());
    EXPECT_EQ(back->Width(), 3);
}

TEST_F(CacheTest, NamesFromTheRelayCannotLeaveTheCache) {
    m_cache.SetUserID("../..");
    m_cache.SetAccountType(atSina);
    m_cache.SetAccountName("../../evil");
    const fs::path dir = fs::weakly_canonical(m_cache.ContextsDir());
    const fs::path root = fs::weakly_canonical(CachePath);
    EXPECT_EQ(dir.string().rfind(root.string(), 0), 0u) << dir;
    ASSERT_TRUE(m_cache.SaveTimeline("../x", Reply("y").get()));
    EXPECT_NE(m_cache.LoadTimeline("../x"), nullptr);
    EXPECT_FALSE(fs::exists(fs::path(m_cache.ContextsDir()).parent_path() / "x.tl"));
}

} // namespace
