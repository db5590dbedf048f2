#include "kora/factory.h"

#include <atomic>
#include <map>
#include <mutex>

#include "factory_internal.h"
#include "kora/types.h"

namespace kora {

namespace {

struct FactoryRegistry {
    std::mutex lock;
    std::map<std::string, IRegisterObject*, std::less<>> creators;
    std::vector<std::string> order;
    // Bumped by every registration; per-thread caches older than it are dropped.
    std::atomic<uint64_t> generation{1};
};
FactoryRegistry& factory() {
    static FactoryRegistry* r = new FactoryRegistry;  // lives until the process ends
    return *r;
}

// The creators a thread looked up last. Received frames name the same few
// types over and over; a hit costs neither the registry's lock nor a map walk.
struct CreatorCache {
    static constexpr size_t kSlots = 8;
    struct Slot {
        std::string name;
        IRegisterObject* creator = nullptr;
    };
    uint64_t generation = 0;
    Slot slots[kSlots];
    size_t next = 0;
};

IRegisterObject* FindCreator(std::string_view name) {
    thread_local CreatorCache cache;
    FactoryRegistry& f = factory();
    const uint64_t gen = f.generation.load(std::memory_order_acquire);
    if (cache.generation != gen) {
        for (auto& slot : cache.slots) slot = CreatorCache::Slot();
        cache.generation = gen;
    }
    for (const auto& slot : cache.slots)
        if (slot.creator && slot.name == name) return slot.creator;
    IRegisterObject* creator = nullptr;
    {
        std::lock_guard<std::mutex> g(f.lock);
        auto it = f.creators.find(name);
        if (it == f.creators.end()) return nullptr;
        creator = it->second;
    }
    CreatorCache::Slot& slot = cache.slots[cache.next++ % CreatorCache::kSlots];
    slot.name.assign(name.data(), name.size());
    slot.creator = creator;
    return creator;
}

}  // namespace

namespace detail {

ISerialize* CreateByName(std::string_view typeName) {
    IRegisterObject* creator = FindCreator(typeName);
    return creator ? creator->CreateObject() : nullptr;
}

bool IsRegisteredName(std::string_view typeName) {
    return FindCreator(typeName) != nullptr;
}

}  // namespace detail

void cObjectFactory::RegisterObject(const std::string& typeName, IRegisterObject* creator) {
    FactoryRegistry& f = factory();
    std::lock_guard<std::mutex> g(f.lock);
    if (f.creators.find(typeName) == f.creators.end()) f.order.push_back(typeName);
    f.creators[typeName] = creator;
    f.generation.fetch_add(1, std::memory_order_release);
}

ISerialize* cObjectFactory::CreateObject(const std::string& typeName) {
    return detail::CreateByName(typeName);
}

bool cObjectFactory::IsRegistered(const std::string& typeName) {
    return detail::IsRegisteredName(typeName);
}

std::vector<std::string> cObjectFactory::RegisteredTypes() {
    FactoryRegistry& f = factory();
    std::lock_guard<std::mutex> g(f.lock);
    return f.order;
}

bool cObjectFactory::Serialize(const ISerialize& obj, cSerializeBuffer& buffer) {
    s_string name(obj.TypeName());
    name.Serialize(buffer);
    return obj.Serialize(buffer);
}

ISerialize* cObjectFactory::Deserialize(cSerializeBuffer& buffer) {
    s_string name;
    if (!name.Deserialize(buffer)) return nullptr;
    ISerialize* obj = CreateObject(name);
    if (!obj) return nullptr;
    if (!obj->Deserialize(buffer)) {
        obj->Release();
        return nullptr;
    }
    return obj;
}

}  // namespace kora
