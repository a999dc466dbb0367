// Replays the fuzz targets' inputs in the ordinary test run: every committed seed
// and every input that once made a target fail (kept under fuzz/corpus/ with the
// seeds) goes through the same checks as under the fuzzer, plus hand-made hostile
// inputs of the kinds the fuzzers look for. A failed check aborts, so a
// regression shows as a crashed test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "common/test_files.h"
#include "host/platform.h"
#include "motiondata/motion_file.h"
#include "operator/particle_operator.h"

namespace fuzzing {
int RunMotionPlaybackInput(const uint8_t* data, size_t size);
int RunSavedBlockInput(const uint8_t* data, size_t size);
}  // namespace fuzzing

namespace {

using testfiles::Bytes;
namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles(const std::string& target) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(LUMETS_SOURCE_DIR) / "fuzz" / "corpus" / target))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

template <typename T>
void Append(Bytes& b, T v) {
    const size_t at = b.size();
    b.resize(at + sizeof(T));
    std::memcpy(&b[at], &v, sizeof(T));
}

// A motion file: the frame count, table entries (lifetime, retired, live, data
// offset), then runs of records (count, x, size).
Bytes Motion(int32_t count, std::initializer_list<std::tuple<double, int32_t, int32_t, uint32_t>> entries = {},
             std::initializer_list<std::tuple<int, double, double>> records = {}) {
    Bytes b;
    Append(b, count);
    for (auto [lifetime, retired, live, offset] : entries) {
        Append(b, lifetime);
        Append(b, retired);
        Append(b, live);
        Append(b, offset);
    }
    for (auto [n, x, size] : records)
        for (int i = 0; i < n; ++i)
            for (double v : {x + i, -x, 45.0 * i, double(i), size}) Append(b, v);
    return b;
}

class FuzzCorpusTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Default().SetEcho(false); }
};

// Motion files are played back; saved blocks restored, saved again and rendered.
TEST_F(FuzzCorpusTest, EveryTargetsSeedsReplayCleanly) {
    for (const auto& [target, run] : {std::pair{"motion_playback", &fuzzing::RunMotionPlaybackInput},
                                      std::pair{"saved_block", &fuzzing::RunSavedBlockInput}}) {
        const auto files = CorpusFiles(target);
        ASSERT_GE(files.size(), 3u) << target;
        for (const fs::path& f : files) {
            SCOPED_TRACE(f.string());
            const Bytes b = testfiles::ReadBytes(f);
            EXPECT_EQ(run(b.data(), b.size()), 0);
        }
    }
}

// Motion files whose tables lie: playback shows nothing for such frames or ends;
// it never reads outside the file or the pool.
TEST_F(FuzzCorpusTest, HostileMotionTablesReplayWithoutHarm) {
    const uint32_t d3 = uint32_t(motion_file::DataStart(3)), d2 = uint32_t(motion_file::DataStart(2));
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const Bytes inputs[] = {
        // Live counts far beyond the pool.
        Motion(3, {{4, 0, 2147483647, d3}, {4, 0, 19999, d3}, {4, 0, 20000, d3}}, {{2, 0.5, 1.0}}),
        // Offsets into the frame table, off the record grid, and at the 4 GiB end.
        Motion(3, {{4, 0, 1, 4}, {4, 0, 1, d3 + 3}, {4, 0, 1, 0xFFFFFFF0u}}, {{1, 0.5, 1.0}}),
        // Retired counts above the live count and negative ones.
        Motion(3, {{4, 0, 2, d3}, {4, 1000000, 2, d3 + 80}, {4, -7, 2, d3}}, {{4, 0.5, 1.0}}),
        // No numbers, infinities and giant sizes and positions.
        Motion(2, {{nan, 0, 3, d2}, {0.0, 0, 3, d2 + 120}},
               {{1, inf, 1.0}, {1, 0.5, 1e300}, {1, 1e300, 1e4}, {3, 0.5, -1e9}}),
        // A frame count whose table passes the end of the file.
        Motion(1000000, {{4, 0, 1, 0}}),
        Motion(0), Motion(1), Motion(-1), Motion(-2147483647 - 1), Motion(2147483647), Bytes{}, Bytes{2, 0}};
    for (size_t i = 0; i < std::size(inputs); ++i)
        EXPECT_EQ(fuzzing::RunMotionPlaybackInput(inputs[i].data(), inputs[i].size()), 0) << "input " << i;
}

// Saved shapes whose pixel count overflows 32 bits, and an empty shape with a
// scale that is no number: refused, or restored, saved again and rendered.
// (Other damaged blocks are covered by the operator's saved-block tests.)
TEST_F(FuzzCorpusTest, HostileSavedShapesAreRefusedOrRestored) {
    for (auto [w, h] : {std::pair{2147483647, 2}, std::pair{0, 0}}) {
        Bytes b;
        Append(b, ClassId);
        for (char c : {'L', 'H', 's', 't'}) b.push_back(uint8_t(c));
        for (uint32_t word : {0u, 1u, 1u, uint32_t(w), uint32_t(h)}) Append(b, word);
        Append(b, std::numeric_limits<float>::quiet_NaN());
        Append(b, 0.0f);
        Append(b, ShapeEndMarker);
        EXPECT_EQ(fuzzing::RunSavedBlockInput(b.data(), b.size()), 0) << w << "x" << h;
    }
}

}  // namespace
