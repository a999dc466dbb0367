#pragma once
#include <cstdint>
#include <initializer_list>
#include <type_traits>
#include <vector>

// Attribute tags. A tag whose top four bits are 2 carries a double; every other
// tag carries one 32-bit value or a pointer.
constexpr bool TagIsDouble(uint32_t tag) { return (tag >> 28) == 2; }

// Control attribute tags understood by the host.
namespace Tags {
constexpr uint32_t PageControl = 0x10030006;
constexpr uint32_t ViewControl = 0x10030007;
constexpr uint32_t RangeLow = 0x20030000;
constexpr uint32_t RangeHigh = 0x20030001;
constexpr uint32_t ScaleLow = 0x20030002;
constexpr uint32_t ScaleHigh = 0x20030003;
constexpr uint32_t Default = 0x20030004;
constexpr uint32_t DefaultX = 0x20030005;
constexpr uint32_t DefaultY = 0x20030006;
constexpr uint32_t Disabled = 0x10030008;
constexpr uint32_t Visible = 0x1004000B;
constexpr uint32_t ViewVisible = 0x10048001;
constexpr uint32_t Integer = 0x10030010;
constexpr uint32_t ButtonAttr = 0x1003000D;
constexpr uint32_t CheckBoxAttr = 0x10030015;
constexpr uint32_t Group = 0x10030009;
constexpr uint32_t GroupPosition = 0x1003000A;
constexpr uint32_t CurveKind = 0x10030012;
constexpr uint32_t CurveColor = 0x10050001;
constexpr uint32_t CurveEditing = 0x10050002;
constexpr uint32_t PointPair = 0x10058000;
constexpr uint32_t PolyLineAttr = 0x10058004;
constexpr uint32_t PolyLineName = 0x10040001;
constexpr uint32_t EditSwitchAttr = 0x10040006;
constexpr uint32_t DefaultText = 0x10030013;
constexpr uint32_t TextFieldAttr = 0x10050000;
constexpr uint32_t LabelAttr1 = 0x10030001;
constexpr uint32_t LabelAttr2 = 0x10030017;
// Image attribute tags.
constexpr uint32_t FullWidth = 0x10000009;
constexpr uint32_t FullHeight = 0x1000000A;
constexpr uint32_t Field = 0x1000000B;
// Host tag passed to a tool's factory: the initial state of the tool's random
// generator (a flow's "seed"; default 1).
constexpr uint32_t RandomSeed = 0x1000F001;
}  // namespace Tags

// One (tag, value) pair. The kind of value follows from the tag: double tags keep
// a double, all others a 32-bit value or a pointer (kept as intptr_t).
struct TagItem {
    uint32_t Tag = 0;
    intptr_t Long = 0;
    double Double = 0.0;

    TagItem() = default;
    template <class V>
    TagItem(uint32_t tag, V value) : Tag(tag) {
        if constexpr (std::is_pointer_v<V> || std::is_null_pointer_v<V>) {
            Long = reinterpret_cast<intptr_t>(value);
            Double = double(Long);
        } else if (TagIsDouble(tag)) {
            Double = double(value);
        } else {
            Long = intptr_t(value);
        }
    }
    bool IsDouble() const { return TagIsDouble(Tag); }
};

// An ordered attribute list. The closing tag 0 of the original calling convention
// is implicit: the list ends where the vector ends.
class TagList {
public:
    TagList() = default;
    TagList(std::initializer_list<TagItem> items) : Items(items) {}

    // The tag's value as a 32-bit number, or the default when absent.
    int32_t GetLong(uint32_t tag, int32_t def) const;
    double GetDouble(uint32_t tag, double def) const;
    intptr_t GetPtr(uint32_t tag, intptr_t def) const;
    bool Has(uint32_t tag) const;
    // Sets a tag: replaces its value in place, or appends it.
    void Set(const TagItem& item);
    void Remove(uint32_t tag);

    std::vector<TagItem> Items;
};
