// cDataClient: construction, connection events, the dispatcher of incoming
// messages, item operations and the registration of collections.
#include "tessel/dataclient.h"

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

}  // namespace

cDataClient::cDataClient(kora::cService* service, IDataClient* callback, unsigned int timeout,
                         std::string serverName)
    : kora::cServiceClient(service, "dataClient", serverName, kMsgOnConnect, kMsgOnClose,
                           kMsgClientOnConnect),
      m_service(service),
      // A process may implement the callbacks on its service object itself.
      m_callback(callback ? callback : dynamic_cast<IDataClient*>(service)),
      m_timeout(timeout <= kMinTimeoutMs ? kMinTimeoutMs : timeout) {
    if (m_service) m_service->RegisterMessageSink(this);
}

cDataClient::~cDataClient() {
    kora::cDispatchLock guard = Guard();
    // No message may reach an object on its way out.
    Detach();
    DeleteCollections();
    if (m_service) m_service->UnRegisterMessageSink(this);
}

kora::cDispatchLock cDataClient::Guard() const {
    return m_service ? m_service->LockDispatch() : kora::cDispatchLock();
}

// ---- Dispatcher ----

bool cDataClient::DispatchMessage(kora::cMsg& msg) {
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
}

void cDataClient::DeleteCollections() {
    for (auto& entry : m_collections) delete entry.second;
    m_collections.clear();
}

void cDataClient::SyncInit(kora::cMsg& msg) {
    const ccDBSyncInit* init = msg.GetObject<ccDBSyncInit>();
    if (!init) return;
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
    if (end->Path == m_logUnits.GetPath()) {
        m_logUnits.EndSync();
        return;
    }
    auto it = m_collections.find(end->Path);
    if (it == m_collections.end() || !it->second) return;
    cDBCollection* collection = it->second;
    // Before the commit, so the process can still compare old and new contents.
    m_callback->OnCollectionSynced(this, collection);
    // The callback may have deregistered (and so deleted) the collection.
    it = m_collections.find(end->Path);
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
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(kMsgGetItemReq);
    if (!Attach<ccDBGetItemReq>(request, [&](ccDBGetItemReq& r) { r.Path = path; })) return nullptr;
    return Exchange<cDBItem>(request, kMsgGetItemResp).Detach();
}

kora::s_int8 cDataClient::SetItem(cDBItem* item, bool wait) {
    if (!item) return 0;
    kora::cDispatchLock guard = Guard();
    kora::cMsg request(wait ? kMsgSetItemReq : kMsgSetItem);
    request.ShareObject(item);
    if (!wait) {
        Send(request);
        return 1;
    }
    kora::Ref<ccDBSetItemResp> answer = Exchange<ccDBSetItemResp>(request, kMsgSetItemResp);
    return answer ? answer->Result : kora::s_int8(0);
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
    // The client's own log-unit collection is registered on every connect by
    // the client itself and must never end up in the map it deletes from.
    if (!collection || collection == &m_logUnits) return false;
    kora::cDispatchLock guard = Guard();
    const std::string path = collection->GetPath();
    if (m_collections.count(path)) return false;
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
}

cDBCollection* cDataClient::GetCollection(const std::string& path) const {
    kora::cDispatchLock guard = Guard();
    auto it = m_collections.find(path);
    return it == m_collections.end() ? nullptr : it->second;
}

}  // namespace tessel
