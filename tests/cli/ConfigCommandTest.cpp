#include "platform/IniFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

using namespace quillet;

namespace {

struct TRun {
    int exitCode;
    std::string output;
};

// Runs quillet-cli with the given arguments in folder; standard error joins standard output.
TRun RunCli(const QString& folder, const std::string& args) {
    const std::string command =
        "cd '" + folder.toStdString() + "' && '" QUILLET_CLI "' " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(CliConfigTest, PrintsEveryValueInOrderAndWritesTheFileBack) {
    QTemporaryDir dir;
    std::ofstream(dir.filePath("Main.INI").toStdString(), std::ios::binary)
        << "[URL]\r\nHost_URL=http://127.0.0.1:8080\r\nIntf_Smart_URL=http://smart/\r\n"
           "[Path]\r\nCache_Path=D:\\Cache\r\n[Data]\r\nUser=abc\r\n";

    const TRun run = RunCli(dir.path(), "config");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string h = "http://127.0.0.1:8080";
    EXPECT_EQ(Lines(run.output),
              (std::vector<std::string>{
                  "Host_URL=" + h,
                  "User_Query_URL=" + h + "/user/query",
                  "User_Login_URL=" + h + "/user/login",
                  "User_Operate_URL=" + h + "/user/operate",
                  "Account_Query_URL=" + h + "/account/query",
                  "Account_Modify_URL=" + h + "/user/modifyaccount",
                  "Intf_Sina_URL=" + h + "/intf/sina",
                  "Intf_Twitter_URL=" + h + "/intf/twitter",
                  "Intf_Facebook_URL=" + h + "/intf/facebook",
                  "Intf_Call_URL=" + h + "/intf/call",
                  "Intf_Sep_URL=" + h + "/intf/sep",
                  "Intf_Smart_URL=http://smart/",
                  "Twitter_Authorize_URL=https://api.twitter.com/oauth/authorize",
                  "Emotion_Sina_Path=../Res/Images/Emotions/Sina",
                  "Image_Path=../Res/Images",
                  "Cache_Path=D:/Cache",
              }));

    const TIniFile written(dir.filePath("Main.INI").toStdString());
    EXPECT_EQ(written.ReadSection("URL").size(), 12u);
    EXPECT_EQ(written.ReadString("Data", "User", ""), "abc");
}

TEST(CliConfigTest, RefusedSaveFailsTheCommand) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("Main.INI"));
    const TRun run = RunCli(dir.path(), "config");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("quillet-cli: Unable to write to ./Main.INI"), std::string::npos)
        << run.output;
}

} // namespace
