#pragma once
#include <cstddef>
#include <string>

namespace lumets {

// The edit distance between what a user typed and a known name, for "nearest"
// hints. Only the first 64 characters of what was typed count: a longer text is
// near no name anyway, and a hostile flow's megabyte key must not cost minutes.
size_t EditDistance(const std::string& typed, const std::string& name);

// Text from a flow, a file or the command line as it may appear in a one-line
// message: control characters shown as '?', at most `limit` bytes, then "...".
std::string Shown(const std::string& text, size_t limit = 64);

}  // namespace lumets
