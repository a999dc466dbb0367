// The preview's simulation states stay within their memory bound: past it the
// grid of states is thinned, seeks still start from a state, and the frames are
// still those `lumets render` makes.
#include <gtest/gtest.h>

#include "app/io/image_io.h"
#include "app/preview/preview.h"
#include "app/session/session.h"
#include "common/test_files.h"

using namespace lumets;
namespace fs = std::filesystem;

TEST(PreviewStateBudget, StatesStayWithinTheirBoundAndSeeksStillStartFromOne) {
    testfiles::ScratchDir dir;
    fs::create_directory(dir.Path / "work");
    const Json flow{{"flow", 1},
                    {"frames", {0, 2000}},
                    {"seed", 5},
                    {"background", {{"width", 48}, {"height", 27}}},
                    {"particle", {{"shape", "dot"}, {"size", 4}}},
                    {"controls", {{"Birthrate", 4}, {"Lifetime", 20}, {"Speed", 0.05}}}};
    std::ofstream(dir.Path / "flow.json") << flow.dump(2);
    PreviewDocument doc((dir.Path / "flow.json").string(), "", (dir.Path / "work").string());
    doc.Frame(1000, false, 1);
    const size_t perState = doc.StateBytes() / doc.StatesHeld();
    const size_t budget = perState * 10;
    doc.SetStateBudget(budget);
    doc.Frame(1500, false, 1);
    EXPECT_LE(doc.StateBytes(), budget);
    EXPECT_GE(doc.StatesHeld(), 5u);

    // A seek back starts from a state before it, not from the flow's first frame.
    const uint64_t before = doc.StepsSimulated();
    const std::string png = doc.Frame(700, false, 1);
    EXPECT_LT(doc.StepsSimulated() - before, 400u);
    EXPECT_LE(doc.StateBytes(), budget);
    SessionOptions options;
    options.Quiet = true;
    Session s(ParseFlow(flow.dump(), "flow.json", dir.Path.string()), options);
    const std::string file = (dir.Path / "expected.png").string();
    s.Render(700, 700, true, 0, [&](int64_t, Image* p) { WriteImageFile(*p, file); }, "frame");
    const testfiles::Bytes expected = testfiles::ReadBytes(file);
    EXPECT_TRUE(png == std::string(expected.begin(), expected.end()));
}
