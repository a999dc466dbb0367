#pragma once
#include <atomic>
#include <mutex>
#include <cstdint>
#include <initializer_list>

#include "host/tags.h"

// Every host object is reference counted: it is created with one reference and
// deleted when Recycle drops the last one. Objects also carry an attribute list
// that SetAttrs changes and the host (and tests) read back.
class Object {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    void AddRef() { Refs.fetch_add(1, std::memory_order_relaxed); }
    // Drops one reference; deletes the object with the last.
    void Recycle();
    int32_t RefCount() const { return Refs.load(std::memory_order_relaxed); }

    // Sets attributes; reads and writes of the list are serialised, so the
    // interface side may set them while a render reads them.
    void SetAttrs(std::initializer_list<TagItem> items);
    int32_t GetAttrLong(uint32_t tag, int32_t def) const;
    double GetAttrDouble(uint32_t tag, double def) const;
    intptr_t GetAttrPtr(uint32_t tag, intptr_t def) const;
    TagList GetAttrs() const;

protected:
    virtual ~Object();
    // Attribute list set at creation (no locking needed before the object is shared).
    TagList Attrs;

private:
    std::atomic<int32_t> Refs{1};
    mutable std::mutex AttrMutex;
};
