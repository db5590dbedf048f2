// A message sink that keeps a connection to another service.
#pragma once

#include <memory>
#include <string>

#include "kora/channel.h"
#include "kora/export.h"
#include "kora/msg.h"
#include "kora/service.h"

namespace kora {

namespace detail {
struct ClientLink;
}

// Connects its service to the service named `serviceName` (in the same runtime
// directory, or directly when that service is served in this process).
//
// Start() connects in the background and retries with a growing pause (20 ms up
// to 1 s) until it succeeds. On every connection the client announces its peer
// information under the name `clientOnConnectName`, which the serving side
// delivers to its sinks from the new channel, and then delivers a message named
// `onConnectName` to itself. When the connection is lost it delivers
// `onCloseName` to itself and reconnects by itself. Stop() closes the connection
// without an `onCloseName` and stops reconnecting.
//
// Before it announces itself, the client checks who serves the socket: the
// serving process must run as root, as the client's own user, or as a user
// named with TrustServerUser(). Anyone else could have put a socket in the
// service's place; the client sends it nothing and tries again later.
//
// Connect and close messages reach the client only from its service, never
// from the connection: a peer that sends messages of those names is ignored.
//
// The client must be registered as a sink of its service (the owner does that)
// to receive the messages that arrive on its connection; its own connect and
// close messages reach it in any case. ProcessMsg hands both kinds to
// DispatchMessage, calling OnConnect/OnClose first for the connect and close
// messages.
class KORA_API cServiceClient : public cMessageSink {
  public:
    cServiceClient(cService* service, const std::string& clientName, const std::string& serviceName,
                   const std::string& onConnectName, const std::string& onCloseName,
                   const std::string& clientOnConnectName);
    ~cServiceClient() override;

    bool ProcessMsg(cMsg& msg) override;
    virtual bool Start();
    virtual void Stop();
    virtual void OnConnect() {}
    virtual void OnClose() {}
    virtual bool DispatchMessage(cMsg&) { return false; }
    // Also accepts a server running as `uid` (root and the client's own user
    // always are).
    void TrustServerUser(uint32_t uid);
    // Peer information announced on the next connection. An empty Identity
    // announces the client name; an empty ProcessName the program's name.
    virtual void SetPeerinfoToBeSent(s_peerinfo& info);

    // Sends without waiting; false when not connected (or see cChannel::Send).
    bool Send(cMsg& msg);
    // The same, telling the id the message went out with and the channel
    // (cChannel::Id) it went on: the answer arrives as a message whose
    // InReplyTo() is that id, on that channel, for a sink to pick up.
    bool Send(cMsg& msg, uint32_t& id, uint32_t& channelId);
    // Sends `msg` and waits up to `timeoutMs` for the message named `replyName`
    // that answers it; on success the answer is stored in `reply`. False on
    // timeout, without a connection, or when the connection is lost meanwhile.
    // May be called from any thread, also the delivery thread (messages that are
    // not the reply stay queued meanwhile) and from several threads at once.
    // The last two arguments are accepted for compatibility and ignored.
    bool SendSync(cMsg& msg, cMsg& reply, unsigned timeoutMs, const std::string& replyName,
                  const std::string& = std::string(), const std::string& = std::string());
    // Traces the connection state (level 0). A started client without a
    // connection then tries to connect at once instead of after its pause; a
    // stopped client stays stopped.
    void HealthRequest();
    bool IsConnected() const;
    // The current connection, or null.
    Ref<cChannel> GetChannel() const;
    const std::string& ServiceName() const;

  protected:
    // Stops the client and waits until no message is with it; from then on
    // nothing reaches this object. A derived class calls it first in its
    // destructor, so that no message meets it half destroyed.
    void Detach();

  private:
    std::shared_ptr<detail::ClientLink> m_link;
};

}  // namespace kora
