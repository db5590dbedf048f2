#include "kora/serialize.h"

#include <cstring>
#include <mutex>
#include <unordered_set>

namespace kora {

cSerializeBuffer::cSerializeBuffer(const void* data, size_t size)
    : m_bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}

void cSerializeBuffer::Write(const void* data, unsigned size) {
    if (size == 0) return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
}

int cSerializeBuffer::Read(void* data, unsigned size) {
    if (size > m_bytes.size() - m_readPos) return 0;
    if (size) std::memcpy(data, m_bytes.data() + m_readPos, size);
    m_readPos += size;
    return 1;
}

void cSerializeBuffer::WriteU16(uint16_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Write(b, 2);
}
void cSerializeBuffer::WriteU32(uint32_t v) {
    uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    Write(b, 4);
}
void cSerializeBuffer::WriteU64(uint64_t v) {
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    Write(b, 8);
}
bool cSerializeBuffer::ReadU16(uint16_t& v) {
    uint8_t b[2];
    if (!Read(b, 2)) return false;
    v = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}
bool cSerializeBuffer::ReadU32(uint32_t& v) {
    uint8_t b[4];
    if (!Read(b, 4)) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(b[i]) << (8 * i);
    return true;
}
bool cSerializeBuffer::ReadU64(uint64_t& v) {
    uint8_t b[8];
    if (!Read(b, 8)) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(b[i]) << (8 * i);
    return true;
}

long IGarbageCollectable::AddRef() {
    return ++m_refs;
}

long IGarbageCollectable::Release() {
    long left = --m_refs;
    if (left == 0) {
        // The registry holds the address of the whole object, which differs from
        // `this` when the counted base is not the first base of the class.
        GC::Remove(dynamic_cast<const void*>(this));
        delete this;
    }
    return left;
}

long IGarbageCollectable::GetRefCount() const {
    return m_refs.load();
}

namespace {
struct Registry {
    std::mutex lock;
    std::unordered_set<const void*> live;
};
Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: objects may die during static teardown
    return *r;
}
}  // namespace

void GC::Add(const void* obj) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.live.insert(obj);
}

void GC::Remove(const void* obj) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.live.erase(obj);
}

size_t GC::LiveCount() {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    return r.live.size();
}

bool ISerialize::Serialize(xmlNode*&, const char*) const {
    return false;
}

bool ISerialize::Deserialize(xmlNode*&, std::string& error) {
    error = "Deserialize(xml) not implemented";
    return false;
}

void ISerialize::SerializeVersion(cSerializeBuffer& buffer) const {
    buffer.WriteU16(static_cast<uint16_t>(Version()));
}

unsigned ISerialize::DeserializeVersion(cSerializeBuffer& buffer) {
    uint16_t v = 0;
    return buffer.ReadU16(v) ? v : 0;
}

}  // namespace kora
