// Item paths, item documents and the files that hold many of them; shared by
// tesseld and tesselctl so both judge a document the same way.
//
// A document file is one JSON object:
//   {"Content": "configuration" | "status" | "snapshot" | "factory",
//    "Created": ISO time, "Description": text,
//    "Items":  [item documents of the stored configuration],
//    "Status": [item documents of the status]}
// "Items" or "Status" is left out when the file holds none of that kind. An
// export, the factory file and a snapshot share this form, so any of them can
// be imported (only "Items" is taken).
#pragma once

#include <json/value.h>
#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "kora/serialize.h"
#include "tessel/item.h"

namespace tessel::tools {

// ---- Paths ----

// Longest directory an item may carry; keeps what a client makes the server
// hold bounded (names are at most 30 characters by the item rules).
constexpr size_t kMaxDirectoryLength = 200;

// Directories of items the server keeps in memory only.
constexpr const char* kStatusRoot = "/Status/";
// User accounts, and the device's feature list.
constexpr const char* kUsersDirectory = "/Users/";
constexpr const char* kFeaturesDirectory = "/Features/";
constexpr const char* kLogUnitsDirectory = "/Log/Units/";

bool IsDirectoryPath(const std::string& path);
// Begins and ends with "/", has no empty segment, holds printable ASCII only
// and is at most kMaxDirectoryLength long.
bool IsValidDirectory(const std::string& directory);
// 1 to 30 printable ASCII characters without "/".
bool IsValidItemName(const std::string& name);
// Splits "directory/name"; false unless both parts are valid.
bool SplitItemPath(const std::string& path, std::string& directory, std::string& name);
// Whether `directory` is `root` or lies below it.
bool IsUnder(const std::string& directory, const std::string& root);
// Whether items of `directory` belong to the stored configuration (neither
// status, nor user accounts, nor the feature list).
bool IsConfigurationDirectory(const std::string& directory);

// ---- Items ----

// The binary form through the object factory (type name first).
std::vector<uint8_t> ItemBytes(const cDBItem& item);
// The item the bytes hold, or null when they hold no registered item.
kora::Ref<cDBItem> ItemFromBytes(const std::vector<uint8_t>& bytes);
// A copy through the binary form.
kora::Ref<cDBItem> CopyItem(const cDBItem& item);

// The item's JSON document; secrets masked when `mask`.
Json::Value ItemDocument(cDBItem& item, bool mask);

// An item loaded from a document, or why not.
struct cLoaded {
    kora::Ref<cDBItem> item;
    std::set<std::string> rejected;  // keys of refused values
    std::string error;               // set when the document itself is unusable
    // "key, key" or the error text.
    std::string Reason() const;
};
// Loads one item document through the JSON factory. Directory listings and
// documents of unknown types are refused with an error.
cLoaded LoadDocument(const Json::Value& document);

// A document read back from a masked text form carries placeholders in place
// of secrets. Wherever `document` still holds the masked value of `stored`
// (same type and path), the stored plain value is put back, so a masked
// document can be edited and stored without losing secrets.
void RestoreMaskedSecrets(Json::Value& document, cDBItem& stored);

// ---- Document files ----

// An empty document file of `content`, stamped with the current time.
Json::Value NewDocumentFile(const std::string& content, const std::string& description);
// Parses a document file; "Items" and "Status", when present, must be arrays
// of objects. False with `error` set otherwise.
bool ParseDocumentFile(const std::string& text, Json::Value& root, std::string& error);

// ---- Files ----

// Reads a regular file of at most `maxBytes`.
bool ReadFileBounded(const std::string& path, size_t maxBytes, std::string& text,
                     std::string& error);
// Writes `text` to a new file beside `path` with `mode`, syncs it and renames
// it over `path`, so a reader sees the old file or the whole new one. With an
// owner other than -1 the file is handed to that user and group.
bool WriteFileAtomically(const std::string& path, const std::string& text, mode_t mode,
                         std::string& error, uid_t owner = static_cast<uid_t>(-1),
                         gid_t group = static_cast<gid_t>(-1));

// Lower-case hex SHA-256 of `bytes`.
std::string Sha256(const std::string& bytes);

}  // namespace tessel::tools
