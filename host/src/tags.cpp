#include "host/tags.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const TagItem* FindTag(const std::vector<TagItem>& items, uint32_t tag) {
    for (const TagItem& item : items)
        if (item.Tag == tag) return &item;
    return nullptr;
}

// A double cut toward zero and limited to the int32 range (NaN gives 0), so a
// double tag read as a number never overflows.
int32_t TruncateToInt32(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

}  // namespace

int32_t TagList::GetLong(uint32_t tag, int32_t def) const {
    const TagItem* item = FindTag(Items, tag);
    if (!item) return def;
    if (item->IsDouble()) return TruncateToInt32(item->Double);
    // 32-bit values are kept widened; the low 32 bits are the value.
    return int32_t(uint32_t(uint64_t(item->Long)));
}

double TagList::GetDouble(uint32_t tag, double def) const {
    const TagItem* item = FindTag(Items, tag);
    if (!item) return def;
    if (item->IsDouble()) return item->Double;
    return double(item->Long);
}

intptr_t TagList::GetPtr(uint32_t tag, intptr_t def) const {
    const TagItem* item = FindTag(Items, tag);
    return item ? item->Long : def;
}

bool TagList::Has(uint32_t tag) const { return FindTag(Items, tag) != nullptr; }

void TagList::Set(const TagItem& item) {
    for (TagItem& existing : Items) {
        if (existing.Tag == item.Tag) {
            existing = item;
            return;
        }
    }
    Items.push_back(item);
}

void TagList::Remove(uint32_t tag) {
    Items.erase(std::remove_if(Items.begin(), Items.end(), [tag](const TagItem& i) { return i.Tag == tag; }),
                Items.end());
}
