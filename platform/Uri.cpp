#include "platform/Uri.h"

namespace quillet {

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

} // namespace

std::string PercentEncode(std::string_view value) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        if (IsUnreserved(c)) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        out += Hex[c >> 4];
        out += Hex[c & 15];
    }
    return out;
}

std::string FormatQuery(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    auto arg = args.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        const bool slot = pattern[i] == '%' && i + 1 < pattern.size() &&
                          (pattern[i + 1] == 's' || pattern[i + 1] == 'd');
        if (!slot) {
            out += pattern[i];
            continue;
        }
        if (arg != args.end())
            out += PercentEncode(*arg++);
        ++i;
    }
    return out;
}

} // namespace quillet
