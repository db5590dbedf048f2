// Item classes on the field engine.
//
// A table-driven item class derives from cDBRecord<Self>, names its identity
// in kInfo and lists its fields in Fields(), next to the members:
//
//     class cDBConfigSSH : public cDBRecord<cDBConfigSSH> {
//       public:
//         static constexpr ItemInfo kInfo = {...};
//         ...accessors...
//       private:
//         kora::s_bool m_Enabled;
//       public:
//         static const Table<cDBConfigSSH>& Fields() {
//             static const Table<cDBConfigSSH> t{{Field(&cDBConfigSSH::m_Enabled, "Enabled")}};
//             return t;
//         }
//     };
//
// cDBRecord gives the binary form (version, name, directory, rows by stored
// version), the JSON document, SetDefault and the validating setters. What a
// class does that its rows cannot say is a short override of a named hook.
//
// The item headers note beside each checked numeric setter what it accepts
// ("576..1500 bytes"); "code 1..5" marks a number whose meaning belongs to
// the services that apply the configuration: the item only bounds it.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>

#include "tessel/fields.h"
#include "tessel/item.h"

namespace tessel {

// The stored versions a class reads, as a bit per version.
constexpr uint32_t VersionsFrom(unsigned oldest, unsigned newest) {
    uint32_t mask = 0;
    for (unsigned v = oldest; v <= newest && v < 32; ++v) mask |= 1u << v;
    return mask;
}
constexpr uint32_t Versions(std::initializer_list<unsigned> versions) {
    uint32_t mask = 0;
    for (unsigned v : versions)
        if (v < 32) mask |= 1u << v;
    return mask;
}

// Identity of an item class: names, versions and where a default item lives.
struct TESSEL_API ItemInfo {
    const char* className;    // TypeName(), the binary factory key
    const char* type;         // GetType(), the JSON type name
    const char* accessClass;  // GetAccessClass()
    unsigned version;         // current binary version
    uint32_t accepted;        // stored versions Deserialize reads (Versions...)
    const char* defaultName;
    const char* defaultDir;
};

// An item class whose identity (type names, access class, version) comes from
// Derived::kInfo. Hand-written classes derive from it directly.
template <class Derived>
class cDBItemOf : public cDBItem {
  public:
    using cDBItem::Deserialize;
    using cDBItem::Serialize;
    using cDBItem::ToJSON;
    unsigned Version() const override { return Derived::kInfo.version; }
    std::string TypeName() const override { return Derived::kInfo.className; }
    kora::s_string GetType() const override { return Derived::kInfo.type; }
    kora::s_string GetAccessClass() const override { return Derived::kInfo.accessClass; }
    static bool AcceptsVersion(unsigned version) {
        return version < 32 && (Derived::kInfo.accepted >> version & 1u) != 0;
    }

  protected:
    // Name and directory left empty, not normalised.
    cDBItemOf() = default;
    // The default name and directory of kInfo, normalised.
    explicit cDBItemOf(bool) : cDBItem(Derived::kInfo.defaultName, Derived::kInfo.defaultDir) {}
    cDBItemOf(const cDBItemOf&) = default;
    cDBItemOf& operator=(const cDBItemOf&) = default;
};

// Base of every table-driven item class. Derived provides
//   static constexpr ItemInfo kInfo
//   static const Table<Derived>& Fields()
//   std::string ToString(const std::string&) const
// and calls SetDefault() in its constructor.
template <class Derived>
class cDBRecord : public cDBItemOf<Derived> {
  public:
    static constexpr size_t kEngineBaseSize = sizeof(cDBItem);

    using cDBItem::Deserialize;
    using cDBItem::Serialize;
    using cDBItem::ToJSON;

    const cRecordTable* FieldTable() const override { return &Derived::Fields(); }

    // Puts every field (not name and directory) to its default.
    void SetDefault() { Derived::Fields().Reset(*this); }

    bool Serialize(kora::cSerializeBuffer& b) const override {
        this->SerializeVersion(b);
        this->WriteHeader(b);
        Derived::Fields().Write(*this, b);
        return true;
    }

    int Deserialize(kora::cSerializeBuffer& b) override {
        unsigned version = this->DeserializeVersion(b);
        ResetForRead();
        if (!this->AcceptsVersion(version)) return 0;
        if (!this->ReadNameAndDir(b)) return 0;
        if (!Derived::Fields().Read(*this, b, version)) return 0;
        AfterRead(version);
        return 1;
    }

    bool ToJSON(Json::Value& root, bool mask) override {
        this->WriteEnvelope(root);
        Json::Value data(Json::objectValue);
        Derived::Fields().ToJson(*this, data, mask);
        root["Data"] = data;
        return true;
    }

    bool FromJSON(const kora::s_string& text, std::set<std::string>& rejected) override {
        SetDefault();
        Json::Value root;
        if (!this->ReadEnvelope(text, root, "Data")) return false;
        return DataFromJSON(root["Data"], rejected);
    }

  protected:
    cDBRecord() : cDBItemOf<Derived>(true) {}
    cDBRecord(const cDBRecord&) = default;
    cDBRecord& operator=(const cDBRecord&) = default;

    // ---- hooks a class overrides where it is irregular ----

    // What a read resets before the version is looked at: every field, those
    // that SetDefault leaves alone included, so that a field an older layout
    // lacks reads as its default whatever the item held before.
    virtual void ResetForRead() { Derived::Fields().Reset(*this, true); }
    // Fix-ups after a successful read that no row flag says.
    virtual void AfterRead(unsigned /*version*/) {}
    // The "Data" object: by default the table's read.
    virtual bool DataFromJSON(const Json::Value& data, std::set<std::string>& rejected) {
        return Derived::Fields().FromJson(*this, data, rejected);
    }

    // ---- helpers for accessors ----

    // The validating setter of one field: stores the value only if the
    // member's row accepts it.
    template <class M, class V>
    bool Set(M& member, const V& value) {
        const cFieldRow<M>* row = Derived::Fields().FieldOf(*this, member);
        return row && row->Set(*this, typename cFieldRow<M>::Wide(value));
    }
    // Adds (or replaces) one element of a list that passes its checks.
    template <class Container, class E>
    bool Add(Container& list, const E& element) {
        const cListRow<Container, E>* row = ListOf<E>(list);
        return row && row->Add(*this, element);
    }
    // Replaces a whole list when every element passes.
    template <class E, class Container>
    bool ReplaceList(Container& list, const Container& elements) {
        const cListRow<Container, E>* row = ListOf<E>(list);
        return row && row->Replace(*this, elements);
    }
    template <class E, class Container>
    const cListRow<Container, E>* ListOf(const Container& list) const {
        const cListRow<Container, E>* found = nullptr;
        Derived::Fields().ForEachRow([&](const cRow& row) {
            auto* l = dynamic_cast<const cListRow<Container, E>*>(&row);
            if (!found && l && l->IsMember(*this, &list)) found = l;
        });
        return found;
    }
    // The row of `key` as its own type (composites such as port ranges).
    template <class Row>
    static const Row& RowOf(const char* key) {
        return dynamic_cast<const Row&>(*Derived::Fields().Find(key));
    }
};

}  // namespace tessel
