#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "host/flow.h"
#include "host/operator.h"
#include "host/registry.h"

namespace {

constexpr uint32_t TestClassId = 0x8046000D;

// A tool with two pages of controls, one image input and one output.
class SampleOp : public ThreadedOperator {
public:
    SampleOp(Registry* reg, CArchive* ar, TagList* tags) : ThreadedOperator(reg, ar, tags) {
        Image = AddInput("Image", DT_Image, FourCC("Img1"));
        AddControlPage("Setup");
        Rate = AddInput("Rate", DT_Number, FourCC("Rate"), {{Tags::Default, 2.5}, {Tags::Disabled, 1}});
        Where = AddInput("Where", DT_Point, FourCC("Wher"), {{Tags::DefaultX, 0.25}, {Tags::DefaultY, 0.75}});
        AddControlPage("Curves");
        Name = AddInput("Name", DT_Text, FourCC("Name"), {{Tags::DefaultText, "start.lpd"}});
        Blank = AddInput("Blank", DT_Text, FourCC("Blnk"));
        Curve = AddInput("Curve", DT_LookUpTable, FourCC("Curv"));
        Path = AddInput("Path", DT_PolyLine, FourCC("Path"));
        Out = AddOutput("Image", DT_Image, FourCC("Out1"));
        if (ar) *ar >> OwnWord;
    }
    uint32_t Save(CArchive* ar, TagList* tags) override {
        *ar << TestClassId;
        const uint32_t r = Operator::Save(ar, tags);
        *ar << OwnWord;
        return r & 1;
    }
    void ProcessChunk(Request*, long chunk) override {
        ++Runs[size_t(chunk)];
        {
            std::lock_guard<std::mutex> g(ThreadLock);
            Threads.insert(std::this_thread::get_id());
        }
        if (ThrowAt == chunk) throw std::runtime_error("chunk failed");
    }

    Input *Image, *Rate, *Where, *Name, *Blank, *Curve, *Path;
    Output* Out;
    uint32_t OwnWord = 0;
    std::vector<std::atomic<int>> Runs = std::vector<std::atomic<int>>(0);
    std::set<std::thread::id> Threads;
    std::mutex ThreadLock;
    long ThrowAt = -1;
};

Operator* CreateSample(Registry* reg, CArchive* ar, TagList* tags) { return new SampleOp(reg, ar, tags); }

struct OperatorTest : ::testing::Test {
    Registry Reg{&ClassRegistry, "HostSampleOp", {{RegTags::Factory, &CreateSample}, {RegTags::ClassID, TestClassId}}};
    SampleOp* Make(CArchive* ar = nullptr) { return static_cast<SampleOp*>(Reg.Create(ar, nullptr)); }
};

TEST_F(OperatorTest, ControlsAreRecordedInOrderWithTheirPagesAndCreationTagsBecomeAttributes) {
    SampleOp* op = Make();
    ASSERT_EQ(op->Pages().size(), 2u);
    EXPECT_EQ(op->Pages()[1].Name, "Curves");
    EXPECT_EQ(op->Inputs(),
              (std::vector<Input*>{op->Image, op->Rate, op->Where, op->Name, op->Blank, op->Curve, op->Path}));
    EXPECT_EQ(std::tuple(op->Image->Page, op->Rate->Page, op->Name->Page), std::tuple(-1, 0, 1));
    EXPECT_EQ(std::tuple(op->FindInput(FourCC("Wher")), op->FindInput(FourCC("None"))), std::tuple(op->Where, nullptr));
    EXPECT_EQ(op->Rate->Owner, op);
    EXPECT_EQ(op->Outputs(), std::vector<Output*>{op->Out});
    // An attribute may change; the creation tags stay.
    EXPECT_EQ(op->Rate->GetAttrLong(Tags::Disabled, -1), 1);
    op->Rate->SetAttrs({{Tags::Disabled, 0}});
    EXPECT_EQ(std::tuple(op->Rate->GetAttrLong(Tags::Disabled, -1), op->Rate->CreationTags.GetLong(Tags::Disabled, -1)),
              std::tuple(0, 1));
    op->Recycle();
}

TEST_F(OperatorTest, InputsWithoutValueGiveDefaultsFromTheirCreationTags) {
    SampleOp* op = Make();
    auto value = [](Input* in) {
        return std::unique_ptr<Parameter, void (*)(Parameter*)>(in->GetValue(0), [](Parameter* p) { p->Recycle(); });
    };
    EXPECT_EQ(static_cast<Number*>(value(op->Rate).get())->Value, 2.5);
    auto where = value(op->Where);
    ASSERT_EQ(where->DataType, DT_Point);
    const Point* point = static_cast<Point*>(where.get());
    EXPECT_EQ(std::pair(point->X, point->Y), std::pair(0.25, 0.75));
    EXPECT_EQ(static_cast<Text*>(value(op->Name).get())->Value, "start.lpd");
    EXPECT_EQ(static_cast<Text*>(value(op->Blank).get())->Value, "");
    EXPECT_NE(static_cast<LookUpTable*>(value(op->Curve).get())->IsOneToOne(), 0);
    EXPECT_EQ(static_cast<PolyLine*>(value(op->Path).get())->GetCount(0), 0);
    EXPECT_EQ(op->Image->GetValue(0), nullptr);
    op->Recycle();
}

TEST_F(OperatorTest, InputsAndRequestsHoldTheirOwnReferences) {
    SampleOp* op = Make();
    Number* n = new Number(9.0);
    op->Rate->SetValue(n, 0, 1);
    EXPECT_EQ(n->RefCount(), 2);
    Parameter* got = op->Rate->GetValue(0);
    EXPECT_EQ(std::tuple(got, n->RefCount()), std::tuple(static_cast<Parameter*>(n), 3));
    got->Recycle();
    Number* replacement = new Number(1.0);
    op->Rate->SetValue(replacement, 0, 1);
    replacement->Recycle();
    EXPECT_EQ(n->RefCount(), 1);  // the input let go of the old value
    n->Recycle();

    Image* bg = new Image(2, 2);
    op->Image->SetValue(bg, 0, 1);
    Image* result = nullptr;
    {
        Request req(op, 3.0, Request::FlagQuick);
        EXPECT_EQ(std::pair(req.Time(), req.Flags()), std::pair(3.0, uint32_t(Request::FlagQuick)));
        EXPECT_EQ(req.GetInputData(op->Image, 0), bg);
        EXPECT_EQ(bg->RefCount(), 3);  // caller, input, request
        EXPECT_EQ(static_cast<Number*>(req.GetInputData(op->Rate, 0))->Value, 1.0);
        EXPECT_EQ(req.TakeOutput(op->Out), nullptr);
        Image* out = bg->CopyOfImage();
        EXPECT_TRUE(req.SetOutputData(op->Out, out));
        result = req.TakeOutput(op->Out);
        EXPECT_EQ(std::tuple(result, out->RefCount()), std::tuple(out, 2));
    }
    EXPECT_EQ(std::tuple(bg->RefCount(), result->RefCount()), std::tuple(2, 1));
    result->Recycle();
    bg->Recycle();
    op->Recycle();
}

TEST_F(OperatorTest, SaveAndRestoreRoundTripAndRejectAnotherClassABadHostBlockAndTruncation) {
    SampleOp* op = Make();
    op->OwnWord = 0x12345678;
    CArchive out;
    EXPECT_EQ(op->Save(&out, nullptr), 1u);
    op->Recycle();
    const std::vector<uint8_t> bytes = out.Buffer();
    CArchive in(bytes);
    SampleOp* back = static_cast<SampleOp*>(CreateFromSaved(&Reg, &in, nullptr));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::tuple(back->OwnWord, in.Remaining()), std::tuple(0x12345678u, size_t(0)));
    back->Recycle();

    // Another class ID, a wrong host marker, a huge host length.
    for (auto [at, bits] : {std::pair{0, 0x01}, {4, 'X' ^ bytes[4]}, {8, 0xFF ^ bytes[8]}}) {
        std::vector<uint8_t> bad = bytes;
        bad[size_t(at)] ^= uint8_t(bits);
        CArchive a(bad);
        EXPECT_THROW(CreateFromSaved(&Reg, &a, nullptr), CArchiveException) << "byte " << at;
    }
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        CArchive d(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)));
        EXPECT_THROW(CreateFromSaved(&Reg, &d, nullptr), CArchiveException) << "cut at " << cut;
    }
}

TEST_F(OperatorTest, BaseNotifyChangedCountsAndExtentAndPortComeFromTheFlow) {
    SampleOp* op = Make();
    op->NotifyChanged(op->Rate, nullptr, 0);
    op->NotifyChanged(op->Rate, nullptr, 0);
    EXPECT_EQ(op->BaseNotifyCount(), 2);
    TimeExtent ext(-1e9, -1e9, -1e9);
    op->GetExtent(&ext);
    EXPECT_EQ(std::tuple(ext.Start, op->GetMsgPort()), std::tuple(-1e9, nullptr));  // no flow: left as it was
    Flow flow(10, 50);
    flow.AddTool(op);
    op->GetExtent(&ext);
    EXPECT_EQ(std::pair(ext.Start, ext.End), std::pair(10.0, 50.0));
    EXPECT_EQ(op->GetMsgPort(), &flow.Port());
}

TEST_F(OperatorTest, RegistryIsListedWhileItLivesAndCreatesOnlyThroughAFactory) {
    EXPECT_EQ(ClassRegistry.Find("HostSampleOp"), &Reg);
    {
        Registry noFactory(&ClassRegistry, "HostNoFactory", {});
        EXPECT_EQ(ClassRegistry.Find("HostNoFactory"), &noFactory);
        EXPECT_EQ(noFactory.Create(nullptr, nullptr), nullptr);
        EXPECT_EQ(noFactory.GetResource(2000).Data, nullptr);
    }
    EXPECT_EQ(ClassRegistry.Find("HostNoFactory"), nullptr);
}

class MultiProcessTest : public OperatorTest, public ::testing::WithParamInterface<int> {
protected:
    void TearDown() override { SetWorkerThreads(0); }
};

TEST_P(MultiProcessTest, EveryChunkRunsExactlyOnceAndAnExceptionArrivesAfterAllRan) {
    SetWorkerThreads(GetParam());
    EXPECT_EQ(WorkerThreads(), GetParam());
    SampleOp* op = Make();
    Request req(op, 0, 0);
    auto runsOtherThanOnce = [op] {
        return std::count_if(op->Runs.begin(), op->Runs.end(), [](auto& r) { return r != 1; });
    };
    op->Runs = std::vector<std::atomic<int>>(5000);
    op->DoMultiProcess(&req, 5000);
    EXPECT_EQ(runsOtherThanOnce(), 0);
    EXPECT_LE(op->Threads.size(), size_t(GetParam()));
    op->DoMultiProcess(&req, 0);  // nothing to do

    op->Runs = std::vector<std::atomic<int>>(200);
    op->ThrowAt = 17;
    EXPECT_THROW(op->DoMultiProcess(&req, 200), std::runtime_error);
    EXPECT_EQ(runsOtherThanOnce(), 0);
    op->Recycle();
}

INSTANTIATE_TEST_SUITE_P(Threads, MultiProcessTest, ::testing::Values(1, 2));

}  // namespace
