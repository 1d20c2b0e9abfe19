#include "core/Global.h"
#include "platform/IniFile.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace quillet;
namespace fs = std::filesystem;

namespace {

const char* const UrlKeys[] = {"Host_URL",         "User_Query_URL",    "User_Login_URL",
                               "User_Operate_URL", "Account_Query_URL", "Account_Modify_URL",
                               "Intf_Sina_URL",    "Intf_Twitter_URL",  "Intf_Facebook_URL",
                               "Intf_Call_URL",    "Intf_Sep_URL",      "Intf_Smart_URL"};

// Every run happens in its own current directory, as the program does.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_oldDir = fs::current_path();
        fs::current_path(m_dir.path().toStdString());
    }
    void TearDown() override {
        IniFile.reset();
        fs::current_path(m_oldDir);
    }
    static void WriteIni(const std::string& content) {
        std::ofstream("Main.INI", std::ios::binary) << content;
    }
    static std::string ReadIni() {
        std::ifstream in("Main.INI", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void Run() {
        LoadConfig();
        SaveConfig();
    }

    QTemporaryDir m_dir;
    fs::path m_oldDir;
};

TEST_F(ConfigTest, FirstRunWritesEveryUrlAndFolder) {
    LoadConfig();
    EXPECT_EQ(HostURL, "https://relay.quillet.org");
    EXPECT_EQ(UserQueryURL, "https://relay.quillet.org/user/query");
    EXPECT_EQ(AccountModifyURL, "https://relay.quillet.org/user/modifyaccount");
    EXPECT_EQ(TwitterAuthorizeURL, "https://api.twitter.com/oauth/authorize");
    EXPECT_EQ(EmotionSinaPath, "../Res/Images/Emotions/Sina");
    EXPECT_EQ(ImagePath, "../Res/Images");
    EXPECT_EQ(CachePath, "../Cache");
    EXPECT_FALSE(fs::exists("Main.INI"));
    SaveConfig();
    EXPECT_EQ(IniFile, nullptr);

    const TIniFile written("Main.INI");
    EXPECT_EQ(written.ReadSection("URL"),
              std::vector<std::string>(std::begin(UrlKeys), std::end(UrlKeys)));
    EXPECT_EQ(written.ReadSection("Path"),
              (std::vector<std::string>{"Emotion_Sina_Path", "Cache_Path", "Image_Path"}));
    EXPECT_EQ(written.ReadSections(), (std::vector<std::string>{"URL", "Path"}))
        << "[Data] and the read-only URL are not written back";
}

TEST_F(ConfigTest, DerivedUrlsFollowHostUrlAsWritten) {
    const struct {
        const char* host;
        const char* queryURL;
    } cases[] = {{"http://x", "http://x/user/query"},
                 {"http://x/", "http://x//user/query"}, // no separator is removed
                 {"", "/user/query"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        WriteIni(std::string("[URL]\nHost_URL=") + c.host + "\n");
        LoadConfig();
        EXPECT_EQ(HostURL, c.host);
        EXPECT_EQ(UserQueryURL, c.queryURL);
        EXPECT_EQ(IntfSmartURL, std::string(c.host) + "/intf/smart");
        IniFile.reset();
    }
}

TEST_F(ConfigTest, DerivedKeyWinsAndSurvivesAHostChange) {
    WriteIni("[url]\nuser_query_url=https://q.example/uq\nHost_URL=http://x\n");
    Run();
    LoadConfig();
    EXPECT_EQ(UserQueryURL, "https://q.example/uq");
    EXPECT_EQ(UserLoginURL, "http://x/user/login");
    IniFile.reset();

    // After one run every URL is in the file, so a new host changes only HostURL.
    TIniFile("Main.INI").WriteString("URL", "Host_URL", "http://y");
    Run();
    LoadConfig();
    EXPECT_EQ(HostURL, "http://y");
    EXPECT_EQ(UserLoginURL, "http://x/user/login");
    EXPECT_EQ(UserQueryURL, "https://q.example/uq");
}

TEST_F(ConfigTest, BackslashFoldersBecomeSlashes) {
    WriteIni("[Path]\r\nCache_Path=..\\MyCache\\\r\nImage_Path=D:\\Res\\Images\r\n"
             "Plugins_Path=..\\Plugins\\\r\n");
    LoadConfig();
    EXPECT_EQ(CachePath, "../MyCache/");
    EXPECT_EQ(ImagePath, "D:/Res/Images");
    EXPECT_EQ(EmotionSinaPath, "../Res/Images/Emotions/Sina");
    SaveConfig();
    const TIniFile written("Main.INI");
    EXPECT_EQ(written.ReadString("Path", "Cache_Path", ""), "../MyCache/");
    EXPECT_EQ(written.ReadString("Path", "Plugins_Path", ""), "..\\Plugins\\")
        << "a key of the plug-in manager is left alone";
}

TEST_F(ConfigTest, RememberedUser) {
    LoadConfig();
    EXPECT_EQ(LoadUser(), "");
    SaveUser("0123456789abcdef");
    EXPECT_EQ(LoadUser(), "0123456789abcdef");
    SaveUser("");
    EXPECT_EQ(LoadUser(), "");
    SaveConfig();
    const TIniFile written("Main.INI");
    EXPECT_TRUE(written.ValueExists("Data", "User")) << "the key stays, empty";
    EXPECT_EQ(written.ReadString("Data", "User", "absent"), "");
}

TEST_F(ConfigTest, RefusedSaveRaisesAndReleasesTheFile) {
    fs::create_directory("Main.INI"); // a folder where the file should be
    LoadConfig();
    EXPECT_EQ(HostURL, "https://relay.quillet.org");
    EXPECT_THROW(SaveUser("1"), EIniFileError);
    try {
        SaveConfig();
        FAIL() << "the write was not refused";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to ./Main.INI");
    }
    EXPECT_EQ(IniFile, nullptr);
    EXPECT_THROW(LoadUser(), Exception) << "no configuration is open";
}

} // namespace
