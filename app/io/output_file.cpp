#include "app/io/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/io/errors.h"

namespace fs = std::filesystem;

namespace lumets {

namespace {

// Twelve letters and digits from the kernel's random source: a name that
// someone planting a link beforehand cannot guess.
std::string RandomTag() {
    unsigned char bytes[12];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw UserError(std::string("cannot make a temporary file name: ") + std::strerror(errno));
        }
        got += size_t(n);
    }
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string tag;
    for (unsigned char b : bytes) tag += Letters[b % 36];
    return tag;
}

std::string TemporaryNameBeside(const fs::path& target) {
    std::string base = target.filename().string();
    // Room for the dot and the tag within a folder entry's 255 bytes.
    if (base.size() > 200) base.resize(200);
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about "." + string.
    std::string name = ".";
    name.append(base).append(".tmp").append(RandomTag());
    return (target.parent_path() / name).string();
}

std::string Reason(int error) { return std::strerror(error); }

}  // namespace

OutputFile::OutputFile(const std::string& path) : Final(path) {
    const fs::path parent = fs::path(path).parent_path();
    std::error_code ec;
    if (!parent.empty()) fs::create_directories(parent, ec);
    if (ec) throw UserError("cannot create folder " + parent.string() + ": " + ec.message());
    // Created, never opened: O_EXCL fails on any name that exists, a link among them.
    for (int attempt = 0;; ++attempt) {
        Temp = TemporaryNameBeside(path);
        Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
        if (Fd >= 0) break;
        if ((errno == EEXIST || errno == EINTR) && attempt < 100) continue;
        const int e = errno;
        Temp.clear();  // nothing of ours to remove
        throw UserError("cannot write " + path + ": " + Reason(e));
    }
    struct stat st {};
    if (::fstat(Fd, &st) != 0) {
        const int e = errno;
        ::close(Fd);
        ::unlink(Temp.c_str());
        throw UserError("cannot write " + path + ": " + Reason(e));
    }
    Device = st.st_dev;
    Inode = st.st_ino;
}

OutputFile::~OutputFile() {
    if (Fd >= 0) ::close(Fd);
    if (!Committed && !Temp.empty()) ::unlink(Temp.c_str());
}

void OutputFile::Write(const void* data, size_t size) {
    if (Fd < 0) throw UserError("cannot write " + Final + ": the file is already closed");
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(Fd, p, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            throw UserError("cannot write " + Final + ": " + Reason(errno));
        }
        if (put == 0) throw UserError("cannot write " + Final + ": the write made no progress");
        p += put;
        size -= size_t(put);
    }
}

void OutputFile::Close() {
    if (Fd < 0) return;
    const int fd = Fd;
    Fd = -1;
    // After an interrupted close the descriptor is gone on Linux: not an error.
    if (::close(fd) != 0 && errno != EINTR) throw UserError("cannot write " + Final + ": " + Reason(errno));
}

void OutputFile::Commit() {
    int fd = Fd;
    Fd = -1;
    if (fd < 0) {
        // Another writer filled the file by name: sync it only if it is still
        // the file created here (not a link, a FIFO or a file swapped in).
        do {
            fd = ::open(Temp.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) throw UserError("cannot write " + Final + ": " + Reason(errno));
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_dev != Device || st.st_ino != Inode) {
            ::close(fd);
            throw UserError("cannot write " + Final + ": its temporary file " + Temp + " was replaced");
        }
    }
    if (::fsync(fd) != 0) {
        const int e = errno;
        ::close(fd);
        throw UserError("cannot write " + Final + ": " + Reason(e));
    }
    if (::close(fd) != 0 && errno != EINTR) throw UserError("cannot write " + Final + ": " + Reason(errno));
    if (::rename(Temp.c_str(), Final.c_str()) != 0) throw UserError("cannot write " + Final + ": " + Reason(errno));
    Committed = true;
}

}  // namespace lumets
