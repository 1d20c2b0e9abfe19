#include "relay/networks/SandboxPictures.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <zlib.h>

namespace quillet::relay {

namespace {

struct Rgb {
    uint8_t r, g, b;
};

class Canvas {
public:
    Canvas(int width, int height) : m_w(width), m_h(height), m_px(size_t(width * height) * 3, 0) {}

    void Set(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= m_w || y >= m_h) {
            return;
        }
        const size_t i = (size_t(y) * size_t(m_w) + size_t(x)) * 3;
        m_px[i] = char(c.r), m_px[i + 1] = char(c.g), m_px[i + 2] = char(c.b);
    }

    void FillRect(int x0, int y0, int x1, int y1, Rgb c) {
        for (int y = std::max(y0, 0); y < std::min(y1, m_h); ++y) {
            for (int x = std::max(x0, 0); x < std::min(x1, m_w); ++x) {
                Set(x, y, c);
            }
        }
    }

    void FillCircle(double cx, double cy, double radius, Rgb c) {
        for (int y = int(cy - radius); y <= int(cy + radius) + 1; ++y) {
            for (int x = int(cx - radius); x <= int(cx + radius) + 1; ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                if (dx * dx + dy * dy <= radius * radius) {
                    Set(x, y, c);
                }
            }
        }
    }

    // A triangle standing on the bottom edge, its top at (peakX, peakY).
    void FillMountain(double peakX, double peakY, double halfWidth, Rgb c) {
        for (int y = std::max(int(peakY), 0); y < m_h; ++y) {
            const double spread = halfWidth * (y - peakY) / std::max(1.0, m_h - peakY);
            FillRect(int(peakX - spread), y, int(peakX + spread) + 1, y + 1, c);
        }
    }

    int Width() const { return m_w; }
    int Height() const { return m_h; }
    std::string Png() const { return EncodePng(m_w, m_h, m_px); }

private:
    int m_w;
    int m_h;
    std::string m_px;
};

// A small deterministic generator, so a seed always draws the same picture.
class Random {
public:
    explicit Random(uint32_t seed) : m_state(seed * 2654435761u + 1) {}
    uint32_t Next() {
        m_state ^= m_state << 13, m_state ^= m_state >> 17, m_state ^= m_state << 5;
        return m_state;
    }
    double Unit() { return (Next() % 10000) / 10000.0; }

private:
    uint32_t m_state;
};

Rgb Hsv(double h, double s, double v) {
    const double c = v * s, hp = std::fmod(h, 360.0) / 60.0;
    const double x = c * (1 - std::fabs(std::fmod(hp, 2.0) - 1));
    double r = 0, g = 0, b = 0;
    if (hp < 1)
        r = c, g = x;
    else if (hp < 2)
        r = x, g = c;
    else if (hp < 3)
        g = c, b = x;
    else if (hp < 4)
        g = x, b = c;
    else if (hp < 5)
        r = x, b = c;
    else
        r = c, b = x;
    const double m = v - c;
    auto channel = [m](double u) { return uint8_t(std::lround((u + m) * 255)); };
    return {channel(r), channel(g), channel(b)};
}

void PutBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += char((value >> shift) & 0xFF);
    }
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    PutBigEndian(out, uint32_t(data.size()));
    std::string body(type, 4);
    body += data;
    out += body;
    PutBigEndian(
        out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

} // namespace

std::string EncodePng(int width, int height, const std::string& rgb) {
    if (width <= 0 || height <= 0 || rgb.size() != size_t(width) * size_t(height) * 3) {
        throw std::invalid_argument("picture size does not match its pixels");
    }
    std::string raw;
    const size_t stride = size_t(width) * 3;
    raw.reserve((stride + 1) * size_t(height));
    for (int y = 0; y < height; ++y) {
        raw += '\0'; // filter type "none"
        raw.append(rgb, size_t(y) * stride, stride);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 6) != Z_OK) {
        throw std::runtime_error("picture compression failed");
    }
    packed.resize(packedSize);

    std::string header;
    PutBigEndian(header, uint32_t(width));
    PutBigEndian(header, uint32_t(height));
    header += std::string("\x08\x02\x00\x00\x00", 5); // 8-bit RGB, no interlace

    std::string png("\x89PNG\r\n\x1a\n", 8);
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", "");
    return png;
}

std::string AvatarPng(uint32_t seed, int size) {
    Random random(seed);
    const double hue = random.Unit() * 360;
    Canvas canvas(size, size);
    canvas.FillRect(0, 0, size, size, Hsv(hue, 0.35, 0.95));
    const Rgb figure = Hsv(hue + 180, 0.55, 0.55);
    canvas.FillCircle(size * 0.5, size * 1.05, size * 0.42, figure); // shoulders
    canvas.FillCircle(size * 0.5, size * 0.40, size * 0.21, figure); // head
    return canvas.Png();
}

std::string LandscapePng(uint32_t seed, int width, int height) {
    Random random(seed);
    Canvas canvas(width, height);
    const double hue = 180 + random.Unit() * 60;
    for (int y = 0; y < height; ++y) {
        const double t = double(y) / height;
        canvas.FillRect(0, y, width, y + 1, Hsv(hue, 0.25 + 0.4 * t, 1.0 - 0.15 * t));
    }
    canvas.FillCircle(width * (0.15 + 0.7 * random.Unit()), height * (0.15 + 0.2 * random.Unit()),
                      height * 0.1, Hsv(45, 0.7, 1.0));
    for (int i = 0; i < 3; ++i) {
        canvas.FillMountain(width * random.Unit(), height * (0.3 + 0.3 * random.Unit()),
                            width * (0.25 + 0.2 * random.Unit()),
                            Hsv(90 + 60 * random.Unit(), 0.45, 0.35 + 0.15 * i));
    }
    return canvas.Png();
}

} // namespace quillet::relay
