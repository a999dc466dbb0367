#include "app/io/names.h"

#include <algorithm>
#include <vector>

namespace lumets {

size_t EditDistance(const std::string& typed, const std::string& name) {
    const std::string a = typed.substr(0, 64);
    const std::string& b = name;
    std::vector<size_t> prev(b.size() + 1), cur(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) prev[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        cur[0] = i;
        for (size_t j = 1; j <= b.size(); ++j)
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(prev, cur);
    }
    return prev[b.size()] + (typed.size() - a.size());
}

std::string Shown(const std::string& text, size_t limit) {
    std::string out;
    for (const char c : text.substr(0, limit)) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    if (text.size() > limit) out += "...";
    return out;
}

}  // namespace lumets
