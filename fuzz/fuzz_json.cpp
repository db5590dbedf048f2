// Feeds arbitrary text to the JSON factory and to every item's FromJSON.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tessel/tessel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::set<std::string> rejected;
    kora::Ref<tessel::cDBItem> item = kora::Ref<tessel::cDBItem>::Adopt(
        tessel::cJsonFactory::CreateObjectFromJSON(text, rejected));
    if (item) {
        Json::Value root;
        item->ToJSON(root, true);
    }
    return 0;
}
