// Builds binary forms token by token, so tests can state a stored layout as
// a table: Wire().Version(1).Str("name").U8(3) ...
#pragma once

#include <cstdint>
#include <string>

#include "kora/serialize.h"

namespace testwire {

class Wire {
  public:
    Wire& Version(uint16_t v) {
        m_buf.WriteU16(v);
        return *this;
    }
    Wire& Bool(bool v) {
        Version(1);
        m_buf.WriteU8(v ? 1 : 0);
        return *this;
    }
    Wire& U8(uint8_t v) {
        Version(1);
        m_buf.WriteU8(v);
        return *this;
    }
    Wire& U16(uint16_t v) {
        Version(1);
        m_buf.WriteU16(v);
        return *this;
    }
    Wire& U32(uint32_t v) {
        Version(1);
        m_buf.WriteU32(v);
        return *this;
    }
    Wire& U64(uint64_t v) {
        Version(1);
        m_buf.WriteU64(v);
        return *this;
    }
    Wire& I8(int8_t v) { return U8(static_cast<uint8_t>(v)); }
    Wire& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
    // An IPv4 address given as its 32-bit value, port 0.
    Wire& Addr(uint32_t ip) {
        Version(1);
        m_buf.WriteU32(ip);
        m_buf.WriteU16(0);
        return *this;
    }
    Wire& Time(int64_t seconds) { return U64(static_cast<uint64_t>(seconds * 1000000)); }
    Wire& Str(const std::string& s) {
        Version(1);
        m_buf.WriteU32(static_cast<uint32_t>(s.size()));
        m_buf.Write(s.data(), static_cast<unsigned>(s.size()));
        return *this;
    }
    Wire& Raw(const void* p, unsigned n) {
        m_buf.Write(p, n);
        return *this;
    }
    // A fresh buffer holding the bytes, read position at the start.
    kora::cSerializeBuffer Buffer() const {
        return kora::cSerializeBuffer(m_buf.Data(), m_buf.Size());
    }
    std::string Bytes() const {
        return std::string(reinterpret_cast<const char*>(m_buf.Data()), m_buf.Size());
    }

  private:
    kora::cSerializeBuffer m_buf;
};

inline std::string BytesOf(const kora::ISerialize& obj) {
    kora::cSerializeBuffer b;
    obj.Serialize(b);
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

}  // namespace testwire
