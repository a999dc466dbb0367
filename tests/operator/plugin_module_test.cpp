// The tool as the host finds it: the plug-in module loaded from the plug-in
// folder, its registration record, its resources and its factory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "host/plugins.h"
#include "host/registry.h"
#include "operator/input_names.h"
#include "operator/particle_operator.h"

namespace {

uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

class PlugInModule : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // ctest names the build's plug-in folder; a direct run falls back to it too.
        setenv("LUMETS_PLUGIN_PATH", LUMETS_PLUGIN_BUILD_DIR, 0);
        plugins::LoadAll();
    }
    static void TearDownTestSuite() { plugins::UnloadAll(); }
    void SetUp() override {
        Reg = ClassRegistry.Find("SamplePlugIn");
        ASSERT_NE(Reg, nullptr) << "module not found; load errors: " << plugins::LoadErrors().size();
    }
    Registry* Reg = nullptr;
};

TEST_F(PlugInModule, RegistersTheToolWithEveryTagInOrder) {
    EXPECT_EQ(Reg->ClassId(), "SamplePlugIn");
    const auto& items = Reg->RegTagList().Items;
    std::vector<uint32_t> order;
    for (const TagItem& item : items) order.push_back(item.Tag);
    ASSERT_EQ(order, (std::vector<uint32_t>{0x10000001, 0x10000002, 0x10000000, 0x10000005, 0x10000003, 0x10000011,
                                            0x10000006, 0x1000000F, 0x1000000B, 0x1000000C, 0x10000022}));
    auto text = [&](size_t i) { return std::string(reinterpret_cast<const char*>(items[i].Long)); };
    EXPECT_EQ(items[0].Long, reinterpret_cast<intptr_t>(&Registry::RegInit));
    EXPECT_EQ(items[1].Long, reinterpret_cast<intptr_t>(&Registry::RegCleanup));
    EXPECT_NE(items[2].Long, 0);
    EXPECT_EQ(uint32_t(items[3].Long), 0x8046000Du);
    EXPECT_EQ(std::tuple(items[4].Long, items[5].Long, items[10].Long), std::tuple(3, 2000, 1));
    EXPECT_EQ(std::tuple(text(6), text(7), text(8), text(9)),
              std::tuple("Lumet-s v2.0", "Corvane", "S1", "Adds customized particles to your flow"));
}

TEST_F(PlugInModule, TileBitmapIsA116By87TwentyFourBitBottomUpBitmap) {
    const Resource r = Reg->GetResource(2000);
    const uint32_t rowBytes = 116 * 3;  // a multiple of 4: rows carry no padding
    ASSERT_EQ(r.Size, 14 + 40 + rowBytes * 87);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.Data), 2), "BM");
    // Offset and little-endian word: file size, pixel offset, header size, width,
    // a positive height (rows stored bottom-up), 1 plane and 24 bits, no
    // compression, pixel bytes.
    const std::pair<size_t, uint32_t> words[] = {{2, uint32_t(r.Size)}, {10, 54}, {14, 40}, {18, 116}, {22, 87},
                                                 {26, 1 | 24 << 16},    {30, 0},  {34, rowBytes * 87}};
    for (auto [at, want] : words) EXPECT_EQ(U32(r.Data + at), want) << "at " << at;
    // The picture is brighter at its bottom (the fountain's glow), so the first
    // row stored, the bottom one, outshines the last.
    auto rowSum = [&](uint32_t stored) {
        long sum = 0;
        for (uint32_t i = 0; i < rowBytes; ++i) sum += r.Data[54 + stored * rowBytes + i];
        return sum;
    };
    EXPECT_GT(rowSum(0), rowSum(86));
    EXPECT_EQ(Reg->GetResource(2000).Data, r.Data) << "two lookups hand out the same bytes";
}

TEST_F(PlugInModule, InputNameResourceIsTheToolsOwnTableAndUnknownIdsGiveNothing) {
    const Resource r = Reg->GetResource(2001);
    ASSERT_NE(r.Data, nullptr);
    // The module's factory builds the tool, handed over with the one reference.
    auto* op = static_cast<ParticleOperator*>(Reg->Create(nullptr, nullptr));
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->RefCount(), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.Data), r.Size), InputNameTable(*op));
    op->Recycle();
    EXPECT_EQ(std::tuple(Reg->GetResource(1999).Data, Reg->GetResource(1999).Size), std::tuple(nullptr, size_t(0)));
}

}  // namespace
