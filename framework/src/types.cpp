#include "kora/types.h"

#include <arpa/inet.h>
#include <libxml/tree.h>

#include <cstdio>
#include <ctime>

#include "kora/helper.h"

namespace kora {

std::string FormatInteger(uint64_t magnitude, bool negative, unsigned bytes,
                          const std::string& format) {
    char buf[48];
    if (format == "hex" || format == "hex2") {
        std::snprintf(buf, sizeof buf, "%s%0*llX", format == "hex" ? "0x" : "",
                      static_cast<int>(bytes * 2), static_cast<unsigned long long>(magnitude));
        return buf;
    }
    int width = 0;
    if (format.size() == 2 && format[0] >= '0' && format[0] <= '1' && format[1] >= '0' &&
        format[1] <= '9') {
        width = (format[0] - '0') * 10 + (format[1] - '0');
        if (width < 2 || width > 16) width = 0;
    }
    // Like printf's "%0*d", the sign counts towards the width.
    if (negative && width > 0) --width;
    std::snprintf(buf, sizeof buf, "%s%0*llu", negative ? "-" : "", width,
                  static_cast<unsigned long long>(magnitude));
    return buf;
}

bool s_bool::Serialize(cSerializeBuffer& b) const {
    SerializeVersion(b);
    b.WriteU8(m_value ? 1 : 0);
    return true;
}

int s_bool::Deserialize(cSerializeBuffer& b) {
    if (DeserializeVersion(b) != 1) return 0;
    uint8_t v;
    if (!b.ReadU8(v)) return 0;
    m_value = v != 0;
    return 1;
}

bool s_string::Serialize(cSerializeBuffer& b) const {
    SerializeVersion(b);
    b.WriteU32(static_cast<uint32_t>(size()));
    b.Write(data(), static_cast<unsigned>(size()));
    return true;
}

int s_string::Deserialize(cSerializeBuffer& b) {
    if (DeserializeVersion(b) != 1) return 0;
    uint32_t len;
    if (!b.ReadU32(len) || len > b.Remaining()) return 0;
    std::string value(len, '\0');
    if (!b.Read(&value[0], len)) return 0;
    std::string::operator=(std::move(value));
    return 1;
}

cTime cTime::Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    cTime t;
    t.m_micros = static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
    return t;
}

int64_t cTime::ToSeconds() const {
    // Floor division, so times before the epoch round down too.
    int64_t s = m_micros / 1000000;
    if (m_micros % 1000000 < 0) --s;
    return s;
}

namespace {
bool localParts(int64_t seconds, tm& out) {
    time_t t = static_cast<time_t>(seconds);
    return localtime_r(&t, &out) != nullptr;
}
}  // namespace

std::string cTime::ToISO8601String() const {
    tm parts{};
    if (!localParts(ToSeconds(), parts)) return "";
    char buf[64];
    long off = parts.tm_gmtoff;
    char sign = off < 0 ? '-' : '+';
    if (off < 0) off = -off;
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                  parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                  parts.tm_min, parts.tm_sec, sign, off / 3600, (off % 3600) / 60);
    return buf;
}

std::string cTime::ToDateString() const {
    tm parts{};
    if (!localParts(ToSeconds(), parts)) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday);
    return buf;
}

std::string cTime::ToTimeString() const {
    tm parts{};
    if (!localParts(ToSeconds(), parts)) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
    return buf;
}

bool cTime::Serialize(cSerializeBuffer& b) const {
    SerializeVersion(b);
    b.WriteU64(static_cast<uint64_t>(m_micros));
    return true;
}

int cTime::Deserialize(cSerializeBuffer& b) {
    if (DeserializeVersion(b) != 1) return 0;
    uint64_t v;
    if (!b.ReadU64(v)) return 0;
    m_micros = static_cast<int64_t>(v);
    return 1;
}

s_socket_addr::s_socket_addr(const std::string& text, uint16_t port) {
    if (!InitFromString(text, port)) m_port = port;
}

s_socket_addr s_socket_addr::FromIP(uint32_t ip, uint16_t port) {
    s_socket_addr a;
    a.m_ip = ip;
    a.m_port = port;
    return a;
}

bool s_socket_addr::InitFromString(const std::string& text, uint16_t port) {
    in_addr a{};
    // inet_pton stops at a NUL byte, so text with one inside is refused here.
    if (text.size() > 15 || text.find('\0') != std::string::npos ||
        inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    m_ip = ntohl(a.s_addr);
    m_port = port;
    return true;
}

std::string s_socket_addr::GetIPString() const {
    return FormatString("%u.%u.%u.%u", (m_ip >> 24) & 0xff, (m_ip >> 16) & 0xff, (m_ip >> 8) & 0xff,
                        m_ip & 0xff);
}

std::string s_socket_addr::ToString(const std::string&) const {
    return m_port ? FormatString("%s:%u", GetIPString().c_str(), m_port) : GetIPString();
}

bool s_socket_addr::Serialize(cSerializeBuffer& b) const {
    SerializeVersion(b);
    b.WriteU32(m_ip);
    b.WriteU16(m_port);
    return true;
}

int s_socket_addr::Deserialize(cSerializeBuffer& b) {
    if (DeserializeVersion(b) != 1) return 0;
    uint32_t ip;
    uint16_t port;
    if (!b.ReadU32(ip) || !b.ReadU16(port)) return 0;
    m_ip = ip;
    m_port = port;
    return 1;
}

bool s_map_string_string::Serialize(cSerializeBuffer& b) const {
    SerializeVersion(b);
    // The count is 16 bits wide; a larger map is cut at 65535 entries, in key order.
    size_t n = size() > 0xffff ? 0xffff : size();
    s_uint16(static_cast<uint16_t>(n)).Serialize(b);
    size_t i = 0;
    for (auto it = begin(); it != end() && i < n; ++it, ++i) {
        it->first.Serialize(b);
        it->second.Serialize(b);
    }
    return true;
}

int s_map_string_string::Deserialize(cSerializeBuffer& b) {
    clear();
    if (DeserializeVersion(b) != 1) return 0;
    s_uint16 count;
    if (!count.Deserialize(b)) return 0;
    for (unsigned i = 0; i < count; ++i) {
        s_string k, v;
        if (!k.Deserialize(b) || !v.Deserialize(b)) {
            clear();
            return 0;
        }
        (*this)[k] = v;
    }
    return 1;
}

std::string s_map_string_string::ToString(const std::string&) const {
    std::string out = "{";
    for (auto it = begin(); it != end(); ++it) {
        if (it != begin()) out += ", ";
        out += it->first + "=" + it->second;
    }
    return out + "}";
}

namespace {
const xmlChar* X(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}
}  // namespace

bool s_map_string_string::Serialize(xmlNode*& node, const char* name) const {
    xmlNode* self = xmlNewNode(nullptr, X(name && *name ? name : "map"));
    if (!self) return false;
    for (const auto& kv : *this) {
        xmlNode* entry = xmlNewTextChild(self, nullptr, X("entry"), X(kv.second.c_str()));
        if (!entry || !xmlNewProp(entry, X("key"), X(kv.first.c_str()))) {
            xmlFreeNode(self);
            return false;
        }
    }
    if (node) {
        if (!xmlAddChild(node, self)) {
            xmlFreeNode(self);
            return false;
        }
    } else {
        node = self;
    }
    return true;
}

bool s_map_string_string::Deserialize(xmlNode*& node, std::string& error) {
    clear();
    if (!node) {
        error = "no node";
        return false;
    }
    for (xmlNode* c = node->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (xmlStrcmp(c->name, X("entry")) != 0) {
            error = FormatString("unexpected element <%s>", reinterpret_cast<const char*>(c->name));
            clear();
            return false;
        }
        xmlChar* key = xmlGetProp(c, X("key"));
        if (!key) {
            error = "entry without key";
            clear();
            return false;
        }
        xmlChar* value = xmlNodeGetContent(c);
        (*this)[s_string(reinterpret_cast<const char*>(key))] =
            s_string(value ? reinterpret_cast<const char*>(value) : "");
        xmlFree(key);
        if (value) xmlFree(value);
    }
    return true;
}

}  // namespace kora

#include "kora/factory.h"

namespace kora {

// The value types travel as payloads of their own too (a flag's value, say).
static RegisterObject<s_bool> r_s_bool;
static RegisterObject<s_int8> r_s_int8;
static RegisterObject<s_uint8> r_s_uint8;
static RegisterObject<s_int16> r_s_int16;
static RegisterObject<s_uint16> r_s_uint16;
static RegisterObject<s_int32> r_s_int32;
static RegisterObject<s_uint32> r_s_uint32;
static RegisterObject<s_int64> r_s_int64;
static RegisterObject<s_uint64> r_s_uint64;
static RegisterObject<cTime> r_cTime;
static RegisterObject<s_socket_addr> r_s_socket_addr;

}  // namespace kora
