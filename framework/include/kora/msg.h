// kora messages: a name, at most one payload object and, for a received message,
// the channel it came on. Also the peer information a connection announces.
//
// Frame on the wire (both transports, all integers little-endian):
//   u32  length of what follows (at most kMaxFrameSize)
//   u32  message id (per sending end of a connection, never 0)
//   u32  id of the message this one answers, or 0
//   name as an s_string
//   u8   1 when a payload follows, else 0
//   payload as written by cObjectFactory::Serialize (type name, then its own form)
// A frame whose contents do not parse exactly to its length is a protocol error.
#pragma once

#include <cstdint>
#include <string>

#include "kora/serialize.h"
#include "kora/types.h"

namespace kora {

class cChannel;

// Largest frame body (everything after the length prefix) either end accepts.
constexpr uint32_t kMaxFrameSize = 16u << 20;

// Name of the message a serving service delivers to its sinks when one of its
// connections has closed; Channel() is the closed channel.
constexpr const char kChannelClosedMsg[] = "KORA::CHANNEL-CLOSED";

class cMsg {
  public:
    cMsg() = default;
    explicit cMsg(const std::string& name) : m_name(name) {}
    cMsg(const cMsg& other);
    cMsg(cMsg&& other) noexcept;
    cMsg& operator=(const cMsg& other);
    cMsg& operator=(cMsg&& other) noexcept;
    ~cMsg();

    const std::string& Name() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }

    // Attaches `obj`, taking over the caller's reference; a payload attached
    // before is released. Null clears the payload.
    void AssignObject(ISerialize* obj);
    // Attaches `obj` with a reference of its own; the caller keeps its reference.
    void ShareObject(ISerialize* obj);
    // Releases the payload, if any.
    void ClearObject() { AssignObject(nullptr); }
    ISerialize* GetPayload() const { return m_payload; }
    // The payload cast to T, or null when there is none or it is of another class.
    template <class T>
    T* GetObject() const {
        return dynamic_cast<T*>(m_payload);
    }

    // The channel a received message came on (null for a local message). The
    // message holds a reference to it.
    cChannel* Channel() const { return m_channel; }
    void SetChannel(cChannel* channel);

    // Frame ids of a received message (0 for a local one).
    uint32_t Id() const { return m_id; }
    uint32_t InReplyTo() const { return m_inReplyTo; }
    void SetIds(uint32_t id, uint32_t inReplyTo) {
        m_id = id;
        m_inReplyTo = inReplyTo;
    }

  private:
    std::string m_name;
    ISerialize* m_payload = nullptr;
    cChannel* m_channel = nullptr;
    uint32_t m_id = 0;
    uint32_t m_inReplyTo = 0;
};

// What one end of a connection knows about the other. The connecting side
// announces Identity (for example the user a web session acts for) and
// ProcessName; the serving side overwrites Pid, Uid and Gid with the socket's
// peer credentials, so those are never taken from the peer's word.
class s_peerinfo : public ISerialize {
  public:
    using ISerialize::Deserialize;
    using ISerialize::Serialize;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "s_peerinfo"; }
    bool Serialize(cSerializeBuffer& b) const override;
    int Deserialize(cSerializeBuffer& b) override;
    std::string ToString(const std::string& format) const override;

    s_string Identity;
    s_string ProcessName;
    s_uint32 Pid;
    s_uint32 Uid;
    s_uint32 Gid;
};

}  // namespace kora
