#include "store.h"

#include "documents.h"

namespace tesseld {

using tessel::tools::ItemBytes;
using tessel::tools::ItemFromBytes;

namespace {

// Version 1 of the layout; a later release migrates from the number it finds.
constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS items(path TEXT PRIMARY KEY, dir TEXT NOT NULL, data BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS items_by_dir ON items(dir);
CREATE TABLE IF NOT EXISTS saved(slot TEXT NOT NULL, path TEXT NOT NULL, dir TEXT NOT NULL,
                                 data BLOB NOT NULL, PRIMARY KEY(slot, path));
CREATE TABLE IF NOT EXISTS users(name TEXT PRIMARY KEY, hash TEXT NOT NULL, data BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS flags(name TEXT PRIMARY KEY, data BLOB);
INSERT OR IGNORE INTO meta(key, value) VALUES('schema', '1');
)";

ItemList ReadItems(cStatement& st, size_t* unreadable) {
    ItemList items;
    while (st.Step()) {
        kora::Ref<tessel::cDBItem> item = ItemFromBytes(st.Blob(0));
        if (item)
            items.push_back(item);
        else if (unreadable)
            ++*unreadable;
    }
    return items;
}

}  // namespace

bool cStore::Open(const std::string& file, std::string& error) {
    if (!m_db.Open(file, Durability::Full) || !m_db.Exec(kSchema)) {
        error = m_db.Error();
        return false;
    }
    std::string schema;
    if (!GetMeta("schema", schema) || schema != "1") {
        error = file + ": unknown database layout " + schema;
        return false;
    }
    return true;
}

// ---- state values ----

bool cStore::GetMeta(const std::string& key, std::string& value) {
    cStatement st(m_db, "SELECT value FROM meta WHERE key = ?");
    if (!st.BindAll(key).Step()) return false;
    value = st.Text(0);
    return true;
}

bool cStore::SetMeta(const std::string& key, const std::string& value) {
    return cStatement(m_db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)")
        .BindAll(key, value)
        .Run();
}

bool cStore::DeleteMeta(const std::string& key) {
    return cStatement(m_db, "DELETE FROM meta WHERE key = ?").BindAll(key).Run();
}

// ---- configuration items ----

kora::Ref<tessel::cDBItem> cStore::GetItem(const std::string& path) {
    cStatement st(m_db, "SELECT data FROM items WHERE path = ?");
    if (!st.BindAll(path).Step()) return kora::Ref<tessel::cDBItem>();
    return ItemFromBytes(st.Blob(0));
}

bool cStore::HasItem(const std::string& path) {
    cStatement st(m_db, "SELECT 1 FROM items WHERE path = ?");
    return st.BindAll(path).Step();
}

ItemList cStore::ItemsIn(const std::string& directory) {
    cStatement st(m_db, "SELECT data FROM items WHERE dir = ? ORDER BY path");
    st.BindAll(directory);
    return ReadItems(st, nullptr);
}

ItemList cStore::AllItems(size_t* unreadable) {
    cStatement st(m_db, "SELECT data FROM items ORDER BY path");
    return ReadItems(st, unreadable);
}

std::set<std::string> cStore::Directories() {
    std::set<std::string> dirs;
    cStatement st(m_db, "SELECT DISTINCT dir FROM items");
    while (st.Step()) dirs.insert(st.Text(0));
    return dirs;
}

int64_t cStore::Count(const char* sql) {
    cStatement st(m_db, sql);
    return st.Step() ? st.Int(0) : 0;
}

int64_t cStore::ItemCount() {
    return Count("SELECT COUNT(*) FROM items");
}

bool cStore::PutItem(const tessel::cDBItem& item) {
    return cStatement(m_db, "INSERT OR REPLACE INTO items(path, dir, data) VALUES(?, ?, ?)")
        .BindAll(std::string(item.GetPath()), std::string(item.GetDir()), ItemBytes(item))
        .Run();
}

bool cStore::DeleteItem(const std::string& path) {
    return cStatement(m_db, "DELETE FROM items WHERE path = ?").BindAll(path).Run() &&
           m_db.Changes() > 0;
}

bool cStore::ReplaceItems(const ItemList& items) {
    if (!m_db.Exec("DELETE FROM items")) return false;
    cStatement st(m_db, "INSERT OR REPLACE INTO items(path, dir, data) VALUES(?, ?, ?)");
    for (const auto& item : items) {
        st.Reset();
        if (!st.BindAll(std::string(item->GetPath()), std::string(item->GetDir()), ItemBytes(*item))
                 .Run())
            return false;
    }
    return true;
}

// ---- saved copies ----

bool cStore::SaveSlot(const std::string& slot) {
    return DropSlot(slot) &&
           cStatement(
               m_db,
               "INSERT INTO saved(slot, path, dir, data) SELECT ?, path, dir, data FROM items")
               .BindAll(slot)
               .Run() &&
           SetMeta("slot:" + slot, "1");
}

bool cStore::HasSlot(const std::string& slot) {
    // A slot is marked even when the configuration it saved was empty.
    std::string mark;
    return GetMeta("slot:" + slot, mark);
}

bool cStore::RestoreSlot(const std::string& slot) {
    return HasSlot(slot) && m_db.Exec("DELETE FROM items") &&
           cStatement(m_db,
                      "INSERT INTO items(path, dir, data) SELECT path, dir, data FROM saved "
                      "WHERE slot = ?")
               .BindAll(slot)
               .Run();
}

bool cStore::DropSlot(const std::string& slot) {
    return cStatement(m_db, "DELETE FROM saved WHERE slot = ?").BindAll(slot).Run() &&
           DeleteMeta("slot:" + slot);
}

// ---- users ----

bool cStore::GetUser(const std::string& name, cUser& user) {
    cStatement st(m_db, "SELECT data, hash FROM users WHERE name = ?");
    if (!st.BindAll(name).Step()) return false;
    kora::Ref<tessel::cDBItem> item = ItemFromBytes(st.Blob(0));
    user.item = kora::Ref<tessel::cDBUser>::Share(dynamic_cast<tessel::cDBUser*>(item.get()));
    user.hash = st.Text(1);
    return bool(user.item);
}

std::vector<cStore::cUser> cStore::Users() {
    std::vector<cUser> users;
    cStatement st(m_db, "SELECT data, hash FROM users ORDER BY name");
    while (st.Step()) {
        kora::Ref<tessel::cDBItem> item = ItemFromBytes(st.Blob(0));
        auto* user = dynamic_cast<tessel::cDBUser*>(item.get());
        if (user) users.push_back({kora::Ref<tessel::cDBUser>::Share(user), st.Text(1)});
    }
    return users;
}

int64_t cStore::UserCount() {
    return Count("SELECT COUNT(*) FROM users");
}

bool cStore::PutUser(const tessel::cDBUser& item, const std::string& hash) {
    return cStatement(m_db, "INSERT OR REPLACE INTO users(name, hash, data) VALUES(?, ?, ?)")
        .BindAll(std::string(item.GetName()), hash, ItemBytes(item))
        .Run();
}

bool cStore::DeleteUser(const std::string& name) {
    return cStatement(m_db, "DELETE FROM users WHERE name = ?").BindAll(name).Run() &&
           m_db.Changes() > 0;
}

// ---- flags ----

bool cStore::GetFlag(const std::string& name, std::vector<uint8_t>& bytes, bool& present) {
    cStatement st(m_db, "SELECT data FROM flags WHERE name = ?");
    if (!st.BindAll(name).Step()) return false;
    present = !st.IsNull(0);
    bytes = present ? st.Blob(0) : std::vector<uint8_t>();
    return true;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> cStore::Flags() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> flags;
    cStatement st(m_db, "SELECT name, data FROM flags ORDER BY name");
    while (st.Step()) flags.emplace_back(st.Text(0), st.Blob(1));
    return flags;
}

int64_t cStore::FlagCount() {
    return Count("SELECT COUNT(*) FROM flags");
}

bool cStore::HasFlag(const std::string& name) {
    cStatement st(m_db, "SELECT 1 FROM flags WHERE name = ?");
    return st.BindAll(name).Step();
}

bool cStore::PutFlag(const std::string& name, const std::vector<uint8_t>& bytes) {
    cStatement st(m_db, "INSERT OR REPLACE INTO flags(name, data) VALUES(?, ?)");
    st.Bind(1, name);
    if (bytes.empty())
        st.BindNull(2);
    else
        st.Bind(2, bytes);
    return st.Run();
}

bool cStore::DeleteFlag(const std::string& name) {
    return cStatement(m_db, "DELETE FROM flags WHERE name = ?").BindAll(name).Run() &&
           m_db.Changes() > 0;
}

}  // namespace tesseld
