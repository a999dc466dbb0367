// Shape capture: starting a pass, its completion or abandonment at the render
// end, deleting the set, and the two buttons taking turns.
#include <functional>

#include "motion_test_support.h"

using namespace mdtest;

class ShapeCaptureTest : public MotionTest {
protected:
    void GiveWorkingShapes() {
        Op->WorkingShapes.Levels.resize(3);
        Op->WorkingPresent = 1;
        Op->WorkingDivisor = 2;
    }
    void ExpectButtons(int32_t preloadDisabled) {
        EXPECT_EQ(Disabled(Op->InPreloadShapes), preloadDisabled);
        EXPECT_EQ(Disabled(Op->InDeletePreloaded), 1 - preloadDisabled);
    }
    void ExpectNoShapes() {
        EXPECT_TRUE(Op->PreloadCapturing == 0 && Op->PreloadedPresent == 0 && Op->PreloadedShapes.Count() == 0);
        EXPECT_TRUE(Op->WorkingPresent == 0 && Op->WorkingDivisor == 1 && Op->WorkingShapes.Count() == 0);
    }
    // Runs the posted pass; the flow makes the frames for which keep says so.
    void ServePass(std::function<bool(double)> keep) {
        H->TheFlow.PrepareFrame = [keep](Operator*, double t) { return keep(t); };
        EXPECT_EQ(H->ServeMessages(), 1);
    }
};

TEST_F(ShapeCaptureTest, StartReplacesTheSetAndPostsTheRangeRender) {
    // The earlier set, and the working set made from it, must not outlive it.
    GiveWorkingShapes();
    Op->PreloadedShapes.Levels.resize(2);
    Op->PreloadedPresent = 1;
    StartCapture(5, 9);
    EXPECT_TRUE(Op->PreloadCapturing == 1 && Op->SkipCompositing == 1 && Op->PreloadedPresent == 0);
    ASSERT_EQ(Op->PreloadedShapes.Count(), 5);
    for (const ShapeLevel& l : Op->PreloadedShapes.Levels) EXPECT_TRUE(l.Pixels.empty());
    EXPECT_TRUE(Op->WorkingShapes.Count() == 0 && Op->WorkingDivisor == 1);
    ExpectButtons(1);
    ExpectPostedRender(5.0, 9.0);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ShapeCaptureTest, CompleteStoppedAndDeletedPassesWithTheButtonsAlternating) {
    H->SetNumber(Op->InImageStartFrame, 2);
    H->SetNumber(Op->InImageLastFrame, 5);
    H->Request_(0);
    ASSERT_EQ(Op->Frame.ShapeFrameCount, 4);

    // Complete, although more frames than the range holds are made: the set keeps
    // its count and is present; Delete is the button to press.
    H->Press(Op->InPreloadShapes);
    H->TheFlow.Port().GetMsg();
    H->Render(0, 9);
    EXPECT_TRUE(Op->PreloadCapturing == 0 && Op->PreloadedPresent == 1 && Op->SkipCompositing == 0);
    EXPECT_EQ(Op->PreloadNext, 4);
    ASSERT_EQ(Op->PreloadedShapes.Count(), 4);
    EXPECT_EQ(Op->PreloadedShapes.Levels[3].Width, H->Shape->Width);
    EXPECT_TRUE(Messages().empty());
    ExpectButtons(1);
    // Delete frees the set and the working shapes; Preload is the button again.
    GiveWorkingShapes();
    H->Press(Op->InDeletePreloaded);
    ExpectNoShapes();
    ExpectButtons(0);

    // Stopped after two frames: it says so and keeps nothing; Delete stays the button.
    H->Press(Op->InPreloadShapes);
    ServePass([](double t) { return t < 4; });
    ExpectOnlyMessage("Image Sequence not completed!", "Confirm", 64);
    ExpectNoShapes();
    ExpectButtons(1);
    H->Press(Op->InDeletePreloaded);
    ExpectButtons(0);
    H->Render(0, 0);  // a later render end has nothing to complete
    EXPECT_EQ(Messages().size(), 1u);

    // Deleted during its pass: abandoned, the frames after store nothing, and its
    // end has nothing to say.
    platform::Default().ClearRecords();
    H->Press(Op->InPreloadShapes);
    ServePass([this](double t) {
        if (t == 3) {
            GiveWorkingShapes();
            H->Press(Op->InDeletePreloaded);
        }
        return true;
    });
    ExpectNoShapes();
    ExpectButtons(0);
    EXPECT_TRUE(Messages().empty());
}
