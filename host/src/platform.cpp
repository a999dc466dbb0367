#include "host/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <limits>

namespace platform {

FileHandle CommandLinePlatform::OpenFile(const std::string& name, OpenMode mode) {
    if (name.empty()) return NoFile;
    // Opened without blocking (a FIFO under the name would hold the open until
    // someone opened its other end) and checked on the descriptor: only a
    // regular file is handed out. A write never goes through a link at the
    // name, and the file is emptied only once it is known to be a plain file.
    const int flags = mode == OpenMode::CreateForWrite ? (O_WRONLY | O_CREAT | O_NOFOLLOW) : O_RDONLY;
    int fd;
    do {
        fd = ::open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return NoFile;
    struct stat st {};
    bool usable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (usable && mode == OpenMode::CreateForWrite) usable = ::ftruncate(fd, 0) == 0;
    if (usable) usable = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
    if (!usable) {
        ::close(fd);
        return NoFile;
    }
    return FileHandle(fd);
}

namespace {

bool ValidHandle(FileHandle h) { return h >= 0 && h <= std::numeric_limits<int>::max(); }
bool ValidRange(uint64_t offset, size_t n) {
    constexpr uint64_t max = uint64_t(std::numeric_limits<off_t>::max());
    return offset <= max && n <= max - offset;
}

}  // namespace

int64_t CommandLinePlatform::ReadAt(FileHandle h, uint64_t offset, void* buf, size_t n) {
    if (!ValidHandle(h) || !ValidRange(offset, n)) return -1;
    uint8_t* p = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(int(h), p + done, n - done, off_t(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;  // end of file
        done += size_t(got);
    }
    return int64_t(done);
}

int64_t CommandLinePlatform::WriteAt(FileHandle h, uint64_t offset, const void* buf, size_t n) {
    if (!ValidHandle(h) || !ValidRange(offset, n)) return -1;
    const uint8_t* p = static_cast<const uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
        const ssize_t put = ::pwrite(int(h), p + done, n - done, off_t(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (put == 0) return -1;  // no progress: treat as a failed write rather than spin
        done += size_t(put);
    }
    return int64_t(done);
}

bool CommandLinePlatform::CloseFile(FileHandle h) {
    if (!ValidHandle(h)) return false;
    // Closed once: after an interrupted close the descriptor is gone on Linux,
    // and a retry could close a descriptor another thread just opened.
    return ::close(int(h)) == 0;
}

void CommandLinePlatform::MessageBox(MessageKind kind, const std::string& text, const std::string& title,
                                     int32_t icon) {
    std::lock_guard<std::mutex> guard(Lock);
    MessageLog.push_back(MessageRecord{title, text, icon, kind});
    if (Echo) std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

std::optional<std::string> CommandLinePlatform::FileDialog(const FileDialogSpec& spec) {
    std::lock_guard<std::mutex> guard(Lock);
    DialogLog.push_back(spec);
    if (Answers.empty()) return std::nullopt;
    std::optional<std::string> answer = std::move(Answers.front());
    Answers.pop_front();
    return answer;
}

std::string CommandLinePlatform::CurrentDirectory() {
    std::string buf(256, '\0');
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) {
            buf.resize(std::char_traits<char>::length(buf.c_str()));
            return buf;
        }
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
}

void CommandLinePlatform::QueueDialogAnswer(std::optional<std::string> answer) {
    std::lock_guard<std::mutex> guard(Lock);
    Answers.push_back(std::move(answer));
}

std::vector<MessageRecord> CommandLinePlatform::Messages() const {
    std::lock_guard<std::mutex> guard(Lock);
    return MessageLog;
}

std::vector<FileDialogSpec> CommandLinePlatform::Dialogs() const {
    std::lock_guard<std::mutex> guard(Lock);
    return DialogLog;
}

void CommandLinePlatform::ClearRecords() {
    std::lock_guard<std::mutex> guard(Lock);
    MessageLog.clear();
    DialogLog.clear();
    Answers.clear();
}

void CommandLinePlatform::SetEcho(bool echo) {
    std::lock_guard<std::mutex> guard(Lock);
    Echo = echo;
}

namespace {
std::atomic<Platform*> Current{nullptr};
}

CommandLinePlatform& Default() {
    static CommandLinePlatform instance;
    return instance;
}

Platform& Get() {
    Platform* p = Current.load();
    return p ? *p : Default();
}

void Set(Platform* p) { Current.store(p); }

}  // namespace platform
