#include "platform/Graphic.h"

#include <QBuffer>
#include <QByteArray>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace quillet;

namespace {

// A 1x1 GIF (Qt writes no GIF, so the bytes are spelled out).
const std::string TinyGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\xFF\xFF\x00\x00\x00"
                          "!\xF9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00"
                          "\x00\x02\x02\x44\x01\x00;",
                          43);

std::string Encode(const char* format, int width = 3, int height = 2) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format)) << format;
    return data.toStdString();
}

TEST(GraphicTest, FormatComesFromTheFirstTwoBytesAndDecodes) {
    struct Case {
        std::string bytes;
        TGraphicFormat format;
        int width;
    } cases[] = {{TinyGif, TGraphicFormat::gfGIF, 1},
                 {Encode("BMP"), TGraphicFormat::gfBMP, 3},
                 {Encode("PNG"), TGraphicFormat::gfPNG, 3},
                 {Encode("JPEG"), TGraphicFormat::gfJPEG, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.format));
        ASSERT_EQ(TGraphic::DetectFormat(c.bytes), c.format);
        const TGraphic picture(c.format, c.bytes);
        EXPECT_EQ(picture.Width(), c.width);
        EXPECT_FALSE(picture.Image().isNull());
    }
    for (const std::string& other : {std::string("<html>"), std::string("G"), std::string()})
        EXPECT_FALSE(TGraphic::DetectFormat(other)) << other;
}

TEST(GraphicTest, CorruptDataRaise) {
    std::string truncatedPng = Encode("PNG").substr(0, 20);
    EXPECT_THROW(TGraphic(TGraphicFormat::gfPNG, truncatedPng), EInvalidGraphic);
    EXPECT_THROW(TGraphic(TGraphicFormat::gfGIF, "GIF89a garbage"), EInvalidGraphic);
    EXPECT_THROW(TGraphic(TGraphicFormat::gfJPEG, "\xFF\xD8 not a jpeg"), EInvalidGraphic);
}

TEST(GraphicTest, SaveWritesTheSourceBytesUnchanged) {
    QTemporaryDir dir;
    const std::string jpeg = Encode("JPEG", 16, 16);
    for (const TGraphic& picture :
         {TGraphic(TGraphicFormat::gfGIF, TinyGif), TGraphic(TGraphicFormat::gfJPEG, jpeg)}) {
        const std::string path = dir.filePath("saved").toStdString();
        picture.SaveToFile(path);
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), picture.Bytes());
    }
    EXPECT_THROW(TGraphic(TGraphicFormat::gfGIF, TinyGif)
                     .SaveToFile(dir.filePath("no/such/folder/x.gif").toStdString()),
                 EFileError);
}

} // namespace
