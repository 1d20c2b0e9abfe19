#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet {

// Base of every error the system raises itself; carries the message text.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// The relay cannot be reached, or gives no readable reply; URL is the address asked for.
class EConnectError : public Exception {
public:
    explicit EConnectError(std::string url)
        : Exception("cannot connect to " + url), URL(std::move(url)) {}
    std::string URL;
};

// Error code 2: the authorization of the current account has expired.
class EAccountExpiredError : public Exception {
public:
    EAccountExpiredError() : Exception("") {}
};

// Error code 3: requests come too often.
class ERateLimitError : public Exception {
public:
    ERateLimitError() : Exception("") {}
};

// Silent abort: ends an operation that cannot start; no message box reports it.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

// A value that cannot be read as the type asked for (text as integer, a time, a boolean).
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// An assignment between objects of incompatible classes.
class EInvalidCast : public Exception {
public:
    EInvalidCast() : Exception("Invalid class typecast") {}
};

// An operation that the object's class does not provide.
class EAbstractError : public Exception {
public:
    EAbstractError() : Exception("Abstract error") {}
};

// A file that cannot be opened, read or written.
class EFileError : public Exception {
public:
    using Exception::Exception;
};

class TIniFile;
class TGraphic;

// ---- Configuration ----

// The configuration file lies in the current directory; so do all default folders.
inline constexpr std::string_view IniFileName = "./Main.INI";
// Base address of the relay when [URL] Host_URL is absent.
inline constexpr std::string_view DefaultHostURL = "https://relay.quillet.org";

// [URL]: the relay's addresses. Every key but Host_URL defaults to HostURL + its path.
extern std::string HostURL;
extern std::string UserQueryURL;
extern std::string UserLoginURL;
extern std::string UserOperateURL;
extern std::string AccountQueryURL;
extern std::string AccountModifyURL;
extern std::string IntfSinaURL;
extern std::string IntfTwitterURL;
extern std::string IntfFacebookURL;
extern std::string IntfCallURL;
extern std::string IntfSepURL;
extern std::string IntfSmartURL;
// Twitter's PIN page; read from [URL] Twitter_Authorize_URL, never written back.
extern std::string TwitterAuthorizeURL;

// [Path]: folders, relative to the current directory; a backslash read is taken as "/".
extern std::string EmotionSinaPath;
extern std::string ImagePath;
extern std::string CachePath;

// The open configuration file, from LoadConfig until SaveConfig.
extern std::unique_ptr<TIniFile> IniFile;

// Opens IniFileName as IniFile and fills every configuration variable.
void LoadConfig();
// Writes the [URL] and [Path] variables back and releases IniFile, even when a write fails.
void SaveConfig();
// [Data] User: the relay user to sign in at start, "" for none.
std::string LoadUser();
// Writes [Data] User; an empty ID leaves the key with an empty value.
void SaveUser(std::string_view id);
// Every configuration variable as (key, value), in the order `quillet-cli config` prints them.
std::vector<std::pair<std::string_view, std::string>> ConfigValues();

// ---- Process-wide types and constants ----

// The network of a linked account; indexes every per-network table.
enum TAccount_Type : std::uint8_t { atSina = 0, atTwitter = 1, atFacebook = 2 };

inline constexpr std::array<std::string_view, 3> AccountTypeNames = {"sina", "twitter", "facebook"};
// Longest status text per network, in UTF-16 code units.
inline constexpr std::array<int, 3> AccountTextLimits = {140, 140, 4096};

// The large and the small address of one picture.
struct TImageURLs {
    std::string LargeURL;
    std::string SmallURL;
};

// %s stands for the URL.
inline constexpr std::string_view ConnectErrorFormat =
    "网络连接失败，无法连接到网址：\r\n%s\r\n请检查网络连接！";
inline constexpr std::string_view AccountExpiredMessage =
    "当前账户的授权已过期！请切换用户或者重新登录！";
inline constexpr std::string_view RateLimitMessage = "啊哦，您的访问次数过于频繁，请稍后再操作！";
// Shown in place of a picture that cannot be loaded.
inline constexpr std::string_view BrokenImageFile = "../Res/Images/broken_img.jpg";
inline constexpr std::string_view AppTitle = "Quillet集成系统";

// The base of the parsed items a viewer keeps, one per row. A subclass copies only its own
// class and refuses any other source with EInvalidCast.
class TCustomContext {
public:
    TCustomContext() = default;
    TCustomContext(const TCustomContext&) = delete;
    TCustomContext& operator=(const TCustomContext&) = delete;
    virtual ~TCustomContext() = default;

    virtual void Assign(const TCustomContext& source);
};

// ---- Shared utilities ----

// A + "_" + B.
std::string JoinKey(std::string_view a, std::string_view b);
// The name without its last extension; a dot inside a folder name is no extension.
std::string StripExtension(std::string_view fileName);
// "2010-10-20 12:34:56+0100" -> "10月20日 19:34:56" (Beijing time); EConvertError when unreadable.
std::string FormatServiceTime(std::string_view serviceTime);
// A bitmap copy of a picture.
std::unique_ptr<TGraphic> ToBitmap(const TGraphic& picture);
// A URL as one file name: each of " % * / : < > ? \ | becomes "%" and two hex digits.
std::string FileNameFromURL(std::string_view url);
// The picture in a file; null for empty or unrecognised data. EFileError when the file cannot be
// read, EInvalidGraphic when its data are corrupt.
std::unique_ptr<TGraphic> LoadPictureFile(const std::string& fileName);
// The picture in some bytes, its format chosen from the first two; null for empty or unrecognised
// data. EFileError for a single byte, EInvalidGraphic for corrupt data.
std::unique_ptr<TGraphic> PictureFromStream(std::string_view bytes);
// The URL before its first "?".
std::string StripQuery(std::string_view url);
// The seven digits of the first "<code>NNNNNNN</code>" in a page, "" when there is none.
std::string ExtractPIN(std::string_view text);
// UTF-16 to UTF-8; "\r\n" and a lone "\r" become "\n"; a lone surrogate becomes U+FFFD.
std::string WideToUtf8(std::u16string_view wide);
// UTF-8 to UTF-16; malformed bytes are skipped.
std::u16string Utf8ToWide(std::string_view utf8);

} // namespace quillet
