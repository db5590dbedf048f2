#include "tessel/checks.h"

#include <cctype>
#include <climits>

#include "kora/helper.h"

namespace tessel {

namespace {

// True when every byte of `value` occurs in `set` and the length is within `max`.
bool OnlyFrom(const std::string& value, const char* set, size_t max) {
    return value.size() <= max && value.find_first_not_of(set) == std::string::npos;
}

// Host-name shaped text over a given character set: no "..", at most 255
// characters, every "."-separated label shorter than 64 characters.
bool DottedLabels(const std::string& value, const char* set) {
    if (!OnlyFrom(value, set, 255)) return false;
    if (value.find("..") != std::string::npos) return false;
    for (const std::string& label : kora::cHelper::GetStringTokens(value, "."))
        if (label.size() >= 64) return false;
    return true;
}

const char kCredentialSet[] =
    "#@~%$,*'=!+-\\/?(){}.:;[]_|"
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const char kShellSet[] =
    "#@~%$,*=!+-/?(){}.:;[]_|<> "
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const char kHostSet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-";
const char kEmailNameSet[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.!#$%&'*+-/=?^_`{|}~";

}  // namespace

bool CheckCredentials(const std::string& value) {
    return OnlyFrom(value, kCredentialSet, 255);
}

bool CheckShellString(const std::string& value) {
    return OnlyFrom(value, kShellSet, 100);
}

bool CheckUintString(const std::string& value, unsigned& number) {
    if (!OnlyFrom(value, "0123456789", 100)) return false;
    unsigned long long n = 0;
    for (char c : value) {
        n = n * 10 + static_cast<unsigned>(c - '0');
        if (n > UINT_MAX) {
            n = UINT_MAX;
            break;
        }
    }
    number = static_cast<unsigned>(n);
    return true;
}

bool CheckOID(const std::string& value) {
    if (value.empty()) return true;
    if (!OnlyFrom(value, ".0123456789", 100)) return false;
    if (value.find("..") != std::string::npos) return false;
    if (value.front() == '.') return false;
    size_t firstDot = value.find('.');
    if (firstDot == value.size() - 1) return false;
    return value.compare(0, 2, "1.") == 0;
}

bool CheckMacAddr(const std::string& value) {
    if (value.size() != 17) return false;
    for (size_t i = 0; i < value.size(); ++i) {
        if (i % 3 == 2) {
            if (value[i] != ':') return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(value[i]))) {
            return false;
        }
    }
    return true;
}

bool CheckHostname(const std::string& value) {
    return DottedLabels(value, kHostSet);
}

bool CheckEmailName(const std::string& value) {
    return DottedLabels(value, kEmailNameSet);
}

bool CheckEmailAddr(const std::string& value) {
    size_t at = value.find('@');
    if (at == std::string::npos) return false;
    return CheckEmailName(value.substr(0, at)) && CheckHostname(value.substr(at + 1));
}

std::string ObfuscateString(const std::string& secret) {
    return secret.empty() ? std::string() : std::string("*******");
}

std::string ClearNewLine(const std::string& text) {
    std::string out = text;
    size_t lf = out.find('\n');
    if (lf != std::string::npos) out.erase(lf);
    size_t cr = out.find('\r');
    if (cr != std::string::npos) out.erase(cr);
    return out;
}

std::string GetNetworkString(kora::s_socket_addr address, kora::s_socket_addr netmask,
                             bool network) {
    uint32_t mask = netmask.GetIP();
    int bits = __builtin_popcount(mask);
    kora::s_socket_addr part =
        network ? kora::s_socket_addr::FromIP(address.GetIP() & mask) : address;
    return kora::FormatString("%s/%d", part.GetIPString().c_str(), bits);
}

bool IsFreeServicePort(uint64_t port) {
    return port >= 1 && port <= 65535 && port != 22 && port != 53 && port != 123;
}

bool IsSnmpPassword(const std::string& value) {
    return CheckCredentials(value) && (value.empty() || value.size() >= 8);
}

}  // namespace tessel
