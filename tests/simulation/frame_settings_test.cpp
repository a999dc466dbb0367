// Frame settings: control values read into the operator's FrameSettings, in simulation units,
// with the field handling, bounce-line guards, gravity vector and frame ranges.
#include <cmath>

#include "common/tool_harness.h"
#include "sim_fixture.h"

class FrameSettingsTest : public ::testing::Test {
protected:
    // Runs the whole refresh on a request, as the frame driver does.
    void Refresh(uint32_t flags = 0) {
        Request req(h.Op, 0.0, flags);
        h.Op->RefreshScalarSettings(&req);
        h.Op->FinishFrameSettings(&req);
        ASSERT_NE(h.Op->OutputImage, nullptr);
        h.Op->OutputImage->Recycle();
        h.Op->OutputImage = nullptr;
    }
    // Gives the tool a new shape or background image.
    void Use(Image* img, bool background) {
        h.SetImages(background ? img : h.Background, background ? h.Shape : img);
        img->Recycle();
    }
    ToolHarness h{720, 576};
    const ParticleOperator& op = *h.Op;
    const FrameSettings& f = h.Op->Frame;
};

TEST_F(FrameSettingsTest, FullFrameAndFieldImagesGiveImageHeightUnits) {
    h.SetNumber(h.Op->ControlInput("SlowMotion"), 0.8);
    h.SetPoint(h.Op->ControlInput("Start"), 0.5, 0.5);
    h.SetPoint(h.Op->ControlInput("Attractor1"), 1.0, 0.25);
    h.SetNumber(h.Op->ControlInput("Attractor1Strength"), 20.0);
    Refresh();
    ExpectPairs({{f.AspectX, 1.25}, {f.AspectY, 1.0}, {f.FieldFactor, 1.0}, {f.SimStep, 0.8},
                 {f.Birth.StartPoint.x, 0.625}, {f.Birth.StartPoint.y, 0.5}, {f.Attractors[0].Position.x, 1.25},
                 {f.Attractors[0].Strength, 20.0 * 0.001}, {f.Look.HighQuality, 1}});
    Refresh(Request::FlagQuick);
    EXPECT_EQ(f.Look.HighQuality, 0);
    // A field halves the step and the vertical unit.
    Image* field = new Image(720, 288);
    field->ImageTags().Set({Tags::Field, 1});
    Use(field, true);
    Refresh();
    ExpectPairs({{f.FieldFactor, 2.0}, {f.AspectX, 1.25}, {f.AspectY, 0.5}, {f.SimStep, 0.4}});
}

TEST_F(FrameSettingsTest, GravityAngleZeroPointsAlongXAndBounceLinesAreNudgedOffTheAxes) {
    h.SetNumber(h.Op->ControlInput("Gravity"), 2.0);
    h.SetNumber(h.Op->ControlInput("GravityAngle"), 0.0);
    h.SetPoint(h.Op->ControlInput("Bounce1Start"), 0.2, 0.5);
    h.SetPoint(h.Op->ControlInput("Bounce1End"), 0.8, 0.5);
    h.SetPoint(h.Op->ControlInput("Bounce2Start"), 0.4, 0.4);
    h.SetPoint(h.Op->ControlInput("Bounce2End"), 0.4, 0.4);
    Refresh();
    const double k = 0.017452006980802792;
    ExpectVec(f.GravityVector, 2.0 * std::sin(90.0 * k), 2.0 * std::cos(90.0 * k));
    EXPECT_NEAR(f.GravityVector.y / 2.0, 1.16e-4, 1e-6);
    const FrameSettings::BounceLine &a = f.BounceLines[0], &b = f.BounceLines[1];
    ExpectPairs({{a.End.y, a.Start.y + 1e-6}, {a.End.x, 1.0}, {b.End.x, b.Start.x + 1e-6}, {b.End.y, b.Start.y + 1e-6}});
    EXPECT_NEAR(a.Normal.x, 0.0, 1e-5);
    EXPECT_NEAR(a.Normal.y, 1.0, 1e-10);
    EXPECT_NEAR(b.Normal.x * b.Normal.x + b.Normal.y * b.Normal.y, 1.0, 1e-12);
}

TEST_F(FrameSettingsTest, IntegerControlsAreTruncatedHeldInRangeAndFrameRangesFollowTheExtent) {
    h.SetNumber(h.Op->ControlInput("RollFrames"), 12.9);
    h.SetNumber(h.Op->ControlInput("ApplyBirthImage"), 0.7);
    h.SetNumber(h.Op->ControlInput("ImageStartFrame"), 2.0);
    h.SetNumber(h.Op->ControlInput("ImageLastFrame"), 10.5);
    Refresh();
    ExpectPairs({{f.Range.RollFrames, 12}, {f.Birth.ApplyBirthImage, 0}, {f.Range.ShapeFrameCount, 9}});
    // Values beyond the int32 range are held at its ends instead of wrapping.
    h.SetNumber(h.Op->ControlInput("RollFrames"), 1e12);
    h.SetNumber(h.Op->ControlInput("ImageStartFrame"), -1e12);
    h.TheFlow.SetExtent(5.0, 60.0);
    Refresh();
    ExpectPairs({{f.Range.RollFrames, INT32_MAX}, {f.Range.ShapeFrameCount, INT32_MAX}});
    for (Input* in : {op.ControlInput("RecordStartFrame"), op.ControlInput("LoadLastFrame"), op.ControlInput("ImageLastFrame")}) {
        EXPECT_EQ(in->GetAttrDouble(Tags::RangeLow, -1.0), 5.0);
        EXPECT_EQ(in->GetAttrDouble(Tags::RangeHigh, -1.0), 60.0);
    }
}

TEST_F(FrameSettingsTest, ProxyScalesAndPathsFollowTheirInputs) {
    Image* reduced = new Image(50, 20);
    reduced->ImageTags().Set({Tags::FullWidth, 100});
    reduced->ImageTags().Set({Tags::FullHeight, 80});
    reduced->AddRef();
    Use(reduced, false);
    Refresh();
    ExpectPairs({{f.ProxyScaleX, 0.5}, {f.ProxyScaleY, 0.25}});
    reduced->ImageTags().Set({Tags::FullWidth, 0});  // no usable full size
    reduced->ImageTags().Remove(Tags::FullHeight);
    Refresh();
    ExpectPairs({{f.ProxyScaleX, 1.0}, {f.ProxyScaleY, 1.0}});
    reduced->Recycle();

    // Paths rebuild only from polylines of two or more points.
    h.Set(h.Op->ControlInput("PathPolyline"), new PolyLine({PolyPoint{-0.25f, 0.0f}, PolyPoint{0.25f, 0.0f}}, false));
    Refresh();
    ExpectPairs({{f.MotionPath.SegmentCount, 1}, {f.PathPolyline->GetCount(0), 2}});
    h.Set(h.Op->ControlInput("PathPolyline"), new PolyLine({PolyPoint{0.1f, 0.1f}}, false));
    Refresh();
    ExpectPairs({{f.MotionPath.SegmentCount, 1}, {f.MotionPath.PointAt(1.0f).x, 0.25}});
}
