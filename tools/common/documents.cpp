#include "documents.h"

#include <fcntl.h>
#include <json/writer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kora/factory.h"
#include "kora/hash.h"
#include "tessel/jsonfactory.h"

namespace tessel::tools {

namespace {

// Printable ASCII; the backslash is left out so that no path needs escaping.
bool Printable(char c) {
    return c >= 0x20 && c < 0x7f && c != '\\';
}

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

// ---- Paths ----

bool IsDirectoryPath(const std::string& path) {
    return !path.empty() && path.back() == '/';
}

bool IsValidDirectory(const std::string& directory) {
    if (directory.empty() || directory.size() > kMaxDirectoryLength) return false;
    if (directory.front() != '/' || directory.back() != '/') return false;
    if (directory.find("//") != std::string::npos) return false;
    for (char c : directory)
        if (!Printable(c)) return false;
    return true;
}

bool IsValidItemName(const std::string& name) {
    if (name.empty() || name.size() > kMaxItemNameLength) return false;
    for (char c : name)
        if (!Printable(c) || c == '/') return false;
    return true;
}

bool SplitItemPath(const std::string& path, std::string& directory, std::string& name) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    directory = path.substr(0, slash + 1);
    name = path.substr(slash + 1);
    return IsValidDirectory(directory) && IsValidItemName(name);
}

bool IsUnder(const std::string& directory, const std::string& root) {
    return directory.compare(0, root.size(), root) == 0;
}

bool IsConfigurationDirectory(const std::string& directory) {
    return !IsUnder(directory, kStatusRoot) && !IsUnder(directory, kUsersDirectory) &&
           !IsUnder(directory, kFeaturesDirectory);
}

// ---- Items ----

std::vector<uint8_t> ItemBytes(const cDBItem& item) {
    kora::cSerializeBuffer buffer;
    kora::cObjectFactory::Serialize(item, buffer);
    return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Size());
}

kora::Ref<cDBItem> ItemFromBytes(const std::vector<uint8_t>& bytes) {
    kora::cSerializeBuffer buffer(bytes.data(), bytes.size());
    auto object = kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::Deserialize(buffer));
    return kora::Ref<cDBItem>::Share(dynamic_cast<cDBItem*>(object.get()));
}

kora::Ref<cDBItem> CopyItem(const cDBItem& item) {
    return ItemFromBytes(ItemBytes(item));
}

Json::Value ItemDocument(cDBItem& item, bool mask) {
    Json::Value root;
    item.ToJSON(root, mask);
    return root;
}

std::string cLoaded::Reason() const {
    if (!error.empty()) return error;
    std::string text;
    for (const auto& key : rejected) text += (text.empty() ? "" : ", ") + key;
    return text;
}

cLoaded LoadDocument(const Json::Value& document) {
    cLoaded out;
    if (!document.isObject() || !document["Type"].isString()) {
        out.error = "not an item document";
        return out;
    }
    const std::string type = document["Type"].asString();
    // A listing is produced by the server, never stored.
    auto probe = kora::Ref<cDBItem>::Adopt(cJsonFactory::CreateObject(type));
    if (!probe || type == "Directory") {
        out.error = "unknown type \"" + type + "\"";
        return out;
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    const std::string text = Json::writeString(builder, document);
    out.item = kora::Ref<cDBItem>::Adopt(cJsonFactory::CreateObjectFromJSON(text, out.rejected));
    if (!out.item && out.rejected.empty())
        out.error = "a member is missing or of the wrong kind for \"" + type + "\"";
    if (out.item && !IsValidItemName(out.item->GetName())) {
        out.item = kora::Ref<cDBItem>();
        out.error = "the item has no valid name";
    } else if (out.item && !IsValidDirectory(out.item->GetDir())) {
        out.item = kora::Ref<cDBItem>();
        out.error = "the item has no valid directory";
    }
    return out;
}

namespace {

void RestoreValue(Json::Value& value, const Json::Value& masked, const Json::Value& plain) {
    if (masked == plain) return;  // nothing secret in here
    if (value == masked) {
        value = plain;
        return;
    }
    if (value.isObject() && masked.isObject() && plain.isObject()) {
        for (const auto& key : value.getMemberNames())
            if (masked.isMember(key) && plain.isMember(key))
                RestoreValue(value[key], masked[key], plain[key]);
    } else if (value.isArray() && masked.isArray() && plain.isArray() &&
               masked.size() == plain.size()) {
        for (Json::ArrayIndex i = 0; i < value.size() && i < masked.size(); ++i)
            RestoreValue(value[i], masked[i], plain[i]);
    }
}

}  // namespace

void RestoreMaskedSecrets(Json::Value& document, cDBItem& stored) {
    if (!document.isObject() || document["Type"] != Json::Value(stored.GetType()) ||
        document["Name"] != Json::Value(stored.GetName()))
        return;
    Json::Value masked = ItemDocument(stored, true);
    Json::Value plain = ItemDocument(stored, false);
    if (document.isMember("Data")) RestoreValue(document["Data"], masked["Data"], plain["Data"]);
}

// ---- Document files ----

Json::Value NewDocumentFile(const std::string& content, const std::string& description) {
    Json::Value root(Json::objectValue);
    root["Content"] = content;
    root["Created"] = kora::cTime::Now().ToISO8601String();
    if (!description.empty()) root["Description"] = description;
    return root;
}

bool ParseDocumentFile(const std::string& text, Json::Value& root, std::string& error) {
    if (!ParseJson(text, root) || !root.isObject()) {
        error = "not a JSON object";
        return false;
    }
    for (const char* key : {"Items", "Status"}) {
        if (!root.isMember(key)) continue;
        const Json::Value& list = root[key];
        if (!list.isArray()) {
            error = std::string("\"") + key + "\" is not an array";
            return false;
        }
        for (const auto& entry : list)
            if (!entry.isObject()) {
                error = std::string("\"") + key + "\" holds something other than documents";
                return false;
            }
    }
    return true;
}

// ---- Files ----

bool ReadFileBounded(const std::string& path, size_t maxBytes, std::string& text,
                     std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = Errno(path);
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) error = Errno(path);
    if (ok && !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        ok = false;
    }
    if (ok && static_cast<uint64_t>(st.st_size) > maxBytes) {
        error = path + ": larger than " + std::to_string(maxBytes) + " bytes";
        ok = false;
    }
    text.clear();
    char chunk[65536];
    while (ok) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = Errno(path);
            ok = false;
        } else if (n == 0) {
            break;
        } else if (text.size() + static_cast<size_t>(n) > maxBytes) {
            error = path + ": larger than " + std::to_string(maxBytes) + " bytes";
            ok = false;  // the file grew while being read
        } else {
            text.append(chunk, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, mode_t mode,
                         std::string& error, uid_t owner, gid_t group) {
    std::string temp = path + ".XXXXXX";
    int fd = ::mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0) {
        error = Errno(path);
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    if (ok && (owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)))
        ok = ::fchown(fd, owner, group) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    if (ok) ok = ::fsync(fd) == 0;
    if (!ok) error = Errno(path);
    ::close(fd);
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = Errno(path);
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dirfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        ::fsync(dirfd);
        ::close(dirfd);
    }
    return true;
}

std::string Sha256(const std::string& bytes) {
    kora::cSHA256Calculator sha;
    sha.Add(bytes);
    return sha.GetResult();
}

}  // namespace tessel::tools
