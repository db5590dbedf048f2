#include "tessel/items_log.h"

#include <algorithm>

#include "kora/helper.h"
#include "list_count.h"

namespace tessel {

// ---- cDBLogItem ----

namespace {
// Text cut to `max` characters; cutting never fails.
std::string Cut(const std::string& text, size_t max) {
    return text.substr(0, max);
}
}  // namespace

void cDBLogItem::SetDefault() {
    m_time = kora::cTime::Now();
    m_unit.clear();
    m_level = 0;
    m_type.clear();
    m_text.clear();
    m_object.clear();
    m_peer.clear();
    m_user.clear();
    m_outcome = 0;
    m_status = 0;
}

bool cDBLogItem::Serialize(kora::cSerializeBuffer& b) const {
    SerializeVersion(b);
    const kora::ISerialize* fields[] = {&m_time,   &m_unit, &m_level, &m_type,    &m_text,
                                        &m_object, &m_peer, &m_user,  &m_outcome, &m_status};
    for (const auto* field : fields) field->Serialize(b);
    return true;
}

int cDBLogItem::Deserialize(kora::cSerializeBuffer& b) {
    unsigned version = DeserializeVersion(b);
    SetDefault();
    if (version != 1) return 0;
    kora::ISerialize* fields[] = {&m_time,   &m_unit, &m_level, &m_type,    &m_text,
                                  &m_object, &m_peer, &m_user,  &m_outcome, &m_status};
    for (auto* field : fields)
        if (!field->Deserialize(b)) return 0;
    return 1;
}

std::string cDBLogItem::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBLogItem:Time:%s, Unit:%s, Level:%u, Type:%s, Text:%s, Peer:%s, User:%s, Outcome:%d, "
        "Status:%llx",
        m_time.ToISO8601String().c_str(), m_unit.c_str(), unsigned(m_level), m_type.c_str(),
        m_text.c_str(), m_peer.c_str(), m_user.c_str(), int(m_outcome),
        static_cast<unsigned long long>(m_status.Value()));
}

std::string cDBLogItem::GetLevelString(kora::s_uint8 level) {
    static const char* const kNames[] = {"DEBUG", "INFO", "WARNING", "ERROR", "FATAL"};
    return level < sizeof kNames / sizeof kNames[0] ? kNames[level] : "";
}

std::string cDBLogItem::ToExportString() const {
    return kora::FormatString("%s %s;%s;%u;%s;%s;%s;%s;%llx\n", m_time.ToDateString().c_str(),
                              m_time.ToTimeString().c_str(), m_unit.c_str(), unsigned(m_level),
                              GetLevelString(m_level).c_str(), m_type.c_str(), m_text.c_str(),
                              m_user.c_str(), static_cast<unsigned long long>(m_status.Value()));
}

void cDBLogItem::ToJSONValue(Json::Value& value) const {
    value["Time"] = static_cast<Json::Int64>(m_time.ToSeconds());
    value["Unit"] = std::string(m_unit);
    value["Level"] = static_cast<Json::UInt>(m_level.Value());
    value["Type"] = std::string(m_type);
    value["Text"] = std::string(m_text);
    value["Object"] = std::string(m_object);
    value["Peer"] = std::string(m_peer);
    value["User"] = std::string(m_user);
    value["Outcome"] = static_cast<Json::Int>(m_outcome.Value());
    value["Status"] = static_cast<Json::Int64>(m_status.Value());
}

bool cDBLogItem::SetUnit(const std::string& unit) {
    if (unit.size() > kMaxUnit) return false;
    m_unit = unit;
    return true;
}

bool cDBLogItem::SetLevel(kora::s_uint32 level) {
    if (level > kLogFatal) return false;
    m_level = static_cast<uint8_t>(level);
    return true;
}

bool cDBLogItem::SetType(const std::string& type) {
    if (type.size() > kMaxType) return false;
    m_type = type;
    return true;
}

bool cDBLogItem::SetText(const std::string& text) {
    std::string t = Cut(text, kMaxText);
    t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == '\n' || c == '\r'; }),
            t.end());
    m_text = t;
    return true;
}

bool cDBLogItem::SetObject(const std::string& object) {
    m_object = Cut(object, kMaxObject);
    return true;
}

bool cDBLogItem::SetPeer(const std::string& peer) {
    m_peer = Cut(peer, kMaxPeer);
    return true;
}

bool cDBLogItem::SetUser(const std::string& user) {
    m_user = Cut(user, kMaxUser);
    return true;
}

bool cDBLogItem::SetSuccess(kora::s_int32 outcome) {
    if (outcome < -1 || outcome > 1) return false;
    m_outcome = static_cast<int8_t>(outcome);
    return true;
}

// ---- cDBLogResult ----

namespace {
// Bytes an entry takes at least: its number and an entry with empty texts.
unsigned MinEntryBytes() {
    static const unsigned bytes = [] {
        kora::cSerializeBuffer b;
        cDBLogItem().Serialize(b);
        return kMinUInt32Bytes + b.Size();
    }();
    return bytes;
}
}  // namespace

bool cDBLogResult::Serialize(kora::cSerializeBuffer& b) const {
    SerializeVersion(b);
    kora::s_uint32(static_cast<uint32_t>(m_entries.size())).Serialize(b);
    for (const auto& entry : m_entries) {
        kora::s_uint32(entry.first).Serialize(b);
        entry.second.Serialize(b);
    }
    return true;
}

// Entries are read aside and taken over only when the batch is complete.
int cDBLogResult::Deserialize(kora::cSerializeBuffer& b) {
    unsigned version = DeserializeVersion(b);
    SetDefault();
    if (version != 1) return 0;
    uint32_t count = 0;
    if (!ReadListCount(b, MinEntryBytes(), count)) return 0;
    Entries entries;
    for (uint32_t i = 0; i < count; ++i) {
        kora::s_uint32 number;
        cDBLogItem entry;
        if (!number.Deserialize(b) || !entry.Deserialize(b)) return 0;
        entries.emplace(number, entry);  // a repeated number keeps the first entry
    }
    m_entries.swap(entries);
    return 1;
}

std::string cDBLogResult::ToString(const std::string&) const {
    return kora::FormatString("cDBLogResult:EntryCount:%d", static_cast<int>(m_entries.size()));
}

void cDBLogResult::AddEntry(unsigned int number, const cDBLogItem& entry) {
    m_entries.SetAt(number, entry);
}

bool cDBLogResult::ToJSON(Json::Value& root, bool) const {
    Json::Value list(Json::arrayValue);
    for (const auto& entry : m_entries) {
        Json::Value object(Json::objectValue);
        object["ID"] = static_cast<Json::UInt>(entry.first);
        Json::Value value(Json::objectValue);
        entry.second.ToJSONValue(value);
        object["Entry"] = value;
        list.append(object);
    }
    root["Entries"] = list;
    return true;
}

// ---- cDBLogUnit ----

const FieldTable<cDBLogUnit>& cDBLogUnit::Fields() {
    using C = cDBLogUnit;
    static const FieldTable<C> rows = {
        Field(&C::m_Depth, "Depth", 3000).Range(0, 5000),
        Field(&C::m_Level, "Level", 1).Range(0, 4),
    };
    return rows;
}

std::string cDBLogUnit::ToString(const std::string&) const {
    return kora::FormatString("cDBLogUnit:Name:%s, Depth:%u, Level:%u", GetName().c_str(),
                              unsigned(m_Depth), unsigned(m_Level));
}

}  // namespace tessel
