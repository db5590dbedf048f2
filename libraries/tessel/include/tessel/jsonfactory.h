// The JSON factory: creates items from JSON documents by their "Type".
#pragma once

#include <set>
#include <string>
#include <vector>

#include "tessel/export.h"
#include "tessel/item.h"

namespace tessel {

// Creator of one item class. Creators are static objects, never deleted.
class TESSEL_API IJsonObject {
  public:
    virtual cDBItem* CreateObjectFromJSON(const std::string& text,
                                          std::set<std::string>& rejected) = 0;
    virtual cDBItem* CreateObject() = 0;

  protected:
    ~IJsonObject() = default;
};

template <class T>
class TESSEL_API JsonObject : public IJsonObject {
  public:
    // A default item holding one reference, or null.
    cDBItem* CreateObject() override { return kora::New<T>(); }
    // An item loaded from `text` holding one reference, or null when the
    // document is refused (the refused keys are in `rejected`).
    cDBItem* CreateObjectFromJSON(const std::string& text,
                                  std::set<std::string>& rejected) override {
        T* item = kora::New<T>();
        if (!item) return nullptr;
        if (item->FromJSON(text, rejected)) return item;
        item->Release();
        return nullptr;
    }
};

class TESSEL_API cJsonFactory {
  public:
    static void RegisterJson(const std::string& type, IJsonObject* creator);
    // A new default item of that type, or null for an unknown type.
    static cDBItem* CreateObject(const std::string& type);
    // A new item from a whole document, or null (see JsonObject).
    static cDBItem* CreateObjectFromJSON(const std::string& text, std::set<std::string>& rejected);
    // Registered type names, in registration order.
    static std::vector<std::string> RegisteredTypes();
};

}  // namespace tessel
