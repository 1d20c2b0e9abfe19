#include "core/Global.h"
#include "platform/Graphic.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

using namespace quillet;

namespace {

TEST(UtilitiesTest, FormatServiceTimeShowsBeijingTime) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"2010-10-20 12:34:56+0000", "10月20日 20:34:56"},
        {"2010-10-20 12:34:56+0100", "10月20日 19:34:56"}, // the zone is hours and minutes
        {"2010-10-20 12:34:56+0530", "10月20日 15:04:56"},
        {"2010-10-20 12:34:56-0700", "10月21日 03:34:56"},
        {"2010-10-20 12:34:56+0800", "10月20日 12:34:56"},
        {"2010-10-20T12:34:56+0800", "10月20日 12:34:56"}, // any separator
        {"2010-12-31 20:00:00+0000", "01月01日 04:00:00"}, // the year is not shown
        {"2012-02-28 23:00:00+0000", "02月29日 07:00:00"},
        {"2010-03-01 02:00:00+1200", "02月28日 22:00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatServiceTime(c.in), c.out) << c.in;
}

TEST(UtilitiesTest, FormatServiceTimeRefusesWhatDoesNotRead) {
    for (const char* bad :
         {"", "2010-10-20 12:34:56", "2010-10-20 12:34:56+00000", "2010-10-20 12:34:56 0000",
          "2010-10-20 12:34:56+00x0", "2010-13-20 12:34:56+0000", "2010-02-30 12:34:56+0000",
          "2010-10-20 24:00:00+0000", "2010-10-20 12:60:00+0000", "2010/10/20 12:34:56+0000",
          "2010-10-20 12:34:56+0060", "Wed Oct 20 12:34:56 2010 "})
        EXPECT_THROW(FormatServiceTime(bad), EConvertError) << bad;
}

TEST(UtilitiesTest, FileNameFromURL) {
    const struct {
        const char* url;
        const char* name;
    } cases[] = {
        {"http://a.cn/p.jpg?s=1", "http%3A%2F%2Fa.cn%2Fp.jpg%3Fs=1"},
        {"a%20b", "a%2520b"},
        {"\"*<>\\|", "%22%2A%3C%3E%5C%7C"},
        {"sp ace\t\xE4\xB8\xAD", "sp ace\t\xE4\xB8\xAD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileNameFromURL(c.url), c.name) << c.url;
}

TEST(UtilitiesTest, TextHelpers) {
    EXPECT_EQ(JoinKey("sina", "123"), "sina_123");
    EXPECT_EQ(JoinKey("", ""), "_");

    const std::pair<const char*, const char*> extensions[] = {
        {"C:\\Plugins\\my.plugin.bpl", "C:\\Plugins\\my.plugin"},
        {"../plugins/sample.so", "../plugins/sample"},
        {"../my.plugins/sample", "../my.plugins/sample"},
        {"dir.d\\name", "dir.d\\name"},
        {"a.b:c", "a.b:c"},
        {"noext", "noext"},
        {".hidden", ""},
    };
    for (const auto& [in, out] : extensions)
        EXPECT_EQ(StripExtension(in), out) << in;

    EXPECT_EQ(StripQuery("https://h/cb?oauth_token=1?x"), "https://h/cb");
    EXPECT_EQ(StripQuery("https://h/cb"), "https://h/cb");
    EXPECT_EQ(StripQuery("?a=1"), "");
}

TEST(UtilitiesTest, ExtractPIN) {
    const std::pair<const char*, const char*> cases[] = {
        {"<div>PIN: <code>1234567</code></div>", "1234567"},
        {"<code>12345678</code>", ""},
        {"<code>123456</code>", ""},
        {"<CODE>1234567</CODE>", ""},
        {"<code>abc</code> <code>7654321</code> <code>1111111</code>", "7654321"},
        {"", ""},
    };
    for (const auto& [page, pin] : cases)
        EXPECT_EQ(ExtractPIN(page), pin) << page;
}

TEST(UtilitiesTest, WideToUtf8) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"a\r\nb", "a\nb"},
        {u"a\rb\n\rc\r\r\n", "a\nb\n\nc\n\n"},
        {u"中文", "\xE4\xB8\xAD\xE6\x96\x87"},
        {u"\u00E9\u07FF\u0800", "\xC3\xA9\xDF\xBF\xE0\xA0\x80"},
        {u"x\U0001F600y", "x\xF0\x9F\x98\x80y"}, // a surrogate pair is one 4-byte character
        {std::u16string(1, char16_t(0xD83D)) + u"a", "\xEF\xBF\xBD"
                                                     "a"},
        {std::u16string(1, char16_t(0xDE00)), "\xEF\xBF\xBD"},
    };
    for (const auto& [wide, utf8] : cases)
        EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(UtilitiesTest, Utf8ToWide) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"a\nb\r\n", u"a\nb\r\n"},
        {"\xE4\xB8\xAD\xE6\x96\x87", u"中文"},
        {"\xF0\x9F\x98\x80!", u"\U0001F600!"},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        // malformed bytes give nothing; the byte after a broken sequence still counts
        {"a\xE4\xB8"
         "b",
         u"ab"},
        {"\x80\xBF"
         "c",
         u"c"},
        {"\xC0\xAF\xE0\x80\xAF"
         "d",
         u"d"}, // overlong forms
        {"\xED\xA0\x80"
         "e",
         u"e"}, // an encoded surrogate
        {"\xF4\x90\x80\x80\xF8\xFF"
         "f",
         u"f"},                  // beyond U+10FFFF
        {"g\xF0\x9F\x98", u"g"}, // cut short at the end
    };
    for (const auto& [utf8, wide] : cases)
        EXPECT_EQ(Utf8ToWide(utf8), wide) << utf8;

    const std::string mixed = "Zürich 中文 \U0001F600\U00010348";
    EXPECT_EQ(WideToUtf8(Utf8ToWide(mixed)), mixed);
}

std::string EncodePicture(const char* format) {
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return data.toStdString();
}

TEST(UtilitiesTest, PictureFromStream) {
    EXPECT_EQ(PictureFromStream(""), nullptr);
    EXPECT_EQ(PictureFromStream("<html><body>404</body></html>"), nullptr);
    EXPECT_THROW(PictureFromStream("\xFF"), EFileError);
    EXPECT_THROW(PictureFromStream("GIF89a but corrupt"), EInvalidGraphic);

    const std::string jpeg = EncodePicture("JPEG");
    ASSERT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
    const auto picture = PictureFromStream(jpeg);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Format(), TGraphicFormat::gfJPEG);
    EXPECT_EQ(picture->Width(), 4);
    EXPECT_EQ(picture->Bytes(), jpeg);

    const auto bitmap = ToBitmap(*picture);
    EXPECT_EQ(bitmap->Format(), TGraphicFormat::gfBMP);
    EXPECT_EQ(bitmap->Image().size(), picture->Image().size());
    EXPECT_EQ(bitmap->Image().pixel(1, 1), picture->Image().pixel(1, 1));
    const auto reread = PictureFromStream(bitmap->Bytes());
    ASSERT_NE(reread, nullptr) << "a bitmap's bytes are a BMP file";
    EXPECT_EQ(reread->Format(), TGraphicFormat::gfBMP);
}

TEST(UtilitiesTest, LoadPictureFile) {
    QTemporaryDir dir;
    const std::string png = dir.filePath("p.png").toStdString();
    std::ofstream(png, std::ios::binary) << EncodePicture("PNG");
    const auto picture = LoadPictureFile(png);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Format(), TGraphicFormat::gfPNG);
    EXPECT_EQ(picture->Height(), 3);

    const std::string empty = dir.filePath("empty.jpg").toStdString();
    std::ofstream(empty, std::ios::binary).flush();
    EXPECT_EQ(LoadPictureFile(empty), nullptr);
    EXPECT_THROW(LoadPictureFile(dir.filePath("missing.jpg").toStdString()), EFileError);
}

TEST(UtilitiesTest, AccountTables) {
    EXPECT_EQ(AccountTypeNames[atSina], "sina");
    EXPECT_EQ(AccountTypeNames[atTwitter], "twitter");
    EXPECT_EQ(AccountTypeNames[atFacebook], "facebook");
    EXPECT_EQ(AccountTextLimits[atFacebook], 4096);
    EXPECT_NE(ConnectErrorFormat.find("\r\n%s\r\n"), std::string_view::npos);
}

} // namespace
