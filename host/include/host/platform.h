#pragma once
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/message_kind.h"

// Platform services the tool calls in place of the operating system's own:
// files read and written at explicit offsets, message boxes and file dialogs.
namespace platform {

using FileHandle = int64_t;  // -1 = none
constexpr FileHandle NoFile = -1;

enum class OpenMode {
    CreateForWrite,  // create or replace, write only
    OpenForRead,     // existing file, read only
};

enum MessageIcon : int32_t { IconNone = 0, IconExclamation = 48, IconInformation = 64 };

struct FileDialogSpec {
    std::string Title;
    std::vector<std::pair<std::string, std::string>> Filters;  // (description, pattern)
    std::string DefaultExtension;
    std::string InitialDirectory;
};

struct MessageRecord {
    std::string Title, Text;
    int32_t Icon;
    MessageKind Kind = MessageKind::Unspecified;
};

class Platform {
public:
    virtual ~Platform() = default;
    virtual FileHandle OpenFile(const std::string& name, OpenMode mode) = 0;
    // Positioned read: the number of bytes read (0 at end of file), -1 on error.
    virtual int64_t ReadAt(FileHandle h, uint64_t offset, void* buf, size_t n) = 0;
    // Positioned write: the number of bytes written, -1 on error.
    virtual int64_t WriteAt(FileHandle h, uint64_t offset, const void* buf, size_t n) = 0;
    // Closes the handle; true on success. The caller forgets the handle at once.
    virtual bool CloseFile(FileHandle h) = 0;
    // Shows a message; `kind` says what it reports, for hosts that act on it.
    virtual void MessageBox(MessageKind kind, const std::string& text, const std::string& title, int32_t icon) = 0;
    // The chosen file, or nothing for a cancelled dialog.
    virtual std::optional<std::string> FileDialog(const FileDialogSpec& spec) = 0;
    virtual std::string CurrentDirectory() = 0;
};

// The command-line implementation: POSIX files (regular files only, opened
// without blocking; a write never goes through a link), message boxes printed to standard
// error as "TITLE: text" (and kept, with their kind, for inspection), dialogs answered from the
// answers the caller queued (no answer behaves as a cancelled dialog).
class CommandLinePlatform : public Platform {
public:
    FileHandle OpenFile(const std::string& name, OpenMode mode) override;
    int64_t ReadAt(FileHandle h, uint64_t offset, void* buf, size_t n) override;
    int64_t WriteAt(FileHandle h, uint64_t offset, const void* buf, size_t n) override;
    bool CloseFile(FileHandle h) override;
    void MessageBox(MessageKind kind, const std::string& text, const std::string& title, int32_t icon) override;
    std::optional<std::string> FileDialog(const FileDialogSpec& spec) override;
    std::string CurrentDirectory() override;

    void QueueDialogAnswer(std::optional<std::string> answer);
    std::vector<MessageRecord> Messages() const;
    std::vector<FileDialogSpec> Dialogs() const;
    void ClearRecords();
    // Whether message boxes are also printed to standard error (default true).
    void SetEcho(bool echo);

private:
    mutable std::mutex Lock;
    std::deque<std::optional<std::string>> Answers;
    std::vector<MessageRecord> MessageLog;
    std::vector<FileDialogSpec> DialogLog;
    bool Echo = true;
};

// The process-wide platform the tool uses. Defaults to a CommandLinePlatform.
Platform& Get();

// Closes a held handle and forgets it at once, so it is never closed twice.
inline void CloseAndForget(FileHandle& h) {
    if (h != NoFile) {
        Get().CloseFile(h);
        h = NoFile;
    }
}
// Replaces the platform (the caller keeps ownership; pass null to restore the default).
void Set(Platform* p);
CommandLinePlatform& Default();

}  // namespace platform
