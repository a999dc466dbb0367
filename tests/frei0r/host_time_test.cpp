// Hosts that hand no usable frame time: the filter counts the frames itself,
// from the frame after the last one it drew, and says so once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <fstream>
#include <vector>

#include "common/test_files.h"
#include "frei0r/filter.h"

using lumets::frei0r::Filter;
using lumets::frei0r::ParamFlow;
using lumets::frei0r::TimeUnit;

namespace {

constexpr unsigned W = 40, H = 30;

std::string FlowPath() {
    static const testfiles::ScratchDir scratch;
    static const std::string path = [] {
        const auto p = scratch.Path / "flow.json";
        std::ofstream(p) << R"({"flow": 1, "frames": [0, 99], "seed": 3, "particle": {"shape": "dot", "size": 5},
          "controls": {"Birthrate": 6, "Start": [0.2, 0.6], "End": [0.8, 0.6], "Speed": 0.03, "Spread": 0.5}})";
        return p.string();
    }();
    return path;
}

struct Instance {
    Filter F{W, H};
    std::vector<uint32_t> In = std::vector<uint32_t>(W * H, 0xff203040u), Out = std::vector<uint32_t>(W * H);
    Instance() { F.Set(ParamFlow, {FlowPath(), 0}); }
    std::vector<uint32_t> At(double time, TimeUnit unit = TimeUnit::Seconds, bool consecutive = false) {
        F.Update(time, unit, In.data(), Out.data(), consecutive);
        return Out;
    }
};

}  // namespace

TEST(Frei0rHostTime, UnusableTimesAreCountedOnFromTheLastFrame) {
    Instance run;
    std::vector<std::vector<uint32_t>> frames;
    for (int f = 0; f < 6; ++f) frames.push_back(run.At(f / 25.0));
    ASSERT_NE(frames[1], run.In) << "no particles drawn";
    ASSERT_NE(frames[1], frames[2]);

    testing::internal::CaptureStderr();
    const double inf = std::numeric_limits<double>::infinity();
    // ffmpeg's scaled "no timestamp", the same time again, and a time that goes
    // back where frames are consecutive.
    const std::vector<std::vector<double>> ffmpegTimes = {
        {-7.2e17, -7.2e17, -7.2e17, -7.2e17, -7.2e17, -7.2e17}, {0, 0, 0, 0, 0, 0}, {0, 40, 80, 40, 20, 200}};
    for (const auto& times : ffmpegTimes) {
        Instance host;
        for (size_t f = 0; f < times.size(); ++f)
            EXPECT_TRUE(host.At(times[f], TimeUnit::Milliseconds, true) == frames[f]) << "frame " << f << " of " << times[0];
    }
    // Hosts that may seek: an unusable time is the frame after the last; a
    // usable one is still a seek.
    Instance seeker;
    const double seekerTimes[] = {-1, std::nan(""), 4 / 25.0, inf, 2 / 25.0, -inf};
    const size_t seekerFrames[] = {0, 1, 4, 5, 2, 3};
    for (size_t i = 0; i < 6; ++i) EXPECT_TRUE(seeker.At(seekerTimes[i]) == frames[seekerFrames[i]]) << "update " << i;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("lumets frei0r: the host gives no usable frame time (-7.2e+17 ms); ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}
