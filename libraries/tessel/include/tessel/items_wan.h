// The router's WAN side: which WAN setup starts, the setups and their modes,
// the wired WAN port, the cellular WAN and the per-network provider profiles
// of its modem, static WAN routes, and when the mobile data counter resets.
#pragma once

#include <set>
#include <string>

#include "tessel/lan_block.h"

namespace tessel {

// The WAN setup used at start-up, by the name of its item under
// "/Config/Network/WanSetups/".
class TESSEL_API cDBConfigWan : public cDBRecord<cDBConfigWan> {
  public:
    static constexpr const char* kSetupDir = "/Config/Network/WanSetups/";
    static constexpr ItemInfo kInfo = {
        "cDBConfigWan", "WanConfigObject", ACCESS_CLASS_WAN_CONFIG, 1,
        Versions({1}),  "WanConfig",       "/Config/Network/"};
    cDBConfigWan() { SetDefault(); }
    std::string ToString(const std::string&) const override;
    // Links to the start-up setup, when one is named.
    bool HasLinks() override { return !m_StartUpWanSetup.empty(); }
    void GetLinks(std::set<std::string>& paths) override;

    void SetStartUpWanSetup(const std::string& v) { m_StartUpWanSetup = v; }
    const kora::s_string& GetStartUpWanSetup() const { return m_StartUpWanSetup; }

  private:
    kora::s_string m_StartUpWanSetup;

  public:
    static const Table<cDBConfigWan>& Fields() {
        static const Table<cDBConfigWan> rows{
            {Field(&cDBConfigWan::m_StartUpWanSetup, "StartUpWanSetup")}};
        return rows;
    }
};

// A named WAN setup: which of the wired and cellular WAN carry traffic, and
// which one is preferred.
class TESSEL_API cDBConfigWanSetup : public cDBRecord<cDBConfigWanSetup> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigWanSetup",
                                       "WanSetupConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       2,
                                       VersionsFrom(1, 2),
                                       "WanSetupConfig",
                                       ""};
    cDBConfigWanSetup() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    bool SetWanMode(kora::s_uint32 v) { return Set(m_WanMode, v); }  // code 1..4
    kora::s_uint8 GetWanMode() const { return m_WanMode; }
    // "cellular", "DSL/cable", "DSL/cable and cellular", "cellular and
    // DSL/cable" for modes 1 to 4; empty for any other.
    kora::s_string GetWanModeString() const;

  private:
    kora::s_uint8 m_WanMode;

  public:
    static const Table<cDBConfigWanSetup>& Fields() {
        using C = cDBConfigWanSetup;
        static const Table<C> rows{{Field(&C::m_WanMode, "WanMode", 1).Range(1, 4)},
                                   {
                                       // Version 1 held a text before the mode, since dropped.
                                       Stored(1, {Skip<kora::s_string>(), "WanMode"}),
                                   }};
        return rows;
    }
};

// The wired WAN port: its addressing or PPP access, and, when the port serves
// a LAN instead, the LAN's addressing, DHCP and VRRP settings. Documents
// written for older versions lack the LAN members, some VRRP groups or the
// port's switch and mode; each missing group keeps its defaults.
class TESSEL_API cDBConfigWiredWan : public cDBPortLanSettings<cDBConfigWiredWan> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigWiredWan",
                                       "WiredWanConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       9,
                                       Versions({1, 3, 4, 5, 6, 7, 8, 9}),
                                       "WiredWanConfig",
                                       ""};
    cDBConfigWiredWan() { SetDefault(); }
    // Credentials are shown masked.
    std::string ToString(const std::string&) const override;

    bool SetMode(kora::s_uint32 v) { return Set(m_Mode, v); }  // code 1..6
    void SetIP(const kora::s_socket_addr& v) { m_IP = v; }
    void SetGateway(const kora::s_socket_addr& v) { m_Gateway = v; }
    void SetSubnet(const kora::s_socket_addr& v) { m_Subnet = v; }
    void SetUseProviderDNS(bool v) { m_UseProviderDNS = v; }
    void SetDNS1(const kora::s_socket_addr& v) { m_DNS1 = v; }
    void SetDNS2(const kora::s_socket_addr& v) { m_DNS2 = v; }
    void SetDNS3(const kora::s_socket_addr& v) { m_DNS3 = v; }
    bool SetPPPUsername(const std::string& v) { return Set(m_Username, v); }
    bool SetPPPPassword(const std::string& v) { return Set(m_Password, v); }
    kora::s_uint8 GetMode() const { return m_Mode; }
    const kora::s_socket_addr& GetIP() const { return m_IP; }
    const kora::s_socket_addr& GetGateway() const { return m_Gateway; }
    const kora::s_socket_addr& GetSubnet() const { return m_Subnet; }
    bool GetUseProviderDNS() const { return m_UseProviderDNS; }
    const kora::s_socket_addr& GetDNS1() const { return m_DNS1; }
    const kora::s_socket_addr& GetDNS2() const { return m_DNS2; }
    const kora::s_socket_addr& GetDNS3() const { return m_DNS3; }
    const kora::s_string& GetPPPUsername() const { return m_Username; }
    const kora::s_string& GetPPPPassword() const { return m_Password; }

  private:
    kora::s_uint8 m_Mode;
    kora::s_socket_addr m_IP, m_Gateway, m_Subnet;
    kora::s_bool m_UseProviderDNS;
    kora::s_socket_addr m_DNS1, m_DNS2, m_DNS3;
    kora::s_string m_Username, m_Password;

    // JSON groups beyond the required WAN members; the VRRP groups follow the LAN's.
    static constexpr int kLanGroup = 1;
    static constexpr int kPortGroup = kVrrpGroup + 10;

  public:
    static const Table<cDBConfigWiredWan>& Fields() {
        using C = cDBConfigWiredWan;
        // The stored WAN members, and the LAN members since version 3.
        static const std::vector<Step> wan = {
            "Mode", "IP",   "Gateway", "Subnet",   "UseProviderDNS", "DNS1",
            "DNS2", "DNS3", "MTU",     "Username", "Password"};
        static const std::vector<Step> lan = Join<Step>({{"VLANEnabled", "VLANID"}, StoredLan()});
        static const Table<C> rows{
            Join<RowPtr>({
                // The port's switch and mode were added last: stored first, read last.
                {EnabledRow().NoJson(), PortModeRow("PortMode").NoJson()},
                {
                    Field(&C::m_Mode, "Mode", 2).Range(1, 6),
                    Field(&C::m_IP, "IP"),
                    Field(&C::m_Gateway, "Gateway"),
                    Field(&C::m_Subnet, "Subnet"),
                    Field(&C::m_UseProviderDNS, "UseProviderDNS", true),
                    Field(&C::m_DNS1, "DNS1"),
                    Field(&C::m_DNS2, "DNS2"),
                    Field(&C::m_DNS3, "DNS3"),
                    MtuRow(),
                    Field(&C::m_Username, "Username").Check(CheckCredentials).Masked(),
                    Field(&C::m_Password, "Password").Check(CheckCredentials).Masked(),
                },
                InGroup({VlanEnabledRow(), VlanRow()}, kLanGroup),
                LanRows(kLanGroup, kJsonAny),
                VrrpRows(true),
                InGroup({EnabledRow().NoBinary(), PortModeRow("PortMode").NoBinary()}, kPortGroup),
            }),
            {
                Stored(1, wan),
                // Version 2 is not read.
                Stored(3, Join<Step>({wan, lan})),
                Stored(4, Join<Step>({wan, lan, StoredVrrp(kVrrpBasic)})),
                Stored(5, Join<Step>({wan, lan, StoredVrrp(kVrrpAddress)})),
                Stored(6, Join<Step>({wan, lan, StoredVrrp(kVrrpHighPriority)})),
                Stored(7, Join<Step>({wan, lan, StoredVrrp(kVrrpAddressList)})),
                Stored(8, Join<Step>(
                              {{"Enabled", "PortMode"}, wan, lan, StoredVrrp(kVrrpAddressList)})),
                // Version 9 is the rows in order.
            },
            {"Enabled", "PortMode"}};
        return rows;
    }
};

// Access to a mobile network: the APN, PPP credentials with their
// authentication mode, and DNS servers (the provider's, or three given).
// The cellular WAN has one; each provider profile is one.
template <class Derived>
class cDBMobileAccess : public cDBRecord<Derived> {
  public:
    bool SetAPN(const std::string& v) { return this->Set(m_APN, v); }
    bool SetUsername(const std::string& v) { return this->Set(m_Username, v); }
    bool SetPassword(const std::string& v) { return this->Set(m_Password, v); }
    bool SetAuthMode(kora::s_uint32 v) { return this->Set(m_AuthMode, v); }
    void SetUseProviderDNS(bool v) { m_UseProviderDNS = v; }
    void SetDNS1(const kora::s_socket_addr& v) { m_DNS1 = v; }
    void SetDNS2(const kora::s_socket_addr& v) { m_DNS2 = v; }
    void SetDNS3(const kora::s_socket_addr& v) { m_DNS3 = v; }
    const kora::s_string& GetAPN() const { return m_APN; }
    const kora::s_string& GetUsername() const { return m_Username; }
    const kora::s_string& GetPassword() const { return m_Password; }
    kora::s_uint8 GetAuthMode() const { return m_AuthMode; }
    bool GetUseProviderDNS() const { return m_UseProviderDNS; }
    const kora::s_socket_addr& GetDNS1() const { return m_DNS1; }
    const kora::s_socket_addr& GetDNS2() const { return m_DNS2; }
    const kora::s_socket_addr& GetDNS3() const { return m_DNS3; }

  protected:
    using A = cDBMobileAccess;
    // The rows in stored order, first stored in `since`, read from JSON in
    // `group`. The APN and credentials mark the group; with `markedOnly`
    // the members after them are read without a presence check.
    static std::vector<RowPtr> AccessRows(unsigned since, int group, bool markedOnly) {
        std::vector<RowPtr> rows = {
            Field(&A::m_APN, "APN").Check(CheckHostname),
            Field(&A::m_Username, "Username").Check(CheckCredentials).Masked(),
            Field(&A::m_Password, "Password").Check(CheckCredentials).Masked(),
            Field(&A::m_AuthMode, "AuthMode", 0).Range(0, 1),
            Field(&A::m_UseProviderDNS, "UseProviderDNS", true),
            Field(&A::m_DNS1, "DNS1"),
            Field(&A::m_DNS2, "DNS2"),
            Field(&A::m_DNS3, "DNS3"),
        };
        for (size_t i = 0; i < rows.size(); ++i) {
            rows[i]->since = since;
            if (markedOnly && i >= 3) rows[i]->flags |= kRowMayBeMissing;
        }
        return InGroup(rows, group);
    }

  private:
    kora::s_string m_APN, m_Username, m_Password;
    kora::s_uint8 m_AuthMode;
    kora::s_bool m_UseProviderDNS;
    kora::s_socket_addr m_DNS1, m_DNS2, m_DNS3;
};

// The cellular WAN: SIM slot and PIN, network mode, operator choice, mobile
// data and roaming, the provider access, status polling and antenna
// diversity. Documents written for older versions lack the later groups.
class TESSEL_API cDBConfigWirelessWan : public cDBMobileAccess<cDBConfigWirelessWan> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigWirelessWan",
                                       "WirelessWanConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       4,
                                       VersionsFrom(1, 4),
                                       "WirelessWanConfig",
                                       ""};
    cDBConfigWirelessWan() { SetDefault(); }
    // The PIN is shown masked.
    std::string ToString(const std::string&) const override;

    // Network modes 0..2; 3 as well on a device with an LTE modem ("Wireless4G").
    static bool IsNetMode(uint64_t mode);

    bool SetSimSlot(kora::s_uint32 v) { return Set(m_SimSlot, v); }  // 0..1
    bool SetNetMode(kora::s_uint32 v) { return Set(m_NetMode, v); }
    // A mode above 2 is ignored, and the setter still says yes.
    // code 0..2
    bool SetOperatorSelectionMode(kora::s_uint32 v) { return Set(m_OperatorSelectionMode, v); }
    bool SetMobilePin(const std::string& v) { return Set(m_MobilePin, v); }
    void SetMobileData(bool v) { m_MobileData = v; }
    void SetRoamingAllowed(bool v) { m_RoamingAllowed = v; }
    // Operator codes: up to six digits.
    bool SetOperatorByIndex(kora::s_uint32 index, const std::string& code) {
        return Add(m_Operators, Operator::From<OperatorMap>({index, code}));
    }
    // A mode above 1 is ignored, and the setter still says yes.
    bool SetProviderConfigurationMode(kora::s_uint32 v) {
        return Set(m_ProviderConfigurationMode, v);
    }
    // 5..300 seconds
    bool SetNetworkStatusPollInterval(kora::s_uint32 v) { return Set(m_StatusPollInterval, v); }
    void SetEnableDiversity(bool v) { m_EnableDiversity = v; }

    kora::s_uint8 GetSimSlot() const { return m_SimSlot; }
    kora::s_uint8 GetNetMode() const { return m_NetMode; }
    kora::s_uint8 GetOperatorSelectionMode() const { return m_OperatorSelectionMode; }
    const kora::s_string& GetMobilePin() const { return m_MobilePin; }
    bool GetMobileData() const { return m_MobileData; }
    bool GetRoamingAllowed() const { return m_RoamingAllowed; }
    kora::s_string GetOperatorByIndex(kora::s_uint32 index) const {
        return ValueAt(m_Operators, index);
    }
    void GetOperatorIndexList(std::set<unsigned>& indexes) const { KeysOf(m_Operators, indexes); }
    kora::s_uint8 GetProviderConfigurationMode() const { return m_ProviderConfigurationMode; }
    kora::s_uint16 GetNetworkStatusPollInterval() const { return m_StatusPollInterval; }
    bool GetEnableDiversity() const { return m_EnableDiversity; }

  private:
    using OperatorMap = kora::cMap<kora::s_uint32, kora::s_string>;
    using Operator = MapEntry<kora::s_uint32, kora::s_string>;
    static const Table<Operator>& OperatorRows() {
        static const Table<Operator> rows{{
            Field(&Operator::key, "Index"),
            Field(&Operator::value, "Operator").Check(IsDigits<6>),
        }};
        return rows;
    }

    kora::s_uint8 m_SimSlot, m_NetMode, m_OperatorSelectionMode;
    kora::s_string m_MobilePin;
    kora::s_bool m_MobileData, m_RoamingAllowed;
    OperatorMap m_Operators;
    kora::s_uint8 m_ProviderConfigurationMode;
    kora::s_uint16 m_StatusPollInterval;
    kora::s_bool m_EnableDiversity;

  public:
    static const Table<cDBConfigWirelessWan>& Fields() {
        using C = cDBConfigWirelessWan;
        static const Table<C> rows{Join<RowPtr>({
            {
                Field(&C::m_SimSlot, "SimSlot", 0).Range(0, 1),
                Field(&C::m_NetMode, "NetMode", 0).Check(IsNetMode),
                Field(&C::m_OperatorSelectionMode, "OperatorSelectionMode", 0)
                    .Range(0, 2)
                    .IgnoreOutOfRange(),
                Field(&C::m_MobilePin, "MobilePin").Check(IsDigits<10>).Masked(),
                Field(&C::m_MobileData, "MobileData", true),
                Field(&C::m_RoamingAllowed, "RoamingAllowed", false),
                // A refused operator fails the read without a key of its own.
                List<Operator>(&C::m_Operators, "Operators", "", OperatorRows()),
                Field(&C::m_ProviderConfigurationMode, "ProviderConfigurationMode", 0)
                    .Since(2)
                    .Range(0, 1)
                    .IgnoreOutOfRange()
                    .Optional(1),
            },
            AccessRows(2, 1, true),
            {
                Field(&C::m_StatusPollInterval, "StatusPollInterval", 60)
                    .Since(3)
                    .Range(5, 300)
                    .Optional(),
                Field(&C::m_EnableDiversity, "EnableDiversity", true).Since(4).Optional(),
            },
        })};
        return rows;
    }
};

// The access profile of one mobile network, keyed by its network ID (MCC
// and MNC digits).
class TESSEL_API cDBConfigGsmProvider : public cDBMobileAccess<cDBConfigGsmProvider> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigGsmProvider",
                                       "GsmProviderObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       1,
                                       Versions({1}),
                                       "",
                                       ""};
    cDBConfigGsmProvider() { SetDefault(); }
    // Credentials are shown masked.
    std::string ToString(const std::string&) const override;
    bool HasKey() override { return true; }
    std::string GetKey() override { return m_NetID; }
    // "NetID".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    // Up to six digits.
    bool SetNetID(const std::string& v) { return Set(m_NetID, v); }
    const kora::s_string& GetNetID() const { return m_NetID; }

  private:
    kora::s_string m_NetID;

  public:
    static const Table<cDBConfigGsmProvider>& Fields() {
        using C = cDBConfigGsmProvider;
        static const Table<C> rows{Join<RowPtr>({
            {Field(&C::m_NetID, "NetID").Check(IsDigits<6>)},
            AccessRows(1, kRequired, false),
        })};
        return rows;
    }
};

// A static route to a network through the wired, cellular or a given gateway.
class TESSEL_API cDBConfigWanRoute : public cDBRecord<cDBConfigWanRoute> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigWanRoute",
                                       "WANRouteConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       1,
                                       Versions({1}),
                                       "",
                                       ""};
    cDBConfigWanRoute() { SetDefault(); }
    std::string ToString(const std::string&) const override;
    // "Network", "Netmask", "Gateway", "RouteType".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    void SetNetwork(const kora::s_socket_addr& v) { m_Network = v; }
    void SetNetmask(const kora::s_socket_addr& v) { m_Netmask = v; }
    void SetGateway(const kora::s_socket_addr& v) { m_Gateway = v; }
    // 1 (wired gateway), 2 (cellular gateway) or 4 (the given gateway); routes
    // over a VPN gateway (3) are not configured here.
    bool SetRouteType(kora::s_uint32 v) { return Set(m_RouteType, v); }  // code 1..2 or 4
    const kora::s_socket_addr& GetNetwork() const { return m_Network; }
    const kora::s_socket_addr& GetNetmask() const { return m_Netmask; }
    const kora::s_socket_addr& GetGateway() const { return m_Gateway; }
    kora::s_uint8 GetRouteType() const { return m_RouteType; }

  private:
    kora::s_socket_addr m_Network, m_Netmask, m_Gateway;
    kora::s_uint8 m_RouteType;

  public:
    static const Table<cDBConfigWanRoute>& Fields() {
        using C = cDBConfigWanRoute;
        static const Table<C> rows{{
            Field(&C::m_Network, "Network"),
            Field(&C::m_Netmask, "Netmask"),
            Field(&C::m_Gateway, "Gateway"),
            Field(&C::m_RouteType, "RouteType", 4).Range(1, 2).Range(4, 4),
        }};
        return rows;
    }
};

// How the mobile data-volume counter is reset, and on which day of the month.
class TESSEL_API cDBConfigDataVolume : public cDBRecord<cDBConfigDataVolume> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigDataVolume",
                                       "DataVolumeConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       1,
                                       Versions({1}),
                                       "",
                                       "/Config/Network/WanDataVolume/"};
    cDBConfigDataVolume() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigDataVolume"; }

    bool SetResetMode(kora::s_uint32 v) { return Set(m_ResetMode, v); }  // code 0..2
    // The day of the month, 1..31.
    bool SetResetDay(kora::s_uint32 v) { return Set(m_ResetDay, v); }  // 1..31 (day of the month)
    kora::s_uint8 GetResetMode() const { return m_ResetMode; }
    kora::s_uint8 GetResetDay() const { return m_ResetDay; }

  private:
    kora::s_uint8 m_ResetMode, m_ResetDay;

  public:
    static const Table<cDBConfigDataVolume>& Fields() {
        using C = cDBConfigDataVolume;
        static const Table<C> rows{{
            Field(&C::m_ResetMode, "ResetMode", 1).Range(0, 2),
            Field(&C::m_ResetDay, "DueDate", 1).Range(1, 31),
        }};
        return rows;
    }
};

}  // namespace tessel
