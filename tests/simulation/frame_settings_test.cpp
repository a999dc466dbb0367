// Frame settings: control values copied into the operator, in simulation units,
// with the field handling, bounce-line guards, gravity vector and frame ranges.
#include <gtest/gtest.h>

#include <cmath>

#include "common/tool_harness.h"

class FrameSettingsTest : public ::testing::Test {
protected:
    // Sets an input's value without a change notification.
    void Put(Input* in, Parameter* value) {
        in->SetValue(value, 0, 1);
        value->Recycle();
    }
    void PutNumber(Input* in, double v) { Put(in, new Number(v)); }
    void PutPoint(Input* in, double x, double y) { Put(in, new Point(x, y)); }

    // Runs the whole refresh on a request, as the frame driver does.
    void Refresh(uint32_t flags = 0) {
        Request req(h.Op, 0.0, flags);
        h.Op->RefreshScalarSettings(&req);
        h.Op->FinishFrameSettings(&req);
        ASSERT_NE(h.Op->OutputImage, nullptr);
        h.Op->OutputImage->Recycle();
        h.Op->OutputImage = nullptr;
    }

    ToolHarness h{720, 576};
};

TEST_F(FrameSettingsTest, FullFrameGivesImageHeightUnits) {
    PutNumber(h.Op->InSlowMotion, 0.8);
    PutPoint(h.Op->InStart, 0.5, 0.5);
    PutPoint(h.Op->InAttractor1, 1.0, 0.25);
    PutNumber(h.Op->InAttractor1Strength, 20.0);
    Refresh();
    const ParticleOperator& op = *h.Op;
    EXPECT_EQ(op.AspectX, 1.25);
    EXPECT_EQ(op.AspectY, 1.0);
    EXPECT_EQ(op.FieldFactor, 1.0f);
    EXPECT_EQ(op.SimStep, 0.8);
    EXPECT_EQ(op.StartPoint.x, 0.625);
    EXPECT_EQ(op.StartPoint.y, 0.5);
    EXPECT_EQ(op.Attractors[0].Position.x, 1.25);
    EXPECT_EQ(op.Attractors[0].Strength, 20.0 * 0.001);
    EXPECT_EQ(op.HighQuality, 1);
    Refresh(Request::FlagQuick);
    EXPECT_EQ(op.HighQuality, 0);
}

TEST_F(FrameSettingsTest, FieldImageHalvesTheStepAndTheVerticalUnit) {
    Image* field = new Image(720, 288);
    field->ImageTags().Set({Tags::Field, 1});
    h.SetImages(field, h.Shape);
    field->Recycle();
    PutNumber(h.Op->InSlowMotion, 0.8);
    Refresh();
    const ParticleOperator& op = *h.Op;
    EXPECT_EQ(op.FieldFactor, 2.0f);
    EXPECT_EQ(op.AspectX, 1.25);
    EXPECT_EQ(op.AspectY, 0.5);
    EXPECT_EQ(op.SimStep, 0.4);
}

TEST_F(FrameSettingsTest, GravityAngleZeroPointsAlongX) {
    PutNumber(h.Op->InGravity, 2.0);
    PutNumber(h.Op->InGravityAngle, 0.0);
    Refresh();
    const double k = 0.017452006980802792;
    EXPECT_EQ(h.Op->GravityVector.x, 2.0 * std::sin(90.0 * k));
    EXPECT_EQ(h.Op->GravityVector.y, 2.0 * std::cos(90.0 * k));
    EXPECT_NEAR(h.Op->GravityVector.y / 2.0, 1.16e-4, 1e-6);
}

TEST_F(FrameSettingsTest, BounceLinesAreNudgedOffTheAxes) {
    PutPoint(h.Op->InBounce1Start, 0.2, 0.5);
    PutPoint(h.Op->InBounce1End, 0.8, 0.5);
    PutPoint(h.Op->InBounce2Start, 0.4, 0.4);
    PutPoint(h.Op->InBounce2End, 0.4, 0.4);
    Refresh();
    const BounceLine& a = h.Op->BounceLines[0];
    EXPECT_EQ(a.End.y, a.Start.y + 1e-6);
    EXPECT_EQ(a.End.x, 1.0);
    EXPECT_NEAR(a.Normal.x, 0.0, 1e-5);
    EXPECT_NEAR(a.Normal.y, 1.0, 1e-10);
    const BounceLine& b = h.Op->BounceLines[1];
    EXPECT_EQ(b.End.x, b.Start.x + 1e-6);
    EXPECT_EQ(b.End.y, b.Start.y + 1e-6);
    EXPECT_NEAR(b.Normal.x * b.Normal.x + b.Normal.y * b.Normal.y, 1.0, 1e-12);
}

TEST_F(FrameSettingsTest, IntegerControlsAreTruncated) {
    PutNumber(h.Op->InRollFrames, 12.9);
    PutNumber(h.Op->InApplyBirthImage, 0.7);
    PutNumber(h.Op->InImageStartFrame, 2.0);
    PutNumber(h.Op->InImageLastFrame, 10.5);
    Refresh();
    EXPECT_EQ(h.Op->RollFrames, 12);
    EXPECT_EQ(h.Op->ApplyBirthImage, 0);
    EXPECT_EQ(h.Op->ShapeFrameCount, 9);
    // Values beyond the int32 range are held at its ends instead of wrapping.
    PutNumber(h.Op->InRollFrames, 1e12);
    PutNumber(h.Op->InImageStartFrame, -1e12);
    Refresh();
    EXPECT_EQ(h.Op->RollFrames, INT32_MAX);
    EXPECT_EQ(h.Op->ShapeFrameCount, INT32_MAX);
}

TEST_F(FrameSettingsTest, FrameControlsFollowTheTimeExtent) {
    h.TheFlow.SetExtent(5.0, 60.0);
    Refresh();
    for (Input* in : {h.Op->InRecordStartFrame, h.Op->InLoadLastFrame, h.Op->InImageLastFrame}) {
        EXPECT_EQ(in->GetAttrDouble(Tags::RangeLow, -1.0), 5.0);
        EXPECT_EQ(in->GetAttrDouble(Tags::RangeHigh, -1.0), 60.0);
    }
}

TEST_F(FrameSettingsTest, ProxyScalesComeFromTheShapesFullSize) {
    Image* reduced = new Image(50, 20);
    reduced->ImageTags().Set({Tags::FullWidth, 100});
    reduced->ImageTags().Set({Tags::FullHeight, 80});
    h.SetImages(h.Background, reduced);
    Refresh();
    EXPECT_EQ(h.Op->ProxyScaleX, 0.5);
    EXPECT_EQ(h.Op->ProxyScaleY, 0.25);

    reduced->ImageTags().Set({Tags::FullWidth, 0});  // no usable full size
    reduced->ImageTags().Remove(Tags::FullHeight);
    Refresh();
    EXPECT_EQ(h.Op->ProxyScaleX, 1.0);
    EXPECT_EQ(h.Op->ProxyScaleY, 1.0);
    reduced->Recycle();
}

TEST_F(FrameSettingsTest, PathsRebuildOnlyFromPolylinesOfTwoOrMorePoints) {
    PolyLine* two = new PolyLine({PolyPoint{-0.25f, 0.0f}, PolyPoint{0.25f, 0.0f}}, false);
    Put(h.Op->InPathPolyline, two);
    Refresh();
    EXPECT_EQ(h.Op->MotionPath.SegmentCount, 1);
    EXPECT_EQ(h.Op->PathPolyline->GetCount(0), 2);
    Put(h.Op->InPathPolyline, new PolyLine({PolyPoint{0.1f, 0.1f}}, false));
    Refresh();
    EXPECT_EQ(h.Op->MotionPath.SegmentCount, 1);
    EXPECT_EQ(h.Op->MotionPath.PointAt(1.0f).x, 0.25);
}
