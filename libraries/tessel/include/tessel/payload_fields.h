// The small engine behind every protocol payload class.
//
// A payload class holds its fields as public members and lists them once, in
// wire order, in its Fields() hook:
//
//     cFieldList Fields() override { return {Field(Filepath), Field(UseFallback).Lenient()}; }
//
// cPayload walks that list for the binary form: it writes its own version and
// then every field; it reads by resetting every field to its default, reading
// the version, refusing one the class does not know (1 up to Version() are
// known), and then reading each field the stored version carries. A row can
// say from which own version a field is present (Since) and that an 8-bit or
// wider scalar is read leniently (Lenient, see cField). Text forms differ too
// much to be generic: each class writes its own ToString.
#pragma once

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "kora/serialize.h"
#include "kora/types.h"

namespace tessel {

// How one member type travels: write, strict read, lenient read, default.
struct cFieldCodec {
    void (*write)(const void* member, kora::cSerializeBuffer& buffer);
    // False when the bytes are missing or malformed.
    bool (*read)(void* member, kora::cSerializeBuffer& buffer);
    // Reads the scalar's version record and its value only when that version
    // is 1; another version leaves the value alone and still succeeds. Null for
    // types other than scalars. False only when the buffer runs out.
    bool (*readIfVersion1)(void* member, kora::cSerializeBuffer& buffer);
    void (*reset)(void* member);
};

// One row of a payload's field list: which member and how it is read.
struct cField {
    void* member = nullptr;
    const cFieldCodec* codec = nullptr;
    unsigned since = 1;         // first own version of the payload that carries the field
    unsigned lenientUntil = 0;  // read leniently while the stored version is at most this

    // Present only from own version `version` on; older forms leave the default.
    cField Since(unsigned version) const {
        cField f = *this;
        f.since = version;
        return f;
    }
    // The scalar is read only when its own version is 1, in stored forms up to
    // own version `version` (all of them by default); a scalar of another
    // version keeps its default and reading goes on with the next field.
    cField Lenient(unsigned version = UINT_MAX) const {
        cField f = *this;
        f.lenientUntil = version;
        return f;
    }
};

using cFieldList = std::vector<cField>;

// A set of names on the wire: the count as an s_uint32, then each name as an
// s_string in ascending order.
using cNameSet = std::set<kora::s_string>;

// The value object a payload may carry: present flag, then the object as the
// object factory writes it. Held as one counted reference (null when absent).
using cValueRef = kora::Ref<kora::ISerialize>;

// Codecs of the member types payloads use; a member of any other type does
// not compile as a field.
const cFieldCodec& CodecFor(const kora::s_bool&);
const cFieldCodec& CodecFor(const kora::s_int8&);
const cFieldCodec& CodecFor(const kora::s_uint8&);
const cFieldCodec& CodecFor(const kora::s_uint64&);
const cFieldCodec& CodecFor(const kora::s_string&);
const cFieldCodec& CodecFor(const kora::cTime&);
const cFieldCodec& CodecFor(const cNameSet&);
const cFieldCodec& CodecFor(const cValueRef&);

template <class T>
cField Field(T& member) {
    cField f;
    f.member = &member;
    f.codec = &CodecFor(member);
    return f;
}

// Base of every payload class: the binary form driven by Fields().
class cPayload : public kora::ISerialize {
  public:
    using kora::ISerialize::Deserialize;  // the XML forms keep the framework's defaults
    using kora::ISerialize::Serialize;

    unsigned Version() const override { return 1; }
    // Own version, then every field in list order; always true.
    bool Serialize(kora::cSerializeBuffer& buffer) const override;
    // Resets every field, reads the version (0 for one outside 1..Version()),
    // then the fields that version carries; returns the version, or 0 as soon
    // as a field cannot be read (fields not reached keep their defaults).
    int Deserialize(kora::cSerializeBuffer& buffer) override;

  protected:
    // The class's fields in wire order, pointing into this object. Writing
    // only reads through the pointers.
    virtual cFieldList Fields() = 0;
};

}  // namespace tessel
