// Shape capture: starting a pass, its completion or abandonment at the render
// end, deleting the set, and the two buttons taking turns.
#include <functional>

#include "motion_test_support.h"

using namespace mdtest;

class ShapeCaptureTest : public MotionTest {
protected:
    // A working set made from whatever set is held now.
    void GiveWorkingShapes() {
        Op->Shapes.RebuildWorking(2);
        ASSERT_TRUE(Op->Shapes.HasWorking());
    }
    void ExpectButtons(int32_t preloadDisabled) {
        EXPECT_EQ(Disabled(Op->ControlInput("PreloadShapes")), preloadDisabled);
        EXPECT_EQ(Disabled(Op->ControlInput("DeletePreloaded")), 1 - preloadDisabled);
    }
    void ExpectNoShapes() {
        const ShapeLibrary& s = Op->Shapes;
        EXPECT_TRUE(!s.Capturing() && !s.HasPreloaded() && s.Preloaded().Count() == 0);
        EXPECT_TRUE(!s.HasWorking() && s.WorkingDivisor() == 1 && s.Working().Count() == 0);
    }
    // Runs the posted pass; the flow makes the frames for which keep says so.
    void ServePass(std::function<bool(double)> keep) {
        H->TheFlow.PrepareFrame = [keep](Operator*, double t) { return keep(t); };
        EXPECT_EQ(H->ServeMessages(), 1);
    }
};

TEST_F(ShapeCaptureTest, StartReplacesTheSetAndPostsTheRangeRender) {
    // The earlier set, and the working set made from it, must not outlive it.
    Op->Shapes.AdoptPreloaded(ShapeSet{std::vector<ShapeLevel>(2)});
    GiveWorkingShapes();
    StartCapture(5, 9);
    const ShapeLibrary& s = Op->Shapes;
    EXPECT_TRUE(s.Capturing() && Op->SkipCompositing == 1 && !s.HasPreloaded());
    ASSERT_EQ(s.Preloaded().Count(), 5);
    for (const ShapeLevel& l : s.Preloaded().Levels) EXPECT_TRUE(l.Pixels.empty());
    EXPECT_TRUE(s.Working().Count() == 0 && s.WorkingDivisor() == 1);
    ExpectButtons(1);
    ExpectPostedRender(5.0, 9.0);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ShapeCaptureTest, CompleteStoppedAndDeletedPassesWithTheButtonsAlternating) {
    H->SetNumber(Op->ControlInput("ImageStartFrame"), 2);
    H->SetNumber(Op->ControlInput("ImageLastFrame"), 5);
    H->Request_(0);
    ASSERT_EQ(Op->Frame.Range.ShapeFrameCount, 4);

    // Complete, although more frames than the range holds are made: the set keeps
    // its count and is present; Delete is the button to press.
    H->Press(Op->ControlInput("PreloadShapes"));
    H->TheFlow.Port().GetMsg();
    H->Render(0, 9);
    EXPECT_TRUE(!Op->Shapes.Capturing() && Op->Shapes.HasPreloaded() && Op->SkipCompositing == 0);
    EXPECT_EQ(Op->Shapes.CapturedCount(), 4);
    ASSERT_EQ(Op->Shapes.Preloaded().Count(), 4);
    EXPECT_EQ(Op->Shapes.Preloaded().Levels[3].Width, H->Shape->Width);
    EXPECT_TRUE(Messages().empty());
    ExpectButtons(1);
    // Delete frees the set and the working shapes; Preload is the button again.
    GiveWorkingShapes();
    H->Press(Op->ControlInput("DeletePreloaded"));
    ExpectNoShapes();
    ExpectButtons(0);

    // Stopped after two frames: it says so and keeps nothing; Delete stays the button.
    H->Press(Op->ControlInput("PreloadShapes"));
    ServePass([](double t) { return t < 4; });
    ExpectOnlyMessage(platform::MessageKind::CaptureIncomplete, "Image Sequence not completed!", "Confirm", 64);
    ExpectNoShapes();
    ExpectButtons(1);
    H->Press(Op->ControlInput("DeletePreloaded"));
    ExpectButtons(0);
    H->Render(0, 0);  // a later render end has nothing to complete
    EXPECT_EQ(Messages().size(), 1u);

    // Deleted during its pass: abandoned, the frames after store nothing, and its
    // end has nothing to say.
    platform::Default().ClearRecords();
    H->Press(Op->ControlInput("PreloadShapes"));
    ServePass([this](double t) {
        if (t == 3) {
            GiveWorkingShapes();
            H->Press(Op->ControlInput("DeletePreloaded"));
        }
        return true;
    });
    ExpectNoShapes();
    ExpectButtons(0);
    EXPECT_TRUE(Messages().empty());
}
