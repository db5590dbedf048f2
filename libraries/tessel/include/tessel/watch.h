// Watches: what cDataClient::Watch and WatchAll hand out and run.
//
// A watch follows one item (or every item of one class in a directory) and
// calls its callback with the item before and after each sync that changed
// it. Underneath it is a one-directory collection: the client registers the
// watched directory with the server, which syncs it after every change there,
// and the watch keeps the items it follows in a keyed slot (MapSlot), so an
// item that a sync no longer brings counts as deleted.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "tessel/collection.h"
#include "tessel/export.h"

namespace tessel {

class cDataClient;

// One watch as the client drives it: the sync of its directory begins, offers
// each item, and ends; at the end the watch reports what changed and commits.
class TESSEL_API cWatchEntry {
  public:
    explicit cWatchEntry(std::string directory) : m_directory(std::move(directory)) {}
    virtual ~cWatchEntry() = default;
    cWatchEntry(const cWatchEntry&) = delete;
    cWatchEntry& operator=(const cWatchEntry&) = delete;

    const std::string& Directory() const { return m_directory; }

    void Begin() {
        m_begun = true;
        OnBegin();
    }
    void Offer(const cDBItem* item) {
        if (m_begun) OnOffer(item);
    }
    // A watch added while a sync was running waits for the next whole one.
    void End() {
        if (!m_begun || !m_active) return;
        m_begun = false;
        OnEnd();
    }
    // A removed watch reports nothing more, even from a sync under way.
    void Deactivate() { m_active = false; }
    bool Active() const { return m_active; }

  protected:
    virtual void OnBegin() = 0;
    virtual void OnOffer(const cDBItem* item) = 0;
    virtual void OnEnd() = 0;

    // Whether an item changed from `before` to `after` (null: absent).
    static bool Differ(const cDBItem* before, const cDBItem* after) {
        if (!before || !after) return before != after;
        return before->ToHash() != after->ToHash();
    }

  private:
    std::string m_directory;
    bool m_begun = false;
    bool m_active = true;
};

// Follows the item `name` of class T: reports the first sync (also when the
// item is absent or equal to the defaults), every change and the deletion.
template <class T>
class cItemWatch : public cWatchEntry {
  public:
    using Callback = std::function<void(const T* before, const T* after)>;
    cItemWatch(std::string directory, std::string name, Callback callback)
        : cWatchEntry(std::move(directory)),
          m_name(std::move(name)),
          m_callback(std::move(callback)) {}

  protected:
    void OnBegin() override { m_slot.Begin(); }
    void OnOffer(const cDBItem* item) override {
        if (item->GetName() == m_name) m_slot.Offer(item);
    }
    void OnEnd() override {
        const T* before = Find(m_slot.committed);
        const T* after = Find(m_slot.staged);
        const bool report = !m_reported || Differ(before, after);
        m_reported = true;
        if (report && m_callback) m_callback(before, after);
        m_slot.Commit();
    }

  private:
    const T* Find(const kora::cMap<std::string, T>& map) const {
        auto it = map.find(m_name);
        return it == map.end() ? nullptr : &it->second;
    }

    std::string m_name;
    Callback m_callback;
    MapSlot<T> m_slot;
    bool m_reported = false;
};

// Follows every item of class T in one directory, by name: reports each item
// that appeared, changed or went away (the first sync reports every item).
template <class T>
class cDirectoryWatch : public cWatchEntry {
  public:
    using Callback = std::function<void(const std::string& name, const T* before, const T* after)>;
    cDirectoryWatch(std::string directory, Callback callback)
        : cWatchEntry(std::move(directory)), m_callback(std::move(callback)) {}

  protected:
    void OnBegin() override { m_slot.Begin(); }
    void OnOffer(const cDBItem* item) override { m_slot.Offer(item); }
    void OnEnd() override {
        // Both maps are sorted by name: walk them side by side.
        auto b = m_slot.committed.begin(), a = m_slot.staged.begin();
        while (m_callback && (b != m_slot.committed.end() || a != m_slot.staged.end())) {
            const bool takeBefore =
                a == m_slot.staged.end() || (b != m_slot.committed.end() && b->first <= a->first);
            const bool takeAfter =
                b == m_slot.committed.end() || (a != m_slot.staged.end() && a->first <= b->first);
            const std::string& name = takeBefore ? b->first : a->first;
            const T* before = takeBefore ? &b->second : nullptr;
            const T* after = takeAfter ? &a->second : nullptr;
            if (Differ(before, after)) m_callback(name, before, after);
            if (takeBefore) ++b;
            if (takeAfter) ++a;
        }
        m_slot.Commit();
    }

  private:
    Callback m_callback;
    MapSlot<T> m_slot;
};

// The handle of a watch: the watch lives as long as its handle. Destroying the
// handle (or Reset) ends the watch, and the client deregisters the directory
// when no watch is left in it. Destroy handles before their client (a handle
// that outlives it does nothing), from the thread that uses the client or
// from inside a callback.
class TESSEL_API cWatch {
  public:
    cWatch() = default;
    ~cWatch() { Reset(); }
    cWatch(cWatch&& other) noexcept = default;
    cWatch& operator=(cWatch&& other) noexcept {
        if (this != &other) {
            Reset();
            m_client = std::move(other.m_client);
            m_entry = std::move(other.m_entry);
        }
        return *this;
    }
    cWatch(const cWatch&) = delete;
    cWatch& operator=(const cWatch&) = delete;

    // Ends the watch now.
    void Reset();
    explicit operator bool() const { return m_entry != nullptr; }

  private:
    friend class cDataClient;
    cWatch(std::weak_ptr<cDataClient*> client, std::shared_ptr<cWatchEntry> entry)
        : m_client(std::move(client)), m_entry(std::move(entry)) {}

    std::weak_ptr<cDataClient*> m_client;
    std::shared_ptr<cWatchEntry> m_entry;
};

}  // namespace tessel
