#pragma once
// Softening a particle's picture: a Gaussian approximated by repeated box
// filters, on colour weighted by alpha, in integer arithmetic.
//
// Each axis is blurred by `Passes` equal passes. One pass gives every output
// pixel the weighted sum of its 2 Radius + 1 neighbours (weight Inner each) and
// the two next ones (weight Edge, below Inner), divided by the total weight:
// a box whose width is not limited to odd whole numbers, so the passes together
// have the requested variance. The division is a multiplication by a 40-bit
// reciprocal and a rounding shift. The picture grows by the reach of the passes
// on every side, so nothing of the blur is cut off. Colour is multiplied by
// alpha before the passes and divided back after them: transparent pixels
// bring no colour of their own into the blur.
#include <cstdint>
#include <vector>

// The box passes of one axis; Passes 0 leaves the axis alone.
struct BlurAxis {
    int32_t Passes = 0;
    int32_t Radius = 0;
    uint32_t Inner = 256, Edge = 0;
    uint64_t Mul = 0;   // round(2^40 / (Inner (2 Radius + 1) + 2 Edge))
    int32_t Reach = 0;  // how far the passes spread a pixel: Passes (Radius + 1 when Edge > 0)
};

// The widest blur made, in pixels (standard deviation).
constexpr double MaxBlurSigma = 2000.0;

// Boxes for a standard deviation of sigma pixels in `passes` passes (1 to 7;
// other values are limited to that range). sigma is limited to 0..MaxBlurSigma.
BlurAxis MakeBlurAxis(double sigma, int32_t passes);

// The plain blur of a whole w x h picture of four 16-bit words per pixel, the
// fourth being alpha: the blurred picture of (w + 2 x.Reach) x (h + 2 y.Reach),
// the input in its middle. Every pass sums its taps directly.
std::vector<uint16_t> BlurPicture(const uint16_t* px, int32_t w, int32_t h, const BlurAxis& x, const BlurAxis& y);

// The same picture, made only for rows r0 <= r < r1 and columns c0 <= c < c1
// of the grown picture, written row after row into out: the passes run on
// running sums and only where the picture can be other than empty. Every
// value equals the one of BlurPicture.
void BlurPictureRegion(const uint16_t* px, int32_t w, int32_t h, const BlurAxis& x, const BlurAxis& y, int32_t r0,
                       int32_t r1, int32_t c0, int32_t c1, uint16_t* out);
