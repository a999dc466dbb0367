// The operator's own saved block: what Save writes around the host's part, what
// a restored tool reads back, and how the reader treats damaged data.
#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/archive.h"
#include "host/registry.h"
#include "host/tags.h"
#include "operator/particle_operator.h"

namespace {

using Bytes = std::vector<uint8_t>;
uint32_t WordAt(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
Bytes Words(const std::vector<uint32_t>& words) {
    Bytes b;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(w >> (8 * i)));
    return b;
}
uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

ShapeLevel MakeLevel(int32_t w, int32_t h, float sx = 1.0f, float sy = 1.0f, uint16_t seed = 1) {
    ShapeLevel level{w, h, sx, sy, {}};
    level.Pixels.resize(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < level.Pixels.size(); ++i) level.Pixels[i] = uint16_t(seed + i * 4099);
    return level;
}

class SavedBlock : public ::testing::Test {
protected:
    ~SavedBlock() override { Op->Recycle(); }
    ParticleOperator* NewTool(CArchive* archive) {
        return static_cast<ParticleOperator*>(CreateParticleOperator(&Reg, archive, nullptr));
    }
    Bytes SaveOf(ParticleOperator* op) {
        CArchive ar;
        EXPECT_EQ(op->Save(&ar, nullptr), 1u);
        return ar.Buffer();
    }
    // The class ID and the host's own part of a saved operator.
    size_t HostPart() {
        CArchive ar;
        Op->Operator::Save(&ar, nullptr);
        return 4 + ar.Buffer().size();
    }
    // Restores a tool the way the host does: the class ID is the host's to read,
    // the rest goes to the factory. Left is what the tool did not read.
    std::unique_ptr<ParticleOperator, void (*)(ParticleOperator*)> Restore(const Bytes& saved) {
        EXPECT_EQ(WordAt(saved, 0), 0x8046000Du);
        CArchive ar(Bytes(saved.begin() + 4, saved.end()));
        ParticleOperator* op = NewTool(&ar);
        Left = ar.Remaining();
        return {op, [](ParticleOperator* p) { p->Recycle(); }};
    }
    // A new tool's saved data up to the end of the host's part, then the block.
    Bytes WithBlock(const Bytes& block) {
        Bytes bytes = SaveOf(Op);
        bytes.resize(HostPart());
        bytes.insert(bytes.end(), block.begin(), block.end());
        return bytes;
    }

    Registry Reg{&ClassRegistry, "SavedBlockTest", {}};
    ParticleOperator* Op = NewTool(nullptr);
    size_t Left = 0;
};

TEST_F(SavedBlock, ToolWithoutShapesAddsAZeroSizeAndTheEndMarkerAndRestoresWithoutShapes) {
    const Bytes saved = SaveOf(Op);
    Bytes block = Words({0});
    block.insert(block.end(), {'E', 'n', 'd', 'C'});
    EXPECT_EQ(saved, WithBlock(block));
    auto restored = Restore(WithBlock(Words({0, 0xDEADBEEF})));  // the end marker is not checked
    EXPECT_EQ(Left, 0u);
    EXPECT_EQ(std::tuple(restored->Shapes.HasPreloaded(), restored->Shapes.Preloaded().Count(),
                         restored->ControlInput("PreloadShapes")->GetAttrLong(Tags::Disabled, -1),
                         restored->ControlInput("DeletePreloaded")->GetAttrLong(Tags::Disabled, -1)),
              std::tuple(false, 0, 0, 1));
    // A capture still running is not saved.
    ASSERT_TRUE(Op->Shapes.ReserveCapture(1));
    Op->Shapes.StartCapture();
    EXPECT_EQ(SaveOf(Op), saved);
}

TEST_F(SavedBlock, ShapesOfAnySizeAreWrittenInOrderAndRestoreBitForBitAndSwapTheButtons) {
    ShapeSet set;
    set.Levels.push_back(MakeLevel(3, 2, 1.0f, 0.9f, 1));
    set.Levels.push_back(MakeLevel(1, 5, -0.0f, std::bit_cast<float>(0x7FC12345u), 2));  // NaN with a payload
    set.Levels.push_back(MakeLevel(7, 1, std::bit_cast<float>(1u), std::numeric_limits<float>::infinity(), 3));
    set.Levels.push_back(MakeLevel(0, 0));  // captured from an empty image: still part of the set
    Op->Shapes.AdoptPreloaded(ShapeSet(set));

    // Block size, count, then each shape's size, scales and pixels (buffer order,
    // little-endian), and the end marker.
    const Bytes saved = SaveOf(Op);
    size_t at = HostPart();
    EXPECT_EQ(WordAt(saved, at), uint32_t(4 + 8 * (3 * 2 + 2) + 8 * (1 * 5 + 2) + 8 * (7 + 2) + 16));
    EXPECT_EQ(WordAt(saved, at + 4), 4u);
    at += 8;
    for (const ShapeLevel& level : set.Levels) {
        Bytes want = Words({uint32_t(level.Width), uint32_t(level.Height), Bits(level.ScaleX), Bits(level.ScaleY)});
        for (uint16_t p : level.Pixels) want.insert(want.end(), {uint8_t(p), uint8_t(p >> 8)});
        ASSERT_LE(at + want.size(), saved.size());
        EXPECT_EQ(Bytes(saved.begin() + long(at), saved.begin() + long(at + want.size())), want);
        at += want.size();
    }
    EXPECT_EQ(WordAt(saved, at), ShapeEndMarker);
    ASSERT_EQ(saved.size(), at + 4);

    auto restored = Restore(saved);
    EXPECT_EQ(Left, 0u);
    ASSERT_EQ(restored->Shapes.Preloaded().Count(), set.Count());
    for (int i = 0; i < set.Count(); ++i) {
        const ShapeLevel& a = set.Levels[size_t(i)];
        const ShapeLevel& b = restored->Shapes.Preloaded().Levels[size_t(i)];
        EXPECT_EQ(std::tuple(b.Width, b.Height, Bits(b.ScaleX), Bits(b.ScaleY)),
                  std::tuple(a.Width, a.Height, Bits(a.ScaleX), Bits(a.ScaleY))) << i;
        EXPECT_EQ(b.Pixels, a.Pixels) << i;
    }
    EXPECT_EQ(std::tuple(restored->Shapes.HasPreloaded(), restored->ControlInput("PreloadShapes")->GetAttrLong(Tags::Disabled, -1),
                         restored->ControlInput("DeletePreloaded")->GetAttrLong(Tags::Disabled, -1)),
              std::tuple(true, 1, 0));
    EXPECT_EQ(SaveOf(restored.get()), saved) << "saved again, the restored tool writes the same bytes";

    // Every cut inside the block, down to the missing end marker, fails.
    for (size_t keep = HostPart(); keep < saved.size(); ++keep)
        EXPECT_THROW(Restore(Bytes(saved.begin(), saved.begin() + long(keep))), CArchiveException) << keep;
}

TEST_F(SavedBlock, TheSizeWordIsOnlyAFlag) {
    auto restored = Restore(WithBlock(Words({12345, 1, 1, 1, Bits(2.0f), Bits(0.5f), 0x00020001, 0x00040003, 0})));
    EXPECT_EQ(Left, 0u);
    const ShapeSet& set = restored->Shapes.Preloaded();
    ASSERT_EQ(set.Count(), 1);
    EXPECT_EQ(set.Levels[0].Pixels, (std::vector<uint16_t>{1, 2, 3, 4}));
    EXPECT_EQ(set.Levels[0].ScaleX, 2.0f);
}

TEST_F(SavedBlock, ImplausibleCountsAndSizesAreRejectedWithAMessage) {
    const std::pair<const char*, std::vector<uint32_t>> cases[] = {
        {"huge count", {1, 0xFFFFFFFFu}},
        {"count above the limit", {1, 100001}},
        {"count beyond the data", {1, 50, 1, 1, 0, 0}},
        {"negative width", {1, 1, 0xFFFFFFFFu, 1, 0, 0}},
        {"negative height", {1, 1, 1, 0x80000000u, 0, 0}},
        {"more pixels than any image", {1, 1, 70000, 70000, 0, 0}},
        {"pixels beyond the data", {1, 1, 1000, 1000, 0, 0, 0, 0}},
        {"second shape beyond the data", {1, 2, 1, 1, 0, 0, 0, 0, 100, 100, 0, 0, 0}},
    };
    for (auto [what, words] : cases) {
        words.push_back(ShapeEndMarker);
        try {
            Restore(WithBlock(Words(words)));
            ADD_FAILURE() << what << ": accepted";
        } catch (const CArchiveException& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("saved particle shapes"), std::string::npos) << what << ": " << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << what;
        }
    }
}

}  // namespace
