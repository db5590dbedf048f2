// Messages, peer information and the frame codec.
#include <sys/socket.h>

#include <utility>

#include "kora/factory.h"
#include "kora/helper.h"
#include "messaging_internal.h"

namespace kora {

// The framework's own wire types, so that plain strings and string maps can
// travel as payloads without every process registering them.
static RegisterObject<s_peerinfo> r_s_peerinfo;
static RegisterObject<s_string> r_s_string;
static RegisterObject<s_map_string_string> r_s_map_string_string;

// ---- cMsg ----

cMsg::cMsg(const cMsg& other)
    : m_name(other.m_name),
      m_payload(other.m_payload),
      m_channel(other.m_channel),
      m_id(other.m_id),
      m_inReplyTo(other.m_inReplyTo) {
    if (m_payload) m_payload->AddRef();
    if (m_channel) m_channel->AddRef();
}

cMsg::cMsg(cMsg&& other) noexcept
    : m_name(std::move(other.m_name)),
      m_payload(other.m_payload),
      m_channel(other.m_channel),
      m_id(other.m_id),
      m_inReplyTo(other.m_inReplyTo) {
    other.m_payload = nullptr;
    other.m_channel = nullptr;
}

cMsg& cMsg::operator=(const cMsg& other) {
    if (this != &other) {
        cMsg copy(other);
        *this = std::move(copy);
    }
    return *this;
}

cMsg& cMsg::operator=(cMsg&& other) noexcept {
    if (this != &other) {
        if (m_payload) m_payload->Release();
        if (m_channel) m_channel->Release();
        m_name = std::move(other.m_name);
        m_payload = other.m_payload;
        m_channel = other.m_channel;
        m_id = other.m_id;
        m_inReplyTo = other.m_inReplyTo;
        other.m_payload = nullptr;
        other.m_channel = nullptr;
    }
    return *this;
}

cMsg::~cMsg() {
    if (m_payload) m_payload->Release();
    if (m_channel) m_channel->Release();
}

void cMsg::AssignObject(ISerialize* obj) {
    if (obj == m_payload) {
        // The caller's reference is handed over, and the message already holds one.
        if (obj) obj->Release();
        return;
    }
    ISerialize* old = m_payload;
    m_payload = obj;
    if (old) old->Release();
}

void cMsg::ShareObject(ISerialize* obj) {
    if (obj) obj->AddRef();
    AssignObject(obj);
}

void cMsg::SetChannel(cChannel* channel) {
    if (channel) channel->AddRef();
    if (m_channel) m_channel->Release();
    m_channel = channel;
}

// ---- s_peerinfo ----

bool s_peerinfo::Serialize(cSerializeBuffer& b) const {
    SerializeVersion(b);
    return Identity.Serialize(b) && ProcessName.Serialize(b) && Pid.Serialize(b) &&
           Uid.Serialize(b) && Gid.Serialize(b);
}

int s_peerinfo::Deserialize(cSerializeBuffer& b) {
    if (DeserializeVersion(b) != 1) return 0;
    s_peerinfo read;
    if (!read.Identity.Deserialize(b) || !read.ProcessName.Deserialize(b) ||
        !read.Pid.Deserialize(b) || !read.Uid.Deserialize(b) || !read.Gid.Deserialize(b))
        return 0;
    Identity = read.Identity;
    ProcessName = read.ProcessName;
    Pid = read.Pid;
    Uid = read.Uid;
    Gid = read.Gid;
    return 1;
}

std::string s_peerinfo::ToString(const std::string&) const {
    return FormatString("s_peerinfo:Identity:%s, ProcessName:%s, Pid:%u, Uid:%u, Gid:%u",
                        Identity.c_str(), ProcessName.c_str(), unsigned(Pid), unsigned(Uid),
                        unsigned(Gid));
}

namespace detail {

// ---- frames ----

bool EncodeFrame(const cMsg& msg, uint32_t id, uint32_t inReplyTo, std::vector<uint8_t>& frame,
                 std::string& error) {
    cSerializeBuffer b;
    b.WriteU32(0);  // length, patched below
    b.WriteU32(id);
    b.WriteU32(inReplyTo);
    s_string(msg.Name()).Serialize(b);
    const ISerialize* payload = msg.GetPayload();
    b.WriteU8(payload ? 1 : 0);
    if (payload) {
        const std::string type = payload->TypeName();
        if (!cObjectFactory::IsRegistered(type)) {
            error = "payload type not registered: " + type;
            return false;
        }
        if (!cObjectFactory::Serialize(*payload, b)) {
            error = "payload did not serialize: " + type;
            return false;
        }
    }
    const size_t body = b.Size() - 4;
    if (body > kMaxFrameSize) {
        error = FormatString("frame of %zu bytes exceeds the limit", body);
        return false;
    }
    frame = std::move(b.Bytes());
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<uint8_t>(body >> (8 * i));
    return true;
}

bool DecodeFrame(const uint8_t* body, uint32_t size, cMsg& msg, std::string& error) {
    cSerializeBuffer b(body, size);
    uint32_t id = 0, inReplyTo = 0;
    s_string name;
    uint8_t flag = 0;
    if (!b.ReadU32(id) || !b.ReadU32(inReplyTo) || !name.Deserialize(b) || !b.ReadU8(flag)) {
        error = "truncated frame header";
        return false;
    }
    if (id == 0 || flag > 1) {
        error = "malformed frame header";
        return false;
    }
    ISerialize* payload = nullptr;
    if (flag) {
        payload = cObjectFactory::Deserialize(b);
        if (!payload) {
            error = "unknown or damaged payload in '" + name + "'";
            return false;
        }
    }
    if (b.Remaining() != 0) {
        if (payload) payload->Release();
        error = FormatString("%u bytes of trailing data in '%s'", b.Remaining(), name.c_str());
        return false;
    }
    msg.SetName(name);
    msg.AssignObject(payload);
    msg.SetIds(id, inReplyTo);
    return true;
}

DispatchContext& CurrentDispatch() {
    static thread_local DispatchContext context;
    return context;
}

void FillCredentials(int fd, s_peerinfo& info) {
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
        info.Pid = static_cast<uint32_t>(cred.pid);
        info.Uid = cred.uid;
        info.Gid = cred.gid;
    }
}

}  // namespace detail
}  // namespace kora
