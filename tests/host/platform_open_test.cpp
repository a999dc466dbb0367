// The command-line platform hands the tool regular files only: a FIFO, a device
// or a link at the name never holds the tool up or takes a write elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "common/test_files.h"
#include "host/platform.h"

namespace {

namespace fs = std::filesystem;
using platform::OpenMode;

struct PlatformOpen : ::testing::Test {
    platform::CommandLinePlatform P;
    testfiles::ScratchDir Scratch;
    const fs::path& Dir = Scratch.Path;

    // OpenFile, waited for at most a few seconds; an open held by a FIFO is
    // released by opening the FIFO's other end, and counts as a failure.
    platform::FileHandle OpenPromptly(const std::string& name, OpenMode mode) {
        auto opened = std::async(std::launch::async, [&] { return P.OpenFile(name, mode); });
        if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "opening " << name << " blocked";
            const int other = ::open(name.c_str(), (mode == OpenMode::OpenForRead ? O_WRONLY : O_RDONLY) | O_NONBLOCK);
            const platform::FileHandle h = opened.get();
            if (other >= 0) ::close(other);
            P.CloseFile(h);
            return platform::NoFile;
        }
        return opened.get();
    }
};

TEST_F(PlatformOpen, FifosAndDevicesAreRefusedAtOnce) {
    const std::string fifo = (Dir / "motion.lpd").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (OpenMode mode : {OpenMode::OpenForRead, OpenMode::CreateForWrite}) {
        const platform::FileHandle h = OpenPromptly(fifo, mode);
        EXPECT_EQ(h, platform::NoFile) << "a FIFO was opened";
        P.CloseFile(h);
    }
    const platform::FileHandle zero = OpenPromptly("/dev/zero", OpenMode::OpenForRead);
    EXPECT_EQ(zero, platform::NoFile) << "a device was opened";
    P.CloseFile(zero);
}

TEST_F(PlatformOpen, AWriteNeverGoesThroughALinkAtTheName) {
    const fs::path victim = Dir / "victim.lpd", link = Dir / "recording.lpd";
    testfiles::WriteBytes(victim, {'k', 'e', 'e', 'p'});
    fs::create_symlink(victim, link);
    const platform::FileHandle h = P.OpenFile(link.string(), OpenMode::CreateForWrite);
    if (h != platform::NoFile) {
        P.WriteAt(h, 0, "overwritten", 11);
        P.CloseFile(h);
    }
    EXPECT_EQ(h, platform::NoFile);
    EXPECT_EQ(testfiles::ReadBytes(victim), (testfiles::Bytes{'k', 'e', 'e', 'p'}));
    // Reading through a link stays allowed: a motion-data file may be linked in.
    const platform::FileHandle r = P.OpenFile(link.string(), OpenMode::OpenForRead);
    EXPECT_GE(r, 0);
    P.CloseFile(r);
}

}  // namespace
