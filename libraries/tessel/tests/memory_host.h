// A small in-memory data-server host for tests, written the natural way: it
// keeps what it is given and hands out what it keeps (items by path, flags),
// authenticates its users and keeps a log book. It records the calls it
// receives so tests can check what reached the host; the operations that
// only report a result answer `result`.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tessel/tessel.h"

namespace testhost {

class MemoryHost : public tessel::cDataServerHost {
  public:
    using s_string = kora::s_string;
    using s_int8 = kora::s_int8;

    // Stores a copy of the item under its path.
    void Put(const tessel::cDBItem& item) { items[item.GetPath()] = item.Clone(); }

    // ---- cDataServerHost ----
    kora::Ref<tessel::cDBItem> GetItemRef(const s_string& path) override {
        Record("GetItem " + path);
        auto it = items.find(path);
        return it == items.end() ? kora::Ref<tessel::cDBItem>() : it->second;
    }
    s_int8 SetItem(tessel::cDBItem* item) override {
        if (Call("SetItem " + item->GetPath()) != 1) return result;
        items[item->GetPath()] = kora::Ref<tessel::cDBItem>::Share(item);
        return 1;
    }
    s_int8 DeleteItem(const s_string& path) override {
        if (Call("DeleteItem " + path) != 1) return result;
        return items.erase(path) ? 1 : 0;
    }
    s_int8 DuplicateItem(const s_string& dir, const s_string& name,
                         const s_string& newName) override {
        return Call("DuplicateItem " + dir + name + " " + newName);
    }
    // Reports `renameAlsoChanged` as the further paths a rename changed.
    s_int8 RenameItem(const s_string& dir, const s_string& name, const s_string& newName,
                      std::set<s_string>& changed) override {
        if (result == 1) changed = renameAlsoChanged;
        return Call("RenameItem " + dir + name + " " + newName);
    }
    // Sends every item whose directory lies at or below the collection path.
    void SyncCollection(tessel::cDataServer* server, kora::cChannel* channel,
                        const s_string& path) override {
        Record("SyncCollection " + path);
        for (const auto& entry : items)
            if (entry.second->GetDir().compare(0, path.size(), path) == 0)
                server->SendSyncItem(channel, entry.second);
    }
    s_int8 CreateRestorePoint() override { return Call("CreateRestorePoint"); }
    s_int8 Restore() override { return Call("Restore"); }
    s_int8 ImportConfig(const s_string& path, kora::s_bool fallback) override {
        return Call("ImportConfig " + path + (fallback ? " fallback" : ""));
    }
    s_int8 ConfirmConfig() override { return Call("ConfirmConfig"); }
    s_int8 FallbackConfig() override { return Call("FallbackConfig"); }
    s_int8 ExportConfig(const s_string& path) override { return Call("ExportConfig " + path); }
    s_int8 ExportStatus(const s_string& path) override { return Call("ExportStatus " + path); }
    s_int8 FactoryReset() override { return Call("FactoryReset"); }
    std::pair<s_string, s_string> GetFactoryConfigInfo() override {
        Record("GetFactoryConfigInfo");
        return {"factory-1", "2026-12-05"};
    }
    void Reboot(const s_string& identity) override { Record("Reboot " + identity); }
    s_int8 CreateSnapshot(const s_string& path) override {
        Record("CreateSnapshot " + path);
        return snapshotResult;
    }
    void Log(const kora::cTime&, const s_string& unit, kora::s_uint8 level, const s_string& type,
             const s_string& text, const s_string& object, const s_string& peer,
             const s_string& user, s_int8 outcome) override {
        Record(kora::FormatString("Log %s %u %s %s|%s|%s|%s|%d", unit.c_str(), unsigned(level),
                                  type.c_str(), text.c_str(), object.c_str(), peer.c_str(),
                                  user.c_str(), int(outcome)));
        tessel::cDBLogItem entry;
        entry.SetUnit(unit);
        entry.SetLevel(level.Value());
        entry.SetText(text);
        logbook.push_back(entry);
    }
    kora::Ref<tessel::cDBLogResult> ReadLogRef(const kora::cTime& from, const s_string& unit,
                                               kora::s_uint8 level, kora::s_uint8 count,
                                               kora::s_uint64 id) override {
        Record(kora::FormatString("ReadLog %lld %s %u %u %llu", (long long)from.ToSeconds(),
                                  unit.c_str(), unsigned(level), unsigned(count),
                                  (unsigned long long)id));
        auto out = kora::Ref<tessel::cDBLogResult>::Adopt(kora::New<tessel::cDBLogResult>());
        unsigned n = 0;
        for (auto& e : logbook)
            if (n < count && (unit.empty() || e.GetUnit() == unit)) out->AddEntry(n++, e);
        return out;
    }
    s_int8 ExportLog(const kora::cTime& from, const kora::cTime& to, kora::s_uint8 level,
                     const std::set<s_string>& units, const s_string& path) override {
        std::string names;
        for (const auto& u : units) names += u + ",";
        return Call(kora::FormatString("ExportLog %lld %lld %u %s %s", (long long)from.ToSeconds(),
                                       (long long)to.ToSeconds(), unsigned(level), names.c_str(),
                                       path.c_str()));
    }
    s_int8 AddUser(const s_string& user, const s_string& password, kora::s_uint8 level,
                   kora::s_uint8 second, kora::s_uint8 third) override {
        return Call(kora::FormatString("AddUser %s %s %u %u %u", user.c_str(), password.c_str(),
                                       unsigned(level), unsigned(second), unsigned(third)));
    }
    s_int8 DeleteUser(const s_string& user) override { return Call("DeleteUser " + user); }
    s_int8 SetPassword(const s_string& user, const s_string& password,
                       kora::s_uint8 value) override {
        return Call(kora::FormatString("SetPassword %s %s %u", user.c_str(), password.c_str(),
                                       unsigned(value)));
    }
    bool AuthenticateUser(const s_string& user, const s_string& password,
                          kora::s_uint8& level) override {
        Record("AuthenticateUser " + user);
        auto it = users.find(user);
        if (it == users.end() || it->second.first != password) return false;
        level = it->second.second;
        return true;
    }
    s_int8 SetFlag(const s_string& name, kora::ISerialize* value) override {
        Record("SetFlag " + name + (value ? " " + value->TypeName() : " null"));
        if (value)
            flags[name] = kora::Ref<kora::ISerialize>::Share(value);
        else
            flags.erase(name);
        return result;
    }
    kora::Ref<kora::ISerialize> GetFlagRef(const s_string& name) override {
        Record("GetFlag " + name);
        auto it = flags.find(name);
        return it == flags.end() ? kora::Ref<kora::ISerialize>() : it->second;
    }
    s_int8 DeleteFlag(const s_string& name) override { return Call("DeleteFlag " + name); }
    s_int8 ExportFlags(const s_string& path) override { return Call("ExportFlags " + path); }
    void DumpFinished() override { Record("DumpFinished"); }

    // ---- test side ----
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> g(lock);
        return calls;
    }
    void ClearCalls() {
        std::lock_guard<std::mutex> g(lock);
        calls.clear();
    }
    size_t CountCalls(const std::string& prefix) {
        size_t n = 0;
        for (const auto& c : Calls()) n += c.compare(0, prefix.size(), prefix) == 0;
        return n;
    }

    s_int8 result = 1;          // what the operations with a result code answer
    s_int8 snapshotResult = 1;  // what CreateSnapshot answers
    std::set<s_string> renameAlsoChanged;
    std::map<std::string, kora::Ref<tessel::cDBItem>> items;
    std::map<std::string, std::pair<std::string, kora::s_uint8>> users;
    std::map<std::string, kora::Ref<kora::ISerialize>> flags;
    std::vector<tessel::cDBLogItem> logbook;

  private:
    void Record(const std::string& call) {
        std::lock_guard<std::mutex> g(lock);
        calls.push_back(call);
    }
    s_int8 Call(const std::string& call) {
        Record(call);
        return result;
    }
    std::mutex lock;
    std::vector<std::string> calls;
};

}  // namespace testhost
