#include "tessel/items_device.h"

#include "kora/helper.h"

namespace tessel {

// Which field of the access item grants which access class.
struct AccessField {
    const char* accessClass;
    kora::s_uint8 cDBConfigAccess::*level;
};

const AccessField* cDBConfigAccess::FieldFor(const std::string& accessClass) {
    static const AccessField map[] = {
        {ACCESS_CLASS_WAN_STATUS, &cDBConfigAccess::m_WanStatus},
        {ACCESS_CLASS_WAN_CONFIG, &cDBConfigAccess::m_WanConfig},
        {ACCESS_CLASS_LAN_STATUS, &cDBConfigAccess::m_LanStatus},
        {ACCESS_CLASS_LAN_CONFIG, &cDBConfigAccess::m_LanConfig},
        {ACCESS_CLASS_FIREWALL_CONFIG, &cDBConfigAccess::m_FirewallConfig},
        {ACCESS_CLASS_LOGBOOK, &cDBConfigAccess::m_Logbook},
        {ACCESS_CLASS_SYSTEM_STATUS, &cDBConfigAccess::m_SystemStatus},
        {ACCESS_CLASS_WEB_INTERFACE_CONFIG, &cDBConfigAccess::m_WebInterfaceConfig},
        {ACCESS_CLASS_REBOOT, &cDBConfigAccess::m_Reboot},
        {ACCESS_CLASS_DATETIME, &cDBConfigAccess::m_DateTime},
        {ACCESS_CLASS_FIRMWARE_UPDATE, &cDBConfigAccess::m_Update},
        {ACCESS_CLASS_DEVICE_MANAGEMENT_CONFIG, &cDBConfigAccess::m_DeviceManagement},
        {ACCESS_CLASS_CERTIFICATES, &cDBConfigAccess::m_Certificates},
        {ACCESS_CLASS_TOOLS, &cDBConfigAccess::m_Tools},
        {ACCESS_CLASS_UART, &cDBConfigAccess::m_UART},
    };
    for (const auto& m : map)
        if (accessClass == m.accessClass) return &m;
    return nullptr;
}

bool cDBConfigAccess::Configures(const std::string& accessClass) {
    return FieldFor(accessClass) != nullptr;
}

unsigned cDBConfigAccess::GetLevel(const std::string& accessClass) const {
    const AccessField* field = FieldFor(accessClass);
    return field ? (this->*(field->level)).Value() : 0;
}

std::string cDBConfigWebInterface::ToString(const std::string&) const {
    return kora::FormatString("cDBConfigWebInterface:Language:%u;HTTPSPort:%u",
                              unsigned(m_Language), unsigned(m_HTTPSPort));
}

// Every field arrived with version 2, the only version read.
}  // namespace tessel
