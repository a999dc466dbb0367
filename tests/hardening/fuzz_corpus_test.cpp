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

void Entry(Bytes& b, double lifetime, int32_t retired, int32_t live, uint32_t offset) {
    Append(b, lifetime);
    Append(b, retired);
    Append(b, live);
    Append(b, offset);
}

void Records(Bytes& b, int n, double x, double size) {
    for (int i = 0; i < n; ++i)
        for (double v : {x + i, -x, 45.0 * i, double(i), size}) Append(b, v);
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

// Motion files whose tables lie: counts past the pool, offsets into the table or
// past the end, retired counts above the live count, values that are no numbers
// or far too large to draw. Playback shows nothing for such frames or ends; it
// never reads outside the file or the pool.
TEST_F(FuzzCorpusTest, HostileMotionTablesReplayWithoutHarm) {
    std::vector<Bytes> inputs;
    const uint32_t data3 = uint32_t(motion_file::DataStart(3));
    {
        Bytes b;  // live counts far beyond the pool
        Append(b, int32_t(3));
        Entry(b, 4, 0, 2147483647, data3);
        Entry(b, 4, 0, 19999, data3);
        Entry(b, 4, 0, 20000, data3);
        Records(b, 2, 0.5, 1.0);
        inputs.push_back(b);
    }
    {
        Bytes b;  // offsets into the frame table, not on the record grid, and at the 4 GiB end
        Append(b, int32_t(3));
        Entry(b, 4, 0, 1, 4);
        Entry(b, 4, 0, 1, data3 + 3);
        Entry(b, 4, 0, 1, 0xFFFFFFF0u);
        Records(b, 1, 0.5, 1.0);
        inputs.push_back(b);
    }
    {
        Bytes b;  // retired counts above the live count and negative ones
        Append(b, int32_t(3));
        Entry(b, 4, 0, 2, data3);
        Entry(b, 4, 1000000, 2, data3 + 80);
        Entry(b, 4, -7, 2, data3);
        Records(b, 4, 0.5, 1.0);
        inputs.push_back(b);
    }
    {
        Bytes b;  // no numbers, infinities and giant sizes and positions in the records
        Append(b, int32_t(2));
        Entry(b, std::numeric_limits<double>::quiet_NaN(), 0, 3, uint32_t(motion_file::DataStart(2)));
        Entry(b, 0.0, 0, 3, uint32_t(motion_file::DataStart(2)) + 120);
        Records(b, 1, std::numeric_limits<double>::infinity(), 1.0);
        Records(b, 1, 0.5, 1e300);
        Records(b, 1, 1e300, 1e4);
        Records(b, 3, 0.5, -1e9);
        inputs.push_back(b);
    }
    {
        Bytes b;  // a frame count whose table passes the end of the file
        Append(b, int32_t(1000000));
        Entry(b, 4, 0, 1, 0);
        inputs.push_back(b);
    }
    for (int32_t count : {0, 1, -1, -2147483647 - 1, 2147483647}) {
        Bytes b;
        Append(b, count);
        inputs.push_back(b);
    }
    inputs.push_back(Bytes{});
    inputs.push_back(Bytes{2, 0});
    for (size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        EXPECT_EQ(fuzzing::RunMotionPlaybackInput(inputs[i].data(), inputs[i].size()), 0);
    }
}

// Saved blocks that claim more than they hold: a huge shape count, a huge or
// negative shape, a size word with no count. Each is refused (or read as far as
// it is whole) without a large allocation.
TEST_F(FuzzCorpusTest, HostileSavedBlocksAreRefusedOrRestored) {
    auto head = [] {
        Bytes b;
        Append(b, ClassId);
        for (char c : {'L', 'H', 's', 't'}) b.push_back(uint8_t(c));
        Append(b, uint32_t(0));
        return b;
    };
    std::vector<Bytes> inputs;
    {
        Bytes b = head();
        Append(b, uint32_t(1));
        Append(b, uint32_t(0x0FFFFFFF));
        inputs.push_back(b);
    }
    for (auto [w, h] : {std::pair{65535, 65535}, std::pair{-1, 5}, std::pair{2147483647, 2}, std::pair{0, 0}}) {
        Bytes b = head();
        Append(b, uint32_t(1));
        Append(b, uint32_t(1));
        Append(b, int32_t(w));
        Append(b, int32_t(h));
        Append(b, std::numeric_limits<float>::quiet_NaN());
        Append(b, 0.0f);
        Append(b, ShapeEndMarker);
        inputs.push_back(b);
    }
    {
        Bytes b = head();
        Append(b, uint32_t(0xFFFFFFFF));
        inputs.push_back(b);
    }
    {
        Bytes b = head();  // a host block longer than the data
        b[8] = 0xFF;
        inputs.push_back(b);
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        EXPECT_EQ(fuzzing::RunSavedBlockInput(inputs[i].data(), inputs[i].size()), 0);
    }
}

}  // namespace
