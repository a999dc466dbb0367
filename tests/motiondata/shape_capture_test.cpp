// Shape capture: starting a pass, its completion or abandonment at the render
// end, deleting the set, and the two buttons taking turns.
#include "motion_test_support.h"

using namespace mdtest;

class ShapeCaptureTest : public MotionTest {
protected:
    void StartCapture(double first, double last) {
        Op->ImageStartFrame = first;
        Op->ImageLastFrame = last;
        Op->ShapeFrameCount = int32_t(last - first) + 1;
        H->Press(Op->InPreloadShapes);
    }
    // A captured level as the capture step of the frame would store it.
    void Capture() {
        ShapeLevel& level = Op->PreloadedShapes.Levels.at(size_t(Op->PreloadNext));
        level.Width = level.Height = 2;
        level.Pixels.assign(16, 7);
        Op->PreloadNext = Op->PreloadNext + 1;
    }
};

TEST_F(ShapeCaptureTest, StartAllocatesTheRangeAndPostsItsRender) {
    // A working set from an earlier capture must not outlive it.
    Op->WorkingShapes.Levels.resize(3);
    Op->WorkingPresent = 1;
    Op->WorkingDivisor = 2;
    Op->PreloadedShapes.Levels.resize(2);
    Op->PreloadedPresent = 1;
    StartCapture(5, 9);
    EXPECT_EQ(Op->PreloadCapturing, 1);
    EXPECT_EQ(Op->SkipCompositing, 1);
    EXPECT_EQ(Op->PreloadedPresent, 0);
    EXPECT_EQ(Op->PreloadedShapes.Count(), 5);
    for (const ShapeLevel& l : Op->PreloadedShapes.Levels) EXPECT_TRUE(l.Pixels.empty());
    EXPECT_EQ(Op->PreloadNext, 0);
    EXPECT_EQ(Op->WorkingPresent, 0);
    EXPECT_EQ(Op->WorkingDivisor, 1);
    EXPECT_EQ(Op->WorkingShapes.Count(), 0);
    EXPECT_EQ(Disabled(Op->InDeletePreloaded), 0);
    EXPECT_EQ(Disabled(Op->InPreloadShapes), 1);
    std::unique_ptr<RenderMessage> msg = H->TheFlow.Port().GetMsg();
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->Start, 5.0);
    EXPECT_EQ(msg->End, 9.0);
    EXPECT_EQ(msg->Flags, 0u);
    EXPECT_EQ(msg->Target, nullptr);
    EXPECT_EQ(msg->Sender, Op);
    EXPECT_EQ(msg->Flags2, 0u);
    EXPECT_EQ(msg->Step, 1);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ShapeCaptureTest, CompletePassLeavesThePresentSet) {
    StartCapture(0, 2);
    for (int i = 0; i < 3; ++i) Capture();
    Op->OnEndRender();
    EXPECT_EQ(Op->PreloadCapturing, 0);
    EXPECT_EQ(Op->PreloadedPresent, 1);
    EXPECT_EQ(Op->SkipCompositing, 0);
    EXPECT_EQ(Op->PreloadedShapes.Count(), 3);
    EXPECT_EQ(Op->PreloadedShapes.Levels[2].Pixels.size(), 16u);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Disabled(Op->InDeletePreloaded), 0);
    EXPECT_EQ(Disabled(Op->InPreloadShapes), 1);
}

TEST_F(ShapeCaptureTest, StoppedPassSaysSoAndKeepsNothing) {
    StartCapture(0, 4);
    Capture();
    Capture();
    Op->OnEndRender();
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Image Sequence not completed!", "Confirm", 64);
    EXPECT_EQ(Op->PreloadCapturing, 0);
    EXPECT_EQ(Op->PreloadedPresent, 0);
    EXPECT_EQ(Op->PreloadedShapes.Count(), 0);
    // Delete stays enabled and Preload disabled until Delete is pressed.
    EXPECT_EQ(Disabled(Op->InDeletePreloaded), 0);
    EXPECT_EQ(Disabled(Op->InPreloadShapes), 1);
    H->Press(Op->InDeletePreloaded);
    EXPECT_EQ(Disabled(Op->InDeletePreloaded), 1);
    EXPECT_EQ(Disabled(Op->InPreloadShapes), 0);
    Op->OnEndRender();  // a later render end has nothing to complete
    EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(ShapeCaptureTest, DeleteFreesTheSetAndTheButtonsAlternate) {
    StartCapture(0, 1);
    Capture();
    Capture();
    Op->OnEndRender();
    Op->WorkingShapes.Levels.resize(2);
    Op->WorkingPresent = 1;
    Op->WorkingDivisor = 3;
    H->Press(Op->InDeletePreloaded);
    EXPECT_EQ(Op->PreloadedPresent, 0);
    EXPECT_EQ(Op->PreloadedShapes.Count(), 0);
    EXPECT_EQ(Op->WorkingPresent, 0);
    EXPECT_EQ(Op->WorkingDivisor, 1);
    EXPECT_EQ(Op->WorkingShapes.Count(), 0);
    EXPECT_EQ(Disabled(Op->InDeletePreloaded), 1);
    EXPECT_EQ(Disabled(Op->InPreloadShapes), 0);
    // And again: capture, then delete.
    H->TheFlow.Port().GetMsg();
    StartCapture(0, 1);
    EXPECT_EQ(Disabled(Op->InDeletePreloaded), 0);
    EXPECT_EQ(Disabled(Op->InPreloadShapes), 1);
    H->Press(Op->InDeletePreloaded);
    EXPECT_EQ(Disabled(Op->InDeletePreloaded), 1);
    EXPECT_EQ(Disabled(Op->InPreloadShapes), 0);
}

TEST_F(ShapeCaptureTest, DeleteDuringAPassAbandonsIt) {
    StartCapture(0, 4);
    Capture();
    H->Press(Op->InDeletePreloaded);
    EXPECT_EQ(Op->PreloadCapturing, 0);
    EXPECT_EQ(Op->PreloadedShapes.Count(), 0);
    Op->OnEndRender();
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Op->PreloadedPresent, 0);
}

TEST_F(ShapeCaptureTest, EmptyOrAbsurdRangeIsRefused) {
    Op->PreloadedShapes.Levels.resize(2);
    Op->PreloadedPresent = 1;
    StartCapture(10, 5);  // count -4
    ASSERT_EQ(Messages().size(), 1u);
    ExpectMessage(Messages()[0], "Shape range is empty!", "Warning", 48);
    StartCapture(0, 5e6);
    ASSERT_EQ(Messages().size(), 2u);
    ExpectMessage(Messages()[1], "Shape range is too long!", "Warning", 48);
    // The existing set and the flags are untouched.
    EXPECT_EQ(Op->PreloadedPresent, 1);
    EXPECT_EQ(Op->PreloadedShapes.Count(), 2);
    EXPECT_EQ(Op->PreloadCapturing, 0);
    EXPECT_EQ(Op->SkipCompositing, 0);
    EXPECT_TRUE(H->TheFlow.Port().Empty());
}

TEST_F(ShapeCaptureTest, EveryRenderEndEmptiesThePool) {
    Op->Particles[0].ShapeImage = nullptr;
    Op->NextIndex = 3;
    Op->LiveCount = 3;
    Op->BirthAccumulator = 0.7;
    Op->OnEndRender();
    EXPECT_EQ(Op->LiveCount, 0);
    EXPECT_EQ(Op->OldestIndex, Op->NextIndex);
    EXPECT_EQ(Op->BirthAccumulator, 0.0);
    EXPECT_TRUE(Messages().empty());
}
