#include "core/Global.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#define PCRE2_CODE_UNIT_WIDTH 8
#include "platform/Graphic.h"
#include "platform/IniFile.h"

#include <pcre2.h>

namespace quillet {

std::string HostURL;
std::string UserQueryURL;
std::string UserLoginURL;
std::string UserOperateURL;
std::string AccountQueryURL;
std::string AccountModifyURL;
std::string IntfSinaURL;
std::string IntfTwitterURL;
std::string IntfFacebookURL;
std::string IntfCallURL;
std::string IntfSepURL;
std::string IntfSmartURL;
std::string TwitterAuthorizeURL;

std::string EmotionSinaPath;
std::string ImagePath;
std::string CachePath;

std::unique_ptr<TIniFile> IniFile;

namespace {

struct TDerivedURL {
    std::string_view Key;
    std::string* Variable;
    std::string_view Path;
};

// The [URL] keys after Host_URL, in the order they are read and written.
const std::array<TDerivedURL, 11> DerivedURLs = {{
    {"User_Query_URL", &UserQueryURL, "/user/query"},
    {"User_Login_URL", &UserLoginURL, "/user/login"},
    {"User_Operate_URL", &UserOperateURL, "/user/operate"},
    {"Account_Query_URL", &AccountQueryURL, "/account/query"},
    {"Account_Modify_URL", &AccountModifyURL, "/user/modifyaccount"},
    {"Intf_Sina_URL", &IntfSinaURL, "/intf/sina"},
    {"Intf_Twitter_URL", &IntfTwitterURL, "/intf/twitter"},
    {"Intf_Facebook_URL", &IntfFacebookURL, "/intf/facebook"},
    {"Intf_Call_URL", &IntfCallURL, "/intf/call"},
    {"Intf_Sep_URL", &IntfSepURL, "/intf/sep"},
    {"Intf_Smart_URL", &IntfSmartURL, "/intf/smart"},
}};

constexpr std::string_view DefaultTwitterAuthorizeURL = "https://api.twitter.com/oauth/authorize";
constexpr std::string_view DefaultEmotionSinaPath = "../Res/Images/Emotions/Sina";
constexpr std::string_view DefaultImagePath = "../Res/Images";
constexpr std::string_view DefaultCachePath = "../Cache";

TIniFile& OpenIniFile() {
    if (!IniFile)
        throw Exception("The configuration is not loaded");
    return *IniFile;
}

// A configuration file written on Windows names folders with backslashes.
std::string ReadFolder(std::string_view key, std::string_view defaultValue) {
    std::string folder = IniFile->ReadString("Path", key, defaultValue);
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder;
}

} // namespace

void LoadConfig() {
    IniFile = std::make_unique<TIniFile>(std::string(IniFileName));
    HostURL = IniFile->ReadString("URL", "Host_URL", DefaultHostURL);
    for (const TDerivedURL& url : DerivedURLs)
        *url.Variable = IniFile->ReadString("URL", url.Key, HostURL + std::string(url.Path));
    TwitterAuthorizeURL =
        IniFile->ReadString("URL", "Twitter_Authorize_URL", DefaultTwitterAuthorizeURL);
    EmotionSinaPath = ReadFolder("Emotion_Sina_Path", DefaultEmotionSinaPath);
    ImagePath = ReadFolder("Image_Path", DefaultImagePath);
    CachePath = ReadFolder("Cache_Path", DefaultCachePath);
}

void SaveConfig() {
    // Released even when a write is refused: the program is ending either way.
    const std::unique_ptr<TIniFile> file = std::move(IniFile);
    if (!file)
        throw Exception("The configuration is not loaded");
    file->WriteString("URL", "Host_URL", HostURL);
    for (const TDerivedURL& url : DerivedURLs)
        file->WriteString("URL", url.Key, *url.Variable);
    file->WriteString("Path", "Emotion_Sina_Path", EmotionSinaPath);
    file->WriteString("Path", "Cache_Path", CachePath);
    file->WriteString("Path", "Image_Path", ImagePath);
}

std::string LoadUser() {
    return OpenIniFile().ReadString("Data", "User", "");
}

void SaveUser(std::string_view id) {
    OpenIniFile().WriteString("Data", "User", id);
}

std::vector<std::pair<std::string_view, std::string>> ConfigValues() {
    std::vector<std::pair<std::string_view, std::string>> values;
    values.emplace_back("Host_URL", HostURL);
    for (const TDerivedURL& url : DerivedURLs)
        values.emplace_back(url.Key, *url.Variable);
    values.emplace_back("Twitter_Authorize_URL", TwitterAuthorizeURL);
    values.emplace_back("Emotion_Sina_Path", EmotionSinaPath);
    values.emplace_back("Image_Path", ImagePath);
    values.emplace_back("Cache_Path", CachePath);
    return values;
}

// The base has nothing to copy, so any source is of the wrong class for it.
void TCustomContext::Assign(const TCustomContext&) {
    throw EInvalidCast();
}

std::string JoinKey(std::string_view a, std::string_view b) {
    std::string key(a);
    key += '_';
    key += b;
    return key;
}

std::string StripExtension(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    const auto folder = fileName.find_last_of("\\/:");
    if (dot == std::string_view::npos || (folder != std::string_view::npos && dot < folder))
        return std::string(fileName);
    return std::string(fileName.substr(0, dot));
}

namespace {

[[noreturn]] void ThrowBadTime(std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' is not a valid service time");
}

// The decimal number in text[pos, pos + count); every character must be a digit.
int Digits(std::string_view text, std::size_t pos, std::size_t count) {
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            ThrowBadTime(text);
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

void ExpectChar(std::string_view text, std::size_t pos, char expected) {
    if (text[pos] != expected)
        ThrowBadTime(text);
}

} // namespace

std::string FormatServiceTime(std::string_view serviceTime) {
    using namespace std::chrono;
    // "YYYY-MM-DD HH:MM:SS+HHMM": any separator between date and time, zone right after seconds.
    const std::string_view s = serviceTime;
    if (s.size() != 24)
        ThrowBadTime(s);
    for (std::size_t pos : {4, 7})
        ExpectChar(s, pos, '-');
    for (std::size_t pos : {13, 16})
        ExpectChar(s, pos, ':');
    if (s[19] != '+' && s[19] != '-')
        ThrowBadTime(s);
    const year_month_day date{year(Digits(s, 0, 4)), month(unsigned(Digits(s, 5, 2))),
                              day(unsigned(Digits(s, 8, 2)))};
    const int hour = Digits(s, 11, 2), minute = Digits(s, 14, 2), second = Digits(s, 17, 2);
    const int zoneHours = Digits(s, 20, 2), zoneMinutes = Digits(s, 22, 2);
    if (!date.ok() || hour > 23 || minute > 59 || second > 59 || zoneMinutes > 59)
        ThrowBadTime(s);
    const minutes zone{(s[19] == '-' ? -1 : 1) * (zoneHours * 60 + zoneMinutes)};
    // Shown in Beijing time (+0800), whatever the computer's own zone.
    const sys_seconds beijing =
        sys_days(date) + hours(hour) + minutes(minute) + seconds(second) - zone + hours(8);
    const sys_days beijingDay = floor<days>(beijing);
    const year_month_day shownDate{beijingDay};
    const hh_mm_ss shownTime{beijing - beijingDay};
    char text[64];
    std::snprintf(text, sizeof text, "%02u月%02u日 %02d:%02d:%02d", unsigned(shownDate.month()),
                  unsigned(shownDate.day()), int(shownTime.hours().count()),
                  int(shownTime.minutes().count()), int(shownTime.seconds().count()));
    return text;
}

std::unique_ptr<TGraphic> ToBitmap(const TGraphic& picture) {
    return std::make_unique<TGraphic>(picture.Image());
}

std::string FileNameFromURL(std::string_view url) {
    static constexpr std::string_view Replaced = "\"%*/:<>?\\|";
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string name;
    name.reserve(url.size());
    for (const char c : url) {
        if (Replaced.find(c) == std::string_view::npos) {
            name += c;
            continue;
        }
        const auto code = static_cast<unsigned char>(c);
        name += '%';
        name += Hex[code >> 4];
        name += Hex[code & 0x0F];
    }
    return name;
}

std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw EFileError("Cannot open file \"" + fileName + "\"");
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw EFileError("Cannot read file \"" + fileName + "\"");
    return PictureFromStream(bytes);
}

std::unique_ptr<TGraphic> PictureFromStream(std::string_view bytes) {
    if (bytes.empty())
        return nullptr;
    if (bytes.size() < 2)
        throw EFileError("Stream read error");
    const auto format = TGraphic::DetectFormat(bytes);
    if (!format)
        return nullptr;
    return std::make_unique<TGraphic>(*format, std::string(bytes));
}

std::string StripQuery(std::string_view url) {
    return std::string(url.substr(0, url.find('?')));
}

namespace {

struct TCodeFree {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct TMatchDataFree {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

const pcre2_code* PinPattern() {
    static const std::unique_ptr<pcre2_code, TCodeFree> pattern = [] {
        static constexpr char Source[] = "<code>([0-9]{7})</code>";
        int error = 0;
        PCRE2_SIZE offset = 0;
        return std::unique_ptr<pcre2_code, TCodeFree>(
            pcre2_compile(reinterpret_cast<PCRE2_SPTR>(Source), PCRE2_ZERO_TERMINATED, 0, &error,
                          &offset, nullptr));
    }();
    return pattern.get();
}

} // namespace

std::string ExtractPIN(std::string_view text) {
    const pcre2_code* pattern = PinPattern();
    if (!pattern)
        return "";
    const std::unique_ptr<pcre2_match_data, TMatchDataFree> match(
        pcre2_match_data_create_from_pattern(pattern, nullptr));
    if (!match)
        return "";
    const int rc = pcre2_match(pattern, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                               0, match.get(), nullptr);
    if (rc < 2)
        return "";
    const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(match.get());
    return std::string(text.substr(offsets[2], offsets[3] - offsets[2]));
}

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

} // namespace

std::string WideToUtf8(std::u16string_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t c = wide[i];
        if (c == u'\r') {
            out += '\n';
            if (i + 1 < wide.size() && wide[i + 1] == u'\n')
                ++i;
        } else if (IsHighSurrogate(c) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            AppendUtf8(out, 0xFFFD); // half of a pair cannot be written as UTF-8
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

namespace {

// Eight ASCII bytes to eight UTF-16 units.
void WidenAscii(std::uint64_t word, char16_t* out) {
    if constexpr (std::endian::native == std::endian::little) {
        const auto spread = [](std::uint64_t four) {
            four = (four | (four << 16)) & 0x0000FFFF0000FFFFULL;
            return (four | (four << 8)) & 0x00FF00FF00FF00FFULL;
        };
        const std::uint64_t low = spread(word & 0xFFFFFFFFULL);
        const std::uint64_t high = spread(word >> 32);
        std::memcpy(out, &low, 8);
        std::memcpy(out + 4, &high, 8);
    } else {
        for (int i = 0; i < 8; ++i)
            out[i] = static_cast<char16_t>((word >> (56 - 8 * i)) & 0xFF);
    }
}

} // namespace

// Malformed bytes are skipped; the byte that broke a sequence starts afresh. The buffer is sized
// once and ASCII runs are widened eight bytes at a time: decoding texts is a large part of
// reading a reply.
std::u16string Utf8ToWide(std::string_view text) {
    std::u16string wide(text.size(), u'\0'); // never more units than bytes
    char16_t* out = wide.data();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        // Runs of ASCII eight bytes at a time, and the common three-byte sequences (Chinese)
        // directly; everything else below.
        std::uint64_t word;
        if (end - p >= 8 && (std::memcpy(&word, p, 8), (word & 0x8080808080808080ULL) == 0)) {
            WidenAscii(word, out);
            out += 8;
            p += 8;
            continue;
        }
        const unsigned char lead = *p;
        if (lead < 0x80) {
            *out++ = lead;
            ++p;
            continue;
        }
        if (lead >= 0xE1 && lead <= 0xEC && end - p >= 3 && (p[1] & 0xC0) == 0x80 &&
            (p[2] & 0xC0) == 0x80) {
            *out++ =
                static_cast<char16_t>(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
            continue;
        }
        int length = 0;
        char32_t c = 0;
        char32_t least = 0; // smallest code point of this length: anything below is overlong
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07, least = 0x10000;
        } else {
            ++p;
            continue;
        }
        int n = 1;
        for (; n < length && p + n < end && (p[n] & 0xC0) == 0x80; ++n)
            c = (c << 6) | (p[n] & 0x3F);
        p += n;
        if (n < length || c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            continue;
        if (c < 0x10000) {
            *out++ = static_cast<char16_t>(c);
        } else {
            *out++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    wide.resize(out - wide.data());
    return wide;
}

} // namespace quillet
