// The preview's document: dialog answers and file names from the page stay in
// the flow's folder, every kind of frame is scrubbed from the saved states, and
// a long seek gives way to newer requests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "common/error_of.h"
#include "app/io/errors.h"
#include "app/io/image_io.h"
#include "app/preview/preview.h"
#include "app/session/session.h"
#include "common/test_files.h"
#include "host/operator.h"

using namespace lumets;
using testfiles::Bytes;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A small, cheap fountain over the given frames.
Json SmallFlow(int64_t first, int64_t last) {
    return Json{{"flow", 1},
                {"frames", {first, last}},
                {"seed", 5},
                {"background", {{"width", 48}, {"height", 27}, {"color", {0.0, 0.0, 0.1, 1.0}}}},
                {"particle", {{"shape", "dot"}, {"size", 4}}},
                {"controls",
                 {{"Birthrate", 2},
                  {"Lifetime", 15},
                  {"Speed", 0.05},
                  {"Gravity", 0.3},
                  {"GravityAngle", {{"keys", {{first, 270}, {first + 40, 200}}}}},
                  {"EnableScale", 1}}},
                {"events", {{{"frame", first}, {"press", "FastForward"}}}}};
}

class PreviewDocumentTest : public ::testing::Test {
protected:
    testfiles::ScratchDir Dir, Elsewhere;
    fs::path FlowPath;

    std::unique_ptr<PreviewDocument> Open(const Json& flow) {
        FlowPath = Dir.Path / "flow.json";
        std::ofstream(FlowPath) << flow.dump(2);
        return std::make_unique<PreviewDocument>(FlowPath.string(), "", (Dir.Path / "work").string());
    }
    void SetUp() override { fs::create_directory(Dir.Path / "work"); }

    // The PNG `lumets render` writes for frame n.
    std::string Rendered(const Json& flow, int64_t n, bool quick, int proxy) {
        SessionOptions options;
        options.Quiet = true;
        options.Proxy = proxy;
        Session s(ParseFlow(flow.dump(), "flow.json", Dir.Path.string()), options);
        const fs::path file = Elsewhere.Path / "expected.png";
        s.Render(n, n, true, quick ? Request::FlagQuick : 0, [&](int64_t, Image* p) { WriteImageFile(*p, file.string()); },
                 "frame");
        const Bytes b = testfiles::ReadBytes(file);
        return std::string(b.begin(), b.end());
    }
};

// What a call on another thread ended with.
template <class F>
std::future<std::string> Async(F f) {
    return std::async(std::launch::async, [f]() -> std::string {
        try {
            f();
            return "done";
        } catch (const Superseded&) {
            return "superseded";
        } catch (const std::exception& e) {
            return std::string("error: ") + e.what();
        }
    });
}

bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST_F(PreviewDocumentTest, DialogAnswersNameOnlyRegularFilesOrNewNamesBesideTheFlow) {
    auto doc = Open(SmallFlow(0, 20));
    const Bytes flowBytes = testfiles::ReadBytes(FlowPath);
    const Bytes victim{'k', 'e', 'e', 'p'};
    testfiles::WriteBytes(Elsewhere.Path / "victim.lpd", victim);
    fs::create_symlink(Elsewhere.Path / "victim.lpd", Dir.Path / "link.lpd");
    fs::create_symlink(Elsewhere.Path / "absent.lpd", Dir.Path / "dangling.lpd");
    fs::create_directory(Dir.Path / "folder.lpd");
    for (const char* answer : {"flow.json", "link.lpd", "dangling.lpd", "folder.lpd", "a\nb.lpd"}) {
        SCOPED_TRACE(answer);
        const std::string error = ErrorOf([&] { doc->Press("SaveFile", std::string(answer), 0); });
        EXPECT_NE(error, "");
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        doc->Press("RecordNow", std::nullopt, 0);
    }
    EXPECT_EQ(testfiles::ReadBytes(FlowPath), flowBytes);
    EXPECT_EQ(testfiles::ReadBytes(Elsewhere.Path / "victim.lpd"), victim);
    EXPECT_FALSE(fs::exists(Elsewhere.Path / "absent.lpd"));
    // A new name is written.
    doc->Press("SaveFile", std::string("run.lpd"), 0);
    doc->Press("RecordNow", std::nullopt, 0);
    EXPECT_GT(fs::file_size(Dir.Path / "run.lpd"), 0u);
    // Save as: a link is taken, even one that leads nowhere.
    fs::create_symlink(Elsewhere.Path / "victim.json", Dir.Path / "dangling.json");
    EXPECT_NE(ErrorOf([&] { doc->Save(std::string("dangling.json")); }), "");
    EXPECT_FALSE(fs::exists(Elsewhere.Path / "victim.json"));
}

TEST_F(PreviewDocumentTest, SystemFileNamesOnlyARegularFileInTheFlowsFolder) {
    auto doc = Open(SmallFlow(0, 20));
    testfiles::WriteBytes(Elsewhere.Path / "secret.lpd", Bytes(64, 1));
    testfiles::WriteBytes(Dir.Path / "own.lpd", Bytes(64, 1));
    fs::create_symlink(Elsewhere.Path / "secret.lpd", Dir.Path / "link.lpd");
    const std::string outside = (Elsewhere.Path / "secret.lpd").string();
    const std::string through = (Dir.Path / ".." / Elsewhere.Path.filename() / "secret.lpd").string();
    for (const std::string& name : {outside, through, (Dir.Path / "link.lpd").string(), std::string("link.lpd"),
                                    std::string("missing.lpd"), (Dir.Path / "work").string()}) {
        SCOPED_TRACE(name);
        EXPECT_NE(ErrorOf([&] { doc->Set("SystemFile", name, 0); }), "");
        EXPECT_EQ(doc->Describe(0)["controls"]["SystemFile"]["value"], "");
    }
    // A file of the folder, by its name or its path; empty unloads.
    doc->Set("SystemFile", "own.lpd", 0);
    EXPECT_EQ(fs::path(doc->Describe(0)["controls"]["SystemFile"]["value"].get<std::string>()),
              Dir.Path / "own.lpd");
    doc->Set("SystemFile", (Dir.Path / "own.lpd").string(), 0);
    doc->Set("SystemFile", "", 0);
}

TEST_F(PreviewDocumentTest, EveryKindOfFrameIsScrubbedFromTheSavedStates) {
    const Json flow = SmallFlow(0, 2000);  // states every 32 frames
    auto doc = Open(flow);
    doc->Frame(1500, false, 1);
    // Full, quick and reduced frames, near and far, each as `lumets render` makes it.
    struct Ask {
        int64_t Frame;
        bool Quick;
        int Proxy;
    };
    for (const Ask& a : {Ask{20, true, 1}, Ask{1400, true, 1}, Ask{1401, false, 1}, Ask{700, true, 1},
                         Ask{1402, true, 2}, Ask{1403, false, 2}, Ask{30, true, 2}}) {
        SCOPED_TRACE(std::to_string(a.Frame) + (a.Quick ? " quick" : "") + " proxy " + std::to_string(a.Proxy));
        const uint64_t before = doc->StepsSimulated();
        const std::string png = doc->Frame(a.Frame, a.Quick, a.Proxy);
        const uint64_t steps = doc->StepsSimulated() - before;
        if (a.Proxy == 1) {
            EXPECT_LE(steps, 32u);
        }
        EXPECT_TRUE(png == Rendered(flow, a.Frame, a.Quick, a.Proxy));
    }
    EXPECT_LE(doc->StatesHeld(), 2001u / 32 + 4);
}

TEST_F(PreviewDocumentTest, ANewerRequestStopsALongSeekAndTheSeekResumesLater) {
    auto doc = Open(SmallFlow(0, 1000000));
    PreviewDocument& d = *doc;
    auto seek = Async([&] { d.Frame(1000000, true, 1); });
    ASSERT_TRUE(WaitFor([&] { return d.StepsSimulated() >= 300; }, 60s));
    // The cheap calls do not wait for it.
    auto status = Async([&] { d.RenderStatus(); });
    auto describe = Async([&] { d.Describe(0); });
    ASSERT_EQ(status.wait_for(5s), std::future_status::ready);
    ASSERT_EQ(describe.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(seek.wait_for(0s), std::future_status::timeout) << "the seek ended before the status came";
    EXPECT_EQ(status.get(), "done");
    EXPECT_EQ(describe.get(), "done");
    // A save stops it between two frames.
    d.Save(std::nullopt);
    ASSERT_EQ(seek.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(seek.get(), "superseded");
    const uint64_t reached = d.StepsSimulated();  // frames 0..reached-1
    ASSERT_LT(reached, 1000000u);

    // A near frame, then a frame just past where the seek stopped, which goes on
    // from there.
    d.Frame(10, true, 1);
    const uint64_t before = d.StepsSimulated();
    d.Frame(int64_t(reached) + 40, true, 1);
    EXPECT_LE(d.StepsSimulated() - before, 41u);

    // A newer frame stops a seek too.
    auto again = Async([&] { d.Frame(999999, false, 1); });
    const uint64_t start = d.StepsSimulated();
    ASSERT_TRUE(WaitFor([&] { return d.StepsSimulated() >= start + 300; }, 60s));
    auto near = Async([&] { d.Frame(20, true, 1); });
    ASSERT_EQ(again.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(again.get(), "superseded");
    ASSERT_EQ(near.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(near.get(), "done");
}

}  // namespace
