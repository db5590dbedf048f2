// IDataServer: what the data-server process provides behind cDataServer.
//
// The library stores nothing: every request that reaches cDataServer is
// handed to the host through one of these operations, and the outcome is
// sent back to the client. A Result is 1 for success; any other value is
// passed back unchanged and counts as failure. Objects the host returns for a
// reply (GetItem, ReadLog, GetFlag) carry one reference that the reply takes
// over; the host does not release them. So `return stored.get();` from
// GetItem hands over a reference the host does not own, and the reply frees
// the stored item: a host derives from cDataServerHost below instead, whose
// Ref forms cannot get this wrong.
#pragma once

#include <set>
#include <utility>

#include "kora/types.h"
#include "tessel/export.h"
#include "tessel/item.h"
#include "tessel/items_log.h"

namespace kora {
class cChannel;
}

namespace tessel {

class cDataServer;

class TESSEL_API IDataServer {
  public:
    virtual cDBItem* GetItem(const kora::s_string& path) = 0;
    virtual kora::s_int8 SetItem(cDBItem* item) = 0;
    virtual kora::s_int8 DeleteItem(const kora::s_string& path) = 0;
    virtual kora::s_int8 DuplicateItem(const kora::s_string& directory, const kora::s_string& name,
                                       const kora::s_string& newName) = 0;
    // Fills `changed` with further paths the rename touched; each is notified.
    virtual kora::s_int8 RenameItem(const kora::s_string& directory, const kora::s_string& name,
                                    const kora::s_string& newName,
                                    std::set<kora::s_string>& changed) = 0;
    // Sends the items of the collection at `path` with server->SendSyncItem.
    virtual void SyncCollection(cDataServer* server, kora::cChannel* channel,
                                const kora::s_string& path) = 0;
    virtual kora::s_int8 CreateRestorePoint() = 0;
    virtual kora::s_int8 Restore() = 0;
    virtual kora::s_int8 ImportConfig(const kora::s_string& filepath, kora::s_bool useFallback) = 0;
    virtual kora::s_int8 ConfirmConfig() = 0;
    virtual kora::s_int8 FallbackConfig() = 0;
    virtual kora::s_int8 ExportConfig(const kora::s_string& filepath) = 0;
    virtual kora::s_int8 ExportStatus(const kora::s_string& filepath) = 0;
    virtual kora::s_int8 FactoryReset() = 0;
    virtual std::pair<kora::s_string, kora::s_string> GetFactoryConfigInfo() = 0;
    // `identity` is what the requesting peer announced about itself.
    virtual void Reboot(const kora::s_string& identity) = 0;
    virtual kora::s_int8 CreateSnapshot(const kora::s_string& filepath) = 0;
    virtual void Log(const kora::cTime& time, const kora::s_string& unit, kora::s_uint8 level,
                     const kora::s_string& type, const kora::s_string& text,
                     const kora::s_string& object, const kora::s_string& peer,
                     const kora::s_string& user, kora::s_int8 outcome) = 0;
    // A cDBLogResult, or null.
    virtual kora::ISerialize* ReadLog(const kora::cTime& from, const kora::s_string& unit,
                                      kora::s_uint8 level, kora::s_uint8 count,
                                      kora::s_uint64 status) = 0;
    virtual kora::s_int8 ExportLog(const kora::cTime& from, const kora::cTime& to,
                                   kora::s_uint8 level, const std::set<kora::s_string>& units,
                                   const kora::s_string& filepath) = 0;
    virtual kora::s_int8 AddUser(const kora::s_string& username, const kora::s_string& password,
                                 kora::s_uint8 accessLevel, kora::s_uint8 second,
                                 kora::s_uint8 third) = 0;
    virtual kora::s_int8 DeleteUser(const kora::s_string& username) = 0;
    virtual kora::s_int8 SetPassword(const kora::s_string& username, const kora::s_string& password,
                                     kora::s_uint8 value) = 0;
    // True when the credentials are good; `accessLevel` (0 on entry) then holds the user's level.
    virtual bool AuthenticateUser(const kora::s_string& username, const kora::s_string& password,
                                  kora::s_uint8& accessLevel) = 0;
    virtual kora::s_int8 SetFlag(const kora::s_string& name, kora::ISerialize* value) = 0;
    virtual kora::ISerialize* GetFlag(const kora::s_string& name) = 0;
    virtual kora::s_int8 DeleteFlag(const kora::s_string& name) = 0;
    virtual kora::s_int8 ExportFlags(const kora::s_string& filepath) = 0;
    // The running dump cycle ended (every client answered, or the timer ran out).
    virtual void DumpFinished() = 0;

  protected:
    ~IDataServer() = default;
};

// A host that refuses every operation (Result 0, null, false, empty strings;
// no items synced, log entries and reboot requests ignored), so that a host
// overrides only what it serves. It returns replies through Ref forms: a
// host returns what it keeps (`return stored;`) and the server takes a
// reference of its own for the reply.
class TESSEL_API cDataServerHost : public IDataServer {
  public:
    virtual ~cDataServerHost() = default;

    // ---- the replies, with the ownership in the types ----
    virtual kora::Ref<cDBItem> GetItemRef(const kora::s_string& path);
    virtual kora::Ref<cDBLogResult> ReadLogRef(const kora::cTime& from, const kora::s_string& unit,
                                               kora::s_uint8 level, kora::s_uint8 count,
                                               kora::s_uint64 status);
    virtual kora::Ref<kora::ISerialize> GetFlagRef(const kora::s_string& name);
    // The raw forms hand the Ref forms' references to the reply.
    cDBItem* GetItem(const kora::s_string& path) final { return GetItemRef(path).Detach(); }
    kora::ISerialize* ReadLog(const kora::cTime& from, const kora::s_string& unit,
                              kora::s_uint8 level, kora::s_uint8 count,
                              kora::s_uint64 status) final {
        return ReadLogRef(from, unit, level, count, status).Detach();
    }
    kora::ISerialize* GetFlag(const kora::s_string& name) final {
        return GetFlagRef(name).Detach();
    }

    // ---- everything else, refused ----
    kora::s_int8 SetItem(cDBItem* item) override;
    kora::s_int8 DeleteItem(const kora::s_string& path) override;
    kora::s_int8 DuplicateItem(const kora::s_string& directory, const kora::s_string& name,
                               const kora::s_string& newName) override;
    kora::s_int8 RenameItem(const kora::s_string& directory, const kora::s_string& name,
                            const kora::s_string& newName,
                            std::set<kora::s_string>& changed) override;
    void SyncCollection(cDataServer* server, kora::cChannel* channel,
                        const kora::s_string& path) override;
    kora::s_int8 CreateRestorePoint() override;
    kora::s_int8 Restore() override;
    kora::s_int8 ImportConfig(const kora::s_string& filepath, kora::s_bool useFallback) override;
    kora::s_int8 ConfirmConfig() override;
    kora::s_int8 FallbackConfig() override;
    kora::s_int8 ExportConfig(const kora::s_string& filepath) override;
    kora::s_int8 ExportStatus(const kora::s_string& filepath) override;
    kora::s_int8 FactoryReset() override;
    std::pair<kora::s_string, kora::s_string> GetFactoryConfigInfo() override;
    void Reboot(const kora::s_string& identity) override;
    kora::s_int8 CreateSnapshot(const kora::s_string& filepath) override;
    void Log(const kora::cTime& time, const kora::s_string& unit, kora::s_uint8 level,
             const kora::s_string& type, const kora::s_string& text, const kora::s_string& object,
             const kora::s_string& peer, const kora::s_string& user, kora::s_int8 outcome) override;
    kora::s_int8 ExportLog(const kora::cTime& from, const kora::cTime& to, kora::s_uint8 level,
                           const std::set<kora::s_string>& units,
                           const kora::s_string& filepath) override;
    kora::s_int8 AddUser(const kora::s_string& username, const kora::s_string& password,
                         kora::s_uint8 accessLevel, kora::s_uint8 second,
                         kora::s_uint8 third) override;
    kora::s_int8 DeleteUser(const kora::s_string& username) override;
    kora::s_int8 SetPassword(const kora::s_string& username, const kora::s_string& password,
                             kora::s_uint8 value) override;
    bool AuthenticateUser(const kora::s_string& username, const kora::s_string& password,
                          kora::s_uint8& accessLevel) override;
    kora::s_int8 SetFlag(const kora::s_string& name, kora::ISerialize* value) override;
    kora::s_int8 DeleteFlag(const kora::s_string& name) override;
    kora::s_int8 ExportFlags(const kora::s_string& filepath) override;
    void DumpFinished() override;
};

}  // namespace tessel
