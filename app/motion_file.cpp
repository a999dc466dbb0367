#include "app/motion_file.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/errors.h"

namespace lumets {

namespace {
constexpr uint64_t EntrySize = 20;
constexpr uint64_t RecordSize = 40;

template <class T>
T ReadLE(const std::vector<uint8_t>& b, uint64_t at) {
    T v;
    std::memcpy(&v, b.data() + at, sizeof v);  // the files are little-endian, as is this host
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
    const uint64_t tableEnd = 4 + EntrySize * uint64_t(count);
    if (tableEnd > size)
        throw UserError(name + ": damaged motion-data file (frame count " + std::to_string(count) + " needs a " +
                        std::to_string(tableEnd) + "-byte table, the file has " + std::to_string(size) + " bytes)");
    return tableEnd;
}

MotionFile ParseMotionFile(const std::vector<uint8_t>& bytes, const std::string& name) {
    const uint64_t size = bytes.size();
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
        const uint64_t at = 4 + EntrySize * uint64_t(k);
        MotionEntry& e = file.Entries[size_t(k)];
        e.Lifetime = ReadLE<double>(bytes, at);
        e.Retired = ReadLE<int32_t>(bytes, at + 8);
        e.Live = ReadLE<int32_t>(bytes, at + 12);
        e.Offset = ReadLE<uint32_t>(bytes, at + 16);
        const std::string where = name + ": damaged motion-data file (frame entry " + std::to_string(k);
        if (e.Retired < 0 || e.Live < 0) throw UserError(where + " has a negative particle count)");
        if (e.Live == 0) continue;
        if (e.Offset < tableEnd) throw UserError(where + " points its records into the frame table)");
        const uint64_t end = uint64_t(e.Offset) + RecordSize * uint64_t(e.Live);
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
        for (int32_t i = 0; i < e.Live; ++i)
            for (int f = 0; f < 5; ++f)
                e.Records[size_t(i)][size_t(f)] =
                    ReadLE<double>(bytes, uint64_t(e.Offset) + RecordSize * uint64_t(i) + 8 * uint64_t(f));
    }
    return file;
}

namespace {
// Opens a motion-data file for reading. Every offset of a motion-data file is
// 32-bit, so no recording is larger than 4 GiB; a larger file is refused before
// anything is read.
std::ifstream OpenMotionFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw UserError("missing file " + path);
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > (uintmax_t(1) << 32))
        throw UserError(path + ": not a motion-data file (" + std::to_string(size) +
                        " bytes, beyond the 4 GiB its 32-bit offsets can reach)");
    return in;
}
}  // namespace

MotionFile ReadMotionFile(const std::string& path) {
    std::ifstream in = OpenMotionFile(path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw UserError("cannot read " + path);
    return ParseMotionFile(bytes, path);
}

int32_t CheckPlayableMotionFile(const std::string& path) {
    std::ifstream in = OpenMotionFile(path);
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) throw UserError("cannot read " + path + ": " + ec.message());
    int32_t count = 0;
    if (size < 4 || !in.read(reinterpret_cast<char*>(&count), 4))
        throw UserError(path + ": not a motion-data file (shorter than its 4-byte frame count)");
    CheckFrameTable(count, size, path);
    if (count < 2)
        throw UserError(path + " holds " + std::to_string(count) +
                        " recorded frame(s); playback needs at least two");
    return count;
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
