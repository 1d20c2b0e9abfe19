#include "cli/DumpCommand.h"

#include "cli/TreeFormat.h"
#include "data/XMLObj.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>

namespace quillet {

namespace {

const char* const Usage = "usage: quillet-cli dump [--json] FILE   (- reads standard input)\n";

// At most one byte more than a reply may hold, so that an endless input is refused, not stored.
std::string ReadBounded(std::istream& in) {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() <= kMaxReplySize && in.read(buffer, sizeof buffer).gcount() > 0)
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// An error text on one line, whatever the reply put into it.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

std::optional<std::string> ReadInput(const std::string& file, std::istream& in, std::ostream& err) {
    if (file == "-")
        return ReadBounded(in);
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        err << "quillet-cli dump: cannot open " << OneLine(file) << ": " << std::strerror(errno)
            << "\n";
        return std::nullopt;
    }
    return ReadBounded(stream);
}

} // namespace

int RunDump(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
            std::ostream& err) {
    bool json = false;
    std::optional<std::string> file;
    for (const std::string& arg : args) {
        if (arg == "--json" && !json) {
            json = true;
        } else if (!file && (arg == "-" || arg.empty() || arg[0] != '-')) {
            file = arg;
        } else {
            err << Usage;
            return 2;
        }
    }
    if (!file) {
        err << Usage;
        return 2;
    }
    const std::optional<std::string> bytes = ReadInput(*file, in, err);
    if (!bytes)
        return 1;
    std::unique_ptr<TNodeDict> root;
    try {
        root = ParseReply(*bytes);
    } catch (const Exception& e) {
        err << "quillet-cli dump: " << (*file == "-" ? "standard input" : OneLine(*file))
            << ": no reply tree: " << OneLine(e.what()) << "\n";
        return 1;
    }
    if (json) {
        PrintTreeJson(*root, out);
        out << "\n";
    } else {
        PrintTreeText(*root, out);
    }
    return out ? 0 : 1;
}

} // namespace quillet
