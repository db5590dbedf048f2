// The router's VPN side: IPsec tunnels to remote hosts, and the dynamic
// multipoint VPN made of one general item, one IPsec profile and any number
// of network items. Modes, algorithms and groups are carried as the numbers
// the VPN service understands; these items only bound them.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "tessel/record.h"

namespace tessel {

// One pair of networks a tunnel connects: local network and mask, remote
// network and mask. A tunnel holds each local network IP and remote network
// once; entries are ordered by the local IP, then by the remote network.
struct TESSEL_API tunnelEntry : cRecord {
    tunnelEntry() = default;
    tunnelEntry(const kora::s_socket_addr& localNetwork, const kora::s_socket_addr& localSubnet,
                const kora::s_socket_addr& remoteNetwork, const kora::s_socket_addr& remoteSubnet)
        : localNetwork(localNetwork),
          localSubnet(localSubnet),
          remoteNetwork(remoteNetwork),
          remoteSubnet(remoteSubnet) {}

    bool operator<(const tunnelEntry& o) const {
        if (localNetwork.GetIP() != o.localNetwork.GetIP())
            return localNetwork.GetIP() < o.localNetwork.GetIP();
        return remoteNetwork < o.remoteNetwork;
    }

    kora::s_socket_addr localNetwork, localSubnet, remoteNetwork, remoteSubnet;
};

using TunnelSet = std::set<tunnelEntry>;
// {"LocalNetwork", "LocalSubnet", "RemoteNetwork", "RemoteSubnet"}, dotted
// text taken as the framework converts it.
TESSEL_API const cRecordTable& TunnelRows();

// The IPsec settings a tunnel and the multipoint VPN's profile share:
// lifetimes, authentication, the phase 1 and phase 2 proposals and dead peer
// detection. A stored hash code 3, no longer offered, reads back as 1.
template <class Derived>
class cDBIpSecSettings : public cDBRecord<Derived> {
  public:
    void SetIsakmpLifetime(kora::s_uint32 v) { m_IsakmpLifetime = v; }
    void SetIpSecLifetime(kora::s_uint32 v) { m_IpSecLifetime = v; }
    bool SetAuthMethod(kora::s_uint32 v) { return this->Set(m_AuthMethod, v); }
    bool SetPreSharedKey(const std::string& v) { return this->Set(m_PreSharedKey, v); }
    void SetDeviceCertificateName(const std::string& v) { m_DeviceCertificateName = v; }
    void SetRemoteCertificateName(const std::string& v) { m_RemoteCertificateName = v; }
    bool SetIsakmpMode(kora::s_uint32 v) { return this->Set(m_IsakmpMode, v); }
    bool SetIsakmpEncryption(kora::s_uint32 v) { return this->Set(m_IsakmpEncryption, v); }
    bool SetIsakmpHash(kora::s_uint32 v) { return this->Set(m_IsakmpHash, v); }
    bool SetIpsecEncryption(kora::s_uint32 v) { return this->Set(m_IpSecEncryption, v); }
    bool SetIpsecHash(kora::s_uint32 v) { return this->Set(m_IpSecHash, v); }
    bool SetDHGroup(kora::s_uint32 v) { return this->Set(m_DHGroup, v); }
    void SetPFS(bool v) { m_PFS = v; }
    bool SetNatT(kora::s_uint32 v) { return this->Set(m_NATT, v); }
    void SetDPD(bool v) { m_DPD = v; }
    bool SetDPDDelay(kora::s_uint32 v) { return this->Set(m_DPDDelay, v); }
    bool SetDPDTimeout(kora::s_uint32 v) { return this->Set(m_DPDTimeout, v); }
    bool SetDPDRetries(kora::s_uint32 v) { return this->Set(m_DPDRetries, v); }

    kora::s_uint32 GetIsakmpLifetime() const { return m_IsakmpLifetime; }
    kora::s_uint32 GetIpSecLifetime() const { return m_IpSecLifetime; }
    kora::s_uint8 GetAuthMethod() const { return m_AuthMethod; }
    const kora::s_string& GetPreSharedKey() const { return m_PreSharedKey; }
    const kora::s_string& GetDeviceCertificateName() const { return m_DeviceCertificateName; }
    const kora::s_string& GetRemoteCertificateName() const { return m_RemoteCertificateName; }
    kora::s_uint8 GetIsakmpMode() const { return m_IsakmpMode; }
    kora::s_uint8 GetIsakmpEncryption() const { return m_IsakmpEncryption; }
    kora::s_uint8 GetIsakmpHash() const { return m_IsakmpHash; }
    kora::s_uint8 GetIpsecEncryption() const { return m_IpSecEncryption; }
    kora::s_uint8 GetIpsecHash() const { return m_IpSecHash; }
    kora::s_uint8 GetDHGroup() const { return m_DHGroup; }
    bool GetPFS() const { return m_PFS; }
    kora::s_uint8 GetNatT() const { return m_NATT; }
    bool GetDPD() const { return m_DPD; }
    kora::s_uint16 GetDPDDelay() const { return m_DPDDelay; }
    kora::s_uint16 GetDPDTimeout() const { return m_DPDTimeout; }
    kora::s_uint16 GetDPDRetries() const { return m_DPDRetries; }

  protected:
    using C = cDBIpSecSettings;
    static std::vector<RowPtr> LifetimeRows() {
        return {Field(&C::m_IsakmpLifetime, "IsakmpLifetime", 86400),
                Field(&C::m_IpSecLifetime, "IpSecLifetime", 86400)};
    }
    // Method and key; the certificate names came with stored version
    // `certSince` and are read from JSON in group `certGroup` (kRequired: always).
    static std::vector<RowPtr> AuthRows(unsigned certSince, int certGroup) {
        return {Field(&C::m_AuthMethod, "AuthMethod", 1).Range(1, 3),
                Field(&C::m_PreSharedKey, "PreSharedKey").Check(CheckCredentials).Masked(),
                Field(&C::m_DeviceCertificateName, "DeviceCertificateName")
                    .Since(certSince)
                    .Optional(certGroup),
                Field(&C::m_RemoteCertificateName, "RemoteCertificateName")
                    .Since(certSince)
                    .Optional(certGroup)};
    }
    // Proposals and dead peer detection; PFS came with stored version
    // `pfsSince` and is read from JSON in group `pfsGroup`.
    static std::vector<RowPtr> ProposalRows(uint8_t isakmpMode, unsigned pfsSince, int pfsGroup) {
        return {Field(&C::m_IsakmpMode, "IsakmpMode", isakmpMode).Range(1, 2),
                Field(&C::m_IsakmpEncryption, "IsakmpEncryption", 4).Range(1, 4),
                HashRow(&C::m_IsakmpHash, "IsakmpHash"),
                Field(&C::m_IpSecEncryption, "IpSecEncryption", 4).Range(1, 4),
                HashRow(&C::m_IpSecHash, "IpSecHash"),
                Field(&C::m_DHGroup, "DHGroup", 2).Range(1, 3),
                Field(&C::m_PFS, "PFS", true).Since(pfsSince).Optional(pfsGroup),
                Field(&C::m_NATT, "NATT", 1).Range(1, 3),
                Field(&C::m_DPD, "DPD", true),
                Field(&C::m_DPDDelay, "DPDDelay", 150).Range(10, 3600),
                Field(&C::m_DPDTimeout, "DPDTimeout", 60).Range(10, 3600),
                Field(&C::m_DPDRetries, "DPDRetries", 5).Range(0, 100)};
    }

  private:
    static RowPtr HashRow(kora::s_uint8 C::*member, const char* key) {
        return Field(member, key, 1).Range(1, 2).Range(4, 6).OnRead(3, 1);
    }

    kora::s_uint32 m_IsakmpLifetime, m_IpSecLifetime;
    kora::s_uint8 m_AuthMethod;
    kora::s_string m_PreSharedKey, m_DeviceCertificateName, m_RemoteCertificateName;
    kora::s_uint8 m_IsakmpMode, m_IsakmpEncryption, m_IsakmpHash, m_IpSecEncryption, m_IpSecHash,
        m_DHGroup;
    kora::s_bool m_PFS;
    kora::s_uint8 m_NATT;
    kora::s_bool m_DPD;
    kora::s_uint16 m_DPDDelay, m_DPDTimeout, m_DPDRetries;
};

// An IPsec tunnel to one remote host, keyed by that host, with the network
// pairs it carries.
class TESSEL_API cDBConfigIpSecTunnel : public cDBIpSecSettings<cDBConfigIpSecTunnel> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigIpSecTunnel",
                                       "IpSecTunnelConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       3,
                                       Versions({3}),
                                       "",
                                       "/"};
    cDBConfigIpSecTunnel() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigIpSecTunnel"; }
    bool HasKey() override { return true; }
    std::string GetKey() override { return m_RemoteHost; }
    // "RemoteHost", "IsakmpMode", "AuthMethod", "TunnelCount".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    void SetPassive(bool v) { m_Passive = v; }
    bool SetRemoteHost(const std::string& v) { return Set(m_RemoteHost, v); }
    bool SetLocalIdentifier(const std::string& v) { return Set(m_LocalIdentifier, v); }
    bool SetRemoteIdentifier(const std::string& v) { return Set(m_RemoteIdentifier, v); }
    // Adds a network pair unless one with the same local IP and remote network is there.
    bool AddTunnel(const tunnelEntry& v) { return Add(m_Tunnels, v); }
    bool GetPassive() const { return m_Passive; }
    const kora::s_string& GetRemoteHost() const { return m_RemoteHost; }
    const kora::s_string& GetLocalIdentifier() const { return m_LocalIdentifier; }
    const kora::s_string& GetRemoteIdentifier() const { return m_RemoteIdentifier; }
    const TunnelSet& GetTunnels() const { return m_Tunnels; }

  private:
    kora::s_bool m_Passive;
    kora::s_string m_RemoteHost, m_LocalIdentifier, m_RemoteIdentifier;
    TunnelSet m_Tunnels;

  public:
    static const Table<cDBConfigIpSecTunnel>& Fields() {
        using C = cDBConfigIpSecTunnel;
        static const Table<C> rows{Join<RowPtr>({
            {
                Field(&C::m_Passive, "Passive"),
                Field(&C::m_RemoteHost, "RemoteHost").Check(CheckHostname),
            },
            LifetimeRows(),
            {
                Field(&C::m_LocalIdentifier, "LocalIdentifier").Check(CheckCredentials).Masked(),
                Field(&C::m_RemoteIdentifier, "RemoteIdentifier").Check(CheckCredentials).Masked(),
            },
            AuthRows(1, kRequired),
            ProposalRows(2, 1, kRequired),
            {List<tunnelEntry>(&C::m_Tunnels, "Tunnels", "", TunnelRows()).MayBeMissing()},
        })};
        return rows;
    }
};

// The multipoint VPN as a whole: default gateways reached through it by
// index, whether they are tracked, and whether IPsec protects it.
class TESSEL_API cDBConfigDMVPN : public cDBRecord<cDBConfigDMVPN> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigDMVPN",
                                       "DMVPNConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       3,
                                       VersionsFrom(2, 3),
                                       "DMVPNConfig",
                                       "/"};
    using GatewayMap = kora::cMap<kora::s_uint32, kora::s_socket_addr>;
    using GatewayElement = MapEntry<kora::s_uint32, kora::s_socket_addr>;

    cDBConfigDMVPN() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigDMVPN"; }

    void SetUseDefaultGateway(bool v) { m_UseDefaultGateway = v; }
    void SetTrackGateway(bool v) { m_TrackGateway = v; }
    void SetUseIpSec(bool v) { m_UseIpSec = v; }
    // Stores the dotted address under `index`; text that does not parse changes nothing.
    bool SetDefaultGatewayByIndex(kora::s_uint32 index, const std::string& text);
    // The address under `index`, or 0.0.0.0.
    kora::s_socket_addr GetDefaultGatewayByIndex(kora::s_uint32 index) const;
    void GetDefaultGatewayIndexList(std::set<unsigned>& indexes) const;
    // code 10..3600
    bool SetGatewayTrackInterval(kora::s_uint32 v) { return Set(m_GatewayTrackInterval, v); }
    // code 1..100
    bool SetGatewayTrackAttempts(kora::s_uint32 v) { return Set(m_GatewayTrackAttempts, v); }
    bool GetUseDefaultGateway() const { return m_UseDefaultGateway; }
    bool GetTrackGateway() const { return m_TrackGateway; }
    bool GetUseIpSec() const { return m_UseIpSec; }
    kora::s_uint16 GetGatewayTrackInterval() const { return m_GatewayTrackInterval; }
    kora::s_uint8 GetGatewayTrackAttempts() const { return m_GatewayTrackAttempts; }

  private:
    static const cRecordTable& GatewayRows();
    // A version 2 entry whose index is not in the scalar form of version 1
    // is dropped (its address is still read).
    static StepResult IndexOrDrop(GatewayElement& e, kora::cSerializeBuffer& b);

    kora::s_bool m_UseDefaultGateway, m_TrackGateway, m_UseIpSec;
    GatewayMap m_Gateways;
    kora::s_uint16 m_GatewayTrackInterval;
    kora::s_uint8 m_GatewayTrackAttempts;

  public:
    static const Table<cDBConfigDMVPN>& Fields() {
        using C = cDBConfigDMVPN;
        // In version 3 an index in another scalar form puts its entry under
        // index 0; entries are read step by step, as their size varies.
        static const Table<C> rows{{
            Field(&C::m_UseDefaultGateway, "UseDefaultGateway"),
            Field(&C::m_TrackGateway, "TrackGateway"),
            Field(&C::m_UseIpSec, "UseIpSec"),
            List<GatewayElement>(&C::m_Gateways, "Gateways", "Gateway", GatewayRows())
                .MayBeMissing()
                .StoredElements(2, {Custom<GatewayElement>(IndexOrDrop), "Gateway"})
                .StoredElements(3, {"Index", "Gateway"}),
            Field(&C::m_GatewayTrackInterval, "GatewayTrackInterval", 30)
                .Since(3)
                .Range(10, 3600)
                .Optional(1),
            Field(&C::m_GatewayTrackAttempts, "GatewayTrackAttempts", 3)
                .Since(3)
                .Range(1, 100)
                .Optional(1),
        }};
        return rows;
    }
};

// The IPsec profile of the multipoint VPN. Version 2 added PFS, version 3
// the certificate names; JSON without them is read.
class TESSEL_API cDBConfigDMVPNIpSec : public cDBIpSecSettings<cDBConfigDMVPNIpSec> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigDMVPNIpSec",
                                       "DMVPNIpSecConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       3,
                                       VersionsFrom(1, 3),
                                       "DMVPNIpSecConfig",
                                       "/"};
    cDBConfigDMVPNIpSec() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigDMVPNIpSec"; }

    bool SetIdentifier(const std::string& v) { return Set(m_Identifier, v); }
    const kora::s_string& GetIdentifier() const { return m_Identifier; }

  private:
    kora::s_string m_Identifier;

  public:
    static const Table<cDBConfigDMVPNIpSec>& Fields() {
        using C = cDBConfigDMVPNIpSec;
        static const Table<C> rows{Join<RowPtr>({
            LifetimeRows(),
            {Field(&C::m_Identifier, "Identifier").Check(CheckCredentials).Masked()},
            AuthRows(3, 1),
            ProposalRows(1, 2, kOwnGroup),
        })};
        return rows;
    }
};

// One network of the multipoint VPN: hub or spoke, its next hop server, GRE
// key, tunnel address and MTU. Versions 2 and 3 stored the next hop server
// as an address; it is now a host name or address text.
class TESSEL_API cDBConfigDMVPNNetwork : public cDBRecord<cDBConfigDMVPNNetwork> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigDMVPNNetwork",
                                       "DMVPNNetworkConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       5,
                                       VersionsFrom(2, 5),
                                       "",
                                       "/"};
    cDBConfigDMVPNNetwork() { SetDefault(); }
    // Name, hub mode, GRE key, next hop server, tunnel address and netmask.
    std::string ToString(const std::string&) const override;
    // "NextHopServer", "LocalAddr", "Netmask".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    void SetHubMode(bool v) { m_HubMode = v; }
    bool SetNetHopServerNBMA(const std::string& v) { return Set(m_NextHopServer, v); }
    void SetNHSProtocol(const kora::s_socket_addr& v) { m_NHSProtocol = v; }
    bool SetHoldTime(kora::s_uint32 v) { return Set(m_HoldTime, v); }
    void SetMulticast(bool v) { m_Multicast = v; }
    void SetUseCiscoAuth(bool v) { m_UseCiscoAuth = v; }
    bool SetCiscoAuthKey(const std::string& v) { return Set(m_CiscoAuthKey, v); }
    void SetGreKey(kora::s_uint32 v) { m_GreKey = v; }
    void SetLocalAddr(const kora::s_socket_addr& v) { m_LocalAddr = v; }
    void SetNetmask(const kora::s_socket_addr& v) { m_Netmask = v; }
    bool SetMTU(kora::s_uint32 v) { return Set(m_MTU, v); }  // 576..1500 bytes
    void SetDisablePurge(bool v) { m_DisablePurge = v; }
    bool GetHubMode() const { return m_HubMode; }
    const kora::s_string& GetNetHopServerNBMA() const { return m_NextHopServer; }
    const kora::s_socket_addr& GetNHSProtocol() const { return m_NHSProtocol; }
    kora::s_uint16 GetHoldTime() const { return m_HoldTime; }
    bool GetMulticast() const { return m_Multicast; }
    bool GetUseCiscoAuth() const { return m_UseCiscoAuth; }
    const kora::s_string& GetCiscoAuthKey() const { return m_CiscoAuthKey; }
    kora::s_uint32 GetGreKey() const { return m_GreKey; }
    const kora::s_socket_addr& GetLocalAddr() const { return m_LocalAddr; }
    const kora::s_socket_addr& GetNetmask() const { return m_Netmask; }
    kora::s_uint16 GetMTU() const { return m_MTU; }
    bool GetDisablePurge() const { return m_DisablePurge; }

  private:
    static std::vector<Layout> AddressLayouts();

    kora::s_bool m_HubMode;
    kora::s_string m_NextHopServer;
    kora::s_socket_addr m_NHSProtocol;
    kora::s_uint16 m_HoldTime;
    kora::s_bool m_Multicast, m_UseCiscoAuth;
    kora::s_string m_CiscoAuthKey;
    kora::s_uint32 m_GreKey;
    kora::s_socket_addr m_LocalAddr, m_Netmask;
    kora::s_uint16 m_MTU;
    kora::s_bool m_DisablePurge;

  public:
    static const Table<cDBConfigDMVPNNetwork>& Fields() {
        using C = cDBConfigDMVPNNetwork;
        static const Table<C> rows{
            {
                Field(&C::m_HubMode, "HubMode"),
                Field(&C::m_NextHopServer, "NextHopServer").Check(CheckHostname),
                Field(&C::m_NHSProtocol, "NHSProtocol").Since(3),
                Field(&C::m_HoldTime, "HoldTime", 7200),
                Field(&C::m_Multicast, "Multicast"),
                Field(&C::m_UseCiscoAuth, "UseCiscoAuth"),
                Field(&C::m_CiscoAuthKey, "CiscoAuthKey").Check(CheckCredentials).Masked(),
                Field(&C::m_GreKey, "GreKey"),
                Field(&C::m_LocalAddr, "LocalAddr"),
                Field(&C::m_Netmask, "Netmask"),
                Field(&C::m_MTU, "MTU", 1260).Range(576, 1500),
                Field(&C::m_DisablePurge, "DisablePurge").Since(5).Optional(),
            },
            AddressLayouts()};
        return rows;
    }
};

}  // namespace tessel
