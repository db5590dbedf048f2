#include "tessel/items_status.h"

#include "kora/helper.h"

namespace tessel {

namespace {
const char* Bool(bool v) {
    return v ? "true" : "false";
}
std::string Ip(const kora::s_socket_addr& a) {
    return a.GetIPString();
}
}  // namespace

std::string cDBStatusHardware::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBStatusHardware:HardwareVersion:%s, HardwareID:%s, SerialNumber:%s, ProductionDate:%s",
        m_HardwareVersion.c_str(), m_HardwareID.c_str(), m_SerialNumber.c_str(),
        m_ProductionDate.c_str());
}

std::string cDBStatusSoftware::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBStatusSoftware:FirmwareVersion:%s, OSVersion:%s, KernelRelease:%s, KernelVersion:%s",
        m_FirmwareVersion.c_str(), m_OSVersion.c_str(), m_KernelRelease.c_str(),
        m_KernelVersion.c_str());
}

std::string cDBStatusWan::ToString(const std::string&) const {
    return kora::FormatString("cDBStatusWan:ActiveWanTechnology:%i, WanSetup:%s",
                              int(m_ActiveWanTechnology), m_WanSetup.c_str());
}

bool cDBStatusDataVolume::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("DataVolume", kora::FormatString("%u", unsigned(m_DataVolume)));
    return true;
}

bool cDBStatusISAKMPSA::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("SAType", kora::FormatString("%u", unsigned(m_SAType)));
    info.SetAt("Connected", Bool(m_Connected));
    info.SetAt("ConnectionTime",
               kora::FormatString("%u", static_cast<unsigned>(m_ConnectionTime.ToSeconds())));
    info.SetAt("RemoteID", m_RemoteID);
    return true;
}

std::string cDBStatusWiredWan::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBStatusWiredWan:NetworkConnected:%s, Online:%s, IP:%s, Netmask:%s, Gateway:%s, "
        "DNS1:%s, DNS2:%s, DNS3:%s, MTU:%u",
        Bool(m_NetworkConnected), Bool(m_Online), Ip(m_IP).c_str(), Ip(m_Netmask).c_str(),
        Ip(m_Gateway).c_str(), Ip(m_DNS1).c_str(), Ip(m_DNS2).c_str(), Ip(m_DNS3).c_str(),
        unsigned(m_MTU));
}

std::string cDBStatusWirelessWan::ToString(const std::string&) const {
    return kora::FormatString(
        "cDBStatusWirelessWan:MobileTechnology:%i, NetworkConnected:%s, Online:%s, CSQ:%i, "
        "CellID:%s, IMEI:%s, IMSI:%s, ICCID:%s, IP:%s, DNS1:%s, DNS2:%s, DNS3:%s, "
        "ModuleFirmware:%s, ModuleType:%s",
        int(m_MobileTechnology), Bool(m_NetworkConnected), Bool(m_Online), int(m_CSQ),
        m_CellID.c_str(), m_IMEI.c_str(), m_IMSI.c_str(), m_ICCID.c_str(), Ip(m_IP).c_str(),
        Ip(m_DNS1).c_str(), Ip(m_DNS2).c_str(), Ip(m_DNS3).c_str(), m_ModuleFirmware.c_str(),
        m_ModuleType.c_str());
}

bool cDBStatusLanInterface::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("BystesReceived",
               kora::FormatString("%llu", static_cast<unsigned long long>(m_BytesReceived)));
    info.SetAt("BystesSent",
               kora::FormatString("%llu", static_cast<unsigned long long>(m_BytesSent)));
    info.SetAt("IP", Ip(m_IP));
    info.SetAt("Netmask", Ip(m_Netmask));
    return true;
}

bool cDBStatusLanPort::GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) {
    info.clear();
    info.SetAt("Link", Bool(m_Link));
    info.SetAt("Mode", kora::FormatString("%u", unsigned(m_Mode)));
    return true;
}

}  // namespace tessel
