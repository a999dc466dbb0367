#include "motiondata/motion_player.h"

#include <cmath>
#include <vector>

#include "motiondata/motion_file.h"

using namespace motion_file;

namespace {

// Reads exactly n bytes at offset; false on a short read, an error or an offset
// range that does not fit in the file's 32-bit offsets.
bool ReadExactly(platform::FileHandle h, uint64_t offset, void* buf, size_t n) {
    if (offset + n > OffsetLimit) return false;
    return platform::Get().ReadAt(h, offset, buf, n) == int64_t(n);
}

}  // namespace

bool MotionPlayer::Open(const std::string& path) {
    platform::FileHandle h = platform::Get().OpenFile(path, platform::OpenMode::OpenForRead);
    if (h == platform::NoFile) return false;
    unsigned char head[CountSize];
    int32_t count = 0;
    if (platform::Get().ReadAt(h, 0, head, CountSize) == CountSize) std::memcpy(&count, head, CountSize);
    if (!Playable(count)) {
        platform::Get().CloseFile(h);
        return false;
    }
    Close();
    File = h;
    Frames = count;
    return true;
}

void MotionPlayer::Close() { platform::CloseAndForget(File); }

MotionPlayer::Frame MotionPlayer::ReadFrame(double time, const PlaybackRange& range, const PoolSlots& pool) {
    Frame out;
    if (!(time >= range.Start && time <= range.Last)) return out;
    const int32_t n = Frames;
    // Nothing to interpolate over: a range of one frame, or no file held (a load
    // that was cancelled after the earlier file was closed).
    if (range.Last - range.Start <= 0 || n < 2 || File == platform::NoFile) return out;
    Pos = PlaybackPosition(time, range.Start, range.Last, range.Reversed, n);
    const int32_t k = int32_t(Pos);
    const double f = Pos - k;

    // Entries k and k + 1 lie side by side: one read for both.
    unsigned char entries[2 * EntrySize];
    if (!ReadExactly(File, EntryOffset(k), entries, sizeof entries)) return out;
    const FrameEntry a = DecodeEntry(entries);
    const FrameEntry b = DecodeEntry(entries + EntrySize);
    // Offsets are checked against the data region and the record grid, counts
    // against the pool. Any mismatch means the frame cannot be trusted.
    if (!BlockOffsetValid(a.DataOffset, n) || !BlockOffsetValid(b.DataOffset, n)) return out;
    if (!LiveCountValid(a.Live) || !LiveCountValid(b.Live)) return out;
    if (b.Retired < 0 || !std::isfinite(a.Lifetime)) return out;

    const int32_t retired = b.Retired;
    const int32_t shared = a.Live > retired ? a.Live - retired : 0;
    out.Lifetime = a.Lifetime;
    if (shared > 0) {
        // The first R records of frame k are the particles that retire in frame k + 1;
        // the shared particles follow them.
        const uint64_t sharedStart = BlockEnd(a.DataOffset, retired);
        if (sharedStart >= OffsetLimit) return out;
        const size_t bytes = size_t(shared) * RecordSize;
        std::vector<unsigned char> blockA(bytes), blockB(bytes);
        if (!ReadExactly(File, sharedStart, blockA.data(), bytes)) return out;
        if (!ReadExactly(File, b.DataOffset, blockB.data(), bytes)) {
            out.Result = Outcome::Ended;
            return out;
        }
        // Interpolate every particle first so that a damaged record leaves the pool
        // empty rather than half filled.
        std::vector<Record> mixed(static_cast<size_t>(shared)), before;
        // One request frame earlier the position stood back by `back` recorded
        // frames; each particle's earlier state lies on the line through its
        // two records (its records in frames k and k + 1, matched by ring order).
        const double back = Pos - PlaybackPosition(time - 1.0, range.Start, range.Last, range.Reversed, n);
        if (pool.Before) before.resize(mixed.size());
        for (int32_t i = 0; i < shared; ++i) {
            const Record ra = DecodeRecord(&blockA[size_t(i) * RecordSize]);
            const Record rb = DecodeRecord(&blockB[size_t(i) * RecordSize]);
            Record& m = mixed[size_t(i)];
            m.X = (1.0 - f) * ra.X + f * rb.X;
            m.Y = (1.0 - f) * ra.Y + f * rb.Y;
            m.Angle = (1.0 - f) * ra.Angle + f * rb.Angle;
            m.Age = (1.0 - f) * ra.Age + f * rb.Age;
            m.Size = (1.0 - f) * ra.Size + f * rb.Size;
            if (!Finite(m)) return out;
            if (pool.Before) {
                Record& e = before[size_t(i)];
                e.X = m.X - (rb.X - ra.X) * back;
                e.Y = m.Y - (rb.Y - ra.Y) * back;
                e.Angle = m.Angle - (rb.Angle - ra.Angle) * back;
                e.Age = m.Age - (rb.Age - ra.Age) * back;
                e.Size = m.Size - (rb.Size - ra.Size) * back;
                if (!Finite(e)) e = m;  // drawn where it stands
            }
        }
        for (size_t i = 0; i < mixed.size(); ++i) {
            const Record& m = mixed[i];
            if (pool.Before) {
                const Record& e = before[i];
                pool.Before[*pool.Next] = ParticleBefore{Vec2d(e.X, e.Y), e.Angle, e.Age, e.Size};
            }
            Particle& p = pool.Slots[*pool.Next];
            p.Position = Vec2d(m.X, m.Y);
            p.Angle = m.Angle;
            p.Age = m.Age;
            p.Size = m.Size;
            p.ShapeImage = nullptr;  // loaded particles own no image copy
            *pool.Next = *pool.Next + 1 == pool.Size ? 0 : *pool.Next + 1;
            ++*pool.Live;
        }
    }
    out.Result = Outcome::Shown;
    return out;
}
