#pragma once
#include <cstddef>
#include <cstdint>

class ParticleOperator;
class Request;

// How a compositing pass splits its work. Neither choice changes a pixel: the
// picture is always the one of drawing the particles one at a time, oldest first.
struct CompositeOptions {
    // Upper bound of the prepared particle pictures held at once; particles are
    // prepared and blended in batches below it (a batch has at least one).
    std::size_t BatchBytes = std::size_t(64) << 20;
    // Output rows per blending band; 0 picks about 64 bands over the height.
    int32_t BandRows = 0;
};

// Composites every live particle into the operator's OutputImage on the host's
// worker threads: each batch of particles is prepared in parallel (shape, size,
// resampling, tint), then blended band by band, every band taking the particles
// that cross it oldest first.
void CompositeParticlesBanded(ParticleOperator& op, Request* req, const CompositeOptions& options);

// The plain path: one particle after the other, oldest first, each drawn whole
// through the output's read-pixel and write-pixel routines. The banded path is
// checked against it.
void CompositeParticlesReference(ParticleOperator& op);
