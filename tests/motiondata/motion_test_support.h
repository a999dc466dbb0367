#pragma once
// Shared pieces of the motion-data tests: a tool in a flow with a quiet platform,
// a scratch folder, byte access to files, a builder for hand-made motion files,
// and one recorded frame as the frame driver hands it to the recorder.
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
        motion_file::EncodeEntry(FrameEntry{lifetime, retired, live, offset}, &Data[size_t(motion_file::EntryOffset(k))]);
    }
    // Entry k lists frame k's records (appended now) and its retired count.
    void AddFrame(int32_t k, double lifetime, int32_t retired, int32_t live) {
        SetEntry(k, lifetime, retired, live, AddBlock(MakeFrame(k, live)));
    }
    Bytes Data;
};

// One recorded frame as the frame driver hands it to the recorder after the step:
// the records become the live particles, oldest first, in a ring that wraps.
inline void RecordFrame(ParticleOperator* op, double time, double lifetime, int32_t retired,
                        const std::vector<Record>& recs) {
    const int32_t n = int32_t(recs.size());
    std::vector<Particle> ring(size_t(n) + 1);
    const int32_t oldest = n;  // the oldest sits in the last slot, the rest wrap round
    for (int32_t i = 0; i < n; ++i) {
        Particle& p = ring[size_t((oldest + i) % (n + 1))];
        p.Position = Vec2d(recs[size_t(i)].X, recs[size_t(i)].Y);
        p.Angle = recs[size_t(i)].Angle;
        p.Age = recs[size_t(i)].Age;
        p.Size = recs[size_t(i)].Size;
    }
    op->Recorder.Record(RecordedFrame{time, op->Frame.Range.RecordStartFrame, op->Frame.Range.RecordLastFrame, lifetime, retired,
                                      LiveRing{ring.data(), n + 1, oldest, n}});
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
    void TearDown() override {
        H.reset();
        ExpectEveryMessageHasAKind();
    }
    // A new tool; with recordRange its controls record frames 10..19 of a system of
    // three births a frame living four frames (buttons use the last request's settings).
    void NewTool(bool recordRange) {
        H.reset();
        ExpectEveryMessageHasAKind();
        platform::Default().ClearRecords();
        H = std::make_unique<ToolHarness>();
        Op = H->Op;
        if (!recordRange) return;
        H->SetNumber(Op->ControlInput("Lifetime"), 4);
        H->SetNumber(Op->ControlInput("Birthrate"), 3);
        H->SetNumber(Op->ControlInput("RecordStartFrame"), 10);
        H->SetNumber(Op->ControlInput("RecordLastFrame"), 19);
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
        Op->Frame.Range.RecordStartFrame = start;
        Op->Frame.Range.RecordLastFrame = last;
        Press(Op->ControlInput("SaveFile"), path);
        H->Press(Op->ControlInput("RecordNow"));
    }
    void Load(const std::string& path, int32_t start, int32_t last) {
        Op->Frame.Range.LoadStartFrame = start;
        Op->Frame.Range.LoadLastFrame = last;
        Op->LoadMotionFile(path.c_str());
    }
    void StartCapture(double first, double last) {
        Op->Frame.Range.ImageStartFrame = first;
        Op->Frame.Range.ImageLastFrame = last;
        Op->Frame.Range.ShapeFrameCount = int32_t(last - first) + 1;
        H->Press(Op->ControlInput("PreloadShapes"));
    }
    void ExpectOnlyMessage(platform::MessageKind kind, const std::string& text, const std::string& title,
                           int32_t icon) {
        const auto m = Messages();
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(std::string(platform::KindName(m[0].Kind)) + "|" + m[0].Text + "|" + m[0].Title + "|" +
                      std::to_string(m[0].Icon),
                  std::string(platform::KindName(kind)) + "|" + text + "|" + title + "|" + std::to_string(icon));
    }
    // Hosts act on a message's kind, so the tool raises none without one.
    void ExpectEveryMessageHasAKind() const {
        for (const platform::MessageRecord& m : Messages())
            EXPECT_NE(platform::KindName(m.Kind), std::string("unspecified")) << m.Title << ": " << m.Text;
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
