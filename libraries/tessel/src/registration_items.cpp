// Registration of every item class with the object factory (by class name)
// and then with the JSON factory (by JSON type name), in catalogue order.
// Keeping both lists in this one unit fixes their order at load.
#include "kora/factory.h"
#include "tessel/items_device.h"
#include "tessel/jsonfactory.h"
#include "tessel/registration.h"

namespace tessel {

namespace {

std::vector<std::string>& itemClasses() {
    static std::vector<std::string> names;
    return names;
}

template <class T>
struct ItemRegistration : kora::RegisterObject<T> {
    ItemRegistration() { itemClasses().push_back(T::kInfo.className); }
};

template <class T>
struct JsonRegistration : JsonObject<T> {
    JsonRegistration() { cJsonFactory::RegisterJson(T::kInfo.type, this); }
};

}  // namespace

// Object factory, in catalogue order.
ItemRegistration<cDBConfigWebInterface> r_cDBConfigWebInterface;
ItemRegistration<cDBConfigSNMP> r_cDBConfigSNMP;
ItemRegistration<cDBConfigSSH> r_cDBConfigSSH;
ItemRegistration<cDBConfigSnapshot> r_cDBConfigSnapshot;
ItemRegistration<cDBConfigEmail> r_cDBConfigEmail;
ItemRegistration<cDBConfigNTP> r_cDBConfigNTP;
ItemRegistration<cDBConfigAccess> r_cDBConfigAccess;
ItemRegistration<cDBConfigTacacs> r_cDBConfigTacacs;
ItemRegistration<cDBConfigRadius> r_cDBConfigRadius;

// JSON factory, after all of the above.
JsonRegistration<cDBConfigWebInterface> j_cDBConfigWebInterface;
JsonRegistration<cDBConfigSNMP> j_cDBConfigSNMP;
JsonRegistration<cDBConfigSSH> j_cDBConfigSSH;
JsonRegistration<cDBConfigSnapshot> j_cDBConfigSnapshot;
JsonRegistration<cDBConfigEmail> j_cDBConfigEmail;
JsonRegistration<cDBConfigNTP> j_cDBConfigNTP;
JsonRegistration<cDBConfigAccess> j_cDBConfigAccess;
JsonRegistration<cDBConfigTacacs> j_cDBConfigTacacs;
JsonRegistration<cDBConfigRadius> j_cDBConfigRadius;

const std::vector<std::string>& RegisteredItemClasses() {
    return itemClasses();
}

}  // namespace tessel
