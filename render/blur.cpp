#include "render/blur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "render/blur_pass.h"
#include "render/pixel_kernels.h"

namespace {

// The weight of a box's inner taps (the running passes multiply by it with a
// shift of 8).
constexpr uint32_t InnerWeight = 256;
constexpr int Shift = 40;

// A weighted sum of one pass divided by the pass's total weight, rounded.
inline uint32_t Normalize(uint64_t sum, uint64_t mul) {
    return uint32_t((sum * mul + (uint64_t(1) << (Shift - 1))) >> Shift);
}

// Colour weighted by alpha, rounded; alpha stays.
inline void Premultiply(const uint16_t* in, uint32_t* out) {
    const uint32_t a = in[3];
    for (int ch = 0; ch < 3; ++ch) out[ch] = (uint32_t(in[ch]) * a + 32767u) / 65535u;
    out[3] = a;
}

// Colour divided back by alpha, rounded: floor((c * 65535 + a / 2) / a),
// at most 65535; nothing where alpha is 0. The division is made in double
// precision, and its floor is exact: the dividend is below 2^33, so a quotient
// that is not whole lies at least 1 / a (at least 2^-16) from the next whole
// number, far more than half a unit in the last place (at most 2^-20).
inline void Unpremultiply(const uint32_t* in, uint16_t* out) {
    const uint32_t a = in[3];
    out[3] = uint16_t(a);
    if (a == 0) {
        out[0] = out[1] = out[2] = 0;
        return;
    }
    const double d = double(a);
    for (int ch = 0; ch < 3; ++ch) {
        const int64_t q = int64_t(double(uint64_t(in[ch]) * 65535u + a / 2) / d);
        out[ch] = uint16_t(std::min<int64_t>(q, 65535));
    }
}

// One pass along a line of n pixels (four words each) read from `in` with a
// step of `step` words, written with the same step into out; pixels outside
// the line count as empty. Direct sums, for the plain blur.
void PassDirect(const uint32_t* in, uint32_t* out, int32_t n, int64_t step, const BlurAxis& a) {
    auto at = [&](int64_t i, int ch) -> uint64_t { return i < 0 || i >= n ? 0 : in[i * step + ch]; };
    for (int64_t i = 0; i < n; ++i)
        for (int ch = 0; ch < 4; ++ch) {
            uint64_t inner = 0;
            for (int64_t j = i - a.Radius; j <= i + a.Radius; ++j) inner += at(j, ch);
            const uint64_t edge = at(i - a.Radius - 1, ch) + at(i + a.Radius + 1, ch);
            out[i * step + ch] = Normalize(a.Inner * inner + a.Edge * edge, a.Mul);
        }
}

using BoxRun = void (*)(const uint32_t*, uint32_t*, int32_t, int32_t, int32_t, uint32_t, uint64_t);

// The passes of one axis over a line held in `line` (four words a pixel,
// a.Radius + 1 empty pixels before index 0 and after the last one), nonzero
// only in [lo, hi); each pass writes only where its result can be nonzero,
// which widens [lo, hi) by the reach of a pass. tmp is a second line of the
// same size, empty on entry. The result is in `line`.

void PassesRunning(std::vector<uint32_t>& line, std::vector<uint32_t>& tmp, int32_t n, int32_t& lo, int32_t& hi,
                   const BlurAxis& a, BoxRun run) {
    const int32_t pad = a.Radius + 1;
    const int32_t grow = a.Reach / std::max(a.Passes, 1);
    for (int32_t p = 0; p < a.Passes; ++p) {
        const int32_t nlo = std::max(lo - grow, 0), nhi = std::min(hi + grow, n);
        const uint32_t* in = line.data() + std::size_t(pad) * 4;
        uint32_t* out = tmp.data() + std::size_t(pad) * 4;
        run(in, out, nlo, nhi, a.Radius, a.Edge, a.Mul);
        line.swap(tmp);
        lo = nlo;
        hi = nhi;
    }
    // tmp holds an older, narrower pass: clear it for the next line.
    std::fill(tmp.begin(), tmp.end(), 0u);
}

// The pass version of the compositing kernels' instruction set.
BoxRun ActiveBoxRun() { return ActivePixelIsa() == PixelIsa::Generic ? BoxRunGeneric : BoxRunAvx2; }

}  // namespace

void BoxRunGeneric(const uint32_t* in, uint32_t* out, int32_t nlo, int32_t nhi, int32_t r, uint32_t edge,
                   uint64_t mul) {
    uint32_t box[4] = {0, 0, 0, 0};
    for (int64_t j = int64_t(nlo) - r; j <= int64_t(nlo) + r; ++j)
        for (int ch = 0; ch < 4; ++ch) box[ch] += in[j * 4 + ch];
    // Per output pixel: the pixel leaving the box, the one entering it (also
    // the right end tap) and the left end tap.
    const uint32_t* leave = in + (int64_t(nlo) - r) * 4;
    const uint32_t* enter = in + (int64_t(nlo) + r + 1) * 4;
    const uint32_t* left = in + (int64_t(nlo) - r - 1) * 4;
    const uint64_t edgeWeight = edge;
    uint32_t* o = out + std::size_t(nlo) * 4;
    for (int32_t i = nlo; i < nhi; ++i, leave += 4, enter += 4, left += 4, o += 4) {
        // The box moves one pixel on after each output (modular arithmetic: the
        // true sum always fits in 32 bits).
#pragma GCC unroll 4
        for (int ch = 0; ch < 4; ++ch) {
            o[ch] = Normalize((uint64_t(box[ch]) << 8) + edgeWeight * (uint64_t(left[ch]) + enter[ch]), mul);
            box[ch] += enter[ch] - leave[ch];
        }
    }
}

BlurAxis MakeBlurAxis(double sigma, int32_t passes) {
    BlurAxis a;
    const int32_t n = std::clamp(passes, 1, 7);
    if (!(sigma > 0.0)) return a;
    sigma = std::min(sigma, MaxBlurSigma);
    // Each pass carries an equal share of the variance. A box of 2r + 1 taps
    // has variance r (r + 1) / 3; r is the widest box within the share and the
    // end taps make up the rest: with weight alpha on them the variance is
    // (r (r + 1) (2r + 1) / 3 + 2 alpha (r + 1)^2) / (2r + 1 + 2 alpha).
    const double v = sigma * sigma / n;
    int64_t r = int64_t((std::sqrt(12.0 * v + 1.0) - 1.0) * 0.5);
    while (r > 0 && double(r * (r + 1)) / 3.0 > v) --r;
    while (double((r + 1) * (r + 2)) / 3.0 <= v) ++r;
    const double alpha = double(2 * r + 1) * (v - double(r * (r + 1)) / 3.0) / (2.0 * (double((r + 1) * (r + 1)) - v));
    int64_t edge = std::llround(alpha * InnerWeight);
    if (edge >= InnerWeight) {
        ++r;
        edge = 0;
    }
    if (r == 0 && edge == 0) return a;  // each pass would leave the picture as it is
    a.Passes = n;
    a.Radius = int32_t(r);
    a.Inner = InnerWeight;
    a.Edge = uint32_t(edge);
    // The total weight is at least 258 (and below 2^22 for the widest blur),
    // so Mul is below 2^32, as the vector pass needs, and the rounding of the
    // reciprocal moves a result by far less than half a unit.
    const uint64_t total = uint64_t(InnerWeight) * uint64_t(2 * r + 1) + 2 * uint64_t(edge);
    a.Mul = ((uint64_t(1) << Shift) + total / 2) / total;
    a.Reach = n * (a.Radius + (a.Edge > 0 ? 1 : 0));
    return a;
}

std::vector<uint16_t> BlurPicture(const uint16_t* px, int32_t w, int32_t h, const BlurAxis& x, const BlurAxis& y) {
    const int32_t W = w + 2 * x.Reach, H = h + 2 * y.Reach;
    std::vector<uint32_t> grid(std::size_t(W) * std::size_t(H) * 4, 0u), tmp(grid.size());
    for (int32_t r = 0; r < h; ++r)
        for (int32_t c = 0; c < w; ++c)
            Premultiply(px + (std::size_t(r) * w + c) * 4,
                        grid.data() + (std::size_t(r + y.Reach) * W + std::size_t(c + x.Reach)) * 4);
    for (int32_t p = 0; p < x.Passes; ++p) {
        for (int32_t r = 0; r < H; ++r)
            PassDirect(grid.data() + std::size_t(r) * W * 4, tmp.data() + std::size_t(r) * W * 4, W, 4, x);
        grid.swap(tmp);
    }
    for (int32_t p = 0; p < y.Passes; ++p) {
        for (int32_t c = 0; c < W; ++c)
            PassDirect(grid.data() + std::size_t(c) * 4, tmp.data() + std::size_t(c) * 4, H, int64_t(W) * 4, y);
        grid.swap(tmp);
    }
    std::vector<uint16_t> out(grid.size());
    for (std::size_t i = 0; i < grid.size(); i += 4) Unpremultiply(grid.data() + i, out.data() + i);
    return out;
}

void BlurPictureRegion(const uint16_t* px, int32_t w, int32_t h, const BlurAxis& x, const BlurAxis& y, int32_t r0,
                       int32_t r1, int32_t c0, int32_t c1, uint16_t* out) {
    const int32_t W = w + 2 * x.Reach, H = h + 2 * y.Reach;
    const int32_t cw = c1 - c0;
    const BoxRun run = ActiveBoxRun();
    // Rows first: only the picture's own rows hold anything before the
    // column passes, so only they are blurred along x. Every pass's result is
    // at most 65535, so the rows keep 16 bits a word.
    std::vector<uint16_t> rows(std::size_t(h) * std::size_t(W) * 4);
    int32_t xlo = x.Reach, xhi = x.Reach + w;
    {
        const std::size_t padded = std::size_t(W) + 2 * std::size_t(x.Radius + 1);
        std::vector<uint32_t> line(padded * 4, 0u), tmp(padded * 4, 0u);
        const std::size_t pad = std::size_t(x.Radius + 1) * 4;
        for (int32_t r = 0; r < h; ++r) {
            int32_t lo = x.Reach, hi = x.Reach + w;
            std::fill(line.begin(), line.end(), 0u);
            for (int32_t c = 0; c < w; ++c)
                Premultiply(px + (std::size_t(r) * w + c) * 4, line.data() + pad + std::size_t(c + x.Reach) * 4);
            PassesRunning(line, tmp, W, lo, hi, x, run);
            std::copy(line.begin() + std::ptrdiff_t(pad), line.begin() + std::ptrdiff_t(pad + std::size_t(W) * 4),
                      rows.begin() + std::ptrdiff_t(std::size_t(r) * W * 4));
            xlo = lo;
            xhi = hi;
        }
    }
    // Then each wanted column along y, keeping only the wanted rows.
    const std::size_t padded = std::size_t(H) + 2 * std::size_t(y.Radius + 1);
    const std::size_t pad = std::size_t(y.Radius + 1) * 4;
    std::vector<uint32_t> line(padded * 4, 0u), tmp(padded * 4, 0u);
    for (int32_t c = c0; c < c1; ++c) {
        if (c < xlo || c >= xhi) {
            // Nothing reached this column.
            for (int32_t r = r0; r < r1; ++r)
                std::fill_n(out + (std::size_t(r - r0) * cw + std::size_t(c - c0)) * 4, 4, uint16_t(0));
            continue;
        }
        std::fill(line.begin(), line.end(), 0u);
        for (int32_t r = 0; r < h; ++r)
            std::copy_n(rows.data() + (std::size_t(r) * W + std::size_t(c)) * 4, 4,
                        line.data() + pad + std::size_t(r + y.Reach) * 4);
        int32_t lo = y.Reach, hi = y.Reach + h;
        PassesRunning(line, tmp, H, lo, hi, y, run);
        for (int32_t r = r0; r < r1; ++r)
            Unpremultiply(line.data() + pad + std::size_t(r) * 4,
                          out + (std::size_t(r - r0) * cw + std::size_t(c - c0)) * 4);
    }
}
