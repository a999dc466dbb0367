#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace lumets {

// The frames of a render as farm tools write them: "A-B", "A-BxN" (every Nth
// frame from A), single frames and comma-separated lists of these
// ("1-10x2,15,20-30"). Held in ascending order without repeats, as frames are
// rendered forwards.
class FrameList {
public:
    FrameList() = default;
    // Parses a list; throws UserError for a malformed one.
    static FrameList Parse(const std::string& text);
    // Every frame from first to last.
    static FrameList Range(int64_t first, int64_t last);
    static FrameList Of(std::vector<int64_t> frames);

    const std::vector<int64_t>& Frames() const { return Items; }
    bool Empty() const { return Items.empty(); }
    size_t Size() const { return Items.size(); }
    int64_t First() const { return Items.front(); }
    int64_t Last() const { return Items.back(); }
    bool Contains(int64_t frame) const;
    bool Contiguous() const { return Items.empty() || Last() - First() + 1 == int64_t(Items.size()); }
    // The list in the form Parse reads, as short as runs with a step allow
    // ("0-9", "1-9x2,15").
    std::string Text() const;
    // Consecutive pieces of at most n frames each.
    std::vector<FrameList> Chunks(size_t n) const;

private:
    std::vector<int64_t> Items;
};

}  // namespace lumets
