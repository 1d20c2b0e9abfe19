#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/Global.h"
#include "net/Cache_.h"
#include "service/User_Intf.h"
#include "tests/relay/RelayTestUtil.h"

namespace quillet::test {

// A demo relay, and a client configured for it in a temporary current directory.
class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_relay = std::make_unique<RelayProcess>(RelayOptions({"--demo"}));
        m_dir = std::filesystem::temp_directory_path() /
                ("quillet-service-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_savedCwd = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);
        std::ofstream("Main.INI") << "[URL]\nHost_URL=" << m_relay->BaseUrl()
                                  << "\n[Path]\nCache_Path=./Cache\n";
        LoadConfig();
        BuildUserURLs();
    }

    void TearDown() override {
        SaveConfig();
        std::filesystem::current_path(m_savedCwd);
        std::filesystem::remove_all(m_dir);
    }

    // Requests of a function the relay has logged so far.
    int Logged(const std::string& category) const {
        const std::string log = m_relay->ReadLog();
        const std::string needle = "category=" + category;
        int n = 0;
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
            ++n;
        return n;
    }

    void PointCacheAt(const TUser& user, const TAccount& account) {
        Cache().SetUserID(user.ID);
        Cache().SetAccountType(account.AccountType);
        Cache().SetAccountName(account.AccountName);
    }

    std::unique_ptr<RelayProcess> m_relay;
    std::filesystem::path m_dir;
    std::filesystem::path m_savedCwd;
};

} // namespace quillet::test
