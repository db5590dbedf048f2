// Plain records kept in the lists of several items, and the rows of those
// lists' elements. They are not items: no name, no version, no JSON envelope.
#pragma once

#include <set>
#include <string>

#include "kora/types.h"
#include "tessel/checks.h"
#include "tessel/fields.h"

namespace tessel {

// One DHCP lease, kept in maps keyed by the leased address.
struct TESSEL_API leaseEntry : cRecord {
    leaseEntry() = default;
    leaseEntry(const std::string& mac, kora::s_uint8 status, const std::string& hostname)
        : mac(mac), status(status), hostname(hostname) {}

    kora::s_string mac;
    kora::s_uint8 status;  // 1..3 in a lease the status items accept
    kora::s_string hostname;
};

using LeaseMap = kora::cMap<kora::s_socket_addr, leaseEntry>;
using LeaseElement = Keyed<kora::s_socket_addr, leaseEntry>;
// {"IP", "Mac", "Hostname" (masked on request), "Status"}; on the wire the
// address, MAC, host name and status. A lease is taken when its MAC passes
// CheckMacAddr, its host name CheckHostname and its status is 1..3.
TESSEL_API const cRecordTable& LeaseRows();

// A set of MAC addresses: {"Mac"} per element, each passing CheckMacAddr.
using MacSet = std::set<kora::s_string>;
using MacElement = SetEntry<kora::s_string>;
TESSEL_API const cRecordTable& MacRows();

}  // namespace tessel
