// Fuzz target: a motion-data file as `lumets inspect` reads it (its frame-count
// and table check is also the one `lumets play` makes). The input is the file's bytes; it is checked, then
// listed as text and as JSON. Bad files must be refused with a UserError.
#include <string>
#include <vector>

#include "app/io/errors.h"
#include "app/io/motion_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    try {
        const lumets::MotionFile file = lumets::ParseMotionFile(bytes, "fuzz.lpd");
        (void)lumets::MotionFileText(file, "fuzz.lpd");
        (void)lumets::MotionFileJson(file);
    } catch (const lumets::UserError&) {
    }
    return 0;
}
