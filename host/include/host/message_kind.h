#pragma once
#include <cstdint>

namespace platform {

// What a message box reports. Hosts decide by the kind, never by the message's
// words or title, which stay exactly as the tool has them.
enum class MessageKind : int32_t {
    Unspecified = 0,        // raised without a kind; the tool never does
    RecordingWritten,       // a recording reached its render's end and every write succeeded
    RecordingStopped,       // a recording stopped by a second press; its writes succeeded
    RecordingWriteFailed,   // a recording stopped writing after a failed write
    RecordingLimitReached,  // a recording stopped writing at the 4 GiB file size limit
    NoSaveFile,             // record pressed before a file was chosen
    RecordingRangeEmpty,    // record pressed with a last frame before the start frame
    RecordingRangeTooLong,  // record pressed with a frame table beyond the file size limit
    FileNotCreated,         // the recording's file could not be created
    NoFileChosen,           // the load dialog was cancelled
    FileAlreadyOpen,        // refused: a recording or a loaded system holds a motion file
    LoadFailed,             // a motion file (chosen or named by a saved block) could not be loaded
    CaptureIncomplete,      // a shape capture ended before its last shape; the shapes are dropped
    CaptureRangeEmpty,      // capture pressed with an empty shape range
    CaptureRangeTooLong,    // capture pressed with a shape range too long to hold
};

// Whether a message of this kind warns that what was asked was refused or
// failed (the tool shows those with the exclamation icon). A capture that did
// not complete is not one: the tool reports it as information.
bool IsWarning(MessageKind kind);

// The kind as a fixed lower-case name ("recording-written"; "unspecified" for
// a value outside the list), for interfaces that hand messages on as text.
const char* KindName(MessageKind kind);

}  // namespace platform
