// cDataClient: how a service process talks to the data server.
//
// The client is a kora service client connected to the data server's service.
// Each public operation is one exchange of named messages: the request goes
// out, the caller's thread waits up to the client's timeout for the named
// answer, and the result is read from the answer's payload. No answer in time
// (or no connection, or an answer without the expected payload) yields the
// operation's failure value: 0 for a result code, false, null, or empty
// strings. The server's own refusals come back unchanged as result codes
// (1 is success).
//
// The client also receives what the server pushes by itself: collection syncs,
// the reboot notification and dump requests. It tells the process through its
// IDataClient. On every connection it registers its own log-unit collection
// ("/Log/Units/") and refreshes the feature list before OnDataConnect; on every
// loss of the connection it deletes the collections registered with it before
// OnDataClose, so the process registers them again after the next connect.
//
// Every public operation holds the service's dispatch lock while it runs, so
// no incoming message (a sync that follows a registration answer, say) is
// handed to the client before the operation is done with its answer. Messages
// therefore wait while an operation blocks; call the operations either from
// the service's delivery thread (inside a callback) or from any other thread,
// but never hold the client from two threads without serialising them.
#pragma once

#include <set>
#include <string>
#include <utility>

#include "kora/kora.h"
#include "tessel/collection.h"
#include "tessel/collections_log.h"
#include "tessel/dataclient_events.h"
#include "tessel/export.h"
#include "tessel/item.h"
#include "tessel/items_log.h"
#include "tessel/items_system.h"

namespace tessel {

class TESSEL_API cDataClient : public kora::cServiceClient {
  public:
    // The shortest time a synchronous request waits, in milliseconds.
    static constexpr unsigned kMinTimeoutMs = 30000;

    // Connects (once the owner calls Start()) to the service named
    // `serverName`. With a null callback, the service object itself receives
    // the events when it implements IDataClient; otherwise every incoming
    // message is refused with an error trace. A timeout at or below 30000 ms
    // becomes 30000 ms.
    cDataClient(kora::cService* service, IDataClient* callback, unsigned int timeout,
                std::string serverName);
    // Deletes the collections still registered and leaves the service.
    ~cDataClient() override;
    cDataClient(const cDataClient&) = delete;
    cDataClient& operator=(const cDataClient&) = delete;

    // The client reacts to its connection through the connect and close
    // messages that DispatchMessage receives, not through these hooks.
    void OnConnect() override {}
    void OnClose() override {}
    // Handles one message addressed to the client; false for names it does
    // not know, and for every message when there is no callback.
    bool DispatchMessage(kora::cMsg& msg) override;

    // ---- Items ----

    // The item at `path` (directory followed by name) with one reference for
    // the caller to release, or null.
    cDBItem* GetItem(const kora::s_string& path);
    // Stores the item (shared with the request, not copied). Waiting, returns
    // the server's result code; not waiting, returns 1 at once. A null item is
    // refused with 0 and nothing is sent.
    kora::s_int8 SetItem(cDBItem* item, bool wait);
    kora::s_int8 DeleteItem(const kora::s_string& path);
    // Gives the item `directory`+`name` the name `newName`.
    kora::s_int8 RenameItem(const kora::s_string& directory, const kora::s_string& name,
                            const kora::s_string& newName);
    // Copies the item `directory`+`name` to `directory`+`newName`.
    kora::s_int8 DuplicateItem(const kora::s_string& directory, const kora::s_string& name,
                               const kora::s_string& newName);

    // ---- Collections ----

    // Registers the collection with the server. On true the client owns it
    // and deletes it on deregistration, on connection loss and on its own
    // destruction. False (a collection is already registered under its path,
    // no answer, or a refusal) leaves the collection with the caller.
    bool RegisterCollection(cDBCollection* collection);
    // Deregisters and deletes a collection registered with this client; the
    // caller's pointer is invalid afterwards, whatever the server answered.
    // A collection this client does not hold is left alone.
    void DeregisterCollection(cDBCollection* collection);
    // The collection registered under `path`, or null.
    cDBCollection* GetCollection(const std::string& path) const;

    // ---- Administration ----

    // Asks the server to reboot the device; nothing is reported.
    void Reboot();
    kora::s_int8 CreateRestorePoint();
    kora::s_int8 Restore();
    kora::s_int8 ConfirmConfig();
    kora::s_int8 FallbackConfig();
    kora::s_int8 FactoryReset();
    // The two strings of the factory configuration information; two empty
    // strings on failure.
    std::pair<kora::s_string, kora::s_string> GetFactoryConfigInfo();

    kora::s_int8 ExportFlags(const std::string& filepath);
    // Stores `value` (may be null) under the flag's name; the request holds a
    // reference of its own while it is sent.
    kora::s_int8 SetFlag(std::string name, kora::ISerialize* value);
    // The flag's value with one reference for the caller to release, or null.
    kora::ISerialize* GetFlag(std::string name);
    kora::s_int8 DeleteFlag(std::string name);

    // `extra` is carried only when it is 1, 2 or 3; otherwise 0 is sent.
    kora::s_int8 SetPassword(std::string user, std::string password, kora::s_uint8 extra);
    kora::s_int8 DeleteUser(std::string user);
    // `extra1` is carried only when it is 0 to 3 (otherwise 0 is sent); the
    // access level and `extra2` are sent as given.
    kora::s_int8 AddUser(std::string user, std::string password, kora::s_uint8 accessLevel,
                         kora::s_uint8 extra1, kora::s_uint8 extra2);
    // True when the server accepts the credentials; `accessLevel` is then the
    // user's level, and 0 on every failure.
    bool AuthenticateUser(std::string user, std::string password, kora::s_uint8& accessLevel);

    kora::s_int8 CreateSnapshot(kora::s_string filepath);
    kora::s_int8 ExportStatus(kora::s_string filepath);
    kora::s_int8 ExportConfig(kora::s_string filepath);
    kora::s_int8 ImportConfig(kora::s_string filepath, kora::s_bool useFallback);

    // ---- Logbook ----
    //
    // An entry below the level that the committed log-unit collection sets for
    // its unit is dropped, and so is one whose unit (at most 15 characters),
    // level (0 to 4), type (at most 20 characters) or outcome (-1, 0, 1) is
    // refused. Text, object text, peer and user are cut to their lengths. The
    // entry is sent without waiting; nothing is reported.

    void Log(std::string unit, kora::s_uint8 level, kora::s_string type, kora::s_string text,
             kora::s_int8 success);
    void Log(std::string unit, kora::s_uint8 level, kora::s_string type, kora::s_string text,
             const kora::s_string& user, kora::s_int8 success);
    // The object's text form is logged with the entry.
    void Log(std::string unit, kora::s_uint8 level, kora::s_string type, kora::s_string text,
             const kora::ISerialize& object, kora::s_int8 success);
    void Log(std::string unit, kora::s_uint8 level, kora::s_string type, kora::s_string text,
             const kora::ISerialize& object, const kora::s_string& user, kora::s_int8 success);
    // What every Log overload comes down to.
    void _Log(std::string unit, kora::s_uint8 level, kora::s_string type, kora::s_string text,
              std::string object, kora::s_string user, kora::s_int8 success);

    // Up to `count` entries of `unit` from `from` on, with one reference for
    // the caller to release, or null.
    cDBLogResult* ReadLog(kora::cTime from, kora::s_string unit, kora::s_uint8 level,
                          kora::s_uint8 count, kora::s_uint64 status);
    // Writes the entries of `units` between `from` and `to` into a file.
    kora::s_int8 ExportLog(kora::cTime from, kora::cTime to, kora::s_uint8 level,
                           std::set<kora::s_string> units, kora::s_string filepath);

    // ---- State ----

    unsigned GetTimeout() const { return m_timeout; }
    // The device's features as of the last connection (empty before the first).
    const cDBFeatureList& GetFeatureList() const { return m_featureList; }
    // The log units as of the last completed sync.
    const cDBLogUnitCollection& GetLogUnits() const { return m_logUnits; }
    IDataClient* GetCallback() const { return m_callback; }

  private:
    // The service's dispatch lock (none without a service); every public
    // operation holds it while it runs.
    kora::cDispatchLock Guard() const;
    // Sends `request` and waits for `replyName`. Returns the answer's payload
    // when it is an R, holding one reference of its own; null otherwise.
    template <class R>
    kora::Ref<R> Exchange(kora::cMsg& request, const char* replyName);
    // A request carrying a new P that `fill` sets up; false when it cannot be
    // allocated.
    template <class P, class Fill>
    static bool Attach(kora::cMsg& request, Fill&& fill);
    // The Result of an answer of class R to a request without payload, or 0.
    template <class R>
    kora::s_int8 ResultOf(const char* name, const char* replyName);
    // The same for a request carrying a P that `fill` sets up.
    template <class P, class R, class Fill>
    kora::s_int8 ResultOf(const char* name, const char* replyName, Fill&& fill);

    // Registers `path` with the server; true only when the answer is exactly 1.
    bool RequestRegistration(const std::string& path);
    void OnConnectMessage();
    void DeleteCollections();
    void SyncInit(kora::cMsg& msg);
    void SyncItem(kora::cMsg& msg);
    void SyncEnd(kora::cMsg& msg);
    void DumpRequest(kora::cMsg& msg);

    kora::cService* m_service;
    IDataClient* m_callback;
    unsigned m_timeout;
    cDBFeatureList m_featureList;
    cDBLogUnitCollection m_logUnits;
    kora::cMap<std::string, cDBCollection*> m_collections;
};

}  // namespace tessel
