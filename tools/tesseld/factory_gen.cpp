// Writes the factory configuration: a document file holding, in its default
// state, every registered item class whose default item has a place in the
// stored configuration. Run at build time, so the file follows the classes
// the library registers.
//
//   tesseld-factory-gen FILE
//
// An item is seeded in the directory its collection follows (ItemPlaces), so
// a client following that collection sees it from the first start. A class is
// left out when its default item has no name (many instances, each named by
// whoever creates it), no directory (neither a collection nor the item names
// one), lies outside the configuration (status, users, features), or cannot
// be read back from its own document.
#include <iostream>
#include <map>

#include "documents.h"
#include "kora/factory.h"
#include "tessel/collections_catalogue.h"
#include "tessel/registration.h"

using namespace tessel;
using namespace tessel::tools;

namespace {

// Why the class's default item is not seeded; "" when it is.
std::string Unseeded(cDBItem& item) {
    if (item.GetName().empty()) return "no default name";
    if (item.GetDir() == "/") return "no default directory";
    if (!IsValidItemName(item.GetName()) || !IsValidDirectory(item.GetDir()))
        return "no valid default path";
    if (!IsConfigurationDirectory(item.GetDir())) return "not configuration";
    cLoaded loaded = LoadDocument(ItemDocument(item, false));
    if (!loaded.item) return "its document does not load: " + loaded.Reason();
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tesseld-factory-gen FILE\n";
        return 2;
    }
    std::map<std::string, Json::Value> documents;  // by path, so the file is stable
    std::string skipped;
    for (const ItemPlace& place : ItemPlaces()) {
        const std::string& name = place.className;
        auto object = kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::CreateObject(name));
        auto* item = dynamic_cast<cDBItem*>(object.get());
        if (!item) continue;
        if (!place.directory.empty()) item->SetDir(place.directory);
        std::string why = Unseeded(*item);
        if (!why.empty()) {
            skipped += "\n  " + name + ": " + why;
            continue;
        }
        if (documents.count(item->GetPath())) {
            std::cerr << "tesseld-factory-gen: two classes default to " << item->GetPath() << "\n";
            return 1;
        }
        documents[item->GetPath()] = ItemDocument(*item, false);
    }
    Json::Value root =
        NewDocumentFile("factory", "factory configuration of the registered classes");
    // No time stamp: the same classes give the same file, byte for byte.
    root.removeMember("Created");
    root["Items"] = Json::Value(Json::arrayValue);
    for (const auto& entry : documents) root["Items"].append(entry.second);

    std::string error;
    if (!WriteFileAtomically(argv[1], StyledJson(root), 0644, error)) {
        std::cerr << "tesseld-factory-gen: " << error << "\n";
        return 1;
    }
    std::cout << "factory configuration: " << documents.size() << " items; not seeded:" << skipped
              << std::endl;
    return 0;
}
