// Hostile and broken replies against the service client in process and against quillet-cli as
// a separate program: every one ends in a tree, the client's own exception or a clean refusal,
// never a crash, and a huge reply does not grow memory without bound.
#include "ScriptedServer.h"
#include "core/Global.h"
#include "data/XMLObj.h"
#include "net/Cache_.h"
#include "net/web_connect.h"
#include "service/Data_Intf.h"
#include "service/User_Intf.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quillet::test {
namespace {

namespace fs = std::filesystem;

// What a bad reply must end in.
enum class TOutcome {
    NoTree,  // nothing readable came back: EConnectError with the request's URL
    Handled, // a tree (maybe partial or an error reply) or one of the client's own exceptions
};

struct TBadReply {
    const char* name;
    ScriptedReply reply;
    TOutcome outcome;
};

std::string Nested(int levels) {
    std::string text;
    text.reserve(size_t(levels) * 24);
    for (int i = 0; i < levels; ++i)
        text += "<d type=\"dict\">";
    for (int i = 0; i < levels; ++i)
        text += "</d>";
    return "<reply>" + text + "</reply>";
}

// Well-formed, so only the size bound can stop a client from reading it whole.
std::string Huge() {
    constexpr size_t size = 100u << 20;
    std::string text = "<reply><text type=\"str\">";
    text.append(size, 'a');
    return text + "</text></reply>";
}

std::vector<TBadReply> BadReplies() {
    const std::string status = "<reply><id type=\"str\">1</id><text type=\"dict\"><text "
                               "type=\"str\">hi</text></text>";
    return {
        {"empty", {200, ""}, TOutcome::NoTree},
        {"not_xml", {200, "this is not a reply {\"id\": 1}"}, TOutcome::NoTree},
        {"cut_short", {200, status.substr(0, status.size() - 20)}, TOutcome::Handled},
        {"404_with_xml",
         {404, "<reply><_error type=\"str\">not found</_error></reply>"},
         TOutcome::Handled},
        {"500_with_html",
         {500,
          "<!DOCTYPE html><html><head><meta charset=utf-8><title>500</title></head><body><p>"
          "Internal error<br><hr></body></html>",
          "text/html"},
         TOutcome::Handled},
        {"100_mb", {200, Huge()}, TOutcome::NoTree},
        {"nested_100000", {200, Nested(100000)}, TOutcome::NoTree},
        {"invalid_utf8",
         {200, "<reply><screen_name type=\"str\">\xff\xfe\xc3(\xed\xa0\x80</screen_name>"
               "<text type=\"dict\"><text type=\"str\">\xe4\xb8</text></text></reply>"},
         TOutcome::Handled},
        {"int_that_is_text",
         {200, "<reply><follow_count type=\"int\">many</follow_count></reply>"},
         TOutcome::NoTree},
        {"list_given_as_text",
         {200, "<reply><result type=\"str\">none</result><counts type=\"int\">3</counts>"
               "<notifies type=\"bool\">True</notifies><profile_image type=\"list\"/></reply>"},
         TOutcome::Handled},
        {"missing_keys", {200, "<reply/>"}, TOutcome::Handled},
    };
}

// The four operations every bad reply is tried against.
struct TOperation {
    const char* name;
    const char* cliCommand;
    std::function<void(TAccount&)> run;
};

std::unique_ptr<TNodeDict> CallFunction(TAccount& account, const std::string& category) {
    account.APICall->SetCategory(category);
    if (category == "update_status")
        account.APICall->AddParam("status", std::string("hello"));
    return account.APICall->Execute();
}

std::vector<TOperation> Operations() {
    return {
        {"home_timeline", "timeline", [](TAccount& a) { a.GetPublicTimeline(); }},
        {"post", "post", [](TAccount& a) { CallFunction(a, "update_status"); }},
        {"notify", "notify", [](TAccount& a) { CallFunction(a, "notify"); }},
        {"profile", "profile", [](TAccount& a) { a.FetchProfile(); }},
    };
}

// A temporary current directory whose Main.INI points every URL at the scripted server.
class BadReplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("quillet-bad-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_savedCwd = fs::current_path();
        fs::current_path(m_dir);
        SetRequestTimeouts({2000, 5});
    }

    void TearDown() override {
        SetRequestTimeouts({});
        fs::current_path(m_savedCwd);
        fs::remove_all(m_dir);
    }

    void WriteConfig(const std::string& hostUrl, const std::string& extra = "") {
        std::ofstream(m_dir / "Main.INI")
            << "[URL]\nHost_URL=" << hostUrl << "\n[Path]\nCache_Path=./Cache\n"
            << extra;
    }

    fs::path m_dir;
    fs::path m_savedCwd;
};

TEST_F(BadReplyTest, ServiceClientEndsEveryBadReplyCleanly) {
    for (const TBadReply& bad : BadReplies()) {
        for (const TOperation& op : Operations()) {
            SCOPED_TRACE(std::string(bad.name) + " against " + op.name);
            fs::remove_all(m_dir / "Cache"); // each case starts with nothing cached
            ScriptedServer server;
            server.Push(bad.reply);
            WriteConfig(server.Url(""));
            LoadConfig();
            TAccount account(nullptr, "T", "", "acc1", atSina, 3600);
            account.APICall = std::make_unique<TAPICall>("T", "");
            account.APICall->SetSNS("sina");
            Cache().SetUserID("00112233445566778899aabbccddeeff");
            Cache().SetAccountType(atSina);
            Cache().SetAccountName("acc1");

            try {
                op.run(account);
                EXPECT_EQ(bad.outcome, TOutcome::Handled) << "a tree came back";
            } catch (const EConnectError& e) {
                EXPECT_NE(e.URL.find(server.Url("/intf/smart")), std::string::npos) << e.URL;
            } catch (const Exception& e) {
                EXPECT_EQ(bad.outcome, TOutcome::Handled) << e.what();
            } catch (const std::exception& e) {
                ADD_FAILURE() << "an exception the client does not own: " << e.what();
            }
            // Nothing unreadable is kept as a cached timeline.
            if (bad.outcome == TOutcome::NoTree) {
                EXPECT_EQ(Cache().LoadPublicTimeline(), nullptr);
            }
            EXPECT_GE(server.RequestCount(), 1);
        }
    }
}

// Runs quillet-cli with args in dir; its exit status (-signal when it was killed, as GNU time
// passes it on), standard error and peak memory in kB.
struct TCliRun {
    int status = -1;
    std::string err;
    long maxRssKb = 0;
};

// GNU time measures the peak: the test's own wait4 would count this process's memory too,
// which a spawned child's figure starts from.
TCliRun RunCli(const fs::path& dir, const std::vector<std::string>& args) {
    const std::string rssPath = (dir / "maxrss.txt").string();
    std::vector<std::string> all = {"/usr/bin/time", "-f", "%M", "-o", rssPath, QUILLET_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string errPath = (dir / "stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    TCliRun run;
    const int rc = posix_spawn(&pid, all[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return run;
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    std::ifstream in(errPath);
    run.err.assign(std::istreambuf_iterator<char>(in), {});
    // The figure is the last line: a failed command's status note comes before it.
    std::ifstream rss(rssPath);
    for (std::string line; std::getline(rss, line);)
        run.maxRssKb = std::atol(line.c_str());
    return run;
}

std::string AccountsReply() {
    return "<reply><accounts type=\"list\"><account type=\"dict\">"
           "<account_name type=\"str\">acc1</account_name>"
           "<account_type type=\"str\">sina</account_type>"
           "<access_token type=\"str\">T</access_token>"
           "<expire_in type=\"int\">3600</expire_in></account></accounts></reply>";
}

std::string ProfileReply() {
    return "<reply><id type=\"str\">acc1</id><screen_name type=\"str\">me</screen_name>"
           "<follow_count type=\"int\">1</follow_count></reply>";
}

TEST_F(BadReplyTest, CliReportsEveryBadReplyAndStaysBounded) {
    // What the client itself says when nothing readable came back.
    const std::string connectMessage(ConnectErrorFormat.substr(0, ConnectErrorFormat.find("%s")));
    std::map<std::string, long> baselineKb; // peak of each command on the first (empty) reply
    for (const TBadReply& bad : BadReplies()) {
        for (const TOperation& op : Operations()) {
            SCOPED_TRACE(std::string(bad.name) + " against quillet-cli " + op.cliCommand);
            fs::remove_all(m_dir / "Cache");
            ScriptedServer server;
            server.Push({200, AccountsReply()}); // the signed-in user's accounts
            server.Push({200, ProfileReply()});  // the account's profile, read with them
            server.Push(bad.reply);              // the command's own request (repeats)
            WriteConfig(
                server.Url(""),
                "[Data]\nUser=00112233445566778899aabbccddeeff\n[CLI]\nAccount=sina:acc1\n");
            std::vector<std::string> args = {op.cliCommand};
            if (std::string(op.cliCommand) == "post")
                args.push_back("hello");

            const TCliRun run = RunCli(m_dir, args);
            EXPECT_TRUE(run.status == 0 || run.status == 1) << "exit " << run.status << "\n"
                                                            << run.err;
            if (bad.outcome == TOutcome::NoTree) {
                EXPECT_EQ(run.status, 1);
                EXPECT_NE(run.err.find(connectMessage.substr(0, 12)), std::string::npos) << run.err;
            } else if (run.status != 0) {
                EXPECT_FALSE(run.err.empty()) << "a failure without a message";
            }
            // Against the same command given an empty reply: a reply larger than the client
            // takes is dropped at the size bound, so the peak stays well below the 100 MB sent
            // plus the copies a parse of it would need (over 300 MB). The margin leaves room
            // for the sanitizers' quarantine of the freed receive buffers.
            long& baseline = baselineKb[op.cliCommand];
            if (baseline == 0)
                baseline = run.maxRssKb;
            EXPECT_LT(run.maxRssKb - baseline, 250 * 1024) << "baseline " << baseline << " kB";
        }
    }
}

} // namespace
} // namespace quillet::test
