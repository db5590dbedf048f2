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

}  // namespace tessel
