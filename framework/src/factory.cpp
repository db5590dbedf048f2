#include "kora/factory.h"

#include <map>
#include <mutex>

#include "kora/types.h"

namespace kora {

namespace {
struct FactoryRegistry {
    std::mutex lock;
    std::map<std::string, IRegisterObject*> creators;
    std::vector<std::string> order;
};
FactoryRegistry& factory() {
    static FactoryRegistry* r = new FactoryRegistry;  // lives until the process ends
    return *r;
}
}  // namespace

void cObjectFactory::RegisterObject(const std::string& typeName, IRegisterObject* creator) {
    FactoryRegistry& f = factory();
    std::lock_guard<std::mutex> g(f.lock);
    if (f.creators.find(typeName) == f.creators.end()) f.order.push_back(typeName);
    f.creators[typeName] = creator;
}

ISerialize* cObjectFactory::CreateObject(const std::string& typeName) {
    IRegisterObject* creator = nullptr;
    {
        FactoryRegistry& f = factory();
        std::lock_guard<std::mutex> g(f.lock);
        auto it = f.creators.find(typeName);
        if (it == f.creators.end()) return nullptr;
        creator = it->second;
    }
    return creator->CreateObject();
}

bool cObjectFactory::IsRegistered(const std::string& typeName) {
    FactoryRegistry& f = factory();
    std::lock_guard<std::mutex> g(f.lock);
    return f.creators.count(typeName) != 0;
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
