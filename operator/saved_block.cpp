#include <string>

#include "host/archive.h"
#include "host/tags.h"
#include "operator/particle_operator.h"

// The operator's own saved block follows the host's part of the saved data:
//   shape block size (0: no shapes), then when not 0: the shape count and per
//   shape width, height, two scale floats and width * height RGBA 16-bit pixels;
//   then the end marker "EndC". Little-endian throughout.
namespace {

// Limits a reader applies to a block it did not write itself. Every block the
// writer produces lies within them: the shape count of a capture is a frame
// count of the shape range (at most 10001), and a shape has the size of a host
// image (any side from 0 up, at most 2^31 pixels).
constexpr uint32_t MaxShapeCount = 100000;
constexpr uint64_t MaxShapePixels = uint64_t(1) << 31;

[[noreturn]] void Reject(const std::string& what) {
    throw CArchiveException("saved particle shapes are damaged: " + what);
}

}  // namespace

uint32_t ParticleOperator::Save(CArchive* archive, TagList* tags) {
    *archive << ClassId;
    const uint32_t result = Operator::Save(archive, tags);
    if (!Shapes.HasPreloaded()) {
        *archive << uint32_t(0);
    } else {
        const ShapeSet& set = Shapes.Preloaded();
        // The size word only tells a reader that shapes follow; a set too large
        // for 32 bits is held at the largest value rather than wrapping (to 0,
        // which would read back as "no shapes").
        uint64_t size = 4;
        for (const ShapeLevel& level : set.Levels) size += 8 * (uint64_t(level.Width) * uint64_t(level.Height) + 2);
        *archive << uint32_t(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size);
        *archive << uint32_t(set.Count());
        for (const ShapeLevel& level : set.Levels) {
            *archive << level.Width << level.Height << level.ScaleX << level.ScaleY;
            const size_t values = size_t(level.Width) * size_t(level.Height) * 4;
            for (size_t i = 0; i < values; ++i) *archive << level.Pixels[i];
        }
    }
    *archive << ShapeEndMarker;
    return result & 1;
}

// Reads the block of a restored tool (the host and the base class have read
// everything before it). Counts and sizes are checked against the limits above
// and against what the archive still holds before anything is allocated, so a
// damaged or hostile block fails with a clear message instead of exhausting
// memory.
void ParticleOperator::ReadSavedBlock(CArchive* archive) {
    uint32_t blockSize = 0;
    *archive >> blockSize;
    if (blockSize != 0) {
        uint32_t count = 0;
        *archive >> count;
        if (count > MaxShapeCount) Reject("shape count " + std::to_string(count) + " is implausible");
        // Each shape needs at least its 16-byte header.
        if (uint64_t(count) * 16 > archive->Remaining())
            Reject("shape count " + std::to_string(count) + " exceeds the saved data");
        ShapeSet shapes;
        shapes.Levels.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            ShapeLevel& level = shapes.Levels[i];
            *archive >> level.Width >> level.Height >> level.ScaleX >> level.ScaleY;
            if (level.Width < 0 || level.Height < 0 ||
                uint64_t(level.Width) * uint64_t(level.Height) > MaxShapePixels)
                Reject("shape " + std::to_string(i) + " has an implausible size " + std::to_string(level.Width) +
                       " x " + std::to_string(level.Height));
            const uint64_t values = uint64_t(level.Width) * uint64_t(level.Height) * 4;
            if (values * 2 > archive->Remaining())
                Reject("shape " + std::to_string(i) + " of " + std::to_string(level.Width) + " x " +
                       std::to_string(level.Height) + " pixels exceeds the saved data");
            level.Pixels.resize(size_t(values));
            for (uint16_t& value : level.Pixels) *archive >> value;
        }
        Shapes.AdoptPreloaded(std::move(shapes));
        SetDisabled(InDeletePreloaded, 0);
        SetDisabled(InPreloadShapes, 1);
    }
    // The end marker is read and not checked: older blocks may carry any word here.
    uint32_t endMarker = 0;
    *archive >> endMarker;
}
