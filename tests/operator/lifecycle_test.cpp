#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/test_files.h"
#include "host/flow.h"
#include "host/platform.h"
#include "host/registry.h"
#include "operator/particle_operator.h"

namespace {

// Notes every handle opened and closed.
class ClosingPlatform : public platform::CommandLinePlatform {
public:
    platform::FileHandle OpenFile(const std::string& path, platform::OpenMode mode) override {
        const platform::FileHandle h = CommandLinePlatform::OpenFile(path, mode);
        Opened.push_back(h);
        return h;
    }
    bool CloseFile(platform::FileHandle h) override {
        Closed.push_back(h);
        return CommandLinePlatform::CloseFile(h);
    }
    std::vector<platform::FileHandle> Opened, Closed;
};

class Lifecycle : public ::testing::Test {
protected:
    Lifecycle() {
        Pf.SetEcho(false);
        platform::Set(&Pf);
        // A motion-data file of two empty frames.
        std::ofstream f(MotionFile, std::ios::binary);
        const int32_t count = 2;
        f.write(reinterpret_cast<const char*>(&count), 4);
        f.write(std::string(40, '\0').data(), 40);
    }
    ~Lifecycle() override { platform::Set(nullptr); }
    ParticleOperator* NewTool(const std::string& systemFile = "") {
        auto* op = static_cast<ParticleOperator*>(CreateParticleOperator(&Reg, nullptr, nullptr));
        Text* t = new Text(systemFile);
        op->ControlInput("SystemFile")->SetValue(t, 0, 1);
        t->Recycle();
        return op;
    }

    ClosingPlatform Pf;
    Registry Reg{&ClassRegistry, "LifecycleTest", {}};
    testfiles::ScratchDir Scratch;
    const std::filesystem::path& Dir = Scratch.Path;
    const std::string MotionFile = (Dir / "two_frames.lpd").string();
};

TEST_F(Lifecycle, AStoredFileNameLoadsTheSystemWhenAddedAndAMissingOneWarnsOnce) {
    Flow flow(0, 10);
    ParticleOperator* none = NewTool();
    flow.AddTool(none);
    EXPECT_EQ(std::tuple(none->SystemLoaded.load(), none->Player.IsOpen()), std::tuple(0, false));

    ParticleOperator* stored = NewTool(MotionFile);
    EXPECT_EQ(stored->SystemLoaded.load(), 0) << "nothing is loaded before the tool is in a flow";
    flow.AddTool(stored);
    EXPECT_TRUE(stored->Player.IsOpen());
    EXPECT_EQ(std::tuple(stored->SystemLoaded.load(), stored->ResetRequested.load(),
                         stored->ControlInput("LoadSystem")->GetAttrLong(Tags::Disabled, -1),
                         stored->ControlInput("UnloadSystem")->GetAttrLong(Tags::Disabled, -1)),
              std::tuple(1, 1, 1, 0));
    EXPECT_TRUE(Pf.Messages().empty());

    ParticleOperator* missing = NewTool((Dir / "missing.lpd").string());
    flow.AddTool(missing);
    EXPECT_EQ(missing->SystemLoaded.load(), 0);
    ASSERT_EQ(Pf.Messages().size(), 1u);
    const platform::MessageRecord m = Pf.Messages()[0];
    EXPECT_EQ(std::tuple(m.Title, m.Text, m.Kind),
              std::tuple("WARNING", "Error on Loading File", platform::MessageKind::LoadFailed));
    EXPECT_EQ(flow.Tools().size(), 3u);
}

TEST_F(Lifecycle, AddingToAFlowResetsTheRunTimeStateButKeepsPreloadedShapes) {
    ParticleOperator* op = NewTool();
    const std::vector<Flag ParticleOperator::*> cleared = {
        &ParticleOperator::Recording, &ParticleOperator::CloseFilesOnReset, &ParticleOperator::SkipCompositing};
    for (auto flag : cleared) op->*flag = 1;
    ShapeLibrary& shapes = op->Shapes;
    shapes.AdoptPreloaded(ShapeSet{std::vector<ShapeLevel>(3)});
    shapes.RebuildWorking(4);
    shapes.StartCapture();
    shapes.SetCopyFlags({1, 1});
    Image* copy = new Image(2, 2);
    copy->AddRef();  // the test's own reference, to watch the tool give its one back
    shapes.AdoptCopy(copy);

    op->OnAddToFlow();
    for (auto flag : cleared) EXPECT_EQ((op->*flag).load(), 0);
    const ShapeLibrary::CopyFlags copyFlags = shapes.GetCopyFlags();
    EXPECT_EQ(std::tuple(copyFlags.FirstCopy, copyFlags.RefreshCopies, shapes.Capturing(), shapes.HasWorking()),
              std::tuple(0, 0, false, false));
    EXPECT_EQ(std::tuple(shapes.WorkingDivisor(), shapes.Working().Count(), shapes.Preloaded().Count(),
                         shapes.HasPreloaded(), copy->RefCount()),
              std::tuple(1, 0, 3, true, 1));
    EXPECT_EQ(shapes.Copy(), nullptr);
    copy->Recycle();
    op->Recycle();
}

TEST_F(Lifecycle, DestroyingAToolClosesItsOpenFilesAndGivesBackItsImages) {
    ParticleOperator* bare = NewTool();
    bare->Recycle();
    EXPECT_TRUE(Pf.Closed.empty());

    ParticleOperator* op = NewTool();
    ASSERT_TRUE(op->Recorder.Create((Dir / "recording.lpd").string(), 2));
    op->Recording = 1;
    ASSERT_TRUE(op->Player.Open(MotionFile));
    const std::vector<platform::FileHandle> open = Pf.Opened;
    ASSERT_TRUE(open.size() == 2u && open[0] != platform::NoFile && open[1] != platform::NoFile);
    Image* images[] = {new Image(3, 3), new Image(2, 2), new Image(1, 1)};
    for (Image* img : images) img->AddRef();
    op->Shapes.AdoptCopy(images[0]);
    op->Shapes.AdoptProxyCopy(images[1]);
    op->Pool.Particles[PoolSize - 1].ShapeImage = images[2];

    op->Recycle();
    EXPECT_EQ(Pf.Closed, open);
    for (Image* img : images) {
        EXPECT_EQ(img->RefCount(), 1);
        img->Recycle();
    }
}

}  // namespace
