// The persistent part of tesseld's database: configuration items, saved
// copies of the configuration (restore point, fallback), user accounts,
// flags and a few state values, all in one SQLite file.
//
// Items are kept in their binary form, which every item class reads back in
// all of its versions, so a store written by an older release stays readable.
// Every call outside a cTransaction is its own durable commit; bulk changes
// run inside one transaction so that they happen whole or not at all.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "database.h"
#include "kora/serialize.h"
#include "tessel/item.h"
#include "tessel/items_system.h"

namespace tesseld {

using ItemList = std::vector<kora::Ref<tessel::cDBItem>>;

// Names of the saved copies of the configuration.
constexpr const char* kRestorePointSlot = "restore-point";
constexpr const char* kFallbackSlot = "fallback";
// State value: when a pending fallback falls due, in seconds since the epoch.
constexpr const char* kFallbackDeadline = "fallback-deadline";

class cStore {
  public:
    // Opens (creating) the file and its tables.
    bool Open(const std::string& file, std::string& error);
    cDatabase& Db() { return m_db; }
    const std::string& Error() const { return m_db.Error(); }

    // ---- state values ----
    bool GetMeta(const std::string& key, std::string& value);
    bool SetMeta(const std::string& key, const std::string& value);
    bool DeleteMeta(const std::string& key);

    // ---- configuration items ----
    // The stored item, or null (also for a row whose class is no longer known).
    kora::Ref<tessel::cDBItem> GetItem(const std::string& path);
    bool HasItem(const std::string& path);
    // Items whose directory is exactly `directory`, by path.
    ItemList ItemsIn(const std::string& directory);
    // Every readable item, by path. `unreadable` counts the rows skipped.
    ItemList AllItems(size_t* unreadable = nullptr);
    std::set<std::string> Directories();
    int64_t ItemCount();
    bool PutItem(const tessel::cDBItem& item);
    // False when there was no such item.
    bool DeleteItem(const std::string& path);
    // Replaces the whole configuration; the caller holds a transaction.
    bool ReplaceItems(const ItemList& items);

    // ---- saved copies of the configuration ----
    // Copies the configuration into the slot, replacing what it held; the
    // caller holds a transaction.
    bool SaveSlot(const std::string& slot);
    bool HasSlot(const std::string& slot);
    // Replaces the configuration with the slot's copy; the caller holds a transaction.
    bool RestoreSlot(const std::string& slot);
    // The caller holds a transaction.
    bool DropSlot(const std::string& slot);

    // ---- users ----
    struct cUser {
        kora::Ref<tessel::cDBUser> item;
        std::string hash;  // salted password hash
    };
    bool GetUser(const std::string& name, cUser& user);
    std::vector<cUser> Users();
    int64_t UserCount();
    bool PutUser(const tessel::cDBUser& item, const std::string& hash);
    bool DeleteUser(const std::string& name);

    // ---- flags ----
    // `present` is false for a flag stored without value.
    bool GetFlag(const std::string& name, std::vector<uint8_t>& bytes, bool& present);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> Flags();
    int64_t FlagCount();
    bool HasFlag(const std::string& name);
    // Empty bytes store the flag without value.
    bool PutFlag(const std::string& name, const std::vector<uint8_t>& bytes);
    bool DeleteFlag(const std::string& name);

  private:
    int64_t Count(const char* sql);
    cDatabase m_db;
};

}  // namespace tesseld
