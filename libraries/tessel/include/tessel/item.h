// cDBItem: the base of every record of the configuration and status database.
//
// An item has a name (no "/", at most 30 characters) and a directory (begins
// and ends with "/"); the directory followed by the name is its path. It has a
// versioned binary form (version, name, directory, then its fields), a JSON
// document ({"Name", "Type", "Directory", "Data"}) in which secrets can be
// masked, a SHA-256 hash of its binary form, and names its access class.
#pragma once

#include <json/value.h>

#include <set>
#include <string>

#include "kora/serialize.h"
#include "kora/types.h"
#include "tessel/access.h"
#include "tessel/export.h"
#include "tessel/fields.h"

namespace tessel {

constexpr unsigned kMaxItemNameLength = 30;

class TESSEL_API cDBItem : public kora::ISerialize, public cRecord {
  public:
    cDBItem() = default;
    cDBItem(const std::string& name, const std::string& directory);
    cDBItem(const cDBItem&) = default;
    cDBItem& operator=(const cDBItem& other);
    ~cDBItem() override = default;

    using kora::ISerialize::Deserialize;
    using kora::ISerialize::Serialize;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "cDBItem"; }
    bool Serialize(kora::cSerializeBuffer& buffer) const override = 0;
    int Deserialize(kora::cSerializeBuffer& buffer) override = 0;
    std::string ToString(const std::string& prefix) const override = 0;

    // The JSON type name, e.g. "SSHConfigObject".
    virtual kora::s_string GetType() const = 0;
    virtual kora::s_string GetAccessClass() const = 0;
    // Display entries; the default has none and leaves the map alone.
    virtual bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info);
    virtual bool ToJSON(Json::Value& root, bool mask) = 0;
    // Loads the item from a JSON document; refused values' keys go into `rejected`.
    virtual bool FromJSON(const kora::s_string& text, std::set<std::string>& rejected) = 0;
    virtual bool HasLinks() { return false; }
    virtual void GetLinks(std::set<std::string>& paths);
    virtual bool HasKey() { return false; }
    virtual std::string GetKey() { return ""; }
    virtual unsigned GetRank() { return 0; }

    // Drops every "/" and cuts the name to 30 characters.
    void SetName(const std::string& name);
    // Adds a leading and a trailing "/" where missing; empty becomes "/".
    void SetDir(const std::string& directory);
    const kora::s_string& GetName() const { return m_name; }
    const kora::s_string& GetDir() const { return m_directory; }
    kora::s_string GetPath() const { return m_directory + m_name; }

    bool CheckType(const std::string& type) const { return type == GetType(); }
    // Tests that object[key] exists and is of `kind`; on failure clears `ok`
    // and returns false, on success leaves `ok` alone.
    static bool CheckMember(const std::string& key, bool& ok, const Json::Value& object,
                            unsigned kind) {
        return tessel::CheckMember(key, ok, object, kind);
    }
    // The rows of a table-driven class (null for the hand-written ones): what
    // generic tools walk to see its fields, and the order of its JSON text.
    virtual const cRecordTable* FieldTable() const { return nullptr; }

    // Styled JSON text, secrets not masked; members in the order of the
    // class's table.
    bool ToJSON(kora::s_string& text);
    // SHA-256 of the binary form, lower-case hex.
    std::string ToHash() const;
    // A new item equal to this one, made through the binary form, holding its
    // own reference; null when the class is not registered or its form does
    // not read back. CloneOf(item) below gives it typed.
    kora::Ref<cDBItem> Clone() const;
    bool ToJSONFile(const kora::s_string& fileName, const kora::s_string& folder);
    bool FromJSONFile(const kora::s_string& fileName, const kora::s_string& folder);

  protected:
    // JSON envelope helpers shared by every item class.
    // Parses `text`, checks "Type" against GetType() and that "Name" and
    // "Directory" are strings; `data` names the member that must be present
    // ("Data", or null for none). Sets name and directory on success.
    bool ReadEnvelope(const std::string& text, Json::Value& root, const char* data);
    void WriteEnvelope(Json::Value& root);
    // Writes and reads the leading name and directory of the binary form.
    void WriteHeader(kora::cSerializeBuffer& buffer) const;
    bool ReadNameAndDir(kora::cSerializeBuffer& buffer);

    // Direct access for classes whose stored form keeps the raw text (listings).
    kora::s_string m_name;
    kora::s_string m_directory;
};

// A copy of `item` through its binary form, typed as its class (see Clone()).
template <class T>
kora::Ref<T> CloneOf(const T& item) {
    kora::Ref<cDBItem> copy = item.Clone();
    T* typed = dynamic_cast<T*>(copy.get());
    return typed ? kora::Ref<T>::Share(typed) : kora::Ref<T>();
}

// Parses JSON text without comments into `root`; false on any syntax error.
TESSEL_API bool ParseJson(const std::string& text, Json::Value& root);
// Styled (indented, one member per line) text of a JSON value; objects list
// their members in the order `shape` gives (the rest sorted after them), and
// item documents, wherever they stand, in the order of their class's table.
TESSEL_API std::string StyledJson(const Json::Value& value, const JsonShape* shape = nullptr);

}  // namespace tessel
