#include "relay/networks/SandboxText.h"

#include "relay/networks/SandboxCrypto.h"
#include "relay/networks/SandboxPictures.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace quillet::relay;

namespace {

// Knows "alice" and "小明"; answers with a marker so tests see which name was resolved.
std::optional<std::string> Resolve(std::string_view name) {
    if (name == "alice" || name == "小明") {
        return "id:" + std::string(name);
    }
    return std::nullopt;
}

struct CutCase {
    const char* text;
    bool emotions;
    std::vector<TextBlock> blocks;
};

} // namespace

TEST(SandboxText, CutsTextIntoBlocks) {
    const std::vector<CutCase> cases = {
        {"plain text", true, {{"normal", "plain text", ""}}},
        {"see https://example.com/a?b=1&c=2. ok",
         true,
         {{"normal", "see ", ""},
          {"url", "https://example.com/a?b=1&c=2", "https://example.com/a?b=1&c=2"},
          {"normal", ". ok", ""}}},
        {"HTTP://X.org", true, {{"url", "HTTP://X.org", "HTTP://X.org"}}},
        {"http:// alone", true, {{"normal", "http:// alone", ""}}},
        {"@alice hi", true, {{"mention", "@alice", "id:alice"}, {"normal", " hi", ""}}},
        // A name ends at wide punctuation; unknown names and e-mail addresses stay text.
        {"@小明，你好", true, {{"mention", "@小明", "id:小明"}, {"normal", "，你好", ""}}},
        {"@nobody and bob@alice", true, {{"normal", "@nobody and bob@alice", ""}}},
        {"#话题# end", true, {{"trend", "#话题#", "话题"}, {"normal", " end", ""}}},
        {"# not closed", true, {{"normal", "# not closed", ""}}},
        {"##", true, {{"normal", "##", ""}}},
        {"[哈哈]好", true, {{"emotion", "哈哈", ""}, {"normal", "好", ""}}},
        {"[哈哈]好", false, {{"normal", "[哈哈]好", ""}}},
        {"[a b]", true, {{"normal", "[a b]", ""}}},
        {"x #t# @alice [e] http://u",
         true,
         {{"normal", "x ", ""},
          {"trend", "#t#", "t"},
          {"normal", " ", ""},
          {"mention", "@alice", "id:alice"},
          {"normal", " ", ""},
          {"emotion", "e", ""},
          {"normal", " ", ""},
          {"url", "http://u", "http://u"}}},
        {"", true, {}},
    };
    for (const CutCase& c : cases) {
        EXPECT_EQ(CutBlocks(c.text, c.emotions, Resolve), c.blocks) << c.text;
    }
}

TEST(SandboxText, MentionedNamesAreUniqueAndInOrder) {
    EXPECT_EQ(MentionedNames("@b @a @b http://x/@c #@d#", false),
              (std::vector<std::string>{"b", "a"}));
}

TEST(SandboxText, LengthsCountUtf16Units) {
    EXPECT_EQ(Utf16Length("abc"), 3u);
    EXPECT_EQ(Utf16Length("中文"), 2u);
    EXPECT_EQ(Utf16Length("😀"), 2u); // outside the BMP: a surrogate pair
}

TEST(SandboxText, OnlyWellFormedTextIsStorable) {
    EXPECT_TRUE(StorableText("line\nnext\ttab 中文 😀"));
    EXPECT_FALSE(StorableText(std::string("a\0b", 3)));
    EXPECT_FALSE(StorableText("\x01"));
    EXPECT_FALSE(StorableText("\xC3"));             // cut short
    EXPECT_FALSE(StorableText("\xC0\xAF"));         // overlong
    EXPECT_FALSE(StorableText("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(StorableText("\xF4\x90\x80\x80")); // above U+10FFFF
}

TEST(SandboxText, ScreenNamesAreWholeMentionNames) {
    EXPECT_TRUE(ValidScreenName("alice_2"));
    EXPECT_TRUE(ValidScreenName("小明"));
    EXPECT_FALSE(ValidScreenName(""));
    EXPECT_FALSE(ValidScreenName("a b"));
    EXPECT_FALSE(ValidScreenName("a@b"));
    EXPECT_FALSE(ValidScreenName(std::string(31, 'a')));
}

TEST(SandboxCrypto, PasswordsVerifyOnlyAgainstTheirOwnHash) {
    const std::string hash = HashPassword("secret", 1000);
    EXPECT_TRUE(VerifyPassword("secret", hash));
    EXPECT_FALSE(VerifyPassword("Secret", hash));
    EXPECT_NE(hash, HashPassword("secret", 1000)); // salted
    EXPECT_EQ(hash.find("secret"), std::string::npos);
    for (const char* broken :
         {"", "pbkdf2-sha256$", "pbkdf2-sha256$x$aa$bb", "pbkdf2-sha256$0$aa$bb", "md5$1$aa$bb"}) {
        EXPECT_FALSE(VerifyPassword("secret", broken)) << broken;
    }
}

TEST(SandboxCrypto, TokensAre256BitRandomHex) {
    const std::string a = RandomToken();
    EXPECT_EQ(a.size(), 64u);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, RandomToken());
}

namespace {

uint32_t BigEndian(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) {
        v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    }
    return v;
}

// Walks the chunks of a PNG, checking each CRC, and returns the inflated pixel rows.
std::string InflatedRows(const std::string& png, uint32_t& width, uint32_t& height) {
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    std::string idat;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t size = BigEndian(png, at);
        const std::string type = png.substr(at + 4, 4);
        const std::string body = png.substr(at + 4, 4 + size);
        EXPECT_EQ(BigEndian(png, at + 8 + size),
                  crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())))
            << type;
        if (type == "IHDR") {
            width = BigEndian(png, at + 8);
            height = BigEndian(png, at + 12);
        } else if (type == "IDAT") {
            idat += png.substr(at + 8, size);
        }
        at += 12 + size;
    }
    std::string rows((width * 3 + 1) * height, '\0');
    uLongf size = rows.size();
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(rows.data()), &size,
                         reinterpret_cast<const Bytef*>(idat.data()), uLong(idat.size())),
              Z_OK);
    rows.resize(size);
    return rows;
}

} // namespace

TEST(SandboxPictures, DrawnPicturesAreCompletePngs) {
    for (const auto& [png, w, h] : {std::tuple{AvatarPng(7, 50), 50u, 50u},
                                    std::tuple{LandscapePng(3, 120, 90), 120u, 90u}}) {
        uint32_t width = 0, height = 0;
        const std::string rows = InflatedRows(png, width, height);
        EXPECT_EQ(width, w);
        EXPECT_EQ(height, h);
        EXPECT_EQ(rows.size(), (w * 3 + 1) * h);
    }
    EXPECT_EQ(AvatarPng(7, 50), AvatarPng(7, 50));
    EXPECT_NE(AvatarPng(7, 50), AvatarPng(8, 50));
    EXPECT_THROW(EncodePng(2, 2, "short"), std::invalid_argument);
}
