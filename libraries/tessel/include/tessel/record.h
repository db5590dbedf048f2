// The declarative field engine behind every regular item class.
//
// A class declares each of its fields once, as a row of its field table:
//
//     Field(&cDBConfigEmail::m_TcpPort, "TcpPort", 465).Since(2).Range(1, 65535)
//
// A row holds the JSON key, the kora type (from the member), the default, the
// first binary version that carries the field, the check, and the optional and
// masked flags. cDBRecord walks the rows for the binary form (write, and read
// by stored version), the JSON "Data" object (write with masking, and the
// check-all-then-assign reading with optional groups), SetDefault and the
// validating setters. What a class does that the rows cannot say is written
// in the class as an override of one of the named hooks below.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "kora/types.h"
#include "tessel/checks.h"
#include "tessel/item.h"

namespace tessel {

// ---- How each kora type maps to JSON and to the wide value its setter takes ----

template <class M, class Enable = void>
struct FieldTraits;

template <class T>
struct FieldTraits<kora::s_basic_int<T>> {
    using Wide = typename std::conditional<std::is_signed<T>::value, int64_t, uint64_t>::type;
    static constexpr unsigned kKind = std::is_signed<T>::value
                                          ? (sizeof(T) == 8 ? kJsonInt64 : kJsonInt)
                                          : (sizeof(T) == 8 ? kJsonUInt64 : kJsonUInt);
    static Wide FromJson(const Json::Value& v) {
        if (std::is_signed<T>::value) return static_cast<Wide>(v.asInt64());
        return static_cast<Wide>(v.asUInt64());
    }
    static bool Parse(const Json::Value& v, Wide& out) {
        out = FromJson(v);
        return true;
    }
    static Json::Value ToJson(const kora::s_basic_int<T>& m) {
        if (std::is_signed<T>::value) {
            return sizeof(T) == 8 ? Json::Value(static_cast<Json::Int64>(m.Value()))
                                  : Json::Value(static_cast<Json::Int>(m.Value()));
        }
        return sizeof(T) == 8 ? Json::Value(static_cast<Json::UInt64>(m.Value()))
                              : Json::Value(static_cast<Json::UInt>(m.Value()));
    }
    // The value must fit the field's width before it is narrowed.
    static bool Fits(const Wide& w) {
        return w >= static_cast<Wide>(std::numeric_limits<T>::min()) &&
               w <= static_cast<Wide>(std::numeric_limits<T>::max());
    }
    static void Store(kora::s_basic_int<T>& m, const Wide& w) { m = static_cast<T>(w); }
};

template <>
struct FieldTraits<kora::s_bool> {
    using Wide = bool;
    static constexpr unsigned kKind = kJsonBool;
    static bool Parse(const Json::Value& v, Wide& out) {
        out = v.asBool();
        return true;
    }
    static Json::Value ToJson(const kora::s_bool& m) { return Json::Value(m.Value()); }
    static bool Fits(const Wide&) { return true; }
    static void Store(kora::s_bool& m, const Wide& w) { m = w; }
};

template <>
struct FieldTraits<kora::s_string> {
    using Wide = std::string;
    static constexpr unsigned kKind = kJsonString;
    static bool Parse(const Json::Value& v, Wide& out) {
        out = v.asString();
        return true;
    }
    static Json::Value ToJson(const kora::s_string& m) { return Json::Value(std::string(m)); }
    static bool Fits(const Wide&) { return true; }
    static void Store(kora::s_string& m, const Wide& w) { m = w; }
};

// Addresses are dotted-quad text in JSON; text that does not parse is refused.
template <>
struct FieldTraits<kora::s_socket_addr> {
    using Wide = kora::s_socket_addr;
    static constexpr unsigned kKind = kJsonString;
    static bool Parse(const Json::Value& v, Wide& out) {
        return out.InitFromString(v.asString(), 0);
    }
    static Json::Value ToJson(const kora::s_socket_addr& m) { return Json::Value(m.GetIPString()); }
    static bool Fits(const Wide&) { return true; }
    static void Store(kora::s_socket_addr& m, const Wide& w) { m = w; }
};

// Times are whole seconds in JSON.
template <>
struct FieldTraits<kora::cTime> {
    using Wide = int64_t;
    static constexpr unsigned kKind = kJsonInt64;
    static bool Parse(const Json::Value& v, Wide& out) {
        out = v.asInt64();
        return true;
    }
    static Json::Value ToJson(const kora::cTime& m) {
        return Json::Value(static_cast<Json::Int64>(m.ToSeconds()));
    }
    static bool Fits(const Wide&) { return true; }
    static void Store(kora::cTime& m, const Wide& w) { m.FromSeconds(w); }
};

// ---- Rows ----

// What the engine can do with one field of an Owner, whatever its type.
template <class Owner>
class FieldOps {
  public:
    virtual ~FieldOps() = default;
    virtual void Write(const Owner& o, kora::cSerializeBuffer& b) const = 0;
    virtual bool Read(Owner& o, kora::cSerializeBuffer& b) const = 0;
    virtual void Reset(Owner& o) const = 0;
    virtual Json::Value ToJson(const Owner& o, bool mask) const = 0;
    virtual unsigned Kind() const = 0;
    // Validates a JSON value that already passed the kind check and stores it;
    // false when the value is refused (the field is then unchanged).
    virtual bool FromJson(Owner& o, const Json::Value& v) const = 0;
    virtual const void* Address(const Owner& o) const = 0;
};

enum : int { kRequired = 0, kOwnGroup = -1 };

// One row of a field table: the key and flags, and the type-aware operations.
template <class Owner>
struct FieldRow {
    const char* key = "";
    unsigned since = 1;
    int group = kRequired;  // 0 required; > 0 an optional group; kOwnGroup optional alone
    bool masked = false;
    std::shared_ptr<FieldOps<Owner>> ops;
};

template <class Owner>
using FieldTable = std::vector<FieldRow<Owner>>;

// A row for a member of a kora type: check, default and JSON form come from
// the type's traits and the row's own settings.
template <class Owner, class M>
class TypedOps final : public FieldOps<Owner> {
  public:
    using Traits = FieldTraits<M>;
    using Wide = typename Traits::Wide;

    TypedOps(M Owner::*member, Wide def) : m_member(member), m_default(std::move(def)) {}

    void Write(const Owner& o, kora::cSerializeBuffer& b) const override {
        (o.*m_member).Serialize(b);
    }
    bool Read(Owner& o, kora::cSerializeBuffer& b) const override {
        return (o.*m_member).Deserialize(b) != 0;
    }
    void Reset(Owner& o) const override { Traits::Store(o.*m_member, m_default); }
    Json::Value ToJson(const Owner& o, bool mask) const override {
        Json::Value v = Traits::ToJson(o.*m_member);
        if (mask && m_masked && v.isString()) v = ObfuscateString(v.asString());
        return v;
    }
    unsigned Kind() const override { return Traits::kKind; }
    bool FromJson(Owner& o, const Json::Value& v) const override {
        Wide w{};
        return Traits::Parse(v, w) && Set(o, w);
    }
    const void* Address(const Owner& o) const override { return &(o.*m_member); }

    // The setter path: stores `w` only if it passes every check.
    bool Accepts(const Wide& w) const {
        if (!Traits::Fits(w)) return false;
        if (m_hasRange && (w < m_lo || w > m_hi)) return false;
        return !m_check || m_check(w);
    }
    bool Set(Owner& o, const Wide& w) const {
        if (!Accepts(w)) return false;
        Traits::Store(o.*m_member, w);
        return true;
    }

    bool m_masked = false;
    bool m_hasRange = false;
    Wide m_lo{}, m_hi{};
    std::function<bool(const Wide&)> m_check;

  private:
    M Owner::*m_member;
    Wide m_default;
};

// Fluent builder of one typed row; converts into a FieldRow.
template <class Owner, class M>
class FieldBuilder {
  public:
    using Wide = typename FieldTraits<M>::Wide;
    FieldBuilder(M Owner::*member, const char* key, Wide def)
        : m_ops(std::make_shared<TypedOps<Owner, M>>(member, std::move(def))) {
        m_row.key = key;
    }
    // First binary version that carries the field.
    FieldBuilder& Since(unsigned version) {
        m_row.since = version;
        return *this;
    }
    // Accepted closed range (numbers).
    FieldBuilder& Range(Wide lo, Wide hi) {
        m_ops->m_hasRange = true;
        m_ops->m_lo = lo;
        m_ops->m_hi = hi;
        return *this;
    }
    // A named check, e.g. CheckHostname.
    template <class Fn>
    FieldBuilder& Check(Fn fn) {
        m_ops->m_check = fn;
        return *this;
    }
    // Optional in JSON: missing or mistyped keeps the default without error.
    // Fields sharing a group number are skipped or read together.
    FieldBuilder& Optional(int group = kOwnGroup) {
        m_row.group = group;
        return *this;
    }
    // A secret: written as ObfuscateString of its value when JSON is masked.
    FieldBuilder& Masked() {
        m_row.masked = true;
        m_ops->m_masked = true;
        return *this;
    }
    operator FieldRow<Owner>() const {  // NOLINT: rows are written as builders
        FieldRow<Owner> row = m_row;
        row.ops = m_ops;
        return row;
    }

  private:
    FieldRow<Owner> m_row;
    std::shared_ptr<TypedOps<Owner, M>> m_ops;
};

template <class Owner, class M, class D>
FieldBuilder<Owner, M> Field(M Owner::*member, const char* key, D def) {
    return FieldBuilder<Owner, M>(member, key, typename FieldTraits<M>::Wide(def));
}

// A row whose operations a class writes itself (lists, maps, derived layouts),
// still declared in table order so that the binary form and JSON walk it.
template <class Owner>
struct HookOps final : FieldOps<Owner> {
    std::function<void(const Owner&, kora::cSerializeBuffer&)> write;
    std::function<bool(Owner&, kora::cSerializeBuffer&)> read;
    std::function<void(Owner&)> reset;
    std::function<Json::Value(const Owner&, bool)> toJson;
    std::function<bool(Owner&, const Json::Value&)> fromJson;
    unsigned kind = kJsonAny;

    void Write(const Owner& o, kora::cSerializeBuffer& b) const override { write(o, b); }
    bool Read(Owner& o, kora::cSerializeBuffer& b) const override { return read(o, b); }
    void Reset(Owner& o) const override { reset(o); }
    Json::Value ToJson(const Owner& o, bool mask) const override { return toJson(o, mask); }
    unsigned Kind() const override { return kind; }
    bool FromJson(Owner& o, const Json::Value& v) const override { return fromJson(o, v); }
    const void* Address(const Owner&) const override { return nullptr; }
};

// ---- The engine ----

// Identity of an item class: names, versions and where a default item lives.
struct ItemInfo {
    const char* className;    // TypeName(), the binary factory key
    const char* type;         // GetType(), the JSON type name
    const char* accessClass;  // GetAccessClass()
    unsigned version;         // current binary version
    unsigned oldestVersion;   // oldest binary version Deserialize accepts
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
//   static const FieldTable<Derived>& Fields()
//   std::string ToString(const std::string&) const
// and calls SetDefault() in its constructor.
template <class Derived>
class cDBRecord : public cDBItemOf<Derived> {
  public:
    using cDBItem::CheckMember;
    using cDBItem::Deserialize;
    using cDBItem::DeserializeVersion;
    using cDBItem::Serialize;
    using cDBItem::SerializeVersion;
    using cDBItem::ToJSON;

  protected:
    using cDBItem::ReadEnvelope;
    using cDBItem::ReadNameAndDir;
    using cDBItem::WriteEnvelope;
    using cDBItem::WriteHeader;

  public:
    // Puts every field (not name and directory) to its default.
    void SetDefault() {
        for (const auto& row : Derived::Fields()) row.ops->Reset(self());
    }

    bool Serialize(kora::cSerializeBuffer& b) const override {
        SerializeVersion(b);
        WriteHeader(b);
        WriteFields(b);
        return true;
    }

    int Deserialize(kora::cSerializeBuffer& b) override {
        unsigned version = DeserializeVersion(b);
        ResetForRead();
        if (!AcceptsVersion(version)) return 0;
        if (!ReadNameAndDir(b)) return 0;
        return ReadFields(b, version) ? 1 : 0;
    }

    bool ToJSON(Json::Value& root, bool mask) override {
        WriteEnvelope(root);
        Json::Value data(Json::objectValue);
        DataToJSON(data, mask);
        root["Data"] = data;
        return true;
    }

    bool FromJSON(const kora::s_string& text, std::set<std::string>& rejected) override {
        SetDefault();
        Json::Value root;
        if (!ReadEnvelope(text, root, "Data")) return false;
        return DataFromJSON(root["Data"], rejected);
    }

  protected:
    cDBRecord() : cDBItemOf<Derived>(true) {}
    cDBRecord(const cDBRecord&) = default;
    cDBRecord& operator=(const cDBRecord&) = default;

    // ---- hooks a class overrides where it is irregular ----

    virtual bool AcceptsVersion(unsigned v) const {
        return v >= Derived::kInfo.oldestVersion && v <= Derived::kInfo.version;
    }
    // What a read resets before the version is looked at.
    virtual void ResetForRead() { SetDefault(); }
    virtual void WriteFields(kora::cSerializeBuffer& b) const {
        for (const auto& row : Derived::Fields()) row.ops->Write(self(), b);
    }
    // Reads the fields an older version holds: by default those whose first
    // version is not later than the stored one, in table order.
    virtual bool ReadFields(kora::cSerializeBuffer& b, unsigned version) {
        for (const auto& row : Derived::Fields())
            if (row.since <= version && !row.ops->Read(self(), b)) return false;
        return true;
    }
    virtual void DataToJSON(Json::Value& data, bool mask) const {
        for (const auto& row : Derived::Fields()) data[row.key] = row.ops->ToJson(self(), mask);
    }
    // Check every required member before assigning any; assign them, noting
    // refused keys; then the optional groups in order while nothing failed:
    // a group with a member missing is skipped, a refused value ends the read.
    virtual bool DataFromJSON(const Json::Value& data, std::set<std::string>& rejected) {
        const FieldTable<Derived>& rows = Derived::Fields();
        bool ok = true;
        for (const auto& row : rows)
            if (row.group == kRequired) CheckMember(row.key, ok, data, row.ops->Kind());
        if (!ok) return false;
        for (const auto& row : rows)
            if (row.group == kRequired) Assign(row, data, ok, rejected);
        std::set<int> done;
        for (size_t i = 0; i < rows.size() && ok; ++i) {
            if (rows[i].group == kRequired || done.count(rows[i].group)) continue;
            std::vector<const FieldRow<Derived>*> group;
            for (size_t j = i; j < rows.size(); ++j)
                if (j == i || (rows[i].group != kOwnGroup && rows[j].group == rows[i].group))
                    group.push_back(&rows[j]);
            if (rows[i].group != kOwnGroup) done.insert(rows[i].group);
            bool present = true;
            for (auto* row : group) CheckMember(row->key, present, data, row->ops->Kind());
            if (!present) continue;
            for (auto* row : group) Assign(*row, data, ok, rejected);
        }
        return ok;
    }

    // ---- helpers for setters and hooks ----

    // The validating setter of one field: finds the member's row and stores
    // the value only if the row's checks accept it.
    template <class M, class V>
    bool Set(M& member, const V& value) {
        using Wide = typename FieldTraits<M>::Wide;
        for (const auto& row : Derived::Fields()) {
            if (row.ops->Address(self()) != &member) continue;
            auto* typed = dynamic_cast<TypedOps<Derived, M>*>(row.ops.get());
            return typed && typed->Set(self(), Wide(value));
        }
        return false;
    }
    static const FieldRow<Derived>* Row(const char* key) {
        for (const auto& row : Derived::Fields())
            if (std::string(row.key) == key) return &row;
        return nullptr;
    }
    void Assign(const FieldRow<Derived>& row, const Json::Value& data, bool& ok,
                std::set<std::string>& rejected) {
        if (!row.ops->FromJson(self(), data[row.key])) {
            ok = false;
            rejected.insert(row.key);
        }
    }

    Derived& self() { return static_cast<Derived&>(*this); }
    const Derived& self() const { return static_cast<const Derived&>(*this); }
};

}  // namespace tessel
