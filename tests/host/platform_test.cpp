#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/test_files.h"
#include "host/platform.h"
#include "host/plugins.h"
#include "host/registry.h"

namespace {

namespace fs = std::filesystem;

struct PlatformFiles : ::testing::Test {
    platform::CommandLinePlatform P;
    testfiles::ScratchDir Scratch;
    const fs::path& Dir = Scratch.Path;
};

TEST_F(PlatformFiles, PositionedWritesAndReadsWithShortReadsAtTheEndAndBadHandlesFailing) {
    const std::string name = (Dir / "data.bin").string();
    platform::FileHandle w = P.OpenFile(name, platform::OpenMode::CreateForWrite);
    ASSERT_GE(w, 0);
    EXPECT_EQ(P.WriteAt(w, 100, "particles", 9), 9);
    EXPECT_EQ(P.ReadAt(w, 100, nullptr, 0), 0);
    EXPECT_TRUE(P.CloseFile(w));
    EXPECT_EQ(fs::file_size(name), 109u);

    platform::FileHandle r = P.OpenFile(name, platform::OpenMode::OpenForRead);
    ASSERT_GE(r, 0);
    char buf[100] = {1};
    EXPECT_EQ(P.ReadAt(r, 100, buf, 9), 9);
    EXPECT_EQ(std::string(buf, 9), "particles");
    EXPECT_EQ(P.ReadAt(r, 0, buf, 100), 100);
    EXPECT_EQ(std::string(buf, 100), std::string(100, '\0')) << "the gap reads as zeros";
    EXPECT_EQ(std::tuple(P.ReadAt(r, 105, buf, 16), P.ReadAt(r, 109, buf, 16), P.WriteAt(r, 0, buf, 1)),
              std::tuple(4, 0, -1));  // a short read at the end, none at the end, a read-only handle
    EXPECT_TRUE(P.CloseFile(r));

    P.CloseFile(P.OpenFile(name, platform::OpenMode::CreateForWrite));
    EXPECT_EQ(fs::file_size(name), 0u);
    EXPECT_EQ(P.OpenFile((Dir / "missing.bin").string(), platform::OpenMode::OpenForRead), platform::NoFile);
    EXPECT_EQ(P.OpenFile("", platform::OpenMode::OpenForRead), platform::NoFile);
    EXPECT_EQ(P.OpenFile((Dir / "no" / "dir.bin").string(), platform::OpenMode::CreateForWrite), platform::NoFile);
    EXPECT_EQ(std::tuple(P.ReadAt(platform::NoFile, 0, buf, 1), P.WriteAt(platform::NoFile, 0, buf, 1)),
              std::tuple(-1, -1));
    EXPECT_FALSE(P.CloseFile(platform::NoFile));
}

TEST(PlatformRecords, QueuedAnswersComeInOrderAndMessagesPrintAsTitleColonTextUnlessQuiet) {
    platform::CommandLinePlatform p;
    p.QueueDialogAnswer(std::string("/tmp/a.lpd"));
    p.QueueDialogAnswer(std::nullopt);
    platform::FileDialogSpec spec;
    spec.Title = "Load System";
    spec.Filters = {{"Lumet Position Data", "*.lpd"}};
    EXPECT_EQ(p.FileDialog(spec), std::optional<std::string>("/tmp/a.lpd"));
    EXPECT_EQ(p.FileDialog(spec), std::nullopt);  // queued cancel
    EXPECT_EQ(p.FileDialog(spec), std::nullopt);  // nothing queued
    ASSERT_EQ(p.Dialogs().size(), 3u);
    EXPECT_EQ(std::tuple(p.Dialogs()[0].Title, p.Dialogs()[0].Filters[0].second), std::tuple("Load System", "*.lpd"));

    ::testing::internal::CaptureStderr();
    p.MessageBox(platform::MessageKind::RecordingWritten, "Output File written!", "INFO", platform::IconInformation);
    p.SetEcho(false);
    p.MessageBox(platform::MessageKind::LoadFailed, "quiet", "WARNING", platform::IconExclamation);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "INFO: Output File written!\n");
    const auto msgs = p.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(std::tuple(msgs[0].Title, msgs[0].Text, msgs[0].Icon, msgs[0].Kind),
              std::tuple("INFO", "Output File written!", platform::IconInformation,
                         platform::MessageKind::RecordingWritten));
    EXPECT_EQ(std::tuple(msgs[1].Icon, msgs[1].Kind),
              std::tuple(platform::IconExclamation, platform::MessageKind::LoadFailed));
    p.ClearRecords();
    EXPECT_TRUE(p.Dialogs().empty() && p.Messages().empty());
}

TEST(PlatformGlobal, SetReplacesTheProcessPlatformAndNullRestoresTheDefault) {
    EXPECT_EQ(&platform::Get(), &platform::Default());
    platform::CommandLinePlatform mine;
    platform::Set(&mine);
    EXPECT_EQ(&platform::Get(), &mine);
    platform::Set(nullptr);
    EXPECT_EQ(&platform::Get(), &platform::Default());
    EXPECT_EQ(platform::Get().CurrentDirectory(), fs::current_path().string());
}

TEST(PluginLoading, SearchFoldersPutTheEnvironmentFirstThenTheFolderBesideTheProgram) {
    const char* old = std::getenv("LUMETS_PLUGIN_PATH");
    const std::string saved = old ? old : "";
    setenv("LUMETS_PLUGIN_PATH", "/x/one::/x/two", 1);
    const auto folders = plugins::SearchFolders();
    const fs::path exeDir = fs::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(folders, (std::vector<std::string>{"/x/one", "/x/two",
                                                 (exeDir / LUMETS_PLUGIN_RELDIR).lexically_normal().string()}));
    if (old) setenv("LUMETS_PLUGIN_PATH", saved.c_str(), 1);
    else unsetenv("LUMETS_PLUGIN_PATH");
}

TEST_F(PlatformFiles, AModuleThatCannotLoadReportsWhy) {
    std::string error;
    EXPECT_FALSE(plugins::LoadModule("/nonexistent/module.so", &error));
    EXPECT_NE(error.find("/nonexistent/module.so"), std::string::npos);
    const std::string junk = (Dir / "junk.so").string();
    std::ofstream(junk) << "not a library";
    error.clear();
    EXPECT_FALSE(plugins::LoadModule(junk, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_GE(plugins::LoadErrors().size(), 2u);
}

TEST(PluginLoading, LoadAllFindsTheParticlePlugInOnce) {
    const fs::path module = fs::path(LUMETS_PLUGIN_BUILD_DIR) / "lumets_particles.so";
    if (!fs::exists(module)) GTEST_SKIP() << "plug-in not built at " << module;
    EXPECT_GE(plugins::LoadAll(), 1);
    EXPECT_TRUE(plugins::LoadErrors().empty()) << plugins::LoadErrors().front();
    ASSERT_NE(ClassRegistry.Find("SamplePlugIn"), nullptr);
    EXPECT_EQ(plugins::LoadAll(), 0);  // already loaded
    int count = 0;
    for (Registry* r : ClassRegistry.All()) count += r->ClassId() == "SamplePlugIn";
    EXPECT_EQ(count, 1);
}

}  // namespace
