#include "kora/serialize.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace kora {

cSerializeBuffer::cSerializeBuffer(const void* data, size_t size)
    : m_bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}

cSerializeBuffer cSerializeBuffer::View(const void* data, size_t size) {
    cSerializeBuffer b;
    b.m_view = size ? static_cast<const uint8_t*>(data) : nullptr;
    b.m_viewSize = size;
    return b;
}

void cSerializeBuffer::Own() {
    if (!m_view) return;
    m_bytes.assign(m_view, m_view + m_viewSize);
    m_view = nullptr;
    m_viewSize = 0;
}

std::vector<uint8_t>& cSerializeBuffer::Bytes() {
    Own();
    return m_bytes;
}

void cSerializeBuffer::Write(const void* data, unsigned size) {
    if (size == 0) return;
    Own();
    const uint8_t* p = static_cast<const uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
}

int cSerializeBuffer::Read(void* data, unsigned size) {
    if (size > Size() - m_readPos) return 0;
    if (size) std::memcpy(data, Data() + m_readPos, size);
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

// The addresses of live heap objects: an open-addressing hash set, so that
// entering and removing an object allocates nothing (the table grows by
// doubling and is reused).
class AddressSet {
  public:
    void Insert(const void* p) {
        if ((m_used + m_dead + 1) * 2 > m_slots.size()) Rehash(m_used * 2 + 1);
        size_t i = Home(p);
        size_t firstDead = SIZE_MAX;
        for (;; i = (i + 1) & m_mask) {
            const uintptr_t v = m_slots[i];
            if (v == kEmpty) break;
            if (v == kDead) {
                if (firstDead == SIZE_MAX) firstDead = i;
            } else if (v == Key(p)) {
                return;
            }
        }
        if (firstDead != SIZE_MAX) {
            i = firstDead;
            --m_dead;
        }
        m_slots[i] = Key(p);
        ++m_used;
    }
    void Erase(const void* p) {
        if (m_used == 0) return;
        for (size_t i = Home(p);; i = (i + 1) & m_mask) {
            const uintptr_t v = m_slots[i];
            if (v == kEmpty) return;
            if (v == Key(p)) {
                m_slots[i] = kDead;
                --m_used;
                ++m_dead;
                return;
            }
        }
    }
    size_t Size() const { return m_used; }

  private:
    // Object addresses are aligned, so 0 and 1 never occur as keys.
    static constexpr uintptr_t kEmpty = 0, kDead = 1;
    static uintptr_t Key(const void* p) { return reinterpret_cast<uintptr_t>(p); }
    size_t Home(const void* p) const {
        return static_cast<size_t>((Key(p) >> 4) * 0x9E3779B97F4A7C15ull >> 20) & m_mask;
    }
    void Rehash(size_t atLeast) {
        size_t size = 64;
        while (size < atLeast * 2) size *= 2;
        std::vector<uintptr_t> old;
        old.swap(m_slots);
        m_slots.assign(size, kEmpty);
        m_mask = size - 1;
        m_used = m_dead = 0;
        for (uintptr_t v : old)
            if (v != kEmpty && v != kDead) Insert(reinterpret_cast<const void*>(v));
    }

    std::vector<uintptr_t> m_slots;
    size_t m_mask = 0, m_used = 0, m_dead = 0;
};

struct Registry {
    std::mutex lock;
    AddressSet live;
};
Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: objects may die during static teardown
    return *r;
}
}  // namespace

void GC::Add(const void* obj) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.live.Insert(obj);
}

void GC::Remove(const void* obj) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.live.Erase(obj);
}

size_t GC::LiveCount() {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    return r.live.Size();
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
