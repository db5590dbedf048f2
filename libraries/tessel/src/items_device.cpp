#include "tessel/items_device.h"

#include "kora/helper.h"

namespace tessel {

const FieldTable<cDBConfigAccess>& cDBConfigAccess::Fields() {
    using C = cDBConfigAccess;
    // Levels 0..2; the status classes can only be seen, never changed.
    static const FieldTable<C> rows = {
        Field(&C::m_WanStatus, "AccessWanStatus", 0).Range(0, 1),
        Field(&C::m_WanConfig, "AccessWanConfig", 0).Range(0, 2),
        Field(&C::m_LanStatus, "AccessLanStatus", 0).Range(0, 1),
        Field(&C::m_LanConfig, "AccessLanConfig", 0).Range(0, 2),
        Field(&C::m_FirewallConfig, "AccessFirewallConfig", 0).Range(0, 2),
        Field(&C::m_Logbook, "AccessLogbook", 0).Range(0, 2),
        Field(&C::m_SystemStatus, "AccessSystemStatus", 0).Range(0, 1),
        Field(&C::m_WebInterfaceConfig, "AccessWebInterfaceConfig", 0).Range(0, 2),
        Field(&C::m_Reboot, "AccessReboot", 0).Range(0, 2),
        Field(&C::m_DateTime, "AccessDateTime", 0).Range(0, 2),
        Field(&C::m_Update, "AccessUpdate", 0).Range(0, 2),
        Field(&C::m_DeviceManagement, "AccessDeviceManagement", 0).Range(0, 2),
        Field(&C::m_Certificates, "AccessCertificates", 0).Since(2).Range(0, 2).Optional(),
        Field(&C::m_Tools, "AccessTools", 0).Since(3).Range(0, 2).Optional(),
        Field(&C::m_UART, "AccessUART", 0).Since(4).Range(0, 2).Optional(),
    };
    return rows;
}

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

const FieldTable<cDBConfigWebInterface>& cDBConfigWebInterface::Fields() {
    using C = cDBConfigWebInterface;
    // "Language" is the only required member and is read first; a refused
    // language ends the read, so "HTTPSPort" is then not looked at.
    static const FieldTable<C> rows = {
        Field(&C::m_Language, "Language", 0).Range(0, 1),
        Field(&C::m_HTTPSPort, "HTTPSPort", 443).Since(2).Check(IsFreeServicePort).Optional(),
    };
    return rows;
}

std::string cDBConfigWebInterface::ToString(const std::string&) const {
    return kora::FormatString("cDBConfigWebInterface:Language:%u;HTTPSPort:%u",
                              unsigned(m_Language), unsigned(m_HTTPSPort));
}

const FieldTable<cDBConfigSSH>& cDBConfigSSH::Fields() {
    using C = cDBConfigSSH;
    static const FieldTable<C> rows = {
        Field(&C::m_Enabled, "Enabled", false),
    };
    return rows;
}

const FieldTable<cDBConfigSNMP>& cDBConfigSNMP::Fields() {
    using C = cDBConfigSNMP;
    static const FieldTable<C> rows = {
        Field(&C::m_Enabled, "Enabled", false),
        Field(&C::m_Port, "Port", 161).Check(IsFreeServicePort),
    };
    return rows;
}

// Every field arrived with version 2, the only version read.
const FieldTable<cDBConfigEmail>& cDBConfigEmail::Fields() {
    using C = cDBConfigEmail;
    static const FieldTable<C> rows = {
        Field(&C::m_Enabled, "Enabled", false).Since(2),
        Field(&C::m_MailServer, "MailServer", "").Since(2).Check(CheckHostname),
        Field(&C::m_TcpPort, "TcpPort", 465).Since(2).Range(1, 65535),
        Field(&C::m_AuthUser, "AuthUser", "").Since(2).Check(CheckCredentials).Masked(),
        Field(&C::m_AuthPass, "AuthPass", "").Since(2).Check(CheckCredentials).Masked(),
        Field(&C::m_UseStartTLS, "UseStartTLS", true).Since(2),
        Field(&C::m_UseTLS, "UseTLS", true).Since(2),
        Field(&C::m_SenderName, "SenderName", "").Since(2).Check(CheckShellString),
    };
    return rows;
}

const FieldTable<cDBConfigSnapshot>& cDBConfigSnapshot::Fields() {
    using C = cDBConfigSnapshot;
    static const FieldTable<C> rows = {
        Field(&C::m_Enabled, "Enabled", false).Since(2),
        Field(&C::m_ReceiverEmail, "ReceiverEmail", "").Since(2).Check(CheckEmailAddr),
    };
    return rows;
}

const FieldTable<cDBConfigNTP>& cDBConfigNTP::Fields() {
    using C = cDBConfigNTP;
    static const FieldTable<C> rows = {
        Field(&C::m_Enabled, "Enabled", false),
        Field(&C::m_ServerEnabled, "ServerEnabled", false),
        Field(&C::m_Server1, "Server1", "").Check(CheckHostname),
        Field(&C::m_Server2, "Server2", "").Check(CheckHostname),
        Field(&C::m_Server3, "Server3", "").Check(CheckHostname),
        Field(&C::m_PollingInterval, "PollingInterval", 12).Range(4, 17),
    };
    return rows;
}

const FieldTable<cDBConfigRadius>& cDBConfigRadius::Fields() {
    using C = cDBConfigRadius;
    // "AccessLevel" arrived with version 2 but is required in JSON.
    static const FieldTable<C> rows = {
        Field(&C::m_Enabled, "Enabled", false),
        Field(&C::m_Host1, "Host1", "").Check(CheckHostname).Masked(),
        Field(&C::m_Port1, "Port1", 1812).Range(1, 65535),
        Field(&C::m_Secret1, "Secret1", "").Check(CheckCredentials).Masked(),
        Field(&C::m_Secondary, "Secondary", false),
        Field(&C::m_Host2, "Host2", "").Check(CheckHostname).Masked(),
        Field(&C::m_Port2, "Port2", 1812).Range(1, 65535),
        Field(&C::m_Secret2, "Secret2", "").Check(CheckCredentials).Masked(),
        Field(&C::m_AccessLevel, "AccessLevel", 2).Since(2).Range(1, 3),
    };
    return rows;
}

namespace {
// Authentication servers list the switch, then hosts and secrets, then the rest.
template <class Owner>
void WriteServerJson(const Owner& item, Json::Value& data, bool mask) {
    static const char* const kFirst[] = {"Enabled", "Host1", "Secret1", "Host2", "Secret2"};
    for (const char* key : kFirst)
        for (const auto& row : Owner::Fields())
            if (std::string(row.key) == key) data[key] = row.ops->ToJson(item, mask);
    for (const auto& row : Owner::Fields())
        if (!data.isMember(row.key)) data[row.key] = row.ops->ToJson(item, mask);
}
}  // namespace

void cDBConfigRadius::DataToJSON(Json::Value& data, bool mask) const {
    WriteServerJson(*this, data, mask);
}

const FieldTable<cDBConfigTacacs>& cDBConfigTacacs::Fields() {
    using C = cDBConfigTacacs;
    static const FieldTable<C> rows = {
        Field(&C::m_Enabled, "Enabled", false),
        Field(&C::m_Host1, "Host1", "").Check(CheckHostname).Masked(),
        Field(&C::m_Port1, "Port1", 49).Range(1, 65535),
        Field(&C::m_Secret1, "Secret1", "").Check(CheckCredentials).Masked(),
        Field(&C::m_AuthService1, "AuthService1", 0).Range(0, 2),
        Field(&C::m_Secondary, "Secondary", false),
        Field(&C::m_Host2, "Host2", "").Check(CheckHostname).Masked(),
        Field(&C::m_Port2, "Port2", 49).Range(1, 65535),
        Field(&C::m_Secret2, "Secret2", "").Check(CheckCredentials).Masked(),
        Field(&C::m_AuthService2, "AuthService2", 0).Range(0, 2),
        Field(&C::m_UserPrivLevel, "UserPrivLevel", 7).Range(1, 15),
        Field(&C::m_AdminPrivLevel, "AdminPrivLevel", 15).Range(1, 15),
    };
    return rows;
}

void cDBConfigTacacs::DataToJSON(Json::Value& data, bool mask) const {
    WriteServerJson(*this, data, mask);
}

}  // namespace tessel
