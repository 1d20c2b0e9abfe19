#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quillet {

// Percent-encodes every byte but the RFC 3986 unreserved characters (A-Z a-z 0-9 - . _ ~),
// so a value can neither cut nor inject query parameters.
std::string PercentEncode(std::string_view value);

// Fills the "%s" and "%d" slots of a URL template in order, each argument percent-encoded.
std::string FormatQuery(std::string_view pattern, std::initializer_list<std::string_view> args);

} // namespace quillet
