// quillet-cli: the command-line client on the same core as the desktop client.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/ConfigCommand.h"
#include "cli/DumpCommand.h"
#include "core/Global.h"

namespace {

void PrintUsage(std::ostream& out) {
    out << "usage: quillet-cli COMMAND [ARGS]\n"
           "  config               print every configuration value as Key=Value\n"
           "  dump [--json] FILE   read FILE (- for standard input) as a relay reply and\n"
           "                       print the tree the client reads from it\n";
}

int Dispatch(const std::vector<std::string>& args) {
    const std::string& command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "config")
        return quillet::RunConfig(std::cout);
    if (command == "dump")
        return quillet::RunDump(rest, std::cin, std::cout, std::cerr);
    std::cerr << "quillet-cli: unknown command '" << command << "'\n";
    PrintUsage(std::cerr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args.front() == "--help" || args.front() == "-h") {
        PrintUsage(args.empty() ? std::cerr : std::cout);
        return args.empty() ? 2 : 0;
    }
    try {
        quillet::LoadConfig();
        const int rc = Dispatch(args);
        quillet::SaveConfig();
        return rc;
    } catch (const std::exception& e) {
        std::cerr << "quillet-cli: " << e.what() << "\n";
        return 1;
    }
}
