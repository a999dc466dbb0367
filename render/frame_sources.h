#pragma once
// The source shapes of a frame's particles, each distinct one made once for
// the frame and shared by the particles drawn from it, within a byte budget.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "host/image.h"
#include "render/particle_plan.h"
#include "render/pixel_kernels.h"
#include "render/shape_set.h"

// A source shape of the frame in the kernels' form: blue, green, red, alpha
// words (the output's order, so the blend needs no reordering), read in place
// from a host image or made once for the frame from a captured level (mixed
// with the next level where the particle's age falls between the two) or from a
// host image with routines of its own; for the spline, also as doubles.
struct FrameSource {
    enum class Kind { InPlace, HostImage, Level };
    Kind From = Kind::InPlace;
    const Image* Img = nullptr;
    const ShapeLevel* Level = nullptr;
    const ShapeLevel* Next = nullptr;
    uint32_t Mix = 0;
    bool MakeWide = false;
    SourceView View;
    std::vector<uint16_t> Words;
    std::vector<double> WideWords;
    std::vector<uint8_t> ClearMap;
    bool Ready = false;
};

// What tells a plan's source apart: images read in place by their pixels
// (copies of one shape share them), the others by what they are made from.
// Worked out with the plan, on the workers, so that finding the sources (on
// one thread) need not reach into every particle's image.
struct SourceId {
    FrameSource::Kind From = FrameSource::Kind::InPlace;
    const void* Id = nullptr;
    const ShapeLevel* Next = nullptr;
    uint32_t Mix = 0;
    int32_t W = 0, H = 0;
    bool operator==(const SourceId&) const = default;
};

SourceId SourceIdOf(const ParticlePlan& plan, bool inPlace);

// Makes a source that is not read in place: its words, and its doubles for the
// spline when asked. One that cannot be allocated is left not ready.
void MakeSource(FrameSource& s);

// The frame's sources: each distinct one made once, as long as all of them fit
// in the budget (the doubles for the spline only when they fit too); a particle
// whose source is over the budget makes its own copy in each band that draws it.
class FrameSources {
public:
    FrameSources(std::size_t budget, bool spline) : Budget(budget), Spline(spline) {}

    // The index of plan's source (sid), or -1 when the particle makes its own.
    int32_t Find(const ParticlePlan& plan, const SourceId& sid) {
        // Particles of one shape mostly come one after another: the answer
        // for the one before, when this one has the same source.
        if (LastIndex == NotFound || !(sid == LastId)) {
            LastId = sid;
            LastIndex = Look(plan, sid);
        }
        return LastIndex;
    }

    std::vector<FrameSource> Sources;
    std::vector<int32_t> ToMake;  // the sources to make before the bands

private:
    int32_t Look(const ParticlePlan& plan, const SourceId& sid);

    static constexpr int32_t NotFound = INT32_MIN;
    SourceId LastId;
    int32_t LastIndex = NotFound;
    std::size_t Budget, Used = 0;
    bool Spline;
    std::unordered_multimap<const void*, int32_t> Index;
};

// A particle's source when it makes its own (over the budget): into the
// worker's scratch.
bool OwnSource(const ParticlePlan& plan, std::vector<uint16_t>& scratch, SourceView& view);
