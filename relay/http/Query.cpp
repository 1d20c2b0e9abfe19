#include "relay/http/Query.h"

#include <algorithm>

namespace quillet::relay {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace) {
    const std::string_view special = plusIsSpace ? "%+" : "%";
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (true) {
        // Runs without escapes are copied whole rather than a character at a time.
        const size_t next = std::min(text.find_first_of(special, i), text.size());
        out.append(text.data() + i, next - i);
        if (next == text.size()) {
            return out;
        }
        if (text[next] == '+') {
            out += ' ';
            i = next + 1;
            continue;
        }
        if (next + 2 >= text.size()) {
            return std::nullopt;
        }
        const int hi = HexValue(text[next + 1]);
        const int lo = HexValue(text[next + 2]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(hi * 16 + lo);
        i = next + 3;
    }
}

QueryError ParseQuery(std::string_view query, Params& out, const QueryLimits& limits,
                      bool plusIsSpace) {
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (piece.empty()) {
            continue;
        }
        if (out.size() >= limits.maxParams) {
            return QueryError::tooMany;
        }
        const size_t eq = piece.find('=');
        const std::string_view rawName = piece.substr(0, eq);
        const std::string_view rawValue =
            eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
        auto name = PercentDecode(rawName, plusIsSpace);
        auto value = PercentDecode(rawValue, plusIsSpace);
        if (!name || !value) {
            return QueryError::malformed;
        }
        if (name->size() > limits.maxName || value->size() > limits.maxValue) {
            return QueryError::tooLong;
        }
        out.emplace_back(std::move(*name), std::move(*value));
    }
    return QueryError::none;
}

const std::string* FindParam(const Params& params, std::string_view name) {
    for (const auto& [n, v] : params) {
        if (n == name) {
            return &v;
        }
    }
    return nullptr;
}

size_t CountParam(const Params& params, std::string_view name) {
    size_t n = 0;
    for (const auto& p : params) {
        n += p.first == name ? 1 : 0;
    }
    return n;
}

} // namespace quillet::relay
