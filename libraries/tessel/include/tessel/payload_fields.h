// The payload classes on the field engine.
//
// A payload class holds its fields as public members and lists them once, in
// wire order, in its table:
//
//     const cRecordTable& Fields() const override {
//         static const Table<ccDBConfigImportReq> t{
//             {Field(&ccDBConfigImportReq::Filepath),
//             Field(&ccDBConfigImportReq::UseFallback).Lenient()}};
//         return t;
//     }
//
// cPayload writes its own version and then every field; it reads by resetting
// every field to its default, reading the version, refusing one the class
// does not know (1 up to Version() are known), and then reading each field
// the stored version carries. A row can say from which own version a field is
// present (Since) and that a scalar is read leniently (Lenient). Text forms
// differ too much to be generic: each class writes its own ToString.
#pragma once

#include <set>
#include <string>

#include "kora/serialize.h"
#include "kora/types.h"
#include "tessel/fields.h"

namespace tessel {

// A set of names on the wire: the count as an s_uint32, then each name as an
// s_string in ascending order.
using cNameSet = std::set<kora::s_string>;
using cNameEntry = SetEntry<kora::s_string>;
// Rows of one name of a cNameSet.
TESSEL_API const cRecordTable& NameSetRows();

// The value object a payload may carry: present flag, then the object as the
// object factory writes it. Held as one counted reference (null when absent).
using cValueRef = kora::Ref<kora::ISerialize>;

template <>
struct TESSEL_API BinaryTraits<cValueRef> {
    static void Write(const cValueRef& m, kora::cSerializeBuffer& b);
    // A value whose class is not registered here, or whose bytes do not read,
    // becomes null rather than failing; values nest at most a few levels deep.
    static bool Read(cValueRef& m, kora::cSerializeBuffer& b);
    static bool ReadLenient(cValueRef& m, kora::cSerializeBuffer& b) { return Read(m, b); }
};

// Base of every payload class: the binary form driven by Fields().
class TESSEL_API cPayload : public kora::ISerialize, public cRecord {
  public:
    static constexpr size_t kEngineBaseSize = sizeof(kora::ISerialize);

    using kora::ISerialize::Deserialize;  // the XML forms keep the framework's defaults
    using kora::ISerialize::Serialize;

    unsigned Version() const override { return 1; }
    // Own version, then every field in table order; always true.
    bool Serialize(kora::cSerializeBuffer& buffer) const override;
    // Resets every field, reads the version (0 for one outside 1..Version()),
    // then the fields that version carries; returns the version, or 0 as soon
    // as a field cannot be read (fields not reached keep their defaults).
    int Deserialize(kora::cSerializeBuffer& buffer) override;

    // The class's fields in wire order.
    virtual const cRecordTable& Fields() const = 0;
};

}  // namespace tessel
