// The collections a service process follows, one per part of the
// configuration or status: each is its slots (see collection.h), its default
// path and its text form. The default path is the directory of its items, so
// that the collection follows their changes; another may be given to the
// constructor. Read the committed copies through Get<T>(), GetAll<T>(),
// Find<T>(name), GetRanked<T>() and ForEachRanked<T>(fn), or Get(name) in
// the fixed-name collections.
//
// Items whose classes place them in the root directory by default are kept
// by the data server in the directories these collections follow; see
// ItemHome() in collections_catalogue.h.
#pragma once

#include <string>

#include "tessel/collection.h"
#include "tessel/items_certificate.h"
#include "tessel/items_device.h"
#include "tessel/items_firewall.h"
#include "tessel/items_lan.h"
#include "tessel/items_rule.h"
#include "tessel/items_serial.h"
#include "tessel/items_services.h"
#include "tessel/items_status.h"
#include "tessel/items_system.h"
#include "tessel/items_vpn.h"
#include "tessel/items_wan.h"

namespace tessel {

// A collection of fixed-name items of class T: Get(name) reads one slot.
template <class Derived, class T, class Names>
class cNamedCollection : public cSlotCollection<Derived, NamedSlot<T, Names>> {
  public:
    using cSlotCollection<Derived, NamedSlot<T, Names>>::cSlotCollection;
    // The committed item of a fixed name, or null for another name.
    const T* Get(const std::string& name) const { return std::get<0>(this->m_slots).Find(name); }
};

// ---- Single items ----

#define TESSEL_SLOTS(Name, Path, Text, ...)                             \
    class TESSEL_API Name : public cSlotCollection<Name, __VA_ARGS__> { \
      public:                                                           \
        static constexpr const char* kPath = Path;                      \
        static constexpr const char* kText = Text;                      \
        using cSlotCollection::cSlotCollection;                         \
    }

TESSEL_SLOTS(cDBRS232UARTCollection, "/Config/UART/", "cDBRS232UARTCollection",
             SingleSlot<cDBConfigRS232>);
TESSEL_SLOTS(cDBWebInterfaceCollection, "/Config/System/WebInterface/",
             "cDBWebInterfaceCollection:WebInterfaceConfig:%s", SingleSlot<cDBConfigWebInterface>);
TESSEL_SLOTS(cDBEmailCollection, "/Config/System/DeviceManagement/Email/",
             "cDBEmailCollection:EmailConfig:%s", SingleSlot<cDBConfigEmail>);
TESSEL_SLOTS(cDBSnapshotCollection, "/Config/System/DeviceManagement/Snapshot/",
             "cDBSnapshotCollection:SnapshotConfig:%s", SingleSlot<cDBConfigSnapshot>);
TESSEL_SLOTS(cDBSSHCollection, "/Config/System/DeviceManagement/SSH/",
             "cDBSSHCollection:SSHConfig:%s", SingleSlot<cDBConfigSSH>);
TESSEL_SLOTS(cDBSNMPCollection, "/Config/System/DeviceManagement/SNMP/",
             "cDBSNMPCollection:SNMPConfig:%s", SingleSlot<cDBConfigSNMP>);
TESSEL_SLOTS(cDBSpanningTreeCollection, "/Config/Network/SpanningTree/",
             "cDBSpanningTreeCollection", SingleSlot<cDBConfigSpanningTree>);
TESSEL_SLOTS(cDBDDNSConfigCollection, "/Config/Network/DDNS/",
             "cDBDDNSConfigCollection:DDNSConfig:%s", SingleSlot<cDBConfigDDNS>);
TESSEL_SLOTS(cDBRIPConfigCollection, "/Config/Network/RIP/", "cDBRIPConfigCollection:RIPConfig:%s",
             SingleSlot<cDBConfigRIP>);
TESSEL_SLOTS(cDBConnCheckConfigCollection, "/Config/Network/ConnectionCheck/",
             "cDBConnCheckConfigCollection:ConnCheckConfig:%s", SingleSlot<cDBConfigConnCheck>);
TESSEL_SLOTS(cDBNTPConfigCollection, "/Config/System/NTP/", "cDBNTPConfigCollection:NTPConfig:%s",
             SingleSlot<cDBConfigNTP>);
TESSEL_SLOTS(cDBWanSetupConfigCollection, "/Config/Network/WanSetups/",
             "cDBWanSetupConfigCollection:WanSetupConfig:%s", SingleSlot<cDBConfigWanSetup>);
TESSEL_SLOTS(cDBHostsConfigCollection, "/Config/Network/Hosts/",
             "cDBHostsConfigCollection:HostsConfig:%s", SingleSlot<cDBConfigHosts>);
TESSEL_SLOTS(cDBFirewallConfigCollection, "/Config/Network/Firewall/",
             "cDBFirewallConfigCollection", SingleSlot<cDBConfigMacTable>);
TESSEL_SLOTS(cDBWiredWanConfigCollection, "/Config/Network/WiredWan/",
             "cDBWiredWanConfigCollection:WiredWanConfig:%s", SingleSlot<cDBConfigWiredWan>);

// ---- Several slots: composites, headers with keyed or ranked maps ----

TESSEL_SLOTS(cDBCombinedUARTCollection, "/Config/UART/", "cDBCombinedUARTCollection",
             SingleSlot<cDBConfigRS232Compact>, SingleSlot<cDBConfigRS485>);
TESSEL_SLOTS(cDBNetworkConfigCollection, "/Config/Network/",
             "cDBNetworkConfigCollection:WanConfig:%s, LanConfig:%s", SingleSlot<cDBConfigWan>,
             SingleSlot<cDBConfigLan>);
TESSEL_SLOTS(cDBSystemStatusCollection, "/Status/System/",
             "cDBSystemStatusCollection:SoftwareStatus:%s, HardwareStatus:%s",
             SingleSlot<cDBStatusSoftware>, SingleSlot<cDBStatusHardware>);
TESSEL_SLOTS(cDBNetworkStatusCollection, "/Status/Network/",
             "cDBNetworkStatusCollection:WirelessWanStatus:%s, WiredWanStatus:%s, WanStatus:%s, "
             "ConnectionStatus:%s, LanStatus:%s",
             SingleSlot<cDBStatusWirelessWan>, SingleSlot<cDBStatusWiredWan>,
             SingleSlot<cDBStatusWan>, SingleSlot<cDBStatusConnection>, SingleSlot<cDBStatusLan>);

// Keyed maps by item name.
TESSEL_SLOTS(cDBUsersCollection, "/Users/", "cDBUsersCollection", MapSlot<cDBUser>);
TESSEL_SLOTS(cCSRTemplateCollection, "/Config/Certificates/CSRTemplates/", "cCSRTemplateCollection",
             MapSlot<cDBConfigCSRTemplate>);
// Certificates of the authorities the device trusts, and of remote peers.
TESSEL_SLOTS(cDBCACertificateCollection, "/Config/Certificates/CACertificates/",
             "cDBCACertificateCollection", MapSlot<cDBCertificate>);
TESSEL_SLOTS(cDBRemoteCertificateCollection, "/Config/Certificates/RemoteCertificates/",
             "cDBRemoteCertificateCollection", MapSlot<cDBCertificate>);
TESSEL_SLOTS(cDBLANInterfaceCollection, "/Config/Network/LANInterfaces/",
             "cDBLANInterfaceCollection", MapSlot<cDBConfigLANInterface>);
TESSEL_SLOTS(cDBLANInterfaceStatusCollection, "/Status/Network/LANInterfaces/",
             "cDBLANInterfaceStatusCollection:", MapSlot<cDBStatusLanInterface>);
TESSEL_SLOTS(cDBWanRoutingCollection, "/Config/Network/WanRoutes/", "cDBWanRoutingCollection",
             MapSlot<cDBConfigWanRoute>);
TESSEL_SLOTS(cDBIpSecTunnelCollection, "/Config/Network/VPN/IPsec/", "cDBIpSecTunnelCollection",
             MapSlot<cDBConfigIpSecTunnel>);
TESSEL_SLOTS(cDBWanRuleCollection, "/Config/Rules/", "cDBWanRuleCollection",
             MapSlot<cDBConfigRule>);

// A header item (or two) and a keyed map.
TESSEL_SLOTS(cDBWirelessWanConfigCollection, "/Config/Network/WirelessWan/",
             "cDBWirelessWanConfigCollection:WirelessWanConfig:%s",
             SingleSlot<cDBConfigWirelessWan>, MapSlot<cDBConfigGsmProvider>);
// The device's key pair and its own certificates.
TESSEL_SLOTS(cDBDeviceCertificateCollection, "/Status/Certificates/DeviceCertificates/",
             "cDBDeviceCertificateCollection", SingleSlot<cDBStatusPrivateKey>,
             MapSlot<cDBCertificate>);
TESSEL_SLOTS(cDBDMVPNConfigCollection, "/Config/Network/VPN/DMVPN/",
             "cDBDMVPNConfigCollection:DMVPNConfig:%s", SingleSlot<cDBConfigDMVPN>,
             SingleSlot<cDBConfigDMVPNIpSec>, MapSlot<cDBConfigDMVPNNetwork>);

// Rules ranked, then by name, with or without a header item.
TESSEL_SLOTS(cDBRemoteAccessCollection, "/Config/Network/Firewall/RemoteAccess/",
             "cDBRemoteAccessCollection", RankedSlot<cDBConfigRemoteAccessRule>);
TESSEL_SLOTS(cDBPortForwardCollection, "/Config/Network/Firewall/PortForwarding/",
             "cDBPortForwardCollection", SingleSlot<cDBConfigPortForwarding>,
             RankedSlot<cDBConfigPortForwardRule>);
TESSEL_SLOTS(cDBPacketFilterCollection, "/Config/Network/Firewall/PacketFilter/",
             "cDBPacketFilterCollection", SingleSlot<cDBConfigPacketFilter>,
             RankedSlot<cDBConfigFilterRule>);
TESSEL_SLOTS(cDBTrafficPriorityCollection, "/Config/Network/Firewall/TrafficPriority/",
             "cDBTrafficPriorityCollection:TrafficPriorityConfig:%s",
             SingleSlot<cDBConfigTrafficPriority>, RankedSlot<cDBConfigTrafficPriorityRule>);

#undef TESSEL_SLOTS

// ---- Fixed names ----

struct TESSEL_API LanPortNames {
    static constexpr const char* kNames[] = {"Port1", "Port2", "Port3", "Port4", "Port5"};
};
struct TESSEL_API VolumeConfigNames {
    static constexpr const char* kNames[] = {"WiredWanVolumeConfig", "Sim1VolumeConfig",
                                             "Sim2VolumeConfig"};
};
struct TESSEL_API VolumeStatusNames {
    static constexpr const char* kNames[] = {"WiredWanVolumeStatus", "Sim1VolumeStatus",
                                             "Sim2VolumeStatus"};
};

#define TESSEL_NAMED(Name, Item, Names, Path)                            \
    class TESSEL_API Name : public cNamedCollection<Name, Item, Names> { \
      public:                                                            \
        static constexpr const char* kPath = Path;                       \
        static constexpr const char* kText = #Name;                      \
        using cNamedCollection::cNamedCollection;                        \
    }

TESSEL_NAMED(cDBLANPortCollection, cDBConfigLANPort, LanPortNames, "/Config/Network/LANPorts/");
TESSEL_NAMED(cDBLANPortStatusCollection, cDBStatusLanPort, LanPortNames,
             "/Status/Network/LANPorts/");
TESSEL_NAMED(cDBDataVolumeConfigColletion, cDBConfigDataVolume, VolumeConfigNames,
             "/Config/Network/WanDataVolume/");
TESSEL_NAMED(cDBDataVolumeStatusColletion, cDBStatusDataVolume, VolumeStatusNames,
             "/Status/Network/WanDataVolume/");

#undef TESSEL_NAMED

}  // namespace tessel
