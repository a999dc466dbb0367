// Filter instances at work: one instance's far seek holds up no other, and a
// seek back, or to a frame seen before, starts from a kept simulation state.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "app/session/progress.h"
#include "common/test_files.h"
#include "frei0r/filter.h"

using lumets::frei0r::Filter;
using lumets::frei0r::ParamFlow;
using lumets::frei0r::TimeUnit;

namespace {

constexpr unsigned W = 48, H = 32;

std::string FlowPath() {
    static const testfiles::ScratchDir scratch;
    static const std::string path = [] {
        const auto p = scratch.Path / "long.json";
        std::ofstream(p) << R"({"flow": 1, "frames": [0, 999999], "seed": 5, "particle": {"shape": "dot", "size": 6},
          "controls": {"Birthrate": 3, "Start": [0.2, 0.6], "End": [0.8, 0.6], "Speed": 0.02, "Spread": 0.5}})";
        return p.string();
    }();
    return path;
}

struct Instance {
    Filter F{W, H};
    std::vector<uint32_t> In = std::vector<uint32_t>(W * H, 0xff203040u), Out = std::vector<uint32_t>(W * H);
    Instance() { F.Set(ParamFlow, {FlowPath(), 0}); }
    std::vector<uint32_t> Frame(int64_t frame) {
        F.Update(double(frame) / 25.0, TimeUnit::Seconds, In.data(), Out.data());
        return Out;
    }
};

template <class Condition>
bool WaitFor(Condition done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

TEST(Frei0rInstances, AFarSeekHoldsUpNoOtherInstance) {
    Instance far, near;
    std::atomic<bool> farDone{false}, nearDone{false};
    std::thread seeker([&] {
        far.Frame(900000);
        farDone = true;
    });
    ASSERT_TRUE(WaitFor([&] { return far.F.FrameRequests() > 0; }, std::chrono::seconds(60)));
    std::thread player([&] {
        for (int64_t f = 0; f < 10; ++f) near.Frame(f);
        nearDone = true;
    });
    const bool nearFirst = WaitFor([&] { return nearDone.load(); }, std::chrono::seconds(60)) && !farDone;
    // The far seek stops between two frames; it has served its purpose.
    lumets::RequestStop();
    seeker.join();
    player.join();
    lumets::ClearStopRequest();
    EXPECT_TRUE(nearFirst) << "the other instance's ten frames waited for the far seek";
    EXPECT_NE(near.Out, near.In) << "no particles drawn";
}

TEST(Frei0rInstances, SeeksStartFromTheNearestKeptState) {
    Instance f;
    EXPECT_NE(f.Frame(3000), f.In) << "no particles drawn";
    const int64_t interval = f.F.StateInterval();
    EXPECT_GE(interval, Filter::FirstStateInterval);
    EXPECT_LE(3000 / interval, int64_t(Filter::MaxStates));
    for (int64_t frame : {1234, 3000, 17, 2999, 1234}) {
        const uint64_t before = f.F.FrameRequests();
        const std::vector<uint32_t> got = f.Frame(frame);
        EXPECT_LE(f.F.FrameRequests() - before, uint64_t(interval)) << "frame " << frame;
        // The frame of a run from the flow's first frame.
        EXPECT_EQ(got, Instance().Frame(frame)) << "frame " << frame;
    }
}
