// Messages, peer information, credentials and the frame codec.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "factory_internal.h"
#include "kora/factory.h"
#include "kora/helper.h"
#include "messaging_internal.h"

namespace kora {

// The framework's own wire types, so that plain strings and string maps can
// travel as payloads without every process registering them.
static RegisterObject<s_peerinfo> r_s_peerinfo;
static RegisterObject<s_string> r_s_string;
static RegisterObject<s_map_string_string> r_s_map_string_string;

namespace detail {

InputBlock* InputBlock::Create(size_t capacity) {
    auto* b = new InputBlock;
    // Not value-initialised: pages a peer never fills are never touched.
    b->data = new uint8_t[capacity];
    b->capacity = capacity;
    return b;
}

void InputBlock::Release() {
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete[] data;
        delete this;
    }
}

}  // namespace detail

// ---- cMsg ----

cMsg::cMsg(const cMsg& other)
    : m_name(other.m_name),
      m_payload(other.m_payload),
      m_raw(other.m_raw),
      m_rawOffset(other.m_rawOffset),
      m_rawSize(other.m_rawSize),
      m_channel(other.m_channel),
      m_id(other.m_id),
      m_inReplyTo(other.m_inReplyTo),
      m_fromPeer(other.m_fromPeer) {
    if (m_payload) m_payload->AddRef();
    if (m_raw) m_raw->AddRef();
    if (m_channel) m_channel->AddRef();
}

cMsg::cMsg(cMsg&& other) noexcept
    : m_name(std::move(other.m_name)),
      m_payload(other.m_payload),
      m_raw(other.m_raw),
      m_rawOffset(other.m_rawOffset),
      m_rawSize(other.m_rawSize),
      m_channel(other.m_channel),
      m_id(other.m_id),
      m_inReplyTo(other.m_inReplyTo),
      m_fromPeer(other.m_fromPeer) {
    other.m_payload = nullptr;
    other.m_raw = nullptr;
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
        DropRaw();
        if (m_channel) m_channel->Release();
        m_name = std::move(other.m_name);
        m_payload = other.m_payload;
        m_raw = other.m_raw;
        m_rawOffset = other.m_rawOffset;
        m_rawSize = other.m_rawSize;
        m_channel = other.m_channel;
        m_id = other.m_id;
        m_inReplyTo = other.m_inReplyTo;
        m_fromPeer = other.m_fromPeer;
        other.m_payload = nullptr;
        other.m_raw = nullptr;
        other.m_channel = nullptr;
    }
    return *this;
}

cMsg::~cMsg() {
    if (m_payload) m_payload->Release();
    DropRaw();
    if (m_channel) m_channel->Release();
}

void cMsg::DropRaw() const {
    if (m_raw) m_raw->Release();
    m_raw = nullptr;
    m_rawOffset = m_rawSize = 0;
}

void cMsg::AssignObject(ISerialize* obj) {
    DropRaw();
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

void cMsg::SetReceived(detail::InputBlock* block, uint32_t offset, uint32_t size) {
    AssignObject(nullptr);
    m_fromPeer = true;
    if (!block) return;
    block->AddRef();
    m_raw = block;
    m_rawOffset = offset;
    m_rawSize = size;
}

namespace {

// The type name at the start of a payload's wire form, read in place.
bool PeekTypeName(const uint8_t* p, uint32_t size, std::string_view& name, uint32_t& used) {
    if (size < 6 || (p[0] | p[1] << 8) != 1) return false;
    const uint32_t len = static_cast<uint32_t>(p[2]) | static_cast<uint32_t>(p[3]) << 8 |
                         static_cast<uint32_t>(p[4]) << 16 | static_cast<uint32_t>(p[5]) << 24;
    if (len > size - 6) return false;
    name = std::string_view(reinterpret_cast<const char*>(p + 6), len);
    used = 6 + len;
    return true;
}

}  // namespace

ISerialize* cMsg::Resolve(bool (*fits)(const ISerialize*)) const {
    const uint8_t* p = m_raw->data + m_rawOffset;
    std::string_view type;
    uint32_t used = 0;
    ISerialize* obj = nullptr;
    if (PeekTypeName(p, m_rawSize, type, used)) obj = detail::CreateByName(type);
    if (obj && fits && !fits(obj)) {
        // Of another class than the handler takes: left as it came.
        obj->Release();
        return nullptr;
    }
    if (obj) {
        cSerializeBuffer b = cSerializeBuffer::View(p + used, m_rawSize - used);
        if (!obj->Deserialize(b) || b.Remaining() != 0) {
            obj->Release();
            obj = nullptr;
        }
    }
    DropRaw();
    if (!obj) {
        detail::PeerTrace(
            m_channel ? m_channel->Impl().core.get() : nullptr, 1,
            "damaged payload, closing connection",
            FormatString("'%s' on channel %u", m_name.c_str(), m_channel ? m_channel->Id() : 0));
        if (m_channel) m_channel->Impl().EndReading("damaged payload");
        return nullptr;
    }
    m_payload = obj;
    return obj;
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

// ---- cPeerCredentials ----

bool cPeerCredentials::InGroup(uint32_t group) const {
    return known && (gid == group || std::binary_search(groups.begin(), groups.end(), group));
}

// ---- frames ----

namespace detail {

cSerializeBuffer& EncodeBuffer() {
    thread_local cSerializeBuffer buffer;
    return buffer;
}

bool EncodeFrame(const cMsg& msg, uint32_t id, uint32_t inReplyTo, cSerializeBuffer& b,
                 std::string& error) {
    b.Clear();
    b.WriteU32(0);  // length, patched below
    b.WriteU32(id);
    b.WriteU32(inReplyTo);
    const std::string& name = msg.Name();
    b.WriteU16(1);  // the name as an s_string
    b.WriteU32(static_cast<uint32_t>(name.size()));
    b.Write(name.data(), static_cast<unsigned>(name.size()));
    const ISerialize* payload = msg.GetPayload();
    b.WriteU8(payload ? 1 : 0);
    if (payload) {
        const std::string type = payload->TypeName();
        if (!IsRegisteredName(type)) {
            error = "payload type not registered: " + type;
            return false;
        }
        b.WriteU16(1);
        b.WriteU32(static_cast<uint32_t>(type.size()));
        b.Write(type.data(), static_cast<unsigned>(type.size()));
        if (!payload->Serialize(b)) {
            error = "payload did not serialize: " + type;
            return false;
        }
    }
    const size_t body = b.Size() - 4;
    if (body > kMaxFrameSize) {
        error = FormatString("frame of %zu bytes exceeds the limit", body);
        return false;
    }
    uint8_t* head = b.Bytes().data();
    for (int i = 0; i < 4; ++i) head[i] = static_cast<uint8_t>(body >> (8 * i));
    return true;
}

bool DecodeFrame(InputBlock* block, size_t offset, uint32_t size, cMsg& msg, std::string& error) {
    const uint8_t* body = block->data + offset;
    // Header: id, answered id, name (version, length, bytes), payload flag.
    if (size < kMinFrameBody) {
        error = "truncated frame header";
        return false;
    }
    auto u32 = [body](size_t at) {
        return static_cast<uint32_t>(body[at]) | static_cast<uint32_t>(body[at + 1]) << 8 |
               static_cast<uint32_t>(body[at + 2]) << 16 |
               static_cast<uint32_t>(body[at + 3]) << 24;
    };
    const uint32_t id = u32(0), inReplyTo = u32(4);
    const uint32_t nameLen = u32(10);
    if ((body[8] | body[9] << 8) != 1 || nameLen > size - kMinFrameBody) {
        error = "truncated frame header";
        return false;
    }
    const size_t flagAt = 14 + size_t(nameLen);
    const uint8_t flag = body[flagAt];
    if (id == 0 || flag > 1) {
        error = "malformed frame header";
        return false;
    }
    const char* name = reinterpret_cast<const char*>(body + 14);
    const uint32_t payloadAt = static_cast<uint32_t>(flagAt + 1);
    const uint32_t payloadSize = size - payloadAt;
    if (!flag && payloadSize != 0) {
        error = FormatString("%u bytes of trailing data in '%.*s'", payloadSize,
                             static_cast<int>(nameLen), name);
        return false;
    }
    if (flag) {
        std::string_view type;
        uint32_t used = 0;
        if (!PeekTypeName(body + payloadAt, payloadSize, type, used) || !IsRegisteredName(type)) {
            error = FormatString("unknown or damaged payload in '%.*s'", static_cast<int>(nameLen),
                                 name);
            return false;
        }
    }
    msg.SetName(std::string(name, nameLen));
    msg.SetReceived(flag ? block : nullptr, static_cast<uint32_t>(offset + payloadAt), payloadSize);
    msg.SetIds(id, inReplyTo);
    return true;
}

DispatchContext& CurrentDispatch() {
    static thread_local DispatchContext context;
    return context;
}

void FillCredentials(int fd, cPeerCredentials& creds) {
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return;
    creds.known = true;
    creds.pid = static_cast<uint32_t>(cred.pid);
    creds.uid = cred.uid;
    creds.gid = cred.gid;
    creds.groups.clear();
#ifdef SO_PEERGROUPS
    gid_t groups[64];
    socklen_t glen = sizeof groups;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups, &glen) == 0) {
        creds.groups.assign(groups, groups + glen / sizeof(gid_t));
    } else if (errno == ERANGE && glen > sizeof groups) {
        std::vector<gid_t> many(glen / sizeof(gid_t));
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, many.data(), &glen) == 0)
            creds.groups.assign(many.begin(), many.begin() + glen / sizeof(gid_t));
    }
    std::sort(creds.groups.begin(), creds.groups.end());
#endif
}

}  // namespace detail

// ---- cFrame ----

bool cFrame::Encode(const cMsg& msg, uint32_t id, uint32_t inReplyTo, std::vector<uint8_t>& frame,
                    std::string& error) {
    cSerializeBuffer b;
    if (!detail::EncodeFrame(msg, id, inReplyTo, b, error)) return false;
    frame = std::move(b.Bytes());
    return true;
}

bool cFrame::Decode(const uint8_t* body, uint32_t size, cMsg& msg, std::string& error) {
    detail::InputBlock* block = detail::InputBlock::Create(size ? size : 1);
    if (size) std::memcpy(block->data, body, size);
    const bool ok = detail::DecodeFrame(block, 0, size, msg, error);
    block->Release();
    return ok;
}

}  // namespace kora
