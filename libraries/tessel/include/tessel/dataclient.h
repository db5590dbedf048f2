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
// LastFailure() tells why the last operation failed (no connection, no answer
// in time, an unexpected answer, nothing there, the server's refusal with its
// code in LastResult(), or a value refused before sending).
//
// The client also receives what the server pushes by itself: collection syncs,
// the reboot notification and dump requests. It tells the process through its
// IDataClient. On every connection it registers its own log-unit collection
// ("/Log/Units/") and refreshes the feature list before OnDataConnect; on every
// loss of the connection it deletes the collections registered with it before
// OnDataClose, so the process registers them again after the next connect.
// Watches (Watch, WatchAll) need none of that: they register again by
// themselves.
//
// The ...Async operations send their request and return at once; the answer,
// a timeout or the loss of the connection calls their callback once, on the
// service's delivery thread. A service that must never block its delivery
// thread for the timeout uses those there.
//
// Every public operation holds the service's dispatch lock while it runs, so
// no incoming message (a sync that follows a registration answer, say) is
// handed to the client before the operation is done with its answer. Messages
// therefore wait while an operation blocks; call the operations either from
// the service's delivery thread (inside a callback) or from any other thread,
// but never hold the client from two threads without serialising them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kora/kora.h"
#include "tessel/collection.h"
#include "tessel/collections_log.h"
#include "tessel/dataclient_events.h"
#include "tessel/export.h"
#include "tessel/item.h"
#include "tessel/items_log.h"
#include "tessel/items_system.h"
#include "tessel/messages.h"
#include "tessel/watch.h"

namespace tessel {

// Why an operation of the client failed.
enum class eFailure {
    kNone,          // it did not fail
    kNotConnected,  // no connection to the server, or it was lost while waiting
    kTimedOut,      // no answer within the client's timeout
    kWrongAnswer,   // an answer without the payload the operation expects
    kNotFound,      // the server has nothing there (an item, a flag, log entries)
    kRefused,       // the server refused: LastResult() holds its result code
    kInvalid,       // refused by the client before sending: a null item, a log
                    // entry's unknown unit, level, type or outcome, a duplicate
                    // collection path
};

// A short English text for a cause ("not connected", "timed out", ...).
TESSEL_API const char* FailureText(eFailure failure);

class TESSEL_API cDataClient : public kora::cServiceClient {
  public:
    // The shortest time a synchronous request waits, in milliseconds.
    static constexpr unsigned kMinTimeoutMs = 30000;

    // Callbacks of the non-blocking operations. `failure` is kNone on
    // success; `result` is the server's result code (0 without an answer).
    using ItemCallback = std::function<void(kora::Ref<cDBItem> item, eFailure failure)>;
    using ResultCallback = std::function<void(kora::s_int8 result, eFailure failure)>;

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
    // The same, the reference held by the handle.
    kora::Ref<cDBItem> GetItemRef(const kora::s_string& path);
    // The item at `path` as a T; null also when the item there is of another
    // class (LastFailure() is then kWrongAnswer).
    template <class T>
    kora::Ref<T> Get(const kora::s_string& path) {
        kora::cDispatchLock guard = Guard();
        kora::Ref<cDBItem> item = GetItemRef(path);
        T* typed = dynamic_cast<T*>(item.get());
        if (item && !typed) SetFailure(eFailure::kWrongAnswer);
        return typed ? kora::Ref<T>::Share(typed) : kora::Ref<T>();
    }
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

    // Non-blocking forms: GetItem, SetItem (waiting for the result) and
    // DeleteItem, answered through `done` on the delivery thread, never from
    // inside the call. A client destroyed first drops the callbacks unrun.
    void GetItemAsync(const kora::s_string& path, ItemCallback done);
    void SetItemAsync(const kora::Ref<cDBItem>& item, ResultCallback done);
    void DeleteItemAsync(const kora::s_string& path, ResultCallback done);

    // ---- Watches ----

    // Follows the item at `path` (directory followed by name) of class T:
    // `callback(before, after)` runs on the delivery thread after the first
    // sync (before is null; after is null when there is no such item), after
    // every sync that changed the item, and when it is deleted (after is
    // null). An item of another class at that path counts as absent. The
    // watch registers its directory at once when connected and again after
    // every reconnect; destroying the handle ends it. Works beside
    // collections registered at the same directory.
    template <class T>
    cWatch Watch(const std::string& path,
                 std::function<void(const T* before, const T* after)> callback) {
        const size_t slash = path.rfind('/');
        const std::string directory = slash == std::string::npos ? "/" : path.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        return AddWatch(std::make_shared<cItemWatch<T>>(directory, name, std::move(callback)));
    }
    // Follows every item of class T in `directory` (ending in "/"):
    // `callback(name, before, after)` for each item that appeared (before
    // null), changed, or went away (after null); the first sync reports
    // every item there.
    template <class T>
    cWatch WatchAll(
        const std::string& directory,
        std::function<void(const std::string& name, const T* before, const T* after)> callback) {
        return AddWatch(std::make_shared<cDirectoryWatch<T>>(directory, std::move(callback)));
    }

    // ---- Collections ----

    // Registers the collection with the server. On true the client owns it
    // and deletes it on deregistration, on connection loss and on its own
    // destruction. False (a collection is already registered under its path,
    // no answer, or a refusal) leaves the collection with the caller.
    bool RegisterCollection(cDBCollection* collection);
    // The same with the ownership in the type: the registered collection on
    // success (the client owns it, as above), null on failure (and the
    // collection is gone).
    template <class C>
    C* RegisterCollection(std::unique_ptr<C> collection) {
        C* raw = collection.get();
        if (!raw || !RegisterCollection(static_cast<cDBCollection*>(raw))) return nullptr;
        collection.release();
        return raw;
    }
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
    kora::Ref<kora::ISerialize> GetFlagRef(std::string name);
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
    // level (0 to 4, kLogDebug to kLogFatal), type (at most 20 characters) or
    // outcome (-1, 0, 1) is refused (LastFailure() kInvalid). Each cause of a
    // drop is traced once per client. Text, object text, peer and user are
    // cut to their lengths. The entry is sent without waiting.

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
    kora::Ref<cDBLogResult> ReadLogRef(kora::cTime from, kora::s_string unit, kora::s_uint8 level,
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

    // Why the last operation on this client failed (kNone when it did not),
    // and the result code of the server's refusal (kRefused). With several
    // threads using one client, read them while holding the service's
    // dispatch lock taken before the operation. The ...Async operations
    // report to their callback instead.
    eFailure LastFailure() const;
    kora::s_int8 LastResult() const;

  private:
    friend class cWatch;
    // One outstanding non-blocking request: what answers it and who waits.
    struct cPending {
        std::string replyName;
        int64_t deadlineMs;  // steady clock
        std::function<void(kora::cMsg* reply, eFailure failure)> done;
    };
    // The watches of one directory.
    struct cWatchDirectory {
        std::vector<std::shared_ptr<cWatchEntry>> entries;
        bool registered = false;
    };

    void SetFailure(eFailure failure, kora::s_int8 result = 0);
    // The result code of an answer of class R from Exchange, or 0, recording
    // the outcome: kRefused unless it is 1, kWrongAnswer for a reply without
    // a result (a result-code request is always answered with one).
    template <class R>
    kora::s_int8 Judge(const kora::Ref<R>& answer);
    // Traces a dropped log entry, once per cause.
    void LogDropped(unsigned cause, int level, const std::string& why, const std::string& detail);

    cWatch AddWatch(std::shared_ptr<cWatchEntry> entry);
    void RemoveWatch(const std::shared_ptr<cWatchEntry>& entry);
    void RegisterWatches();
    // Runs one step of a sync for the watches of `directory`; a step that may
    // call back into the process says so in `runsCallbacks`.
    template <class Step>
    void ForWatches(const std::string& directory, bool runsCallbacks, Step step);

    // Sends `request`; `done` gets the answer named `replyName`, a failure,
    // or kTimedOut after the client's timeout.
    void SendAsync(kora::cMsg& request, const char* replyName,
                   std::function<void(kora::cMsg* reply, eFailure failure)> done);
    // Runs `fn` on the delivery thread unless the client is gone by then.
    void Later(std::function<void()> fn);
    // Hands an answer to its waiting callback; false when nobody waits for it.
    bool AnswerPending(kora::cMsg& msg);
    // Fails the requests that are out of time or, with `closed`, those that
    // went out on a connection that is no longer the open one.
    void ExpirePending(bool closed, eFailure failure);
    void ArmPendingTimer();

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
    void EndCollectionSync(const std::string& path);
    void DumpRequest(kora::cMsg& msg);

    kora::cService* m_service;
    IDataClient* m_callback;
    unsigned m_timeout;
    cDBFeatureList m_featureList;
    cDBLogUnitCollection m_logUnits;
    kora::cMap<std::string, cDBCollection*> m_collections;

    // Beside the specified state: failure of the last operation, the drops
    // traced, the watches, the outstanding non-blocking requests.
    eFailure m_failure = eFailure::kNone;
    kora::s_int8 m_result = 1;
    unsigned m_tracedDrops = 0;
    std::map<std::string, cWatchDirectory> m_watches;
    std::map<std::pair<uint32_t, uint32_t>, cPending> m_pending;  // by channel, then id
    struct cPendingTimer;  // the timer and the sink its expiry reaches
    std::unique_ptr<cPendingTimer> m_pendingTimer;
    // What watch handles and deferred calls hold to see whether the client lives.
    std::shared_ptr<cDataClient*> m_anchor;
};

}  // namespace tessel
