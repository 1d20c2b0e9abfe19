#pragma once

#include "relay/networks/NetworkAdapter.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::relay {

struct QueryLimits {
    size_t maxParams = 64;
    size_t maxName = 64;
    size_t maxValue = 40000; // a 4096-character status in CJK, percent-encoded, fits
};

enum class QueryError { none, malformed, tooMany, tooLong };

// Decodes "%XX" escapes. A "+" stays a plus unless plusIsSpace (HTML form bodies), so a
// status "a+b" sent by the client arrives intact. Nothing for a broken escape.
std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace = false);

// Splits "a=1&b=2" into decoded pairs in arrival order, appending to out. Empty pieces
// ("a=1&&b=2") are skipped; a piece without "=" is a name with an empty value.
QueryError ParseQuery(std::string_view query, Params& out, const QueryLimits& limits = {},
                      bool plusIsSpace = false);

// The first value of name, or nothing.
const std::string* FindParam(const Params& params, std::string_view name);
size_t CountParam(const Params& params, std::string_view name);

} // namespace quillet::relay
