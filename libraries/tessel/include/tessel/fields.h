// The field engine: one table of rows per record, read by every form.
//
// A record (an item, a protocol payload, the log entry, or a plain sub-record
// kept in a list such as a DHCP lease) declares each of its fields once, as a
// row of its table:
//
//     Field(&C::m_TcpPort, "TcpPort", 465).Since(2).Range(1, 65535)
//
// A row holds the JSON key, the kora type (from the member), the default, the
// first binary version that carries the field, its checks and its flags.
// cRecordTable walks the rows for the binary form (write, and read by stored
// version), the JSON "Data" object (write with masking; read by the
// check-all-then-assign rule with optional groups), the defaults, the
// validating setters and the order of the JSON text. Besides plain fields a
// table holds:
//   List(...)      a set or map, one element per entry, each element a record
//                  with a table of its own;
//   Object(...)    several members under one JSON key as a nested object;
//   PortRange(...) a low and a high port under one "low:high" text;
//   Derived(...)   a member of the JSON output computed from others;
//   Across(...)    a check over several fields, at its place in the read;
// and a record's stored layouts that are not "its rows up to that version, in
// order" are spelled out with Stored(version, {keys and steps}).
#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "kora/types.h"
#include "tessel/checks.h"
#include "tessel/export.h"

namespace tessel {

// Everything the engine walks derives from cRecord. It holds nothing; it is
// the one base through which a row reaches its member in any record.
class TESSEL_API cRecord {
  public:
    // Bytes of the record's bases that precede its own rows' members.
    static constexpr size_t kEngineBaseSize = 0;
};

// Member kinds that CheckMember tests for.
enum JsonKind : unsigned {
    kJsonAny = 0,
    kJsonString = 1,
    kJsonInt = 2,   // signed, fits in 32 bits
    kJsonUInt = 3,  // unsigned, fits in 32 bits
    kJsonBool = 4,
    kJsonArray = 5,  // an array, or null
    kJsonInt64 = 6,
    kJsonUInt64 = 7,
};

// Tests that object[key] exists and is of `kind`; on failure clears `ok` and
// returns false, on success leaves `ok` alone.
TESSEL_API bool CheckMember(const std::string& key, bool& ok, const Json::Value& object,
                            unsigned kind);
// object[key], or null when `object` is not an object or lacks the member.
TESSEL_API const Json::Value& MemberOf(const Json::Value& object, const char* key);

// The state of one JSON read: whether anything was refused or found missing
// so far, and the keys of refused values.
struct TESSEL_API JsonIn {
    bool ok = true;
    std::set<std::string>* rejected = nullptr;
    // Marks the read failed and names `key` (nothing is named for an empty key).
    void Refuse(const char* key);
};

// The order of members in a JSON object and, per member, of its own object
// or array elements; the JSON text is written in this order.
struct TESSEL_API JsonShape {
    std::vector<std::pair<std::string, const JsonShape*>> members;
};

class cRecordTable;

// ---- Rows ----

enum RowFlags : unsigned {
    kRowBinary = 1u << 0,         // part of the binary form
    kRowJsonOut = 1u << 1,        // written to JSON
    kRowJsonIn = 1u << 2,         // read from JSON
    kRowKeepOnDefault = 1u << 3,  // SetDefault leaves it alone
    kRowMayBeMissing = 1u << 4,   // read without a presence check
};

constexpr int kRequired = 0;   // group of the fields every document must hold
constexpr int kOwnGroup = -1;  // an optional field that forms a group of its own

// One row: a field, a list, a composite or a JSON-only step. Rows are built
// once per table and never change afterwards.
class TESSEL_API cRow {
  public:
    virtual ~cRow() = default;

    const char* key = "";
    unsigned since = 1;  // first stored version that carries the row
    int group = kRequired;
    unsigned flags = kRowBinary | kRowJsonOut | kRowJsonIn;
    unsigned kind = kJsonAny;  // JSON kind its value must have
    // The JSON read takes the row only when this holds (after earlier rows).
    std::function<bool(const cRecord&)> when;

    bool Has(unsigned flag) const { return (flags & flag) != 0; }

    // Binary form. Read returns false when the bytes are missing or damaged.
    virtual void Write(const cRecord&, kora::cSerializeBuffer&) const {}
    virtual bool Read(cRecord&, kora::cSerializeBuffer&, unsigned /*version*/) const {
        return true;
    }
    // Fewest bytes the row takes on the wire (bounds element counts).
    virtual unsigned MinWireSize() const { return 0; }
    // Defaults, and what a binary read fixes up afterwards.
    virtual void Reset(cRecord&, bool /*all*/) const {}
    virtual void AfterRead(cRecord&) const {}
    // JSON form of the row's value.
    virtual Json::Value ToJson(const cRecord&, bool /*mask*/) const { return Json::Value(); }
    // Checks what lies below the row's own JSON value (members of a nested
    // object, elements of a list) for presence and kind. A row without a key
    // is given the enclosing object: it reads members beside its own rows'.
    virtual void CheckBelow(const Json::Value&, bool& /*ok*/) const {}
    virtual bool IsList() const { return false; }
    // Takes the row's value from JSON, refusing it in `in` when it fails.
    virtual void FromJson(cRecord&, const Json::Value&, JsonIn&) const {}
    // Whether the value held now passes the row's checks.
    virtual bool Valid(const cRecord&) const { return true; }
    // Rows this one is made of (composites), searched by key for layouts and setters.
    virtual const std::vector<std::shared_ptr<cRow>>* Parts() const { return nullptr; }
    // Shape of the row's own JSON value, when it is an object or a list of objects.
    virtual const JsonShape* Shape() const { return nullptr; }
    // Address and size of each member the row covers in the binary form.
    virtual void Members(const cRecord&, std::vector<std::pair<const void*, size_t>>&) const {}
};

using RowPtr = std::shared_ptr<cRow>;

// ---- How each member type travels ----

// Binary form: the member's own wire form. Scalars can also be read
// leniently: their version record is read, and the value only when that
// version is 1 (another version leaves the value and the rest of the bytes).
template <class M>
struct BinaryTraits {
    static void Write(const M& m, kora::cSerializeBuffer& b) { m.Serialize(b); }
    static bool Read(M& m, kora::cSerializeBuffer& b) { return m.Deserialize(b) != 0; }
    static bool ReadLenient(M& m, kora::cSerializeBuffer& b) { return Read(m, b); }
};

TESSEL_API bool ReadScalarIfVersion1(kora::cSerializeBuffer& b, void* bytes, unsigned size,
                                     bool& read);

template <class T>
struct BinaryTraits<kora::s_basic_int<T>> {
    using M = kora::s_basic_int<T>;
    static void Write(const M& m, kora::cSerializeBuffer& b) { m.Serialize(b); }
    static bool Read(M& m, kora::cSerializeBuffer& b) { return m.Deserialize(b) != 0; }
    static bool ReadLenient(M& m, kora::cSerializeBuffer& b) {
        uint8_t bytes[sizeof(T)];
        bool read = false;
        if (!ReadScalarIfVersion1(b, bytes, sizeof(T), read)) return false;
        if (!read) return true;
        using U = typename std::make_unsigned<T>::type;
        U u = 0;
        for (size_t i = 0; i < sizeof(T); ++i) u |= static_cast<U>(U(bytes[i]) << (8 * i));
        m = static_cast<T>(u);
        return true;
    }
};

template <>
struct BinaryTraits<kora::s_bool> {
    static void Write(const kora::s_bool& m, kora::cSerializeBuffer& b) { m.Serialize(b); }
    static bool Read(kora::s_bool& m, kora::cSerializeBuffer& b) { return m.Deserialize(b) != 0; }
    static bool ReadLenient(kora::s_bool& m, kora::cSerializeBuffer& b) {
        uint8_t byte = 0;
        bool read = false;
        if (!ReadScalarIfVersion1(b, &byte, 1, read)) return false;
        if (read) m = byte != 0;
        return true;
    }
};

// JSON form and setter value. Wide is what a setter takes and a check sees;
// Parse turns a JSON value into it (false when it cannot), Fits tells whether
// a Wide value fits the member, Load and Store move it in and out.
template <class M, class Enable = void>
struct FieldTraits {
    // Members without a JSON form (binary only).
    using Wide = M;
    static constexpr unsigned kKind = kJsonAny;
    static constexpr bool kJson = false;
    static bool Parse(const Json::Value&, Wide&, bool) { return false; }
    static Json::Value ToJson(const M&) { return Json::Value(); }
    static bool Fits(const Wide&) { return true; }
    static Wide Load(const M& m) { return m; }
    static void Store(M& m, const Wide& w) { m = w; }
};

template <class T>
struct FieldTraits<kora::s_basic_int<T>> {
    using Wide = typename std::conditional<std::is_signed<T>::value, int64_t, uint64_t>::type;
    static constexpr bool kJson = true;
    static constexpr unsigned kKind = std::is_signed<T>::value
                                          ? (sizeof(T) == 8 ? kJsonInt64 : kJsonInt)
                                          : (sizeof(T) == 8 ? kJsonUInt64 : kJsonUInt);
    static bool Parse(const Json::Value& v, Wide& out, bool) {
        if (v.isNull()) {
            out = 0;
            return true;
        }
        if (std::is_signed<T>::value ? !v.isInt64() : !v.isUInt64()) return false;
        out = std::is_signed<T>::value ? static_cast<Wide>(v.asInt64())
                                       : static_cast<Wide>(v.asUInt64());
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
    // The value must fit the member's width before it is narrowed.
    static bool Fits(const Wide& w) {
        return w >= static_cast<Wide>(std::numeric_limits<T>::min()) &&
               w <= static_cast<Wide>(std::numeric_limits<T>::max());
    }
    static Wide Load(const kora::s_basic_int<T>& m) { return m.Value(); }
    static void Store(kora::s_basic_int<T>& m, const Wide& w) { m = static_cast<T>(w); }
};

template <>
struct FieldTraits<kora::s_bool> {
    using Wide = bool;
    static constexpr bool kJson = true;
    static constexpr unsigned kKind = kJsonBool;
    static bool Parse(const Json::Value& v, Wide& out, bool) {
        if (!v.isNull() && !v.isBool()) return false;
        out = !v.isNull() && v.asBool();
        return true;
    }
    static Json::Value ToJson(const kora::s_bool& m) { return Json::Value(m.Value()); }
    static bool Fits(const Wide&) { return true; }
    static Wide Load(const kora::s_bool& m) { return m.Value(); }
    static void Store(kora::s_bool& m, const Wide& w) { m = w; }
};

template <>
struct FieldTraits<kora::s_string> {
    using Wide = std::string;
    static constexpr bool kJson = true;
    static constexpr unsigned kKind = kJsonString;
    static bool Parse(const Json::Value& v, Wide& out, bool) {
        if (!v.isNull() && !v.isString()) return false;
        out = v.isNull() ? std::string() : v.asString();
        return true;
    }
    static Json::Value ToJson(const kora::s_string& m) { return Json::Value(std::string(m)); }
    static bool Fits(const Wide&) { return true; }
    static Wide Load(const kora::s_string& m) { return m; }
    static void Store(kora::s_string& m, const Wide& w) { m = w; }
};

// Addresses are dotted-quad text in JSON. A row either refuses text that does
// not parse (`checked`) or takes it as the framework's constructor does (0.0.0.0).
template <>
struct FieldTraits<kora::s_socket_addr> {
    using Wide = kora::s_socket_addr;
    static constexpr bool kJson = true;
    static constexpr unsigned kKind = kJsonString;
    static bool Parse(const Json::Value& v, Wide& out, bool checked) {
        std::string text = v.isString() ? v.asString() : std::string();
        if (!v.isNull() && !v.isString()) return false;
        if (!checked) {
            out = kora::s_socket_addr(text, 0);
            return true;
        }
        return out.InitFromString(text, 0);
    }
    static Json::Value ToJson(const kora::s_socket_addr& m) { return Json::Value(m.GetIPString()); }
    static bool Fits(const Wide&) { return true; }
    static Wide Load(const kora::s_socket_addr& m) { return m; }
    static void Store(kora::s_socket_addr& m, const Wide& w) { m = w; }
};

// Times are whole seconds in JSON.
template <>
struct FieldTraits<kora::cTime> {
    using Wide = int64_t;
    static constexpr bool kJson = true;
    static constexpr unsigned kKind = kJsonUInt;
    static bool Parse(const Json::Value& v, Wide& out, bool) {
        if (!v.isNull() && !v.isInt64()) return false;
        out = v.isNull() ? 0 : v.asInt64();
        return true;
    }
    static Json::Value ToJson(const kora::cTime& m) {
        return Json::Value(static_cast<Json::Int64>(m.ToSeconds()));
    }
    static bool Fits(const Wide&) { return true; }
    static Wide Load(const kora::cTime& m) { return m.ToSeconds(); }
    static void Store(kora::cTime& m, const Wide& w) { m.FromSeconds(w); }
};

// One field: a member of a kora type.
template <class M>
class cFieldRow final : public cRow {
  public:
    using Traits = FieldTraits<M>;
    using Wide = typename Traits::Wide;

    cFieldRow(M cRecord::*member, Wide def) : m_member(member), m_default(std::move(def)) {
        kind = Traits::kKind;
        if (!Traits::kJson) flags &= ~(kRowJsonIn | kRowJsonOut);
        kora::cSerializeBuffer b;
        BinaryTraits<M>::Write(M(), b);
        m_minWire = b.Size();
    }

    M& Of(cRecord& o) const { return o.*m_member; }
    const M& Of(const cRecord& o) const { return o.*m_member; }

    void Write(const cRecord& o, kora::cSerializeBuffer& b) const override {
        BinaryTraits<M>::Write(Of(o), b);
    }
    bool Read(cRecord& o, kora::cSerializeBuffer& b, unsigned version) const override {
        if (version <= lenientUntil) return BinaryTraits<M>::ReadLenient(Of(o), b);
        return BinaryTraits<M>::Read(Of(o), b);
    }
    unsigned MinWireSize() const override { return m_minWire; }
    // Only the row that carries the member in the binary form owns it: JSON
    // aliases neither reset nor fix it up.
    void Reset(cRecord& o, bool all) const override {
        if (Has(kRowBinary) && (all || !Has(kRowKeepOnDefault))) Traits::Store(Of(o), m_default);
    }
    void AfterRead(cRecord& o) const override {
        if constexpr (Traits::kJson) {
            for (const auto& fix : m_readFixes)
                if (Traits::Load(Of(o)) == fix.first) Traits::Store(Of(o), fix.second);
        }
    }
    Json::Value ToJson(const cRecord& o, bool mask) const override {
        Json::Value v = Traits::ToJson(Of(o));
        if (mask && masked && v.isString()) v = ObfuscateString(v.asString());
        return v;
    }
    void FromJson(cRecord& o, const Json::Value& v, JsonIn& in) const override {
        Wide w{};
        if (!Traits::Parse(v, w, parseChecked)) return in.Refuse(key);
        if (wrap) w = Wrap(w);
        if (!Set(o, w)) in.Refuse(key);
    }
    bool Valid(const cRecord& o) const override { return Accepts(Traits::Load(Of(o))); }
    void Members(const cRecord& o,
                 std::vector<std::pair<const void*, size_t>>& out) const override {
        if (Has(kRowBinary)) out.emplace_back(&Of(o), sizeof(M));
    }

    // The setter: stores `w` when every check accepts it. A row that ignores
    // out-of-range values leaves the member and still says yes.
    bool Set(cRecord& o, const Wide& w) const {
        if (!Accepts(w)) return ignoreOutOfRange;
        Traits::Store(Of(o), w);
        return true;
    }
    bool Accepts(const Wide& w) const {
        if constexpr (Traits::kJson) {
            if (!Traits::Fits(w)) return false;
            if (!m_ranges.empty()) {
                bool inside = false;
                for (const auto& r : m_ranges)
                    inside = inside || (!(w < r.first) && !(r.second < w));
                if (!inside) return false;
            }
        }
        return !m_check || m_check(w);
    }
    bool IsMember(const cRecord& o, const void* address) const {
        return Has(kRowBinary) && &Of(o) == address;
    }

    // A value taken modulo the member's width (JSON values that keep their low bits).
    static Wide Wrap(const Wide& w) {
        M narrow;
        Traits::Store(narrow, w);
        return Traits::Load(narrow);
    }

    bool masked = false;
    bool parseChecked = true;
    bool ignoreOutOfRange = false;
    bool wrap = false;
    unsigned lenientUntil = 0;
    std::vector<std::pair<Wide, Wide>> m_ranges;
    std::function<bool(const Wide&)> m_check;
    std::vector<std::pair<Wide, Wide>> m_readFixes;

  private:
    M cRecord::*m_member;
    Wide m_default;
    unsigned m_minWire = 0;
};

// Fluent builders of rows; each converts into a RowPtr. Row is the row
// type, C the record the row belongs to (for conditions written against it).
template <class Self, class C, class Row>
class RowBuilderBase {
  public:
    explicit RowBuilderBase(std::shared_ptr<Row> row) : m_row(std::move(row)) {}
    operator RowPtr() const { return m_row; }  // NOLINT: rows are written as builders
    Row& row() const { return *m_row; }

    // First stored version that carries the row.
    Self& Since(unsigned version) {
        m_row->since = version;
        return self();
    }
    // Optional in JSON: missing or mistyped keeps the default without error.
    // Rows sharing a group number are skipped or read together.
    Self& Optional(int group = kOwnGroup) {
        m_row->group = group;
        return self();
    }
    // Read from JSON without a presence check: a missing member reads as
    // 0, false, empty text or an empty list.
    Self& MayBeMissing() {
        m_row->flags |= kRowMayBeMissing;
        return self();
    }
    // The JSON kind required where it differs from the type's usual one.
    Self& Kind(unsigned kind) {
        m_row->kind = kind;
        return self();
    }
    // Kept out of the JSON form (binary only).
    Self& NoJson() {
        m_row->flags &= ~(kRowJsonIn | kRowJsonOut);
        return self();
    }
    // Kept out of the binary form (JSON only).
    Self& NoBinary() {
        m_row->flags &= ~kRowBinary;
        return self();
    }
    // Read from JSON only: an alias key for a member written under another.
    Self& InputOnly() {
        m_row->flags &= ~(kRowJsonOut | kRowBinary);
        return self();
    }
    // SetDefault (and the reset before a read) leaves the member alone.
    Self& KeepOnDefault() {
        m_row->flags |= kRowKeepOnDefault;
        return self();
    }
    // The JSON read takes the row only when `pred` holds for the record.
    template <class Fn>
    Self& When(Fn pred) {
        m_row->when = [pred](const cRecord& r) { return pred(static_cast<const C&>(r)); };
        return self();
    }

  protected:
    Self& self() { return static_cast<Self&>(*this); }

  private:
    std::shared_ptr<Row> m_row;
};

template <class C, class Row>
class RowBuilder : public RowBuilderBase<RowBuilder<C, Row>, C, Row> {
  public:
    using RowBuilderBase<RowBuilder<C, Row>, C, Row>::RowBuilderBase;
};

template <class C, class M>
class FieldBuilder : public RowBuilderBase<FieldBuilder<C, M>, C, cFieldRow<M>> {
  public:
    using Base = RowBuilderBase<FieldBuilder<C, M>, C, cFieldRow<M>>;
    using Base::Base;
    using Wide = typename cFieldRow<M>::Wide;

    // An accepted closed range; several ranges accept their union.
    FieldBuilder& Range(Wide lo, Wide hi) {
        this->row().m_ranges.emplace_back(lo, hi);
        return *this;
    }
    // A named check, e.g. CheckHostname.
    template <class Fn>
    FieldBuilder& Check(Fn fn) {
        this->row().m_check = fn;
        return *this;
    }
    // A secret: written as "*******" (or "" when empty) when JSON is masked.
    FieldBuilder& Masked() {
        this->row().masked = true;
        return *this;
    }
    // Address text that does not parse is taken as 0.0.0.0, not refused.
    FieldBuilder& AnyText() {
        this->row().parseChecked = false;
        return *this;
    }
    // A value outside the checks is ignored, and the setter still says yes.
    FieldBuilder& IgnoreOutOfRange() {
        this->row().ignoreOutOfRange = true;
        return *this;
    }
    // A JSON number keeps only the bits the member holds.
    FieldBuilder& Wrap() {
        this->row().wrap = true;
        return *this;
    }
    // A stored `from` reads back as `to`.
    FieldBuilder& OnRead(Wide from, Wide to) {
        this->row().m_readFixes.emplace_back(from, to);
        return *this;
    }
    // Read only when its own scalar version is 1, in stored forms up to
    // `version`: another scalar version keeps the default and reading goes on.
    FieldBuilder& Lenient(unsigned version = ~0u) {
        this->row().lenientUntil = version;
        return *this;
    }
};

// A field row for member `member` of record C under JSON key `key`; without
// a key the row is binary only (payloads).
template <class C, class M>
FieldBuilder<C, M> Field(M C::*member, const char* key = nullptr,
                         typename FieldTraits<M>::Wide def = typename FieldTraits<M>::Wide()) {
    static_assert(std::is_base_of<cRecord, C>::value, "rows belong to records");
    auto row = std::make_shared<cFieldRow<M>>(static_cast<M cRecord::*>(member), std::move(def));
    FieldBuilder<C, M> builder(row);
    row->key = key ? key : "";
    if (!key) builder.NoJson();
    return builder;
}

// ---- Stored layouts ----

enum class StepResult { kFail, kOk, kDrop };

// One step of a stored layout: a row named by key, or code that reads what a
// row cannot say (a skipped field, a converted type). A step of an element
// layout may drop the element it read.
struct TESSEL_API Step {
    Step(const char* k) : key(k) {}  // NOLINT: layouts are written as lists of keys
    explicit Step(std::function<StepResult(cRecord&, kora::cSerializeBuffer&)> fn)
        : custom(std::move(fn)) {}
    const char* key = nullptr;
    std::function<StepResult(cRecord&, kora::cSerializeBuffer&)> custom;
    const cRow* row = nullptr;  // resolved by the table
};

// What one stored version holds, in stored order.
struct TESSEL_API Layout {
    unsigned version;
    std::vector<Step> steps;
};

class cRecordTable;
// Binds the keys of a layout to the rows of `table`; a key no row has is a
// fault of the table and stops the program at once.
TESSEL_API void ResolveLayout(const cRecordTable& table, Layout& layout);

inline Layout Stored(unsigned version, std::vector<Step> steps) {
    return Layout{version, std::move(steps)};
}

// Rows or layout steps written once and shared by several tables, joined in order.
template <class T>
std::vector<T> Join(std::initializer_list<std::vector<T>> parts) {
    std::vector<T> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Puts rows written once for several tables into one JSON group of a table
// (kRequired, or the number of an optional group).
inline std::vector<RowPtr> InGroup(std::vector<RowPtr> rows, int group) {
    for (auto& row : rows) row->group = group;
    return rows;
}

// A value of type T that the stored form holds and the record drops.
template <class T>
Step Skip() {
    return Step([](cRecord&, kora::cSerializeBuffer& b) {
        T value;
        return BinaryTraits<T>::Read(value, b) ? StepResult::kOk : StepResult::kFail;
    });
}

// Code reading part of a stored form into record C.
template <class C, class Fn>
Step Custom(Fn fn) {
    return Step([fn](cRecord& r, kora::cSerializeBuffer& b) -> StepResult {
        return fn(static_cast<C&>(r), b);
    });
}

// ---- Tables ----

class TESSEL_API cRecordTable {
  public:
    // `jsonFirst` names members the JSON text lists before the others, which
    // follow in table order.
    cRecordTable(std::vector<RowPtr> rows, std::vector<Layout> layouts, size_t objectSize,
                 size_t baseSize, const std::vector<const char*>& jsonFirst = {});
    ~cRecordTable() {}
    cRecordTable(const cRecordTable&) = delete;
    cRecordTable& operator=(const cRecordTable&) = delete;

    const std::vector<RowPtr>& Rows() const { return m_b.rows; }
    // The row of `key` (composite parts included), or null.
    const cRow* Find(const std::string& key) const;
    const JsonShape& Shape() const { return m_b.shape; }
    unsigned MinWireSize() const { return m_b.minWire; }

    void Write(const cRecord& r, kora::cSerializeBuffer& b) const;
    // Reads what stored `version` holds: its layout when one is declared,
    // else every binary row whose first version is not later, in order; then
    // the read fix-ups.
    bool Read(cRecord& r, kora::cSerializeBuffer& b, unsigned version) const;
    // Puts rows to their defaults; `all` includes rows kept on SetDefault.
    void Reset(cRecord& r, bool all = false) const;

    void ToJson(const cRecord& r, Json::Value& data, bool mask) const;
    // Checks every required member before assigning any; assigns them,
    // noting refused keys; then the optional groups in order while nothing
    // failed: a group with a member missing is skipped, a refusal ends the read.
    bool FromJson(cRecord& r, const Json::Value& data, std::set<std::string>& rejected) const;
    // The same for one element of a list: presence and kinds of all its
    // members (nested ones included), then every member in order.
    bool CheckElement(const Json::Value& element) const;
    bool AssignElement(cRecord& r, const Json::Value& element) const;
    // Whether every row accepts the value the record holds.
    bool Valid(const cRecord& r) const;
    // Display entries: info[key] for each key, the value of its row as text
    // (numbers in decimal, booleans "true"/"false", addresses dotted, text as it is).
    void InfoOf(const cRecord& r, std::initializer_list<const char*> keys,
                kora::cMap<kora::s_string, kora::s_string>& info) const;

    // The typed field row of `member` (a member of `r`), or null.
    template <class M>
    const cFieldRow<M>* FieldOf(const cRecord& r, const M& member) const {
        const cFieldRow<M>* found = nullptr;
        ForEachRow([&](const cRow& row) {
            auto* f = dynamic_cast<const cFieldRow<M>*>(&row);
            if (!found && f && f->IsMember(r, &member)) found = f;
        });
        return found;
    }
    template <class Fn>
    void ForEachRow(Fn fn) const {
        for (const auto& row : m_b.rows) Visit(*row, fn);
    }

    // Member bytes of [base, object size) that no binary row covers, or
    // covered twice; empty when the rows account for every member. `object`
    // is where the whole object of `sample` begins.
    std::string CoverageProblems(const cRecord& sample, const void* object) const;

  private:
    template <class Fn>
    static void Visit(const cRow& row, Fn& fn) {
        fn(row);
        if (auto* parts = row.Parts())
            for (const auto& p : *parts) Visit(*p, fn);
    }
    void Assign(const cRow& row, cRecord& r, const Json::Value& data, JsonIn& in) const;

    struct Body {
        std::vector<RowPtr> rows;
        std::vector<Layout> layouts;
        JsonShape shape;
        unsigned minWire;
        size_t objectSize;
        size_t baseSize;
    };
    // Never destroyed: a table is a function-local static, and a service
    // thread may still write or read an item while the process exits, after
    // the destruction of statics has begun. What it holds stays allocated
    // (and reachable) to the end.
    union {
        Body m_b;
    };
};

// The table of record C.
template <class C>
class Table final : public cRecordTable {
  public:
    Table(std::vector<RowPtr> rows, std::vector<Layout> layouts = {},
          const std::vector<const char*>& jsonFirst = {})
        : cRecordTable(std::move(rows), std::move(layouts), sizeof(C), C::kEngineBaseSize,
                       jsonFirst) {}
};

// ---- Composites: several members under one JSON key ----

class TESSEL_API cCompositeRow : public cRow {
  public:
    explicit cCompositeRow(std::vector<RowPtr> parts);
    void Write(const cRecord& r, kora::cSerializeBuffer& b) const override;
    bool Read(cRecord& r, kora::cSerializeBuffer& b, unsigned version) const override;
    unsigned MinWireSize() const override;
    void Reset(cRecord& r, bool all) const override;
    void AfterRead(cRecord& r) const override;
    bool Valid(const cRecord& r) const override;
    const std::vector<RowPtr>* Parts() const override { return &m_parts; }
    void Members(const cRecord& r, std::vector<std::pair<const void*, size_t>>& out) const override;

  protected:
    std::vector<RowPtr> m_parts;
};

// A nested JSON object whose members are the parts, e.g. {"Low": 1, "High": 5}.
class TESSEL_API cObjectRow final : public cCompositeRow {
  public:
    cObjectRow(const char* key, std::vector<RowPtr> parts);
    Json::Value ToJson(const cRecord& r, bool mask) const override;
    void CheckBelow(const Json::Value& v, bool& ok) const override;
    void FromJson(cRecord& r, const Json::Value& v, JsonIn& in) const override;
    const JsonShape* Shape() const override { return &m_shape; }

  private:
    JsonShape m_shape;
};

template <class C>
RowBuilder<C, cObjectRow> Object(const char* key, std::vector<RowPtr> parts) {
    return RowBuilder<C, cObjectRow>(std::make_shared<cObjectRow>(key, std::move(parts)));
}

// A low and a high port as one text: "" for 0 and 0, "80" for equal ports,
// "80:800" otherwise. Reading sorts the pair; text with more than two
// numbers, other characters or a number above 65535 is refused.
class TESSEL_API cPortRangeRow final : public cCompositeRow {
  public:
    cPortRangeRow(const char* key, RowPtr low, RowPtr high);
    Json::Value ToJson(const cRecord& r, bool mask) const override;
    void FromJson(cRecord& r, const Json::Value& v, JsonIn& in) const override;
    std::string Text(const cRecord& r) const;
    bool SetText(cRecord& r, const std::string& text) const;

  private:
    const cFieldRow<kora::s_uint16>& Low() const;
    const cFieldRow<kora::s_uint16>& High() const;
};

template <class C>
RowBuilder<C, cPortRangeRow> PortRange(const char* key, RowPtr low, RowPtr high) {
    auto row = std::make_shared<cPortRangeRow>(key, std::move(low), std::move(high));
    return RowBuilder<C, cPortRangeRow>(row);
}

// ---- JSON-only rows ----

// An output member computed from the record, never read back.
class TESSEL_API cDerivedRow final : public cRow {
  public:
    explicit cDerivedRow(std::function<Json::Value(const cRecord&)> fn) : m_fn(std::move(fn)) {
        flags = kRowJsonOut;
    }
    Json::Value ToJson(const cRecord& r, bool) const override { return m_fn(r); }

  private:
    std::function<Json::Value(const cRecord&)> m_fn;
};

template <class C, class Fn>
RowPtr Derived(const char* key, Fn fn) {
    auto row = std::make_shared<cDerivedRow>(
        [fn](const cRecord& r) { return Json::Value(fn(static_cast<const C&>(r))); });
    row->key = key;
    return row;
}

// A check over fields read before it: when it fails, every key it names is refused.
class TESSEL_API cAcrossRow final : public cRow {
  public:
    cAcrossRow(std::vector<const char*> keys, std::function<bool(const cRecord&)> pred)
        : m_keys(std::move(keys)), m_pred(std::move(pred)) {
        flags = kRowJsonIn | kRowMayBeMissing;
    }
    void FromJson(cRecord& r, const Json::Value&, JsonIn& in) const override {
        if (m_pred(r)) return;
        for (const char* k : m_keys) in.Refuse(k);
    }

  private:
    std::vector<const char*> m_keys;
    std::function<bool(const cRecord&)> m_pred;
};

template <class C, class Fn>
RowBuilder<C, cAcrossRow> Across(std::vector<const char*> keys, Fn pred) {
    auto row = std::make_shared<cAcrossRow>(
        std::move(keys), [pred](const cRecord& r) { return pred(static_cast<const C&>(r)); });
    return RowBuilder<C, cAcrossRow>(row);
}

// ---- Lists ----

// Elements of the standard shapes. A list's element is a record with a table
// of its own; these carry a map entry or a set member as one.

// One member of a set of scalars.
template <class T>
struct SetEntry : cRecord {
    SetEntry() = default;
    explicit SetEntry(const T& v) : value(v) {}
    T value{};
    template <class Set>
    static SetEntry From(const typename Set::value_type& v) {
        SetEntry e;
        e.value = v;
        return e;
    }
    template <class Set>
    void Into(Set& s, bool) const {
        s.insert(value);
    }
};

// One entry of a map of scalars.
template <class K, class V>
struct MapEntry : cRecord {
    K key{};
    V value{};
    template <class Map>
    static MapEntry From(const typename Map::value_type& kv) {
        MapEntry e;
        e.key = kv.first;
        e.value = kv.second;
        return e;
    }
    template <class Map>
    void Into(Map& m, bool replace) const {
        if (replace)
            m[key] = value;
        else
            m.emplace(key, value);
    }
};

// One entry of a map whose values are pairs of scalars.
template <class K, class A, class B>
struct PairEntry : cRecord {
    K key{};
    A first{};
    B second{};
    template <class Map>
    static PairEntry From(const typename Map::value_type& kv) {
        PairEntry e;
        e.key = kv.first;
        e.first = kv.second.first;
        e.second = kv.second.second;
        return e;
    }
    template <class Map>
    void Into(Map& m, bool replace) const {
        auto v = typename Map::mapped_type(first, second);
        if (replace)
            m[key] = v;
        else
            m.emplace(key, v);
    }
};

// One entry of a map whose values are records: the record's fields and its key.
template <class K, class V>
struct Keyed : V {
    Keyed() = default;
    Keyed(const K& k, const V& v) : V(v), key(k) {}
    K key{};
    template <class Map>
    static Keyed From(const typename Map::value_type& kv) {
        Keyed e;
        static_cast<V&>(e) = kv.second;
        e.key = kv.first;
        return e;
    }
    template <class Map>
    void Into(Map& m, bool replace) const {
        if (replace)
            m[key] = static_cast<const V&>(*this);
        else
            m.emplace(key, static_cast<const V&>(*this));
    }
};

namespace detail {
template <class Container, class E, class Enable = void>
struct ListAccess {
    static E From(const typename Container::value_type& v) {
        return E::template From<Container>(v);
    }
    static void Into(const E& e, Container& c, bool replace) {
        e.template Into<Container>(c, replace);
    }
};
// Sets of records hold the element itself.
template <class Container, class E>
struct ListAccess<
    Container, E,
    typename std::enable_if<std::is_same<typename Container::value_type, E>::value>::type> {
    static E From(const E& v) { return v; }
    static void Into(const E& e, Container& c, bool) { c.insert(e); }
};
}  // namespace detail

// A list: in binary an element count (s_uint32) and the elements in
// container order; in JSON an array of objects whose members are the element
// table's. A JSON element is checked for presence and kinds, and applied only
// while nothing in the record has failed so far; one whose values a row or
// the element check refuses is refused under the list's singular key.
template <class Container, class E>
class cListRow final : public cRow {
  public:
    cListRow(Container cRecord::*member, const cRecordTable& elements, const char* singular)
        : m_member(member), m_elements(elements), m_singular(singular) {
        kind = kJsonAny;
    }

    Container& Of(cRecord& o) const { return o.*m_member; }
    const Container& Of(const cRecord& o) const { return o.*m_member; }

    void Write(const cRecord& o, kora::cSerializeBuffer& b) const override {
        const Container& c = Of(o);
        kora::s_uint32(static_cast<uint32_t>(c.size())).Serialize(b);
        for (const auto& v : c) {
            E e = detail::ListAccess<Container, E>::From(v);
            m_elements.Write(e, b);
        }
    }
    bool Read(cRecord& o, kora::cSerializeBuffer& b, unsigned version) const override {
        uint32_t count = 0;
        const Layout* layout = ElementLayout(version);
        if (!ReadCount(b, count, layout ? 0 : m_elements.MinWireSize())) return false;
        Container& c = Of(o);
        c.clear();
        for (uint32_t i = 0; i < count; ++i) {
            E e;
            m_elements.Reset(e, true);
            StepResult got = ReadElement(e, b, version, layout);
            if (got == StepResult::kFail) return false;
            if (got == StepResult::kOk) detail::ListAccess<Container, E>::Into(e, c, m_replace);
        }
        return true;
    }
    unsigned MinWireSize() const override { return 6; }
    void Reset(cRecord& o, bool all) const override {
        if (all || !Has(kRowKeepOnDefault)) Of(o).clear();
    }
    Json::Value ToJson(const cRecord& o, bool mask) const override {
        Json::Value list(Json::arrayValue);
        for (const auto& v : Of(o)) {
            E e = detail::ListAccess<Container, E>::From(v);
            Json::Value element(Json::objectValue);
            m_elements.ToJson(e, element, mask);
            list.append(element);
        }
        return list;
    }
    bool IsList() const override { return true; }
    void CheckBelow(const Json::Value& v, bool& ok) const override {
        if (!v.isArray()) return;
        for (const auto& element : v)
            if (!m_elements.CheckElement(element)) ok = false;
    }
    void FromJson(cRecord& o, const Json::Value& v, JsonIn& in) const override {
        if (!v.isArray()) return;
        for (const auto& element : v) {
            if (!m_elements.CheckElement(element)) {
                in.ok = false;
                continue;
            }
            if (!in.ok) continue;
            E e;
            m_elements.Reset(e, true);
            if (!m_elements.AssignElement(e, element) || !Add(o, e)) in.Refuse(m_singular);
        }
    }
    bool Valid(const cRecord& o) const override {
        for (const auto& v : Of(o))
            if (!Accepts(detail::ListAccess<Container, E>::From(v))) return false;
        return true;
    }
    const JsonShape* Shape() const override { return &m_elements.Shape(); }
    void Members(const cRecord& o,
                 std::vector<std::pair<const void*, size_t>>& out) const override {
        if (Has(kRowBinary)) out.emplace_back(&Of(o), sizeof(Container));
    }

    // Whether an element passes its rows and the element check.
    bool Accepts(const E& e) const { return m_elements.Valid(e) && (!m_check || m_check(e)); }
    // Adds (or replaces) an element that passes its checks.
    bool Add(cRecord& o, const E& e) const {
        if (!Accepts(e)) return false;
        detail::ListAccess<Container, E>::Into(e, Of(o), true);
        return true;
    }
    // Replaces the whole list when every element passes.
    bool Replace(cRecord& o, const Container& c) const {
        for (const auto& v : c)
            if (!Accepts(detail::ListAccess<Container, E>::From(v))) return false;
        Of(o) = c;
        return true;
    }
    bool IsMember(const cRecord& o, const void* address) const { return &Of(o) == address; }
    void AddLayout(Layout layout) {
        ResolveLayout(m_elements, layout);
        m_layouts.push_back(std::move(layout));
    }

    std::function<bool(const E&)> m_check;
    std::vector<Layout> m_layouts;  // element layouts by the record's stored version
    bool m_replace = true;          // a repeated key in the binary form replaces

  private:
    static bool ReadCount(kora::cSerializeBuffer& b, uint32_t& count, unsigned minElement);
    const Layout* ElementLayout(unsigned version) const {
        for (const auto& l : m_layouts)
            if (l.version == version) return &l;
        return nullptr;
    }
    StepResult ReadElement(E& e, kora::cSerializeBuffer& b, unsigned version,
                           const Layout* layout) const;

    Container cRecord::*m_member;
    const cRecordTable& m_elements;
    const char* m_singular;
};

TESSEL_API bool ReadElementCount(kora::cSerializeBuffer& b, uint32_t& count, unsigned minElement);
TESSEL_API StepResult ReadSteps(cRecord& r, kora::cSerializeBuffer& b, unsigned version,
                                const Layout& layout);

template <class Container, class E>
bool cListRow<Container, E>::ReadCount(kora::cSerializeBuffer& b, uint32_t& count,
                                       unsigned minElement) {
    return ReadElementCount(b, count, minElement);
}

template <class Container, class E>
StepResult cListRow<Container, E>::ReadElement(E& e, kora::cSerializeBuffer& b, unsigned version,
                                               const Layout* layout) const {
    if (layout) return ReadSteps(e, b, version, *layout);
    return m_elements.Read(e, b, version) ? StepResult::kOk : StepResult::kFail;
}

template <class C, class Container, class E>
class ListBuilder : public RowBuilderBase<ListBuilder<C, Container, E>, C, cListRow<Container, E>> {
  public:
    using Base = RowBuilderBase<ListBuilder<C, Container, E>, C, cListRow<Container, E>>;
    using Base::Base;
    // A check over a whole element, beyond its rows' own checks.
    template <class Fn>
    ListBuilder& ElementCheck(Fn fn) {
        this->row().m_check = fn;
        return *this;
    }
    // How elements are stored in an older version of the record.
    ListBuilder& StoredElements(unsigned version, std::vector<Step> steps) {
        this->row().AddLayout(Layout{version, std::move(steps)});
        return *this;
    }
    // Of a key that occurs twice in the binary form the first element stays.
    ListBuilder& FirstWins() {
        this->row().m_replace = false;
        return *this;
    }
};

// A list row over `member`, whose elements follow `elements`.
template <class E, class C, class Container>
ListBuilder<C, Container, E> List(Container C::*member, const char* key, const char* singular,
                                  const cRecordTable& elements) {
    static_assert(std::is_base_of<cRecord, C>::value, "rows belong to records");
    auto row = std::make_shared<cListRow<Container, E>>(static_cast<Container cRecord::*>(member),
                                                        elements, singular);
    row->key = key;
    return ListBuilder<C, Container, E>(row);
}

}  // namespace tessel
