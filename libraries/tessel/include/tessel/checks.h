// Field checks and text helpers shared by the item setters. Each check answers
// whether a value is acceptable; none keeps state, logs or throws.
#pragma once

#include <string>

#include "kora/types.h"
#include "tessel/export.h"

namespace tessel {

// Passwords, user names, shared secrets, keys: letters, digits and
// # @ ~ % $ , * ' = ! + - \ / ? ( ) { } . : ; [ ] _ |, at most 255 characters.
TESSEL_API bool CheckCredentials(const std::string& value);
// Text passed to shell-level tools: letters, digits, space and
// # @ ~ % $ , * = ! + - / ? ( ) { } . : ; [ ] _ | < >, at most 100 characters.
TESSEL_API bool CheckShellString(const std::string& value);
// Decimal digits only, at most 100; stores the value (saturating) on success.
TESSEL_API bool CheckUintString(const std::string& value, unsigned& number);
// A dotted SNMP object identifier beginning with "1.".
TESSEL_API bool CheckOID(const std::string& value);
// hh:hh:hh:hh:hh:hh in hex digits of either case.
TESSEL_API bool CheckMacAddr(const std::string& value);
// Letters, digits, "." and "-"; no ".."; at most 255; labels under 64 characters.
TESSEL_API bool CheckHostname(const std::string& value);
// The local part of an e-mail address, by the host-name rules over its own set.
TESSEL_API bool CheckEmailName(const std::string& value);
// local@host, each side checked by CheckEmailName and CheckHostname.
TESSEL_API bool CheckEmailAddr(const std::string& value);

// "" for an empty secret, "*******" for any other.
TESSEL_API std::string ObfuscateString(const std::string& secret);
// The text before the first line break.
TESSEL_API std::string ClearNewLine(const std::string& text);
// "a.b.c.d/len": the address (or its network when `network`) and the number of
// bits set in the netmask.
TESSEL_API std::string GetNetworkString(kora::s_socket_addr address, kora::s_socket_addr netmask,
                                        bool network);

// Port numbers a service may listen on: 1..65535 except 22, 53 and 123, which
// the router's own SSH, DNS and NTP services hold.
TESSEL_API bool IsFreeServicePort(uint64_t port);
// Decimal digits only, at most N of them; the empty text passes.
template <size_t N>
bool IsDigits(const std::string& value) {
    return value.size() <= N && value.find_first_not_of("0123456789") == std::string::npos;
}
// Text of at most N characters.
template <size_t N>
bool MaxLength(const std::string& value) {
    return value.size() <= N;
}
// SNMPv3 passwords: credentials that are either unset or at least eight characters long.
TESSEL_API bool IsSnmpPassword(const std::string& value);

}  // namespace tessel
