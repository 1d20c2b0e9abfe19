#pragma once

#include "relay/networks/NetworkAdapter.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace quillet::relay {

// One line per request on stderr. Query values are shown only for parameters that never carry
// a secret; every other value is replaced by "*".
class RequestLog {
public:
    explicit RequestLog(std::FILE* out = stderr) : m_out(out) {}

    void Request(std::string_view remote, std::string_view method, std::string_view path,
                 const Params& params, unsigned status, double milliseconds);
    void Line(std::string_view text);

    static std::string Redacted(const Params& params);

private:
    void Write(std::string_view line);

    std::FILE* m_out;
};

} // namespace quillet::relay
