#include "motiondata/motion_recorder.h"

#include <cmath>
#include <cstring>

#include "motiondata/motion_file.h"

using namespace motion_file;

bool MotionRecorder::Create(const std::string& path, int32_t frames) {
    Close();
    platform::FileHandle h = platform::Get().OpenFile(path, platform::OpenMode::CreateForWrite);
    if (h == platform::NoFile) return false;
    File = h;
    State = NoFailure;
    Frames = frames;
    unsigned char count[CountSize];
    std::memcpy(count, &frames, CountSize);
    if (platform::Get().WriteAt(File, 0, count, CountSize) != CountSize) State = WriteFailed;
    NextData = uint32_t(DataStart(frames));
    return true;
}

void MotionRecorder::Close() { platform::CloseAndForget(File); }

void MotionRecorder::Record(const RecordedFrame& frame) {
    if (File == platform::NoFile || State != NoFailure) return;
    const double whole = std::trunc(frame.Time);
    if (!(whole >= frame.RangeStart && whole <= frame.RangeLast)) return;  // also refuses NaN
    const int64_t index = int64_t(whole) - frame.RangeStart;
    if (index < 0 || index >= Frames) return;

    const int32_t live = frame.Live.Count;
    const uint64_t blockEnd = BlockEnd(NextData, live);
    if (blockEnd >= OffsetLimit) {
        // The block would not fit below 4 GiB: stop here, leaving the earlier frames.
        State = LimitReached;
        return;
    }
    unsigned char entry[EntrySize];
    EncodeEntry(FrameEntry{frame.Lifetime, frame.Retired, live, NextData}, entry);
    if (platform::Get().WriteAt(File, EntryOffset(index), entry, EntrySize) != int64_t(EntrySize)) {
        State = WriteFailed;
        return;
    }
    const uint32_t blockStart = NextData;
    NextData = uint32_t(blockEnd);
    if (live <= 0) return;

    const LiveRing& ring = frame.Live;
    const int32_t records = live < ring.Size ? live : ring.Size;
    Block.resize(std::size_t(records) * RecordSize);
    for (int32_t i = 0, slot = ring.Oldest; i < records; ++i, slot = slot + 1 == ring.Size ? 0 : slot + 1) {
        const Particle& p = ring.Slots[slot];
        EncodeRecord(motion_file::Record{p.Position.x, p.Position.y, p.Angle, p.Age, p.Size}, &Block[std::size_t(i) * RecordSize]);
    }
    if (platform::Get().WriteAt(File, blockStart, Block.data(), Block.size()) != int64_t(Block.size()))
        State = WriteFailed;
}
