// Registration of every item class with the object factory (by class name)
// and then with the JSON factory (by JSON type name), in catalogue order.
// Keeping both lists in this one unit fixes their order at load.
#include "kora/factory.h"
#include "tessel/items_certificate.h"
#include "tessel/items_device.h"
#include "tessel/items_firewall.h"
#include "tessel/items_lan.h"
#include "tessel/items_log.h"
#include "tessel/items_rule.h"
#include "tessel/items_serial.h"
#include "tessel/items_services.h"
#include "tessel/items_status.h"
#include "tessel/items_system.h"
#include "tessel/items_vpn.h"
#include "tessel/items_wan.h"
#include "tessel/jsonfactory.h"
#include "tessel/registration.h"

namespace tessel {

namespace {

std::vector<std::string>& itemClasses() {
    static std::vector<std::string> names;
    return names;
}

// Log entries and batches travel with items but have no item identity
// (kInfo); they are registered under the class name given here.
template <class T>
struct ItemRegistration : kora::RegisterObject<T> {
    explicit ItemRegistration(const char* className = T::kInfo.className) {
        itemClasses().push_back(className);
    }
};

template <class T>
struct JsonRegistration : JsonObject<T> {
    JsonRegistration() { cJsonFactory::RegisterJson(T::kInfo.type, this); }
};

}  // namespace

// Object factory, in catalogue order.
ItemRegistration<cDBDirectory> r_cDBDirectory;
ItemRegistration<cDBStatusWirelessWan> r_cDBStatusWirelessWan;
ItemRegistration<cDBStatusWiredWan> r_cDBStatusWiredWan;
ItemRegistration<cDBStatusLan> r_cDBStatusLan;
ItemRegistration<cDBStatusLanInterface> r_cDBStatusLanInterface;
ItemRegistration<cDBStatusLanPort> r_cDBStatusLanPort;
ItemRegistration<cDBStatusWan> r_cDBStatusWan;
ItemRegistration<cDBStatusConnection> r_cDBStatusConnection;
ItemRegistration<cDBStatusSoftware> r_cDBStatusSoftware;
ItemRegistration<cDBStatusHardware> r_cDBStatusHardware;
ItemRegistration<cDBStatusDataVolume> r_cDBStatusDataVolume;
ItemRegistration<cDBStatusISAKMPSA> r_cDBStatusISAKMPSA;
ItemRegistration<cDBConfigLan> r_cDBConfigLan;
ItemRegistration<cDBConfigWan> r_cDBConfigWan;
ItemRegistration<cDBConfigWanSetup> r_cDBConfigWanSetup;
ItemRegistration<cDBConfigWirelessWan> r_cDBConfigWirelessWan;
ItemRegistration<cDBConfigGsmProvider> r_cDBConfigGsmProvider;
ItemRegistration<cDBConfigWiredWan> r_cDBConfigWiredWan;
ItemRegistration<cDBConfigWebInterface> r_cDBConfigWebInterface;
ItemRegistration<cDBConfigSNMP> r_cDBConfigSNMP;
ItemRegistration<cDBConfigSSH> r_cDBConfigSSH;
ItemRegistration<cDBConfigSnapshot> r_cDBConfigSnapshot;
ItemRegistration<cDBConfigEmail> r_cDBConfigEmail;
ItemRegistration<cDBConfigDMVPN> r_cDBConfigDMVPN;
ItemRegistration<cDBConfigDMVPNIpSec> r_cDBConfigDMVPNIpSec;
ItemRegistration<cDBConfigDMVPNNetwork> r_cDBConfigDMVPNNetwork;
ItemRegistration<cDBConfigIpSecTunnel> r_cDBConfigIpSecTunnel;
ItemRegistration<cDBConfigWanRoute> r_cDBConfigWanRoute;
ItemRegistration<cDBConfigNTP> r_cDBConfigNTP;
ItemRegistration<cDBConfigRule> r_cDBConfigRule;
ItemRegistration<cDBConfigConnCheck> r_cDBConfigConnCheck;
ItemRegistration<cDBConfigRIP> r_cDBConfigRIP;
ItemRegistration<cDBConfigHosts> r_cDBConfigHosts;
ItemRegistration<cDBConfigDDNS> r_cDBConfigDDNS;
ItemRegistration<cDBConfigDataVolume> r_cDBConfigDataVolume;
ItemRegistration<cDBConfigLANInterface> r_cDBConfigLANInterface;
ItemRegistration<cDBConfigLANPort> r_cDBConfigLANPort;
ItemRegistration<cDBConfigVLAN> r_cDBConfigVLAN;
ItemRegistration<cDBConfigMacTable> r_cDBConfigMacTable;
ItemRegistration<cDBConfigSpanningTree> r_cDBConfigSpanningTree;
ItemRegistration<cDBConfigTrafficPriority> r_cDBConfigTrafficPriority;
ItemRegistration<cDBConfigTrafficPriorityRule> r_cDBConfigTrafficPriorityRule;
ItemRegistration<cDBConfigPacketFilter> r_cDBConfigPacketFilter;
ItemRegistration<cDBConfigFilterRule> r_cDBConfigFilterRule;
ItemRegistration<cDBConfigRemoteAccessRule> r_cDBConfigRemoteAccessRule;
ItemRegistration<cDBConfigPortForwardRule> r_cDBConfigPortForwardRule;
ItemRegistration<cDBConfigPortForwarding> r_cDBConfigPortForwarding;
ItemRegistration<cDBCertificate> r_cDBCertificate;
ItemRegistration<cDBStatusPrivateKey> r_cDBStatusPrivateKey;
ItemRegistration<cDBConfigCSRTemplate> r_cDBConfigCSRTemplate;
ItemRegistration<cDBConfigRS232Compact> r_cDBConfigRS232Compact;
ItemRegistration<cDBConfigRS485> r_cDBConfigRS485;
ItemRegistration<cDBConfigRS232> r_cDBConfigRS232;
ItemRegistration<cDBLogUnit> r_cDBLogUnit;
ItemRegistration<cDBFeatureList> r_cDBFeatureList;
ItemRegistration<cDBConfigAccess> r_cDBConfigAccess;
ItemRegistration<cDBConfigTacacs> r_cDBConfigTacacs;
ItemRegistration<cDBConfigRadius> r_cDBConfigRadius;
ItemRegistration<cDBLogItem> r_cDBLogItem("cDBLogItem");
ItemRegistration<cDBLogResult> r_cDBLogResult("cDBLogResult");
ItemRegistration<cDBUser> r_cDBUser;

// JSON factory, after all of the above; log entries and batches are not in it.
JsonRegistration<cDBDirectory> j_cDBDirectory;
JsonRegistration<cDBStatusWirelessWan> j_cDBStatusWirelessWan;
JsonRegistration<cDBStatusWiredWan> j_cDBStatusWiredWan;
JsonRegistration<cDBStatusLan> j_cDBStatusLan;
JsonRegistration<cDBStatusLanInterface> j_cDBStatusLanInterface;
JsonRegistration<cDBStatusLanPort> j_cDBStatusLanPort;
JsonRegistration<cDBStatusWan> j_cDBStatusWan;
JsonRegistration<cDBStatusConnection> j_cDBStatusConnection;
JsonRegistration<cDBStatusSoftware> j_cDBStatusSoftware;
JsonRegistration<cDBStatusHardware> j_cDBStatusHardware;
JsonRegistration<cDBStatusDataVolume> j_cDBStatusDataVolume;
JsonRegistration<cDBStatusISAKMPSA> j_cDBStatusISAKMPSA;
JsonRegistration<cDBConfigLan> j_cDBConfigLan;
JsonRegistration<cDBConfigWan> j_cDBConfigWan;
JsonRegistration<cDBConfigWanSetup> j_cDBConfigWanSetup;
JsonRegistration<cDBConfigWirelessWan> j_cDBConfigWirelessWan;
JsonRegistration<cDBConfigGsmProvider> j_cDBConfigGsmProvider;
JsonRegistration<cDBConfigWiredWan> j_cDBConfigWiredWan;
JsonRegistration<cDBConfigWebInterface> j_cDBConfigWebInterface;
JsonRegistration<cDBConfigSNMP> j_cDBConfigSNMP;
JsonRegistration<cDBConfigSSH> j_cDBConfigSSH;
JsonRegistration<cDBConfigSnapshot> j_cDBConfigSnapshot;
JsonRegistration<cDBConfigEmail> j_cDBConfigEmail;
JsonRegistration<cDBConfigDMVPN> j_cDBConfigDMVPN;
JsonRegistration<cDBConfigDMVPNIpSec> j_cDBConfigDMVPNIpSec;
JsonRegistration<cDBConfigDMVPNNetwork> j_cDBConfigDMVPNNetwork;
JsonRegistration<cDBConfigIpSecTunnel> j_cDBConfigIpSecTunnel;
JsonRegistration<cDBConfigWanRoute> j_cDBConfigWanRoute;
JsonRegistration<cDBConfigNTP> j_cDBConfigNTP;
JsonRegistration<cDBConfigRule> j_cDBConfigRule;
JsonRegistration<cDBConfigConnCheck> j_cDBConfigConnCheck;
JsonRegistration<cDBConfigRIP> j_cDBConfigRIP;
JsonRegistration<cDBConfigHosts> j_cDBConfigHosts;
JsonRegistration<cDBConfigDDNS> j_cDBConfigDDNS;
JsonRegistration<cDBConfigDataVolume> j_cDBConfigDataVolume;
JsonRegistration<cDBConfigLANInterface> j_cDBConfigLANInterface;
JsonRegistration<cDBConfigLANPort> j_cDBConfigLANPort;
JsonRegistration<cDBConfigVLAN> j_cDBConfigVLAN;
JsonRegistration<cDBConfigMacTable> j_cDBConfigMacTable;
JsonRegistration<cDBConfigSpanningTree> j_cDBConfigSpanningTree;
JsonRegistration<cDBConfigTrafficPriority> j_cDBConfigTrafficPriority;
JsonRegistration<cDBConfigTrafficPriorityRule> j_cDBConfigTrafficPriorityRule;
JsonRegistration<cDBConfigPacketFilter> j_cDBConfigPacketFilter;
JsonRegistration<cDBConfigFilterRule> j_cDBConfigFilterRule;
JsonRegistration<cDBConfigRemoteAccessRule> j_cDBConfigRemoteAccessRule;
JsonRegistration<cDBConfigPortForwardRule> j_cDBConfigPortForwardRule;
JsonRegistration<cDBConfigPortForwarding> j_cDBConfigPortForwarding;
JsonRegistration<cDBCertificate> j_cDBCertificate;
JsonRegistration<cDBStatusPrivateKey> j_cDBStatusPrivateKey;
JsonRegistration<cDBConfigCSRTemplate> j_cDBConfigCSRTemplate;
JsonRegistration<cDBConfigRS232Compact> j_cDBConfigRS232Compact;
JsonRegistration<cDBConfigRS485> j_cDBConfigRS485;
JsonRegistration<cDBConfigRS232> j_cDBConfigRS232;
JsonRegistration<cDBLogUnit> j_cDBLogUnit;
JsonRegistration<cDBFeatureList> j_cDBFeatureList;
JsonRegistration<cDBConfigAccess> j_cDBConfigAccess;
JsonRegistration<cDBConfigTacacs> j_cDBConfigTacacs;
JsonRegistration<cDBConfigRadius> j_cDBConfigRadius;
JsonRegistration<cDBUser> j_cDBUser;

const std::vector<std::string>& RegisteredItemClasses() {
    return itemClasses();
}

}  // namespace tessel
