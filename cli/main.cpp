// quillet-cli: the command-line client on the same core as the desktop client.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/ClientCommands.h"
#include "cli/ConfigCommand.h"
#include "cli/DumpCommand.h"
#include "cli/Session.h"
#include "core/Global.h"
#include "service/User_Intf.h"

namespace {

using namespace quillet;

void PrintUsage(std::ostream& out) {
    out << "usage: quillet-cli COMMAND [ARGS]\n"
           "  config                    print every configuration value as Key=Value\n"
           "  dump [--json] FILE        read FILE (- for standard input) as a relay reply and\n"
           "                            print the tree the client reads from it\n"
           "  signin NET                link an account of sina, twitter or facebook\n"
           "  accounts                  list the linked accounts (* marks the current one)\n"
           "  use TYPE:NAME             make an account current\n"
           "  timeline [--user ID]      the home timeline, or one user's statuses\n"
           "  post TEXT                 post a status\n"
           "  comments STATUS_ID        a status with its comments\n"
           "  profile [ID]              a user's profile (default: the current account)\n"
           "  friends ID | followers ID the people a user follows / who follow the user\n"
           "  notify                    the notifications not yet seen\n"
           "  signout                   forget the signed-in user\n"
           "Network commands take --json to print the reply tree as 'dump --json' does.\n";
}

int Dispatch(const std::vector<std::string>& args) {
    const std::string& command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "config")
        return RunConfig(std::cout);
    if (command == "dump")
        return RunDump(rest, std::cin, std::cout, std::cerr);
    if (command == "signin")
        return RunSignIn(rest, std::cin, std::cout);
    if (command == "accounts")
        return RunAccounts(rest, std::cout);
    if (command == "use")
        return RunUse(rest, std::cout);
    if (command == "timeline")
        return RunTimeline(rest, std::cout);
    if (command == "post")
        return RunPost(rest, std::cout);
    if (command == "comments")
        return RunComments(rest, std::cout);
    if (command == "profile")
        return RunProfile(rest, std::cout);
    if (command == "friends" || command == "followers")
        return RunUserList(command, rest, std::cout);
    if (command == "notify")
        return RunNotify(rest, std::cout);
    if (command == "signout")
        return RunSignOut(rest, std::cout);
    std::cerr << "quillet-cli: unknown command '" << command << "'\n";
    PrintUsage(std::cerr);
    return 2;
}

// The client's own message for a connection failure, with the terminal's line ends.
std::string ConnectMessage(const std::string& url) {
    std::string text(ConnectErrorFormat);
    text.replace(text.find("%s"), 2, url);
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

int Run(const std::vector<std::string>& args) {
    try {
        return Dispatch(args);
    } catch (const EConnectError& e) {
        std::cerr << ConnectMessage(e.URL) << "\n";
    } catch (const EAccountExpiredError&) {
        std::cerr << AccountExpiredMessage << "\n";
    } catch (const ERateLimitError&) {
        std::cerr << RateLimitMessage << "\n";
    } catch (const std::exception& e) {
        std::cerr << "quillet-cli: " << e.what() << "\n";
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args.front() == "--help" || args.front() == "-h") {
        PrintUsage(args.empty() ? std::cerr : std::cout);
        return args.empty() ? 2 : 0;
    }
    try {
        LoadConfig();
        BuildUserURLs();
        const int rc = Run(args);
        SaveConfig();
        return rc;
    } catch (const std::exception& e) {
        std::cerr << "quillet-cli: " << e.what() << "\n";
        return 1;
    }
}
