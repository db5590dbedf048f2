// cDBCollection: a client-side cache of the items under one server path.
//
// The server fills a registered collection by a sync sequence: BeginSync,
// one ValidateDBItem per item, EndSync. A collection keeps two copies of what
// it holds: the committed copy that the application reads, and the staged copy
// that a running sync fills. Between the last item and EndSync, HasChanged
// tells whether the sync brought anything new (compared by item hash).
//
// Concrete collections are built from slots, each holding one shape of items
// (a single item, a map by name, a map by rank then name) in a committed and a
// staged copy; items are always copies, never the objects offered.
#pragma once

#include <string>

#include "kora/types.h"
#include "tessel/export.h"
#include "tessel/item.h"

namespace tessel {

class TESSEL_API cDBCollection {
  public:
    explicit cDBCollection(const std::string& path) : m_path(path) {}
    virtual ~cDBCollection() = default;
    cDBCollection(const cDBCollection&) = delete;
    cDBCollection& operator=(const cDBCollection&) = delete;

    // Prepares the staged copy for a new sync.
    virtual void BeginSync() {}
    // Copies the item into the staged copy when it belongs here; false (and no
    // change) otherwise.
    virtual bool ValidateDBItem(cDBItem* item) = 0;
    // Commits the staged copy and marks the collection synchronised.
    virtual void EndSync() = 0;
    virtual std::string ToString(const std::string& prefix) const = 0;
    // Whether the staged copy differs from the committed one.
    virtual bool HasChanged() = 0;

    const kora::s_string& GetPath() const { return m_path; }
    // True from the first completed sync on.
    bool IsSynced() const { return synced; }

  protected:
    kora::s_string m_path;
    bool synced = false;
};

// The JSON type name of an item class, from a default instance.
template <class T>
const std::string& TypeOf() {
    static const std::string type = T().GetType();
    return type;
}

// The item as a T when its type name is T's, else null.
template <class T>
const T* AsType(const cDBItem* item) {
    if (!item || item->GetType() != TypeOf<T>()) return nullptr;
    return dynamic_cast<const T*>(item);
}

// One item of class T. A sync without such an item keeps the previous one.
template <class T>
struct SingleSlot {
    T committed, staged;

    void Begin() {}
    bool Offer(const cDBItem* item) {
        const T* t = AsType<T>(item);
        if (!t) return false;
        staged = *t;
        return true;
    }
    void Commit() { committed = staged; }
    bool Changed() const { return committed.ToHash() != staged.ToHash(); }
};

// Items of class T by item name. A sync replaces the whole map.
template <class T>
struct MapSlot {
    kora::cMap<std::string, T> committed, staged;

    void Begin() { staged.clear(); }
    bool Offer(const cDBItem* item) {
        const T* t = AsType<T>(item);
        if (!t) return false;
        staged[t->GetName()] = *t;
        return true;
    }
    void Commit() { committed = staged; }
    bool Changed() const { return MapsDiffer(committed, staged); }

    template <class K, class V>
    static bool MapsDiffer(const kora::cMap<K, V>& a, const kora::cMap<K, V>& b) {
        if (a.size() != b.size()) return true;
        for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
            if (i->first != j->first || i->second.ToHash() != j->second.ToHash()) return true;
        return false;
    }
};

}  // namespace tessel
