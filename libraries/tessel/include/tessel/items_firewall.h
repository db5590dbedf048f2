// The router's firewall: port forwarding, remote access to the device's own
// services, the packet filter and traffic priority. Each of the ordered rule
// lists is a directory of rule items ranked among their siblings; port
// forwarding, the packet filter and traffic priority also have one global
// settings item. The numeric codes (protocol, target, interface, service,
// priority) belong to the firewall service that applies the rules; these
// items only bound them.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "tessel/record.h"

namespace tessel {

// What every rule has: the source network it matches and its rank.
template <class Derived>
class cDBFirewallRule : public cDBRecord<Derived> {
  public:
    std::string ToString(const std::string&) const override { return Derived::kInfo.className; }
    unsigned GetRank() override { return m_Rank; }

    void SetFromIP(const kora::s_socket_addr& v) { m_FromIP = v; }
    void SetFromNetmask(const kora::s_socket_addr& v) { m_FromNetmask = v; }
    void SetRank(kora::s_uint32 v) { m_Rank = v; }
    const kora::s_socket_addr& GetFromIP() const { return m_FromIP; }
    const kora::s_socket_addr& GetFromNetmask() const { return m_FromNetmask; }

  protected:
    using C = cDBFirewallRule;
    static std::vector<RowPtr> FromRows() {
        return {Field(&C::m_FromIP, "FromIP"), Field(&C::m_FromNetmask, "FromNetmask")};
    }
    static FieldBuilder<C, kora::s_uint32> RankRow() { return Field(&C::m_Rank, "Rank", 1); }
    // Clears `info`, sets "FromNet" (the source network) and then each of
    // `keys` from its row.
    void RuleInfo(kora::cMap<kora::s_string, kora::s_string>& info,
                  std::initializer_list<const char*> keys) const {
        info.clear();
        info.SetAt("FromNet", GetNetworkString(m_FromIP, m_FromNetmask, true));
        Derived::Fields().InfoOf(*this, keys, info);
    }

  private:
    kora::s_socket_addr m_FromIP, m_FromNetmask;
    kora::s_uint32 m_Rank;
};

// A rule that matches traffic by source and destination network, port range
// and protocol: the packet filter's and the traffic priority's. A port range
// is one text in JSON and in the display entries: "" for any port, "80" for
// one port, "80:90" for a range.
template <class Derived>
class cDBTrafficRule : public cDBFirewallRule<Derived> {
  public:
    bool SetFromPortLow(kora::s_uint32 v) { return this->Set(m_FromPortLow, v); }
    bool SetFromPortHigh(kora::s_uint32 v) { return this->Set(m_FromPortHigh, v); }
    bool SetToPortLow(kora::s_uint32 v) { return this->Set(m_ToPortLow, v); }
    bool SetToPortHigh(kora::s_uint32 v) { return this->Set(m_ToPortHigh, v); }
    // Takes "", "p" or "p:q" (the pair sorted); anything else leaves both ports.
    bool SetFromPortRange(const std::string& text) {
        return PortText("FromPort").SetText(*this, text);
    }
    bool SetToPortRange(const std::string& text) { return PortText("ToPort").SetText(*this, text); }
    void SetToIP(const kora::s_socket_addr& v) { m_ToIP = v; }
    void SetToNetmask(const kora::s_socket_addr& v) { m_ToNetmask = v; }
    bool SetProtocol(kora::s_uint32 v) { return this->Set(m_Protocol, v); }

    kora::s_uint16 GetFromPortLow() const { return m_FromPortLow; }
    kora::s_uint16 GetFromPortHigh() const { return m_FromPortHigh; }
    kora::s_uint16 GetToPortLow() const { return m_ToPortLow; }
    kora::s_uint16 GetToPortHigh() const { return m_ToPortHigh; }
    kora::s_string GetFromPortRange() const { return PortText("FromPort").Text(*this); }
    kora::s_string GetToPortRange() const { return PortText("ToPort").Text(*this); }
    const kora::s_socket_addr& GetToIP() const { return m_ToIP; }
    const kora::s_socket_addr& GetToNetmask() const { return m_ToNetmask; }
    kora::s_uint8 GetProtocol() const { return m_Protocol; }

  protected:
    using C = cDBTrafficRule;
    // The source ports, whose low and high ends came with stored versions
    // `lowSince` and `highSince`.
    static RowPtr FromPortRow(unsigned lowSince = 1, unsigned highSince = 1) {
        return PortRange<C>("FromPort", Field(&C::m_FromPortLow, "FromPortLow").Since(lowSince),
                            Field(&C::m_FromPortHigh, "FromPortHigh").Since(highSince));
    }
    // Destination network and ports.
    static std::vector<RowPtr> ToRows(unsigned lowSince = 1, unsigned highSince = 1) {
        return {Field(&C::m_ToIP, "ToIP"), Field(&C::m_ToNetmask, "ToNetmask"),
                PortRange<C>("ToPort", Field(&C::m_ToPortLow, "ToPortLow").Since(lowSince),
                             Field(&C::m_ToPortHigh, "ToPortHigh").Since(highSince))};
    }
    static RowPtr ProtocolRow() { return Field(&C::m_Protocol, "Protocol", 0).Range(0, 3); }
    // Older records stored one port per end, which sets both low and high.
    static Step SinglePort(kora::s_uint16 C::*low, kora::s_uint16 C::*high) {
        return Custom<C>([low, high](C& c, kora::cSerializeBuffer& b) {
            kora::s_uint16 port;
            if (!port.Deserialize(b)) return StepResult::kFail;
            c.*low = port;
            c.*high = port;
            return StepResult::kOk;
        });
    }
    static Step SingleFromPort() { return SinglePort(&C::m_FromPortLow, &C::m_FromPortHigh); }
    static Step SingleToPort() { return SinglePort(&C::m_ToPortLow, &C::m_ToPortHigh); }
    // "FromNet", "ToNet", "FromPortRange", "ToPortRange", then `keys`.
    void TrafficInfo(kora::cMap<kora::s_string, kora::s_string>& info,
                     std::initializer_list<const char*> keys) const {
        this->RuleInfo(info, keys);
        info.SetAt("ToNet", GetNetworkString(m_ToIP, m_ToNetmask, true));
        info.SetAt("FromPortRange", GetFromPortRange());
        info.SetAt("ToPortRange", GetToPortRange());
    }

  private:
    static const cPortRangeRow& PortText(const char* key) {
        return cDBRecord<Derived>::template RowOf<cPortRangeRow>(key);
    }

    kora::s_uint16 m_FromPortLow, m_FromPortHigh;
    kora::s_socket_addr m_ToIP, m_ToNetmask;
    kora::s_uint16 m_ToPortLow, m_ToPortHigh;
    kora::s_uint8 m_Protocol;
};

// Whether a remote-access service code exists on this device: 1..4, one
// more (5) with an RS232 port, or two more (6) with the combined serial port.
TESSEL_API bool IsRemoteAccessService(uint64_t service);

// Port forwarding as a whole: whether one LAN host receives every inbound
// connection that no forwarding rule takes.
class TESSEL_API cDBConfigPortForwarding : public cDBRecord<cDBConfigPortForwarding> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigPortForwarding",
                                       "PortForwardConfigObject",
                                       ACCESS_CLASS_FIREWALL_CONFIG,
                                       1,
                                       Versions({1}),
                                       "PortForwardConfig",
                                       "/Config/Network/Firewall/PortForwarding/"};
    cDBConfigPortForwarding() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigPortForwarding"; }

    void SetExposeHost(bool v) { m_ExposeHost = v; }
    void SetExposeToIP(const kora::s_socket_addr& v) { m_ExposeToIP = v; }
    bool GetExposeHost() const { return m_ExposeHost; }
    const kora::s_socket_addr& GetExposeToIP() const { return m_ExposeToIP; }

  private:
    kora::s_bool m_ExposeHost;
    kora::s_socket_addr m_ExposeToIP;

  public:
    static const Table<cDBConfigPortForwarding>& Fields() {
        using C = cDBConfigPortForwarding;
        static const Table<C> rows{{
            Field(&C::m_ExposeHost, "ExposeHost"),
            Field(&C::m_ExposeToIP, "ExposeToIP"),
        }};
        return rows;
    }
};

// One forwarding: connections from the source network to `InPort` go to
// `OutPort` of the LAN host `ToIP`.
class TESSEL_API cDBConfigPortForwardRule : public cDBFirewallRule<cDBConfigPortForwardRule> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigPortForwardRule",
                                       "ForwardConfigObject",
                                       ACCESS_CLASS_FIREWALL_CONFIG,
                                       1,
                                       Versions({1}),
                                       "",
                                       "/Config/Network/Firewall/PortForwarding/"};
    cDBConfigPortForwardRule() { SetDefault(); }
    // "FromNet", "InPort", "OutPort", "Protocol", "ToIP", "Rank".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    bool SetInPort(kora::s_uint32 v) { return Set(m_InPort, v); }    // 1..65535
    bool SetOutPort(kora::s_uint32 v) { return Set(m_OutPort, v); }  // 1..65535
    void SetToIP(const kora::s_socket_addr& v) { m_ToIP = v; }
    bool SetProtocol(kora::s_uint32 v) { return Set(m_Protocol, v); }  // code 1..2
    void SetLog(bool v) { m_Log = v; }
    kora::s_uint16 GetInPort() const { return m_InPort; }
    kora::s_uint16 GetOutPort() const { return m_OutPort; }
    const kora::s_socket_addr& GetToIP() const { return m_ToIP; }
    kora::s_uint8 GetProtocol() const { return m_Protocol; }
    bool GetLog() const { return m_Log; }

  private:
    kora::s_uint16 m_InPort, m_OutPort;
    kora::s_socket_addr m_ToIP;
    kora::s_uint8 m_Protocol;
    kora::s_bool m_Log;

  public:
    static const Table<cDBConfigPortForwardRule>& Fields() {
        using C = cDBConfigPortForwardRule;
        static const Table<C> rows{Join<RowPtr>({
            FromRows(),
            {
                Field(&C::m_InPort, "InPort", 80).Range(1, 65535),
                Field(&C::m_OutPort, "OutPort", 80).Range(1, 65535),
                Field(&C::m_ToIP, "ToIP"),
                Field(&C::m_Protocol, "Protocol", 1).Range(1, 2),
                Field(&C::m_Log, "Log"),
                RankRow(),
            },
        })};
        return rows;
    }
};

// Opens one of the device's own services (web interface, SSH, ...) to a
// source network on an interface.
class TESSEL_API cDBConfigRemoteAccessRule : public cDBFirewallRule<cDBConfigRemoteAccessRule> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigRemoteAccessRule",
                                       "RemoteAccessRuleConfigObject",
                                       ACCESS_CLASS_FIREWALL_CONFIG,
                                       1,
                                       Versions({1}),
                                       "",
                                       "/Config/Network/Firewall/RemoteAccess/"};
    cDBConfigRemoteAccessRule() { SetDefault(); }
    // "FromNet", "Target", "FromInterface", "RemoteAccessService", "Rank".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    bool SetFromInterface(kora::s_uint32 v) { return Set(m_FromInterface, v); }  // code 1 or 3
    // 1..4; 1..5 with the feature "SerialRS232"; else 1..6 with "SerialCombined".
    bool SetRemoteAccessService(kora::s_uint32 v) { return Set(m_RemoteAccessService, v); }
    bool SetTarget(kora::s_uint32 v) { return Set(m_Target, v); }  // code 0..2
    void SetLog(bool v) { m_Log = v; }
    kora::s_uint8 GetFromInterface() const { return m_FromInterface; }
    kora::s_uint8 GetRemoteAccessService() const { return m_RemoteAccessService; }
    kora::s_uint8 GetTarget() const { return m_Target; }
    bool GetLog() const { return m_Log; }

  private:
    kora::s_uint8 m_FromInterface, m_RemoteAccessService, m_Target;
    kora::s_bool m_Log;

  public:
    static const Table<cDBConfigRemoteAccessRule>& Fields() {
        using C = cDBConfigRemoteAccessRule;
        static const Table<C> rows{Join<RowPtr>({
            FromRows(),
            {
                Field(&C::m_FromInterface, "FromInterface", 1).Range(1, 1).Range(3, 3),
                Field(&C::m_RemoteAccessService, "RemoteAccessService", 1)
                    .Check(IsRemoteAccessService),
                Field(&C::m_Target, "Target", 0).Range(0, 2),
                Field(&C::m_Log, "Log"),
                RankRow(),
            },
        })};
        return rows;
    }
};

// The packet filter as a whole: logging of unmatched packets and TCP MSS
// clamping (version 2).
class TESSEL_API cDBConfigPacketFilter : public cDBRecord<cDBConfigPacketFilter> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigPacketFilter",
                                       "PacketFilterConfigObject",
                                       ACCESS_CLASS_FIREWALL_CONFIG,
                                       2,
                                       VersionsFrom(1, 2),
                                       "PacketFilterConfig",
                                       "/Config/Network/Firewall/PacketFilter/"};
    cDBConfigPacketFilter() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigPacketFilter"; }

    void SetLogUnknown(bool v) { m_LogUnknown = v; }
    bool SetMSSAdjustMode(kora::s_uint32 v) { return Set(m_MSSAdjustMode, v); }  // code 0..2
    bool SetMSSSize(kora::s_uint32 v) { return Set(m_MSSSize, v); }              // 100..1500 bytes
    bool GetLogUnknown() const { return m_LogUnknown; }
    kora::s_uint8 GetMSSAdjustMode() const { return m_MSSAdjustMode; }
    kora::s_uint16 GetMSSSize() const { return m_MSSSize; }

  private:
    kora::s_bool m_LogUnknown;
    kora::s_uint8 m_MSSAdjustMode;
    kora::s_uint16 m_MSSSize;

  public:
    static const Table<cDBConfigPacketFilter>& Fields() {
        using C = cDBConfigPacketFilter;
        static const Table<C> rows{{
            Field(&C::m_LogUnknown, "LogUnknown"),
            Field(&C::m_MSSAdjustMode, "MSSAdjustMode", 1).Since(2).Range(0, 2).Optional(1),
            Field(&C::m_MSSSize, "MSSSize", 1455).Since(2).Range(100, 1500).Optional(1),
        }};
        return rows;
    }
};

// One packet-filter rule: what it matches (networks, ports, interfaces,
// protocol and, from version 2, VLANs) and what it does with a match.
class TESSEL_API cDBConfigFilterRule : public cDBTrafficRule<cDBConfigFilterRule> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigFilterRule",
                                       "FilterRuleConfigObject",
                                       ACCESS_CLASS_FIREWALL_CONFIG,
                                       2,
                                       VersionsFrom(1, 2),
                                       "",
                                       "/Config/Network/Firewall/PacketFilter/"};
    cDBConfigFilterRule() { SetDefault(); }
    // "FromNet", "ToNet", "FromPortRange", "ToPortRange", "Protocol", "Target",
    // "FromInterface", "ToInterface", "MatchFromVlan", "FromVLANID",
    // "MatchToVlan", "ToVLANID", "Rank".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    bool SetFromInterface(kora::s_uint32 v) { return Set(m_FromInterface, v); }  // code 0..3
    bool SetToInterface(kora::s_uint32 v) { return Set(m_ToInterface, v); }      // code 0..3
    bool SetTarget(kora::s_uint32 v) { return Set(m_Target, v); }                // code 0..2
    void SetLog(bool v) { m_Log = v; }
    void SetMatchFromVlan(bool v) { m_MatchFromVlan = v; }
    bool SetFromVlanID(kora::s_uint32 v) { return Set(m_FromVlanID, v); }  // 1..4094
    void SetMatchToVlan(bool v) { m_MatchToVlan = v; }
    bool SetToVlanID(kora::s_uint32 v) { return Set(m_ToVlanID, v); }  // 1..4094
    kora::s_uint8 GetFromInterface() const { return m_FromInterface; }
    kora::s_uint8 GetToInterface() const { return m_ToInterface; }
    kora::s_uint8 GetTarget() const { return m_Target; }
    bool GetLog() const { return m_Log; }
    bool GetMatchFromVlan() const { return m_MatchFromVlan; }
    kora::s_uint16 GetFromVlanID() const { return m_FromVlanID; }
    bool GetMatchToVlan() const { return m_MatchToVlan; }
    kora::s_uint16 GetToVlanID() const { return m_ToVlanID; }

  private:
    kora::s_uint8 m_FromInterface, m_ToInterface, m_Target;
    kora::s_bool m_Log, m_MatchFromVlan;
    kora::s_uint16 m_FromVlanID;
    kora::s_bool m_MatchToVlan;
    kora::s_uint16 m_ToVlanID;

  public:
    static const Table<cDBConfigFilterRule>& Fields() {
        using C = cDBConfigFilterRule;
        // The VLAN matches of version 2 are read from JSON as one group;
        // the rank, stored last, is required.
        static const Table<C> rows{Join<RowPtr>({
            FromRows(),
            {FromPortRow(), Field(&C::m_FromInterface, "FromInterface", 0).Range(0, 3)},
            ToRows(),
            {
                Field(&C::m_ToInterface, "ToInterface", 0).Range(0, 3),
                ProtocolRow(),
                Field(&C::m_Target, "Target", 0).Range(0, 2),
                Field(&C::m_Log, "Log"),
                Field(&C::m_MatchFromVlan, "MatchFromVlan").Since(2).Optional(1),
                Field(&C::m_FromVlanID, "FromVLANID", 1).Since(2).Range(1, 4094).Optional(1),
                Field(&C::m_MatchToVlan, "MatchToVlan").Since(2).Optional(1),
                Field(&C::m_ToVlanID, "ToVLANID", 1).Since(2).Range(1, 4094).Optional(1),
                RankRow(),
            },
        })};
        return rows;
    }
};

// Traffic priority as a whole: the priority of traffic no rule matches.
class TESSEL_API cDBConfigTrafficPriority : public cDBRecord<cDBConfigTrafficPriority> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigTrafficPriority",
                                       "TrafficPriorityConfigObject",
                                       ACCESS_CLASS_FIREWALL_CONFIG,
                                       1,
                                       Versions({1}),
                                       "TrafficPriorityConfig",
                                       "/Config/Network/Firewall/TrafficPriority/"};
    cDBConfigTrafficPriority() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigTrafficPriority"; }

    bool SetDefaultPriority(kora::s_uint32 v) { return Set(m_DefaultPriority, v); }  // code 1..3
    kora::s_uint8 GetDefaultPriority() const { return m_DefaultPriority; }

  private:
    kora::s_uint8 m_DefaultPriority;

  public:
    static const Table<cDBConfigTrafficPriority>& Fields() {
        using C = cDBConfigTrafficPriority;
        static const Table<C> rows{
            {Field(&C::m_DefaultPriority, "DefaultPriority", 2).Range(1, 3)}};
        return rows;
    }
};

// One traffic-priority rule. Ports came with version 3 as one port per end,
// ranges and the rank with version 5, the VLAN match with version 6;
// version 2 is not read.
class TESSEL_API cDBConfigTrafficPriorityRule
    : public cDBTrafficRule<cDBConfigTrafficPriorityRule> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigTrafficPriorityRule",
                                       "TrafficPriorityRuleConfigObject",
                                       ACCESS_CLASS_FIREWALL_CONFIG,
                                       6,
                                       Versions({1, 3, 4, 5, 6}),
                                       "",
                                       "/Config/Network/Firewall/TrafficPriority/"};
    cDBConfigTrafficPriorityRule() { SetDefault(); }
    // "FromNet", "ToNet", "FromPortRange", "ToPortRange", "Protocol",
    // "Priority", "MatchVlan", "VLANID", "Rank".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    bool SetPriority(kora::s_uint32 v) { return Set(m_Priority, v); }  // code 1..3
    void SetMatchVlan(bool v) { m_MatchVlan = v; }
    bool SetVlanID(kora::s_uint32 v) { return Set(m_VlanID, v); }  // 1..4094
    kora::s_uint8 GetPriority() const { return m_Priority; }
    bool GetMatchVlan() const { return m_MatchVlan; }
    kora::s_uint16 GetVlanID() const { return m_VlanID; }

  private:
    kora::s_uint8 m_Priority;
    kora::s_bool m_MatchVlan;
    kora::s_uint16 m_VlanID;

  public:
    static const Table<cDBConfigTrafficPriorityRule>& Fields() {
        using C = cDBConfigTrafficPriorityRule;
        static const Table<C> rows{
            Join<RowPtr>({
                FromRows(),
                {FromPortRow(3, 5)},
                ToRows(3, 5),
                {
                    ProtocolRow(),
                    Field(&C::m_Priority, "Priority", 2).Range(1, 3),
                    Field(&C::m_MatchVlan, "MatchVlan").Since(6).Optional(1),
                    Field(&C::m_VlanID, "VLANID", 1).Since(6).Range(1, 4094).Optional(1),
                    RankRow().Since(5).Optional(),
                },
            }),
            [] {
                // Versions 3 and 4: one port per end, no rank.
                std::vector<Step> steps = {"FromIP",   "FromNetmask", SingleFromPort(),
                                           "ToIP",     "ToNetmask",   SingleToPort(),
                                           "Protocol", "Priority"};
                return std::vector<Layout>{Stored(3, steps), Stored(4, steps)};
            }()};
        return rows;
    }
};

}  // namespace tessel
