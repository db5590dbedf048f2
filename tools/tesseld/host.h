// cHost: tesseld's data-server host, the store behind every path of the tree.
//
//   /Status/...     status items, in memory only (status changes all the time;
//                   writing it to flash would wear the flash out)
//   /Users/<name>   user accounts; the login password only as a salted hash
//   /Features/      the device's feature list, from the command line
//   anything else   configuration items, in the SQLite store
//
// A path ending in "/" reads as a listing of that directory: its items and,
// named with a trailing "/", its subdirectories.
//
// Every operation runs on the service's delivery thread, one at a time, and
// so does the host's own timer; the host takes no locks. Administrative
// operations (users, files, restore points, factory reset, reboot, items of
// the admin-only access class) are refused to peers that the admin policy
// does not accept. Bounds keep what a client can make the server hold finite:
// item, status, user and flag counts, flag sizes, import file size, log book.
#pragma once

#include <sys/types.h>

#include <exception>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kora/kora.h"
#include "logbook.h"
#include "peers.h"
#include "store.h"
#include "tessel/dataserver.h"
#include "tessel/items_log.h"

namespace tesseld {

struct cOptions {
    std::string stateDir = "/var/lib/tesseld";
    std::string factoryFile;  // the factory configuration document file
    std::string serviceName = tessel::kDataServerService;
    std::string adminGroup;         // "": only root and the server's own user administer
    std::string adminPasswordFile;  // first start: the admin's password ("" generates one)
    std::string rebootCommand;      // run through /bin/sh -c; "" runs nothing
    unsigned fallbackTimeout = 120;
    unsigned minPasswordLength = 8;
    size_t maxImportBytes = 8u << 20;
    size_t maxItems = 10000;
    size_t maxStatusItems = 10000;
    size_t maxUsers = 256;
    size_t maxFlags = 1024;
    size_t maxFlagBytes = 64u << 10;
    size_t maxLogEntries = 50000;
    std::vector<std::string> features;
    bool echoWarnings = true;  // the server's warnings also go to stderr
};

// Name of the user the first start creates, and its access level.
constexpr const char* kFirstUser = "admin";
constexpr unsigned kAdminLevel = 3;
// Log unit of the server's own entries.
constexpr const char* kLogUnit = "tesseld";

inline int64_t NowSeconds() {
    return kora::cTime::Now().ToSeconds();
}

class cHost : public tessel::cDataServerHost, public kora::cMessageSink {
  public:
    cHost(kora::cService* service, const cOptions& options);
    ~cHost() override;

    // Opens the state directory and seeds a new store: the factory
    // configuration and, when there is no user, the first administrator,
    // whose password is then returned in `firstPassword` (shown once by the
    // caller, stored nowhere in plain). False with `error` on failure.
    bool Open(std::string& error, std::string& firstPassword);
    // Connects the host to its server; a pending fallback resumes here.
    void Attach(tessel::cDataServer* server);

    // The host's timers.
    bool ProcessMsg(kora::cMsg& msg) override;

    // ---- cDataServerHost ----
    kora::Ref<tessel::cDBItem> GetItemRef(const kora::s_string& path) override;
    kora::s_int8 SetItem(tessel::cDBItem* item) override;
    kora::s_int8 DeleteItem(const kora::s_string& path) override;
    kora::s_int8 DuplicateItem(const kora::s_string& directory, const kora::s_string& name,
                               const kora::s_string& newName) override;
    kora::s_int8 RenameItem(const kora::s_string& directory, const kora::s_string& name,
                            const kora::s_string& newName,
                            std::set<kora::s_string>& changed) override;
    void SyncCollection(tessel::cDataServer* server, kora::cChannel* channel,
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
    kora::Ref<tessel::cDBLogResult> ReadLogRef(const kora::cTime& from, const kora::s_string& unit,
                                               kora::s_uint8 level, kora::s_uint8 count,
                                               kora::s_uint64 status) override;
    kora::s_int8 ExportLog(const kora::cTime& from, const kora::cTime& to, kora::s_uint8 level,
                           const std::set<kora::s_string>& units,
                           const kora::s_string& filepath) override;
    kora::s_int8 AddUser(const kora::s_string& username, const kora::s_string& password,
                         kora::s_uint8 accessLevel, kora::s_uint8 complexity,
                         kora::s_uint8 minLength) override;
    kora::s_int8 DeleteUser(const kora::s_string& username) override;
    kora::s_int8 SetPassword(const kora::s_string& username, const kora::s_string& password,
                             kora::s_uint8 complexity) override;
    bool AuthenticateUser(const kora::s_string& username, const kora::s_string& password,
                          kora::s_uint8& accessLevel) override;
    kora::s_int8 SetFlag(const kora::s_string& name, kora::ISerialize* value) override;
    kora::Ref<kora::ISerialize> GetFlagRef(const kora::s_string& name) override;
    kora::s_int8 DeleteFlag(const kora::s_string& name) override;
    kora::s_int8 ExportFlags(const kora::s_string& filepath) override;
    void DumpFinished() override;

    // For tests and the start-up report.
    cStore& Store() { return m_store; }
    cLogBook& LogBook() { return m_log; }
    bool FallbackPending() { return m_store.HasSlot(kFallbackSlot); }
    size_t StatusCount() const { return m_status.size(); }

    // Problems met at start-up that do not stop the server.
    const std::vector<std::string>& Warnings() const { return m_warnings; }

  private:
    // Who is asking: the peer of the request being handled (none for the
    // host's own work, which counts as administrative).
    struct cPeer {
        bool local = true;
        uid_t uid = 0;
        gid_t gid = 0;
        uint32_t pid = 0;
        std::string identity;
    };
    cPeer Requester() const;
    static cPeer PeerOf(kora::cChannel* channel);
    bool IsAdmin(const cPeer& peer) const;
    // True for an administrator; otherwise logs `what` as refused.
    bool AdminOnly(const std::string& what);
    bool MayRead(const cPeer& peer, tessel::cDBItem& item) const;

    // Runs `body`; an exception (a damaged document, no memory) is logged and
    // gives `failure`, so no request can stop the server.
    template <class R, class F>
    R Guarded(const std::string& what, R failure, F&& body) {
        try {
            return body();
        } catch (const std::exception& e) {
            Note(tessel::kLogError, what + " failed: " + e.what());
        } catch (...) {
            Note(tessel::kLogError, what + " failed");
        }
        return failure;
    }

    // ---- the tree ----
    enum class Area { Config, Status, Users, Features };
    static Area AreaOf(const std::string& directory);
    kora::Ref<tessel::cDBItem> Find(const std::string& path);
    ItemList ItemsIn(const std::string& directory);
    // The listing of a directory, or null for a directory that is not there.
    kora::Ref<tessel::cDBDirectory> Listing(const std::string& directory);
    // Paths of stored items that refer to `path`.
    std::vector<std::string> LinksTo(const std::string& path);
    // Whether an item of this name, directory and type may be stored at all.
    bool PlaceAllowed(tessel::cDBItem& item, std::string& why);
    // Whether every value passes the checks of the item's class.
    bool ValuesAccepted(tessel::cDBItem& item, std::string& why);
    // Stores a status or configuration item within the bounds.
    bool StoreItem(tessel::cDBItem& item);
    kora::s_int8 CopyOrMove(const std::string& dir, const std::string& name,
                            const std::string& newName, bool move);
    size_t AdminCount();

    // ---- configuration as a whole ----
    // Replaces the configuration in one transaction; with `keepFallback` the
    // current one is saved first and the fallback timer armed, otherwise a
    // pending fallback is dropped.
    bool ReplaceConfig(const ItemList& items, bool keepFallback);
    // Puts a saved copy back in one transaction (and ends a pending fallback
    // when it is the fallback copy).
    bool RestoreSlot(const char* slot);
    void FallBack(const std::string& reason);
    void ArmFallbackTimer(unsigned seconds);
    // Re-syncs every directory of the configuration before and after a change.
    void NotifyChanged(const std::set<std::string>& before);
    std::set<std::string> ConfigDirs();

    // Loads every document of a document file's "Items"; false with one
    // reason per refused document (and nothing in `items` to rely on).
    bool LoadItems(const Json::Value& root, ItemList& items, std::vector<std::string>& errors);
    bool LoadFactory(std::string& error);
    bool Seed(std::string& error, std::string& firstPassword);
    bool WriteDocumentFile(const std::string& path, const std::string& text,
                           const std::string& what, const cPeer& peer);
    bool CheckFilePath(const std::string& path, const std::string& what);
    void FinishSnapshot();

    // ---- log book ----
    cUnitPolicy PolicyOf(const std::string& unit);
    // An entry of the server's own in the log book (warnings also on stderr).
    void Note(unsigned level, const std::string& text, const std::string& user = "");

    kora::cService* m_service;
    cOptions m_options;
    cAdminPolicy m_admin;
    tessel::cDataServer* m_server = nullptr;
    cStore m_store;
    cLogBook m_log;
    int m_lockFd = -1;
    std::map<std::string, kora::Ref<tessel::cDBItem>> m_status;
    std::map<std::string, cUnitPolicy> m_policies;

    ItemList m_factory;
    std::string m_factoryDigest;

    kora::cTimer m_fallbackTimer;

    bool m_snapshotPending = false;
    std::string m_snapshotPath;
    cPeer m_snapshotPeer;

    struct cFailures {
        unsigned count = 0;
        int64_t lockedUntil = 0;  // seconds since the epoch
    };
    std::map<std::string, cFailures> m_failures;
    std::vector<std::string> m_warnings;
};

}  // namespace tesseld
