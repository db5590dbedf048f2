// cDataClient: construction, connection events, the dispatcher of incoming
// messages, item operations and the registration of collections.
#include "tessel/dataclient.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "dataclient_request.h"
#include "kora/trace.h"
#include "tessel/messages.h"

namespace tessel {

namespace {

constexpr const char* kTraceModule = "DTCL";
constexpr const char* kTraceVersion = "001";

// Where the server keeps the device's feature list.
constexpr const char* kFeatureListDir = "/Features/";
constexpr const char* kFeatureListName = "FeatureList";

// The client's own timer for its non-blocking requests.
constexpr const char* kMsgPendingTimeout = "DATA::PENDING-TIMEOUT";

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// Local messages reach a service client only as its connection events, so
// the timer of the outstanding requests reports to a sink of its own.
struct cDataClient::cPendingTimer : kora::cMessageSink {
    cPendingTimer(cDataClient& client, kora::cService* service)
        : kora::cMessageSink(service, "dataClient-pending"),
          client(client),
          timer(service, false, this) {}
    bool ProcessMsg(kora::cMsg&) override {
        client.ExpirePending(false, eFailure::kTimedOut);
        return true;
    }
    cDataClient& client;
    kora::cTimer timer;
};

const char* FailureText(eFailure failure) {
    switch (failure) {
        case eFailure::kNone:
            return "no failure";
        case eFailure::kNotConnected:
            return "not connected";
        case eFailure::kTimedOut:
            return "timed out";
        case eFailure::kWrongAnswer:
            return "wrong answer";
        case eFailure::kNotFound:
            return "not found";
        case eFailure::kRefused:
            return "refused";
        case eFailure::kInvalid:
            return "invalid";
    }
    return "?";
}

cDataClient::cDataClient(kora::cService* service, IDataClient* callback, unsigned int timeout,
                         std::string serverName)
    : kora::cServiceClient(service, "dataClient", serverName, kMsgOnConnect, kMsgOnClose,
                           kMsgClientOnConnect),
      m_service(service),
      // A process may implement the callbacks on its service object itself.
      m_callback(callback ? callback : dynamic_cast<IDataClient*>(service)),
      m_timeout(timeout <= kMinTimeoutMs ? kMinTimeoutMs : timeout),
      m_pendingTimer(new cPendingTimer(*this, service)),
      m_anchor(std::make_shared<cDataClient*>(this)) {
    if (m_service) m_service->RegisterMessageSink(this);
}

cDataClient::~cDataClient() {
    kora::cDispatchLock guard = Guard();
    // Watch handles and deferred callbacks see from now on that the client is gone.
    m_anchor.reset();
    // No message may reach an object on its way out.
    Detach();
    m_pendingTimer.reset();
    DeleteCollections();
    if (m_service) m_service->UnRegisterMessageSink(this);
}

eFailure cDataClient::LastFailure() const {
    kora::cDispatchLock guard = Guard();
    return m_failure;
}

kora::s_int8 cDataClient::LastResult() const {
    kora::cDispatchLock guard = Guard();
    return m_result;
}

void cDataClient::SetFailure(eFailure failure, kora::s_int8 result) {
    m_failure = failure;
    m_result = failure == eFailure::kNone ? kora::s_int8(1) : result;
}

kora::cDispatchLock cDataClient::Guard() const {
    return m_service ? m_service->LockDispatch() : kora::cDispatchLock();
}

// ---- Dispatcher ----

bool cDataClient::DispatchMessage(kora::cMsg& msg) {
    // What the client does on its own here is no operation of the process's:
    // the failure it last saw stays readable.
    struct KeepFailure {
        cDataClient& c;
        eFailure failure;
        kora::s_int8 result;
        ~KeepFailure() { c.SetFailure(failure, result); }
    } keep{*this, m_failure, m_result};
    // Answers to the client's own non-blocking requests.
    if (AnswerPending(msg)) return true;
    if (!m_callback) {
        kora::cTracepoint::Call(kTraceModule, kTraceVersion, 1,
                                "DataClient Protocoll unavailable (==NULL)", "", __FILE__,
                                __LINE__);
        return false;
    }
    const std::string& name = msg.Name();
    if (name == kMsgOnConnect) {
        OnConnectMessage();
    } else if (name == kMsgOnClose) {
        DeleteCollections();
        for (auto& entry : m_watches) entry.second.registered = false;
        ExpirePending(true, eFailure::kNotConnected);
        m_callback->OnDataClose(this);
    } else if (name == kMsgCollectionSyncInit) {
        SyncInit(msg);
    } else if (name == kMsgCollectionSyncItem) {
        SyncItem(msg);
    } else if (name == kMsgCollectionSyncEnd) {
        SyncEnd(msg);
    } else if (name == kMsgRebootNotification) {
        m_callback->OnRebootNotification(this);
    } else if (name == kMsgDumpReq) {
        DumpRequest(msg);
    } else {
        return false;
    }
    return true;
}

void cDataClient::OnConnectMessage() {
    if (!RequestRegistration(m_logUnits.GetPath())) {
        // The server does not take this client: drop the connection, let the
        // framework look at its state, and tell the process.
        Stop();
        HealthRequest();
        m_callback->OnDataClose(this);
        return;
    }
    // A failed fetch keeps the feature list of the previous connection.
    kora::Ref<cDBItem> item = kora::Ref<cDBItem>::Adopt(
        GetItem(kora::FormatString("%s%s", kFeatureListDir, kFeatureListName)));
    if (const auto* features = dynamic_cast<const cDBFeatureList*>(item.get()))
        m_featureList = *features;
    item = kora::Ref<cDBItem>();
    m_callback->OnDataConnect(this);
    RegisterWatches();
}

void cDataClient::DeleteCollections() {
    for (auto& entry : m_collections) delete entry.second;
    m_collections.clear();
}

void cDataClient::SyncInit(kora::cMsg& msg) {
    const ccDBSyncInit* init = msg.GetObject<ccDBSyncInit>();
    if (!init) return;
    ForWatches(init->Path, false, [](cWatchEntry& watch) { watch.Begin(); });
    if (init->Path == m_logUnits.GetPath()) {
        m_logUnits.BeginSync();
        return;
    }
    auto it = m_collections.find(init->Path);
    if (it != m_collections.end() && it->second) it->second->BeginSync();
}

void cDataClient::SyncItem(kora::cMsg& msg) {
    cDBItem* item = msg.GetObject<cDBItem>();
    if (!item) return;
    // A watch follows exactly its directory.
    ForWatches(item->GetDir(), false, [item](cWatchEntry& watch) { watch.Offer(item); });
    if (item->GetDir() == m_logUnits.GetPath()) {
        m_logUnits.ValidateDBItem(item);
        return;
    }
    // A collection sees every item whose directory contains its path; it
    // keeps only the kinds it holds.
    for (auto& entry : m_collections)
        if (entry.second && item->GetDir().find(entry.first) != std::string::npos)
            entry.second->ValidateDBItem(item);
}

void cDataClient::SyncEnd(kora::cMsg& msg) {
    const ccDBSyncEnd* end = msg.GetObject<ccDBSyncEnd>();
    if (!end) return;
    const std::string path = end->Path;
    EndCollectionSync(path);
    // After the collections, so their callbacks have seen the sync first.
    ForWatches(path, true, [](cWatchEntry& watch) { watch.End(); });
}

void cDataClient::EndCollectionSync(const std::string& path) {
    if (path == m_logUnits.GetPath()) {
        m_logUnits.EndSync();
        return;
    }
    auto it = m_collections.find(path);
    if (it == m_collections.end() || !it->second) return;
    cDBCollection* collection = it->second;
    // Before the commit, so the process can still compare old and new contents.
    m_callback->OnCollectionSynced(this, collection);
    // The callback may have deregistered (and so deleted) the collection.
    it = m_collections.find(path);
    if (it != m_collections.end() && it->second == collection) collection->EndSync();
}

void cDataClient::DumpRequest(kora::cMsg& msg) {
    const ccDumpReq* request = msg.GetObject<ccDumpReq>();
    if (!request) return;
    kora::s_string path = request->Path;
    if (!m_callback->OnDumpRequest(this, path)) return;
    kora::cMsg done(kMsgDumpRes);
    if (kora::cChannel* channel = msg.Channel()) channel->Send(done);
}

// ---- Items ----

cDBItem* cDataClient::GetItem(const kora::s_string& path) {
    return GetItemRef(path).Detach();
}

kora::Ref<cDBItem> cDataClient::GetItemRef(const kora::s_string& path) {
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgGetItemReq);
    if (!Attach<ccDBGetItemReq>(request, [&](ccDBGetItemReq& r) { r.Path = path; })) {
        SetFailure(eFailure::kInvalid);
        return {};
    }
    return Exchange<cDBItem>(request, kMsgGetItemResp);
}

kora::s_int8 cDataClient::SetItem(cDBItem* item, bool wait) {
    kora::cDispatchLock guard = Guard();
    if (!item) {
        SetFailure(eFailure::kInvalid);
        return 0;
    }
    kora::cMsg request(wait ? kMsgSetItemReq : kMsgSetItem);
    request.ShareObject(item);
    if (!wait) {
        // Reported as done whatever happens; LastFailure() tells whether it left.
        SetFailure(Send(request) ? eFailure::kNone : eFailure::kNotConnected);
        return 1;
    }
    return Judge(Exchange<ccDBSetItemResp>(request, kMsgSetItemResp));
}

kora::s_int8 cDataClient::DeleteItem(const kora::s_string& path) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBDeleteItemReq, ccDBDeleteItemResp>(
        kMsgDeleteItemReq, kMsgDeleteItemResp, [&](ccDBDeleteItemReq& r) { r.Path = path; });
}

namespace {

// Fills a rename or duplicate request; its Path stays empty.
auto NewNameFiller(const kora::s_string& directory, const kora::s_string& name,
                   const kora::s_string& newName) {
    return [&](cDBItemNewNameReq& r) {
        r.Directory = directory;
        r.Name = name;
        r.NewName = newName;
    };
}

}  // namespace

kora::s_int8 cDataClient::RenameItem(const kora::s_string& directory, const kora::s_string& name,
                                     const kora::s_string& newName) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBRenameItemReq, ccDBRenameItemResp>(kMsgRenameItemReq, kMsgRenameItemResp,
                                                           NewNameFiller(directory, name, newName));
}

kora::s_int8 cDataClient::DuplicateItem(const kora::s_string& directory, const kora::s_string& name,
                                        const kora::s_string& newName) {
    kora::cDispatchLock guard = Guard();
    return ResultOf<ccDBDuplicateItemReq, ccDBDuplicateItemResp>(
        kMsgDuplicateItemReq, kMsgDuplicateItemResp, NewNameFiller(directory, name, newName));
}

// ---- Collections ----

bool cDataClient::RequestRegistration(const std::string& path) {
    return ResultOf<ccDBRegCollectionReq, ccDBRegCollectionResp>(
               kMsgRegCollectionReq, kMsgRegCollectionResp,
               [&](ccDBRegCollectionReq& r) { r.Path = path; }) == 1;
}

bool cDataClient::RegisterCollection(cDBCollection* collection) {
    kora::cDispatchLock guard = Guard();
    // The client's own log-unit collection is registered on every connect by
    // the client itself and must never end up in the map it deletes from.
    const std::string path = collection ? std::string(collection->GetPath()) : std::string();
    if (!collection || collection == &m_logUnits || m_collections.count(path)) {
        SetFailure(eFailure::kInvalid);
        return false;
    }
    // The dispatch lock keeps the sync that follows the answer queued until
    // the collection is in the map.
    if (!RequestRegistration(path)) return false;
    m_collections.SetAt(path, collection);
    return true;
}

void cDataClient::DeregisterCollection(cDBCollection* collection) {
    if (!collection) return;
    kora::cDispatchLock guard = Guard();
    const std::string path = collection->GetPath();
    auto it = m_collections.find(path);
    if (it == m_collections.end() || it->second != collection) return;
    // Whatever the answer, the client forgets the collection.
    ResultOf<ccDBDeRegCollectionReq, ccDBDeRegCollectionResp>(
        kMsgDeRegCollectionReq, kMsgDeRegCollectionResp,
        [&](ccDBDeRegCollectionReq& r) { r.Path = path; });
    // Messages stay queued while the request waits, so the entry is normally
    // still there; if something did remove it, it was deleted with it.
    it = m_collections.find(path);
    if (it == m_collections.end() || it->second != collection) return;
    m_collections.erase(it);
    delete collection;
    // The server keeps one registration per connection and path, which the
    // watches of that directory shared: register it for them again.
    auto watched = m_watches.find(path);
    if (watched != m_watches.end() && watched->second.registered)
        watched->second.registered = RequestRegistration(path);
}

cDBCollection* cDataClient::GetCollection(const std::string& path) const {
    kora::cDispatchLock guard = Guard();
    auto it = m_collections.find(path);
    return it == m_collections.end() ? nullptr : it->second;
}

// ---- Watches ----

void cWatch::Reset() {
    std::shared_ptr<cWatchEntry> entry = std::move(m_entry);  // leaves m_entry empty
    std::shared_ptr<cDataClient*> client = m_client.lock();
    m_client.reset();
    if (entry && client) (*client)->RemoveWatch(entry);
}

cWatch cDataClient::AddWatch(std::shared_ptr<cWatchEntry> entry) {
    kora::cDispatchLock guard = Guard();
    const std::string directory = entry->Directory();
    m_watches[directory].entries.push_back(entry);
    // Registering again makes the server send the directory afresh: the new
    // watch's first sync. Without a connection, the next connect does it.
    const bool registered = RequestRegistration(directory);
    auto it = m_watches.find(directory);
    if (it != m_watches.end()) it->second.registered = it->second.registered || registered;
    return cWatch(m_anchor, std::move(entry));
}

void cDataClient::RemoveWatch(const std::shared_ptr<cWatchEntry>& entry) {
    kora::cDispatchLock guard = Guard();
    entry->Deactivate();
    const std::string directory = entry->Directory();
    auto it = m_watches.find(directory);
    if (it == m_watches.end()) return;
    auto& entries = it->second.entries;
    entries.erase(std::remove(entries.begin(), entries.end(), entry), entries.end());
    if (!entries.empty()) return;
    const bool registered = it->second.registered;
    m_watches.erase(it);
    // The server keeps one registration per connection and path: leave it
    // to a collection of the process's or the client's log units there.
    if (!registered || m_collections.count(directory) || directory == m_logUnits.GetPath()) return;
    kora::cMsg request(kMsgDeRegCollectionReq);
    if (Attach<ccDBDeRegCollectionReq>(request,
                                       [&](ccDBDeRegCollectionReq& r) { r.Path = directory; }))
        SendAsync(request, kMsgDeRegCollectionResp, nullptr);  // the answer changes nothing
}

void cDataClient::RegisterWatches() {
    std::vector<std::string> directories;
    for (const auto& entry : m_watches) directories.push_back(entry.first);
    for (const auto& directory : directories) {
        const bool registered = RequestRegistration(directory);
        auto it = m_watches.find(directory);  // a callback may have ended them meanwhile
        if (it != m_watches.end()) it->second.registered = registered;
    }
}

template <class Step>
void cDataClient::ForWatches(const std::string& directory, bool runsCallbacks, Step step) {
    auto it = m_watches.find(directory);
    if (it == m_watches.end()) return;
    if (!runsCallbacks) {
        for (auto& watch : it->second.entries) step(*watch);
        return;
    }
    // A callback may add or end watches: go over a copy.
    std::vector<std::shared_ptr<cWatchEntry>> entries = it->second.entries;
    for (auto& watch : entries)
        if (watch->Active()) step(*watch);
}

// ---- Non-blocking requests ----

void cDataClient::Later(std::function<void()> fn) {
    if (!m_service || !fn) return;
    std::weak_ptr<cDataClient*> alive = m_anchor;
    m_service->RunOnDelivery([alive, fn = std::move(fn)] {
        if (alive.lock()) fn();
    });
}

void cDataClient::SendAsync(kora::cMsg& request, const char* replyName,
                            std::function<void(kora::cMsg* reply, eFailure failure)> done) {
    uint32_t id = 0, channel = 0;
    if (!Send(request, id, channel)) {
        if (done) Later([done] { done(nullptr, eFailure::kNotConnected); });
        return;
    }
    m_pending[{channel, id}] = cPending{replyName, NowMs() + m_timeout, std::move(done)};
    if (m_pending.size() == 1) ArmPendingTimer();
}

bool cDataClient::AnswerPending(kora::cMsg& msg) {
    if (m_pending.empty() || !msg.FromPeer() || !msg.InReplyTo() || !msg.Channel()) return false;
    auto it = m_pending.find({msg.Channel()->Id(), msg.InReplyTo()});
    if (it == m_pending.end() || it->second.replyName != msg.Name()) return false;
    auto done = std::move(it->second.done);
    m_pending.erase(it);
    ArmPendingTimer();
    if (done) done(&msg, eFailure::kNone);
    return true;
}

void cDataClient::ExpirePending(bool closed, eFailure failure) {
    // After a close, every request not sent on the connection open now is lost.
    kora::Ref<kora::cChannel> open = GetChannel();
    const uint32_t current = open && open->IsOpen() ? open->Id() : 0;
    const int64_t now = NowMs();
    std::vector<std::function<void(kora::cMsg*, eFailure)>> due;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        const bool lost = closed ? it->first.first != current : it->second.deadlineMs <= now;
        if (!lost) {
            ++it;
            continue;
        }
        due.push_back(std::move(it->second.done));
        it = m_pending.erase(it);
    }
    ArmPendingTimer();
    for (auto& done : due)
        if (done) done(nullptr, failure);
}

void cDataClient::ArmPendingTimer() {
    if (m_pending.empty()) {
        m_pendingTimer->timer.Stop();
        return;
    }
    int64_t next = m_pending.begin()->second.deadlineMs;
    for (const auto& entry : m_pending) next = std::min(next, entry.second.deadlineMs);
    m_pendingTimer->timer.StartMs(static_cast<unsigned>(std::max<int64_t>(1, next - NowMs())),
                                  kMsgPendingTimeout);
}

namespace {

// Hands the outcome of a result-code request of answer class R to `done`.
template <class R>
auto ResultTo(cDataClient::ResultCallback done) {
    return [done = std::move(done)](kora::cMsg* reply, eFailure failure) {
        if (!done) return;
        const R* answer = reply ? reply->GetObject<R>() : nullptr;
        if (reply && !answer) failure = eFailure::kWrongAnswer;
        const kora::s_int8 result = answer ? answer->Result : kora::s_int8(0);
        if (answer && result != 1) failure = eFailure::kRefused;
        done(result, failure);
    };
}

}  // namespace

void cDataClient::GetItemAsync(const kora::s_string& path, ItemCallback done) {
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgGetItemReq);
    if (!Attach<ccDBGetItemReq>(request, [&](ccDBGetItemReq& r) { r.Path = path; })) {
        if (done) Later([done] { done({}, eFailure::kInvalid); });
        return;
    }
    SendAsync(request, kMsgGetItemResp,
              [done = std::move(done)](kora::cMsg* reply, eFailure failure) {
                  if (!done) return;
                  if (!reply) return done({}, failure);
                  cDBItem* item = reply->GetObject<cDBItem>();
                  done(kora::Ref<cDBItem>::Share(item), Judged<cDBItem>(true, true, *reply));
              });
}

void cDataClient::SetItemAsync(const kora::Ref<cDBItem>& item, ResultCallback done) {
    kora::cDispatchLock guard = Guard();
    if (!item) {
        if (done) Later([done] { done(0, eFailure::kInvalid); });
        return;
    }
    kora::cMsg request(kMsgSetItemReq);
    request.ShareObject(item.get());
    SendAsync(request, kMsgSetItemResp, ResultTo<ccDBSetItemResp>(std::move(done)));
}

void cDataClient::DeleteItemAsync(const kora::s_string& path, ResultCallback done) {
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgDeleteItemReq);
    if (!Attach<ccDBDeleteItemReq>(request, [&](ccDBDeleteItemReq& r) { r.Path = path; })) {
        if (done) Later([done] { done(0, eFailure::kInvalid); });
        return;
    }
    SendAsync(request, kMsgDeleteItemResp, ResultTo<ccDBDeleteItemResp>(std::move(done)));
}

}  // namespace tessel
