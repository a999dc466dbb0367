#include "app/io/frame_list.h"

#include <algorithm>
#include <regex>

#include "app/io/errors.h"

namespace lumets {

namespace {
// More frames than any shot holds: a list that expands beyond it is a typing slip.
constexpr uint64_t MaxFrames = 10'000'000;

[[noreturn]] void Bad(const std::string& text, const std::string& why) {
    throw UserError("bad frame range \"" + text + "\"" + why);
}
}  // namespace

FrameList FrameList::Parse(const std::string& text) {
    static const std::regex item(R"(^\s*(-?\d{1,7})\s*(?:-\s*(-?\d{1,7})\s*(?:x\s*(\d{1,7})\s*)?)?$)");
    const std::string usage = " (use A-B, A-BxN or a list such as 1-10x2,15,20-30)";
    std::vector<int64_t> frames;
    size_t pos = 0;
    while (true) {
        const size_t comma = text.find(',', pos);
        const std::string part = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        std::smatch m;
        if (!std::regex_match(part, m, item)) Bad(text, usage);
        const int64_t a = std::stoll(m[1].str());
        const int64_t b = m[2].matched ? std::stoll(m[2].str()) : a;
        const int64_t step = m[3].matched ? std::stoll(m[3].str()) : 1;
        if (b < a) Bad(text, ": the last frame is before the first");
        if (step < 1) Bad(text, ": the step must be 1 or more");
        if (frames.size() + uint64_t((b - a) / step + 1) > MaxFrames)
            Bad(text, ": more than " + std::to_string(MaxFrames) + " frames");
        for (int64_t f = a; f <= b; f += step) frames.push_back(f);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return Of(std::move(frames));
}

FrameList FrameList::Range(int64_t first, int64_t last) {
    FrameList list;
    for (int64_t f = first; f <= last; ++f) list.Items.push_back(f);
    return list;
}

FrameList FrameList::Of(std::vector<int64_t> frames) {
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    FrameList list;
    list.Items = std::move(frames);
    return list;
}

bool FrameList::Contains(int64_t frame) const { return std::binary_search(Items.begin(), Items.end(), frame); }

std::string FrameList::Text() const {
    std::string out;
    const auto& a = Items;
    for (size_t i = 0; i < a.size();) {
        if (!out.empty()) out += ',';
        size_t j = i;
        const int64_t step = i + 1 < a.size() ? a[i + 1] - a[i] : 0;
        while (j + 1 < a.size() && a[j + 1] - a[j] == step) ++j;
        // A run of steps wider than 1 is written as one only from three frames on.
        if (j > i && (step == 1 || j - i >= 2)) {
            out += std::to_string(a[i]) + "-" + std::to_string(a[j]);
            if (step > 1) out += "x" + std::to_string(step);
            i = j + 1;
        } else {
            out += std::to_string(a[i]);
            ++i;
        }
    }
    return out;
}

std::vector<FrameList> FrameList::Chunks(size_t n) const {
    std::vector<FrameList> chunks;
    if (n == 0) return chunks;
    for (size_t i = 0; i < Items.size(); i += n) {
        FrameList c;
        c.Items.assign(Items.begin() + std::ptrdiff_t(i), Items.begin() + std::ptrdiff_t(std::min(Items.size(), i + n)));
        chunks.push_back(std::move(c));
    }
    return chunks;
}

}  // namespace lumets
