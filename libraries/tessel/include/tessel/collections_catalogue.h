// Where each item lives: the collections of the library with their default
// paths and the item types they hold, in one table that tools and data
// servers can walk.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tessel/collection.h"

namespace tessel {

struct TESSEL_API CollectionInfo {
    const char* name;                // the collection's class name
    const char* path;                // its default path: the directory of its items
    std::vector<std::string> types;  // JSON type names it takes, in the order it tries them
    // A new collection of this class following `path`.
    std::unique_ptr<cDBCollection> (*create)(const std::string& path);
};

// Every collection with a default path, in declaration order.
TESSEL_API const std::vector<CollectionInfo>& CollectionCatalogue();

// The directory a data server keeps items of JSON type `type` in so that
// collections follow them: the path of the first collection that takes the
// type, or "" when none does. (Certificates are taken by several, each from
// a directory of its own; the first of them is returned.)
TESSEL_API std::string ItemHome(const std::string& type);

// Where the items of one registered item class live.
struct TESSEL_API ItemPlace {
    std::string className;  // e.g. "cDBConfigSSH"
    std::string type;       // its JSON type name, e.g. "SSHConfigObject"
    // ItemHome(type), else the directory of the class's default item; "/" or
    // "" when neither names one (whoever stores such an item chooses where).
    std::string directory;
    // The name of the class's default item; "" for classes with many items,
    // each named by whoever creates it.
    std::string name;
};

// Every item class registered with the object factory, in registration order.
TESSEL_API std::vector<ItemPlace> ItemPlaces();

}  // namespace tessel
