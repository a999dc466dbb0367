#pragma once
// Shared pieces of the motion-data tests: a tool in a flow with a quiet platform,
// a scratch folder, byte access to files, a builder for hand-made motion files,
// and the recording writes of one frame as the frame driver and the particle
// steps make them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/tool_harness.h"
#include "host/tags.h"
#include "motiondata/motion_file.h"

namespace mdtest {

using motion_file::FrameEntry;
using motion_file::Record;
using Bytes = std::vector<unsigned char>;

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
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

// A motion file put together by hand: the count, the table and the blocks, each
// block appended where the caller says.
struct MotionFileBuilder {
    explicit MotionFileBuilder(int32_t n) : N(n) {
        Put<int32_t>(Data, 0, n);
        Data.resize(size_t(motion_file::DataStart(n < 0 ? 0 : n)), 0);
    }
    // Appends a block and returns its offset.
    uint32_t AddBlock(const std::vector<Record>& recs) {
        uint32_t off = uint32_t(Data.size());
        for (const Record& r : recs) {
            size_t at = Data.size();
            Data.resize(at + sizeof(Record));
            std::memcpy(Data.data() + at, &r, sizeof(Record));
        }
        return off;
    }
    void SetEntry(int32_t k, double lifetime, int32_t retired, int32_t live, uint32_t offset) {
        size_t at = size_t(motion_file::EntryOffset(k));
        Put<double>(Data, at, lifetime);
        Put<int32_t>(Data, at + 8, retired);
        Put<int32_t>(Data, at + 12, live);
        Put<uint32_t>(Data, at + 16, offset);
    }
    // A frame with its block: entry k lists the records and the retired count.
    void AddFrame(int32_t k, double lifetime, int32_t retired, const std::vector<Record>& recs) {
        uint32_t off = AddBlock(recs);
        SetEntry(k, lifetime, retired, int32_t(recs.size()), off);
    }
    int32_t N;
    Bytes Data;
};

// Record i of frame k in the test files: values that tell frames and particles apart.
inline Record MakeRecord(int k, int i) {
    return Record{100.0 * k + i, -(100.0 * k + i) / 8.0, 10.0 * k + i, double(k + i), 1.0 + 0.25 * k + 0.5 * i};
}
inline std::vector<Record> MakeFrame(int k, int count) {
    std::vector<Record> v;
    for (int i = 0; i < count; ++i) v.push_back(MakeRecord(k, i));
    return v;
}

// The writes one recorded frame gets from the frame driver (entry start, counts)
// and from the ageing and stepping steps (retired count, one record per particle),
// in their order, with the given live particles.
inline void RecordFrame(ParticleOperator* op, double time, double lifetime, int32_t retired,
                        const std::vector<Record>& recs) {
    op->Lifetime = lifetime;
    op->BeginRecordedFrame(time);
    if (op->RecordActive()) op->RecordWrite(&retired, 4);
    op->LiveCount = int32_t(recs.size());
    op->WriteFrameCounts();
    for (const Record& r : recs) {
        if (op->RecordActive()) op->RecordWrite(&r, 40);
    }
    op->LiveCount = 0;
}

inline int32_t Disabled(Input* in) { return in->GetAttrLong(Tags::Disabled, -1); }
inline int32_t Visible(Input* in) { return in->GetAttrLong(Tags::Visible, -1); }
inline int32_t ViewVisible(Input* in) { return in->GetAttrLong(Tags::ViewVisible, -1); }

inline std::string TextValue(Input* in) {
    std::string s = "<none>";
    if (Parameter* p = in->GetValue(0)) {
        if (p->DataType == DT_Text) s = static_cast<Text*>(p)->Value;
        p->Recycle();
    }
    return s;
}

// A tool in a flow over frames 0..100, a scratch folder, and a platform whose
// message and dialog records start empty and stay quiet.
class MotionTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Default().SetEcho(false);
        platform::Default().ClearRecords();
        char tmpl[] = "/tmp/lumets-md-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        H = std::make_unique<ToolHarness>();
        Op = H->Op;
    }
    void TearDown() override {
        H.reset();
        platform::Default().ClearRecords();
        std::filesystem::remove_all(Dir);
    }
    std::string Path(const std::string& name) const { return Dir + "/" + name; }
    std::vector<platform::MessageRecord> Messages() const { return platform::Default().Messages(); }

    // Chooses the file in the save dialog.
    void ChooseSaveFile(const std::string& path) {
        platform::Default().QueueDialogAnswer(path);
        H->Press(Op->InSaveFile);
    }
    // Starts a recording of start..last into the file.
    void StartRecording(const std::string& path, int32_t start, int32_t last) {
        Op->RecordStartFrame = start;
        Op->RecordLastFrame = last;
        ChooseSaveFile(path);
        H->Press(Op->InRecordNow);
    }
    void Load(const std::string& path, int32_t start, int32_t last) {
        Op->LoadStartFrame = start;
        Op->LoadLastFrame = last;
        Op->LoadMotionFile(path.c_str());
    }

    std::string Dir;
    std::unique_ptr<ToolHarness> H;
    ParticleOperator* Op = nullptr;
};

inline void ExpectMessage(const platform::MessageRecord& m, const std::string& text, const std::string& title,
                          int32_t icon) {
    EXPECT_EQ(m.Text, text);
    EXPECT_EQ(m.Title, title);
    EXPECT_EQ(m.Icon, icon);
}

}  // namespace mdtest
