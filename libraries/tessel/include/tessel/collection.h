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
#include <tuple>
#include <vector>

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

// ---- Slots: the shapes of what a collection holds ----
//
// Each slot keeps a committed and a staged copy. Offer takes an item of its
// class into the staged copy (false, and no change, for any other); Commit
// copies staged to committed; Changed compares the two by item hash.

// Whether two maps of items differ: in size, in a key at the same position,
// or in the hash of a pair of entries, walked in key order.
template <class K, class V>
bool MapsDiffer(const kora::cMap<K, V>& a, const kora::cMap<K, V>& b) {
    if (a.size() != b.size()) return true;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (i->first != j->first || i->second.ToHash() != j->second.ToHash()) return true;
    return false;
}

// One item of class T. A sync without such an item keeps the previous one.
template <class T>
struct SingleSlot {
    using Item = T;
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
    // The committed item's own text, for the collection's text form.
    std::string Text() const { return committed.ToString(""); }
};

// Items of class T by item name. A sync replaces the whole map.
template <class T>
struct MapSlot {
    using Item = T;
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
    std::string Text() const { return std::string(); }
};

// Rules of class T by rank (GetRank()), then by name. A sync replaces them all.
template <class T>
struct RankedSlot {
    using Item = T;
    using Ranks = kora::cMap<unsigned, kora::cMap<std::string, T>>;
    Ranks committed, staged;

    void Begin() { staged.clear(); }
    bool Offer(const cDBItem* item) {
        const T* t = AsType<T>(item);
        if (!t) return false;
        staged[const_cast<T*>(t)->GetRank()][t->GetName()] = *t;
        return true;
    }
    void Commit() { committed = staged; }
    bool Changed() const {
        if (committed.size() != staged.size()) return true;
        for (auto i = committed.begin(), j = staged.begin(); i != committed.end(); ++i, ++j)
            if (i->first != j->first || MapsDiffer(i->second, j->second)) return true;
        return false;
    }
    std::string Text() const { return std::string(); }
};

// One item of class T per fixed name, in the order `Names::kNames` lists
// them; items with another name are refused. A name no sync sent keeps its
// default item.
template <class T, class Names>
struct NamedSlot {
    using Item = T;
    static constexpr size_t kCount = sizeof(Names::kNames) / sizeof(Names::kNames[0]);
    T committed[kCount], staged[kCount];

    void Begin() {}
    bool Offer(const cDBItem* item) {
        const T* t = AsType<T>(item);
        if (!t) return false;
        for (size_t i = 0; i < kCount; ++i) {
            if (t->GetName() != Names::kNames[i]) continue;
            staged[i] = *t;
            return true;
        }
        return false;
    }
    void Commit() {
        for (size_t i = 0; i < kCount; ++i) committed[i] = staged[i];
    }
    bool Changed() const {
        for (size_t i = 0; i < kCount; ++i)
            if (committed[i].ToHash() != staged[i].ToHash()) return true;
        return false;
    }
    std::string Text() const { return std::string(); }
    // The committed item of `name`, or null for a name that is not one of the slots.
    const T* Find(const std::string& name) const {
        for (size_t i = 0; i < kCount; ++i)
            if (name == Names::kNames[i]) return &committed[i];
        return nullptr;
    }
};

// ---- The family engine ----

// Fills each "%s" of `format` with the next text; "%%" stands for "%".
TESSEL_API std::string FillSlots(const char* format, const std::vector<std::string>& texts);

// A collection made of slots, tried in the order given: ValidateDBItem hands
// an item to the first slot that takes it, EndSync commits every slot,
// HasChanged compares them in order. Derived names its default path (the
// directory of its items, so that it follows their changes) in kPath and its
// text form in kText, where each "%s" takes the text of one committed single
// item, in slot order.
template <class Derived, class... Slots>
class cSlotCollection : public cDBCollection {
  public:
    explicit cSlotCollection(const std::string& path = Derived::kPath) : cDBCollection(path) {}

    void BeginSync() override {
        std::apply([](auto&... slot) { (slot.Begin(), ...); }, m_slots);
    }
    bool ValidateDBItem(cDBItem* item) override {
        return std::apply([item](auto&... slot) { return (slot.Offer(item) || ...); }, m_slots);
    }
    void EndSync() override {
        std::apply([](auto&... slot) { (slot.Commit(), ...); }, m_slots);
        synced = true;
    }
    bool HasChanged() override {
        return std::apply([](auto&... slot) { return (slot.Changed() || ...); }, m_slots);
    }
    std::string ToString(const std::string&) const override {
        std::vector<std::string> texts;
        std::apply([&](const auto&... slot) { (texts.push_back(slot.Text()), ...); }, m_slots);
        return FillSlots(Derived::kText, texts);
    }

    // Calls `fn(T::kInfo)` for the item class of every slot, in slot order.
    template <class Fn>
    static void ForEachItemClass(Fn fn) {
        (fn(Slots::Item::kInfo), ...);
    }

    // ---- read access to the committed copies ----

    // The committed item of a single slot of class T.
    template <class T>
    const T& Get() const {
        return std::get<SingleSlot<T>>(m_slots).committed;
    }
    // The committed items of a keyed slot of class T, by name.
    template <class T>
    const kora::cMap<std::string, T>& GetAll() const {
        return std::get<MapSlot<T>>(m_slots).committed;
    }
    // One committed item of a keyed slot by name, or null.
    template <class T>
    const T* Find(const std::string& name) const {
        const auto& all = GetAll<T>();
        auto found = all.find(name);
        return found == all.end() ? nullptr : &found->second;
    }
    // The committed rules of class T by rank, then name.
    template <class T>
    const typename RankedSlot<T>::Ranks& GetRanked() const {
        return std::get<RankedSlot<T>>(m_slots).committed;
    }
    // Calls `fn(rule)` for every committed rule of class T, by rank, then name.
    template <class T, class Fn>
    void ForEachRanked(Fn fn) const {
        for (const auto& rank : GetRanked<T>())
            for (const auto& rule : rank.second) fn(rule.second);
    }

  protected:
    std::tuple<Slots...> m_slots;
};

}  // namespace tessel
