#include "host/message_kind.h"

namespace platform {

bool IsWarning(MessageKind kind) {
    switch (kind) {
        case MessageKind::Unspecified:
        case MessageKind::RecordingWritten:
        case MessageKind::RecordingStopped:
        case MessageKind::CaptureIncomplete:
            return false;
        case MessageKind::RecordingWriteFailed:
        case MessageKind::RecordingLimitReached:
        case MessageKind::NoSaveFile:
        case MessageKind::RecordingRangeEmpty:
        case MessageKind::RecordingRangeTooLong:
        case MessageKind::FileNotCreated:
        case MessageKind::NoFileChosen:
        case MessageKind::FileAlreadyOpen:
        case MessageKind::LoadFailed:
        case MessageKind::CaptureRangeEmpty:
        case MessageKind::CaptureRangeTooLong:
            return true;
    }
    return false;
}

const char* KindName(MessageKind kind) {
    switch (kind) {
        case MessageKind::Unspecified: break;
        case MessageKind::RecordingWritten: return "recording-written";
        case MessageKind::RecordingStopped: return "recording-stopped";
        case MessageKind::RecordingWriteFailed: return "recording-write-failed";
        case MessageKind::RecordingLimitReached: return "recording-limit-reached";
        case MessageKind::NoSaveFile: return "no-save-file";
        case MessageKind::RecordingRangeEmpty: return "recording-range-empty";
        case MessageKind::RecordingRangeTooLong: return "recording-range-too-long";
        case MessageKind::FileNotCreated: return "file-not-created";
        case MessageKind::NoFileChosen: return "no-file-chosen";
        case MessageKind::FileAlreadyOpen: return "file-already-open";
        case MessageKind::LoadFailed: return "load-failed";
        case MessageKind::CaptureIncomplete: return "capture-incomplete";
        case MessageKind::CaptureRangeEmpty: return "capture-range-empty";
        case MessageKind::CaptureRangeTooLong: return "capture-range-too-long";
    }
    return "unspecified";
}

}  // namespace platform
