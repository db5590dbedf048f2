#include "tessel/item.h"

#include <json/reader.h>
#include <json/writer.h>

#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "kora/factory.h"
#include "kora/file.h"
#include "kora/hash.h"
#include "kora/helper.h"
#include "tessel/jsonfactory.h"

namespace tessel {

kora::Ref<cDBItem> cDBItem::Clone() const {
    kora::cSerializeBuffer buffer;
    if (!kora::cObjectFactory::Serialize(*this, buffer)) return {};
    auto copy = kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::Deserialize(buffer));
    return kora::Ref<cDBItem>::Share(dynamic_cast<cDBItem*>(copy.get()));
}

bool ParseJson(const std::string& text, Json::Value& root) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    // Deep nesting is refused rather than followed: the reader recurses per level.
    builder["stackLimit"] = 256;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    Json::Value parsed;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errors)) return false;
    } catch (const std::exception&) {
        return false;  // the reader throws when its nesting limit is exceeded
    }
    root.swap(parsed);
    return true;
}

namespace {

// The member order of the documents of one item type: the envelope, then
// "Data" in the order of the class's table. Shapes are made once per type
// and kept; their tables live as long as the process.
const JsonShape* DocumentShape(const std::string& type) {
    static std::mutex lock;
    static std::map<std::string, std::unique_ptr<JsonShape>> shapes;
    std::lock_guard<std::mutex> guard(lock);
    auto found = shapes.find(type);
    if (found != shapes.end()) return found->second.get();
    kora::Ref<cDBItem> item = kora::Ref<cDBItem>::Adopt(cJsonFactory::CreateObject(type));
    if (!item) return nullptr;
    auto shape = std::make_unique<JsonShape>();
    const cRecordTable* table = item->FieldTable();
    for (const char* key : {"Name", "Type", "Directory", "Data", "Entries"})
        shape->members.emplace_back(
            key, table && std::string(key) == "Data" ? &table->Shape() : nullptr);
    return (shapes[type] = std::move(shape)).get();
}

// The styled text: three spaces per level, one member or element per line,
// members in the order of the shape and then the rest in key order.
class StyledText {
  public:
    std::string out;

    void Value(const Json::Value& v, const JsonShape* shape, int depth) {
        if (v.isObject() && !v.empty()) return Object(v, shape, depth);
        if (v.isArray() && !v.empty()) return Array(v, shape, depth);
        if (v.isObject()) return void(out += "{}");
        if (v.isArray()) return void(out += "[]");
        Json::StreamWriterBuilder scalar;
        scalar["indentation"] = "";
        out += Json::writeString(scalar, v);
    }

  private:
    void Indent(int depth) { out.append(size_t(depth) * 3, ' '); }

    void Object(const Json::Value& v, const JsonShape* shape, int depth) {
        // An item document found anywhere (an export's list of items, say)
        // is written in its class's order.
        if (!shape && v.isMember("Type") && v["Type"].isString() &&
            (v.isMember("Data") || v.isMember("Entries")))
            shape = DocumentShape(v["Type"].asString());
        std::vector<std::pair<std::string, const JsonShape*>> members;
        std::set<std::string> listed;
        if (shape)
            for (const auto& m : shape->members)
                if (v.isMember(m.first) && listed.insert(m.first).second) members.push_back(m);
        for (const auto& name : v.getMemberNames())
            if (!listed.count(name)) members.emplace_back(name, nullptr);
        out += "{\n";
        for (size_t i = 0; i < members.size(); ++i) {
            Indent(depth + 1);
            out += Json::valueToQuotedString(members[i].first.c_str()) + " : ";
            Value(v[members[i].first], members[i].second, depth + 1);
            out += i + 1 < members.size() ? ",\n" : "\n";
        }
        Indent(depth);
        out += "}";
    }

    // Elements of an array share one shape: that of the list's element.
    void Array(const Json::Value& v, const JsonShape* shape, int depth) {
        out += "[\n";
        for (Json::ArrayIndex i = 0; i < v.size(); ++i) {
            Indent(depth + 1);
            Value(v[i], shape, depth + 1);
            out += i + 1 < v.size() ? ",\n" : "\n";
        }
        Indent(depth);
        out += "]";
    }
};

}  // namespace

std::string StyledJson(const Json::Value& value, const JsonShape* shape) {
    StyledText text;
    text.Value(value, shape, 0);
    text.out += "\n";
    return text.out;
}

cDBItem::cDBItem(const std::string& name, const std::string& directory) {
    SetName(name);
    SetDir(directory);
}

cDBItem& cDBItem::operator=(const cDBItem& other) {
    m_name = other.m_name;
    m_directory = other.m_directory;
    return *this;
}

bool cDBItem::GetInfo(kora::cMap<kora::s_string, kora::s_string>&) {
    return false;
}

void cDBItem::GetLinks(std::set<std::string>&) {}

void cDBItem::SetName(const std::string& name) {
    std::string n = name;
    for (size_t pos; (pos = n.find('/')) != std::string::npos;) n.erase(pos, 1);
    if (n.size() > kMaxItemNameLength) n.resize(kMaxItemNameLength);
    m_name = n;
}

void cDBItem::SetDir(const std::string& directory) {
    std::string d = directory;
    if (d.empty() || d.front() != '/') d.insert(d.begin(), '/');
    if (d.back() != '/') d.push_back('/');
    m_directory = d;
}

bool cDBItem::ToJSON(kora::s_string& text) {
    Json::Value root;
    ToJSON(root, false);
    JsonShape envelope;
    const cRecordTable* table = FieldTable();
    for (const char* key : {"Name", "Type", "Directory", "Data", "Entries"})
        envelope.members.emplace_back(
            key, table && std::string(key) == "Data" ? &table->Shape() : nullptr);
    text = StyledJson(root, &envelope);
    return true;
}

std::string cDBItem::ToHash() const {
    kora::cSerializeBuffer buffer;
    Serialize(buffer);
    kora::cSHA256Calculator sha;
    sha.Add(buffer.Data(), buffer.Size());
    return sha.GetResult();
}

bool cDBItem::ToJSONFile(const kora::s_string& fileName, const kora::s_string& folder) {
    std::string path = kora::FormatString("%s/%s", folder.c_str(), fileName.c_str());
    if (kora::cFile::Exists(path)) kora::cFile::Delete(path);
    kora::cFile file;
    if (!file.Open(path, "w")) return false;
    kora::s_string text;
    ToJSON(text);
    file.Write(text);
    file.Close();
    return true;
}

bool cDBItem::FromJSONFile(const kora::s_string& fileName, const kora::s_string& folder) {
    std::string path = kora::FormatString("%s/%s", folder.c_str(), fileName.c_str());
    std::string text;
    if (!kora::cFileHelper::StringFromFile(path, text)) return false;
    std::set<std::string> scratch;
    return FromJSON(text, scratch);
}

bool cDBItem::ReadEnvelope(const std::string& text, Json::Value& root, const char* data) {
    if (!ParseJson(text, root) || !root.isObject()) return false;
    const Json::Value& type = root["Type"];
    if (!type.isString() || !CheckType(type.asString())) return false;
    bool ok = true;
    CheckMember("Name", ok, root, kJsonString);
    CheckMember("Directory", ok, root, kJsonString);
    if (data) CheckMember(data, ok, root, kJsonAny);
    if (!ok) return false;
    SetName(root["Name"].asString());
    SetDir(root["Directory"].asString());
    return true;
}

void cDBItem::WriteEnvelope(Json::Value& root) {
    root["Name"] = std::string(m_name);
    root["Type"] = std::string(GetType());
    root["Directory"] = std::string(m_directory);
}

void cDBItem::WriteHeader(kora::cSerializeBuffer& buffer) const {
    m_name.Serialize(buffer);
    m_directory.Serialize(buffer);
}

bool cDBItem::ReadNameAndDir(kora::cSerializeBuffer& buffer) {
    kora::s_string name, dir;
    if (!name.Deserialize(buffer) || !dir.Deserialize(buffer)) return false;
    SetName(name);
    SetDir(dir);
    return true;
}

}  // namespace tessel
