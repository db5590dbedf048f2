// Builds binary forms token by token: Wire().Version(1).Str("name").U8(3), or
// as text: Wire().Tokens("v1 s:name u8:3").
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>

#include "kora/serialize.h"

namespace testwire {

class Wire {
  public:
    Wire& Version(uint16_t v) {
        return Put([v](auto& b) { b.WriteU16(v); });
    }
    Wire& Bool(bool v) { return U8(v ? 1 : 0); }
    Wire& U8(uint8_t v) {
        return Version(1).Put([v](auto& b) { b.WriteU8(v); });
    }
    Wire& U16(uint16_t v) {
        return Version(1).Put([v](auto& b) { b.WriteU16(v); });
    }
    Wire& U32(uint32_t v) {
        return Version(1).Put([v](auto& b) { b.WriteU32(v); });
    }
    Wire& U64(uint64_t v) {
        return Version(1).Put([v](auto& b) { b.WriteU64(v); });
    }
    // An IPv4 address given as its 32-bit value, port 0.
    Wire& Addr(uint32_t ip) {
        return U32(ip).Put([](auto& b) { b.WriteU16(0); });
    }
    Wire& Time(int64_t seconds) { return U64(static_cast<uint64_t>(seconds * 1000000)); }
    Wire& Str(const std::string& s) {
        U32(static_cast<uint32_t>(s.size()));
        return Raw(s.data(), static_cast<unsigned>(s.size()));
    }
    Wire& Raw(const void* p, unsigned n) {
        return Put([p, n](auto& b) { b.Write(p, n); });
    }
    // Appends blank-separated tokens: "v2" a bare version, "b0"/"b1" a flag,
    // "u8:N" "u16:N" "u32:N" "u64:N" "i32:N" a scalar, "a:IP" an address, "t:N"
    // a time in seconds, "s:TEXT" a text ("s:" is empty), "x:HEX" raw bytes.
    Wire& Tokens(const std::string& text) {
        std::istringstream in(text);
        for (std::string t; in >> t;) {
            const size_t colon = t.find(':');
            const std::string kind = t.substr(0, colon);
            const std::string value = colon == std::string::npos ? "" : t.substr(colon + 1);
            unsigned a = 0, b = 0, c = 0, d = 0;
            if (kind == "s") {
                Str(value);
            } else if (kind == "a" &&
                       std::sscanf(value.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4) {
                Addr(a << 24 | b << 16 | c << 8 | d);
            } else if (kind == "x") {
                for (size_t i = 0; i + 1 < value.size(); i += 2) {
                    const auto byte =
                        static_cast<uint8_t>(std::stoul(value.substr(i, 2), nullptr, 16));
                    Raw(&byte, 1);
                }
            } else if (kind == "b0" || kind == "b1") {
                Bool(kind == "b1");
            } else if (kind[0] == 'v' && colon == std::string::npos) {
                Version(static_cast<uint16_t>(std::stoul(kind.substr(1))));
            } else if (kind == "t" || kind == "i32") {
                const long long n = std::stoll(value);
                kind == "t" ? Time(n) : U32(static_cast<uint32_t>(n));
            } else if (kind == "u8" || kind == "u16" || kind == "u32" || kind == "u64") {
                const unsigned long long n = std::stoull(value, nullptr, 0);
                kind == "u8"    ? U8(static_cast<uint8_t>(n))
                : kind == "u16" ? U16(static_cast<uint16_t>(n))
                : kind == "u32" ? U32(static_cast<uint32_t>(n))
                                : U64(n);
            } else {
                throw std::invalid_argument(t);
            }
        }
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
    template <class F>
    Wire& Put(F write) {
        write(m_buf);
        return *this;
    }
    kora::cSerializeBuffer m_buf;
};

// The bytes of `tokens` (see Wire::Tokens).
inline std::string W(const std::string& tokens) {
    return Wire().Tokens(tokens).Bytes();
}

// Reads `bytes` into `obj`; what Deserialize returns.
inline int ReadInto(kora::ISerialize& obj, const std::string& bytes) {
    kora::cSerializeBuffer b(bytes.data(), bytes.size());
    return obj.Deserialize(b);
}

inline std::string BytesOf(const kora::ISerialize& obj) {
    kora::cSerializeBuffer b;
    obj.Serialize(b);
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

}  // namespace testwire
