#include "tessel/items_wan.h"

#include "kora/helper.h"
#include "tessel/items_system.h"

namespace tessel {

namespace {
const char* Text(bool v) {
    return v ? "true" : "false";
}
}  // namespace

std::string cDBConfigWan::ToString(const std::string&) const {
    return kora::FormatString("cDBConfigWan:StartUpWanSetup:%s", m_StartUpWanSetup.c_str());
}

void cDBConfigWan::GetLinks(std::set<std::string>& paths) {
    if (HasLinks()) paths.insert(kora::FormatString("%s%s", kSetupDir, m_StartUpWanSetup.c_str()));
}

kora::s_string cDBConfigWanSetup::GetWanModeString() const {
    switch (m_WanMode) {
        case 1:
            return "cellular";
        case 2:
            return "DSL/cable";
        case 3:
            return "DSL/cable and cellular";
        case 4:
            return "cellular and DSL/cable";
        default:
            return "";
    }
}

std::string cDBConfigWanSetup::ToString(const std::string&) const {
    return kora::FormatString("cDBConfigWanSetup: WanMode:%u", unsigned(m_WanMode));
}

std::string cDBConfigWiredWan::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBConfigWiredWan:Mode:%u, IP:%s, Gateway:%s, Subnet:%s, DNS1:%s, DNS2:%s, DNS3:%s, "
        "MTU:%u, Username:%s, Password:%s",
        unsigned(m_Mode), m_IP.GetIPString().c_str(), m_Gateway.GetIPString().c_str(),
        m_Subnet.GetIPString().c_str(), m_DNS1.GetIPString().c_str(), m_DNS2.GetIPString().c_str(),
        m_DNS3.GetIPString().c_str(), unsigned(GetMTU()), ObfuscateString(m_Username).c_str(),
        ObfuscateString(m_Password).c_str());
}

bool cDBConfigWirelessWan::IsNetMode(uint64_t mode) {
    return mode <= (cDBFeatureList::HasFeature("Wireless4G") ? 3u : 2u);
}

std::string cDBConfigWirelessWan::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBConfigWirelessWan:SimSlot:%u, NetMode:%u, OperatorSelectionMode:%u, MobilePin:%s, "
        "MobileData:%s, RoamingEnabled:%s",
        unsigned(m_SimSlot), unsigned(m_NetMode), unsigned(m_OperatorSelectionMode),
        ObfuscateString(m_MobilePin).c_str(), Text(m_MobileData), Text(m_RoamingAllowed));
}

std::string cDBConfigGsmProvider::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBConfigGsmProvider:NetID:%s, APN:%s, Username:%s, Password:%s, AuthMode:%u, DNS1:%s, "
        "DNS2:%s, DNS3:%s",
        m_NetID.c_str(), GetAPN().c_str(), ObfuscateString(GetUsername()).c_str(),
        ObfuscateString(GetPassword()).c_str(), unsigned(GetAuthMode()),
        GetDNS1().GetIPString().c_str(), GetDNS2().GetIPString().c_str(),
        GetDNS3().GetIPString().c_str());
}

bool cDBConfigGsmProvider::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("NetID", m_NetID);
    return true;
}

namespace {
std::string RouteTypeText(unsigned type) {
    switch (type) {
        case 1:
            return "Route over Wired GW";
        case 2:
            return "Route over Wireless GW";
        case 3:
            return "Route over VPN GW";
        case 4:
            return "Route over IP GW";
        default:
            return kora::FormatString("UNKNOWN(%d)", int(type));
    }
}
}  // namespace

std::string cDBConfigWanRoute::ToString(const std::string&) const {
    return kora::FormatString("cDBConfigWanRoute:Network:%s, Netmask:%s, Gateway:%s, Type:%s",
                              m_Network.GetIPString().c_str(), m_Netmask.GetIPString().c_str(),
                              m_Gateway.GetIPString().c_str(), RouteTypeText(m_RouteType).c_str());
}

bool cDBConfigWanRoute::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("Network", m_Network.GetIPString());
    info.SetAt("Netmask", m_Netmask.GetIPString());
    info.SetAt("Gateway", m_Gateway.GetIPString());
    info.SetAt("RouteType", kora::FormatString("%u", unsigned(m_RouteType)));
    return true;
}

}  // namespace tessel
