#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::relay {

// One typed segment of a status text, as the client draws it.
struct TextBlock {
    std::string type; // "normal", "url", "mention", "trend", "emotion"
    std::string text;
    std::string extra;

    bool operator==(const TextBlock&) const = default;
};

// Gives the "extra" of a mention of this screen name, or nothing when no such user exists
// (the mention then stays plain text).
using MentionResolver = std::function<std::optional<std::string>(std::string_view screenName)>;

// Cuts a UTF-8 status text into blocks: http(s) links, @name mentions, #topic# trends and, when
// emotions is set, [name] emotions; everything else is merged into "normal" blocks.
std::vector<TextBlock> CutBlocks(std::string_view text, bool emotions,
                                 const MentionResolver& resolve);

// The screen names a text mentions, each once, in order of first appearance; emotions as above.
std::vector<std::string> MentionedNames(std::string_view text, bool emotions);

// Whether the name can be a screen name: 1 to 30 letters, digits, "_" or "-", so that an
// "@name" in a status always finds it.
bool ValidScreenName(std::string_view name);

// Whether the text is well-formed UTF-8 holding only characters an XML reply can carry.
bool StorableText(std::string_view text);

// Length in UTF-16 code units (characters outside the BMP count two); the text must be valid UTF-8.
size_t Utf16Length(std::string_view text);

} // namespace quillet::relay
