#include "relay/Log.h"

#include <algorithm>
#include <array>
#include <charconv>
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
    const size_t n = std::min(text.size(), max);
    const size_t at = out.size();
    out.resize(at + n);
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        out[at + i] = (c <= 0x20 || c == 0x7F) ? '_' : static_cast<char>(c);
    }
}

// The stamp changes once a second; formatting it for every line cost about as much as the
// rest of the line.
std::string_view Stamp() {
    thread_local std::time_t last = -1;
    thread_local char text[32];
    const std::time_t now = std::time(nullptr);
    if (now != last) {
        std::tm tm{};
        gmtime_r(&now, &tm);
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
        last = now;
    }
    return text;
}

void AppendNumber(std::string& out, auto value, auto... format) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, format...).ptr;
    out.append(text, end);
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
    std::string line(Stamp());
    line += ' ';
    AppendClean(line, remote);
    line += ' ';
    AppendClean(line, method);
    line += ' ';
    AppendClean(line, path, 256);
    if (!params.empty()) {
        line += '?';
        line += Redacted(params);
    }
    line += ' ';
    AppendNumber(line, status);
    line += ' ';
    AppendNumber(line, milliseconds, std::chars_format::fixed, 1);
    line += "ms\n";
    Write(line);
}

void RequestLog::Line(std::string_view text) {
    std::string line(Stamp());
    line += ' ';
    line += text;
    line += '\n';
    Write(line);
}

// One call per whole line: the stream's own lock keeps lines from different threads apart, and
// the line is out before the request is answered.
void RequestLog::Write(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), m_out);
    std::fflush(m_out);
}

} // namespace quillet::relay
