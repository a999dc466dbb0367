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
    ParticleOperator* Op = H.Op;
    explicit Counting(double birthrate, double slowMotion = 1.0, double rollFrames = 0) {
        H.SetNumber(Op->ControlInput("Birthrate"), birthrate);
        H.SetNumber(Op->ControlInput("SlowMotion"), slowMotion);
        H.SetNumber(Op->ControlInput("Lifetime"), 10000);
        if (rollFrames > 0) H.SetNumber(Op->ControlInput("RollFrames"), rollFrames);
    }
    int32_t Frame(double t, uint32_t flags = 0) {
        const int32_t before = Op->Pool.LiveCount;
        H.Request_(t, flags);
        return Op->Pool.LiveCount - before;
    }
    // Gives the tool a shape image that says it was reduced by the given scales
    // from its full size.
    void ReducedShape(int32_t w, int32_t h, double sx, double sy) {
        Image* img = new Image(w, h);
        img->Fill(HostPixel{65535, 65535, 65535, 65535});
        img->ImageTags().Set(TagItem(Tags::FullWidth, int32_t(w / sx)));
        img->ImageTags().Set(TagItem(Tags::FullHeight, int32_t(h / sy)));
        UseShape(img);
    }
    void UseShape(Image* img) {
        H.SetImages(H.Background, img);
        img->Recycle();
    }
    // Captured shapes whose pixels hold their own column and row, in place of
    // the captured set.
    void CapturedPatterns(std::vector<std::pair<int32_t, int32_t>> sizes) {
        ShapeSet set;
        for (auto [w, h] : sizes) {
            ShapeLevel level;
            level.Width = w;
            level.Height = h;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) level.Pixels.insert(level.Pixels.end(), {uint16_t(x), uint16_t(y), 7, 65535});
            set.Levels.push_back(level);
        }
        Op->Shapes.AdoptPreloaded(std::move(set));
    }
};

bool SameImage(const Image* a, const Image* b) {
    return a->Width == b->Width && a->Height == b->Height &&
           std::equal(a->Data(), a->Data() + std::size_t(a->Width) * a->Height * 4, b->Data());
}

}  // namespace

TEST(FrameBirths, FractionalBirthrateCarriesItsRemainderAndAFieldHalvesTheStep) {
    Counting c(2.5);
    std::vector<int32_t> births;
    for (int i = 0; i < 6; ++i) births.push_back(c.Frame(i));
    EXPECT_EQ(births, (std::vector<int32_t>{2, 3, 2, 3, 2, 3}));

    Counting d(2.0);
    Image* field = new Image(64, 24);
    field->ImageTags().Set(TagItem(Tags::Field, int32_t(1)));
    d.H.SetImages(field, d.H.Shape);
    field->Recycle();
    EXPECT_EQ(d.Frame(0), 1);
    EXPECT_EQ(d.Frame(1), 1);
    EXPECT_DOUBLE_EQ(d.Op->LiveParticle(0).Age, 1.0);  // two half steps
}

TEST(FrameReset, PendingResetEmptiesThePoolBeforeThisFramesBirths) {
    Counting c(3.0);
    c.Frame(0);
    c.Frame(1);
    ASSERT_EQ(c.Op->Pool.LiveCount, 6);
    c.Op->ResetRequested = 1;
    c.Frame(2);
    EXPECT_EQ(c.Op->Pool.LiveCount, 3);
    EXPECT_EQ(c.Op->ResetRequested, 0);
}

TEST(FramePreRoll, RunsRollFramesTimesStepIterations) {
    // One birth per iteration plus the frame's own: 50 frames at SlowMotion 0.5
    // are 25 iterations, 5 x 0.5 = 2.5 runs 3, SlowMotion 0 none (and no birth).
    const struct {
        double slowMotion, rollFrames;
        int32_t births;
    } rows[] = {{0.5, 50, 26}, {0.5, 5, 4}, {0.0, 50, 0}};
    for (const auto& r : rows) {
        Counting c(2.0, r.slowMotion, r.rollFrames);
        c.Op->FastForwardRequested = 1;
        EXPECT_EQ(c.Frame(0), r.births) << r.slowMotion << " x " << r.rollFrames;
        EXPECT_EQ(c.Op->FastForwardRequested, 0);
    }
}

TEST(FrameOutput, SimulateOnlyAndSkipCompositingGiveThePlainBackground) {
    Counting c(5.0);
    EXPECT_TRUE(SameImage(c.H.Request_(0, Request::FlagSimulateOnly), c.H.Background));
    EXPECT_GT(c.Op->Pool.LiveCount, 0);
    c.Op->SkipCompositing = 1;
    EXPECT_TRUE(SameImage(c.H.Request_(1), c.H.Background));
    c.Op->SkipCompositing = 0;
    EXPECT_FALSE(SameImage(c.H.Request_(2), c.H.Background));
    // The call leaves no links to the request's images behind.
    EXPECT_TRUE(!c.Op->OutputImage && !c.Op->BackgroundImage && !c.Op->ShapeSource && !c.Op->CurrentRequest);
}

TEST(FrameOutput, ProcessWaitsForTheRenderGate) {
    Counting c(1.0);
    std::atomic<bool> done{false};
    std::unique_lock<std::mutex> held(c.Op->RenderGate);
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
    ParticleOperator* op = c.Op;
    c.ReducedShape(2, 2, 0.5, 0.5);
    c.Frame(0);
    c.Frame(1);
    ShapeLibrary& shapes = op->Shapes;
    ASSERT_TRUE(shapes.Copy() && op->Pool.LiveCount == 2);
    EXPECT_EQ(shapes.Copy()->Width, 2);
    EXPECT_EQ(op->LiveParticle(0).ShapeImage->Width, 2);
    EXPECT_TRUE(shapes.GetCopyFlags().FirstCopy == 1 && shapes.GetCopyFlags().RefreshCopies == 1);
    EXPECT_EQ(shapes.ProxyCopy(), nullptr);  // released at the end of the call

    c.UseShape(new Image(4, 4));
    c.Frame(2);
    EXPECT_EQ(shapes.Copy()->Width, 4);
    EXPECT_EQ(shapes.GetCopyFlags().RefreshCopies, 0);
    for (int32_t i = 0; i < op->Pool.LiveCount; ++i) EXPECT_EQ(op->LiveParticle(i).ShapeImage->Width, 4) << i;
    // Later reduced calls keep the full-size copy for births.
    c.ReducedShape(2, 2, 0.5, 0.5);
    c.Frame(3);
    EXPECT_EQ(shapes.Copy()->Width, 4);
    EXPECT_EQ(shapes.GetCopyFlags().RefreshCopies, 0);

    // A reduction along one axis only keeps the shape.
    Image* first = shapes.Copy();
    c.ReducedShape(2, 4, 0.5, 1.0);
    c.Frame(4);
    EXPECT_EQ(shapes.Copy(), first);
}

TEST(ShapePreparation, WorkingShapesFollowTheProxyDivisor) {
    Counting c(0.0);
    ParticleOperator* op = c.Op;
    c.CapturedPatterns({{65, 33}, {9, 9}});
    c.ReducedShape(32, 16, 0.5, 0.5);
    c.Frame(0);
    ShapeLibrary& shapes = op->Shapes;
    ASSERT_TRUE(shapes.HasWorking());
    EXPECT_EQ(shapes.WorkingDivisor(), 2);
    const ShapeLevel& w = shapes.Working().Levels[0];
    ASSERT_TRUE(w.Width == 32 && w.Height == 16) << w.Width << " x " << w.Height;
    const uint16_t* px = w.Pixels.data() + (std::size_t(15) * 32 + 31) * 4;
    EXPECT_EQ(px[0], 62);
    EXPECT_EQ(px[1], 30);
    EXPECT_EQ(shapes.Working().Levels[1].Width, 4);
    // The same divisor again does not rebuild: a set captured since, of the
    // same count, is not yet reduced.
    c.CapturedPatterns({{20, 20}, {9, 9}});
    c.Frame(1);
    EXPECT_EQ(shapes.Working().Levels[0].Width, 32);
    // A capture under way takes the working shapes away at the next frame.
    shapes.StartCapture();
    c.Frame(2);
    EXPECT_TRUE(!shapes.HasWorking() && shapes.WorkingDivisor() == 1);
    shapes.DropCapture();
    // Deleting the captured shapes discards the working set with it.
    c.CapturedPatterns({{8, 8}});
    c.Frame(3);
    ASSERT_TRUE(shapes.HasWorking());
    shapes.DeletePreloaded();
    EXPECT_TRUE(!shapes.HasWorking() && shapes.WorkingDivisor() == 1 && shapes.Working().Count() == 0);
}

TEST(ShapePreparation, DivisorOneOrBelowBuildsNoWorkingShapes) {
    for (double scale : {0.75, 2.0}) {
        Counting c(0.0);
        c.CapturedPatterns({{8, 8}});
        c.ReducedShape(6, 6, scale, scale);
        c.Frame(0);
        EXPECT_TRUE(!c.Op->Shapes.HasWorking() && c.Op->Shapes.WorkingDivisor() == 1) << scale;
    }
}

TEST(ShapeCapture, StoresOneShapePerWholeFrameAndNeverPastTheSet) {
    Counting c(0.0);
    ParticleOperator* op = c.Op;
    Image* shape = new Image(3, 2, 1.5, 0.5);
    shape->SetPixel(2, 1, HostPixel{1, 2, 3, 4});
    c.UseShape(shape);
    ShapeLibrary& shapes = op->Shapes;
    ASSERT_TRUE(shapes.ReserveCapture(2));
    shapes.StartCapture();
    for (double t : {10.0, 10.5, 11.0}) c.Frame(t);
    EXPECT_EQ(shapes.CapturedCount(), 2);
    const ShapeLevel& level = shapes.Preloaded().Levels[1];
    EXPECT_TRUE(level.Width == 3 && level.Height == 2 && level.ScaleX == 1.5f && level.ScaleY == 0.5f);
    const uint16_t* px = level.Pixels.data() + (1 * 3 + 2) * 4;
    EXPECT_EQ(std::vector<uint16_t>(px, px + 4), (std::vector<uint16_t>{3, 2, 1, 4}));  // red, green, blue, alpha
    // A frame beyond the set's count stores nothing.
    c.Frame(12.0);
    EXPECT_EQ(shapes.CapturedCount(), 2);
    EXPECT_EQ(shapes.Preloaded().Count(), 2);
    shapes.DropCapture();
}
