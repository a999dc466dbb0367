// The tool as the host finds it: the plug-in module loaded from the plug-in
// folder, its registration record, its resources and its factory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "host/fourcc.h"
#include "host/plugins.h"
#include "host/registry.h"
#include "operator/input_names.h"
#include "operator/particle_operator.h"

namespace {

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

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
    const uint32_t order[] = {0x10000001, 0x10000002, 0x10000000, 0x10000005, 0x10000003, 0x10000011,
                              0x10000006, 0x1000000F, 0x1000000B, 0x1000000C, 0x10000022};
    ASSERT_EQ(items.size(), std::size(order));
    for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].Tag, order[i]) << i;
    auto text = [&](size_t i) { return std::string(reinterpret_cast<const char*>(items[i].Long)); };
    EXPECT_EQ(items[0].Long, reinterpret_cast<intptr_t>(&Registry::RegInit));
    EXPECT_EQ(items[1].Long, reinterpret_cast<intptr_t>(&Registry::RegCleanup));
    EXPECT_NE(items[2].Long, 0);
    EXPECT_EQ(uint32_t(items[3].Long), 0x8046000Du);
    EXPECT_EQ(items[4].Long, 3);
    EXPECT_EQ(items[5].Long, 2000);
    EXPECT_EQ(text(6), "Lumet-s v2.0");
    EXPECT_EQ(text(7), "Corvane");
    EXPECT_EQ(text(8), "S1");
    EXPECT_EQ(text(9), "Adds customized particles to your flow");
    EXPECT_EQ(items[10].Long, 1);
}

TEST_F(PlugInModule, TileBitmapIsA116By87TwentyFourBitBottomUpBitmap) {
    const Resource r = Reg->GetResource(2000);
    ASSERT_NE(r.Data, nullptr);
    const int rowBytes = 116 * 3;  // a multiple of 4: rows carry no padding
    ASSERT_EQ(r.Size, size_t(14 + 40 + rowBytes * 87));
    const uint8_t* b = r.Data;
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b + 2), r.Size);
    EXPECT_EQ(U32(b + 10), 54u);
    EXPECT_EQ(U32(b + 14), 40u);
    EXPECT_EQ(int32_t(U32(b + 18)), 116);
    EXPECT_EQ(int32_t(U32(b + 22)), 87) << "a positive height: rows stored bottom-up";
    EXPECT_EQ(U16(b + 26), 1);
    EXPECT_EQ(U16(b + 28), 24);
    EXPECT_EQ(U32(b + 30), 0u) << "uncompressed";
    EXPECT_EQ(U32(b + 34), uint32_t(rowBytes * 87));
    // The picture is brighter at its bottom (the fountain's glow), so the first
    // row stored, the bottom one, outshines the last.
    auto rowSum = [&](int stored) {
        long sum = 0;
        for (int i = 0; i < rowBytes; ++i) sum += b[54 + stored * rowBytes + i];
        return sum;
    };
    EXPECT_GT(rowSum(0), rowSum(86));
    // Two lookups hand out the same bytes.
    const Resource again = Reg->GetResource(2000);
    EXPECT_EQ(again.Data, r.Data);
}

TEST_F(PlugInModule, InputNameResourceNamesTheControls) {
    const Resource r = Reg->GetResource(2001);
    ASSERT_NE(r.Data, nullptr);
    const std::string text(reinterpret_cast<const char*>(r.Data), r.Size);
    EXPECT_EQ(text.rfind("74736552 InResetPosition\n", 0), 0u);
    for (const char* line : {"02706ec9 InParticleImage\n", "01706ec9 InImage\n", "017475cf OutImage\n",
                             "36366d44 InLoadedNotice\n", "746e65c3 InStart\n", "7a363335 InSystemFile\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    // The same table the tool's own code gives.
    Registry local(&ClassRegistry, "InputNamesLocal", {});
    auto* op = static_cast<ParticleOperator*>(CreateParticleOperator(&local, nullptr, nullptr));
    EXPECT_EQ(text, InputNameTable(*op));
    op->Recycle();
    // Unknown IDs give nothing.
    EXPECT_EQ(Reg->GetResource(1999).Data, nullptr);
    EXPECT_EQ(Reg->GetResource(1999).Size, 0u);
}

TEST_F(PlugInModule, TheFactoryBuildsAToolThatIsGivenBack) {
    TagList tags{{Tags::RandomSeed, int32_t(5)}};
    Operator* op = Reg->Create(nullptr, &tags);
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->Pages().size(), 9u);
    EXPECT_EQ(op->Outputs().size(), 1u);
    ASSERT_NE(op->FindInput(FourCC("Rest")), nullptr);
    EXPECT_EQ(op->FindInput(FourCC("Rest"))->Label, "Reset Position");
    EXPECT_EQ(op->RefCount(), 1);
    op->Recycle();
}

}  // namespace
