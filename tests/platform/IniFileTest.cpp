#include "platform/IniFile.h"

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace quillet;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

class IniFileTest : public ::testing::Test {
protected:
    QTemporaryDir m_dir;
    fs::path m_path = fs::path(m_dir.path().toStdString()) / "Main.INI";
};

TEST_F(IniFileTest, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
    TIniFile ini(m_path.string());
    EXPECT_EQ(ini.ReadString("URL", "Host_URL", "dflt"), "dflt");
    EXPECT_TRUE(ini.ReadSection("URL").empty());
    EXPECT_FALSE(ini.ValueExists("URL", "Host_URL"));
    EXPECT_FALSE(fs::exists(m_path)) << "reading must not create the file";

    ini.WriteString("URL", "Host_URL", "https://a");
    EXPECT_EQ(ReadAll(m_path), "[URL]\nHost_URL=https://a\n");
}

TEST_F(IniFileTest, NamesMatchWithoutRegardToCase) {
    WriteAll(m_path, "[Data]\nUser=42\n");
    TIniFile ini(m_path.string());
    EXPECT_EQ(ini.ReadString("DATA", "user", ""), "42");
    EXPECT_TRUE(ini.ValueExists("data", "USER"));

    ini.WriteString("dAtA", "uSeR", "43");
    EXPECT_EQ(ReadAll(m_path), "[Data]\nUser=43\n") << "an existing key is replaced in place";
}

TEST_F(IniFileTest, ReadsWindowsFileKeepingCommentsAndOrder) {
    WriteAll(m_path, "\xEF\xBB\xBF; written on Windows\r\n[Plugin]\r\n b = 2 \r\n; note\r\n"
                     "a=1\r\n\r\n[Path]\r\nCache_Path=..\\Cache\r\n");
    TIniFile ini(m_path.string());
    EXPECT_EQ(ini.ReadSection("plugin"), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(ini.ReadString("Plugin", "b", ""), "2") << "spaces around names and values go";
    EXPECT_EQ(ini.ReadString("Path", "Cache_Path", ""), "..\\Cache");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Plugin", "Path"}));

    ini.WriteString("Plugin", "c", "3");
    EXPECT_EQ(ReadAll(m_path), "; written on Windows\n[Plugin]\nb=2\n; note\na=1\nc=3\n\n"
                               "[Path]\nCache_Path=..\\Cache\n");
}

TEST_F(IniFileTest, ValuesAreCutAt2047Characters) {
    const std::string ascii(3000, 'x');
    std::string chinese;
    for (int i = 0; i < 2100; ++i)
        chinese += "中";
    TIniFile ini(m_path.string());
    ini.WriteString("S", "ascii", ascii);
    ini.WriteString("S", "exact", std::string(2047, 'y'));
    ini.WriteString("S", "chinese", chinese);

    TIniFile reread(m_path.string());
    EXPECT_EQ(reread.ReadString("S", "ascii", ""), std::string(2047, 'x'));
    EXPECT_EQ(reread.ReadString("S", "exact", ""), std::string(2047, 'y'));
    EXPECT_EQ(reread.ReadString("S", "chinese", ""), chinese.substr(0, 2047 * 3))
        << "cut at a character, never inside one";
    EXPECT_NE(ReadAll(m_path).find(ascii), std::string::npos) << "the file keeps the whole value";
}

TEST_F(IniFileTest, EachChangeIsWrittenAtOnceByReplacingTheFile) {
    TIniFile ini(m_path.string());
    ini.WriteString("A", "k", "old");
    // A second name for the old file: writing in place would change it too.
    const fs::path oldLink = m_path.string() + ".old";
    fs::create_hard_link(m_path, oldLink);

    ini.WriteString("A", "k", "new");
    EXPECT_EQ(ReadAll(oldLink), "[A]\nk=old\n");
    EXPECT_EQ(TIniFile(m_path.string()).ReadString("A", "k", ""), "new");

    ini.DeleteKey("A", "k");
    EXPECT_FALSE(TIniFile(m_path.string()).ValueExists("A", "k"));
    ini.WriteString("B", "k", "v");
    ini.EraseSection("a");
    EXPECT_EQ(ReadAll(m_path), "[B]\nk=v\n");

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path.parent_path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Main.INI", "Main.INI.old"}))
        << "no temporary file stays behind";
}

TEST_F(IniFileTest, RefusedWriteRaisesAndChangesNothing) {
    // Root writes read-only files, so the refusal comes from a folder that cannot hold the file.
    const fs::path notAFolder = m_path.parent_path() / "file";
    WriteAll(notAFolder, "x");
    for (const fs::path& path :
         {m_path.parent_path() / "missing" / "Main.INI", notAFolder / "Main.INI"}) {
        SCOPED_TRACE(path.string());
        TIniFile ini(path.string());
        try {
            ini.WriteString("Data", "User", "1");
            FAIL() << "the write was not refused";
        } catch (const EIniFileError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + path.string());
        }
        EXPECT_FALSE(ini.ValueExists("Data", "User")) << "the object still matches the file";
    }
}

TEST_F(IniFileTest, LineBreaksCannotForgeOtherEntries) {
    TIniFile ini(m_path.string());
    ini.WriteString("Data", "User", "1");
    EXPECT_THROW(ini.WriteString("Data", "User", "2\n[URL]\nHost_URL=https://evil"), EIniFileError);
    EXPECT_THROW(ini.WriteString("Data", "a=b", "1"), EIniFileError);
    EXPECT_THROW(ini.WriteString("Da]ta", "User", "1"), EIniFileError);
    EXPECT_EQ(ReadAll(m_path), "[Data]\nUser=1\n");
    EXPECT_EQ(ini.ReadString("Data", "User", ""), "1");
}

TEST_F(IniFileTest, DuplicatesReadTheFirstOccurrence) {
    WriteAll(m_path, "[S]\nk=1\nK=2\n[s]\nk=3\nj=4\n");
    TIniFile ini(m_path.string());
    EXPECT_EQ(ini.ReadString("S", "k", ""), "1");
    EXPECT_EQ(ini.ReadSection("S"), (std::vector<std::string>{"k"}));
    EXPECT_FALSE(ini.ValueExists("S", "j"));
}

} // namespace
