// The addressing, DHCP and VRRP settings of a LAN that the router serves. The
// LAN record, every LAN interface and the wired WAN port (when it serves a
// LAN) carry them under the same keys and rules, so they are declared here
// once: a base holding the members and their accessors, functions returning
// its rows, and the pieces of its older stored layouts.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "tessel/record.h"

namespace tessel {

// Address rules, on the 32-bit value of the address.
inline bool IsSetAddress(const kora::s_socket_addr& a) {
    return a.GetIP() != 0;
}
inline bool IsNotBroadcast(const kora::s_socket_addr& a) {
    return a.GetIP() != 0xffffffffu;
}
inline bool IsHostAddress(const kora::s_socket_addr& a) {
    return IsSetAddress(a) && IsNotBroadcast(a);
}
// A name for a host table: not empty, and a valid host name.
TESSEL_API bool IsHostEntryName(const std::string& name);

// The value stored under `key`, or the value type's default when there is none.
template <class Map>
typename Map::mapped_type ValueAt(const Map& map, const typename Map::key_type& key) {
    auto it = map.find(key);
    return it == map.end() ? typename Map::mapped_type() : it->second;
}
// Clears `keys` and fills it with the keys of `map` (or the members of a set).
template <class Container, class Key>
void KeysOf(const Container& container, std::set<Key>& keys) {
    keys.clear();
    for (const auto& entry : container) {
        if constexpr (std::is_same<typename Container::key_type,
                                   typename Container::value_type>::value)
            keys.insert(entry);
        else
            keys.insert(entry.first);
    }
}

// An address with its netmask.
using AddressPair = std::pair<kora::s_socket_addr, kora::s_socket_addr>;
// Interface addresses by index: {"Index", "IP", "Netmask"}, neither address 0.0.0.0.
using AddressMap = kora::cMap<kora::s_uint32, AddressPair>;
using AddressElement = PairEntry<kora::s_uint32, kora::s_socket_addr, kora::s_socket_addr>;
TESSEL_API const cRecordTable& AddressRows();
// Addresses by MAC address (static DHCP leases) or by host name (host tables).
using NamedAddressMap = kora::cMap<kora::s_string, kora::s_socket_addr>;
using NamedAddress = MapEntry<kora::s_string, kora::s_socket_addr>;
// {"Mac", "IP"}: a MAC passing CheckMacAddr, an address neither 0.0.0.0 nor broadcast.
TESSEL_API const cRecordTable& StaticLeaseRows();
// {"Hostname", "IP"}: a name passing IsHostEntryName, an address other than 0.0.0.0.
TESSEL_API const cRecordTable& HostRows();

// The VRRP virtual address and netmask: two fields on the wire; in JSON the
// one element {"Index": 1, "IP", "Netmask"} of "VRRPIPs". Older writers kept
// a list of virtual addresses of which only index 1 was ever used: a JSON
// element with another index is passed over (a refused one is named
// "VRRPIP"), and of a stored list index 1 alone is kept.
class TESSEL_API cVrrpAddressRow final : public cCompositeRow {
  public:
    cVrrpAddressRow(RowPtr address, RowPtr netmask);
    Json::Value ToJson(const cRecord& r, bool mask) const override;
    bool IsList() const override { return true; }
    void FromJson(cRecord& r, const Json::Value& v, JsonIn& in) const override;
    const JsonShape* Shape() const override;
    // Index 1 only, and the address's check; on refusal both stay unchanged.
    bool Set(cRecord& r, unsigned index, const AddressPair& pair) const;

  private:
    const cFieldRow<kora::s_socket_addr>& Part(size_t i) const;
};

// The same pair as older documents give it, beside the other members:
// "VRRPVIP" and "VRRPVNetmask", both required to be text. Read only; a
// refusal of either is named "VRRPVIP".
class TESSEL_API cVrrpPairInputRow final : public cRow {
  public:
    explicit cVrrpPairInputRow(std::shared_ptr<const cVrrpAddressRow> pair);
    void CheckBelow(const Json::Value& data, bool& ok) const override;
    void FromJson(cRecord& r, const Json::Value& data, JsonIn& in) const override;

  private:
    std::shared_ptr<const cVrrpAddressRow> m_pair;
};

// Reads a stored list of VRRP addresses (a count, then index, address and
// netmask per entry) and keeps the entry of index 1 in `kept`.
TESSEL_API bool ReadStoredVrrpList(kora::cSerializeBuffer& b, AddressPair& kept);

// How far the VRRP settings went in a stored version, in the order they were added.
enum VrrpStage {
    kNoVrrp,            // none
    kVrrpBasic,         // on/off, router ID, priority, delay
    kVrrpAddress,       // then the virtual address pair
    kVrrpHighPriority,  // then the high priority and its mode
    kVrrpAddressList,   // the high priority and mode before a list of addresses
};

// JSON groups of the VRRP settings where they are optional (older documents
// lack them): the basic four, the older pair, the high priority, "VRRPIPs".
constexpr int kVrrpGroup = 100;

// Host name, DNS search path, MTU, VLAN, DHCP server or relay with its pool,
// lease time, NTP option, static leases and host entries, the interface
// addresses, and VRRP. Derived lays the rows out in its own order.
template <class Derived>
class cDBLanSettings : public cDBRecord<Derived> {
  public:
    bool SetMTU(kora::s_uint32 v) { return this->Set(m_MTU, v); }        // 576..1500 bytes
    bool SetVLANID(kora::s_uint32 v) { return this->Set(m_VLANID, v); }  // 1..4094
    bool SetHostname(const std::string& v) { return this->Set(m_Hostname, v); }
    bool SetSearchPath(const std::string& v) { return this->Set(m_SearchPath, v); }
    bool SetDHCPMode(kora::s_uint32 v) { return this->Set(m_DHCPMode, v); }        // code 1..3
    bool SetDHCPNtpMode(kora::s_uint32 v) { return this->Set(m_DHCPNtpMode, v); }  // code 1..3
    bool SetDHCPNtpServer(const std::string& v) { return this->Set(m_DHCPNtpServer, v); }
    void SetDHCPPool(bool v) { m_DHCPPool = v; }
    // Neither 0.0.0.0 nor broadcast. That the pool runs upwards is checked
    // when a document is read, since the two ends are set one at a time.
    bool SetDHCPPoolStart(const kora::s_socket_addr& v) { return this->Set(m_DHCPPoolStart, v); }
    bool SetDHCPPoolEnd(const kora::s_socket_addr& v) { return this->Set(m_DHCPPoolEnd, v); }
    bool SetDHCPLeaseTime(kora::s_uint32 v) {
        return this->Set(m_DHCPLeaseTime, v);
    }  // 60..604800 seconds
    bool SetDHCPRelayServer(const std::string& v) { return this->Set(m_DHCPRelayServer, v); }
    void SetVRRPEnabled(bool v) { m_VRRPEnabled = v; }
    bool SetVRRPID(kora::s_uint32 v) { return this->Set(m_VRRPID, v); }              // 1..255
    bool SetVRRPPrio(kora::s_uint32 v) { return this->Set(m_VRRPPrio, v); }          // 1..254
    bool SetVRRPDelay(kora::s_uint32 v) { return this->Set(m_VRRPDelay, v); }        // 1..255
    bool SetVRRPPrioHigh(kora::s_uint32 v) { return this->Set(m_VRRPPrioHigh, v); }  // 1..254
    bool SetVRRPPrioMode(kora::s_uint32 v) { return this->Set(m_VRRPPrioMode, v); }  // code 0..2

    kora::s_uint16 GetMTU() const { return m_MTU; }
    kora::s_uint16 GetVLANID() const { return m_VLANID; }
    const kora::s_string& GetHostname() const { return m_Hostname; }
    const kora::s_string& GetSearchPath() const { return m_SearchPath; }
    kora::s_uint8 GetDHCPMode() const { return m_DHCPMode; }
    kora::s_uint8 GetDHCPNtpMode() const { return m_DHCPNtpMode; }
    const kora::s_string& GetDHCPNtpServer() const { return m_DHCPNtpServer; }
    bool GetDHCPPool() const { return m_DHCPPool; }
    const kora::s_socket_addr& GetDHCPPoolStart() const { return m_DHCPPoolStart; }
    const kora::s_socket_addr& GetDHCPPoolEnd() const { return m_DHCPPoolEnd; }
    kora::s_uint32 GetDHCPLeaseTime() const { return m_DHCPLeaseTime; }
    const kora::s_string& GetDHCPRelayServer() const { return m_DHCPRelayServer; }
    bool GetVRRPEnabled() const { return m_VRRPEnabled; }
    kora::s_uint8 GetVRRPID() const { return m_VRRPID; }
    kora::s_uint8 GetVRRPPrio() const { return m_VRRPPrio; }
    kora::s_uint8 GetVRRPDelay() const { return m_VRRPDelay; }
    kora::s_uint8 GetVRRPPrioHigh() const { return m_VRRPPrioHigh; }
    kora::s_uint8 GetVRRPPrioMode() const { return m_VRRPPrioMode; }

    // Index-style lists: a set adds or replaces one entry that passes its
    // rules; a get of an absent entry yields 0.0.0.0; an index list is
    // cleared and filled with the keys present.
    bool SetIPByIndex(kora::s_uint32 index, const AddressPair& pair) {
        return this->Add(m_IPs, AddressElement::From<AddressMap>({index, pair}));
    }
    AddressPair GetIPByIndex(kora::s_uint32 index) const { return ValueAt(m_IPs, index); }
    void GetIPIndexList(std::set<unsigned>& indexes) const { KeysOf(m_IPs, indexes); }
    bool SetLeaseByIndex(const std::string& mac, const kora::s_socket_addr& address) {
        return this->Add(m_Leases, NamedAddress::From<NamedAddressMap>({mac, address}));
    }
    kora::s_socket_addr GetLeaseByIndex(const std::string& mac) const {
        return ValueAt(m_Leases, mac);
    }
    void GetLeaseIndexList(std::set<std::string>& macs) const { KeysOf(m_Leases, macs); }
    bool SetHostByIndex(const std::string& name, const kora::s_socket_addr& address) {
        return this->Add(m_Hosts, NamedAddress::From<NamedAddressMap>({name, address}));
    }
    kora::s_socket_addr GetHostByIndex(const std::string& name) const {
        return ValueAt(m_Hosts, name);
    }
    void GetHostIndexList(std::set<std::string>& names) const { KeysOf(m_Hosts, names); }
    // The virtual address pair has index 1 only; its index list holds 1
    // exactly when the address is not 0.0.0.0.
    bool SetVRRPIPByIndex(kora::s_uint32 index, const AddressPair& pair) {
        return this->template RowOf<cVrrpAddressRow>("VRRPIPs").Set(*this, index, pair);
    }
    AddressPair GetVRRPIPByIndex(kora::s_uint32 index) const {
        return index == 1 ? AddressPair(m_VRRPIP, m_VRRPNetmask) : AddressPair();
    }
    void GetVRRPIPIndexList(std::set<unsigned>& indexes) const {
        indexes.clear();
        if (IsSetAddress(m_VRRPIP)) indexes.insert(1);
    }

  protected:
    using C = cDBLanSettings;

    static RowPtr MtuRow() { return Field(&C::m_MTU, "MTU", 1500).Range(576, 1500); }
    static FieldBuilder<C, kora::s_uint16> VlanRow() {
        return Field(&C::m_VLANID, "VLANID", 1).Range(1, 4094);
    }
    // Host name and search path, the DHCP server or relay, the address, lease
    // and host lists; read from JSON in `group`, the lists being of `listKind`.
    static std::vector<RowPtr> LanRows(int group, unsigned listKind) {
        auto pool = [](const C& c) { return c.m_DHCPPool.Value(); };
        return InGroup(
            {
                Field(&C::m_Hostname, "Hostname").Check(CheckHostname),
                Field(&C::m_SearchPath, "SearchPath").Check(CheckHostname),
                Field(&C::m_DHCPMode, "DHCPMode", 1).Range(1, 3),
                Field(&C::m_DHCPNtpMode, "DHCPNtpMode", 1).Range(1, 3),
                Field(&C::m_DHCPNtpServer, "DHCPNtpServer").Check(CheckHostname),
                Field(&C::m_DHCPPool, "DHCPPool"),
                // The pool is read only when it is enabled, and must run upwards.
                Field(&C::m_DHCPPoolStart, "DHCPPoolStart").Check(IsHostAddress).When(pool),
                Field(&C::m_DHCPPoolEnd, "DHCPPoolEnd").Check(IsHostAddress).When(pool),
                Across<C>(
                    {"DHCPPoolStart", "DHCPPoolEnd"},
                    [](const C& c) { return c.m_DHCPPoolEnd.GetIP() > c.m_DHCPPoolStart.GetIP(); })
                    .When(pool),
                Field(&C::m_DHCPLeaseTime, "DHCPLeaseTime", 86400).Range(60, 604800),
                Field(&C::m_DHCPRelayServer, "DHCPRelayServer").Check(CheckHostname),
                List<AddressElement>(&C::m_IPs, "IPs", "IP", AddressRows()).Kind(listKind),
                List<NamedAddress>(&C::m_Leases, "Leases", "Lease", StaticLeaseRows())
                    .Kind(listKind),
                List<NamedAddress>(&C::m_Hosts, "Hosts", "Host", HostRows()).Kind(listKind),
            },
            group);
    }
    // The VRRP settings in stored order. With `optional` they are read from
    // JSON in the groups of kVrrpGroup, the pair also from its older keys;
    // without, every member is required and "VRRPIPs" must be an array.
    static std::vector<RowPtr> VrrpRows(bool optional) {
        auto pair =
            std::make_shared<cVrrpAddressRow>(Field(&C::m_VRRPIP, "VRRPIP").Check(IsNotBroadcast),
                                              Field(&C::m_VRRPNetmask, "VRRPNetmask"));
        std::vector<RowPtr> basic = {
            Field(&C::m_VRRPEnabled, "VRRPEnabled"),
            Field(&C::m_VRRPID, "VRRPID", 1).Range(1, 255),
            Field(&C::m_VRRPPrio, "VRRPPrio", 100).Range(1, 254),
            Field(&C::m_VRRPDelay, "VRRPDelay", 1).Range(1, 255),
        };
        std::vector<RowPtr> high = {
            Field(&C::m_VRRPPrioHigh, "VRRPPrioHigh", 100).Range(1, 254),
            Field(&C::m_VRRPPrioMode, "VRRPPrioMode", 0).Range(0, 2),
        };
        if (!optional) {
            pair->kind = kJsonArray;
            return Join<RowPtr>({basic, high, {pair}});
        }
        return Join<RowPtr>({InGroup(basic, kVrrpGroup),
                             InGroup({std::make_shared<cVrrpPairInputRow>(pair)}, kVrrpGroup + 1),
                             InGroup(high, kVrrpGroup + 2), InGroup({pair}, kVrrpGroup + 3)});
    }

    // Pieces of the stored layouts: the DHCP server settings of the oldest
    // forms, the whole block after the VLAN, the VRRP settings by stage.
    static std::vector<Step> StoredPool() {
        return {"DHCPMode",      "DHCPNtpMode", "DHCPNtpServer", "DHCPPool",
                "DHCPPoolStart", "DHCPPoolEnd", "DHCPLeaseTime"};
    }
    static std::vector<Step> StoredLan() {
        return Join<Step>({{"Hostname", "SearchPath"},
                           StoredPool(),
                           {"DHCPRelayServer", "IPs", "Leases", "Hosts"}});
    }
    static std::vector<Step> StoredVrrp(VrrpStage stage) {
        std::vector<Step> basic = {"VRRPEnabled", "VRRPID", "VRRPPrio", "VRRPDelay"};
        switch (stage) {
            case kNoVrrp:
                return {};
            case kVrrpBasic:
                return basic;
            case kVrrpAddress:
                return Join<Step>({basic, {"VRRPIPs"}});
            case kVrrpHighPriority:
                return Join<Step>({basic, {"VRRPIPs", "VRRPPrioHigh", "VRRPPrioMode"}});
            case kVrrpAddressList:
                break;
        }
        return Join<Step>({basic, {"VRRPPrioHigh", "VRRPPrioMode", StoredVrrpList()}});
    }

  private:
    static Step StoredVrrpList() {
        return Custom<C>([](C& c, kora::cSerializeBuffer& b) {
            AddressPair kept(c.m_VRRPIP, c.m_VRRPNetmask);
            if (!ReadStoredVrrpList(b, kept)) return StepResult::kFail;
            c.m_VRRPIP = kept.first;
            c.m_VRRPNetmask = kept.second;
            return StepResult::kOk;
        });
    }

    kora::s_uint16 m_MTU, m_VLANID;
    kora::s_string m_Hostname, m_SearchPath;
    kora::s_uint8 m_DHCPMode, m_DHCPNtpMode;
    kora::s_string m_DHCPNtpServer;
    kora::s_bool m_DHCPPool;
    kora::s_socket_addr m_DHCPPoolStart, m_DHCPPoolEnd;
    kora::s_uint32 m_DHCPLeaseTime;
    kora::s_string m_DHCPRelayServer;
    AddressMap m_IPs;
    NamedAddressMap m_Leases, m_Hosts;
    kora::s_bool m_VRRPEnabled;
    kora::s_uint8 m_VRRPID, m_VRRPPrio, m_VRRPDelay, m_VRRPPrioHigh, m_VRRPPrioMode;
    kora::s_socket_addr m_VRRPIP, m_VRRPNetmask;
};

// A LAN on a switch port of its own (the LAN record, and the wired WAN port
// when it serves a LAN): the settings above, the port's on/off switch and
// mode, and whether its traffic is VLAN-tagged.
template <class Derived>
class cDBPortLanSettings : public cDBLanSettings<Derived> {
  public:
    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetPortMode(kora::s_uint32 v) { return this->Set(m_PortMode, v); }
    void SetVLANEnabled(bool v) { m_VLANEnabled = v; }
    bool GetEnabled() const { return m_Enabled; }
    kora::s_uint8 GetPortMode() const { return m_PortMode; }
    bool GetVLANEnabled() const { return m_VLANEnabled; }

  protected:
    using P = cDBPortLanSettings;
    static FieldBuilder<P, kora::s_bool> EnabledRow() {
        return Field(&P::m_Enabled, "Enabled", true);
    }
    static FieldBuilder<P, kora::s_uint8> PortModeRow(const char* key) {
        return Field(&P::m_PortMode, key, 1).Range(1, 5);
    }
    static RowPtr VlanEnabledRow() { return Field(&P::m_VLANEnabled, "VLANEnabled"); }

  private:
    kora::s_bool m_Enabled;
    kora::s_uint8 m_PortMode;
    kora::s_bool m_VLANEnabled;
};

}  // namespace tessel
