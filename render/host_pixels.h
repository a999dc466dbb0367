#pragma once
// Reading and writing host images: through their read-pixel and write-pixel
// routines, or directly where they keep their words as this host's images do.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "host/image.h"

// A host image's pixels, row after row: red, green, blue, alpha, or with
// bgra blue, green, red, alpha (the host's own order).
void ReadImagePixels(const Image* img, std::vector<uint16_t>& out, bool bgra = false);

// Whether an image reads and writes its pixels with this host's own routines.
bool SameRoutines(const Image* img);

// Whether an image keeps its pixels as this host's images do, so that its
// 16-bit words may be read and written directly with what the routines give.
bool DirectAccess(const Image* out);

// Whether a host image's pixels can be read in place by the kernels: this host's
// own routines and layout, rows one after the other without gaps.
bool ContiguousDirect(const Image* img);

// The blend of one particle pixel P (red, green, blue, alpha) over a background
// pixel (blue, green, red, alpha), in unsigned 32-bit arithmetic. The fade takes
// its share of the particle's alpha; W is what is left of the background (all of
// it at the additive end of the merge slider).
struct Blend {
    uint32_t F, M;
    inline void operator()(const uint32_t bg[4], const uint16_t* P, uint32_t out[4]) const {
        const uint32_t A = P[3];
        const uint32_t Ap = F != 0 ? A - ((A * F) >> 16) : A;
        const uint32_t W = ((M * Ap) >> 16) - Ap + 65535u;
        out[0] = std::min(((bg[0] * W) >> 16) + ((uint32_t(P[2]) * Ap) >> 16), 65535u);
        out[1] = std::min(((bg[1] * W) >> 16) + ((uint32_t(P[1]) * Ap) >> 16), 65535u);
        out[2] = std::min(((bg[2] * W) >> 16) + ((uint32_t(P[0]) * Ap) >> 16), 65535u);
        out[3] = std::min(((bg[3] * W) >> 16) + ((A * Ap) >> 16), 65535u);
    }
};

// n particle pixels (blue, green, red, alpha) blended over the output through
// its read-pixel and write-pixel routines, from byte offset on.
void BlendThroughRoutines(Image* out, int64_t offset, const uint16_t* P, int32_t n, uint32_t F, uint32_t M);
