// Helpers of the tools' tests: temporary directories, files and item documents.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "documents.h"
#include "tessel/jsonfactory.h"

namespace toolstest {

// A fresh directory, removed with everything in it on destruction.
struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/tessel-tools-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path = made ? made : "";
    }
    ~TempDir() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

inline bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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

}  // namespace toolstest
