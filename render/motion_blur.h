#pragma once
// Motion blur: a particle drawn over the shutter instead of at one instant.
//
// The shutter is a span of step fractions u, where u = 0 is the particle's
// state before the frame's step (or, in playback, one request frame earlier),
// u = 1 the state drawn without blur, and states in between or beyond lie on
// the line through the two. A shutter angle of 360 degrees is one whole step,
// opening at the frame (u = 1 .. 1 + s), centred on it or closing at it.
//
// The particle is drawn MotionSamples times at evenly spaced fractions from the
// opening to the closing of the shutter, each draw planned like a particle of
// its own (position, angle, size and age between the two states, so its fade,
// tint, growth, shape level and blur over life follow). Each draw's pixels are
// summed premultiplied by their faded alpha, the sums divided by the number of
// draws, and the result blended once over the output: a draw at a moment the
// particle does not live (before its birth, after its retirement) adds nothing
// but still counts, so such a particle shows only over the part of the shutter
// it lives. One blend per particle keeps the oldest-first order of the blend.
// Drawn N times at one and the same state, a particle gives exactly its
// unblurred picture.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/image.h"
#include "render/frame_look.h"
#include "render/particle_plan.h"
#include "simulation/particle.h"

// Whether a particle with this earlier state (may be null) is drawn blurred.
bool MotionBlurOn(const FrameLook& look, const ParticleBefore* before);

// The particle's state at draw k of look.MotionSamples; false when it does not
// live at that moment.
bool SubFrameParticle(const FrameLook& look, const Particle& p, const ParticleBefore& before, int32_t k, Particle& q);

// The plan of a motion-blurred particle: the output box its draws fall in
// (see ParticlePlan::Before), with the source and size of its first draw that
// shows (for sharing the frame's source); false when no draw shows.
bool PlanMotionParticle(const FrameLook& look, const Particle& p, const ParticleBefore* before, ParticlePlan& plan);

// The sums of a particle's draws over a box of output pixels.
class MotionSum {
public:
    // An empty box of w x h pixels with its top-left pixel at output (x0, y0).
    void Start(int32_t x0, int32_t y0, int32_t w, int32_t h);
    // n drawn pixels (four words each, alpha last) of one draw at output
    // (x, y) .. (x + n - 1, y), faded by F; the part outside the box is left.
    void AddRow(int32_t x, int32_t y, const uint16_t* px, int32_t n, uint32_t F);
    // The box's pixels averaged over `draws` draws: five words per pixel, the
    // four words premultiplied by the faded alpha (each product shifted down
    // 16 bits), then the faded alpha itself.
    void Finish(int32_t draws, std::vector<uint16_t>& out) const;

private:
    int32_t X0 = 0, Y0 = 0, W = 0, H = 0;
    std::vector<uint64_t> Sums;  // five per pixel
};

// The same sums as MotionSum, bit for bit, kept the compositor's way: each
// product P * A' (below 2^32) is summed as its high and low 16 bits apart, in
// 32-bit sums, so that no 64-bit arithmetic is needed per pixel; Finish joins
// them and divides by a multiplication. At most MaxDraws draws. One per
// worker: the memory of the sums is kept from particle to particle (up to
// KeptPixels pixels).
class MotionSumRows {
public:
    static constexpr int32_t MaxDraws = 256;
    void Start(int32_t x0, int32_t y0, int32_t w, int32_t h);
    void AddRow(int32_t x, int32_t y, const uint16_t* px, int32_t n, uint32_t F);
    // As MotionSum::Finish; the sums are left empty for the next Start.
    void Finish(int32_t draws, std::vector<uint16_t>& out);

private:
    bool Wide = false;  // AVX2 sums (the compositing kernels' instruction set has it)
    // Sums for at most this many pixels are kept after Finish (36 bytes each).
    static constexpr std::size_t KeptPixels = std::size_t(1) << 16;
    int32_t X0 = 0, Y0 = 0, W = 0, H = 0;
    bool Clean = true;  // every sum is 0
    // Eight per pixel: the four words' products, their low 16 bits summed,
    // then their high 16 bits summed.
    std::vector<uint32_t> Sums;
    std::vector<uint32_t> Alpha;  // one per pixel: the faded alphas summed
};

// The part of MotionSumRows::AddRow that takes four pixels at a time, for
// processors with AVX2: the first pixels of the n at px (a multiple of four,
// returned) summed into sums (eight per pixel) and alpha (one per pixel).
int32_t AddPixelsAvx2(uint32_t* sums, uint32_t* alpha, const uint16_t* px, int32_t n, uint32_t F);

// The part of MotionSumRows::Finish that takes two pixels at a time, for
// processors with AVX2: the first of count pixels' sums (a multiple of two,
// returned) averaged into out (five words per pixel) with m = ceil(2^32 / n)
// below 2^32, and emptied.
std::size_t FinishPixelsAvx2(uint32_t* sums, uint32_t* alpha, std::size_t count, uint32_t m, uint16_t* out);

// n averaged pixels q (five words, as MotionSum::Finish gives) blended over n
// output pixels in the same word order: W = ((M * A) >> 16) - A + 65535,
// out = min(((out * W) >> 16) + q, 65535) for each of the four words.
void BlendPremultipliedRow(uint16_t* out, const uint16_t* q, int32_t n, uint32_t M);
// Its first pixels (a multiple of four, returned) four at a time, for
// processors with AVX2.
int32_t BlendPremultipliedAvx2(uint16_t* out, const uint16_t* q, int32_t n, uint32_t M);
// The same through the output's read-pixel and write-pixel routines; q holds
// blue, green, red, alpha words, or red, green, blue, alpha with rgba.
void BlendPremultipliedThroughRoutines(Image* out, int64_t offset, const uint16_t* q, int32_t n, uint32_t M,
                                       bool rgba);
