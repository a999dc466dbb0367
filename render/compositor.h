#pragma once
// Compositing the live particles into the frame's output image.
//
// Every particle gets its own picture: a source shape (a mix of two captured
// levels, or a host image), drawn at a size from its size, grow curve and the
// pixel aspects, resampled with its angle and sub-pixel position, tinted by the
// colour curves, and blended over the output with the fade curve and the merge
// slider in 16-bit integer arithmetic.
//
// Particles overlap, and the blend is not commutative, so the picture depends
// on the order in which particles reach a pixel. The compositor fixes that
// order to oldest first at every pixel: the output is drawn in horizontal
// bands, each band on one worker, taking the particles that cross it in
// particle order and making each particle's rows in the band as it goes
// (resampled, tinted and blended one row at a time, by the kernels of the
// processor's instruction set). The result is the same for any number of
// threads and on every processor, and equals drawing the particles one at a
// time (render/reference_render.h).
//
// With blur on, a particle's picture is softened over its life after the tint
// and before the blend (render/blur.h), grown by the blur's reach. A blurred
// picture needs all of the particle's rows, so blurred particles get a stage
// of their own before the bands: each one's drawn part is made whole on a
// worker and kept, and the bands blend its rows from there. The pictures kept
// at once stay within a budget: the particles are drawn in waves, oldest
// first, each wave in every band before the next (a particle over the budget
// on its own is made band by band). Particles with no blur take the
// row-at-a-time path untouched.
//
// A motion-blurred particle (render/motion_blur.h) is blended once from the
// average of its draws over the shutter. When its draws are sharp, each band
// sums the draws' rows it crosses, in sums each worker keeps from particle to
// particle; when they are blurred over their life, its average is made whole
// before the bands, like a blurred picture.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "render/frame_look.h"
#include "render/live_particles.h"
#include "simulation/worker_pass.h"

// How a compositing pass splits its work. Neither choice changes a pixel: the
// picture is always the one of drawing the particles one at a time, oldest first.
struct CompositeOptions {
    // Upper bound of the source shapes made for the frame (captured levels and
    // their mixes, images with pixel routines of their own), each made once and
    // shared by the particles drawn from it; a particle whose source is over
    // the bound makes its own copy in each band that draws it.
    std::size_t SourceCacheBytes = std::size_t(256) << 20;
    // Output rows per blending band; 0 picks about 64 bands over the height.
    int32_t BandRows = 0;
    // Upper bound of the blurred particles' pictures held at once (their drawn
    // parts, made before the bands draw them): the particles are drawn in
    // waves, oldest first, whose pictures fit together; a blurred particle over
    // the bound on its own is made in each band that draws it, for that band's
    // rows.
    std::size_t BlurredBytes = std::size_t(256) << 20;
};

struct PlanBuffers;

// Composites every live particle into the frame's output image (FrameLook::Out)
// on the runner's workers: the frame's source shapes are made in parallel, then
// the output is drawn band by band, every band taking the particles that cross
// it oldest first, each particle's rows resampled, tinted and blended in turn.
// The plan buffers are kept from frame to frame.
class Compositor {
public:
    explicit Compositor(const CompositeOptions& options = {});
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    void Composite(FrameLook look, const LiveParticles& particles, PassRunner& runner);

private:
    CompositeOptions Options;
    std::unique_ptr<PlanBuffers> Buffers;
};
