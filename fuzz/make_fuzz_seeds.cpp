// Writes the fuzz targets' seed corpora with the tool itself: motion-data files
// recorded by the tool, and saved operator data with and without captured shapes.
// Usage: make_fuzz_seeds <corpus folder> (the folders motion_playback/ and
// saved_block/ must exist).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/tool_harness.h"
#include "host/archive.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Records frames first..last of a small system into the file.
void Record(const std::string& path, int first, int last, double birthrate, double lifetime, bool gravity) {
    ToolHarness h(48, 32, 4, 4);
    h.SetNumber(h.Op->ControlInput("Birthrate"), birthrate);
    h.SetNumber(h.Op->ControlInput("Lifetime"), lifetime);
    if (gravity) h.SetNumber(h.Op->ControlInput("Gravity"), 0.5);
    h.SetNumber(h.Op->ControlInput("RecordStartFrame"), first);
    h.SetNumber(h.Op->ControlInput("RecordLastFrame"), last);
    h.Request_(first);  // the recording range reaches the frame settings
    platform::Default().QueueDialogAnswer(path);
    h.Press(h.Op->ControlInput("SaveFile"));
    h.Press(h.Op->ControlInput("RecordNow"));
    h.ServeMessages();
}

std::vector<uint8_t> SavedBlock(ToolHarness& h) {
    CArchive out;
    h.Op->Save(&out, nullptr);
    return out.Buffer();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <corpus folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    platform::Default().SetEcho(false);

    const std::string motion = dir + "/motion_playback/";
    Record(motion + "recorded-13-frames.lpd", 0, 12, 3, 4, true);
    Record(motion + "recorded-2-frames.lpd", 5, 6, 2, 10, false);
    Record(motion + "recorded-retiring.lpd", 0, 5, 4, 1.5, false);

    const std::string saved = dir + "/saved_block/";
    {
        ToolHarness h;
        WriteAll(saved + "no-shapes.bin", SavedBlock(h));
    }
    {
        // Three shapes captured from a 3 x 2 particle image over frames 0..2.
        ToolHarness h(16, 12, 3, 2);
        h.SetNumber(h.Op->ControlInput("ImageStartFrame"), 0);
        h.SetNumber(h.Op->ControlInput("ImageLastFrame"), 2);
        h.Request_(0);
        h.Press(h.Op->ControlInput("PreloadShapes"));
        h.ServeMessages();
        if (!h.Op->Shapes.HasPreloaded()) {
            std::fprintf(stderr, "make_fuzz_seeds: the shape capture did not complete\n");
            return 1;
        }
        WriteAll(saved + "captured-3-shapes.bin", SavedBlock(h));
        // Shapes of different sizes in one set.
        ShapeSet mixed = h.Op->Shapes.Preloaded();
        mixed.Levels[1].Width = 1;
        mixed.Levels[1].Height = 1;
        mixed.Levels[1].Pixels.resize(4);
        mixed.Levels[2].Width = 0;
        mixed.Levels[2].Height = 0;
        mixed.Levels[2].Pixels.clear();
        h.Op->Shapes.AdoptPreloaded(std::move(mixed));
        WriteAll(saved + "mixed-sizes.bin", SavedBlock(h));
    }
    for (const char* name : {"recorded-13-frames.lpd", "recorded-2-frames.lpd", "recorded-retiring.lpd"}) {
        if (ReadAll(motion + name).size() < 4) {
            std::fprintf(stderr, "make_fuzz_seeds: %s was not recorded\n", name);
            return 1;
        }
    }
    return 0;
}
