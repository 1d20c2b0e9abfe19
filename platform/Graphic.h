#pragma once

#include "core/Global.h"

#include <QImage>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillet {

// Picture data that cannot be decoded.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

enum class TGraphicFormat { gfGIF, gfBMP, gfPNG, gfJPEG };

// A decoded picture together with the bytes it came from. Saving writes those bytes unchanged:
// GIF cannot be written back, and re-encoding would lose quality.
class TGraphic {
public:
    // The format announced by the first two bytes; none for anything else.
    static std::optional<TGraphicFormat> DetectFormat(std::string_view bytes);

    // Decodes bytes as the given format; raises EInvalidGraphic when they do not decode.
    TGraphic(TGraphicFormat format, std::string bytes);
    // A bitmap of an image already in memory; its source bytes are the image written as BMP.
    explicit TGraphic(const QImage& image);

    TGraphicFormat Format() const { return m_format; }
    const QImage& Image() const { return m_image; }
    const std::string& Bytes() const { return m_bytes; }
    int Width() const { return m_image.width(); }
    int Height() const { return m_image.height(); }

    // Writes the source bytes; raises EFileError when the file cannot be written.
    void SaveToFile(const std::string& fileName) const;

private:
    TGraphicFormat m_format;
    std::string m_bytes;
    QImage m_image;
};

} // namespace quillet
