#include "app/io/motion_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "app/io/errors.h"
#include "app/io/input_files.h"
#include "motiondata/motion_file.h"

namespace lumets {

namespace {
using motion_file::EntrySize;
using motion_file::RecordSize;
// Every offset of a motion-data file is 32-bit, so no recording is larger than 4 GiB.
constexpr uint64_t SizeLimit = motion_file::OffsetLimit;

template <class T>
T ReadLE(const uint8_t* b, uint64_t at) {
    T v;
    std::memcpy(&v, b + at, sizeof v);  // the files are little-endian, as is this host
    return v;
}

std::string Number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}
}  // namespace

// Checks the frame count of a file of size bytes against the file; returns where
// the frame table ends.
uint64_t CheckFrameTable(int32_t count, uint64_t size, const std::string& name) {
    if (count < 0)
        throw UserError(name + ": damaged motion-data file (negative frame count " + std::to_string(count) + ")");
    const uint64_t tableEnd = motion_file::DataStart(count);
    if (tableEnd > size)
        throw UserError(name + ": damaged motion-data file (frame count " + std::to_string(count) + " needs a " +
                        std::to_string(tableEnd) + "-byte table, the file has " + std::to_string(size) + " bytes)");
    return tableEnd;
}

namespace {

MotionFile ParseMotionBytes(const uint8_t* bytes, uint64_t size, const std::string& name) {
    if (size < 4) throw UserError(name + ": not a motion-data file (shorter than its 4-byte frame count)");
    MotionFile file;
    file.FrameCount = ReadLE<int32_t>(bytes, 0);
    const uint64_t tableEnd = CheckFrameTable(file.FrameCount, size, name);
    file.Entries.resize(size_t(file.FrameCount));
    // A recording writes every frame's records in a block of their own, so the
    // entries together never claim more records than the bytes after the
    // table hold. Entries that share their records would list the same bytes
    // over and over: a file of a megabyte could ask for tens of gigabytes.
    const uint64_t capacity = (size - tableEnd) / RecordSize;
    uint64_t claimed = 0;
    for (int32_t k = 0; k < file.FrameCount; ++k) {
        const motion_file::FrameEntry stored = motion_file::DecodeEntry(bytes + motion_file::EntryOffset(k));
        MotionEntry& e = file.Entries[size_t(k)];
        e.Lifetime = stored.Lifetime;
        e.Retired = stored.Retired;
        e.Live = stored.Live;
        e.Offset = stored.DataOffset;
        const std::string where = name + ": damaged motion-data file (frame entry " + std::to_string(k);
        if (e.Retired < 0 || e.Live < 0) throw UserError(where + " has a negative particle count)");
        if (e.Live == 0) continue;
        if (e.Offset < tableEnd) throw UserError(where + " points its records into the frame table)");
        const uint64_t end = motion_file::BlockEnd(e.Offset, e.Live);
        if (end > size)
            throw UserError(where + " has " + std::to_string(e.Live) + " records at offset " +
                            std::to_string(e.Offset) + ", beyond the end of the " + std::to_string(size) +
                            "-byte file)");
        claimed += uint64_t(e.Live);
        if (claimed > capacity)
            throw UserError(where + " brings the records of entries 0 to " + std::to_string(k) + " to " +
                            std::to_string(claimed) + ", more than the " + std::to_string(capacity) +
                            " the file holds after its frame table)");
        e.Records.resize(size_t(e.Live));
        for (int32_t i = 0; i < e.Live; ++i) {
            const motion_file::Record r = motion_file::DecodeRecord(bytes + motion_file::BlockEnd(e.Offset, i));
            e.Records[size_t(i)] = {r.X, r.Y, r.Angle, r.Age, r.Size};
        }
    }
    return file;
}

}  // namespace

std::optional<std::string> ForeignFileKind(const uint8_t* data, size_t size) {
    const std::string_view head(reinterpret_cast<const char*>(data), std::min<size_t>(size, 65536));
    auto starts = [&](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    using namespace std::string_view_literals;
    if (starts("\x89PNG\r\n\x1a\n"sv)) return "a PNG image";
    if (starts("\xff\xd8\xff"sv)) return "a JPEG image";
    if (starts("II*\0"sv) || starts("MM\0*"sv)) return "a TIFF image";
    if (starts("v/1\x01"sv)) return "an OpenEXR image";
    if (starts("GIF87a"sv) || starts("GIF89a"sv)) return "a GIF image";
    if (starts("%PDF-"sv)) return "a PDF document";
    if (starts("PK\x03\x04"sv)) return "a ZIP archive";
    // Text (printable characters, white space and well-formed UTF-8, a sequence cut
    // off by the end of the look let pass) holds no zero byte, which every frame
    // count below 16 million and its table have: a damaged recording is never
    // taken for text or JSON.
    const std::string_view look = head.substr(0, 512);
    if (look.empty()) return std::nullopt;
    for (size_t i = 0; i < look.size();) {
        const auto u = static_cast<unsigned char>(look[i]);
        if (u < 0x80) {
            if ((u < 0x20 && u != '\t' && u != '\r' && u != '\n') || u == 0x7f) return std::nullopt;
            ++i;
            continue;
        }
        const size_t more = u >= 0xc2 && u <= 0xdf ? 1 : u >= 0xe0 && u <= 0xef ? 2 : u >= 0xf0 && u <= 0xf4 ? 3 : 0;
        if (more == 0) return std::nullopt;
        for (size_t j = 1; j <= more && i + j < look.size(); ++j)
            if ((static_cast<unsigned char>(look[i + j]) & 0xc0) != 0x80) return std::nullopt;
        i += more + 1;
    }
    size_t first = starts("\xef\xbb\xbf"sv) ? 3 : 0;  // a UTF-8 byte-order mark
    while (first < head.size() && (head[first] == ' ' || head[first] == '\t' || head[first] == '\r' || head[first] == '\n'))
        ++first;
    if (first < head.size() && (head[first] == '{' || head[first] == '[')) {
        if (head[first] == '{' && head.find("\"flow\"") != std::string_view::npos) return "a flow file (JSON)";
        return "a JSON file";
    }
    return "a text file";
}

MotionFile ParseMotionFile(const uint8_t* data, size_t size, const std::string& name) {
    try {
        return ParseMotionBytes(data, size, name);
    } catch (const UserError&) {
        // A file that fails the checks may be no motion data at all: name what it is
        // rather than reading its first bytes as a frame count.
        if (const auto kind = ForeignFileKind(data, size))
            throw UserError(name + ": not a motion-data file (it is " + *kind + ")");
        throw;
    }
}

MotionFile ParseMotionFile(const std::vector<uint8_t>& bytes, const std::string& name) {
    return ParseMotionFile(bytes.data(), bytes.size(), name);
}

MotionFile ReadMotionFile(const std::string& path) {
    const std::string bytes = ReadInputFile(path, SizeLimit, "motion-data file");
    return ParseMotionFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), path);
}

namespace {

// A motion-data file open for positioned reads: a regular file (opened without
// blocking, so a FIFO under the name cannot hold the open) of at most 4 GiB.
class MotionInput {
public:
    explicit MotionInput(const std::string& path) : Path(path) {
        RequireRegularFile(path, "motion-data file");
        do {
            Fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        } while (Fd < 0 && errno == EINTR);
        if (Fd < 0) throw UserError("cannot read motion-data file " + path + ": " + std::strerror(errno));
        struct stat st {};
        if (::fstat(Fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(Fd);
            throw UserError("cannot read motion-data file " + path + ": it is not a regular file");
        }
        Size = uint64_t(st.st_size);
    }
    ~MotionInput() { ::close(Fd); }
    MotionInput(const MotionInput&) = delete;
    MotionInput& operator=(const MotionInput&) = delete;

    // Reads up to n bytes at offset; fewer only at the end of the file.
    size_t ReadAt(uint64_t offset, void* buf, size_t n) const {
        size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(Fd, static_cast<char*>(buf) + done, n - done, off_t(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw UserError("cannot read motion-data file " + Path + ": " + std::strerror(errno));
            if (got == 0) break;
            done += size_t(got);
        }
        return done;
    }

    std::string Path;
    int Fd = -1;
    uint64_t Size = 0;
};

// The frame count of a file, checked against its size; a file of another kind is named.
int32_t CheckedFrameCount(const MotionInput& in, const std::string& name) {
    uint8_t head[4096];
    const size_t got = in.ReadAt(0, head, sizeof head);
    auto refuse = [&](const UserError& e) {
        if (const auto kind = ForeignFileKind(head, got))
            return UserError(name + ": not a motion-data file (it is " + *kind + ")");
        return e;
    };
    if (in.Size > SizeLimit)
        throw UserError(name + ": not a motion-data file (" + std::to_string(in.Size) +
                        " bytes, beyond the 4 GiB its 32-bit offsets can reach)");
    if (got < 4) throw refuse(UserError(name + ": not a motion-data file (shorter than its 4-byte frame count)"));
    const int32_t count = ReadLE<int32_t>(head, 0);
    try {
        CheckFrameTable(count, in.Size, name);
    } catch (const UserError& e) {
        throw refuse(e);
    }
    return count;
}

}  // namespace

MotionExtent ReadMotionExtent(const std::string& path, const std::string& name) {
    const MotionInput in(path);
    MotionExtent extent;
    extent.FrameCount = CheckedFrameCount(in, name);
    // The table is read in pieces (it may be most of a large file) and only up to
    // the first entry that is not whole.
    std::vector<uint8_t> piece(EntrySize * 4096);
    for (int32_t k = 0; k < extent.FrameCount;) {
        const int32_t n = std::min<int32_t>(extent.FrameCount - k, 4096);
        if (in.ReadAt(motion_file::EntryOffset(k), piece.data(), EntrySize * size_t(n)) != EntrySize * size_t(n))
            return extent;  // the file shrank meanwhile
        for (int32_t i = 0; i < n; ++i, ++k) {
            const motion_file::FrameEntry e = motion_file::DecodeEntry(piece.data() + EntrySize * size_t(i));
            if (!motion_file::EntryWhole(e, extent.FrameCount, in.Size)) return extent;
            extent.WholeFrames = k + 1;
        }
    }
    return extent;
}

MotionExtent CheckPlayableMotionFile(const std::string& path) {
    const MotionExtent extent = ReadMotionExtent(path, path);
    // The table was checked to lie within a file of at most 4 GiB, so only too few
    // frames can make it unplayable here.
    if (!motion_file::Playable(extent.FrameCount))
        throw UserError(path + " holds " + std::to_string(extent.FrameCount) +
                        " recorded frame(s); playback needs at least two");
    return extent;
}

std::optional<int64_t> FirstFramePastEnd(const MotionExtent& extent, const std::vector<int64_t>& frames,
                                         const PlaybackRange& range) {
    if (extent.Complete()) return std::nullopt;
    const int32_t span = range.Last - range.Start;
    const int32_t n = extent.FrameCount;
    if (span <= 0 || n < 2) return std::nullopt;
    for (const int64_t frame : frames) {
        const double time = double(frame);
        if (!(time >= range.Start && time <= range.Last)) continue;  // outside the range: no particles
        // The tool's own mapping: the frame is rebuilt from recorded frames k and k + 1.
        const auto k = int64_t(motion_file::PlaybackPosition(time, range.Start, range.Last, range.Reverse, n));
        if (k + 1 >= extent.WholeFrames) return frame;
    }
    return std::nullopt;
}

std::string EndsEarlyText(const std::string& name, const MotionExtent& extent, int64_t firstPast) {
    std::string text = name + " ends early: ";
    text += extent.WholeFrames == 0
                ? std::string("it holds none of its ")
                : "its last whole frame is recorded frame " + std::to_string(extent.WholeFrames - 1) + " of ";
    return text + std::to_string(extent.FrameCount) + " (0-" + std::to_string(extent.FrameCount - 1) +
           "); the playback runs past it from frame " + std::to_string(firstPast);
}

std::string MotionFileText(const MotionFile& file, const std::string& name) {
    std::ostringstream out;
    out << name << ": " << file.FrameCount << " frame" << (file.FrameCount == 1 ? "" : "s") << "\n";
    for (size_t k = 0; k < file.Entries.size(); ++k) {
        const MotionEntry& e = file.Entries[k];
        out << "frame " << k << ": lifetime " << Number(e.Lifetime) << ", retired " << e.Retired << ", live "
            << e.Live << ", offset " << e.Offset << "\n";
        for (size_t i = 0; i < e.Records.size(); ++i) {
            const auto& r = e.Records[i];
            out << "  " << i << ": x " << Number(r[0]) << "  y " << Number(r[1]) << "  angle " << Number(r[2])
                << "  age " << Number(r[3]) << "  size " << Number(r[4]) << "\n";
        }
    }
    return out.str();
}

std::string MotionFileJson(const MotionFile& file) {
    nlohmann::ordered_json j;
    j["frameCount"] = file.FrameCount;
    j["entries"] = nlohmann::ordered_json::array();
    for (size_t k = 0; k < file.Entries.size(); ++k) {
        const MotionEntry& e = file.Entries[k];
        nlohmann::ordered_json entry;
        entry["index"] = k;
        entry["lifetime"] = e.Lifetime;
        entry["retired"] = e.Retired;
        entry["live"] = e.Live;
        entry["offset"] = e.Offset;
        entry["records"] = nlohmann::ordered_json::array();
        for (const auto& r : e.Records) entry["records"].push_back({r[0], r[1], r[2], r[3], r[4]});
        j["entries"].push_back(std::move(entry));
    }
    return j.dump() + "\n";
}

}  // namespace lumets
