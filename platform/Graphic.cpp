#include "platform/Graphic.h"

#include <QBuffer>
#include <QByteArray>
#include <fstream>

namespace quillet {

namespace {

const char* QtFormatName(TGraphicFormat format) {
    switch (format) {
    case TGraphicFormat::gfGIF:
        return "GIF";
    case TGraphicFormat::gfBMP:
        return "BMP";
    case TGraphicFormat::gfPNG:
        return "PNG";
    case TGraphicFormat::gfJPEG:
        return "JPEG";
    }
    return "";
}

std::string EncodeBitmap(const QImage& image) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "BMP"))
        throw EInvalidGraphic("Cannot write the picture as a bitmap");
    return data.toStdString();
}

} // namespace

std::optional<TGraphicFormat> TGraphic::DetectFormat(std::string_view bytes) {
    if (bytes.size() < 2)
        return std::nullopt;
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    if (b0 == 0x47 && b1 == 0x49)
        return TGraphicFormat::gfGIF;
    if (b0 == 0x42 && b1 == 0x4D)
        return TGraphicFormat::gfBMP;
    if (b0 == 0x89 && b1 == 0x50)
        return TGraphicFormat::gfPNG;
    if (b0 == 0xFF && b1 == 0xD8)
        return TGraphicFormat::gfJPEG;
    return std::nullopt;
}

TGraphic::TGraphic(TGraphicFormat format, std::string bytes)
    : m_format(format), m_bytes(std::move(bytes)) {
    const QByteArray data = QByteArray::fromRawData(m_bytes.data(), qsizetype(m_bytes.size()));
    if (!m_image.loadFromData(data, QtFormatName(format)) || m_image.isNull())
        throw EInvalidGraphic(std::string("Invalid ") + QtFormatName(format) + " picture data");
}

TGraphic::TGraphic(const QImage& image)
    : m_format(TGraphicFormat::gfBMP), m_bytes(EncodeBitmap(image)), m_image(image) {}

void TGraphic::SaveToFile(const std::string& fileName) const {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    out.write(m_bytes.data(), static_cast<std::streamsize>(m_bytes.size()));
    out.close();
    if (!out)
        throw EFileError("Cannot create file \"" + fileName + "\"");
}

} // namespace quillet
