#pragma once

#include "core/Global.h"
#include "data/XMLObj.h"
#include "net/Cache_.h"
#include "platform/RichView.h"
#include "service/User_Intf.h"
#include "tests/relay/RelayTestUtil.h"

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace quillet::test {

// The widgets need one application object for the whole test program.
inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "content-views-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = QApplication::instance() ? nullptr : new QApplication(argc, argv);
    (void)app;
}

// A client in a temporary current directory whose pictures come from res/Res/Images; with a
// relay, signed in there on one network as the current account.
class ContentViewsTest : public ::testing::Test {
protected:
    // Before any widget a test class holds as a member.
    ContentViewsTest() { EnsureApplication(); }

    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("quillet-views-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_savedCwd = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);
        WriteConfig("http://127.0.0.1:9", ImagesDir());
    }

    void TearDown() override {
        CurrentAccount = nullptr;
        CurrentUser = nullptr;
        m_user.reset();
        SaveConfig();
        std::filesystem::current_path(m_savedCwd);
        std::filesystem::remove_all(m_dir);
    }

    static std::string ImagesDir() { return std::string(QUILLET_SOURCE_DIR) + "/res/Res/Images"; }

    void WriteConfig(const std::string& host, const std::string& images) {
        if (IniFile)
            SaveConfig();
        std::ofstream("Main.INI") << "[URL]\nHost_URL=" << host << "\n[Path]\nCache_Path=./Cache\n"
                                  << "Image_Path=" << images << "\nEmotion_Sina_Path=" << images
                                  << "/Emotions/Sina\n";
        LoadConfig();
        BuildUserURLs();
    }

    // Starts a demo relay and signs in on Network as Name; that account becomes current.
    TAccount& SignInTo(const std::string& network, const std::string& name = "demo") {
        if (!m_relay) {
            m_relay = std::make_unique<RelayProcess>(RelayOptions({"--demo"}));
            WriteConfig(m_relay->BaseUrl(), ImagesDir());
        }
        if (!m_user)
            m_user = CreateNewUser();
        EXPECT_TRUE(m_user->AddAccountFromReply(SignInAt(*m_relay, network, name).reply));
        const TAccount_Type type = *AccountTypeOf(network);
        TAccount* account = m_user->GetAccount(type, m_user->AccountCount(type) - 1);
        CurrentUser = m_user.get();
        CurrentAccount = account;
        Cache().SetUserID(m_user->ID);
        Cache().SetAccountType(account->AccountType);
        Cache().SetAccountName(account->AccountName);
        return *account;
    }

    // A function of the current account, called through the relay.
    std::unique_ptr<TNodeDict>
    Call(const std::string& category,
         const std::vector<std::pair<std::string, std::string>>& params = {}) {
        TAPICall& call = *CurrentAccount->APICall;
        call.SetCategory(category);
        for (const auto& [name, value] : params)
            call.AddParam(name, value);
        return call.Execute();
    }

    std::unique_ptr<RelayProcess> m_relay;
    std::unique_ptr<TUser> m_user;
    std::filesystem::path m_dir;
    std::filesystem::path m_savedCwd;
};

// A reply text parsed into a tree; the test's own small reply, for cases no relay produces.
inline std::unique_ptr<TNodeDict> Reply(const std::string& xml) {
    return ParseReply(xml);
}

// The elements 1 to Count of a reply's list.
inline std::vector<const TNode*> Items(const TNode* list) {
    std::vector<const TNode*> items;
    for (int i = 1; list && i <= list->Count(); ++i)
        items.push_back(list->GetByIndex(i));
    return items;
}

// One paragraph of a cell as text: its style number, then each item as
// kind:text-or-name/style[tag]; pictures are "pic:" or "hot:" with their name.
inline std::vector<std::string> Describe(const TRVDocument& cell) {
    std::vector<std::string> paragraphs;
    for (int p = 0; p < cell.ParagraphCount(); ++p) {
        std::string line = std::to_string(cell.Paragraph(p).StyleNo) + ":";
        for (int i : cell.ParagraphItems(p)) {
            const TRVItem& item = cell.Item(i);
            line += " ";
            if (item.Kind == rvikText)
                line += item.Text.toStdString() + "/" + std::to_string(item.StyleNo);
            else
                line += (item.Kind == rvikHotPicture ? "hot:" : "pic:") + item.Name.toStdString();
            if (const auto* text = std::get_if<std::string>(&item.Tag))
                line += "[" + *text + "]";
            if (const auto* number = std::get_if<int>(&item.Tag))
                line += "[#" + std::to_string(*number) + "]";
        }
        paragraphs.push_back(line);
    }
    return paragraphs;
}

} // namespace quillet::test
