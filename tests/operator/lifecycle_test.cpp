// The operator's life in a flow: what placing it in a flow resets and reloads,
// and what destroying it gives back.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/flow.h"
#include "host/platform.h"
#include "host/registry.h"
#include "operator/particle_operator.h"

namespace {

// The command-line platform, noting every handle closed.
class ClosingPlatform : public platform::CommandLinePlatform {
public:
    bool CloseFile(platform::FileHandle h) override {
        Closed.push_back(h);
        return CommandLinePlatform::CloseFile(h);
    }
    std::vector<platform::FileHandle> Closed;
};

class Lifecycle : public ::testing::Test {
protected:
    Lifecycle() : Reg(&ClassRegistry, "LifecycleTest", {}) {
        Pf.SetEcho(false);
        platform::Set(&Pf);
        Dir = std::filesystem::temp_directory_path() /
              ("lumets_op_lifecycle_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(Dir);
    }
    ~Lifecycle() override {
        platform::Set(nullptr);
        std::filesystem::remove_all(Dir);
    }
    ParticleOperator* NewTool() {
        TagList tags;
        return static_cast<ParticleOperator*>(CreateParticleOperator(&Reg, nullptr, &tags));
    }
    void SetSystemFile(ParticleOperator* op, const std::string& name) {
        Text* t = new Text(name);
        op->InSystemFile->SetValue(t, 0, 1);
        t->Recycle();
    }
    // A motion-data file of two empty frames.
    std::string WriteMotionFile() {
        const std::string path = (Dir / "two_frames.lpd").string();
        std::ofstream f(path, std::ios::binary);
        const int32_t count = 2;
        f.write(reinterpret_cast<const char*>(&count), 4);
        const std::vector<char> entries(40, 0);
        f.write(entries.data(), std::streamsize(entries.size()));
        return path;
    }
    size_t LoadWarnings() const {
        size_t n = 0;
        for (const auto& m : Pf.Messages()) n += m.Text == "Error on Loading File" && m.Title == "WARNING";
        return n;
    }

    ClosingPlatform Pf;
    Registry Reg;
    std::filesystem::path Dir;
};

TEST_F(Lifecycle, AddingToAFlowWithoutAStoredFileLoadsNothing) {
    Flow flow(0, 10);
    ParticleOperator* op = NewTool();
    flow.AddTool(op);
    EXPECT_EQ(op->SystemLoaded.load(), 0);
    EXPECT_TRUE(Pf.Messages().empty());
    EXPECT_EQ(op->PlaybackFile, platform::NoFile);
}

TEST_F(Lifecycle, AStoredFileNameLoadsTheSystemOnceWhenAdded) {
    const std::string path = WriteMotionFile();
    Flow flow(0, 10);
    ParticleOperator* op = NewTool();
    SetSystemFile(op, path);
    EXPECT_EQ(op->SystemLoaded.load(), 0) << "nothing is loaded before the tool is in a flow";
    flow.AddTool(op);
    EXPECT_EQ(op->SystemLoaded.load(), 1);
    EXPECT_NE(op->PlaybackFile, platform::NoFile);
    EXPECT_EQ(op->ResetRequested.load(), 1);
    EXPECT_EQ(op->InLoadSystem->GetAttrLong(Tags::Disabled, -1), 1);
    EXPECT_EQ(op->InUnloadSystem->GetAttrLong(Tags::Disabled, -1), 0);
}

TEST_F(Lifecycle, AStoredNameThatCannotBeOpenedWarnsOnceAndTheToolStillJoins) {
    Flow flow(0, 10);
    ParticleOperator* op = NewTool();
    SetSystemFile(op, (Dir / "missing.lpd").string());
    flow.AddTool(op);
    EXPECT_EQ(LoadWarnings(), 1u);
    EXPECT_EQ(op->SystemLoaded.load(), 0);
    ASSERT_EQ(flow.Tools().size(), 1u);
}

TEST_F(Lifecycle, AddingToAFlowResetsTheRunTimeStateButKeepsPreloadedShapes) {
    ParticleOperator* op = NewTool();
    op->Recording = 1;
    op->CloseFilesOnReset = 1;
    op->SkipCompositing = 1;
    op->RefreshShapeCopies = 1;
    op->FirstShapeCopy = 1;
    op->ReleaseProxyShape = 1;
    op->PreloadCapturing = 1;
    op->WorkingPresent = 1;
    op->WorkingDivisor = 4;
    op->WorkingShapes.Levels.resize(2);
    op->PreloadedShapes.Levels.resize(3);
    op->PreloadedPresent = 1;
    Image* copy = new Image(2, 2);
    copy->AddRef();  // the test's own reference, to watch the tool give its one back
    op->ShapeCopy = copy;

    op->OnAddToFlow();
    EXPECT_EQ(op->Recording.load(), 0);
    EXPECT_EQ(op->CloseFilesOnReset.load(), 0);
    EXPECT_EQ(op->SkipCompositing.load(), 0);
    EXPECT_EQ(op->RefreshShapeCopies.load(), 0);
    EXPECT_EQ(op->FirstShapeCopy.load(), 0);
    EXPECT_EQ(op->ReleaseProxyShape.load(), 0);
    EXPECT_EQ(op->PreloadCapturing.load(), 0);
    EXPECT_EQ(op->WorkingPresent.load(), 0);
    EXPECT_EQ(op->WorkingDivisor, 1);
    EXPECT_EQ(op->WorkingShapes.Count(), 0);
    EXPECT_EQ(op->PreloadedShapes.Count(), 3);
    EXPECT_EQ(op->PreloadedPresent.load(), 1);
    EXPECT_EQ(op->ShapeCopy, nullptr);
    EXPECT_EQ(copy->RefCount(), 1);
    copy->Recycle();
    op->Recycle();
}

TEST_F(Lifecycle, DestroyingAToolClosesItsFilesAndGivesBackItsImages) {
    ParticleOperator* op = NewTool();
    const platform::FileHandle record =
        Pf.OpenFile((Dir / "recording.lpd").string(), platform::OpenMode::CreateForWrite);
    ASSERT_NE(record, platform::NoFile);
    op->RecordFile = record;
    op->Recording = 1;
    const platform::FileHandle playback = Pf.OpenFile(WriteMotionFile(), platform::OpenMode::OpenForRead);
    ASSERT_NE(playback, platform::NoFile);
    op->PlaybackFile = playback;
    Image* shape = new Image(3, 3);
    Image* proxy = new Image(2, 2);
    Image* particleShape = new Image(1, 1);
    for (Image* img : {shape, proxy, particleShape}) img->AddRef();
    op->ShapeCopy = shape;
    op->ProxyShapeCopy = proxy;
    op->Particles[PoolSize - 1].ShapeImage = particleShape;

    op->Recycle();
    EXPECT_EQ(Pf.Closed, (std::vector<platform::FileHandle>{record, playback}));
    for (Image* img : {shape, proxy, particleShape}) {
        EXPECT_EQ(img->RefCount(), 1);
        img->Recycle();
    }
}

TEST_F(Lifecycle, DestroyingAToolWithoutFilesClosesNothing) {
    ParticleOperator* op = NewTool();
    op->Recycle();
    EXPECT_TRUE(Pf.Closed.empty());
}

}  // namespace
