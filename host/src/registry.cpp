#include "host/registry.h"

#include <algorithm>
#include <cstdio>

#include "module_loading.h"

ClassRegistryList ClassRegistry;

void ClassRegistryList::Add(Registry* r) {
    if (r && std::find(Items.begin(), Items.end(), r) == Items.end()) Items.push_back(r);
}

void ClassRegistryList::Remove(Registry* r) { Items.erase(std::remove(Items.begin(), Items.end(), r), Items.end()); }

Registry* ClassRegistryList::Find(const std::string& classId) const {
    for (Registry* r : Items)
        if (r->ClassId() == classId) return r;
    return nullptr;
}

std::vector<Registry*> ClassRegistryList::All() const { return Items; }

Registry::Registry(ClassRegistryList* list, const char* classId, std::initializer_list<TagItem> tags)
    : List(list), Id(classId ? classId : ""), TagsList(tags) {
    if (List) List->Add(this);
    hostinternal::NoteRegistryCreated(this);
}

Registry::~Registry() {
    hostinternal::NoteRegistryDestroyed(this);
    if (List) List->Remove(this);
}

Operator* Registry::Create(CArchive* archive, TagList* tags) {
    auto factory = reinterpret_cast<OperatorFactory>(TagsList.GetPtr(RegTags::Factory, 0));
    if (!factory) return nullptr;
    return factory(this, archive, tags);
}

Resource Registry::GetResource(int32_t id) const { return Resources ? Resources(id) : Resource{}; }

void Registry::RegInit(Registry*) {}
void Registry::RegCleanup(Registry*) {}

Operator* CreateFromSaved(Registry* reg, CArchive* archive, TagList* tags) {
    if (!reg || !archive || !archive->IsLoading())
        throw CArchiveException("saved operator data: no class or no archive to read");
    uint32_t savedId = 0;
    try {
        *archive >> savedId;
    } catch (const CArchiveException&) {
        throw CArchiveException("saved operator data is empty (no class ID)");
    }
    const uint32_t classId = uint32_t(reg->RegTagList().GetLong(RegTags::ClassID, 0));
    if (savedId != classId) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "saved operator data has class ID 0x%08X, expected 0x%08X for %s", savedId,
                      classId, reg->ClassId().c_str());
        throw CArchiveException(buf);
    }
    return reg->Create(archive, tags);
}
