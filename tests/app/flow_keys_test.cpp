// The names flow files give the controls: every key that exists must keep working,
// and `controls --json` describes each control by named fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/session/control_listing.h"
#include "app/session/control_catalog.h"
#include "app/session/flow_loader.h"
#include "app/session/session.h"
#include "host/registry.h"

using namespace lumets;

namespace {

// Every flow key users' flows may hold, in page order. A key missing here, or one
// more, fails the test: keys are part of the flow format and are never renamed.
const std::vector<std::string> FlowKeys = {
    "ResetPosition", "FastForward", "RollFrames", "Birthrate", "Lifetime", "SlowMotion", "ApplyBirthImage",
    "EnableScale", "GeneralSize", "SizeVariance", "Start", "End", "UseBirthSpline", "BirthSpline",
    "Orientation", "Spread", "Speed", "SpeedVariance", "Gravity", "GravityAngle",
    "EnableFade", "MergeSpline", "EnableGrow", "GrowSpline", "MaximumSize", "EnableBlur", "BlurSpline",
    "MaximumBlur",
    "Merge", "BlurQuality", "ImageStartFrame", "ImageLastFrame", "PreloadShapes", "DeletePreloaded", "Freeze",
    "RotationSpeed", "RotationVariance", "StartingAngle", "Banking",
    "Attractor1Enable", "Attractor1", "Attractor1Strength", "Attractor2Enable", "Attractor2",
    "Attractor2Strength", "Bounce1Enable", "Bounce1Elasticity", "Bounce1Roughness", "Bounce1Start",
    "Bounce1End", "Bounce2Enable", "Bounce2Elasticity", "Bounce2Roughness", "Bounce2Start", "Bounce2End",
    "Tumble",
    "SaveFile", "RecordStartFrame", "RecordLastFrame", "RecordNow", "LoadStartFrame", "LoadLastFrame",
    "LoadSystem", "Reverse", "LoadedNotice", "UnloadSystem", "SystemFile",
    "PathBinding", "PathPolyline", "PathSpeedVariance", "StrictMode", "StrictDeviation", "MaximumDeviation",
    "ColorTinting", "RedSpline", "GreenSpline", "BlueSpline", "EditRed", "EditGreen", "EditBlue", "ColorMorph",
    "MotionBlur", "ShutterAngle", "ShutterOffset", "MotionBlurSamples", "Turbulence", "TurbulenceScale",
    "TurbulenceSpeed", "Wind",
};

// A value a flow may give a control of the type.
Json SampleValue(uint32_t type) {
    if (type == DT_Point) return Json::array({0.5, 0.5});
    if (type == DT_Text) return "";
    if (type == DT_PolyLine) return Json{{"points", Json::array({Json::array({0.0, 0.0}), Json::array({0.1, 0.1})})}};
    if (type == DT_LookUpTable) return Json{{"points", Json::array({Json::array({0, 0}), Json::array({1, 1})})}};
    return 1;
}

TEST(FlowKeys, EveryKeyOfTodayNamesItsControlAndLoads) {
    Registry& reg = ParticleClass();
    Operator* op = reg.Create(nullptr, nullptr);
    ASSERT_NE(op, nullptr);
    const ControlCatalog catalog(*op, ControlNames(reg));
    std::vector<std::string> keys;
    for (const ControlInfo& c : catalog.Items())
        if (!c.Key.empty()) keys.push_back(c.Key);
    EXPECT_EQ(keys, FlowKeys);
    for (const std::string& key : FlowKeys) {
        SCOPED_TRACE(key);
        const ControlInfo* c = catalog.Find(key);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->Key, key);
        const Json flow = {{key, SampleValue(c->Type)}};
        std::vector<ControlTrack> tracks;
        EXPECT_NO_THROW(tracks = BindControls(flow, catalog, nullptr));
        ASSERT_EQ(tracks.size(), 1u);
    }
    op->Recycle();
}

TEST(FlowKeys, ControlsJsonNamesRangesScalesAndWholeNumbers) {
    const Json j = Json::parse(ControlsJson());
    auto input = [&](const std::string& key) {
        for (const Json& page : j["pages"])
            for (const Json& in : page["inputs"])
                if (in["key"] == key) return in;
        return Json();
    };
    const Json birthrate = input("Birthrate"), roll = input("RollFrames"), lifetime = input("Lifetime");
    EXPECT_EQ(std::vector<Json>({birthrate["min"], birthrate["max"], birthrate["scaleLow"], birthrate["scaleHigh"],
                                 birthrate["integer"], birthrate["unit"]}),
              std::vector<Json>({0.0, 1000.0, 0.0, 10.0, false, "particles per frame"}));
    EXPECT_EQ(std::vector<Json>({roll["min"], roll["max"], roll["scaleLow"], roll["scaleHigh"], roll["integer"]}),
              std::vector<Json>({1.0, 1000.0, nullptr, 100.0, true}));
    EXPECT_EQ(std::vector<Json>({lifetime["max"], lifetime["scaleHigh"]}), std::vector<Json>({nullptr, 100.0}));
    // The raw tags stay in a field of their own, in creation order.
    ASSERT_TRUE(roll["tags"].is_array());
    EXPECT_EQ(roll["tags"].size(), 6u);
}

}  // namespace
