// The object factory: recreates serialized objects by their type name.
#pragma once

#include <string>
#include <vector>

#include "kora/export.h"
#include "kora/serialize.h"

namespace kora {

// Creates new, default-constructed objects of one class.
class KORA_API IRegisterObject {
  public:
    virtual ~IRegisterObject() = default;
    // A new object holding one reference (the caller's), or null.
    virtual ISerialize* CreateObject() = 0;
};

class KORA_API cObjectFactory {
  public:
    // Registers (or replaces) the creator for a type name. The creator is not owned.
    static void RegisterObject(const std::string& typeName, IRegisterObject* creator);
    // A new object of that type holding one reference, or null when the name is unknown.
    static ISerialize* CreateObject(const std::string& typeName);
    static bool IsRegistered(const std::string& typeName);
    // Every registered type name, in registration order.
    static std::vector<std::string> RegisteredTypes();

    // Writes the object's type name followed by its own binary form.
    static bool Serialize(const ISerialize& obj, cSerializeBuffer& buffer);
    // Reads what Serialize wrote and returns the recreated object with one
    // reference, or null for an unknown type or a damaged buffer.
    static ISerialize* Deserialize(cSerializeBuffer& buffer);
};

// Registers T under T().TypeName() when constructed, typically as a static object.
template <class T>
class RegisterObject : public IRegisterObject {
  public:
    RegisterObject() {
        T probe;
        cObjectFactory::RegisterObject(probe.TypeName(), this);
    }
    ISerialize* CreateObject() override { return New<T>(); }
};

}  // namespace kora
