#include "app/io/frame_pattern.h"

#include <cstdlib>

#include "app/io/errors.h"

namespace lumets {

namespace {
// Turns "%%" into "%" in the fixed parts of a printf-style pattern.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (s[i] == '%' && i + 1 < s.size() && s[i + 1] == '%') ++i;
    }
    return out;
}
}  // namespace

FramePattern::FramePattern(std::string pattern) : Pattern(std::move(pattern)) {
    if (Pattern.empty()) throw UserError("empty file name pattern");
    const std::string& p = Pattern;
    // Hash runs.
    size_t hashStart = std::string::npos, hashLen = 0;
    for (size_t i = 0; i < p.size();) {
        if (p[i] != '#') {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < p.size() && p[j] == '#') ++j;
        if (hashStart != std::string::npos)
            throw UserError("pattern \"" + p + "\" has more than one run of '#'");
        hashStart = i;
        hashLen = j - i;
        i = j;
    }
    // printf conversions.
    size_t pctStart = std::string::npos, pctEnd = 0;
    int pctWidth = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        if (p[i] != '%') continue;
        if (i + 1 < p.size() && p[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
        if (j >= p.size() || p[j] != 'd' || j - i - 1 > 2)
            throw UserError("pattern \"" + p + "\" has an unsupported '%' field (use %d or %04d)");
        if (pctStart != std::string::npos)
            throw UserError("pattern \"" + p + "\" has more than one frame-number field");
        pctStart = i;
        pctEnd = j + 1;
        pctWidth = j > i + 1 ? std::atoi(p.substr(i + 1, j - i - 1).c_str()) : 0;
        i = j;
    }
    if (hashStart != std::string::npos && pctStart != std::string::npos)
        throw UserError("pattern \"" + p + "\" mixes '#' and '%d' frame-number fields");
    if (hashStart != std::string::npos) {
        Prefix = p.substr(0, hashStart);
        Suffix = p.substr(hashStart + hashLen);
        Width = int(hashLen);
    } else if (pctStart != std::string::npos) {
        Prefix = Unescape(p.substr(0, pctStart));
        Suffix = Unescape(p.substr(pctEnd));
        Width = pctWidth;
    } else {
        Prefix = Unescape(p);
    }
}

std::string FramePattern::At(int64_t frame) const {
    if (Width < 0) return Prefix;
    std::string digits = std::to_string(frame < 0 ? -frame : frame);
    if (int(digits.size()) < Width) digits.insert(0, size_t(Width) - digits.size(), '0');
    return Prefix + (frame < 0 ? "-" : "") + digits + Suffix;
}

}  // namespace lumets
