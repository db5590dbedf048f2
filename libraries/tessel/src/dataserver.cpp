#include "tessel/dataserver.h"

#include <string_view>
#include <unordered_map>

#include "tessel/items_log.h"
#include "tessel/items_system.h"
#include "tessel/messages.h"
#include "tessel/messages_admin.h"

namespace tessel {

namespace {

void Trace(int level, const std::string& text, int line) {
    kora::cTracepoint::Call("DTSV", "001", level, text, "", "dataServer", line);
}

// The directory part of a path: up to and including its last "/".
std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

cDataServer::cDataServer(kora::cService* service, IDataServer* protocol)
    : kora::cMessageSink(service, "data-server"), m_dumpTimer(service, false, this) {
    m_protocol = protocol ? protocol : dynamic_cast<IDataServer*>(service);
    cDBFeatureList::KeepFeatures(true);
    service->RegisterMessageSink(this);
}

cDataServer::~cDataServer() {
    Service()->UnRegisterMessageSink(this);
    cDBFeatureList::KeepFeatures(false);
    m_dumpTimer.Stop();
    for (auto& entry : m_registered)
        for (kora::cChannel* c : entry.second) c->Release();
    for (kora::cChannel* c : m_connected) c->Release();
    for (kora::cChannel* c : m_dumpPending) c->Release();
    if (m_snapshotRequester) m_snapshotRequester->Release();
}

// ---- answering ----

void cDataServer::Answer(kora::cMsg& request, const char* name, kora::ISerialize* payload) {
    kora::cMsg reply(name);
    if (payload) reply.AssignObject(payload);
    if (request.Channel()) request.Channel()->Send(reply);
}

template <class R>
void cDataServer::AnswerResult(kora::cMsg& request, const char* name, kora::s_int8 result) {
    R* resp = kora::New<R>();
    if (resp) resp->Result = result;
    Answer(request, name, resp);
}

// ---- dispatch ----

namespace {

// Peers choose what they send: the traces their requests provoke are limited.
kora::cTraceLimiter& RefusalTraces() {
    static kora::cTraceLimiter limiter;
    return limiter;
}

// A request's payload of the expected class, or null after a trace: the
// handler then answers with a failure (or an empty reply) and changes nothing.
template <class T>
T* Expect(kora::cMsg& msg, int line) {
    T* payload = msg.GetObject<T>();
    size_t held = 0;
    if (!payload && RefusalTraces().Allow(held))
        Trace(1,
              "DataServer " + msg.Name() + " without its payload, refused" +
                  (held ? kora::FormatString(" (%zu similar held back)", held) : ""),
              line);
    return payload;
}

}  // namespace

// One handler per request name. Each runs on the delivery thread with the
// request's channel as RequestChannel().
struct cDataServer::Handlers {
    using Handler = void (*)(cDataServer& server, IDataServer& host, kora::cMsg& msg);
    struct Row {
        const char* name;
        Handler handle;
    };

    static void GetItem(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBGetItemReq>(msg, __LINE__);
        s.Answer(msg, kMsgGetItemResp, req ? host.GetItem(req->Path) : nullptr);
    }
    static void SetItem(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        const bool answer = msg.Name() == kMsgSetItemReq;
        auto* item = Expect<cDBItem>(msg, __LINE__);
        kora::s_int8 result = item ? host.SetItem(item) : kora::s_int8(0);
        if (answer) s.AnswerResult<ccDBSetItemResp>(msg, kMsgSetItemResp, result);
        if (result == 1) s.NotifyClients(item->GetPath());
    }
    static void DeleteItem(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBDeleteItemReq>(msg, __LINE__);
        kora::s_int8 result = req ? host.DeleteItem(req->Path) : kora::s_int8(0);
        s.AnswerResult<ccDBDeleteItemResp>(msg, kMsgDeleteItemResp, result);
        if (result == 1) s.NotifyClients(req->Path);
    }
    static void DuplicateItem(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBDuplicateItemReq>(msg, __LINE__);
        kora::s_int8 result =
            req ? host.DuplicateItem(req->Directory, req->Name, req->NewName) : kora::s_int8(0);
        s.AnswerResult<ccDBDuplicateItemResp>(msg, kMsgDuplicateItemResp, result);
        if (result == 1) s.NotifyClients(req->Directory + req->NewName);
    }
    static void RenameItem(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBRenameItemReq>(msg, __LINE__);
        std::set<kora::s_string> changed;
        kora::s_int8 result =
            req ? host.RenameItem(req->Directory, req->Name, req->NewName, changed)
                : kora::s_int8(0);
        s.AnswerResult<ccDBRenameItemResp>(msg, kMsgRenameItemResp, result);
        if (result == 1) {
            for (const auto& path : changed) s.NotifyClients(path);
            s.NotifyClients(req->Directory + req->Name);
            s.NotifyClients(req->Directory + req->NewName);
        }
    }
    static void RegCollection(cDataServer& s, IDataServer&, kora::cMsg& msg) {
        auto* req = Expect<ccDBRegCollectionReq>(msg, __LINE__);
        kora::cChannel* channel = msg.Channel();
        if (!req || !channel) {
            s.AnswerResult<ccDBRegCollectionResp>(msg, kMsgRegCollectionResp, 0);
            return;
        }
        s.RegisterChannel(channel, req->Path);
        s.AnswerResult<ccDBRegCollectionResp>(msg, kMsgRegCollectionResp, 1);
        s.SyncCollection(channel, req->Path);
    }
    static void DeRegCollection(cDataServer& s, IDataServer&, kora::cMsg& msg) {
        auto* req = Expect<ccDBDeRegCollectionReq>(msg, __LINE__);
        if (req && msg.Channel()) s.DeregisterChannel(msg.Channel(), req->Path);
        s.AnswerResult<ccDBDeRegCollectionResp>(msg, kMsgDeRegCollectionResp, req ? 1 : 0);
    }
    static void Log(cDataServer&, IDataServer& host, kora::cMsg& msg) {
        if (auto* e = Expect<cDBLogItem>(msg, __LINE__))
            host.Log(e->GetTime(), e->GetUnit(), e->GetLevel(), e->GetType(), e->GetText(),
                     e->GetObject(), e->GetPeer(), e->GetUser(), e->GetSuccess());
    }
    static void ReadLog(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBLogReadReq>(msg, __LINE__);
        s.Answer(msg, kMsgReadLogResp,
                 req ? host.ReadLog(req->From, req->Unit, req->Level, req->Count, req->Status)
                     : nullptr);
    }
    static void ExportLog(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBLogExportReq>(msg, __LINE__);
        s.AnswerResult<ccDBLogExportResp>(
            msg, kMsgLogExportResp,
            req ? host.ExportLog(req->From, req->To, req->Level, req->Units, req->Filepath)
                : kora::s_int8(0));
    }
    static void CreateRestorePoint(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        s.AnswerResult<ccDBCreateRestorePointResp>(msg, kMsgCreateRestorePointResp,
                                                   host.CreateRestorePoint());
    }
    static void Restore(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        s.AnswerResult<ccDBRestoreResp>(msg, kMsgRestoreResp, host.Restore());
    }
    static void ImportConfig(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBConfigImportReq>(msg, __LINE__);
        s.AnswerResult<ccDBConfigImportResp>(
            msg, kMsgConfigImportResp,
            req ? host.ImportConfig(req->Filepath, req->UseFallback) : kora::s_int8(0));
    }
    static void ConfirmConfig(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        s.AnswerResult<ccDBConfirmConfigurationResp>(msg, kMsgConfirmConfigResp,
                                                     host.ConfirmConfig());
    }
    static void FallbackConfig(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        s.AnswerResult<ccDBFallbackConfigurationResp>(msg, kMsgFallbackConfigResp,
                                                      host.FallbackConfig());
    }
    static void ExportConfig(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBConfigExportReq>(msg, __LINE__);
        s.AnswerResult<ccDBConfigExportResp>(
            msg, kMsgConfigExportResp, req ? host.ExportConfig(req->Filepath) : kora::s_int8(0));
    }
    static void ExportStatus(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBStatusExportReq>(msg, __LINE__);
        s.AnswerResult<ccDBStatusExportResp>(
            msg, kMsgStatusExportResp, req ? host.ExportStatus(req->Filepath) : kora::s_int8(0));
    }
    static void FactoryReset(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        s.AnswerResult<ccDBFactoryResetResp>(msg, kMsgFactoryResetResp, host.FactoryReset());
    }
    static void FactoryConfigInfo(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        std::pair<kora::s_string, kora::s_string> info = host.GetFactoryConfigInfo();
        auto* resp = kora::New<ccDBFactoryConfigInfoResp>();
        if (resp) {
            resp->First = info.first;
            resp->Second = info.second;
        }
        s.Answer(msg, kMsgGetFactoryConfigInfoResp, resp);
    }
    static void AddUser(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBAddUserReq>(msg, __LINE__);
        kora::s_int8 result = req ? host.AddUser(req->Username, req->Password, req->AccessLevel,
                                                 req->Extra1, req->Extra2)
                                  : kora::s_int8(0);
        s.AnswerResult<ccDBAddUserResp>(msg, kMsgAddUserResp, result);
        if (result == 1) s.NotifyClients("/Users/");
    }
    static void DeleteUser(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBDeleteUserReq>(msg, __LINE__);
        kora::s_int8 result = req ? host.DeleteUser(req->Username) : kora::s_int8(0);
        s.AnswerResult<ccDBDeleteUserResp>(msg, kMsgDeleteUserResp, result);
        if (result == 1) s.NotifyClients("/Users/");
    }
    static void SetPassword(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBSetPasswordReq>(msg, __LINE__);
        s.AnswerResult<ccDBSetPasswordResp>(
            msg, kMsgSetPasswordResp,
            req ? host.SetPassword(req->Username, req->Password, req->Extra) : kora::s_int8(0));
    }
    static void AuthenticateUser(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBAuthenticateUserReq>(msg, __LINE__);
        kora::s_uint8 level = 0;
        bool ok = req && host.AuthenticateUser(req->Username, req->Password, level);
        auto* resp = kora::New<ccDBAuthenticateUserResp>();
        if (resp) {
            resp->Result = ok ? 1 : 0;
            resp->AccessLevel = level;
        }
        s.Answer(msg, kMsgAuthenticateUserResp, resp);
    }
    static void SetFlag(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBSetFlagReq>(msg, __LINE__);
        s.AnswerResult<ccDBSetFlagResp>(
            msg, kMsgSetFlagResp,
            req ? host.SetFlag(req->Name, req->GetSObject()) : kora::s_int8(0));
    }
    static void GetFlag(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBGetFlagReq>(msg, __LINE__);
        s.Answer(msg, kMsgGetFlagResp, req ? host.GetFlag(req->Name) : nullptr);
    }
    static void DeleteFlag(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBDeleteFlagReq>(msg, __LINE__);
        s.AnswerResult<ccDBDeleteFlagResp>(msg, kMsgDeleteFlagResp,
                                           req ? host.DeleteFlag(req->Name) : kora::s_int8(0));
    }
    static void ExportFlags(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBFlagsExportReq>(msg, __LINE__);
        s.AnswerResult<ccDBFlagsExportResp>(
            msg, kMsgFlagsExportResp, req ? host.ExportFlags(req->Filepath) : kora::s_int8(0));
    }
    static void Reboot(cDataServer&, IDataServer& host, kora::cMsg& msg) {
        host.Reboot(msg.Channel() ? msg.Channel()->PeerInfo().Identity : kora::s_string());
    }
    static void DumpAnswer(cDataServer& s, IDataServer&, kora::cMsg& msg) {
        // Only a channel that was asked ends its part of the cycle; an answer
        // from anyone else changes nothing.
        kora::cChannel* channel = msg.Channel();
        if (!channel || !s.m_dumpPending.count(channel)) return;
        Drop(s.m_dumpPending, channel);
        if (s.m_dumpPending.empty()) s.FinishDump();
    }
    static void DumpTimeout(cDataServer& s, IDataServer&, kora::cMsg&) { s.FinishDump(); }
    static void Snapshot(cDataServer& s, IDataServer& host, kora::cMsg& msg) {
        auto* req = Expect<ccDBSnapshotReq>(msg, __LINE__);
        kora::cChannel* channel = msg.Channel();
        if (!req || !channel || s.m_snapshotRequester) {
            // One snapshot at a time: a second request is refused without
            // reaching the host; the first one stays pending.
            s.AnswerResult<ccDBSnapshotResp>(msg, kMsgSnapshotResp, 0);
            return;
        }
        channel->AddRef();
        s.m_snapshotRequester = channel;
        s.m_snapshotPath = req->Filepath;
        kora::s_int8 result = host.CreateSnapshot(req->Filepath);
        if (result != 1) {
            s.AnswerResult<ccDBSnapshotResp>(msg, kMsgSnapshotResp, result);
            s.ClearSnapshot();
        }
    }

    static constexpr Row kRows[] = {
        {kMsgGetItemReq, GetItem},
        {kMsgSetItemReq, SetItem},
        {kMsgSetItem, SetItem},
        {kMsgDeleteItemReq, DeleteItem},
        {kMsgDuplicateItemReq, DuplicateItem},
        {kMsgRenameItemReq, RenameItem},
        {kMsgRegCollectionReq, RegCollection},
        {kMsgDeRegCollectionReq, DeRegCollection},
        {kMsgLogReq, Log},
        {kMsgReadLogReq, ReadLog},
        {kMsgLogExportReq, ExportLog},
        {kMsgCreateRestorePointReq, CreateRestorePoint},
        {kMsgRestoreReq, Restore},
        {kMsgConfigImportReq, ImportConfig},
        {kMsgConfirmConfigReq, ConfirmConfig},
        {kMsgFallbackConfigReq, FallbackConfig},
        {kMsgConfigExportReq, ExportConfig},
        {kMsgStatusExportReq, ExportStatus},
        {kMsgFactoryResetReq, FactoryReset},
        {kMsgGetFactoryConfigInfoReq, FactoryConfigInfo},
        {kMsgAddUserReq, AddUser},
        {kMsgDeleteUserReq, DeleteUser},
        {kMsgSetPasswordReq, SetPassword},
        {kMsgAuthenticateUserReq, AuthenticateUser},
        {kMsgSetFlagReq, SetFlag},
        {kMsgGetFlagReq, GetFlag},
        {kMsgDeleteFlagReq, DeleteFlag},
        {kMsgFlagsExportReq, ExportFlags},
        {kMsgRebootReq, Reboot},
        {kMsgDumpRes, DumpAnswer},
        {kMsgSnapshotReq, Snapshot},
    };

    // The handler of a request name a peer may send, or null.
    static Handler Find(const std::string& name) {
        static const std::unordered_map<std::string_view, Handler> table = [] {
            std::unordered_map<std::string_view, Handler> t;
            for (const Row& row : kRows) t.emplace(row.name, row.handle);
            return t;
        }();
        auto it = table.find(name);
        return it == table.end() ? nullptr : it->second;
    }
};

bool cDataServer::ProcessMsg(kora::cMsg& msg) {
    if (!m_protocol) {
        Trace(1, "DataServer Protocoll unavailable (==NULL)", __LINE__);
        return false;
    }
    const std::string& name = msg.Name();
    kora::cChannel* channel = msg.Channel();
    // Hosts may ask who sent the request while they handle it.
    struct RequestScope {
        kora::cChannel*& slot;
        kora::cChannel* saved;
        ~RequestScope() { slot = saved; }
    } scope{m_requestChannel, m_requestChannel};
    m_requestChannel = channel;

    Handlers::Handler handle = Handlers::Find(name);
    if (!handle && !msg.FromPeer()) {
        // Names only the framework or this process produce.
        if (name == kora::kChannelClosedMsg) {
            // A closed connection: forget it everywhere, and leave the message
            // to other sinks of the host.
            if (channel) CloseChannel(channel);
            msg.MarkNoticed();
            return false;
        }
        if (name == kMsgDumpTimeout) handle = Handlers::DumpTimeout;
    }
    if (name == kMsgClientOnConnect) {
        if (channel) Hold(m_connected, channel);
        msg.MarkNoticed();
        return false;  // announced, but left to other sinks
    }
    if (!handle) return false;
    handle(*this, *m_protocol, msg);
    return true;
}

// ---- channel registry ----

void cDataServer::Hold(std::set<kora::cChannel*>& set, kora::cChannel* channel) {
    if (set.insert(channel).second) channel->AddRef();
}

void cDataServer::Drop(std::set<kora::cChannel*>& set, kora::cChannel* channel) {
    if (set.erase(channel)) channel->Release();
}

void cDataServer::RegisterChannel(kora::cChannel* channel, const std::string& path) {
    if (channel) Hold(m_registered[path], channel);
}

void cDataServer::DeregisterChannel(kora::cChannel* channel, const std::string& path) {
    if (!path.empty()) {
        auto it = m_registered.find(path);
        if (it != m_registered.end()) Drop(it->second, channel);
        return;
    }
    for (auto& entry : m_registered) Drop(entry.second, channel);
}

void cDataServer::CloseChannel(kora::cChannel* channel) {
    DeregisterChannel(channel, "");
    Drop(m_connected, channel);
    Drop(m_dumpPending, channel);
    if (channel && channel == m_snapshotRequester) ClearSnapshot();
}

std::set<kora::cChannel*> cDataServer::RegisteredChannels(const std::string& path) const {
    auto it = m_registered.find(path);
    return it == m_registered.end() ? std::set<kora::cChannel*>() : it->second;
}

void cDataServer::ClearSnapshot() {
    if (m_snapshotRequester) m_snapshotRequester->Release();
    m_snapshotRequester = nullptr;
    m_snapshotPath.clear();
}

// ---- synchronisation ----

void cDataServer::SyncCollection(kora::cChannel* channel, const kora::s_string& path) {
    if (!channel) return;
    kora::cMsg init(kMsgCollectionSyncInit);
    if (auto* p = kora::New<ccDBSyncInit>()) {
        p->Path = path;
        init.AssignObject(p);
    }
    channel->Send(init);
    m_protocol->SyncCollection(this, channel, path);
    kora::cMsg end(kMsgCollectionSyncEnd);
    if (auto* p = kora::New<ccDBSyncEnd>()) {
        p->Path = path;
        end.AssignObject(p);
    }
    channel->Send(end);
}

void cDataServer::SendSyncItem(kora::cChannel* channel, cDBItem* item) {
    kora::cMsg msg(kMsgCollectionSyncItem);
    if (item) msg.AssignObject(item);
    if (channel) channel->Send(msg);
}

void cDataServer::SendSyncItem(kora::cChannel* channel, const kora::Ref<cDBItem>& item) {
    kora::cMsg msg(kMsgCollectionSyncItem);
    if (item) msg.ShareObject(item.get());
    if (channel) channel->Send(msg);
}

void cDataServer::NotifyClients(const kora::s_string& path) {
    if (!m_protocol) return;
    const std::string directory = DirectoryOf(path);
    auto it = m_registered.find(directory);
    if (it == m_registered.end()) return;
    // Copy: a host may close channels while a sync runs.
    std::set<kora::cChannel*> channels = it->second;
    for (kora::cChannel* c : channels) c->AddRef();
    for (kora::cChannel* c : channels) {
        SyncCollection(c, directory);
        c->Release();
    }
}

// ---- server-initiated traffic ----

void cDataServer::SendDumpRequest(kora::s_string path) {
    for (kora::cChannel* c : m_dumpPending) c->Release();
    m_dumpPending.clear();
    kora::Ref<ccDumpReq> req = kora::Ref<ccDumpReq>::Adopt(kora::New<ccDumpReq>());
    if (req) req->Path = path;
    for (kora::cChannel* c : m_connected) {
        if (c == m_snapshotRequester) continue;
        kora::cMsg msg(kMsgDumpReq);
        if (req) msg.ShareObject(req.get());
        c->Send(msg);
        Hold(m_dumpPending, c);
    }
    m_dumpTimer.StartSec(5, kMsgDumpTimeout);
}

void cDataServer::FinishDump() {
    m_dumpTimer.Stop();
    m_protocol->DumpFinished();
}

void cDataServer::SendRebootNotification() {
    for (kora::cChannel* c : m_connected) {
        kora::cMsg msg(kMsgRebootNotification);
        c->Send(msg);
    }
}

void cDataServer::SendSnapshotResp(kora::s_int8 result) {
    if (m_snapshotRequester) {
        kora::cMsg msg(kMsgSnapshotResp);
        if (auto* resp = kora::New<ccDBSnapshotResp>()) {
            resp->Result = result;
            msg.AssignObject(resp);
        }
        m_snapshotRequester->Send(msg);
    }
    ClearSnapshot();
}

}  // namespace tessel
