#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

#include "tests/relay/RelayTestUtil.h"

namespace quillet::test {
namespace {

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

// quillet-cli against a demo relay, in a folder of its own with a Main.INI pointing at it.
class CliClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_relay = std::make_unique<RelayProcess>(RelayOptions({"--demo"}));
        std::ofstream(Path("Main.INI")) << "[URL]\nHost_URL=" << m_relay->BaseUrl()
                                        << "\n[Path]\nCache_Path=./Cache\n";
    }

    std::string Path(const std::string& name) const {
        return m_dir.path().toStdString() + "/" + name;
    }

    CliRun Run(const QStringList& args, const std::string& input = "") const {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.start(QUILLET_CLI, args);
        process.write(input.data(), static_cast<qint64>(input.size()));
        process.closeWriteChannel();
        process.waitForFinished(60000);
        return {process.exitCode(), process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
    }

    // Signs in as the browser would and hands the landing page's text to the client.
    CliRun SignIn(const std::string& network, const std::string& user = "demo") const {
        const SignedIn browser = SignInAt(*m_relay, network, user);
        return Run({"signin", QString::fromStdString(network)}, browser.reply);
    }

    int Logged(const std::string& needle) const {
        const std::string log = m_relay->ReadLog();
        int n = 0;
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
            ++n;
        return n;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<RelayProcess> m_relay;
};

TEST_F(CliClientTest, SignInReadTimelinePostAndPoll) {
    const CliRun signin = SignIn("sina");
    ASSERT_EQ(signin.code, 0) << signin.err;
    EXPECT_NE(signin.out.find(m_relay->BaseUrl() + "/intf/sina/oauth"), std::string::npos);
    EXPECT_NE(signin.out.find("登录成功！"), std::string::npos) << signin.out;

    const CliRun accounts = Run({"accounts"});
    ASSERT_EQ(accounts.code, 0) << accounts.err;
    EXPECT_NE(accounts.out.find("* sina:"), std::string::npos) << accounts.out;
    EXPECT_NE(accounts.out.find("demo"), std::string::npos);

    const CliRun timeline = Run({"timeline"});
    ASSERT_EQ(timeline.code, 0) << timeline.err;
    EXPECT_NE(timeline.out.find("月"), std::string::npos) << "no display time";
    EXPECT_NE(timeline.out.find("comments "), std::string::npos);
    EXPECT_EQ(Run({"timeline"}).out, timeline.out);
    EXPECT_EQ(Logged("category=public_timeline"), 1); // the second came from the cache

    const CliRun posted = Run({"post", "hello & welcome=1 #quillet#"});
    ASSERT_EQ(posted.code, 0) << posted.err;
    EXPECT_NE(posted.out.find("发表成功！"), std::string::npos);
    EXPECT_NE(posted.out.find("hello & welcome=1 #quillet#"), std::string::npos) << posted.out;
    const CliRun again = Run({"post", "hello & welcome=1 #quillet#"});
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("请不要重复发表微博！"), std::string::npos) << again.err;

    const CliRun notify = Run({"notify"});
    ASSERT_EQ(notify.code, 0) << notify.err;
    EXPECT_NE(notify.out.find("[mention_status]"), std::string::npos) << notify.out;
    EXPECT_NE(Run({"notify"}).out.find("0 notifications"), std::string::npos);

    const CliRun profile = Run({"profile"});
    ASSERT_EQ(profile.code, 0) << profile.err;
    EXPECT_NE(profile.out.find("demo  (id "), std::string::npos) << profile.out;
}

TEST_F(CliClientTest, CommentsFriendsAndJson) {
    ASSERT_EQ(SignIn("facebook").code, 0);
    const CliRun json = Run({"timeline", "--json"});
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(json.out.rfind("{\"kind\":\"dict\"", 0), 0u) << json.out.substr(0, 80);
    const std::string marker = "{\"key\":\"id\",\"node\":{\"kind\":\"str\",\"name\":\"id\",\"value\":\"";
    const size_t at = json.out.find(marker);
    ASSERT_NE(at, std::string::npos);
    const size_t start = at + marker.size();
    const std::string statusID = json.out.substr(start, json.out.find('"', start) - start);

    const CliRun comments = Run({"comments", QString::fromStdString(statusID)});
    ASSERT_EQ(comments.code, 0) << comments.err;
    EXPECT_NE(comments.out.find(" comments\n"), std::string::npos) << comments.out;

    const CliRun profile = Run({"profile", "--json"});
    const std::string idMarker = "\"name\":\"id\",\"value\":\"";
    const size_t idAt = profile.out.find(idMarker) + idMarker.size();
    const QString me = QString::fromStdString(
        profile.out.substr(idAt, profile.out.find('"', idAt) - idAt));
    const CliRun friends = Run({"friends", me});
    ASSERT_EQ(friends.code, 0) << friends.err;
    EXPECT_NE(friends.out.find("followers "), std::string::npos) << friends.out;
    EXPECT_EQ(Run({"followers", me}).code, 0);
}

TEST_F(CliClientTest, AccountsOfSeveralNetworksAndSignOut) {
    ASSERT_EQ(SignIn("sina").code, 0);
    const CliRun added = SignIn("facebook", "alice");
    ASSERT_EQ(added.code, 0) << added.err << added.out;
    EXPECT_NE(added.out.find("账户添加成功！"), std::string::npos) << added.out;
    const CliRun owned = SignIn("sina");
    EXPECT_EQ(owned.code, 1);
    EXPECT_NE(owned.out.find("此账号已被其他用户关联"), std::string::npos);

    const std::string list = Run({"accounts"}).out;
    const size_t at = list.find("facebook:");
    ASSERT_NE(at, std::string::npos) << list;
    const QString key = QString::fromStdString(list.substr(at, list.find(' ', at) - at));
    ASSERT_EQ(Run({"use", key}).code, 0);
    EXPECT_NE(Run({"accounts"}).out.find("* " + key.toStdString()), std::string::npos);
    EXPECT_NE(Run({"profile"}).out.find("alice"), std::string::npos);
    EXPECT_EQ(Run({"use", "facebook:nobody"}).code, 1);

    ASSERT_EQ(Run({"signout"}).code, 0);
    const CliRun out = Run({"timeline"});
    EXPECT_EQ(out.code, 1);
    EXPECT_NE(out.err.find("not signed in"), std::string::npos);
}

TEST_F(CliClientTest, ErrorsPrintTheClientsMessages) {
    ASSERT_EQ(SignIn("sina").code, 0);
    const CliRun tooLong = Run({"post", QString(141, QChar(0x4E2D))});
    EXPECT_EQ(tooLong.code, 1);
    EXPECT_NE(tooLong.err.find("字数超出限制！"), std::string::npos) << tooLong.err;
    EXPECT_EQ(Run({"post", QString(140, QChar(0x4E2D))}).code, 0);
    EXPECT_NE(Run({"post", ""}).err.find("输入内容不能为空！"), std::string::npos);

    const std::string base = m_relay->BaseUrl();
    m_relay->Stop();
    const CliRun offline = Run({"notify"});
    EXPECT_EQ(offline.code, 1);
    EXPECT_NE(offline.err.find("网络连接失败，无法连接到网址："), std::string::npos) << offline.err;
    EXPECT_NE(offline.err.find(base + "/user/query"), std::string::npos);
}

TEST_F(CliClientTest, TwitterSignInTakesThePin) {
    const std::string base = m_relay->BaseUrl();
    const HttpResult to = HttpGet(base + "/intf/twitter/oauth");
    const HttpResult form = HttpGet(base + to.Header("location"));
    const HttpResult page = HttpPost(base + "/oauth/authorize",
                                     "state=" + FormState(form.body) +
                                         "&screen_name=demo&password=demo");
    const size_t at = page.body.find("<code>");
    ASSERT_NE(at, std::string::npos) << page.body;
    const std::string pin = page.body.substr(at + 6, 7);
    const CliRun run = Run({"signin", "twitter"}, pin + "\n");
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("登录成功！"), std::string::npos);
    EXPECT_NE(Run({"accounts"}).out.find("* twitter:"), std::string::npos);
    EXPECT_EQ(Run({"signin", "twitter"}, pin + "\n").code, 1); // a PIN works once
}

} // namespace
} // namespace quillet::test
