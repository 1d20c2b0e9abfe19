// A client waiting on a relay that dies gets EConnectError, and its next call works with the
// relay restarted on the same store and port.
#include "core/Global.h"
#include "data/XMLObj.h"
#include "service/Data_Intf.h"
#include "tests/relay/RelayTestUtil.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace quillet::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The local ports of the established TCP connections to 127.0.0.1:port, as the kernel lists
// the client's side of them.
std::set<std::string> ConnectionsTo(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::set<std::string> connections;
    std::string line;
    std::getline(table, line); // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (remote == wanted && state == "01")
            connections.insert(local);
    }
    return connections;
}

// Whether a connection to the port is open that was not among Before: the request's own.
bool NewConnectionTo(uint16_t port, const std::set<std::string>& before) {
    for (const std::string& connection : ConnectionsTo(port)) {
        if (!before.count(connection))
            return true;
    }
    return false;
}

// A temporary current directory with a client configured for the relay at baseUrl.
class RelayRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_relay = std::make_unique<RelayProcess>(RelayOptions({"--demo"}));
        m_relay->KeepData();
        m_dir = fs::temp_directory_path() / ("quillet-restart-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_savedCwd = fs::current_path();
        fs::current_path(m_dir);
        std::ofstream("Main.INI") << "[URL]\nHost_URL=" << m_relay->BaseUrl() << "\n";
        LoadConfig();
    }

    void TearDown() override {
        fs::current_path(m_savedCwd);
        fs::remove_all(m_dir);
        const std::string data = m_relay->DataDir();
        m_relay.reset();
        m_restarted.reset();
        fs::remove_all(data);
    }

    std::unique_ptr<RelayProcess> m_relay;
    std::unique_ptr<RelayProcess> m_restarted;
    fs::path m_dir;
    fs::path m_savedCwd;
};

TEST_F(RelayRestartTest, AClientWaitingOnADyingRelayGetsEConnectErrorThenWorks) {
    const SignedIn s = SignInAt(*m_relay, "sina");
    TAPICall call(s.token, "");
    call.SetSNS("sina");
    const std::string port = std::to_string(m_relay->Port());

    // The relay is frozen, so the request waits on its own connection (a connection left from
    // signing in does not count); then the relay dies, and comes back on its port once the
    // client has had its answer, so the request cannot reach the new one under a heavy load.
    ASSERT_EQ(::kill(m_relay->Pid(), SIGSTOP), 0);
    const std::set<std::string> before = ConnectionsTo(m_relay->Port());
    bool reached = false;
    std::thread killer([&] {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!(reached = NewConnectionTo(m_relay->Port(), before)) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(m_relay->Pid(), SIGKILL);
    });
    const auto started = Clock::now();
    call.SetCategory("notify");
    EXPECT_THROW(call.Execute(), EConnectError);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10)) << "the wait did not end with it";
    killer.join();
    EXPECT_TRUE(reached) << "the request never reached the stopped relay";
    m_relay->Stop(); // reaps it
    m_restarted = std::make_unique<RelayProcess>(
        RelayOptions({"--demo", "--listen", "127.0.0.1:" + port}, m_relay->DataDir()));
    ASSERT_EQ(m_restarted->Port(), m_relay->Port());

    call.SetCategory("notify");
    const std::unique_ptr<TNodeDict> reply = call.Execute();
    ASSERT_NE(reply, nullptr);
    EXPECT_FALSE(reply->ContainsKey("_error"));
    EXPECT_NE(reply->GetByKey("counts"), nullptr);
}

} // namespace
} // namespace quillet::test
