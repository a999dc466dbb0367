#pragma once
// One running box pass of the blur (render/blur.h), in a plain version and one
// for processors with AVX2 (chosen with the compositing kernels' instruction
// set). Both give the same words.
#include <cstdint>

// Output pixels nlo <= i < nhi of a pass over a line of four-word pixels:
// out[i] = (((256 * box(i)) + edge * (in[i - r - 1] + in[i + r + 1])) * mul
// + 2^39) >> 40 for every word, box(i) being the sum of in[i - r .. i + r].
// The line must be readable from nlo - r - 1 to nhi + r. mul is below 2^32.
void BoxRunGeneric(const uint32_t* in, uint32_t* out, int32_t nlo, int32_t nhi, int32_t r, uint32_t edge,
                   uint64_t mul);
void BoxRunAvx2(const uint32_t* in, uint32_t* out, int32_t nlo, int32_t nhi, int32_t r, uint32_t edge, uint64_t mul);
