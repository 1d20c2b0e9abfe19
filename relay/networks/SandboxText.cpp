#include "relay/networks/SandboxText.h"

#include <algorithm>

namespace quillet::relay {

namespace {

constexpr size_t kMaxMentionLength = 30; // code points
constexpr size_t kMaxTrendLength = 64;
constexpr size_t kMaxEmotionLength = 10;

// Decodes the code point at i and moves i past it; false (i unchanged) for malformed UTF-8,
// overlong forms and surrogates.
bool Decode(std::string_view s, size_t& i, char32_t& cp) {
    const auto lead = static_cast<unsigned char>(s[i]);
    size_t extra = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        cp = lead & 0x1F, extra = 1, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        cp = lead & 0x0F, extra = 2, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        cp = lead & 0x07, extra = 3, min = 0x10000;
    } else {
        return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
        if (i + k >= s.size()) {
            return false;
        }
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            return false;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
    }
    i += extra + 1;
    return true;
}

// The code point at i and the byte just past it; a malformed byte counts as one unit.
char32_t PeekAt(std::string_view s, size_t i, size_t& next) {
    char32_t cp = 0;
    next = i;
    if (!Decode(s, next, cp)) {
        next = i + 1;
        return 0xFFFD;
    }
    return cp;
}

bool IsAsciiAlnum(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsSpace(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0x3000 || c == 0xA0;
}

// Punctuation and symbol ranges that end a name written in CJK text.
bool IsWidePunctuation(char32_t c) {
    return (c >= 0xA0 && c <= 0xBF) || (c >= 0x2000 && c <= 0x206F) ||
           (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) ||
           (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65) || c == 0xFFFD;
}

bool IsNameChar(char32_t c) {
    if (c < 0x80) {
        return IsAsciiAlnum(c) || c == '_' || c == '-';
    }
    return !IsWidePunctuation(c);
}

bool IsUrlChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '<' && c != '>' && c != '"';
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    return std::equal(prefix.begin(), prefix.end(), s.begin(), [](char a, char b) {
        return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
    });
}

// Length in bytes of a link starting at the text's start, or 0.
size_t MatchUrl(std::string_view s) {
    size_t scheme = 0;
    if (StartsWithNoCase(s, "http://")) {
        scheme = 7;
    } else if (StartsWithNoCase(s, "https://")) {
        scheme = 8;
    } else {
        return 0;
    }
    size_t end = scheme;
    while (end < s.size() && IsUrlChar(s[end])) {
        ++end;
    }
    // Sentence punctuation right after a link belongs to the sentence.
    while (end > scheme &&
           std::string_view(".,;:!?)'").find(s[end - 1]) != std::string_view::npos) {
        --end;
    }
    return end > scheme ? end : 0;
}

// Byte length of a name starting at i (after an "@"), at most kMaxMentionLength code points.
size_t MatchName(std::string_view s, size_t i) {
    size_t end = i;
    for (size_t count = 0; end < s.size() && count < kMaxMentionLength; ++count) {
        size_t next = 0;
        if (!IsNameChar(PeekAt(s, end, next))) {
            break;
        }
        end = next;
    }
    return end - i;
}

// Byte length of the text between an opening delimiter at i - 1 and the closing one, or npos.
size_t MatchEnclosed(std::string_view s, size_t i, char32_t open, char32_t close, size_t maxLength,
                     bool allowSpaces) {
    size_t end = i;
    for (size_t count = 0; end < s.size() && count <= maxLength; ++count) {
        size_t next = 0;
        const char32_t c = PeekAt(s, end, next);
        if (c == close) {
            return end > i ? end - i : std::string_view::npos;
        }
        if (c == open || c == '\n' || c == '\r' || (!allowSpaces && IsSpace(c))) {
            return std::string_view::npos;
        }
        end = next;
    }
    return std::string_view::npos;
}

bool PrecededByAlnum(std::string_view s, size_t i) {
    return i > 0 && IsAsciiAlnum(static_cast<unsigned char>(s[i - 1]));
}

class Cutter {
public:
    Cutter(std::string_view text, bool emotions, const MentionResolver& resolve)
        : m_s(text), m_emotions(emotions), m_resolve(resolve) {}

    std::vector<TextBlock> Run() {
        while (m_i < m_s.size()) {
            if (!TryUrl() && !TryMention() && !TryTrend() && !TryEmotion()) {
                size_t next = 0;
                PeekAt(m_s, m_i, next);
                m_normal.append(m_s.substr(m_i, next - m_i));
                m_i = next;
            }
        }
        FlushNormal();
        return std::move(m_blocks);
    }

private:
    void FlushNormal() {
        if (!m_normal.empty()) {
            m_blocks.push_back({"normal", std::move(m_normal), ""});
            m_normal.clear();
        }
    }

    void Add(std::string type, size_t length, std::string text, std::string extra) {
        FlushNormal();
        m_blocks.push_back({std::move(type), std::move(text), std::move(extra)});
        m_i += length;
    }

    bool TryUrl() {
        if (PrecededByAlnum(m_s, m_i)) {
            return false;
        }
        const size_t n = MatchUrl(m_s.substr(m_i));
        if (n == 0) {
            return false;
        }
        const std::string url(m_s.substr(m_i, n));
        Add("url", n, url, url);
        return true;
    }

    bool TryMention() {
        if (m_s[m_i] != '@' || PrecededByAlnum(m_s, m_i)) {
            return false;
        }
        const size_t n = MatchName(m_s, m_i + 1);
        if (n == 0) {
            return false;
        }
        const std::string name(m_s.substr(m_i + 1, n));
        auto extra = m_resolve ? m_resolve(name) : std::nullopt;
        if (!extra) {
            return false;
        }
        Add("mention", n + 1, "@" + name, std::move(*extra));
        return true;
    }

    bool TryTrend() {
        if (m_s[m_i] != '#') {
            return false;
        }
        const size_t n = MatchEnclosed(m_s, m_i + 1, '#', '#', kMaxTrendLength, true);
        if (n == std::string_view::npos) {
            return false;
        }
        const std::string topic(m_s.substr(m_i + 1, n));
        Add("trend", n + 2, "#" + topic + "#", topic);
        return true;
    }

    bool TryEmotion() {
        if (!m_emotions || m_s[m_i] != '[') {
            return false;
        }
        const size_t n = MatchEnclosed(m_s, m_i + 1, '[', ']', kMaxEmotionLength, false);
        if (n == std::string_view::npos) {
            return false;
        }
        Add("emotion", n + 2, std::string(m_s.substr(m_i + 1, n)), "");
        return true;
    }

    std::string_view m_s;
    bool m_emotions;
    const MentionResolver& m_resolve;
    size_t m_i = 0;
    std::string m_normal;
    std::vector<TextBlock> m_blocks;
};

} // namespace

std::vector<TextBlock> CutBlocks(std::string_view text, bool emotions,
                                 const MentionResolver& resolve) {
    return Cutter(text, emotions, resolve).Run();
}

std::vector<std::string> MentionedNames(std::string_view text, bool emotions) {
    std::vector<std::string> names;
    const MentionResolver collect = [&names](std::string_view name) -> std::optional<std::string> {
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.emplace_back(name);
        }
        return std::string(name);
    };
    CutBlocks(text, emotions, collect);
    return names;
}

bool ValidScreenName(std::string_view name) {
    return !name.empty() && StorableText(name) && MatchName(name, 0) == name.size();
}

bool StorableText(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        if (!Decode(text, i, cp)) {
            return false;
        }
        const bool control = cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r';
        if (control || cp == 0x7F || cp == 0xFFFE || cp == 0xFFFF) {
            return false;
        }
    }
    return true;
}

size_t Utf16Length(std::string_view text) {
    size_t units = 0;
    size_t i = 0;
    while (i < text.size()) {
        size_t next = 0;
        units += PeekAt(text, i, next) >= 0x10000 ? 2 : 1;
        i = next;
    }
    return units;
}

} // namespace quillet::relay
