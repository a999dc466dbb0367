#pragma once
// A platform for the fuzz targets: files live in memory (so a run touches no disk
// and every input starts from the same state), message boxes are counted and
// dropped, and dialogs are cancelled.
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/platform.h"

namespace fuzzing {

class MemoryPlatform : public platform::Platform {
public:
    // Makes this the process's platform for as long as the object lives.
    struct Use {
        explicit Use(MemoryPlatform& p) { platform::Set(&p); }
        ~Use() { platform::Set(nullptr); }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
    };

    // Makes (or replaces) a file with the bytes.
    void PutFile(const std::string& name, const uint8_t* data, size_t size) {
        std::lock_guard<std::mutex> guard(Lock);
        Files[name].assign(data, data + size);
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(Lock);
        Files.clear();
        Handles.clear();
        Messages = 0;
    }
    size_t OpenHandles() const {
        std::lock_guard<std::mutex> guard(Lock);
        return Handles.size();
    }

    platform::FileHandle OpenFile(const std::string& name, platform::OpenMode mode) override {
        std::lock_guard<std::mutex> guard(Lock);
        if (mode == platform::OpenMode::OpenForRead) {
            if (!Files.count(name)) return platform::NoFile;
        } else {
            Files[name].clear();
        }
        const platform::FileHandle h = NextHandle++;
        Handles[h] = name;
        return h;
    }
    int64_t ReadAt(platform::FileHandle h, uint64_t offset, void* buf, size_t n) override {
        std::lock_guard<std::mutex> guard(Lock);
        std::vector<uint8_t>* f = FileOf(h);
        if (!f) return -1;
        if (offset >= f->size()) return 0;
        const size_t got = std::min<uint64_t>(n, f->size() - offset);
        std::memcpy(buf, f->data() + offset, got);
        return int64_t(got);
    }
    int64_t WriteAt(platform::FileHandle h, uint64_t offset, const void* buf, size_t n) override {
        std::lock_guard<std::mutex> guard(Lock);
        std::vector<uint8_t>* f = FileOf(h);
        if (!f) return -1;
        // A file in memory larger than this counts as a full disk.
        if (offset + n > (uint64_t(64) << 20)) return -1;
        if (f->size() < offset + n) f->resize(offset + n);
        std::memcpy(f->data() + offset, buf, n);
        return int64_t(n);
    }
    bool CloseFile(platform::FileHandle h) override {
        std::lock_guard<std::mutex> guard(Lock);
        return Handles.erase(h) == 1;
    }
    void MessageBox(platform::MessageKind, const std::string&, const std::string&, int32_t) override {
        std::lock_guard<std::mutex> guard(Lock);
        ++Messages;
    }
    std::optional<std::string> FileDialog(const platform::FileDialogSpec&) override { return std::nullopt; }
    std::string CurrentDirectory() override { return "/fuzz"; }

private:
    std::vector<uint8_t>* FileOf(platform::FileHandle h) {
        auto it = Handles.find(h);
        if (it == Handles.end()) return nullptr;
        return &Files[it->second];
    }

    mutable std::mutex Lock;
    std::map<std::string, std::vector<uint8_t>> Files;
    std::map<platform::FileHandle, std::string> Handles;
    platform::FileHandle NextHandle = 100;
    size_t Messages = 0;
};

}  // namespace fuzzing
