// The router's LAN side: the LAN as a whole, each LAN interface (one per
// VLAN), each switch port, the switch's VLAN table and spanning tree, the
// static MAC-address table and the static host-name table.
#pragma once

#include <set>
#include <string>
#include <utility>

#include "tessel/lan_block.h"

namespace tessel {

// The LAN as one record: its switch port, MTU and VLAN, and the addressing,
// DHCP and VRRP settings of its interface.
class TESSEL_API cDBConfigLan : public cDBPortLanSettings<cDBConfigLan> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigLan",     "LanConfigObject", ACCESS_CLASS_LAN_CONFIG, 2,
        VersionsFrom(1, 2), "LanConfig",       "/Config/Network/"};
    cDBConfigLan() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigLan"; }

    static const Table<cDBConfigLan>& Fields() {
        static const Table<cDBConfigLan> rows{
            Join<RowPtr>(
                {{EnabledRow(), PortModeRow("Mode"), MtuRow(), VlanEnabledRow(), VlanRow()},
                 LanRows(kRequired, kJsonArray),
                 VrrpRows(false)}),
            {
                // Version 1 ended in a list of VRRP addresses.
                Stored(1, Join<Step>({{"Enabled", "Mode", "MTU", "VLANEnabled", "VLANID"},
                                      StoredLan(),
                                      StoredVrrp(kVrrpAddressList)})),
            }};
        return rows;
    }
};

// One logical LAN interface, keyed by its VLAN ID. Its JSON form has grown
// with its versions: the VRRP members are optional groups, and the virtual
// address pair is also taken from the older "VRRPVIP" and "VRRPVNetmask".
class TESSEL_API cDBConfigLANInterface : public cDBLanSettings<cDBConfigLANInterface> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigLANInterface",
                                       "LANInterfaceConfigObject",
                                       ACCESS_CLASS_LAN_CONFIG,
                                       9,
                                       VersionsFrom(2, 9),
                                       "",
                                       "/Config/Network/LANInterfaces/"};
    cDBConfigLANInterface() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigLANInterface"; }
    bool HasKey() override { return true; }
    // The VLAN ID, in decimal.
    std::string GetKey() override;
    // "VLANID", and "IP" and "Netmask" of the lowest-indexed address ("" without one).
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    static const Table<cDBConfigLANInterface>& Fields() {
        static const Table<cDBConfigLANInterface> rows{
            Join<RowPtr>({{VlanRow().OnRead(0, 4094), MtuRow()},
                          LanRows(kRequired, kJsonAny),
                          VrrpRows(true)}),
            {
                Stored(2, Join<Step>({{"VLANID", "MTU"}, StoredPool(), {"IPs", "Leases"}})),
                Stored(3, Join<Step>({{"VLANID", "MTU", "Hostname"},
                                      StoredPool(),
                                      {"DHCPRelayServer", "IPs", "Leases", "Hosts"}})),
                Stored(4, Join<Step>({{"VLANID", "MTU"}, StoredLan()})),
                Stored(5, Join<Step>({{"VLANID", "MTU"}, StoredLan(), StoredVrrp(kVrrpBasic)})),
                Stored(6, Join<Step>({{"VLANID", "MTU"}, StoredLan(), StoredVrrp(kVrrpAddress)})),
                Stored(7,
                       Join<Step>({{"VLANID", "MTU"}, StoredLan(), StoredVrrp(kVrrpHighPriority)})),
                Stored(8,
                       Join<Step>({{"VLANID", "MTU"}, StoredLan(), StoredVrrp(kVrrpAddressList)})),
                // Version 9 is the rows in order.
            }};
        return rows;
    }
};

// One switch port: on/off, mode, its own VLAN (untagged) with tagging on or
// off, and the VLANs it is a member of.
class TESSEL_API cDBConfigLANPort : public cDBRecord<cDBConfigLANPort> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigLANPort",         "LANPortConfigObject",
                                       ACCESS_CLASS_LAN_CONFIG,    4,
                                       VersionsFrom(1, 4),         "",
                                       "/Config/Network/LANPorts/"};
    cDBConfigLANPort() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigLANPort"; }
    // "Enabled" ("true"/"false"), "Mode", "VLANID".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetPortMode(kora::s_uint32 v) { return Set(m_PortMode, v); }  // code 1..5
    bool SetVLANID(kora::s_uint32 v) { return Set(m_VLANID, v); }      // 1..4094
    void SetVLANTags(bool v) { m_VLANTags = v; }
    bool GetEnabled() const { return m_Enabled; }
    kora::s_uint8 GetPortMode() const { return m_PortMode; }
    kora::s_uint16 GetVLANID() const { return m_VLANID; }
    bool GetVLANTags() const { return m_VLANTags; }

    // Adds a VLAN membership (1..4094).
    bool AddVLANID(kora::s_uint32 id) {
        return FieldTraits<kora::s_uint16>::Fits(id) &&
               Add(m_VLANIDs, VlanMember(static_cast<uint16_t>(id)));
    }
    void GetVLANIDList(std::set<unsigned>& ids) const { KeysOf(m_VLANIDs, ids); }
    // Egress modes are no longer kept: setting one adds the membership, and
    // a member VLAN reads as mode 2 (any other as 0).
    bool SetEgressModeByVLANID(kora::s_uint32 id, kora::s_uint8) { return AddVLANID(id); }
    kora::s_uint8 GetEgressModeByVLANID(kora::s_uint32 id) const {
        return id <= 0xffff && m_VLANIDs.count(static_cast<uint16_t>(id)) ? 2 : 0;
    }

  private:
    using VlanMember = SetEntry<kora::s_uint16>;
    static const Table<VlanMember>& VlanMemberRows() {
        static const Table<VlanMember> rows{{Field(&VlanMember::value, "VLANID").Range(1, 4094)}};
        return rows;
    }

    kora::s_bool m_Enabled;
    kora::s_uint8 m_PortMode;
    kora::s_uint16 m_VLANID;
    kora::s_bool m_VLANTags;
    std::set<kora::s_uint16> m_VLANIDs;

  public:
    static const Table<cDBConfigLANPort>& Fields() {
        using C = cDBConfigLANPort;
        static const Table<C> rows{
            {
                Field(&C::m_Enabled, "Enabled", true),
                Field(&C::m_PortMode, "Mode", 1).Range(1, 5),
                Field(&C::m_VLANID, "VLANID", 1).Range(1, 4094).OnRead(0, 4094),
                Field(&C::m_VLANTags, "VLANTags"),
                List<VlanMember>(&C::m_VLANIDs, "VLANIDS", "VLANID", VlanMemberRows())
                    .Since(3)
                    .Kind(kJsonArray)
                    // Version 3 kept an egress mode with each membership.
                    .StoredElements(3, {"VLANID", Skip<kora::s_uint8>()}),
            },
            {
                // Version 1 held a flag between the VLAN and the tagging, since dropped.
                Stored(1, {"Enabled", "Mode", "VLANID", Skip<kora::s_bool>(), "VLANTags"}),
            }};
        return rows;
    }
};

// The switch's VLAN table: a port mask per VLAN ID. Any pair is stored; a
// JSON mask keeps its low 8 bits.
class TESSEL_API cDBConfigVLAN : public cDBRecord<cDBConfigVLAN> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigVLAN", "VLANConfigObject", ACCESS_CLASS_LAN_CONFIG,    1,
        Versions({1}),   "VLANConfig",       "/Config/Network/LANPorts/"};
    cDBConfigVLAN() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigVLAN"; }

    bool SetVLANByIndex(kora::s_uint32 id, kora::s_uint8 mask) {
        return Add(m_VLANs, VlanMask::From<MaskMap>({id, mask}));
    }
    kora::s_uint8 GetVLANByIndex(kora::s_uint32 id) const { return ValueAt(m_VLANs, id); }
    void GetVLANIndexList(std::set<unsigned>& ids) const { KeysOf(m_VLANs, ids); }

  private:
    using MaskMap = kora::cMap<kora::s_uint32, kora::s_uint8>;
    using VlanMask = MapEntry<kora::s_uint32, kora::s_uint8>;
    static const Table<VlanMask>& VlanMaskRows() {
        static const Table<VlanMask> rows{{
            Field(&VlanMask::key, "VLANID"),
            Field(&VlanMask::value, "VLANMask").Wrap(),
        }};
        return rows;
    }

    MaskMap m_VLANs;

  public:
    static const Table<cDBConfigVLAN>& Fields() {
        using C = cDBConfigVLAN;
        static const Table<C> rows{{
            List<VlanMask>(&C::m_VLANs, "VLANTable", "VLAN", VlanMaskRows()).Kind(kJsonArray),
        }};
        return rows;
    }
};

// The spanning-tree bridge. Each timer is checked alone; versions 1 and 2
// are stored alike.
class TESSEL_API cDBConfigSpanningTree : public cDBRecord<cDBConfigSpanningTree> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigSpanningTree", "SpanningTreeConfigObject", ACCESS_CLASS_LAN_CONFIG,        2,
        VersionsFrom(1, 2),      "SpanningTreeConfig",       "/Config/Network/SpanningTree/"};
    cDBConfigSpanningTree() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigSpanningTree"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetMaximumAge(kora::s_uint32 v) { return Set(m_MaximumAge, v); }      // 6..40 seconds
    bool SetForwardDelay(kora::s_uint32 v) { return Set(m_ForwardDelay, v); }  // 4..30 seconds
    bool SetMaxHops(kora::s_uint32 v) { return Set(m_MaxHops, v); }
    bool SetProtocol(kora::s_uint32 v) { return Set(m_Protocol, v); }              // code 1..3
    bool SetTXHoldCount(kora::s_uint32 v) { return Set(m_TXHoldCount, v); }        // 1..10 a second
    bool SetBridgePriority(kora::s_uint32 v) { return Set(m_BridgePriority, v); }  // code 0..15
    bool SetHelloTime(kora::s_uint32 v) { return Set(m_HelloTime, v); }            // 1..10 seconds
    bool GetEnabled() const { return m_Enabled; }
    kora::s_uint8 GetMaximumAge() const { return m_MaximumAge; }
    kora::s_uint8 GetForwardDelay() const { return m_ForwardDelay; }
    kora::s_uint8 GetMaxHops() const { return m_MaxHops; }
    kora::s_uint8 GetProtocol() const { return m_Protocol; }
    kora::s_uint8 GetTXHoldCount() const { return m_TXHoldCount; }
    kora::s_uint8 GetBridgePriority() const { return m_BridgePriority; }
    kora::s_uint8 GetHelloTime() const { return m_HelloTime; }

  private:
    kora::s_bool m_Enabled;
    kora::s_uint8 m_MaximumAge, m_ForwardDelay, m_MaxHops, m_Protocol, m_TXHoldCount,
        m_BridgePriority, m_HelloTime;

  public:
    static const Table<cDBConfigSpanningTree>& Fields() {
        using C = cDBConfigSpanningTree;
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled"),
            Field(&C::m_MaximumAge, "MaximumAge", 20).Range(6, 40),
            Field(&C::m_ForwardDelay, "ForwardDelay", 15).Range(4, 30),
            Field(&C::m_MaxHops, "MaxHops", 20),
            Field(&C::m_Protocol, "Protocol", 1).Range(1, 3),
            Field(&C::m_TXHoldCount, "TXHoldCount", 6).Range(1, 10),
            Field(&C::m_BridgePriority, "BridgePriority", 8).Range(0, 15),
            Field(&C::m_HelloTime, "HelloTime", 2).Range(1, 10),
        }};
        return rows;
    }
};

// Static MAC addresses of the switch: per MAC a range of consecutive
// addresses and the ports it may use. The ranges together may not exceed 1000.
class TESSEL_API cDBConfigMacTable : public cDBRecord<cDBConfigMacTable> {
  public:
    using Entry = std::pair<kora::s_uint16, kora::s_uint8>;  // range, ports
    using EntryMap = kora::cMap<kora::s_string, Entry>;

    static constexpr ItemInfo kInfo = {
        "cDBConfigMacTable", "MacTableConfigObject", ACCESS_CLASS_FIREWALL_CONFIG, 2,
        VersionsFrom(1, 2),  "MacTableConfig",       "/Config/Network/Firewall/"};
    static constexpr unsigned kMaxTotalRange = 1000;

    cDBConfigMacTable() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigMacTable"; }

    // Ports an entry may name: 1..7 on a device with a managed switch, else 1, 2 or 7.
    static bool IsPortSet(uint64_t ports);

    void SetEnabled(bool v) { m_Enabled = v; }
    bool GetEnabled() const { return m_Enabled; }
    // Creates or replaces the entry of a valid MAC with a range of 1..1000
    // and a port set IsPortSet accepts.
    bool SetEntryByIndex(const std::string& mac, kora::s_uint32 range, kora::s_uint32 ports) {
        return FieldTraits<kora::s_uint16>::Fits(range) &&
               FieldTraits<kora::s_uint8>::Fits(ports) &&
               Add(m_Macs, MacEntry::From<EntryMap>({mac, Entry(static_cast<uint16_t>(range),
                                                                static_cast<uint8_t>(ports))}));
    }
    Entry GetEntryByIndex(const std::string& mac) const { return ValueAt(m_Macs, mac); }
    void GetEntryIndexList(std::set<std::string>& macs) const { KeysOf(m_Macs, macs); }
    // The sum of the entries' ranges.
    unsigned GetTotalRange() const;

  private:
    using MacEntry = PairEntry<kora::s_string, kora::s_uint16, kora::s_uint8>;
    static const Table<MacEntry>& MacEntryRows() {
        static const Table<MacEntry> rows{{
            Field(&MacEntry::key, "Mac").Check(CheckMacAddr),
            Field(&MacEntry::first, "Range", 1).Range(1, 1000),
            Field(&MacEntry::second, "Ports").Check(IsPortSet),
        }};
        return rows;
    }

    kora::s_bool m_Enabled;
    EntryMap m_Macs;

  public:
    static const Table<cDBConfigMacTable>& Fields() {
        using C = cDBConfigMacTable;
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled"),
            // Version 1 stored no range: such entries cover one address.
            List<MacEntry>(&C::m_Macs, "Macs", "Mac", MacEntryRows())
                .Kind(kJsonArray)
                .StoredElements(1, {"Mac", "Ports"}),
            Across<C>({"Range"}, [](const C& c) { return c.GetTotalRange() <= kMaxTotalRange; }),
        }};
        return rows;
    }
};

// Static host names the router's DNS answers for.
class TESSEL_API cDBConfigHosts : public cDBRecord<cDBConfigHosts> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigHosts",
                                       "HostsConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       1,
                                       Versions({1}),
                                       "HostsConfig",
                                       ""};
    cDBConfigHosts() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigHosts"; }

    bool SetHostByIndex(const std::string& name, const kora::s_socket_addr& address) {
        return Add(m_Hosts, NamedAddress::From<NamedAddressMap>({name, address}));
    }
    kora::s_socket_addr GetHostByIndex(const std::string& name) const {
        return ValueAt(m_Hosts, name);
    }
    void GetHostIndexList(std::set<std::string>& names) const { KeysOf(m_Hosts, names); }

  private:
    NamedAddressMap m_Hosts;

  public:
    static const Table<cDBConfigHosts>& Fields() {
        using C = cDBConfigHosts;
        static const Table<C> rows{{
            List<NamedAddress>(&C::m_Hosts, "Hosts", "Host", HostRows()).Kind(kJsonArray),
        }};
        return rows;
    }
};

}  // namespace tessel
