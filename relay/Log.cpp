#include "relay/Log.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace quillet::relay {

namespace {

bool IsPublicParam(std::string_view name) {
    static constexpr std::array<std::string_view, 6> names = {"method", "type",     "account_type",
                                                              "sns",    "category", "limit"};
    for (auto n : names) {
        if (n == name) {
            return true;
        }
    }
    return false;
}

// Names and public values are written with control characters and spaces replaced, so a
// request cannot forge extra log lines.
void AppendClean(std::string& out, std::string_view text, size_t max = 64) {
    for (size_t i = 0; i < text.size() && i < max; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        out += (c <= 0x20 || c == 0x7F) ? '_' : static_cast<char>(c);
    }
}

} // namespace

std::string RequestLog::Redacted(const Params& params) {
    std::string out;
    for (const auto& [name, value] : params) {
        if (!out.empty()) {
            out += '&';
        }
        AppendClean(out, name);
        out += '=';
        if (IsPublicParam(name)) {
            AppendClean(out, value);
        } else {
            out += '*';
        }
    }
    return out;
}

void RequestLog::Request(std::string_view remote, std::string_view method, std::string_view path,
                         const Params& params, unsigned status, double milliseconds) {
    std::string line;
    AppendClean(line, remote);
    line += ' ';
    AppendClean(line, method);
    line += ' ';
    AppendClean(line, path, 256);
    if (!params.empty()) {
        line += '?';
        line += Redacted(params);
    }
    char tail[48];
    std::snprintf(tail, sizeof tail, " %u %.1fms", status, milliseconds);
    line += tail;
    Line(line);
}

void RequestLog::Line(std::string_view text) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
    const std::lock_guard lock(m_mutex);
    std::fprintf(m_out, "%s %.*s\n", stamp, static_cast<int>(text.size()), text.data());
    std::fflush(m_out);
}

} // namespace quillet::relay
