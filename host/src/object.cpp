#include "host/object.h"

Object::~Object() = default;

void Object::Recycle() {
    // acq_rel: every write made through other references happens before the delete.
    if (Refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void Object::SetAttrs(std::initializer_list<TagItem> items) {
    std::lock_guard<std::mutex> guard(AttrMutex);
    for (const TagItem& item : items) Attrs.Set(item);
}

int32_t Object::GetAttrLong(uint32_t tag, int32_t def) const {
    std::lock_guard<std::mutex> guard(AttrMutex);
    return Attrs.GetLong(tag, def);
}

double Object::GetAttrDouble(uint32_t tag, double def) const {
    std::lock_guard<std::mutex> guard(AttrMutex);
    return Attrs.GetDouble(tag, def);
}

intptr_t Object::GetAttrPtr(uint32_t tag, intptr_t def) const {
    std::lock_guard<std::mutex> guard(AttrMutex);
    return Attrs.GetPtr(tag, def);
}

TagList Object::GetAttrs() const {
    std::lock_guard<std::mutex> guard(AttrMutex);
    return Attrs;
}
