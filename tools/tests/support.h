// Helpers of the tools' tests: temporary directories, files and item documents.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "documents.h"
#include "tessel/jsonfactory.h"

namespace toolstest {

// A fresh directory, removed with everything in it on destruction.
struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/tessel-tools-XXXXXX";
        path = ::mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

inline bool WriteFile(const std::string& path, const std::string& text) {
    return bool(std::ofstream(path, std::ios::binary) << text);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The document file at `path`, parsed; a failure is reported to the test.
inline Json::Value ReadDocumentFile(const std::string& path) {
    Json::Value root;
    std::string error;
    EXPECT_TRUE(tessel::tools::ParseDocumentFile(ReadFile(path), root, error)) << path << error;
    return root;
}

// The item with `edit` applied to its document's "Data", loaded back through
// the JSON factory; null when the result is refused.
inline kora::Ref<tessel::cDBItem> Edited(tessel::cDBItem& item,
                                         const std::function<void(Json::Value&)>& edit) {
    Json::Value document = tessel::tools::ItemDocument(item, false);
    if (edit) edit(document["Data"]);
    return tessel::tools::LoadDocument(document).item;
}

// The item's document, secrets shown.
inline Json::Value Doc(const kora::Ref<tessel::cDBItem>& item) {
    return tessel::tools::ItemDocument(*item, false);
}

// A default item of the JSON type, named and placed, then Edited.
inline kora::Ref<tessel::cDBItem> MakeItem(
    const std::string& type, const std::string& dir, const std::string& name,
    const std::function<void(Json::Value&)>& edit = nullptr) {
    auto item = kora::Ref<tessel::cDBItem>::Adopt(tessel::cJsonFactory::CreateObject(type));
    if (!item) return item;
    item->SetDir(dir);
    item->SetName(name);
    return Edited(*item, edit);
}

// A log unit named `name`, then Edited.
inline kora::Ref<tessel::cDBItem> LogUnit(const std::string& name,
                                          const std::function<void(Json::Value&)>& edit = nullptr) {
    return MakeItem("LogUnitObject", "/Log/Units/", name, edit);
}

// Writes a configuration document file holding `items`.
inline bool WriteDocumentFile(const std::string& path, const std::vector<Json::Value>& items) {
    Json::Value file = tessel::tools::NewDocumentFile("configuration", "");
    for (const auto& item : items) file["Items"].append(item);
    return WriteFile(path, tessel::StyledJson(file));
}

}  // namespace toolstest
