#include "resources/tile_bitmap.h"

#include <algorithm>
#include <cmath>

// The tile: a dark blue-violet gradient with a fountain of warm dots rising from
// the bottom centre and falling away to both sides. Drawn once, deterministically
// (a fixed generator, plain double arithmetic), into a bitmap file in memory.
namespace {

constexpr int Width = 116, Height = 87;
constexpr int RowBytes = Width * 3;  // 348, already a multiple of 4: no padding
constexpr int FileHeaderBytes = 14, InfoHeaderBytes = 40;
constexpr int PixelOffset = FileHeaderBytes + InfoHeaderBytes;
constexpr int ImageBytes = RowBytes * Height;
static_assert(RowBytes % 4 == 0);

void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

struct Rgb {
    double R = 0, G = 0, B = 0;
};

std::vector<uint8_t> DrawTile() {
    // Picture rows top to bottom; y grows downwards.
    std::vector<Rgb> picture(size_t(Width) * Height);
    for (int y = 0; y < Height; ++y) {
        const double t = double(y) / (Height - 1);
        for (int x = 0; x < Width; ++x) {
            const double dx = (x - Width / 2.0) / Width;
            const double glow = std::max(0.0, 1.0 - 4.0 * dx * dx) * t * t;
            picture[size_t(y) * Width + x] = {12 + 20 * t + 30 * glow, 8 + 10 * t + 12 * glow, 30 + 40 * t + 20 * glow};
        }
    }

    // The fountain: dots on parabolas from the nozzle, smaller and redder with age.
    uint32_t state = 20000;
    auto next = [&state] {
        state = state * 214013u + 2531011u;
        return double((state >> 16) & 0x7FFF) / 32767.0;
    };
    const double nozzleX = Width / 2.0, nozzleY = Height - 6.0;
    for (int i = 0; i < 90; ++i) {
        const double angle = (90.0 + (next() - 0.5) * 70.0) * 3.14159265358979 / 180.0;
        const double speed = 2.6 + next() * 1.4;
        const double age = next() * 22.0;
        const double gravity = 0.16;
        const double px = nozzleX + std::cos(angle) * speed * age;
        const double py = nozzleY - std::sin(angle) * speed * age + 0.5 * gravity * age * age;
        const double life = age / 22.0;
        const double radius = 2.2 - 1.2 * life;
        const Rgb color{255.0, 230.0 - 120.0 * life, 120.0 - 100.0 * life};
        for (int y = int(py - 3); y <= int(py + 3); ++y) {
            for (int x = int(px - 3); x <= int(px + 3); ++x) {
                if (x < 0 || y < 0 || x >= Width || y >= Height) continue;
                const double d = std::sqrt((x - px) * (x - px) + (y - py) * (y - py));
                const double cover = std::clamp(radius + 0.5 - d, 0.0, 1.0) * (1.0 - 0.5 * life);
                Rgb& p = picture[size_t(y) * Width + x];
                p.R += color.R * cover;
                p.G += color.G * cover;
                p.B += color.B * cover;
            }
        }
    }

    std::vector<uint8_t> file;
    file.reserve(size_t(PixelOffset + ImageBytes));
    // File header.
    file.push_back('B');
    file.push_back('M');
    Put32(file, PixelOffset + ImageBytes);
    Put16(file, 0);
    Put16(file, 0);
    Put32(file, PixelOffset);
    // Info header: a positive height means rows are stored bottom-up.
    Put32(file, InfoHeaderBytes);
    Put32(file, Width);
    Put32(file, Height);
    Put16(file, 1);   // planes
    Put16(file, 24);  // bits per pixel
    Put32(file, 0);   // no compression
    Put32(file, ImageBytes);
    Put32(file, 2835);  // 72 dots per inch, in pixels per metre
    Put32(file, 2835);
    Put32(file, 0);
    Put32(file, 0);
    auto channel = [](double v) { return uint8_t(std::clamp(v, 0.0, 255.0)); };
    for (int row = Height - 1; row >= 0; --row) {
        for (int x = 0; x < Width; ++x) {
            const Rgb& p = picture[size_t(row) * Width + x];
            file.push_back(channel(p.B));
            file.push_back(channel(p.G));
            file.push_back(channel(p.R));
        }
    }
    return file;
}

}  // namespace

const std::vector<uint8_t>& TileBitmap() {
    static const std::vector<uint8_t> bytes = DrawTile();
    return bytes;
}
