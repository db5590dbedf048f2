// The payload engine (field codecs and the generic binary form) and the
// payloads of the item and collection operations.
#include <cstdint>
#include <type_traits>

#include "kora/factory.h"
#include "kora/helper.h"
#include "tessel/messages.h"

namespace tessel {

namespace {

// ---- Codecs ----

template <class T>
void WriteObject(const void* member, kora::cSerializeBuffer& buffer) {
    static_cast<const T*>(member)->Serialize(buffer);
}

template <class T>
bool ReadObject(void* member, kora::cSerializeBuffer& buffer) {
    return static_cast<T*>(member)->Deserialize(buffer) != 0;
}

template <class T>
void ResetObject(void* member) {
    *static_cast<T*>(member) = T();
}

// The scalar wire form is a version record and then the value's bytes,
// little-endian. Reading the two apart lets a scalar of another version be
// skipped over without failing the payload.
template <class T>
bool ReadScalarIfVersion1(void* member, kora::cSerializeBuffer& buffer) {
    using Value = typename T::value_type;
    T& scalar = *static_cast<T*>(member);
    unsigned before = buffer.ReadPosition();
    unsigned version = scalar.DeserializeVersion(buffer);
    if (buffer.ReadPosition() == before) return false;  // no version record left
    if (version != 1) return true;
    uint8_t bytes[sizeof(Value)];
    if (!buffer.Read(bytes, sizeof(Value))) return false;
    uint64_t raw = 0;
    for (size_t i = 0; i < sizeof(Value); ++i) raw |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    scalar = static_cast<Value>(raw);  // bool: any nonzero byte is true
    return true;
}

template <class T>
const cFieldCodec& ObjectCodec() {
    static const cFieldCodec codec{&WriteObject<T>, &ReadObject<T>, nullptr, &ResetObject<T>};
    return codec;
}

template <class T>
const cFieldCodec& ScalarCodec() {
    static const cFieldCodec codec{&WriteObject<T>, &ReadObject<T>, &ReadScalarIfVersion1<T>,
                                   &ResetObject<T>};
    return codec;
}

// Wire size of the shortest name, to bound a count before reading entries.
unsigned MinNameSize() {
    static const unsigned size = [] {
        kora::cSerializeBuffer b;
        kora::s_string().Serialize(b);
        return b.Size();
    }();
    return size;
}

void WriteNames(const void* member, kora::cSerializeBuffer& buffer) {
    const cNameSet& names = *static_cast<const cNameSet*>(member);
    kora::s_uint32(static_cast<uint32_t>(names.size())).Serialize(buffer);
    for (const auto& name : names) name.Serialize(buffer);
}

// A count that the remaining bytes cannot hold fails before anything is read.
bool ReadNames(void* member, kora::cSerializeBuffer& buffer) {
    cNameSet& names = *static_cast<cNameSet*>(member);
    kora::s_uint32 count;
    if (!count.Deserialize(buffer)) return false;
    if (count.Value() > buffer.Remaining() / MinNameSize()) return false;
    for (uint32_t i = 0; i < count.Value(); ++i) {
        kora::s_string name;
        if (!name.Deserialize(buffer)) return false;
        names.insert(std::move(name));
    }
    return true;
}

void ResetNames(void* member) {
    static_cast<cNameSet*>(member)->clear();
}

void WriteValue(const void* member, kora::cSerializeBuffer& buffer) {
    const cValueRef& value = *static_cast<const cValueRef*>(member);
    kora::s_bool(static_cast<bool>(value)).Serialize(buffer);
    if (value) kora::cObjectFactory::Serialize(*value, buffer);
}

// Values can be payloads holding values in turn; a crafted buffer could nest
// them until the stack runs out, so nesting is bounded.
constexpr unsigned kMaxValueNesting = 8;
thread_local unsigned t_valueNesting = 0;

bool ReadValue(void* member, kora::cSerializeBuffer& buffer) {
    cValueRef& value = *static_cast<cValueRef*>(member);
    kora::s_bool present;
    if (!present.Deserialize(buffer)) return false;
    value = cValueRef();
    if (!present) return true;
    if (t_valueNesting >= kMaxValueNesting) return false;
    ++t_valueNesting;
    // Null when the type is not registered here: the request is still read.
    value = cValueRef::Adopt(kora::cObjectFactory::Deserialize(buffer));
    --t_valueNesting;
    return true;
}

void ResetValue(void* member) {
    *static_cast<cValueRef*>(member) = cValueRef();
}

}  // namespace

const cFieldCodec& CodecFor(const kora::s_bool&) {
    return ScalarCodec<kora::s_bool>();
}
const cFieldCodec& CodecFor(const kora::s_int8&) {
    return ScalarCodec<kora::s_int8>();
}
const cFieldCodec& CodecFor(const kora::s_uint8&) {
    return ScalarCodec<kora::s_uint8>();
}
const cFieldCodec& CodecFor(const kora::s_uint64&) {
    return ScalarCodec<kora::s_uint64>();
}
const cFieldCodec& CodecFor(const kora::s_string&) {
    return ObjectCodec<kora::s_string>();
}
const cFieldCodec& CodecFor(const kora::cTime&) {
    return ObjectCodec<kora::cTime>();
}

const cFieldCodec& CodecFor(const cNameSet&) {
    static const cFieldCodec codec{&WriteNames, &ReadNames, nullptr, &ResetNames};
    return codec;
}

const cFieldCodec& CodecFor(const cValueRef&) {
    static const cFieldCodec codec{&WriteValue, &ReadValue, nullptr, &ResetValue};
    return codec;
}

// ---- The generic binary form ----

bool cPayload::Serialize(kora::cSerializeBuffer& buffer) const {
    SerializeVersion(buffer);
    // Fields() hands out writable pointers; writing only reads through them.
    for (const cField& f : const_cast<cPayload*>(this)->Fields()) f.codec->write(f.member, buffer);
    return true;
}

int cPayload::Deserialize(kora::cSerializeBuffer& buffer) {
    const cFieldList fields = Fields();
    for (const cField& f : fields) f.codec->reset(f.member);
    unsigned version = DeserializeVersion(buffer);
    if (version < 1 || version > Version()) return 0;
    for (const cField& f : fields) {
        if (version < f.since) continue;
        bool lenient = version <= f.lenientUntil && f.codec->readIfVersion1;
        bool ok =
            lenient ? f.codec->readIfVersion1(f.member, buffer) : f.codec->read(f.member, buffer);
        if (!ok) return 0;
    }
    return static_cast<int>(version);
}

// ---- Text forms ----

std::string ccDBReq::ToString(const std::string&) const {
    return kora::FormatString("%s:Path:%s", TypeName().c_str(), Path.c_str());
}

std::string ccDBResp::ToString(const std::string&) const {
    return kora::FormatString("%s:Result:%i", TypeName().c_str(), static_cast<int>(Result));
}

std::string cDBItemNewNameReq::ToString(const std::string&) const {
    return kora::FormatString("%s:", TypeName().c_str());
}

std::string ccDumpReq::ToString(const std::string&) const {
    return kora::FormatString("ccDumpReq:Path:%s", Path.c_str());
}

}  // namespace tessel
