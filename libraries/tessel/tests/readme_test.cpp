// The README's item table is the registry's, its service is the tested
// example, and every item has a one-line text form. After changing classes:
//   cmake --build build --target readme-item-table
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "kora/factory.h"
#include "tessel/tessel.h"

namespace {

constexpr const char* kBegin =
    "<!-- item table: made from the registry by the readme-item-table target -->\n";
constexpr const char* kEnd = "<!-- end of the item table -->\n";

std::string Read(const char* path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

std::string Table() {
    std::string out = "| Class | JSON type | Path |\n|---|---|---|\n";
    for (const auto& place : tessel::ItemPlaces()) {
        const bool anywhere = place.name.empty() && place.directory.size() <= 1;
        const std::string path =
            anywhere ? "anywhere: the writer chooses"
                     : "`" + place.directory + (place.name.empty() ? "NAME" : place.name) + "`";
        out += "| `" + place.className + "` | `" + place.type + "` | " + path + " |\n";
    }
    return out;
}

}  // namespace

TEST(Readme, ItemTableIsTheRegistrys) {
    std::string readme = Read(TESSEL_README);
    size_t begin = readme.find(kBegin);
    const size_t end = readme.find(kEnd);
    ASSERT_TRUE(begin != std::string::npos && end != std::string::npos && begin < end);
    begin += std::strlen(kBegin);
    if (std::getenv("TESSEL_UPDATE_README")) {
        readme.replace(begin, end - begin, Table());
        std::ofstream(TESSEL_README) << readme;
        return;
    }
    EXPECT_EQ(readme.substr(begin, end - begin), Table())
        << "rewrite it with: cmake --build build --target readme-item-table";
}

TEST(Readme, ServiceIsTheExample) {
    const std::string example = Read(TESSEL_EXAMPLES_DIR "/example_service.cpp");
    EXPECT_NE(Read(TESSEL_README)
                  .find("<!-- examples/example_service.cpp -->\n```cpp\n" + example + "```\n"),
              std::string::npos);
}

TEST(Readme, EveryItemHasAOneLineTextForm) {
    for (const auto& place : tessel::ItemPlaces()) {
        auto object =
            kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::CreateObject(place.className));
        ASSERT_TRUE(object) << place.className;
        const std::string text = object->ToString("");
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
        EXPECT_EQ(text.compare(0, place.className.size(), place.className), 0) << text;
    }
}
