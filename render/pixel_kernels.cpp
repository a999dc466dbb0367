// The generic compositing kernels (plain C++, the reference every vector
// version is checked against) and the choice of version at run time.
#include "render/pixel_kernels.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "render/resample_core.h"

namespace {

void SplineRowGeneric(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                      uint16_t* out) {
    ResampleRowPlain(src, rs, j, c0, c1, 1, out);
}

void NearestRowGeneric(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                       uint16_t* out) {
    ResampleRowPlain(src, rs, j, c0, c1, 0, out);
}

void TintRowGeneric(uint16_t* px, int32_t n, const TintWords& tint) {
    const uint32_t keep = tint.Keep;
    for (int32_t p = 0; p < n; ++p, px += 4)
        for (int ch = 0; ch < 3; ++ch) px[ch] = uint16_t(((px[ch] * keep) >> 16) + tint.Add[ch]);
}

void BlendRowGeneric(uint16_t* out, const uint16_t* P, int32_t n, uint32_t F, uint32_t M) {
    for (int32_t p = 0; p < n; ++p, out += 4, P += 4) {
        const uint32_t A = P[3];
        const uint32_t Ap = F != 0 ? A - ((A * F) >> 16) : A;
        const uint32_t W = ((M * Ap) >> 16) - Ap + 65535u;
        for (int ch = 0; ch < 4; ++ch)
            out[ch] = uint16_t(std::min(((out[ch] * W) >> 16) + ((uint32_t(P[ch]) * Ap) >> 16), 65535u));
    }
}

// -1: nothing forced; otherwise the forced version.
std::atomic<int> Forced{-1};

PixelIsa DetectProcessor() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("avx512f") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512dq"))
        return PixelIsa::Avx512;
    if (__builtin_cpu_supports("avx2")) return PixelIsa::Avx2;
#endif
    return PixelIsa::Generic;
}

// The processor's best version, or a lesser one named by LUMETS_PIXEL_ISA
// (generic, avx2, avx512): for comparing versions in benchmarks.
PixelIsa DetectBest() {
    const PixelIsa best = DetectProcessor();
    if (const char* name = std::getenv("LUMETS_PIXEL_ISA")) {
        for (PixelIsa isa : {PixelIsa::Generic, PixelIsa::Avx2, PixelIsa::Avx512})
            if (std::strcmp(name, PixelIsaName(isa)) == 0 && int(isa) <= int(best)) return isa;
    }
    return best;
}

}  // namespace

const PixelKernels GenericKernels = {&SplineRowGeneric, &NearestRowGeneric, &TintRowGeneric, &BlendRowGeneric};

const char* PixelIsaName(PixelIsa isa) {
    switch (isa) {
        case PixelIsa::Avx2: return "avx2";
        case PixelIsa::Avx512: return "avx512";
        case PixelIsa::Generic: break;
    }
    return "generic";
}

bool PixelIsaSupported(PixelIsa isa) {
    static const PixelIsa best = DetectProcessor();
    return int(isa) <= int(best);
}

PixelIsa ActivePixelIsa() {
    static const PixelIsa best = DetectBest();
    const int forced = Forced.load(std::memory_order_relaxed);
    return forced >= 0 ? PixelIsa(forced) : best;
}

bool ForcePixelIsa(PixelIsa isa) {
    if (!PixelIsaSupported(isa)) return false;
    Forced.store(int(isa), std::memory_order_relaxed);
    return true;
}

void ClearForcedPixelIsa() { Forced.store(-1, std::memory_order_relaxed); }

const PixelKernels& ActiveKernels() { return KernelsFor(ActivePixelIsa()); }

const PixelKernels& KernelsFor(PixelIsa isa) {
    switch (isa) {
        case PixelIsa::Avx2: return Avx2Kernels;
        case PixelIsa::Avx512: return Avx512Kernels;
        case PixelIsa::Generic: break;
    }
    return GenericKernels;
}

namespace {

// The clear map: a run of four alphas along each row, then a run of four row
// results down each column. Three bytes of padding follow the map, so that the
// vector kernels may read any of its bytes as the first of four.
void MakeClearMap(const SourceView& v, std::vector<uint8_t>& clear) {
    const std::size_t w = std::size_t(v.W), h = std::size_t(v.H);
    std::vector<uint8_t> rows(w * h);
    for (std::size_t y = 0; y < h; ++y) {
        const uint16_t* px = v.Px + int64_t(y) * v.Stride;
        for (std::size_t x = 0; x < w; ++x) {
            uint8_t all = 1;
            for (std::size_t k = x == 0 ? 0 : x - 1; k <= x + 2 && k < w; ++k) all &= px[k * 4 + 3] == 0;
            rows[y * w + x] = all;
        }
    }
    clear.assign(w * h + 3, 0);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            uint8_t all = 1;
            for (std::size_t k = y == 0 ? 0 : y - 1; k <= y + 2 && k < h; ++k) all &= rows[k * w + x];
            clear[y * w + x] = all;
        }
}

}  // namespace

SourceView ViewOf(const uint16_t* px, int32_t w, int32_t h) {
    SourceView v;
    v.Px = px;
    v.W = w;
    v.H = h;
    v.Stride = int64_t(w) * 4;
    return v;
}

void AddWideAndClear(SourceView& v, std::vector<double>& wide, std::vector<uint8_t>& clear) {
    const std::size_t w = std::size_t(v.W), h = std::size_t(v.H);
    const std::size_t stride = (w + 3) * 4;
    wide.assign(stride * (h + 3), 0.0);
    double* origin = wide.data() + stride + 4;  // pixel (0, 0), inside the frame
    for (std::size_t y = 0; y < h; ++y) {
        const uint16_t* row = v.Px + int64_t(y) * v.Stride;
        std::copy(row, row + w * 4, origin + y * stride);
    }
    MakeClearMap(v, clear);
    v.Wide = origin;
    v.WideStride = int64_t(stride);
    v.Clear = clear.data();
}

std::size_t WideAndClearBytes(int32_t w, int32_t h) {
    const std::size_t sw = std::size_t(w), sh = std::size_t(h);
    return (sw + 3) * (sh + 3) * 4 * sizeof(double) + sw * sh + 3;
}
