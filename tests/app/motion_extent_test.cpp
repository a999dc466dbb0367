// How much of a motion-data file a playback can use, which frames of a playback
// run past the end of a recording, and files of another kind named as such.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/io/errors.h"
#include "app/io/motion_file.h"
#include "motiondata/motion_file.h"
#include "common/test_files.h"

using namespace lumets;
namespace fs = std::filesystem;

namespace {

// A recording of n frames as the tool writes it: frame k holds k + 1 particles.
std::vector<uint8_t> Recording(int32_t n) {
    uint64_t size = motion_file::DataStart(n);
    for (int32_t k = 0; k < n; ++k) size = motion_file::BlockEnd(size, k + 1);
    std::vector<uint8_t> b(size, 0x3f);  // the records: any doubles will do
    std::memcpy(&b[0], &n, 4);
    uint32_t offset = uint32_t(motion_file::DataStart(n));
    for (int32_t k = 0; k < n; ++k) {
        motion_file::EncodeEntry({30.0, 0, k + 1, offset}, &b[motion_file::EntryOffset(k)]);
        offset = uint32_t(motion_file::BlockEnd(offset, k + 1));
    }
    return b;
}

uint32_t OffsetOfFrame(const std::vector<uint8_t>& file, int k) {
    return motion_file::DecodeEntry(&file[motion_file::EntryOffset(k)]).DataOffset;
}

MotionExtent ExtentOf(const std::vector<uint8_t>& bytes) {
    const testfiles::ScratchDir scratch;
    const fs::path path = scratch.Path / "m.lpd";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return ReadMotionExtent(path.string(), "m.lpd");
}

std::vector<int64_t> Frames(int64_t first, int64_t last) {
    std::vector<int64_t> f;
    for (int64_t t = first; t <= last; ++t) f.push_back(t);
    return f;
}

std::string ParseError(const std::vector<uint8_t>& bytes) {
    try {
        ParseMotionFile(bytes, "m.lpd");
    } catch (const UserError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(MotionExtent, CountsTheWholeFramesOfACutOrStoppedRecording) {
    const std::vector<uint8_t> whole = Recording(8);
    const MotionExtent all = ExtentOf(whole);
    EXPECT_EQ(all.FrameCount, 8);
    EXPECT_EQ(all.WholeFrames, 8);
    EXPECT_TRUE(all.Complete());

    // Cut inside frame 5's records, or where they begin: frames 0-4 are whole.
    for (const uint32_t cut : {OffsetOfFrame(whole, 5) + 40, OffsetOfFrame(whole, 5)}) {
        const std::vector<uint8_t> cutFile(whole.begin(), whole.begin() + cut);
        EXPECT_EQ(ExtentOf(cutFile).WholeFrames, 5) << cut;
    }
    // A recording stopped after frame 2 leaves the later entries as they were made: zero.
    std::vector<uint8_t> stopped = whole;
    std::memset(&stopped[motion_file::EntryOffset(3)], 0, motion_file::EntrySize * 5);
    const MotionExtent early = ExtentOf(stopped);
    EXPECT_EQ(early.WholeFrames, 3);
    EXPECT_FALSE(early.Complete());
}

TEST(MotionExtent, FindsTheFirstFrameThatPlaysPastTheEnd) {
    // 21 recorded frames over the range 0-20, frames 0-11 whole: frame t is rebuilt
    // from recorded frames trunc(t * 19.99 / 20) and the one after, so frame 12 is
    // the first that needs frame 12.
    const MotionExtent cut{21, 12};
    const PlaybackRange forward{0, 20, false};
    EXPECT_EQ(FirstFramePastEnd(cut, Frames(0, 20), forward), std::optional<int64_t>(12));
    EXPECT_EQ(FirstFramePastEnd(cut, Frames(0, 11), forward), std::nullopt);
    EXPECT_EQ(FirstFramePastEnd(cut, {3, 15, 17}, forward), std::optional<int64_t>(15));
    // Reversed, the playback starts at the end of the recording.
    EXPECT_EQ(FirstFramePastEnd(cut, Frames(0, 20), {0, 20, true}), std::optional<int64_t>(0));
    // Stretched over 100 frames, frame 56 is the first to need recorded frame 12
    // (56 * 19.99 / 100 = 11.19, 55 * 19.99 / 100 = 10.99); frames outside the
    // range show no recording.
    EXPECT_EQ(FirstFramePastEnd(cut, Frames(0, 55), {0, 100, false}), std::nullopt);
    EXPECT_EQ(FirstFramePastEnd(cut, Frames(0, 60), {0, 100, false}), std::optional<int64_t>(56));
    EXPECT_EQ(FirstFramePastEnd(cut, Frames(30, 40), {0, 10, false}), std::nullopt);
    // A whole recording never plays past its end.
    EXPECT_EQ(FirstFramePastEnd({21, 21}, Frames(0, 20), forward), std::nullopt);

    EXPECT_EQ(EndsEarlyText("cut.lpd", cut, 12),
              "cut.lpd ends early: its last whole frame is recorded frame 11 of 21 (0-20); the playback runs past it "
              "from frame 12");
}

TEST(MotionExtent, FilesOfAnotherKindAreNamedDamagedRecordingsAreNot) {
    const std::pair<std::string, std::string> kinds[] = {
        {std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), "it is a PNG image"},
        {std::string("\xff\xd8\xff\xe0\0\x10JFIF\0", 11), "it is a JPEG image"},
        {"{\n  \"flow\": 1,\n  \"frames\": [0, 99]\n}\n", "it is a flow file (JSON)"},
    };
    for (const auto& [bytes, kind] : kinds) {
        const std::string e = ParseError(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        EXPECT_NE(e.find("m.lpd: not a motion-data file (" + kind + ")"), std::string::npos) << e;
    }
    // A recording whose frame count was damaged, or one of 123 frames (its first
    // byte a "{") cut inside its table, stays a damaged recording.
    std::vector<uint8_t> damaged = Recording(3);
    damaged[2] = 0x40;
    std::vector<uint8_t> braced = Recording(123);
    braced.resize(100);
    for (const auto& bytes : {damaged, braced})
        EXPECT_NE(ParseError(bytes).find("damaged motion-data file (frame count"), std::string::npos) << ParseError(bytes);
}
