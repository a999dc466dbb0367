// The operator's own saved block: what Save writes around the host's part, what
// a restored tool reads back, and how the reader treats damaged data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/archive.h"
#include "host/registry.h"
#include "host/tags.h"
#include "operator/particle_operator.h"

namespace {

uint32_t WordAt(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void PutWord(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
uint32_t FloatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}
float BitsFloat(uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

ShapeLevel MakeLevel(int32_t w, int32_t h, float sx, float sy, uint16_t seed) {
    ShapeLevel level;
    level.Width = w;
    level.Height = h;
    level.ScaleX = sx;
    level.ScaleY = sy;
    level.Pixels.resize(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < level.Pixels.size(); ++i) level.Pixels[i] = uint16_t(seed + i * 4099);
    return level;
}

class SavedBlock : public ::testing::Test {
protected:
    SavedBlock() : Reg(&ClassRegistry, "SavedBlockTest", {}) { Op = NewTool(nullptr); }
    ~SavedBlock() override { Op->Recycle(); }

    ParticleOperator* NewTool(CArchive* archive) {
        TagList tags;
        return static_cast<ParticleOperator*>(CreateParticleOperator(&Reg, archive, &tags));
    }
    std::vector<uint8_t> SaveOf(ParticleOperator* op, uint32_t* result = nullptr) {
        CArchive ar;
        const uint32_t r = op->Save(&ar, nullptr);
        if (result) *result = r;
        return ar.Buffer();
    }
    // The size of the host's own part of a saved operator.
    size_t HostPartSize() {
        CArchive ar;
        Op->Operator::Save(&ar, nullptr);
        return ar.Buffer().size();
    }
    // Restores a tool the way the host does: the class ID is the host's to read,
    // the rest goes to the factory. Leaves the archive for inspection.
    ParticleOperator* Restore(const std::vector<uint8_t>& saved, CArchive** left = nullptr) {
        EXPECT_EQ(WordAt(saved, 0), ClassId);
        auto* ar = new CArchive(std::vector<uint8_t>(saved.begin() + 4, saved.end()));
        ParticleOperator* op = nullptr;
        try {
            op = NewTool(ar);
        } catch (...) {
            delete ar;
            throw;
        }
        if (left) *left = ar;
        else delete ar;
        return op;
    }
    // The saved data of a tool up to the end of the host's part, followed by the given block.
    std::vector<uint8_t> WithBlock(const std::vector<uint8_t>& block) {
        std::vector<uint8_t> bytes = SaveOf(Op);
        bytes.resize(4 + HostPartSize());
        bytes.insert(bytes.end(), block.begin(), block.end());
        return bytes;
    }

    Registry Reg;
    ParticleOperator* Op = nullptr;
};

TEST_F(SavedBlock, ToolWithoutShapesAddsTwelveBytesOfItsOwn) {
    uint32_t result = 7;
    const std::vector<uint8_t> saved = SaveOf(Op, &result);
    const size_t host = HostPartSize();
    ASSERT_EQ(saved.size(), host + 12);
    EXPECT_EQ(WordAt(saved, 0), 0x8046000Du);
    EXPECT_EQ(WordAt(saved, 4 + host), 0u);
    EXPECT_EQ(WordAt(saved, 8 + host), 0x43646E45u);
    EXPECT_EQ(std::memcmp(&saved[8 + host], "EndC", 4), 0);
    EXPECT_EQ(result, 1u);

    CArchive* left = nullptr;
    ParticleOperator* restored = Restore(saved, &left);
    EXPECT_EQ(left->Remaining(), 0u);
    EXPECT_EQ(restored->PreloadedPresent.load(), 0);
    EXPECT_EQ(restored->PreloadedShapes.Count(), 0);
    EXPECT_EQ(restored->InPreloadShapes->GetAttrLong(Tags::Disabled, -1), 0);
    EXPECT_EQ(restored->InDeletePreloaded->GetAttrLong(Tags::Disabled, -1), 1);
    delete left;
    restored->Recycle();
}

TEST_F(SavedBlock, ShapesAreWrittenWithTheirBlockSizeAndCount) {
    const int n = 3;
    for (int i = 0; i < n; ++i) Op->PreloadedShapes.Levels.push_back(MakeLevel(2, 1, 1.0f, 1.0f, uint16_t(i * 100)));
    Op->PreloadedPresent = 1;
    const std::vector<uint8_t> saved = SaveOf(Op);
    const size_t host = HostPartSize();
    ASSERT_EQ(saved.size(), 4 + host + 4 + 4 + n * 32 + 4);
    size_t at = 4 + host;
    EXPECT_EQ(WordAt(saved, at), uint32_t(4 + n * 32));
    EXPECT_EQ(WordAt(saved, at + 4), uint32_t(n));
    at += 8;
    for (int i = 0; i < n; ++i, at += 32) {
        EXPECT_EQ(WordAt(saved, at), 2u);
        EXPECT_EQ(WordAt(saved, at + 4), 1u);
        EXPECT_EQ(WordAt(saved, at + 8), FloatBits(1.0f));
        // Pixels in buffer order, red, green, blue, alpha, little-endian.
        const std::vector<uint16_t>& px = Op->PreloadedShapes.Levels[size_t(i)].Pixels;
        for (size_t k = 0; k < 8; ++k)
            EXPECT_EQ(uint16_t(saved[at + 16 + 2 * k] | saved[at + 17 + 2 * k] << 8), px[k]);
    }
    EXPECT_EQ(WordAt(saved, at), ShapeEndMarker);
}

TEST_F(SavedBlock, RestoredShapesMatchBitForBitAndSwapTheButtons) {
    const float nanWithPayload = BitsFloat(0x7FC12345u);
    const float denormal = BitsFloat(0x00000001u);
    ShapeSet& set = Op->PreloadedShapes;
    set.Levels.push_back(MakeLevel(3, 2, 1.0f, 0.9f, 1));
    set.Levels.push_back(MakeLevel(1, 5, -0.0f, nanWithPayload, 2));
    set.Levels.push_back(MakeLevel(7, 1, denormal, std::numeric_limits<float>::infinity(), 3));
    // A shape captured from an empty image: nothing to draw, but still part of the set.
    set.Levels.push_back(MakeLevel(0, 0, 1.0f, 1.0f, 4));
    Op->PreloadedPresent = 1;

    const std::vector<uint8_t> saved = SaveOf(Op);
    EXPECT_EQ(WordAt(saved, 4 + HostPartSize()), uint32_t(4 + 8 * (3 * 2 + 2) + 8 * (1 * 5 + 2) + 8 * (7 + 2) + 16));
    CArchive* left = nullptr;
    ParticleOperator* restored = Restore(saved, &left);
    EXPECT_EQ(left->Remaining(), 0u);
    delete left;

    ASSERT_EQ(restored->PreloadedShapes.Count(), set.Count());
    for (int i = 0; i < set.Count(); ++i) {
        const ShapeLevel& a = set.Levels[size_t(i)];
        const ShapeLevel& b = restored->PreloadedShapes.Levels[size_t(i)];
        SCOPED_TRACE(i);
        EXPECT_EQ(b.Width, a.Width);
        EXPECT_EQ(b.Height, a.Height);
        EXPECT_EQ(FloatBits(b.ScaleX), FloatBits(a.ScaleX));
        EXPECT_EQ(FloatBits(b.ScaleY), FloatBits(a.ScaleY));
        EXPECT_EQ(b.Pixels, a.Pixels);
    }
    EXPECT_EQ(restored->PreloadedPresent.load(), 1);
    EXPECT_EQ(restored->InDeletePreloaded->GetAttrLong(Tags::Disabled, -1), 0);
    EXPECT_EQ(restored->InPreloadShapes->GetAttrLong(Tags::Disabled, -1), 1);

    // Saved again, the restored tool writes the same bytes.
    EXPECT_EQ(SaveOf(restored), saved);
    restored->Recycle();
}

TEST_F(SavedBlock, AnUnfinishedCaptureIsNotSaved) {
    Op->PreloadedShapes.Levels.push_back(MakeLevel(2, 2, 1.0f, 1.0f, 1));
    Op->PreloadedPresent = 0;
    const std::vector<uint8_t> saved = SaveOf(Op);
    EXPECT_EQ(saved.size(), HostPartSize() + 12);
}

TEST_F(SavedBlock, EndMarkerIsReadButNotChecked) {
    std::vector<uint8_t> block;
    PutWord(block, 0);
    PutWord(block, 0xDEADBEEF);
    CArchive* left = nullptr;
    ParticleOperator* restored = Restore(WithBlock(block), &left);
    EXPECT_EQ(left->Remaining(), 0u);
    delete left;
    restored->Recycle();
}

TEST_F(SavedBlock, ATruncatedBlockFailsConstruction) {
    Op->PreloadedShapes.Levels.push_back(MakeLevel(2, 3, 1.0f, 1.0f, 1));
    Op->PreloadedShapes.Levels.push_back(MakeLevel(1, 1, 1.0f, 1.0f, 2));
    Op->PreloadedPresent = 1;
    const std::vector<uint8_t> saved = SaveOf(Op);
    const size_t host = HostPartSize();
    // Every cut inside the operator's own block, down to the missing end marker.
    for (size_t keep = 4 + host; keep < saved.size(); ++keep) {
        const std::vector<uint8_t> cut(saved.begin(), saved.begin() + long(keep));
        EXPECT_THROW(Restore(cut), CArchiveException) << "kept " << keep << " of " << saved.size();
    }
}

TEST_F(SavedBlock, ImplausibleCountsAndSizesAreRejectedWithAMessage) {
    struct Case {
        const char* what;
        std::vector<uint32_t> words;
    } cases[] = {
        {"huge count", {1, 0xFFFFFFFFu}},
        {"count above the limit", {1, 100001}},
        {"count beyond the data", {1, 50, 1, 1, 0, 0}},
        {"negative width", {1, 1, 0xFFFFFFFFu, 1, 0, 0}},
        {"negative height", {1, 1, 1, 0x80000000u, 0, 0}},
        {"more pixels than any image", {1, 1, 70000, 70000, 0, 0}},
        {"pixels beyond the data", {1, 1, 1000, 1000, 0, 0, 0, 0}},
        {"second shape beyond the data", {1, 2, 1, 1, 0, 0, 0, 0, 100, 100, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> block;
        for (uint32_t w : c.words) PutWord(block, w);
        PutWord(block, ShapeEndMarker);
        try {
            ParticleOperator* op = Restore(WithBlock(block));
            op->Recycle();
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const CArchiveException& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("saved particle shapes"), std::string::npos) << c.what << ": " << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << c.what;
        }
    }
}

TEST_F(SavedBlock, AnyNonZeroSizeWordMeansShapesFollow) {
    // The size word is only a flag; a block written with a wrong size still reads.
    std::vector<uint8_t> block;
    PutWord(block, 12345);
    PutWord(block, 1);
    PutWord(block, 1);
    PutWord(block, 1);
    PutWord(block, FloatBits(2.0f));
    PutWord(block, FloatBits(0.5f));
    PutWord(block, 0x00020001);
    PutWord(block, 0x00040003);
    PutWord(block, ShapeEndMarker);
    ParticleOperator* op = Restore(WithBlock(block));
    ASSERT_EQ(op->PreloadedShapes.Count(), 1);
    EXPECT_EQ(op->PreloadedShapes.Levels[0].Pixels, (std::vector<uint16_t>{1, 2, 3, 4}));
    EXPECT_EQ(op->PreloadedShapes.Levels[0].ScaleX, 2.0f);
    op->Recycle();
}

}  // namespace
