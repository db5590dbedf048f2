// One connection between two kora services, seen from one end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kora/export.h"
#include "kora/msg.h"
#include "kora/serialize.h"

namespace kora {

namespace detail {
struct ChannelImpl;
}

// Most bytes a channel keeps queued for a peer that does not read; a send
// beyond this closes the connection instead of growing without end.
constexpr size_t kMaxQueuedOutput = 32u << 20;

// Reference counted handle of one connection. The service that owns the
// connection holds a reference while it is open; messages received on it hold
// one each. After the connection has closed the handle stays valid: IsOpen()
// is false and Send() returns false.
class KORA_API cChannel : public IGarbageCollectable {
  public:
    explicit cChannel(std::unique_ptr<detail::ChannelImpl> impl);
    ~cChannel() override;
    cChannel(const cChannel&) = delete;
    cChannel& operator=(const cChannel&) = delete;

    // Queues the message for the peer without waiting for it to be read. While
    // the delivery thread hands a message received on this channel to a sink,
    // every message sent on this channel answers it (carries its id). Returns
    // false when the channel is closed, the payload's type is not registered
    // with cObjectFactory, the frame is too large or the peer's queue overflowed
    // (which closes the channel).
    bool Send(cMsg& msg);

    // The peer's announced identity and process name and, on the serving side,
    // the socket's credentials of the peer process (also on the connecting side
    // for the serving process).
    s_peerinfo PeerInfo() const;
    // The kernel's word on who the peer process is (uid, gid, supplementary
    // groups, pid), read when the connection was made. This is what a server
    // bases decisions on; the announced PeerInfo().Identity is the peer's claim.
    const cPeerCredentials& Credentials() const;
    // Process-wide unique number of this connection.
    uint32_t Id() const;
    bool IsOpen() const;

    detail::ChannelImpl& Impl() const { return *m_impl; }

  private:
    std::unique_ptr<detail::ChannelImpl> m_impl;
};

}  // namespace kora
