// kora serialization core: byte buffers, reference-counted objects and the
// ISerialize contract that every value that travels between processes follows.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "kora/export.h"

// libxml2's node type, declared here so users of kora need no libxml2 headers.
struct _xmlNode;
typedef struct _xmlNode xmlNode;

namespace kora {

// A growable byte buffer with one read position. Writes append; reads consume
// from the read position and never go past the end: a read that asks for more
// bytes than remain reads nothing and fails.
//
// A buffer made with View() reads bytes that belong to someone else in place
// (received frames are decoded this way, without a copy); the first write to
// it copies them into storage of its own.
class KORA_API cSerializeBuffer {
  public:
    cSerializeBuffer() = default;
    // Copies `size` bytes from `data`.
    cSerializeBuffer(const void* data, size_t size);
    // Reads `size` bytes at `data` without copying them; they must outlive the buffer.
    static cSerializeBuffer View(const void* data, size_t size);

    void Write(const void* data, unsigned size);
    // Copies `size` bytes into `data`; returns nonzero on success, 0 (reading
    // nothing) when fewer than `size` bytes remain.
    int Read(void* data, unsigned size);

    const uint8_t* Data() const { return m_view ? m_view : m_bytes.data(); }
    unsigned Size() const { return static_cast<unsigned>(m_view ? m_viewSize : m_bytes.size()); }
    // Bytes not read yet; a length prefix is checked against this before any allocation.
    unsigned Remaining() const { return static_cast<unsigned>(Size() - m_readPos); }
    unsigned ReadPosition() const { return static_cast<unsigned>(m_readPos); }
    void Rewind() { m_readPos = 0; }
    // Empties the buffer; storage of its own is kept for the next writes.
    void Clear() {
        m_bytes.clear();
        m_view = nullptr;
        m_viewSize = 0;
        m_readPos = 0;
    }

    // Little-endian fixed-width helpers used by the wire forms.
    void WriteU8(uint8_t v) { Write(&v, 1); }
    void WriteU16(uint16_t v);
    void WriteU32(uint32_t v);
    void WriteU64(uint64_t v);
    bool ReadU8(uint8_t& v) { return Read(&v, 1) != 0; }
    bool ReadU16(uint16_t& v);
    bool ReadU32(uint32_t& v);
    bool ReadU64(uint64_t& v);

    // The bytes as storage of the buffer's own (a view is copied first).
    std::vector<uint8_t>& Bytes();

  private:
    void Own();

    std::vector<uint8_t> m_bytes;
    const uint8_t* m_view = nullptr;
    size_t m_viewSize = 0;
    size_t m_readPos = 0;
};

// Reference counting. A heap object starts with one reference; the last
// Release() destroys it. Heap objects are also entered in the process-wide
// registry of GC, so tests can count live objects and see leaks.
class KORA_API IGarbageCollectable {
  public:
    IGarbageCollectable() : m_refs(1) {}
    // A copy is a new object with a reference count of its own.
    IGarbageCollectable(const IGarbageCollectable&) : m_refs(1) {}
    IGarbageCollectable& operator=(const IGarbageCollectable&) { return *this; }
    virtual ~IGarbageCollectable() = default;

    virtual long AddRef();
    // Drops one reference; the last one removes the object from the registry and deletes it.
    virtual long Release();
    virtual long GetRefCount() const;
    // Collector hook; classes may override it to mark themselves as collectable.
    virtual void GARBAGE_COLLECTABLE_missing() {}

  private:
    std::atomic<long> m_refs;
};

// Registry of live heap objects (those created through New or a factory).
struct KORA_API GC {
    static void Add(const void* obj);
    static void Remove(const void* obj);
    // Number of objects added and not yet removed.
    static size_t LiveCount();
};

// Allocates and constructs a T on the heap the collector's way: allocate,
// register, construct; if construction throws, unregister and free.
// Returns the object holding one reference (the caller's), or null.
template <class T, class... Args>
T* New(Args&&... args) {
    void* mem = ::operator new(sizeof(T), std::nothrow);
    if (!mem) return nullptr;
    GC::Add(mem);
    try {
        return new (mem) T(std::forward<Args>(args)...);
    } catch (...) {
        GC::Remove(mem);
        ::operator delete(mem);
        return nullptr;
    }
}

// Owning handle for one reference of a collectable object; releases it on
// destruction so no early return can leak. `Adopt` takes over an existing
// reference; `Share` adds one.
template <class T>
class Ref {
  public:
    Ref() = default;
    static Ref Adopt(T* p) { return Ref(p); }
    static Ref Share(T* p) {
        if (p) p->AddRef();
        return Ref(p);
    }
    Ref(const Ref& o) : m_p(o.m_p) {
        if (m_p) m_p->AddRef();
    }
    Ref(Ref&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    // A handle of a derived class converts to one of its base.
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    Ref(Ref<U> o) noexcept : m_p(o.Detach()) {}
    Ref& operator=(Ref o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~Ref() {
        if (m_p) m_p->Release();
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // Hands the reference to the caller.
    T* Detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }

  private:
    explicit Ref(T* p) : m_p(p) {}
    T* m_p = nullptr;
};

// A value that has a versioned binary form, an optional XML form and a text form.
class KORA_API ISerialize : public IGarbageCollectable {
  public:
    virtual unsigned Version() const { return 0; }
    virtual std::string TypeName() const { return "?"; }
    virtual bool Serialize(cSerializeBuffer& buffer) const = 0;
    // Returns the version read, or 0 on failure.
    virtual int Deserialize(cSerializeBuffer& buffer) = 0;
    virtual bool Serialize(xmlNode*& node, const char* name) const;
    virtual bool Deserialize(xmlNode*& node, std::string& error);
    virtual std::string ToString(const std::string& format) const = 0;

    // The version record: Version() as a little-endian 16-bit value.
    void SerializeVersion(cSerializeBuffer& buffer) const;
    // Returns the version read, or 0 when the buffer is exhausted.
    unsigned DeserializeVersion(cSerializeBuffer& buffer);
};

}  // namespace kora
