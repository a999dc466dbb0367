#pragma once
// The message boxes and file dialogs of the motion-data and capture buttons.
#include <cstdint>
#include <optional>
#include <string>

#include "host/platform.h"

namespace user_dialogs {

// Every message carries its kind beside its text and title: hosts decide by the
// kind, the user reads the words.
using platform::MessageKind;

inline void Warn(MessageKind kind, const std::string& text, const std::string& title = "Warning") {
    platform::Get().MessageBox(kind, text, title, platform::IconExclamation);
}
inline void Inform(MessageKind kind, const std::string& text, const std::string& title) {
    platform::Get().MessageBox(kind, text, title, platform::IconInformation);
}
inline void Plain(MessageKind kind, const std::string& text, const std::string& title) {
    platform::Get().MessageBox(kind, text, title, platform::IconNone);
}

// A recording that stopped writing (RecordFailed: 1 a write failed, 2 the file
// reached the 32-bit offset limit) says so where a complete one reports success.
inline void ReportIncompleteRecording(int32_t failure) {
    if (failure == 2)
        Warn(MessageKind::RecordingLimitReached, "Output File incomplete: 4 GB file size limit reached!");
    else
        Warn(MessageKind::RecordingWriteFailed, "Output File incomplete: writing failed!");
}

// Shows the motion-data file dialog (both buttons use the same one, only the
// titles differ). The titles' "Positon" is the tool's own spelling; keep it.
// Refreshes initialDirectory from the process's current directory first.
std::optional<std::string> AskMotionFile(const char* title, std::string& initialDirectory);

constexpr const char* SaveTitle = "Save Positon Data to File";
constexpr const char* LoadTitle = "Load Positon Data to File";

}  // namespace user_dialogs
