#include "tessel/jsonfactory.h"

#include <map>

namespace tessel {

namespace {
struct JsonRegistry {
    std::map<std::string, IJsonObject*> creators;
    std::vector<std::string> order;
};
// Created on the first registration (during static initialisation) and never
// freed; afterwards only read, so it needs no lock.
JsonRegistry*& registry() {
    static JsonRegistry* r = nullptr;
    return r;
}
}  // namespace

void cJsonFactory::RegisterJson(const std::string& type, IJsonObject* creator) {
    JsonRegistry*& r = registry();
    if (!r) r = new JsonRegistry;
    if (!r->creators.count(type)) r->order.push_back(type);
    r->creators[type] = creator;
}

cDBItem* cJsonFactory::CreateObject(const std::string& type) {
    JsonRegistry* r = registry();
    if (!r) return nullptr;
    auto it = r->creators.find(type);
    return it == r->creators.end() ? nullptr : it->second->CreateObject();
}

cDBItem* cJsonFactory::CreateObjectFromJSON(const std::string& text,
                                            std::set<std::string>& rejected) {
    Json::Value root;
    if (!ParseJson(text, root) || !root.isObject() || !root.isMember("Type")) return nullptr;
    const Json::Value& type = root["Type"];
    if (!type.isString()) return nullptr;
    JsonRegistry* r = registry();
    if (!r) return nullptr;
    auto it = r->creators.find(type.asString());
    if (it == r->creators.end()) return nullptr;
    return it->second->CreateObjectFromJSON(text, rejected);
}

std::vector<std::string> cJsonFactory::RegisteredTypes() {
    JsonRegistry* r = registry();
    return r ? r->order : std::vector<std::string>();
}

}  // namespace tessel
