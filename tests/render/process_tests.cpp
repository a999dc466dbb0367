#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "common/tool_harness.h"
#include "host/tags.h"

namespace {

// A harness whose births are counted frame by frame: a long lifetime keeps
// every particle alive.
struct Counting {
    ToolHarness H{64, 48, 4, 4};
    explicit Counting(double birthrate, double slowMotion = 1.0) {
        H.SetNumber(H.Op->InBirthrate, birthrate);
        H.SetNumber(H.Op->InSlowMotion, slowMotion);
        H.SetNumber(H.Op->InLifetime, 10000);
    }
    int32_t Frame(double t, uint32_t flags = 0) {
        const int32_t before = H.Op->LiveCount;
        H.Request_(t, flags);
        return H.Op->LiveCount - before;
    }
};

bool SameImage(const Image* a, const Image* b) {
    if (a->Width != b->Width || a->Height != b->Height) return false;
    return std::equal(a->Data(), a->Data() + std::size_t(a->Width) * a->Height * 4, b->Data());
}

// A shape image that says it was reduced by the given scales from its full size.
Image* ReducedShape(int32_t w, int32_t h, double sx, double sy) {
    Image* img = new Image(w, h);
    img->Fill(HostPixel{65535, 65535, 65535, 65535});
    img->ImageTags().Set(TagItem(Tags::FullWidth, int32_t(w / sx)));
    img->ImageTags().Set(TagItem(Tags::FullHeight, int32_t(h / sy)));
    return img;
}

ShapeLevel PatternLevel(int32_t w, int32_t h) {
    ShapeLevel level;
    level.Width = w;
    level.Height = h;
    level.Pixels.resize(std::size_t(w) * h * 4);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint16_t* p = level.Pixels.data() + (std::size_t(y) * w + x) * 4;
            p[0] = uint16_t(x);
            p[1] = uint16_t(y);
            p[2] = 7;
            p[3] = 65535;
        }
    return level;
}

}  // namespace

TEST(FrameBirths, FractionalBirthrateCarriesItsRemainder) {
    Counting c(2.5);
    std::vector<int32_t> births;
    for (int i = 0; i < 6; ++i) births.push_back(c.Frame(i));
    EXPECT_EQ(births, (std::vector<int32_t>{2, 3, 2, 3, 2, 3}));
}

TEST(FrameBirths, FieldBackgroundHalvesTheStep) {
    Counting c(2.0);
    Image* field = new Image(64, 24);
    field->ImageTags().Set(TagItem(Tags::Field, int32_t(1)));
    c.H.SetImages(field, c.H.Shape);
    field->Recycle();
    EXPECT_EQ(c.Frame(0), 1);
    EXPECT_EQ(c.Frame(1), 1);
    EXPECT_DOUBLE_EQ(c.H.Op->LiveParticle(0).Age, 1.0);  // two half steps
}

TEST(FrameReset, PendingResetEmptiesThePoolBeforeThisFramesBirths) {
    Counting c(3.0);
    c.Frame(0);
    c.Frame(1);
    ASSERT_EQ(c.H.Op->LiveCount, 6);
    c.H.Op->ResetRequested = 1;
    c.Frame(2);
    EXPECT_EQ(c.H.Op->LiveCount, 3);
    EXPECT_EQ(c.H.Op->ResetRequested, 0);
}

TEST(FramePreRoll, RunsRollFramesTimesStepIterations) {
    {
        // 50 frames at SlowMotion 0.5: 25 iterations of one birth each, plus the
        // frame's own birth.
        Counting c(2.0, 0.5);
        c.H.SetNumber(c.H.Op->InRollFrames, 50);
        c.H.Op->FastForwardRequested = 1;
        EXPECT_EQ(c.Frame(0), 26);
        EXPECT_EQ(c.H.Op->FastForwardRequested, 0);
        EXPECT_EQ(c.H.Op->PreRolling, 0);
    }
    {
        // L = 5 x 0.5 = 2.5 runs 3 iterations.
        Counting c(2.0, 0.5);
        c.H.SetNumber(c.H.Op->InRollFrames, 5);
        c.H.Op->FastForwardRequested = 1;
        EXPECT_EQ(c.Frame(0), 4);
    }
    {
        // SlowMotion 0: no iteration, no birth, and the request is gone.
        Counting c(2.0, 0.0);
        c.H.SetNumber(c.H.Op->InRollFrames, 50);
        c.H.Op->FastForwardRequested = 1;
        EXPECT_EQ(c.Frame(0), 0);
        EXPECT_EQ(c.H.Op->FastForwardRequested, 0);
    }
}

TEST(FrameOutput, SimulateOnlyAndSkipCompositingGiveThePlainBackground) {
    Counting c(5.0);
    c.H.Op->PreRolling = 0;
    Image* out = c.H.Request_(0, Request::FlagSimulateOnly);
    EXPECT_GT(c.H.Op->LiveCount, 0);
    EXPECT_TRUE(SameImage(out, c.H.Background));
    c.H.Op->SkipCompositing = 1;
    out = c.H.Request_(1);
    EXPECT_TRUE(SameImage(out, c.H.Background));
    c.H.Op->SkipCompositing = 0;
    out = c.H.Request_(2);
    EXPECT_FALSE(SameImage(out, c.H.Background));
    // The call leaves no links to the request's images behind.
    EXPECT_EQ(c.H.Op->OutputImage, nullptr);
    EXPECT_EQ(c.H.Op->BackgroundImage, nullptr);
    EXPECT_EQ(c.H.Op->ShapeSource, nullptr);
    EXPECT_EQ(c.H.Op->CurrentRequest, nullptr);
}

TEST(FrameOutput, ProcessWaitsForTheRenderGate) {
    Counting c(1.0);
    std::atomic<bool> done{false};
    std::unique_lock<std::mutex> held(c.H.Op->RenderGate);
    std::thread render([&] {
        c.H.Request_(0);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done);
    held.unlock();
    render.join();
    EXPECT_TRUE(done);
}

TEST(ShapePreparation, ReducedFirstShapeIsUpgradedAtTheFirstFullSizeCall) {
    Counting c(1.0);
    Image* reduced = ReducedShape(2, 2, 0.5, 0.5);
    c.H.SetImages(c.H.Background, reduced);
    reduced->Recycle();
    c.Frame(0);
    c.Frame(1);
    ParticleOperator* op = c.H.Op;
    ASSERT_NE(op->ShapeCopy, nullptr);
    EXPECT_EQ(op->ShapeCopy->Width, 2);
    EXPECT_EQ(op->FirstShapeCopy, 1);
    EXPECT_EQ(op->RefreshShapeCopies, 1);
    ASSERT_EQ(op->LiveCount, 2);
    EXPECT_EQ(op->LiveParticle(0).ShapeImage->Width, 2);
    EXPECT_EQ(op->ProxyShapeCopy, nullptr);  // released at the end of the call

    Image* full = new Image(4, 4);
    c.H.SetImages(c.H.Background, full);
    full->Recycle();
    c.Frame(2);
    EXPECT_EQ(op->ShapeCopy->Width, 4);
    EXPECT_EQ(op->RefreshShapeCopies, 0);
    for (int32_t i = 0; i < op->LiveCount; ++i) EXPECT_EQ(op->LiveParticle(i).ShapeImage->Width, 4) << i;

    // Later reduced calls keep the full-size copy for births.
    Image* again = ReducedShape(2, 2, 0.5, 0.5);
    c.H.SetImages(c.H.Background, again);
    again->Recycle();
    c.Frame(3);
    EXPECT_EQ(op->ShapeCopy->Width, 4);
    EXPECT_EQ(op->RefreshShapeCopies, 0);
}

TEST(ShapePreparation, OneAxisReductionKeepsTheShapeAndMakesNoProxy) {
    Counting c(0.0);
    c.Frame(0);
    Image* first = c.H.Op->ShapeCopy;
    Image* oneAxis = ReducedShape(2, 4, 0.5, 1.0);
    c.H.SetImages(c.H.Background, oneAxis);
    oneAxis->Recycle();
    c.Frame(1);
    EXPECT_EQ(c.H.Op->ShapeCopy, first);
    EXPECT_EQ(c.H.Op->ReleaseProxyShape, 0);
}

TEST(ShapePreparation, WorkingShapesFollowTheProxyDivisor) {
    Counting c(0.0);
    ParticleOperator* op = c.H.Op;
    op->PreloadedShapes.Levels = {PatternLevel(65, 33), PatternLevel(9, 9)};
    op->PreloadedPresent = 1;

    Image* half = ReducedShape(32, 16, 0.5, 0.5);
    c.H.SetImages(c.H.Background, half);
    half->Recycle();
    c.Frame(0);
    ASSERT_EQ(op->WorkingPresent, 1);
    EXPECT_EQ(op->WorkingDivisor, 2);
    const ShapeLevel& w = op->WorkingShapes.Levels[0];
    ASSERT_EQ(w.Width, 32);
    ASSERT_EQ(w.Height, 16);
    const uint16_t* px = w.Pixels.data() + (std::size_t(15) * 32 + 31) * 4;
    EXPECT_EQ(px[0], 62);
    EXPECT_EQ(px[1], 30);
    EXPECT_EQ(op->WorkingShapes.Levels[1].Width, 4);

    // The same divisor again does not rebuild: a mark left in the set stays.
    op->WorkingShapes.Levels[0].Pixels[0] = 12345;
    c.Frame(1);
    EXPECT_EQ(op->WorkingShapes.Levels[0].Pixels[0], 12345);

    // Deleting the captured shapes discards the working set with it.
    op->DiscardWorkingShapes();
    EXPECT_EQ(op->WorkingPresent, 0);
    EXPECT_EQ(op->WorkingDivisor, 1);
    EXPECT_EQ(op->WorkingShapes.Count(), 0);
}

TEST(ShapePreparation, DivisorOneOrBelowBuildsNoWorkingShapes) {
    for (double scale : {0.75, 2.0}) {
        Counting c(0.0);
        ParticleOperator* op = c.H.Op;
        op->PreloadedShapes.Levels = {PatternLevel(8, 8)};
        op->PreloadedPresent = 1;
        Image* shape = ReducedShape(6, 6, scale, scale);
        c.H.SetImages(c.H.Background, shape);
        shape->Recycle();
        c.Frame(0);
        EXPECT_EQ(op->WorkingPresent, 0) << scale;
        EXPECT_EQ(op->WorkingDivisor, 1) << scale;
    }
}

TEST(ShapePreparation, WorkingShapesDoNotOutliveTheirCapturedSet) {
    Counting c(0.0);
    ParticleOperator* op = c.H.Op;
    op->PreloadedShapes.Levels = {PatternLevel(8, 8)};
    op->PreloadedPresent = 1;
    Image* half = ReducedShape(4, 4, 0.5, 0.5);
    c.H.SetImages(c.H.Background, half);
    half->Recycle();
    c.Frame(0);
    ASSERT_EQ(op->WorkingPresent, 1);
    op->PreloadedShapes.Clear();
    op->PreloadedPresent = 0;
    c.Frame(1);
    EXPECT_EQ(op->WorkingPresent, 0);
    EXPECT_EQ(op->WorkingDivisor, 1);
}

TEST(ShapeCapture, StoresOneShapePerWholeFrameAndNeverPastTheSet) {
    Counting c(0.0);
    ParticleOperator* op = c.H.Op;
    Image* shape = new Image(3, 2, 1.5, 0.5);
    shape->SetPixel(2, 1, HostPixel{1, 2, 3, 4});
    c.H.SetImages(c.H.Background, shape);
    shape->Recycle();
    op->PreloadedShapes.Levels.resize(2);
    op->PreloadNext = 0;
    op->PreloadCapturing = 1;
    for (double t : {10.0, 10.5, 11.0}) c.Frame(t);
    EXPECT_EQ(op->PreloadNext, 2);
    const ShapeLevel& level = op->PreloadedShapes.Levels[1];
    EXPECT_EQ(level.Width, 3);
    EXPECT_EQ(level.Height, 2);
    EXPECT_FLOAT_EQ(level.ScaleX, 1.5f);
    EXPECT_FLOAT_EQ(level.ScaleY, 0.5f);
    const uint16_t* px = level.Pixels.data() + (1 * 3 + 2) * 4;
    EXPECT_EQ(px[0], 3);  // red, green, blue, alpha
    EXPECT_EQ(px[1], 2);
    EXPECT_EQ(px[2], 1);
    EXPECT_EQ(px[3], 4);
    // A frame beyond the set's count stores nothing.
    c.Frame(12.0);
    EXPECT_EQ(op->PreloadNext, 2);
    EXPECT_EQ(op->PreloadedShapes.Count(), 2);
    op->PreloadCapturing = 0;
}
