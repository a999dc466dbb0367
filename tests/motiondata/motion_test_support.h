#pragma once
// Shared pieces of the motion-data tests: a tool in a flow with a quiet platform,
// a scratch folder, byte access to files, a builder for hand-made motion files,
// and the recording writes of one frame as the frame driver and the particle
// steps make them.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "common/tool_harness.h"
#include "host/messages.h"
#include "host/tags.h"
#include "motiondata/motion_file.h"

namespace mdtest {

using motion_file::FrameEntry;
using motion_file::Record;
using testfiles::Bytes;
using testfiles::ReadBytes;
using testfiles::WriteBytes;
template <typename T>
T Get(const Bytes& b, size_t off) {
    T v{};
    if (off + sizeof(T) <= b.size()) std::memcpy(&v, b.data() + off, sizeof(T));
    return v;
}
template <typename T>
void Put(Bytes& b, size_t off, T v) {
    if (b.size() < off + sizeof(T)) b.resize(off + sizeof(T));
    std::memcpy(b.data() + off, &v, sizeof(T));
}

// Record i of frame k in the test files: values that tell frames and particles apart.
inline Record MakeRecord(int k, int i) {
    return Record{100.0 * k + i, -(100.0 * k + i) / 8.0, 10.0 * k + i, double(k + i), 1.0 + 0.25 * k + 0.5 * i};
}
inline std::vector<Record> MakeFrame(int k, int count) {
    std::vector<Record> v;
    for (int i = 0; i < count; ++i) v.push_back(MakeRecord(k, i));
    return v;
}

// A motion file put together by hand: the count, a zeroed table and the blocks.
struct MotionFileBuilder {
    explicit MotionFileBuilder(int32_t n) : Data(size_t(motion_file::DataStart(n)), 0) { Put<int32_t>(Data, 0, n); }
    // Appends a block and returns its offset.
    uint32_t AddBlock(const std::vector<Record>& recs) {
        const uint32_t off = uint32_t(Data.size());
        for (const Record& r : recs) Put<Record>(Data, Data.size(), r);
        return off;
    }
    void SetEntry(int32_t k, double lifetime, int32_t retired, int32_t live, uint32_t offset) {
        const size_t at = size_t(motion_file::EntryOffset(k));
        Put<double>(Data, at, lifetime);
        Put<int32_t>(Data, at + 8, retired);
        Put<int32_t>(Data, at + 12, live);
        Put<uint32_t>(Data, at + 16, offset);
    }
    // Entry k lists frame k's records (appended now) and its retired count.
    void AddFrame(int32_t k, double lifetime, int32_t retired, int32_t live) {
        SetEntry(k, lifetime, retired, live, AddBlock(MakeFrame(k, live)));
    }
    Bytes Data;
};

// The writes one recorded frame gets from the frame driver (entry start, counts)
// and from the ageing and stepping steps (retired count, one record per particle).
inline void RecordFrame(ParticleOperator* op, double time, double lifetime, int32_t retired,
                        const std::vector<Record>& recs) {
    op->Frame.Lifetime = lifetime;
    op->BeginRecordedFrame(time);
    op->RecordWrite(&retired, 4);
    op->Pool.LiveCount = int32_t(recs.size());
    op->WriteFrameCounts();
    for (const Record& r : recs) op->RecordWrite(&r, 40);  // writes nothing unless active
    op->FlushRecordWrites();
    op->Pool.LiveCount = 0;
}

inline int32_t Disabled(Input* in) { return in->GetAttrLong(Tags::Disabled, -1); }
inline int32_t Visible(Input* in) { return in->GetAttrLong(Tags::Visible, -1); }
inline int32_t ViewVisible(Input* in) { return in->GetAttrLong(Tags::ViewVisible, -1); }

// A tool in a flow over frames 0..100, a scratch folder, and a platform whose
// message and dialog records start empty and stay quiet.
class MotionTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Default().SetEcho(false);
        NewTool(false);
    }
    void TearDown() override { H.reset(); }
    // A new tool; with recordRange its controls record frames 10..19 of a system of
    // three births a frame living four frames (buttons use the last request's settings).
    void NewTool(bool recordRange) {
        H.reset();
        platform::Default().ClearRecords();
        H = std::make_unique<ToolHarness>();
        Op = H->Op;
        if (!recordRange) return;
        H->SetNumber(Op->InLifetime, 4);
        H->SetNumber(Op->InBirthrate, 3);
        H->SetNumber(Op->InRecordStartFrame, 10);
        H->SetNumber(Op->InRecordLastFrame, 19);
        H->Request_(0);
    }
    std::string Path(const std::string& name) const { return (Scratch.Path / name).string(); }
    std::vector<platform::MessageRecord> Messages() const { return platform::Default().Messages(); }

    // Presses a button whose file dialog (if it shows one) gets the answer.
    void Press(Input* in, std::optional<std::string> dialogAnswer = std::nullopt) {
        platform::Default().QueueDialogAnswer(dialogAnswer);
        H->Press(in);
    }
    void StartRecording(const std::string& path, int32_t start, int32_t last) {
        Op->Frame.RecordStartFrame = start;
        Op->Frame.RecordLastFrame = last;
        Press(Op->InSaveFile, path);
        H->Press(Op->InRecordNow);
    }
    void Load(const std::string& path, int32_t start, int32_t last) {
        Op->Frame.LoadStartFrame = start;
        Op->Frame.LoadLastFrame = last;
        Op->LoadMotionFile(path.c_str());
    }
    void StartCapture(double first, double last) {
        Op->Frame.ImageStartFrame = first;
        Op->Frame.ImageLastFrame = last;
        Op->Frame.ShapeFrameCount = int32_t(last - first) + 1;
        H->Press(Op->InPreloadShapes);
    }
    void ExpectOnlyMessage(const std::string& text, const std::string& title, int32_t icon) {
        const auto m = Messages();
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].Text + "|" + m[0].Title + "|" + std::to_string(m[0].Icon),
                  text + "|" + title + "|" + std::to_string(icon));
    }
    // The render a button posted for its range, alone in the queue.
    void ExpectPostedRender(double start, double end) {
        std::unique_ptr<RenderMessage> m = H->TheFlow.Port().GetMsg();
        ASSERT_TRUE(m);
        EXPECT_TRUE(m->Start == start && m->End == end && m->Sender == Op && m->Step == 1);
        EXPECT_TRUE(m->Flags == 0 && m->Flags2 == 0 && m->Target == nullptr && H->TheFlow.Port().Empty());
    }

    testfiles::ScratchDir Scratch;
    std::unique_ptr<ToolHarness> H;
    ParticleOperator* Op = nullptr;
};

}  // namespace mdtest
