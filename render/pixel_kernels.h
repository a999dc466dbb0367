#pragma once
// The per-pixel work of compositing, one output row at a time, in versions for
// several instruction sets chosen when the program runs. Every version gives the
// same 16-bit values as the plain one (the reference). The AVX2 versions work
// across the four channels of a pixel or across pixels, never across the taps
// of one sum, so every sum is made of the same products added in the same
// order. The AVX-512 spline adds a sample's taps in another order, with fused
// multiply-adds, and keeps the result only where a bound on the difference
// shows that the stored word is the same; elsewhere it makes the sample the
// plain way (render/pixel_kernels_avx512.cpp).
//
// The kernels do not care which channel is which, with two exceptions: the
// fourth word of a pixel is its alpha (the blend reads it, the tint leaves it),
// and a tint's colour words come in the pixel's own channel order.
#include <cstddef>
#include <cstdint>
#include <vector>

// A shape's pixels as the kernels read them: W x H pixels of four 16-bit words,
// row r starting Stride words after row r - 1. Wide, when present, holds the
// same values as doubles, row r starting WideStride values after row r - 1, in
// a frame of zeros one pixel wide before the first row and column and two
// after the last: every tap of a spline sample of a pixel inside the source
// lies in it. The spline then reads doubles without a conversion per tap (same
// values, so the same sums), and a tap outside the source adds a product of 0,
// which leaves a sum as it is (the sums start at +0 and never become -0).
//
// Clear, when present, has one byte per source pixel (x, y), W to a row: 1
// when every alpha of the 4 x 4 taps around it (rows y - 1 .. y + 2, columns
// x - 1 .. x + 2, within the source) is 0. A spline sample there has alpha 0,
// and a particle pixel of alpha 0 blends the same whatever its colour, so the
// kernels may write such a pixel as 0 without summing its taps.
struct SourceView {
    const uint16_t* Px = nullptr;
    const double* Wide = nullptr;
    const uint8_t* Clear = nullptr;
    int32_t W = 0, H = 0;
    int64_t Stride = 0;
    int64_t WideStride = 0;
};

// The view of w x h pixels stored row after row without gaps.
SourceView ViewOf(const uint16_t* px, int32_t w, int32_t h);

// Makes the doubles (in their frame) and the clear map of v's pixels in wide
// and clear, and points v at them.
void AddWideAndClear(SourceView& v, std::vector<double>& wide, std::vector<uint8_t>& clear);
// The bytes AddWideAndClear takes for a w x h source.
std::size_t WideAndClearBytes(int32_t w, int32_t h);

// The mapping of a dw x dh picture's pixels back into a sw x sh source, set up
// once per particle: rotation about the two centres, the stretch, the output's
// pixel aspects and the sub-pixel offsets, all in single precision.
struct ResampleSetup {
    float Kxa = 0, Kya = 0, C = 1, S = 0;
    float Cdx = 0, Cdy = 0, Csx = 0, Csy = 0;
    float Fx = 0, Fy = 0, Ax = 1, Ay = 1;
    float Width = 0, Height = 0;  // the source size as floats
};

ResampleSetup MakeResampleSetup(int32_t sw, int32_t sh, float angle, float fx, float fy, int32_t dw, int32_t dh,
                                float ay, float ax);

// The tint of a particle: each colour word v becomes ((v * Keep) >> 16) + Add
// (low 16 bits kept); alpha stays.
struct TintWords {
    uint16_t Keep = 65535;
    uint16_t Add[3] = {0, 0, 0};
};

struct PixelKernels {
    // Picture row j, columns c0 <= c < c1, sampled from src by the 4 x 4 cubic
    // B-spline (SplineRow) or the nearest pixel (NearestRow), into out.
    void (*SplineRow)(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                      uint16_t* out);
    void (*NearestRow)(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                       uint16_t* out);
    // n pixels tinted in place.
    void (*TintRow)(uint16_t* px, int32_t n, const TintWords& tint);
    // n particle pixels P blended over n contiguous output pixels in the same
    // channel order: A' = A - ((A * F) >> 16), W = ((M * A') >> 16) - A' + 65535,
    // out = min(((bg * W) >> 16) + ((P * A') >> 16), 65535) for every word.
    void (*BlendRow)(uint16_t* out, const uint16_t* P, int32_t n, uint32_t F, uint32_t M);
};

// The instruction sets with a version of their own.
enum class PixelIsa { Generic, Avx2, Avx512 };

const char* PixelIsaName(PixelIsa isa);
// Whether this processor can run a version.
bool PixelIsaSupported(PixelIsa isa);
// The best version this processor runs, unless one is forced.
PixelIsa ActivePixelIsa();
// Forces a version (tests compare each with the reference); Generic always
// works. A version the processor cannot run is refused (returns false).
bool ForcePixelIsa(PixelIsa isa);
void ClearForcedPixelIsa();

const PixelKernels& KernelsFor(PixelIsa isa);
const PixelKernels& ActiveKernels();

// The versions themselves: the generic table, and one per instruction set,
// made from the functions below (each set's file builds them for that set
// alone; this header declares no inline code, so nothing built for one set can
// stand in for another's).
extern const PixelKernels GenericKernels;
extern const PixelKernels Avx2Kernels;
extern const PixelKernels Avx512Kernels;

void SplineRowAvx2(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1, uint16_t* out);
void NearestRowAvx2(const SourceView& src, const ResampleSetup& rs, int32_t j, int32_t c0, int32_t c1,
                    uint16_t* out);
void TintRowAvx2(uint16_t* px, int32_t n, const TintWords& tint);
void BlendRowAvx2(uint16_t* out, const uint16_t* P, int32_t n, uint32_t F, uint32_t M);
