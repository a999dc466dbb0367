#include "app/io/input_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/io/errors.h"

namespace lumets {

namespace {

std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

void CheckMode(const struct stat& st, const std::string& path, const std::string& what) {
    if (!S_ISREG(st.st_mode))
        throw UserError("cannot read " + what + " " + path + ": it is " + KindOf(st.st_mode) + ", not a regular file");
}

}  // namespace

void RequireRegularFile(const std::string& path, const std::string& what) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) throw UserError("missing file " + path);
        throw UserError("cannot read " + what + " " + path + ": " + std::strerror(errno));
    }
    CheckMode(st, path, what);
}

InputFile::InputFile(const std::string& path, uint64_t limit, const std::string& what) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) throw UserError("missing file " + path);
        throw UserError("cannot read " + what + " " + path + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        throw UserError("cannot read " + what + " " + path + ": " + std::strerror(e));
    }
    if (!S_ISREG(st.st_mode) || uint64_t(st.st_size) > limit) {
        ::close(fd);
        CheckMode(st, path, what);
        throw UserError("cannot read " + what + " " + path + ": " + std::to_string(st.st_size) +
                        " bytes, more than the " + std::to_string(limit) + " such a file may have");
    }
    // Only the open needed not to block; reads of a regular file never do.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    Descriptor = fd;
    Bytes = uint64_t(st.st_size);
}

InputFile::~InputFile() {
    if (Descriptor >= 0) ::close(Descriptor);
}

int InputFile::Release() {
    const int fd = Descriptor;
    Descriptor = -1;
    return fd;
}

std::string ReadInputFile(const std::string& path, uint64_t limit, const std::string& what) {
    const InputFile file(path, limit, what);
    std::string bytes(size_t(file.Size()), '\0');
    size_t done = 0;
    // Read no more than the size found (a file growing meanwhile is cut there),
    // and stop at an early end (a file shrinking meanwhile).
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.Fd(), bytes.data() + done, bytes.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw UserError("cannot read " + what + " " + path + ": " + std::strerror(errno));
        }
        if (got == 0) break;
        done += size_t(got);
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace lumets
