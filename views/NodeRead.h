#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillet {

class TNode;

// Lenient reading of the nodes the views draw: a reply that lacks an entry, or holds a scalar
// where a dictionary was expected, reads as empty rather than failing the whole row.

// The entry Key of Node when Node is a dictionary holding it; null otherwise.
const TNode* NodeEntry(const TNode* node, std::string_view key);
// Follows a path of keys separated by "/" ("image/small_url").
const TNode* NodePath(const TNode* node, std::string_view path);
// The entry's text; "" when absent.
std::string EntryText(const TNode* node, std::string_view path);
// The entry as an integer; 0 when absent, EConvertError for text that is no integer.
std::int64_t EntryInteger(const TNode* node, std::string_view path);
// The entry as a 32-bit count; EConvertError also for a value outside its range.
std::int32_t EntryCount(const TNode* node, std::string_view path);
// The entry as a boolean ("True"/"False" in any case, or an integer); false when absent,
// EConvertError for other text.
bool EntryBool(const TNode* node, std::string_view path);

} // namespace quillet
