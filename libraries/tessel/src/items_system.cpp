#include "tessel/items_system.h"

#include <mutex>

#include "kora/helper.h"
#include "tessel/payload_fields.h"

namespace tessel {

// ---- cDBUser ----

std::string cDBUser::ToString(const std::string&) const {
    return kora::FormatString("cDBUser:Name:%s", GetName().c_str());
}

// ---- cDBDirectory ----

const Table<cDBDirectory>& cDBDirectory::Fields() {
    using Pair = MapEntry<kora::s_string, kora::s_string>;
    using Listed = PairEntry<kora::s_string, kora::s_string, Info>;
    using Rank = MapEntry<kora::s_uint32, Group>;
    static const Table<Pair> pair{{Field(&Pair::key), Field(&Pair::value)}};
    // An entry: its name, the listed item's type name and its display information.
    static const Table<Listed> entry{{
        Field(&Listed::key),
        Field(&Listed::first),
        List<Pair>(&Listed::second, "", "", pair).FirstWins(),
    }};
    static const Table<Rank> rank{{
        Field(&Rank::key),
        List<Listed>(&Rank::value, "", "", entry).FirstWins(),
    }};
    // A rank or name that repeats keeps its first entry.
    static const Table<cDBDirectory> rows{{
        List<Rank>(&cDBDirectory::m_entries, "", "", rank).FirstWins(),
        Field(&cDBDirectory::m_accessClass),
    }};
    return rows;
}

bool cDBDirectory::Serialize(kora::cSerializeBuffer& b) const {
    SerializeVersion(b);
    WriteHeader(b);
    Fields().Write(*this, b);
    return true;
}

// A damaged buffer leaves no partial listing behind, and the access class
// as it was.
int cDBDirectory::Deserialize(kora::cSerializeBuffer& b) {
    unsigned version = DeserializeVersion(b);
    m_entries.clear();
    if (version != kInfo.version) return 0;
    kora::s_string name, directory, accessClass = m_accessClass;
    if (!name.Deserialize(b) || !directory.Deserialize(b)) return 0;
    m_name = name;
    m_directory = directory;
    if (Fields().Read(*this, b, version)) return 1;
    m_entries.clear();
    m_accessClass = accessClass;
    return 0;
}

std::string cDBDirectory::ToString(const std::string&) const {
    return kora::FormatString("cDBDirectory:Name:%s, Directory:%s, Type:%s, EntryCount:%d",
                              m_name.c_str(), m_directory.c_str(), GetType().c_str(),
                              static_cast<int>(m_entries.size()));
}

bool cDBDirectory::ToJSON(Json::Value& root, bool) {
    WriteEnvelope(root);
    Json::Value list(Json::arrayValue);
    for (const auto& group : m_entries) {
        for (const auto& entry : group.second) {
            Json::Value object(Json::objectValue);
            object["Name"] = std::string(entry.first);
            object["Type"] = std::string(entry.second.first);
            if (!entry.second.second.empty()) {
                Json::Value info(Json::objectValue);
                for (const auto& pair : entry.second.second)
                    info[pair.first] = std::string(pair.second);
                object["Info"] = info;
            }
            list.append(object);
        }
    }
    root["Entries"] = list;
    return true;
}

bool cDBDirectory::FromJSON(const kora::s_string& text, std::set<std::string>&) {
    m_name.clear();
    m_directory.clear();
    m_entries.clear();
    Json::Value root;
    if (!ReadEnvelope(text, root, nullptr)) return false;
    // The envelope normalised them; a listing keeps the text as written.
    m_name = root["Name"].asString();
    m_directory = root["Directory"].asString();
    return true;
}

void cDBDirectory::AddEntry(unsigned int rank, const std::string& name, const std::string& type,
                            const Info& info) {
    m_entries[rank].SetAt(name, Entry(type, info));
}

void cDBDirectory::AddItem(cDBItem& item) {
    Info info;  // stays empty for items without display information
    item.GetInfo(info);
    AddEntry(item.GetRank(), item.GetName(), item.GetType(), info);
}

// ---- cDBFeatureList ----

namespace {
// The process's feature set, created on first use and kept to the end. It is
// written when a feature list arrives, which can happen on the delivery
// threads of several clients at once, and read by item setters anywhere; a
// small lock keeps those apart.
class FeatureSet {
  public:
    void Add(const std::string& name) {
        std::lock_guard<std::mutex> g(m_lock);
        m_names.insert(name);
    }
    bool Has(const std::string& name) {
        std::lock_guard<std::mutex> g(m_lock);
        return m_names.count(name) != 0;
    }
    std::set<kora::s_string> Copy() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_names;
    }
    // False (and nothing changed) while the set is kept.
    bool Replace(std::set<kora::s_string> names) {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_kept > 0) return false;
        m_names.swap(names);
        return true;
    }
    void Keep(bool keep) {
        std::lock_guard<std::mutex> g(m_lock);
        m_kept += keep ? 1 : (m_kept > 0 ? -1 : 0);
    }

  private:
    std::mutex m_lock;
    std::set<kora::s_string> m_names;
    int m_kept = 0;
};

FeatureSet& Features() {
    static FeatureSet* features = new FeatureSet;  // never destroyed: read until exit
    return *features;
}
}  // namespace

void cDBFeatureList::AddFeature(const std::string& name) {
    Features().Add(name);
}

void cDBFeatureList::KeepFeatures(bool keep) {
    Features().Keep(keep);
}

bool cDBFeatureList::HasFeature(const std::string& name) {
    return Features().Has(name);
}

bool cDBFeatureList::Serialize(kora::cSerializeBuffer& b) const {
    SerializeVersion(b);
    WriteHeader(b);
    const std::set<kora::s_string> features = Features().Copy();
    kora::s_uint32(static_cast<uint32_t>(features.size())).Serialize(b);
    for (const auto& feature : features) feature.Serialize(b);
    return true;
}

// Receiving a feature list replaces the process's set in one step; a list
// that cannot be read leaves it empty. A kept set is left as it is either way.
int cDBFeatureList::Deserialize(kora::cSerializeBuffer& b) {
    std::set<kora::s_string> received;
    if (!ReadFeatures(b, received)) {
        Features().Replace({});
        return 0;
    }
    Features().Replace(std::move(received));
    return 1;
}

bool cDBFeatureList::ReadFeatures(kora::cSerializeBuffer& b, std::set<kora::s_string>& out) {
    if (DeserializeVersion(b) != kInfo.version || !ReadNameAndDir(b)) return false;
    uint32_t count = 0;
    if (!ReadElementCount(b, count, NameSetRows().MinWireSize())) return false;
    for (uint32_t i = 0; i < count; ++i) {
        kora::s_string feature;
        if (!feature.Deserialize(b)) return false;
        out.insert(feature);
    }
    return true;
}

bool cDBFeatureList::ToJSON(Json::Value& root, bool) {
    WriteEnvelope(root);
    for (const auto& feature : Features().Copy()) root["Data"][feature] = true;
    return true;
}

bool cDBFeatureList::FromJSON(const kora::s_string&, std::set<std::string>&) {
    return false;
}

}  // namespace tessel
