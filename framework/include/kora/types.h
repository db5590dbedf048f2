// kora's serializable scalar, string, time, address and map types.
//
// Wire forms (all integers little-endian):
//   version record     u16
//   s_bool / integers  version record, then the value's bytes (1, 2, 4 or 8)
//   s_string           version record, u32 byte length, bytes
//   cTime              version record, i64 microseconds since the epoch (UTC)
//   s_socket_addr      version record, u32 IPv4 address (host order), u16 port
//   s_map_string_string version record, count as an s_uint16 (its own version record,
//                      then u16), then key and value per entry as s_string, in key order
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>

#include "kora/export.h"
#include "kora/serialize.h"

namespace kora {

// Text form of an integer by format: "" decimal; "02".."16" zero-padded decimal
// of that width; "hex" 0x-prefixed upper-case hex, two digits per byte; "hex2"
// the same without the prefix.
KORA_API std::string FormatInteger(uint64_t magnitude, bool negative, unsigned bytes,
                                   const std::string& format);

template <class T>
class KORA_API s_basic_int : public ISerialize {
    static_assert(std::is_integral<T>::value, "s_basic_int holds an integer");

  public:
    using value_type = T;
    s_basic_int(T v = 0) : m_value(v) {}  // NOLINT: implicit by design, like the raw integer
    operator T() const { return m_value; }
    s_basic_int& operator=(T v) {
        m_value = v;
        return *this;
    }
    T& Value() { return m_value; }
    T Value() const { return m_value; }

    using ISerialize::Deserialize;  // the XML forms of the base stay visible
    using ISerialize::Serialize;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override {
        const char* names[] = {"s_int8",  "s_uint8",  "s_int16", "s_uint16",
                               "s_int32", "s_uint32", "s_int64", "s_uint64"};
        unsigned idx = (sizeof(T) == 1 ? 0 : sizeof(T) == 2 ? 2 : sizeof(T) == 4 ? 4 : 6);
        return names[idx + (std::is_signed<T>::value ? 0 : 1)];
    }
    bool Serialize(cSerializeBuffer& b) const override {
        SerializeVersion(b);
        uint8_t bytes[sizeof(T)];
        using U = typename std::make_unsigned<T>::type;
        U u = static_cast<U>(m_value);
        for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(u >> (8 * i));
        b.Write(bytes, sizeof(T));
        return true;
    }
    int Deserialize(cSerializeBuffer& b) override {
        unsigned v = DeserializeVersion(b);
        if (v != 1) return 0;
        uint8_t bytes[sizeof(T)];
        if (!b.Read(bytes, sizeof(T))) return 0;
        using U = typename std::make_unsigned<T>::type;
        U u = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            u |= static_cast<U>(static_cast<U>(bytes[i]) << (8 * i));
        m_value = static_cast<T>(u);
        return 1;
    }
    std::string ToString(const std::string& format) const override {
        bool neg = std::is_signed<T>::value && m_value < 0;
        uint64_t mag = neg ? static_cast<uint64_t>(-(static_cast<int64_t>(m_value) + 1)) + 1
                           : static_cast<uint64_t>(m_value);
        if (format == "hex" || format == "hex2") {
            mag = static_cast<uint64_t>(static_cast<typename std::make_unsigned<T>::type>(m_value));
            neg = false;
        }
        return FormatInteger(mag, neg, sizeof(T), format);
    }

  private:
    T m_value;
};

using s_int8 = s_basic_int<int8_t>;
using s_uint8 = s_basic_int<uint8_t>;
using s_int16 = s_basic_int<int16_t>;
using s_uint16 = s_basic_int<uint16_t>;
using s_int32 = s_basic_int<int32_t>;
using s_uint32 = s_basic_int<uint32_t>;
using s_int64 = s_basic_int<int64_t>;
using s_uint64 = s_basic_int<uint64_t>;

class KORA_API s_bool : public ISerialize {
  public:
    using value_type = bool;
    s_bool(bool v = false) : m_value(v) {}  // NOLINT
    operator bool() const { return m_value; }
    s_bool& operator=(bool v) {
        m_value = v;
        return *this;
    }
    bool Value() const { return m_value; }

    using ISerialize::Deserialize;  // the XML forms of the base stay visible
    using ISerialize::Serialize;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "s_bool"; }
    bool Serialize(cSerializeBuffer& b) const override;
    // Any nonzero byte reads as true.
    int Deserialize(cSerializeBuffer& b) override;
    std::string ToString(const std::string&) const override { return m_value ? "true" : "false"; }

  private:
    bool m_value;
};

class KORA_API s_string : public ISerialize, public std::string {
  public:
    using value_type = std::string;
    s_string() = default;
    s_string(const std::string& s) : std::string(s) {}        // NOLINT
    s_string(std::string&& s) : std::string(std::move(s)) {}  // NOLINT
    s_string(const char* s) : std::string(s ? s : "") {}      // NOLINT
    s_string& operator=(const std::string& s) {
        std::string::operator=(s);
        return *this;
    }
    s_string& operator=(const char* s) {
        std::string::operator=(s ? s : "");
        return *this;
    }

    using ISerialize::Deserialize;  // the XML forms of the base stay visible
    using ISerialize::Serialize;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "s_string"; }
    bool Serialize(cSerializeBuffer& b) const override;
    // A length prefix larger than the rest of the buffer fails without allocating.
    int Deserialize(cSerializeBuffer& b) override;
    std::string ToString(const std::string&) const override { return *this; }
};

// A point in time with microsecond resolution, UTC based.
class KORA_API cTime : public ISerialize {
  public:
    cTime() = default;
    static cTime Now();
    // Seconds beyond the microsecond range saturate at its ends.
    void FromSeconds(int64_t seconds) {
        if (__builtin_mul_overflow(seconds, int64_t(1000000), &m_micros))
            m_micros = seconds < 0 ? INT64_MIN : INT64_MAX;
    }
    int64_t ToSeconds() const;
    int64_t ToMicroseconds() const { return m_micros; }
    void FromMicroseconds(int64_t micros) { m_micros = micros; }
    // Local time as "YYYY-MM-DDTHH:MM:SS+hh:mm".
    std::string ToISO8601String() const;
    // Local date "YYYY-MM-DD" and local time of day "HH:MM:SS".
    std::string ToDateString() const;
    std::string ToTimeString() const;

    bool operator==(const cTime& o) const { return m_micros == o.m_micros; }
    bool operator!=(const cTime& o) const { return m_micros != o.m_micros; }
    bool operator<(const cTime& o) const { return m_micros < o.m_micros; }

    using ISerialize::Deserialize;  // the XML forms of the base stay visible
    using ISerialize::Serialize;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "cTime"; }
    bool Serialize(cSerializeBuffer& b) const override;
    int Deserialize(cSerializeBuffer& b) override;
    std::string ToString(const std::string&) const override { return ToISO8601String(); }

  private:
    int64_t m_micros = 0;
};

// An IPv4 address with a port. GetIP returns the address as a number in host
// order, so numeric comparison follows address order.
class KORA_API s_socket_addr : public ISerialize {
  public:
    s_socket_addr() = default;
    // Parses dotted-quad text; text that does not parse gives 0.0.0.0.
    explicit s_socket_addr(const std::string& text, uint16_t port = 0);
    static s_socket_addr FromIP(uint32_t ip, uint16_t port = 0);

    // Parses dotted-quad text; returns false (address unchanged) when it does not parse.
    bool InitFromString(const std::string& text, uint16_t port);
    uint32_t GetIP() const { return m_ip; }
    uint16_t GetPort() const { return m_port; }
    void SetIP(uint32_t ip) { m_ip = ip; }
    std::string GetIPString() const;

    bool operator==(const s_socket_addr& o) const { return m_ip == o.m_ip && m_port == o.m_port; }
    bool operator!=(const s_socket_addr& o) const { return !(*this == o); }
    bool operator<(const s_socket_addr& o) const {
        return m_ip != o.m_ip ? m_ip < o.m_ip : m_port < o.m_port;
    }

    using ISerialize::Deserialize;  // the XML forms of the base stay visible
    using ISerialize::Serialize;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "s_socket_addr"; }
    bool Serialize(cSerializeBuffer& b) const override;
    int Deserialize(cSerializeBuffer& b) override;
    std::string ToString(const std::string&) const override;

  private:
    uint32_t m_ip = 0;
    uint16_t m_port = 0;
};

template <class K, class V>
class cMap : public std::map<K, V> {
  public:
    void SetAt(const K& key, const V& value) { (*this)[key] = value; }
    bool TryGetValue(const K& key, V& value) const {
        auto it = this->find(key);
        if (it == this->end()) return false;
        value = it->second;
        return true;
    }
};

class KORA_API s_map_string_string : public ISerialize, public cMap<s_string, s_string> {
  public:
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "s_map_string_string"; }
    bool Serialize(cSerializeBuffer& b) const override;
    // Clears the map, then reads; a repeated key overwrites the earlier value.
    int Deserialize(cSerializeBuffer& b) override;
    // XML form: <name><entry key="k">value</entry>...</name>, appended to `node`
    // as a child when `node` is set, else returned in `node` as a new root.
    bool Serialize(xmlNode*& node, const char* name) const override;
    bool Deserialize(xmlNode*& node, std::string& error) override;
    std::string ToString(const std::string&) const override;
};

}  // namespace kora
