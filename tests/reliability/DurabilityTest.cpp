// The relay under load and killed without warning: what it acknowledged survives, once.
#include "tests/relay/RelayTestUtil.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <thread>
#include <unistd.h>

namespace quillet::test {
namespace {

namespace fs = std::filesystem;

// The number of rows per status text among the sandbox's statuses that start with prefix.
std::map<std::string, int> StoredTexts(const std::string& database, const std::string& prefix) {
    std::map<std::string, int> texts;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << database;
        sqlite3_close(db);
        return texts;
    }
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(
        db,
        "SELECT text, COUNT(*) FROM sandbox_statuses WHERE substr(text, 1, ?1) = ?2 GROUP BY text",
        -1, &q, nullptr);
    sqlite3_bind_int(q, 1, static_cast<int>(prefix.size()));
    sqlite3_bind_text(q, 2, prefix.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(q) == SQLITE_ROW)
        texts[reinterpret_cast<const char*>(sqlite3_column_text(q, 0))] = sqlite3_column_int(q, 1);
    sqlite3_finalize(q);
    sqlite3_close(db);
    return texts;
}

struct TLoadResult {
    std::mutex mutex;
    std::map<std::string, std::string> acknowledged; // status text -> id the relay gave it
    std::vector<std::string> problems;               // replies that should not have come
    std::atomic<long> polls{0};
    std::atomic<long> posts{0};
    std::atomic<long> rateLimited{0};
};

// One connection: notify polls with a post every tenth request, until stop.
void LoadConnection(const std::string& smart, int index, const std::atomic<bool>& stop,
                    const std::atomic<bool>& killed, TLoadResult& out) {
    HttpClient client;
    for (long n = 0; !stop.load(); ++n) {
        const bool post = n % 10 == 9;
        const std::string text = "load " + std::to_string(index) + "-" + std::to_string(n);
        const HttpResult r = post ? client.Get(smart + "update_status&status=" + UrlEncode(text))
                                  : client.Get(smart + "notify");
        if (r.status == 0) {
            if (!killed.load()) {
                std::lock_guard lock(out.mutex);
                out.problems.push_back("no reply before the kill");
            }
            continue; // the relay is gone: an unanswered post is not acknowledged
        }
        if (Field(r.body, "_error_code") == "3") {
            ++out.rateLimited;
            continue;
        }
        if (r.status != 200 || IsError(r.body)) {
            std::lock_guard lock(out.mutex);
            out.problems.push_back(std::to_string(r.status) + " " + r.body.substr(0, 200));
            continue;
        }
        if (!post) {
            ++out.polls;
            continue;
        }
        ++out.posts;
        std::lock_guard lock(out.mutex);
        out.acknowledged[text] = Field(r.body, "id");
    }
}

TEST(RelayDurability, AcknowledgedPostsSurviveAKillUnderLoad) {
    auto relay = std::make_unique<RelayProcess>(
        RelayOptions({"--demo", "--rate-limit", "1000000", "--threads", "4"}));
    relay->KeepData();
    const std::string dataDir = relay->DataDir();
    const SignedIn s = SignInAt(*relay, "sina");
    const std::string smart =
        relay->BaseUrl() + "/intf/smart?sns=sina&access_token=" + UrlEncode(s.token) + "&category=";

    TLoadResult result;
    std::atomic<bool> stop{false};
    std::atomic<bool> killed{false};
    std::vector<std::thread> connections;
    for (int i = 0; i < 64; ++i)
        connections.emplace_back(LoadConnection, smart, i, std::cref(stop), std::cref(killed),
                                 std::ref(result));
    std::this_thread::sleep_for(std::chrono::seconds(60));
    // Killed while the load still runs, so posts are in flight when it dies.
    killed = true;
    ASSERT_EQ(::kill(relay->Pid(), SIGKILL), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    for (std::thread& t : connections)
        t.join();
    relay.reset();

    EXPECT_TRUE(result.problems.empty())
        << result.problems.size() << " bad replies, first: " << result.problems.front();
    EXPECT_GT(result.posts.load(), 1000) << "too little load to show anything";
    std::cout << "[ load ] " << result.polls << " polls, " << result.posts
              << " acknowledged posts, " << result.rateLimited << " rate-limited\n";

    RelayProcess restarted(RelayOptions({"--demo"}, dataDir));
    const auto stored = StoredTexts(restarted.DatabasePath(), "load ");
    long missing = 0;
    long twice = 0;
    for (const auto& [text, id] : result.acknowledged) {
        const auto it = stored.find(text);
        missing += it == stored.end();
        twice += it != stored.end() && it->second > 1;
    }
    EXPECT_EQ(missing, 0) << "acknowledged posts lost by the kill";
    EXPECT_EQ(twice, 0) << "posts stored more than once";
    for (const auto& [text, count] : stored)
        EXPECT_EQ(count, 1) << text;

    // The restarted relay serves what it kept: one acknowledged post read back by its id.
    ASSERT_FALSE(result.acknowledged.empty());
    const auto& [text, id] = *result.acknowledged.begin();
    const std::string again =
        HttpGet(restarted.BaseUrl() + "/intf/smart?sns=sina&access_token=" + UrlEncode(s.token) +
                "&category=comment&ID=" + id)
            .body;
    EXPECT_EQ(Field(again, "id"), id) << again;
    fs::remove_all(dataDir);
}

} // namespace
} // namespace quillet::test
