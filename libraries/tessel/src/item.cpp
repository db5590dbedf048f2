#include "tessel/item.h"

#include <json/reader.h>
#include <json/writer.h>

#include <memory>
#include <sstream>

#include "kora/file.h"
#include "kora/hash.h"
#include "kora/helper.h"

namespace tessel {

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

std::string StyledJson(const Json::Value& value) {
    return value.toStyledString();
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

bool cDBItem::CheckMember(const std::string& key, bool& ok, const Json::Value& object,
                          unsigned kind) {
    if (!object.isObject() || !object.isMember(key)) {
        ok = false;
        return false;
    }
    const Json::Value& v = object[key];
    bool pass = false;
    switch (kind) {
        case kJsonAny:
            pass = true;
            break;
        case kJsonString:
            pass = v.isString();
            break;
        case kJsonInt:
            pass = v.isInt();
            break;
        case kJsonUInt:
            pass = v.isUInt();
            break;
        case kJsonBool:
            pass = v.isBool();
            break;
        case kJsonArray:
            pass = v.isConvertibleTo(Json::arrayValue);
            break;
        case kJsonInt64:
            pass = v.isInt64();
            break;
        case kJsonUInt64:
            pass = v.isUInt64();
            break;
        default:
            pass = false;
            break;
    }
    if (!pass) ok = false;
    return pass;
}

bool cDBItem::ToJSON(kora::s_string& text) {
    Json::Value root;
    ToJSON(root, false);
    text = StyledJson(root);
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
