// cDataServer: the message sink a data-server process installs on its service.
//
// It decodes every request of the protocol, calls the host's IDataServer,
// answers on the channel the request came from, keeps which channel
// registered which collection path, re-synchronises those collections after
// every successful change, and runs the server-initiated traffic: dump
// cycles, reboot notifications and the deferred snapshot answer.
//
// Every handler runs on the service's delivery thread, one message at a time;
// the host calls the public operations from that thread (for example from
// inside an IDataServer operation) or serialises itself with it
// (kora::cService::LockDispatch).
#pragma once

#include <set>
#include <string>

#include "kora/kora.h"
#include "tessel/dataserver_host.h"
#include "tessel/export.h"
#include "tessel/item.h"
#include "tessel/messages.h"

namespace tessel {

class TESSEL_API cDataServer : public kora::IGarbageCollectable, public kora::cMessageSink {
  public:
    // With a null host, the service itself is used when it implements IDataServer.
    // While the server lives it keeps the process's feature set
    // (cDBFeatureList::KeepFeatures): a feature list a client sends cannot
    // change what the device claims to have.
    cDataServer(kora::cService* service, IDataServer* protocol);
    ~cDataServer() override;
    cDataServer(const cDataServer&) = delete;
    cDataServer& operator=(const cDataServer&) = delete;

    bool ProcessMsg(kora::cMsg& msg) override;

    // ---- channel registry ----
    void RegisterChannel(kora::cChannel* channel, const std::string& path);
    // An empty path removes the channel from every path.
    void DeregisterChannel(kora::cChannel* channel, const std::string& path);
    // Forgets a channel everywhere. The server calls it by itself when the
    // framework reports a closed connection; a host calls it only for a
    // channel it wants forgotten before that.
    void CloseChannel(kora::cChannel* channel);

    // ---- synchronisation and notification ----
    // Sends the full sync sequence of `path` to one channel.
    void SyncCollection(kora::cChannel* channel, const kora::s_string& path);
    // One item of a running sync; the message takes over the caller's reference.
    void SendSyncItem(kora::cChannel* channel, cDBItem* item);
    // The same for an item the host keeps: the message holds a reference of
    // its own (`server->SendSyncItem(channel, stored)`).
    void SendSyncItem(kora::cChannel* channel, const kora::Ref<cDBItem>& item);
    // Re-synchronises every collection registered at exactly the directory of `path`.
    void NotifyClients(const kora::s_string& path);

    // ---- server-initiated traffic ----
    void SendDumpRequest(kora::s_string path);
    void SendRebootNotification();
    // Answers the pending snapshot request, if any, and clears it.
    void SendSnapshotResp(kora::s_int8 result);

    // Read access for hosts and tests.
    const std::set<kora::cChannel*>& ConnectedChannels() const { return m_connected; }
    const std::set<kora::cChannel*>& DumpPendingChannels() const { return m_dumpPending; }
    std::set<kora::cChannel*> RegisteredChannels(const std::string& path) const;
    kora::cChannel* SnapshotRequester() const { return m_snapshotRequester; }
    // Who sent the request being handled. While an IDataServer operation runs
    // for a request, RequestChannel() is the channel it came on (null at any
    // other time, and for work the host starts itself), and
    // RequestCredentials() what the kernel reported about the sending process
    // when it connected: uid, primary and supplementary groups, pid. A host
    // that grants administrative operations only to a group asks, for example,
    //     const kora::cPeerCredentials* who = server->RequestCredentials();
    //     if (!who || !who->InGroup(adminGid)) return 0;  // refused
    // The identity a peer announces (PeerInfo().Identity) is its own claim and
    // proves nothing.
    kora::cChannel* RequestChannel() const { return m_requestChannel; }
    const kora::cPeerCredentials* RequestCredentials() const {
        return m_requestChannel ? &m_requestChannel->Credentials() : nullptr;
    }
    const std::string& SnapshotPath() const { return m_snapshotPath; }

  private:
    struct Handlers;

    // The tables hold one reference per channel they list, so a channel that
    // closes without CloseChannel never dangles.
    static void Hold(std::set<kora::cChannel*>& set, kora::cChannel* channel);
    static void Drop(std::set<kora::cChannel*>& set, kora::cChannel* channel);
    void ClearSnapshot();
    void FinishDump();

    // Sends a response carrying `payload` (taken over; may be null) on the request's channel.
    void Answer(kora::cMsg& request, const char* name, kora::ISerialize* payload);
    // Sends a result-code response of class R.
    template <class R>
    void AnswerResult(kora::cMsg& request, const char* name, kora::s_int8 result);

    IDataServer* m_protocol = nullptr;
    kora::cMap<std::string, std::set<kora::cChannel*>> m_registered;
    std::set<kora::cChannel*> m_connected;
    kora::cTimer m_dumpTimer;
    std::set<kora::cChannel*> m_dumpPending;
    kora::cChannel* m_snapshotRequester = nullptr;
    std::string m_snapshotPath;
    kora::cChannel* m_requestChannel = nullptr;
};

}  // namespace tessel
