// kora messages: a name, at most one payload object and, for a received message,
// the channel it came on. Also the peer information a connection announces, the
// credentials the kernel reports for a peer, and the frame codec.
//
// Frame on the wire (both transports, all integers little-endian):
//   u32  length of what follows (at most kMaxFrameSize)
//   u32  message id (per sending end of a connection, never 0)
//   u32  id of the message this one answers, or 0
//   name as an s_string
//   u8   1 when a payload follows, else 0
//   payload as written by cObjectFactory::Serialize (type name, then its own form)
// A frame whose contents do not parse exactly to its length is a protocol error.
//
// A received payload is recreated when a handler first asks for it, not when
// the frame arrives: a message that no sink looks at never runs the payload
// class's Deserialize, and GetObject<T>() of a payload of another class does
// not either.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kora/export.h"
#include "kora/serialize.h"
#include "kora/types.h"

namespace kora {

class cChannel;

namespace detail {
struct InputBlock;
}

// Largest frame body (everything after the length prefix) either end accepts.
constexpr uint32_t kMaxFrameSize = 16u << 20;

// Names beginning with this prefix belong to the framework: it delivers such
// messages itself and drops any that a peer sends.
constexpr const char kReservedPrefix[] = "KORA::";

// Name of the message a serving service delivers to its sinks when one of its
// connections has closed; Channel() is the closed channel.
constexpr const char kChannelClosedMsg[] = "KORA::CHANNEL-CLOSED";

class KORA_API cMsg {
  public:
    cMsg() = default;
    explicit cMsg(const std::string& name) : m_name(name) {}
    explicit cMsg(const char* name) : m_name(name) {}
    // A copy shares the payload object; a copy of a received message whose
    // payload was not asked for yet recreates its own when asked.
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
    // The payload, recreated from the frame on first use; null when there is
    // none or it does not parse (which closes the connection it came on).
    ISerialize* GetPayload() const { return m_raw ? Resolve(nullptr) : m_payload; }
    // The payload cast to T, or null when there is none or it is of another
    // class. A received payload of another class is not deserialized.
    template <class T>
    T* GetObject() const {
        if (!m_raw) return dynamic_cast<T*>(m_payload);
        return dynamic_cast<T*>(
            Resolve([](const ISerialize* p) { return dynamic_cast<const T*>(p) != nullptr; }));
    }
    // True when the message carries a payload (recreated or not yet).
    bool HasPayload() const { return m_raw || m_payload; }

    // The channel a received message came on (null for a local message). The
    // message holds a reference to it.
    cChannel* Channel() const { return m_channel; }
    void SetChannel(cChannel* channel);
    // True for a message that a peer sent, false for one this process made
    // (posted messages, timers, connection events). Handlers of names that only
    // the process itself may produce check it.
    bool FromPeer() const { return m_fromPeer; }
    // A sink that acted on a message but leaves it to the other sinks (its
    // ProcessMsg returns false) marks it: a message that no sink handles is
    // traced as not handled only when no sink took note of it either.
    void MarkNoticed() { m_noticed = true; }
    bool Noticed() const { return m_noticed; }

    // Frame ids of a received message (0 for a local one).
    uint32_t Id() const { return m_id; }
    uint32_t InReplyTo() const { return m_inReplyTo; }
    void SetIds(uint32_t id, uint32_t inReplyTo) {
        m_id = id;
        m_inReplyTo = inReplyTo;
    }

    // Framework use: marks the message as received and attaches its payload in
    // its wire form, bytes [offset, offset + size) of `block`.
    void SetReceived(detail::InputBlock* block, uint32_t offset, uint32_t size);

  private:
    ISerialize* Resolve(bool (*fits)(const ISerialize*)) const;
    void DropRaw() const;

    std::string m_name;
    mutable ISerialize* m_payload = nullptr;
    // The payload's wire form while it has not been recreated.
    mutable detail::InputBlock* m_raw = nullptr;
    mutable uint32_t m_rawOffset = 0, m_rawSize = 0;
    cChannel* m_channel = nullptr;
    uint32_t m_id = 0;
    uint32_t m_inReplyTo = 0;
    bool m_fromPeer = false;
    bool m_noticed = false;
};

// What one end of a connection knows about the other. The connecting side
// announces Identity (for example the user a web session acts for) and
// ProcessName; the serving side overwrites Pid, Uid and Gid with the socket's
// peer credentials, so those are never taken from the peer's word.
class KORA_API s_peerinfo : public ISerialize {
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

// Who the process at the other end of a connection is, as the kernel reported
// it when the connection was made (SO_PEERCRED and SO_PEERGROUPS): never the
// peer's own word. Supplementary groups let a server grant a request by
// group membership, the way a system bus applies its policy.
struct KORA_API cPeerCredentials {
    bool known = false;  // false when the kernel reported nothing
    uint32_t pid = 0;
    uint32_t uid = UINT32_MAX;
    uint32_t gid = UINT32_MAX;
    std::vector<uint32_t> groups;  // supplementary groups, ascending

    // True when `group` is the primary or a supplementary group of the peer.
    bool InGroup(uint32_t group) const;
};

// The frame codec, for tools and tests that handle frames themselves.
struct KORA_API cFrame {
    // Builds the whole frame, length prefix included, into `frame`. False (with
    // a reason) when the payload's type is not registered or the frame would
    // exceed kMaxFrameSize.
    static bool Encode(const cMsg& msg, uint32_t id, uint32_t inReplyTo,
                       std::vector<uint8_t>& frame, std::string& error);
    // Parses one frame body (everything after the length prefix) into `msg`.
    // False (with a reason) when the header does not parse, the payload's type
    // is unknown or bytes follow where none may. The payload itself is
    // recreated (and checked) when it is first asked for.
    static bool Decode(const uint8_t* body, uint32_t size, cMsg& msg, std::string& error);
};

}  // namespace kora
