// `quillet-cli dump`: the real binary, run in a temporary current directory.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::size_t Lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

struct Result {
    int exitCode = -1; // -1 when the program did not exit normally (a crash)
    std::string out;
    std::string err;
};

class DumpCommand : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillet-dump-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // Runs quillet-cli with Args, standard input from Input when it is not empty.
    Result Run(const std::vector<std::string>& args, const fs::path& input = {}) {
        std::string command = "cd " + Quoted(m_dir.string()) + " && " + Quoted(QUILLET_CLI);
        for (const std::string& arg : args)
            command += " " + Quoted(arg);
        command += " < " + Quoted(input.empty() ? "/dev/null" : input.string());
        command += " > out.txt 2> err.txt";
        const int status = std::system(command.c_str());
        Result result;
        if (WIFEXITED(status) && WEXITSTATUS(status) < 128)
            result.exitCode = WEXITSTATUS(status);
        result.out = ReadFile(m_dir / "out.txt");
        result.err = ReadFile(m_dir / "err.txt");
        return result;
    }

    fs::path Write(const std::string& name, const std::string& bytes) {
        WriteFile(m_dir / name, bytes);
        return m_dir / name;
    }

    fs::path m_dir;
};

TEST_F(DumpCommand, EveryReplyFixtureGivesItsExpectedTree) {
    std::set<std::string> checked;
    for (const auto& entry : fs::directory_iterator(QUILLET_FIXTURES)) {
        const fs::path xml = entry.path();
        fs::path json = xml;
        json.replace_extension(".json");
        if (xml.extension() != ".xml" || !fs::exists(json))
            continue;
        SCOPED_TRACE(xml.filename().string());
        const Result result = Run({"dump", "--json", xml.string()});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, ReadFile(json));
        checked.insert(xml.stem().string());
    }
    for (const char* name :
         {"accounts", "timeline", "notify", "error", "pretty", "cutshort", "chinese", "extras"})
        EXPECT_TRUE(checked.count(name)) << name << ".xml or its .json is missing";
}

TEST_F(DumpCommand, PrettyPrintedReplyReadsLikeTheCompactOne) {
    const fs::path fixtures = QUILLET_FIXTURES;
    EXPECT_EQ(Run({"dump", "--json", (fixtures / "pretty.xml").string()}).out,
              Run({"dump", "--json", (fixtures / "accounts.xml").string()}).out);
}

TEST_F(DumpCommand, TextFormShowsOneNodeALine) {
    const fs::path reply =
        Write("reply.xml", "<reply><ID type=\"str\">42</ID><accounts type=\"list\">"
                           "<account type=\"dict\"><n type=\"int\">-3</n><ok "
                           "type=\"bool\">true</ok><t type=\"str\">a\"\nb</t>"
                           "<x type=\"what\"/></account></accounts></reply>");
    const Result result = Run({"dump", reply.string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "reply: dict\n"
                          "  ID: str \"42\"\n"
                          "  accounts: list\n"
                          "    [0] type: other\n"
                          "    [1] account: dict\n"
                          "      type: other\n"
                          "      n: int -3\n"
                          "      ok: bool true\n"
                          "      t: str \"a\\\"\\nb\"\n"
                          "      x: other\n");
}

TEST_F(DumpCommand, DashReadsStandardInput) {
    const fs::path fixture = fs::path(QUILLET_FIXTURES) / "notify.xml";
    const Result result = Run({"dump", "--json", "-"}, fixture);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, ReadFile(fs::path(QUILLET_FIXTURES) / "notify.json"));
}

TEST_F(DumpCommand, ReadsAReplyOfAMegabyte) {
    std::string reply = "<reply><result type=\"list\">";
    int statuses = 0;
    while (reply.size() < 1024 * 1024) {
        reply += "<status type=\"dict\"><id type=\"int\">" + std::to_string(statuses++) +
                 "</id><text type=\"str\">今天天气很好 http://t.cn/x &amp; more</text>"
                 "<user type=\"dict\"><screen_name type=\"str\">用户</screen_name></user></status>";
    }
    const Result result = Run({"dump", "--json", Write("big.xml", reply + "</result></reply>")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    std::size_t found = 0;
    for (std::size_t at = 0; (at = result.out.find("\"name\":\"status\"", at)) != std::string::npos;
         ++at)
        ++found;
    EXPECT_EQ(found, static_cast<std::size_t>(statuses));
    EXPECT_NE(result.out.find("{\"kind\":\"int\",\"name\":\"id\",\"value\":" +
                              std::to_string(statuses - 1) + "}"),
              std::string::npos);
}

TEST_F(DumpCommand, HundredThousandLevelsAreRefusedOrReadWithoutACrash) {
    std::string dicts = "<reply>";
    std::string scalar = "<reply><v type=\"str\">";
    for (int i = 0; i < 100'000; ++i) {
        dicts += "<d type=\"dict\">";
        scalar += "<x>";
    }
    const Result refused = Run({"dump", "--json", Write("dicts.xml", dicts)});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(Lines(refused.err), 1u);
    EXPECT_NE(refused.err.find("nested deeper than 256 levels"), std::string::npos) << refused.err;

    // Nesting inside a scalar is never walked: the reply is read.
    const Result read = Run({"dump", "--json", Write("scalar.xml", scalar)});
    EXPECT_EQ(read.exitCode, 0);
    EXPECT_EQ(read.out, "{\"kind\":\"dict\",\"name\":\"reply\",\"entries\":[{\"key\":\"v\","
                        "\"node\":{\"kind\":\"str\",\"name\":\"v\",\"value\":\"\"}}]}\n");
}

TEST_F(DumpCommand, TextWithoutATreeExitsOneWithOneLine) {
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"not XML", "502 Bad Gateway\r\nthe relay is down\r\n"},
        {"empty", ""},
        {"declaration only", "<?xml version=\"1.0\"?>\n"},
        {"int that is no number", "<reply><n type=\"int\">12\nab</n></reply>"},
        {"bool that is no boolean", "<reply><b type=\"bool\">yes</b></reply>"},
    };
    for (const auto& [what, bytes] : inputs) {
        SCOPED_TRACE(what);
        for (bool json : {false, true}) {
            std::vector<std::string> args = {"dump", Write("in.xml", bytes).string()};
            if (json)
                args.insert(args.begin() + 1, "--json");
            const Result result = Run(args);
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(Lines(result.err), 1u) << result.err;
            EXPECT_EQ(result.err.rfind("quillet-cli dump: ", 0), 0u) << result.err;
        }
    }
    const Result missing = Run({"dump", (m_dir / "no-such-file.xml").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(Lines(missing.err), 1u) << missing.err;
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
}

TEST_F(DumpCommand, WrongArgumentsShowTheUsage) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"dump"},
                                               {"dump", "--json"},
                                               {"dump", "a.xml", "b.xml"},
                                               {"dump", "--xml", "a.xml"}}) {
        const Result result = Run(args);
        EXPECT_EQ(result.exitCode, 2) << args.back();
        EXPECT_NE(result.err.find("usage: quillet-cli dump"), std::string::npos) << result.err;
    }
}

} // namespace
