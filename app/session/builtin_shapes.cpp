#include "app/session/builtin_shapes.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "app/io/errors.h"
#include "app/io/image_io.h"
#include "app/io/names.h"

namespace lumets {

namespace {

constexpr double Pi = 3.14159265358979323846;

// Coverage of a shape given as an inside test, by 4 x 4 supersampling per pixel.
Image* Rasterise(int size, const std::function<double(double, double)>& coverage) {
    Image* image = new Image(size, size);
    const double c = size / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double sum = 0.0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    const double px = (x + (sx + 0.5) / 4.0 - c) / c;
                    const double py = (y + (sy + 0.5) / 4.0 - c) / c;
                    sum += coverage(px, py);
                }
            const auto v = uint16_t(std::lround(std::clamp(sum / 16.0, 0.0, 1.0) * 65535.0));
            SetPixelAt(*image, x, y, Rgba16{v, v, v, v});
        }
    return image;
}

// Inside test of a five-pointed star of outer radius 1 and inner radius 0.4,
// one point straight up.
bool InsideStar(double x, double y) {
    const double r = std::hypot(x, y);
    if (r > 1.0) return false;
    double a = std::atan2(x, -y);  // 0 at the top point
    const double sector = 2.0 * Pi / 5.0;
    a = std::fmod(a + 2.0 * Pi, sector);
    if (a > sector / 2.0) a = sector - a;  // mirror into the half sector next to a point
    // Edge from the point (angle 0, radius 1) to the notch (angle sector/2, radius 0.4).
    const double inner = 0.4;
    const double px = 0.0, py = 1.0;
    const double qx = inner * std::sin(sector / 2.0), qy = inner * std::cos(sector / 2.0);
    const double sx = r * std::sin(a), sy = r * std::cos(a);
    // Inside when on the centre's side of the edge line.
    const double cross = (qx - px) * (sy - py) - (qy - py) * (sx - px);
    const double crossCentre = (qx - px) * (0.0 - py) - (qy - py) * (0.0 - px);
    return (cross > 0) == (crossCentre > 0);
}

}  // namespace

std::vector<std::string> BuiltinShapeNames() { return {"dot", "disc", "star", "ring"}; }

bool IsBuiltinShape(const std::string& name) {
    const auto names = BuiltinShapeNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

Image* MakeBuiltinShape(const std::string& name, int size) {
    if (size < 1 || size > 4096)
        throw UserError("particle size " + std::to_string(size) + " is outside 1..4096 pixels");
    if (name == "dot")
        return Rasterise(size, [](double x, double y) {
            const double r = std::hypot(x, y);
            if (r >= 1.0) return 0.0;
            const double f = 1.0 - r * r;
            return f * f;
        });
    if (name == "disc") return Rasterise(size, [](double x, double y) { return std::hypot(x, y) <= 1.0 ? 1.0 : 0.0; });
    if (name == "star") return Rasterise(size, [](double x, double y) { return InsideStar(x, y) ? 1.0 : 0.0; });
    if (name == "ring")
        return Rasterise(size, [size](double x, double y) {
            const double r = std::hypot(x, y);
            const double half = std::max(0.08, 1.5 / size);  // at least a pixel and a half thick
            return std::abs(r - (1.0 - half)) <= half ? 1.0 : 0.0;
        });
    std::string list;
    for (const auto& n : BuiltinShapeNames()) list += (list.empty() ? "" : ", ") + n;
    throw UserError("unknown particle shape \"" + Shown(name) + "\" (built-in shapes: " + list + ")");
}

}  // namespace lumets
