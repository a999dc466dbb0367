// Recording the particle system into a motion-data file: the "Save MotionData
// under..." and "Record now" buttons, and the writes the frame driver and the
// particle steps make while a recording runs.
#include <cmath>
#include <mutex>

#include "host/messages.h"
#include "motiondata/motion_file.h"
#include "motiondata/user_dialogs.h"
#include "operator/particle_operator.h"

using namespace motion_file;

// Closes both motion-data files and ends playback and recording. The control
// layout stays as it is. Runs on the render thread (reset, end of a loaded file)
// under the render gate, so it takes no lock itself.
void ParticleOperator::CloseMotionFiles() {
    platform::CloseAndForget(PlaybackFile);
    SystemLoaded = 0;
    FlushRecordWrites();
    platform::CloseAndForget(RecordFile);
    Recording = 0;
    RecordFrameInRange = 0;
}

bool ParticleOperator::RecordActive() const {
    return Recording && RecordFrameInRange && !PreRolling && !RecordFailed && RecordFile != platform::NoFile;
}

// Every write of a recording is positioned at RecordOffset. Writes that follow
// one another in the file are gathered and go out as one when the next write
// lands elsewhere or the frame ends (FlushRecordWrites): a frame is one write
// of its table entry and one of its block of records, not one per value. A
// write that would reach the end of the 32-bit offsets, or a gathered write
// that fails or comes up short, marks the recording as failed: nothing more is
// written, the frames written so far stay, and the render end says the file is
// incomplete.
void ParticleOperator::RecordWrite(const void* data, uint32_t n) {
    if (!RecordActive()) return;
    if (uint64_t(RecordOffset) + n >= OffsetLimit) {
        RecordFailed = 2;
        return;
    }
    if (!RecordPending.empty() && uint64_t(RecordPendingOffset) + RecordPending.size() != RecordOffset)
        FlushRecordWrites();
    if (RecordPending.empty()) RecordPendingOffset = RecordOffset;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    RecordPending.insert(RecordPending.end(), bytes, bytes + n);
    RecordOffset += n;
}

void ParticleOperator::FlushRecordWrites() {
    if (RecordPending.empty()) return;
    if (RecordFile != platform::NoFile && RecordFailed != 1) {
        const int64_t written =
            platform::Get().WriteAt(RecordFile, RecordPendingOffset, RecordPending.data(), RecordPending.size());
        if (written != int64_t(RecordPending.size())) RecordFailed = 1;
    }
    RecordPending.clear();
}

// Start of a recorded frame: selects the frame's table entry by the whole part of
// the request time and writes the lifetime in force. A frame outside the recorded
// range (or beyond the table the file was created with) writes nothing at all, so
// no write can land outside the frame table.
void ParticleOperator::BeginRecordedFrame(double time) {
    RecordFrameInRange = 0;
    if (!Recording || RecordFile == platform::NoFile) return;
    double frame = std::trunc(time);
    if (!(frame >= Frame.RecordStartFrame && frame <= Frame.RecordLastFrame)) return;  // also refuses NaN
    int64_t index = int64_t(frame) - Frame.RecordStartFrame;
    if (index < 0 || index >= FileFrameCount) return;
    RecordOffset = uint32_t(EntryOffset(index));
    RecordFrameInRange = 1;
    RecordWrite(&Frame.Lifetime, 8);
}

// After the frame's ageing: the live count and the offset of the frame's particle
// block complete the entry; the block is then appended at NextDataOffset.
void ParticleOperator::WriteFrameCounts() {
    if (!RecordActive()) return;
    uint64_t blockEnd = uint64_t(NextDataOffset) + uint64_t(RecordSize) * uint64_t(Pool.LiveCount < 0 ? 0 : Pool.LiveCount);
    if (blockEnd >= OffsetLimit) {
        // The block would not fit below 4 GiB: stop here, leaving the earlier frames.
        RecordFailed = 2;
        return;
    }
    int32_t live = Pool.LiveCount;
    uint32_t dataOffset = NextDataOffset;
    RecordWrite(&live, 4);
    RecordWrite(&dataOffset, 4);
    if (RecordFailed) return;
    RecordOffset = NextDataOffset;
    NextDataOffset = uint32_t(blockEnd);
    // The block's records go out together with the entry's last values gathered
    // before them: room for all of them at once.
    RecordPending.reserve(RecordPending.size() + std::size_t(RecordSize) * std::size_t(live > 0 ? live : 0));
}

void ParticleOperator::OnSaveFile(double /*time*/) {
    std::optional<std::string> name = user_dialogs::AskMotionFile(user_dialogs::SaveTitle, InitialDirectory);
    // A cancelled dialog forgets the earlier choice: "Record now" then asks for one.
    MotionFileName = name ? *name : std::string();
}

void ParticleOperator::OnRecordNow(double /*time*/) {
    std::lock_guard<std::mutex> gate(RenderGate);
    if (Recording) {
        // Pressed again during a recording: stop it here. The render end that
        // follows finds no file and says nothing more.
        FlushRecordWrites();
        platform::CloseAndForget(RecordFile);
        Recording = 0;
        RecordFrameInRange = 0;
        if (RecordFailed) {
            user_dialogs::ReportIncompleteRecording(RecordFailed);
        } else {
            user_dialogs::Plain(MotionFileName, "Particle Data Saved in File");
        }
        return;
    }
    if (SystemLoaded) {
        user_dialogs::Warn("Input File Open!");
        return;
    }
    FlushRecordWrites();
    platform::CloseAndForget(RecordFile);
    if (MotionFileName.empty()) {
        user_dialogs::Warn("No Save File Specified!");
        return;
    }
    int64_t frames = int64_t(Frame.RecordLastFrame) - int64_t(Frame.RecordStartFrame) + 1;
    if (frames < 1) {
        // A last frame before the start frame gives no frame to record; refuse before
        // an existing file of that name is replaced.
        user_dialogs::Warn("Recording range is empty!");
        return;
    }
    if (DataStart(frames) >= OffsetLimit) {
        // The frame table alone would pass the 32-bit file offsets.
        user_dialogs::Warn("Recording range is too long!");
        return;
    }
    platform::FileHandle h = platform::Get().OpenFile(MotionFileName, platform::OpenMode::CreateForWrite);
    if (h == platform::NoFile) {
        user_dialogs::Warn("Error on opening file");
        return;
    }
    RecordFile = h;
    RecordFailed = 0;
    RecordFrameInRange = 0;
    // A "Reset Position" still waiting for its frame was pressed before this file
    // existed: it empties the pool but must not close the new recording.
    CloseFilesOnReset = 0;
    ResetRequested = 1;
    Pool.BirthAccumulator = 0.0;
    FileFrameCount = int32_t(frames);
    int32_t count = FileFrameCount;
    if (platform::Get().WriteAt(RecordFile, 0, &count, 4) != 4) RecordFailed = 1;
    NextDataOffset = uint32_t(DataStart(FileFrameCount));
    Recording = 1;
    SkipCompositing = 1;
    if (MsgPort* port = GetMsgPort()) {
        port->PutMsg(new RenderMessage(double(Frame.RecordStartFrame), double(Frame.RecordLastFrame), 0, nullptr, this, 0, 1));
    }
}
