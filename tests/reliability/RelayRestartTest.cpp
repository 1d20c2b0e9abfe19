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
#include <sstream>
#include <thread>
#include <unistd.h>

namespace quillet::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Whether a TCP connection to 127.0.0.1:port is established (the client's side, as the kernel
// lists it), so the test kills the relay only once the request is really waiting on it.
bool ConnectionOpenTo(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::string line;
    std::getline(table, line); // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (remote == wanted && state == "01")
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

    // The relay is frozen, so the request waits; then it dies and comes back on its port.
    ASSERT_EQ(::kill(m_relay->Pid(), SIGSTOP), 0);
    bool reached = false;
    std::thread restart([&] {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!(reached = ConnectionOpenTo(m_relay->Port())) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(m_relay->Pid(), SIGKILL);
        m_relay->Stop(); // reaps it
        m_restarted = std::make_unique<RelayProcess>(
            RelayOptions({"--demo", "--listen", "127.0.0.1:" + port}, m_relay->DataDir()));
    });
    const auto started = Clock::now();
    call.SetCategory("notify");
    EXPECT_THROW(call.Execute(), EConnectError);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10)) << "the wait did not end with it";
    restart.join();
    EXPECT_TRUE(reached) << "the request never reached the stopped relay";
    ASSERT_EQ(m_restarted->Port(), m_relay->Port());

    call.SetCategory("notify");
    const std::unique_ptr<TNodeDict> reply = call.Execute();
    ASSERT_NE(reply, nullptr);
    EXPECT_FALSE(reply->ContainsKey("_error"));
    EXPECT_NE(reply->GetByKey("counts"), nullptr);
}

} // namespace
} // namespace quillet::test
