// Fuzz target: a motion-data file as `lumets inspect` reads it (its frame-count
// and table check is also the one `lumets play` makes). The input is the file's bytes; it is checked, then
// listed as text and as JSON. Bad files must be refused with a UserError; what
// a good one lists must encode back to the bytes it was read from.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/io/errors.h"
#include "app/io/motion_file.h"
#include "motiondata/motion_file.h"

namespace {

void CheckBytes(const unsigned char* encoded, const uint8_t* stored, size_t n, const char* what) {
    if (std::memcmp(encoded, stored, n) != 0) {
        std::fprintf(stderr, "motion_inspect_fuzz: %s does not encode back to its bytes\n", what);
        std::abort();
    }
}

// Every entry and record the inspection listed, encoded again, is the file's own bytes.
void CheckRoundTrip(const lumets::MotionFile& file, const uint8_t* data) {
    for (size_t k = 0; k < file.Entries.size(); ++k) {
        const lumets::MotionEntry& e = file.Entries[k];
        unsigned char entry[motion_file::EntrySize];
        motion_file::EncodeEntry({e.Lifetime, e.Retired, e.Live, e.Offset}, entry);
        CheckBytes(entry, data + motion_file::EntryOffset(int64_t(k)), sizeof entry, "a frame entry");
        for (size_t i = 0; i < e.Records.size(); ++i) {
            const auto& r = e.Records[i];
            unsigned char record[motion_file::RecordSize];
            motion_file::EncodeRecord({r[0], r[1], r[2], r[3], r[4]}, record);
            CheckBytes(record, data + motion_file::BlockEnd(e.Offset, int64_t(i)), sizeof record, "a record");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    try {
        const lumets::MotionFile file = lumets::ParseMotionFile(bytes, "fuzz.lpd");
        CheckRoundTrip(file, data);
        (void)lumets::MotionFileText(file, "fuzz.lpd");
        (void)lumets::MotionFileJson(file);
    } catch (const lumets::UserError&) {
    }
    return 0;
}
