#pragma once
#include <cstddef>
#include <cstdint>

class ParticleOperator;
class Request;

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

// Composites every live particle into the operator's OutputImage on the host's
// worker threads: the frame's source shapes are made in parallel, then the
// output is drawn band by band, every band taking the particles that cross it
// oldest first, each particle's rows resampled, tinted and blended in turn.
void CompositeParticlesBanded(ParticleOperator& op, Request* req, const CompositeOptions& options);

// The plain path: one particle after the other, oldest first, each drawn whole
// through the output's read-pixel and write-pixel routines. The banded path is
// checked against it.
void CompositeParticlesReference(ParticleOperator& op);
