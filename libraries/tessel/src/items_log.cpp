#include "tessel/items_log.h"

#include <algorithm>

#include "kora/helper.h"

namespace tessel {

// ---- cDBLogItem ----

namespace {
// Text cut to `max` characters; cutting never fails.
std::string Cut(const std::string& text, size_t max) {
    return text.substr(0, max);
}
}  // namespace

void cDBLogItem::SetDefault() {
    Fields().Reset(*this);
    m_time = kora::cTime::Now();
}

bool cDBLogItem::Serialize(kora::cSerializeBuffer& b) const {
    SerializeVersion(b);
    Fields().Write(*this, b);
    return true;
}

int cDBLogItem::Deserialize(kora::cSerializeBuffer& b) {
    unsigned version = DeserializeVersion(b);
    SetDefault();
    if (version != 1) return 0;
    return Fields().Read(*this, b, version) ? 1 : 0;
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
    Fields().ToJson(*this, value, false);
}

namespace {
// The setter of a field of the log entry: its row's checks.
template <class M, class V>
bool SetField(cDBLogItem& entry, M& member, const V& value) {
    const cFieldRow<M>* row = cDBLogItem::Fields().FieldOf(entry, member);
    return row && row->Set(entry, typename cFieldRow<M>::Wide(value));
}
}  // namespace

bool cDBLogItem::SetUnit(const std::string& unit) {
    return SetField(*this, m_unit, unit);
}

bool cDBLogItem::SetLevel(kora::s_uint32 level) {
    return SetField(*this, m_level, level);
}

bool cDBLogItem::SetType(const std::string& type) {
    return SetField(*this, m_type, type);
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
    return SetField(*this, m_outcome, outcome);
}

// ---- cDBLogResult ----

bool cDBLogResult::Serialize(kora::cSerializeBuffer& b) const {
    SerializeVersion(b);
    Fields().Write(*this, b);
    return true;
}

// A damaged buffer leaves no partial batch behind.
int cDBLogResult::Deserialize(kora::cSerializeBuffer& b) {
    unsigned version = DeserializeVersion(b);
    SetDefault();
    if (version != 1) return 0;
    if (Fields().Read(*this, b, version)) return 1;
    SetDefault();
    return 0;
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

std::string cDBLogUnit::ToString(const std::string&) const {
    return kora::FormatString("cDBLogUnit:Name:%s, Depth:%u, Level:%u", GetName().c_str(),
                              unsigned(m_Depth), unsigned(m_Level));
}

}  // namespace tessel
