#include "tessel/dataserver.h"

#include "tessel/items_log.h"
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
    service->RegisterMessageSink(this);
}

cDataServer::~cDataServer() {
    Service()->UnRegisterMessageSink(this);
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

// A request's payload of the expected class, or null after a trace: the
// handler then answers with a failure (or an empty reply) and changes nothing.
template <class T>
T* Expect(kora::cMsg& msg, int line) {
    T* payload = msg.GetObject<T>();
    if (!payload) Trace(1, "DataServer " + msg.Name() + " without its payload, refused", line);
    return payload;
}

}  // namespace

bool cDataServer::ProcessMsg(kora::cMsg& msg) {
    if (!m_protocol) {
        Trace(1, "DataServer Protocoll unavailable (==NULL)", __LINE__);
        return false;
    }
    const std::string& name = msg.Name();
    IDataServer& host = *m_protocol;
    kora::cChannel* channel = msg.Channel();
    // Hosts may ask who sent the request while they handle it.
    struct RequestScope {
        kora::cChannel*& slot;
        kora::cChannel* saved;
        ~RequestScope() { slot = saved; }
    } scope{m_requestChannel, m_requestChannel};
    m_requestChannel = channel;

    if (name == kora::kChannelClosedMsg) {
        // The framework reports a closed connection: forget it everywhere, and
        // leave the message to other sinks of the host.
        if (channel) CloseChannel(channel);
        return false;
    }
    if (name == kMsgClientOnConnect) {
        if (channel) Hold(m_connected, channel);
        return false;  // announced, but left to other sinks
    }

    if (name == kMsgGetItemReq) {
        auto* req = Expect<ccDBGetItemReq>(msg, __LINE__);
        Answer(msg, kMsgGetItemResp, req ? host.GetItem(req->Path) : nullptr);
    } else if (name == kMsgSetItemReq || name == kMsgSetItem) {
        bool answer = name == kMsgSetItemReq;
        auto* item = Expect<cDBItem>(msg, __LINE__);
        kora::s_int8 result = item ? host.SetItem(item) : kora::s_int8(0);
        if (answer) AnswerResult<ccDBSetItemResp>(msg, kMsgSetItemResp, result);
        if (result == 1) NotifyClients(item->GetPath());
    } else if (name == kMsgDeleteItemReq) {
        auto* req = Expect<ccDBDeleteItemReq>(msg, __LINE__);
        kora::s_int8 result = req ? host.DeleteItem(req->Path) : kora::s_int8(0);
        AnswerResult<ccDBDeleteItemResp>(msg, kMsgDeleteItemResp, result);
        if (result == 1) NotifyClients(req->Path);
    } else if (name == kMsgDuplicateItemReq) {
        auto* req = Expect<ccDBDuplicateItemReq>(msg, __LINE__);
        kora::s_int8 result =
            req ? host.DuplicateItem(req->Directory, req->Name, req->NewName) : kora::s_int8(0);
        AnswerResult<ccDBDuplicateItemResp>(msg, kMsgDuplicateItemResp, result);
        if (result == 1) NotifyClients(req->Directory + req->NewName);
    } else if (name == kMsgRenameItemReq) {
        auto* req = Expect<ccDBRenameItemReq>(msg, __LINE__);
        std::set<kora::s_string> changed;
        kora::s_int8 result =
            req ? host.RenameItem(req->Directory, req->Name, req->NewName, changed)
                : kora::s_int8(0);
        AnswerResult<ccDBRenameItemResp>(msg, kMsgRenameItemResp, result);
        if (result == 1) {
            for (const auto& path : changed) NotifyClients(path);
            NotifyClients(req->Directory + req->Name);
            NotifyClients(req->Directory + req->NewName);
        }
    } else if (name == kMsgRegCollectionReq) {
        auto* req = Expect<ccDBRegCollectionReq>(msg, __LINE__);
        if (!req || !channel) {
            AnswerResult<ccDBRegCollectionResp>(msg, kMsgRegCollectionResp, 0);
            return true;
        }
        RegisterChannel(channel, req->Path);
        AnswerResult<ccDBRegCollectionResp>(msg, kMsgRegCollectionResp, 1);
        SyncCollection(channel, req->Path);
    } else if (name == kMsgDeRegCollectionReq) {
        auto* req = Expect<ccDBDeRegCollectionReq>(msg, __LINE__);
        if (req && channel) DeregisterChannel(channel, req->Path);
        AnswerResult<ccDBDeRegCollectionResp>(msg, kMsgDeRegCollectionResp, req ? 1 : 0);
    } else if (name == kMsgLogReq) {
        if (auto* e = Expect<cDBLogItem>(msg, __LINE__))
            host.Log(e->GetTime(), e->GetUnit(), e->GetLevel(), e->GetType(), e->GetText(),
                     e->GetObject(), e->GetPeer(), e->GetUser(), e->GetSuccess());
    } else if (name == kMsgReadLogReq) {
        auto* req = Expect<ccDBLogReadReq>(msg, __LINE__);
        Answer(msg, kMsgReadLogResp,
               req ? host.ReadLog(req->From, req->Unit, req->Level, req->Count, req->Status)
                   : nullptr);
    } else if (name == kMsgLogExportReq) {
        auto* req = Expect<ccDBLogExportReq>(msg, __LINE__);
        AnswerResult<ccDBLogExportResp>(
            msg, kMsgLogExportResp,
            req ? host.ExportLog(req->From, req->To, req->Level, req->Units, req->Filepath)
                : kora::s_int8(0));
    } else if (name == kMsgCreateRestorePointReq) {
        AnswerResult<ccDBCreateRestorePointResp>(msg, kMsgCreateRestorePointResp,
                                                 host.CreateRestorePoint());
    } else if (name == kMsgRestoreReq) {
        AnswerResult<ccDBRestoreResp>(msg, kMsgRestoreResp, host.Restore());
    } else if (name == kMsgConfigImportReq) {
        auto* req = Expect<ccDBConfigImportReq>(msg, __LINE__);
        AnswerResult<ccDBConfigImportResp>(
            msg, kMsgConfigImportResp,
            req ? host.ImportConfig(req->Filepath, req->UseFallback) : kora::s_int8(0));
    } else if (name == kMsgConfirmConfigReq) {
        AnswerResult<ccDBConfirmConfigurationResp>(msg, kMsgConfirmConfigResp,
                                                   host.ConfirmConfig());
    } else if (name == kMsgFallbackConfigReq) {
        AnswerResult<ccDBFallbackConfigurationResp>(msg, kMsgFallbackConfigResp,
                                                    host.FallbackConfig());
    } else if (name == kMsgConfigExportReq) {
        auto* req = Expect<ccDBConfigExportReq>(msg, __LINE__);
        AnswerResult<ccDBConfigExportResp>(
            msg, kMsgConfigExportResp, req ? host.ExportConfig(req->Filepath) : kora::s_int8(0));
    } else if (name == kMsgStatusExportReq) {
        auto* req = Expect<ccDBStatusExportReq>(msg, __LINE__);
        AnswerResult<ccDBStatusExportResp>(
            msg, kMsgStatusExportResp, req ? host.ExportStatus(req->Filepath) : kora::s_int8(0));
    } else if (name == kMsgFactoryResetReq) {
        AnswerResult<ccDBFactoryResetResp>(msg, kMsgFactoryResetResp, host.FactoryReset());
    } else if (name == kMsgGetFactoryConfigInfoReq) {
        std::pair<kora::s_string, kora::s_string> info = host.GetFactoryConfigInfo();
        auto* resp = kora::New<ccDBFactoryConfigInfoResp>();
        if (resp) {
            resp->First = info.first;
            resp->Second = info.second;
        }
        Answer(msg, kMsgGetFactoryConfigInfoResp, resp);
    } else if (name == kMsgAddUserReq) {
        auto* req = Expect<ccDBAddUserReq>(msg, __LINE__);
        kora::s_int8 result = req ? host.AddUser(req->Username, req->Password, req->AccessLevel,
                                                 req->Extra1, req->Extra2)
                                  : kora::s_int8(0);
        AnswerResult<ccDBAddUserResp>(msg, kMsgAddUserResp, result);
        if (result == 1) NotifyClients("/Users/");
    } else if (name == kMsgDeleteUserReq) {
        auto* req = Expect<ccDBDeleteUserReq>(msg, __LINE__);
        kora::s_int8 result = req ? host.DeleteUser(req->Username) : kora::s_int8(0);
        AnswerResult<ccDBDeleteUserResp>(msg, kMsgDeleteUserResp, result);
        if (result == 1) NotifyClients("/Users/");
    } else if (name == kMsgSetPasswordReq) {
        auto* req = Expect<ccDBSetPasswordReq>(msg, __LINE__);
        AnswerResult<ccDBSetPasswordResp>(
            msg, kMsgSetPasswordResp,
            req ? host.SetPassword(req->Username, req->Password, req->Extra) : kora::s_int8(0));
    } else if (name == kMsgAuthenticateUserReq) {
        auto* req = Expect<ccDBAuthenticateUserReq>(msg, __LINE__);
        kora::s_uint8 level = 0;
        bool ok = req && host.AuthenticateUser(req->Username, req->Password, level);
        auto* resp = kora::New<ccDBAuthenticateUserResp>();
        if (resp) {
            resp->Result = ok ? 1 : 0;
            resp->AccessLevel = level;
        }
        Answer(msg, kMsgAuthenticateUserResp, resp);
    } else if (name == kMsgSetFlagReq) {
        auto* req = Expect<ccDBSetFlagReq>(msg, __LINE__);
        AnswerResult<ccDBSetFlagResp>(
            msg, kMsgSetFlagResp,
            req ? host.SetFlag(req->Name, req->GetSObject()) : kora::s_int8(0));
    } else if (name == kMsgGetFlagReq) {
        auto* req = Expect<ccDBGetFlagReq>(msg, __LINE__);
        Answer(msg, kMsgGetFlagResp, req ? host.GetFlag(req->Name) : nullptr);
    } else if (name == kMsgDeleteFlagReq) {
        auto* req = Expect<ccDBDeleteFlagReq>(msg, __LINE__);
        AnswerResult<ccDBDeleteFlagResp>(msg, kMsgDeleteFlagResp,
                                         req ? host.DeleteFlag(req->Name) : kora::s_int8(0));
    } else if (name == kMsgFlagsExportReq) {
        auto* req = Expect<ccDBFlagsExportReq>(msg, __LINE__);
        AnswerResult<ccDBFlagsExportResp>(msg, kMsgFlagsExportResp,
                                          req ? host.ExportFlags(req->Filepath) : kora::s_int8(0));
    } else if (name == kMsgRebootReq) {
        host.Reboot(channel ? channel->PeerInfo().Identity : kora::s_string());
    } else if (name == kMsgDumpRes) {
        if (channel) Drop(m_dumpPending, channel);
        if (m_dumpPending.empty()) FinishDump();
    } else if (name == kMsgDumpTimeout) {
        FinishDump();
    } else if (name == kMsgSnapshotReq) {
        auto* req = Expect<ccDBSnapshotReq>(msg, __LINE__);
        if (!req || !channel) {
            AnswerResult<ccDBSnapshotResp>(msg, kMsgSnapshotResp, 0);
            return true;
        }
        if (m_snapshotRequester) {
            // One snapshot at a time: a second request is refused without
            // reaching the host; the first one stays pending.
            AnswerResult<ccDBSnapshotResp>(msg, kMsgSnapshotResp, 0);
            return true;
        }
        channel->AddRef();
        m_snapshotRequester = channel;
        m_snapshotPath = req->Filepath;
        kora::s_int8 result = host.CreateSnapshot(req->Filepath);
        if (result != 1) {
            AnswerResult<ccDBSnapshotResp>(msg, kMsgSnapshotResp, result);
            ClearSnapshot();
        }
    } else {
        return false;
    }
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
