// The payload engine (field codecs and the generic binary form) and the
// payloads of the item and collection operations.
#include <cstdint>
#include <type_traits>

#include "kora/factory.h"
#include "kora/helper.h"
#include "tessel/messages.h"

namespace tessel {

// ---- Members of their own kinds ----

const cRecordTable& NameSetRows() {
    static const Table<cNameEntry> rows{{Field(&cNameEntry::value)}};
    return rows;
}

namespace {
// Values can be payloads holding values in turn; a crafted buffer could nest
// them until the stack runs out, so nesting is bounded.
constexpr unsigned kMaxValueNesting = 8;
thread_local unsigned t_valueNesting = 0;
}  // namespace

void BinaryTraits<cValueRef>::Write(const cValueRef& value, kora::cSerializeBuffer& buffer) {
    kora::s_bool(static_cast<bool>(value)).Serialize(buffer);
    if (value) kora::cObjectFactory::Serialize(*value, buffer);
}

bool BinaryTraits<cValueRef>::Read(cValueRef& value, kora::cSerializeBuffer& buffer) {
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

// ---- The generic binary form ----

bool cPayload::Serialize(kora::cSerializeBuffer& buffer) const {
    SerializeVersion(buffer);
    Fields().Write(*this, buffer);
    return true;
}

int cPayload::Deserialize(kora::cSerializeBuffer& buffer) {
    const cRecordTable& fields = Fields();
    fields.Reset(*this, true);
    unsigned version = DeserializeVersion(buffer);
    if (version < 1 || version > Version()) return 0;
    if (!fields.Read(*this, buffer, version)) return 0;
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
