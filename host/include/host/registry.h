#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/archive.h"
#include "host/tags.h"

class Operator;
class Registry;

// Registry tags of a class registration.
namespace RegTags {
constexpr uint32_t Init = 0x10000001;
constexpr uint32_t Cleanup = 0x10000002;
constexpr uint32_t Factory = 0x10000000;
constexpr uint32_t ClassID = 0x10000005;
constexpr uint32_t Kind = 0x10000003;
constexpr uint32_t TileBitmap = 0x10000011;
constexpr uint32_t LongName = 0x10000006;
constexpr uint32_t Company = 0x1000000F;
constexpr uint32_t ShortName = 0x1000000B;
constexpr uint32_t HelpText = 0x1000000C;
constexpr uint32_t Flags = 0x10000022;
}  // namespace RegTags

using OperatorFactory = Operator* (*)(Registry* reg, CArchive* archive, TagList* tags);
using RegistryHook = void (*)(Registry* reg);

// A resource of a plug-in module (the tile bitmap), as raw bytes. A plain C
// struct, since modules hand it out from a function with C linkage; Resource{}
// is the empty resource.
struct Resource {
    const uint8_t* Data;
    size_t Size;
};
// The function a plug-in module exports as "LumetsGetResource" to hand out its resources.
using ResourceLookup = Resource (*)(int32_t id);

// The host's global list of classes.
class ClassRegistryList {
public:
    void Add(Registry* r);
    void Remove(Registry* r);
    Registry* Find(const std::string& classId) const;
    std::vector<Registry*> All() const;

private:
    std::vector<Registry*> Items;
};
extern ClassRegistryList ClassRegistry;

// One registered class. A plug-in constructs a static Registry; its constructor
// adds it to the class list and its destructor removes it.
class Registry {
public:
    Registry(ClassRegistryList* list, const char* classId, std::initializer_list<TagItem> tags);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Runs the factory: a new operator (one reference, owned by the caller), or
    // null when the factory gives none. Archive errors propagate.
    Operator* Create(CArchive* archive, TagList* tags);
    const std::string& ClassId() const { return Id; }
    const TagList& RegTagList() const { return TagsList; }
    // The resource with the given ID from the module that registered this class.
    Resource GetResource(int32_t id) const;
    // Set by the plug-in loader for registries made while a module loads.
    ResourceLookup Resources = nullptr;

    // Static initialiser and clean-up the host passes through for operator classes.
    static void RegInit(Registry*);
    static void RegCleanup(Registry*);

private:
    ClassRegistryList* List;
    std::string Id;
    TagList TagsList;
};

// The tag values Operator::RegInit and Operator::RegCleanup stand for.
namespace OperatorReg {
inline constexpr RegistryHook RegInit = &Registry::RegInit;
inline constexpr RegistryHook RegCleanup = &Registry::RegCleanup;
}  // namespace OperatorReg

// Restores a saved operator: reads the class ID that the operator's Save wrote
// first, checks it against the class's ID (tag 0x10000005), then runs the
// factory with the rest of the archive. Throws CArchiveException when the ID is
// missing or belongs to another class.
Operator* CreateFromSaved(Registry* reg, CArchive* archive, TagList* tags);
