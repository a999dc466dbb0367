#include <gtest/gtest.h>

#include <memory>

#include "common/error_of.h"
#include "app/session/control_catalog.h"
#include "app/session/control_driver.h"
#include "app/io/errors.h"
#include "app/session/flow_loader.h"
#include "fake_tool.h"
#include "host/platform.h"

using namespace lumets;

namespace {

struct ToolDeleter {
    void operator()(FakeTool* t) const { t->Recycle(); }
};

class FlowControls : public ::testing::Test {
protected:
    std::unique_ptr<FakeTool, ToolDeleter> Tool{new FakeTool};
    ControlCatalog Catalog{*Tool, FakeTool::Names()};

    std::vector<ControlTrack> Bind(const char* json, std::vector<std::string>* warnings = nullptr) {
        return BindControls(Json::parse(json), Catalog, warnings);
    }
    std::string BindError(const char* json) {
        return ErrorOf([&] { Bind(json); });
    }
};

}  // namespace

TEST(FlowFileParsing, ReadsEveryTopLevelPart) {
    const FlowFile f = ParseFlow(R"({"flow": 1, "frames": [5, 20], "seed": 9,
        "background": {"width": 32, "height": 16, "color": [1, 0.5, 0], "pixelAspect": [2, 1], "field": true},
        "particle": {"shape": "star", "size": 12},
        "events": [{"frame": 6, "press": "FastForward", "file": "m.lpd"}],
        "output": "out/x.####.png", "operatorData": "AQID"})",
                                 "f.json", "/data");
    EXPECT_EQ(f.First, 5);
    EXPECT_EQ(f.Last, 20);
    EXPECT_EQ(f.Seed, 9u);
    EXPECT_EQ(f.Background.Width, 32);
    EXPECT_DOUBLE_EQ(f.Background.Color[1], 0.5);
    EXPECT_DOUBLE_EQ(f.Background.Color[3], 1.0);
    EXPECT_TRUE(f.Background.Field);
    EXPECT_DOUBLE_EQ(f.Background.AspectX, 2.0);
    EXPECT_EQ(f.Particle.Shape, "star");
    EXPECT_EQ(f.Particle.Size, 12);
    ASSERT_EQ(f.Events.size(), 1u);
    EXPECT_EQ(*f.Events[0].File, "/data/m.lpd");
    EXPECT_EQ(f.Output, "/data/out/x.####.png");
    EXPECT_EQ(*f.OperatorData, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(FlowFileParsing, PathsAreTakenFromTheFlowsFolder) {
    const FlowFile f = ParseFlow(R"({"flow": 1, "frames": [0, 1], "background": "plates/bg.####.exr",
        "particle": "/abs/shape.png"})", "f.json", "shots/a");
    EXPECT_EQ(f.Background.Path, "shots/a/plates/bg.####.exr");
    EXPECT_EQ(f.Particle.Path, "/abs/shape.png");
}

TEST(FlowFileParsing, RefusesWrongShapesWithTheKeyNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"frames": [0, 1]})", "no \"flow\": 1"},
        {R"({"flow": 2, "frames": [0, 1]})", "unsupported flow version"},
        {R"({"flow": 1, "frames": [9, 1]})", "before the first"},
        {R"({"flow": 1, "frames": [0, 1], "framse": 2})", "nearest: frames"},
        {R"({"flow": 1, "frames": [0, 1], "particle": {"shape": "blob"}})", "unknown particle shape"},
        {R"({"flow": 1, "frames": [0, 1], "background": {"color": [2, 0, 0]}})", "0..1"},
        {R"({"flow": 1, "frames": [0, 1], "events": [{"frame": 7, "press": "X"}]})", "outside"},
        {R"({"flow": 1, "frames": [0, 1], "operatorData": "A*=="})", "base64"},
    };
    for (const auto& [flow, message] : cases)
        EXPECT_NE(ErrorOf([&] { ParseFlow(flow, "f.json", ""); }).find(message), std::string::npos) << flow;
}

TEST_F(FlowControls, GivesEachValueItsKind) {
    auto tracks = Bind(R"({"Birthrate": 12, "Start": [0.3, 0.8], "SystemFile": "a.lpd",
        "BirthSpline": {"closed": true, "points": [{"x": -0.3, "y": 0.0, "out": [0.1, 0.05]}, {"x": 0.3, "y": 0.1}]},
        "MergeSpline": {"table": [0, 16384, 65535]}})");
    ASSERT_EQ(tracks.size(), 5u);
    EXPECT_EQ(std::get<double>(tracks[0].At(0)), 12.0);
    EXPECT_EQ(std::get<PointValue>(tracks[1].At(0)), (PointValue{0.3, 0.8}));
    EXPECT_EQ(std::get<std::string>(tracks[2].At(0)), "a.lpd");
    const auto line = std::get<PolyLineValue>(tracks[3].At(0));
    EXPECT_TRUE(line.Closed);
    ASSERT_EQ(line.Points.size(), 2u);
    EXPECT_EQ(line.Points[0].OutX, 0.1);
    EXPECT_EQ(line.Points[0].OutY, 0.05);
    EXPECT_EQ(line.Points[1].InX, 0.0);
    EXPECT_EQ(std::get<std::vector<uint16_t>>(tracks[4].At(0)), (std::vector<uint16_t>{0, 16384, 65535}));
    // The host parameters carry the same values.
    Parameter* p = MakeParameter(tracks[3].At(0));
    auto* pl = static_cast<PolyLine*>(p);
    EXPECT_EQ(pl->GetCount(), 2);
    EXPECT_FLOAT_EQ(pl->First()->X, -0.3f);
    EXPECT_EQ(pl->First()->Next, pl->First() + 1);
    p->Recycle();
}

TEST_F(FlowControls, AcceptsMemberNamesAndFourCharacterIds) {
    auto tracks = Bind(R"({"Nmbr": 2, "InRollFrames": 3, "0x746E65C3": [0.1, 0.2]})");
    EXPECT_EQ(tracks[0].Info->Member, "InBirthrate");
    EXPECT_EQ(tracks[1].Info->Member, "InRollFrames");
    EXPECT_EQ(tracks[2].Info->Member, "InStart");
}

TEST_F(FlowControls, CurvesAreTabulatedAndAbsentPointsGiveTheIdentity) {
    auto tracks = Bind(R"({"MergeSpline": {"points": [[0, 0], [1, 1]]}})");
    LookUpTable identity(std::get<std::vector<uint16_t>>(tracks[0].At(0)));
    EXPECT_EQ(identity.Count(), LookUpTable::DefaultCount);
    EXPECT_TRUE(identity.IsOneToOne());

    const auto ramp = TabulateCurve({{0.0, 0.0}, {0.5, 1.0}, {1.0, 1.0}});
    EXPECT_EQ(ramp.front(), 0);
    EXPECT_EQ(ramp[LookUpTable::DefaultCount / 4], uint16_t(std::lround(256.0 / 1023.0 * 2 * 65535)));
    EXPECT_EQ(ramp.back(), 65535);
    EXPECT_EQ(TabulateCurve({{0.5, 0.25}}), std::vector<uint16_t>(LookUpTable::DefaultCount, 16384));
    EXPECT_TRUE(LookUpTable(std::get<std::vector<uint16_t>>(Bind(R"({"MergeSpline": {}})")[0].At(0))).IsOneToOne());
}

TEST_F(FlowControls, KeyframesAreLinearBetweenKeysAndHeldOutside) {
    auto tracks = Bind(R"({"Birthrate": {"keys": [[0, 0], [10, 4]]},
                           "Start": {"keys": [[0, [0, 0]], [4, [1, 0.5]]]},
                           "RollFrames": {"keys": [[0, 1], [3, 2]]}})");
    EXPECT_TRUE(tracks[0].Animated);
    EXPECT_EQ(std::get<double>(tracks[0].At(-5)), 0.0);
    EXPECT_EQ(std::get<double>(tracks[0].At(5)), 2.0);
    EXPECT_EQ(std::get<double>(tracks[0].At(7.5)), 3.0);
    EXPECT_EQ(std::get<double>(tracks[0].At(99)), 4.0);
    EXPECT_EQ(std::get<PointValue>(tracks[1].At(1)), (PointValue{0.25, 0.125}));
    EXPECT_EQ(std::get<double>(tracks[2].At(1)), 1.0);  // 1.33 rounded: a whole-number control
    EXPECT_EQ(std::get<double>(tracks[2].At(2)), 2.0);  // 1.67 rounded
}

TEST_F(FlowControls, SwitchesTextsAndUnequalShapesHoldTheEarlierKey) {
    auto tracks = Bind(R"({"EnableScale": {"keys": [[0, 0], [10, 1]]},
                           "SystemFile": {"keys": [[0, "a"], [10, "b"]]},
                           "MergeSpline": {"keys": [[0, {"table": [0, 0]}], [10, {"table": [65535, 65535, 1]}]]},
                           "BirthSpline": {"keys": [[0, {"points": [[0, 0], [1, 1]]}], [10, {"points": [[1, 1], [3, 5]]}]]}})");
    EXPECT_EQ(std::get<double>(tracks[0].At(9.9)), 0.0);
    EXPECT_EQ(std::get<double>(tracks[0].At(10)), 1.0);
    EXPECT_EQ(std::get<std::string>(tracks[1].At(9)), "a");
    EXPECT_EQ(std::get<std::vector<uint16_t>>(tracks[2].At(5)).size(), 2u);
    const auto mid = std::get<PolyLineValue>(tracks[3].At(5));
    EXPECT_EQ(mid.Points[1].X, 2.0);
    EXPECT_EQ(mid.Points[1].Y, 3.0);
}

TEST_F(FlowControls, ValuesOutsideTheRangeAreLimitedWithAWarning) {
    std::vector<std::string> warnings;
    auto tracks = Bind(R"({"Birthrate": {"keys": [[0, -3], [5, 5000]]}, "RollFrames": 0})", &warnings);
    EXPECT_EQ(std::get<double>(tracks[0].At(0)), 0.0);
    EXPECT_EQ(std::get<double>(tracks[0].At(5)), 1000.0);
    EXPECT_EQ(std::get<double>(tracks[1].At(0)), 1.0);
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_NE(warnings[0].find("\"Birthrate\""), std::string::npos);
    EXPECT_NE(warnings[1].find("limited to 1000"), std::string::npos);
    EXPECT_NE(warnings[2].find("\"RollFrames\""), std::string::npos);
}

TEST_F(FlowControls, RefusesUnknownNamesWrongKindsAndDuplicates) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"Birthrat": 1})", "unknown control \"Birthrat\" (nearest: Birthrate"},
        {R"({"Start": 3})", "point"},
        {R"({"Birthrate": "many"})", "number"},
        {R"({"MergeSpline": {"points": [[0.5, 0], [0.2, 1]]}})", "increasing"},
        {R"({"MergeSpline": {"table": [0, 70000]}})", "0 to 65535"},
        {R"({"Birthrate": 1, "Nmbr": 2})", "set twice"},
        {R"({"Birthrate": {"keys": [[1, 1], [1, 2]]}})", "two keys"},
        {R"({"Birthrate": {"keys": [[0, 1], [20, 5], [10, 3]]}})",
         "control \"Birthrate\": keys must be in increasing frame order (frame 10 comes after frame 20)"},
        {R"({"Image": 1})", "unknown control"},
    };
    for (const auto& [json, message] : cases) EXPECT_NE(BindError(json).find(message), std::string::npos) << json;
}

TEST(SetValues, NumbersPointsAndTexts) {
    EXPECT_EQ(ParseSetValue("12.5"), Json(12.5));
    EXPECT_EQ(ParseSetValue("0.3,0.8"), Json::array({0.3, 0.8}));
    EXPECT_EQ(ParseSetValue("take 2"), Json("take 2"));
    EXPECT_EQ(ParseSetValue("1,x"), Json("1,x"));
}

// Curves, polylines and keyframes on the command line are written as in a flow.
TEST_F(FlowControls, SetValuesTakeEveryValueAFlowTakes) {
    const std::string curve = R"({"points":[[0,1],[1,0]]})";
    EXPECT_EQ(ParseSetValue(curve), Json::parse(curve));
    EXPECT_EQ(ParseSetValue(" [0.25, 0.5]"), Json::array({0.25, 0.5}));
    Json controls = {{"MergeSpline", ParseSetValue(curve)},
                     {"Birthrate", ParseSetValue(R"({"keys": [[0, 10], [10, 20]]})")}};
    const auto tracks = Bind(controls.dump().c_str());
    EXPECT_EQ(std::get<std::vector<uint16_t>>(tracks[0].At(0)), TabulateCurve({{0, 1}, {1, 0}}));
    EXPECT_EQ(std::get<double>(tracks[1].At(5)), 15.0);
    try {
        ParseSetValue(R"({"points": [[0, 1)");
        ADD_FAILURE() << "malformed JSON accepted";
    } catch (const UserError& e) {
        EXPECT_NE(std::string(e.what()).find("malformed JSON"), std::string::npos) << e.what();
    }
}

// Text buttons set through the flow are handed over as values, not pressed (number 0).
TEST_F(FlowControls, LoadingNotifiesEveryControlOnceInFlowOrder) {
    ControlDriver driver(Tool.get(), Bind(R"({"RollFrames": 7, "Birthrate": 3, "EnableScale": 1, "RecordNow": "x"})"), {});
    driver.SetValues(0);
    EXPECT_TRUE(Tool->Log.empty());
    Parameter* v = Catalog.Require("RollFrames").In->GetValue(0);
    EXPECT_EQ(static_cast<Number*>(v)->Value, 7.0);
    v->Recycle();
    driver.NotifyAll(0);
    ASSERT_EQ(Tool->Log.size(), 4u);
    EXPECT_EQ(Tool->Log[0].Id, FourCC("PrAm"));
    EXPECT_EQ(Tool->Log[1].Number, 3.0);
    EXPECT_EQ(Tool->Log[2].Id, FourCC("ScCk"));
    EXPECT_EQ(Tool->Log[3].Number, 0.0);
    // Constant values are never handed over again.
    for (int f = 1; f < 5; ++f) driver.BeforeFrame(f);
    EXPECT_EQ(Tool->Log.size(), 4u);
}

TEST_F(FlowControls, KeyframedValuesNotifyOnlyWhenTheyChange) {
    ControlDriver driver(Tool.get(), Bind(R"({"Birthrate": {"keys": [[2, 0], [5, 3]]},
                                              "EnableScale": {"keys": [[0, 0], [3, 1]]}})"), {});
    driver.SetValues(0);
    driver.NotifyAll(0);
    Tool->Log.clear();
    for (int f = 0; f <= 8; ++f) driver.BeforeFrame(f);
    // Birthrate changes at frames 3, 4 and 5; the switch once, at frame 3.
    EXPECT_EQ(Tool->CountFor(FourCC("Nmbr")), 3);
    EXPECT_EQ(Tool->CountFor(FourCC("ScCk")), 1);
    std::vector<double> times;
    for (const auto& n : Tool->Log)
        if (n.Id == FourCC("Nmbr")) times.push_back(n.Time);
    EXPECT_EQ(times, (std::vector<double>{3, 4, 5}));
    Parameter* v = Catalog.Require("Birthrate").In->GetValue(8);
    EXPECT_EQ(static_cast<Number*>(v)->Value, 3.0);
    v->Recycle();
}

TEST_F(FlowControls, EventsPressButtonsAndAnswerTheirDialogs) {
    FlowFile flow = ParseFlow(R"({"flow": 1, "frames": [0, 9],
        "events": [{"frame": 2, "press": "FastForward"}, {"frame": 4, "press": "RecordNow", "file": "/tmp/x.lpd"}]})",
                              "f.json", "");
    ControlDriver driver(Tool.get(), {}, BindEvents(flow.Events, Catalog));
    platform::Default().ClearRecords();
    for (int f = 0; f < 10; ++f) driver.BeforeFrame(f);
    ASSERT_EQ(Tool->Log.size(), 2u);
    EXPECT_EQ(Tool->Log[0].Id, FourCC("Prer"));
    EXPECT_EQ(Tool->Log[0].Time, 2.0);
    EXPECT_EQ(Tool->Log[1].Id, FourCC("SvSy"));
    EXPECT_EQ(Tool->Log[1].Number, 1.0);  // text buttons are pressed with the number 1
    EXPECT_EQ(platform::Default().FileDialog({}), std::optional<std::string>("/tmp/x.lpd"));

    // Only push buttons can be pressed.
    FlowFile bad = ParseFlow(R"({"flow": 1, "frames": [0, 9], "events": [{"frame": 2, "press": "EnableScale"}]})",
                             "f.json", "");
    EXPECT_THROW(BindEvents(bad.Events, Catalog), UserError);
}

TEST_F(FlowControls, CatalogSkipsLabelOnlyInputsAndFindsImages) {
    EXPECT_EQ(Catalog.Items().size(), 10u);  // image inputs are kept apart
    EXPECT_EQ(Catalog.Find("Dmy1"), nullptr);  // not in the name table: no flow key
    EXPECT_NE(Catalog.ImageInput("Particle"), nullptr);
    EXPECT_EQ(IdText(0x746E65C3u), "\\xC3ent");
    EXPECT_EQ(Catalog.Nearest("strt", 1), std::vector<std::string>{"Start"});
}

TEST(NameTable, ParsesLinesAndRefusesMalformedOnes) {
    auto names = ParseNameTable("# comment\n72626D4E InBirthrate\r\n\n746E65C3 InStart\n");
    EXPECT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0x746E65C3u], "InStart");
    EXPECT_THROW(ParseNameTable("7262 InBirthrate\n"), UserError);
    EXPECT_THROW(ParseNameTable("72626D4E\n"), UserError);
}
