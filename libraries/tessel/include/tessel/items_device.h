// Device-management configuration: who may see and change what, the web
// interface, SSH, SNMP, e-mail, configuration snapshots, time synchronisation
// and the RADIUS and TACACS+ authentication servers.
#pragma once

#include "tessel/record.h"

namespace tessel {

struct AccessField;

// The level a privilege level is granted on each access class. Two exist,
// "GuestAccessConfig" and "UserAccessConfig"; the status classes only take 0 or 1.
class TESSEL_API cDBConfigAccess : public cDBRecord<cDBConfigAccess> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigAccess",       "AccessConfigObject",
                                       ACCESS_CLASS_ADMIN_ONLY, 4,
                                       VersionsFrom(1, 4),      "",
                                       "/Config/System/Access/"};
    cDBConfigAccess() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigAccess"; }

    // What each privilege level may do with one access class: 0 nothing, 1 see,
    // 2 see and change (the status classes stop at 1).
    bool SetAccessWanStatus(kora::s_uint32 v) { return Set(m_WanStatus, v); }            // 0..1
    bool SetAccessWanConfig(kora::s_uint32 v) { return Set(m_WanConfig, v); }            // 0..2
    bool SetAccessLanStatus(kora::s_uint32 v) { return Set(m_LanStatus, v); }            // 0..1
    bool SetAccessLanConfig(kora::s_uint32 v) { return Set(m_LanConfig, v); }            // 0..2
    bool SetAccessFirewallConfig(kora::s_uint32 v) { return Set(m_FirewallConfig, v); }  // 0..2
    bool SetAccessLogbook(kora::s_uint32 v) { return Set(m_Logbook, v); }                // 0..2
    bool SetAccessSystemStatus(kora::s_uint32 v) { return Set(m_SystemStatus, v); }      // 0..1
    // 0..2
    bool SetAccessWebInterfaceConfig(kora::s_uint32 v) { return Set(m_WebInterfaceConfig, v); }
    bool SetAccessReboot(kora::s_uint32 v) { return Set(m_Reboot, v); }                      // 0..2
    bool SetAccessDateTime(kora::s_uint32 v) { return Set(m_DateTime, v); }                  // 0..2
    bool SetAccessUpdate(kora::s_uint32 v) { return Set(m_Update, v); }                      // 0..2
    bool SetAccessDeviceManagement(kora::s_uint32 v) { return Set(m_DeviceManagement, v); }  // 0..2
    bool SetAccessCertificates(kora::s_uint32 v) { return Set(m_Certificates, v); }          // 0..2
    bool SetAccessTools(kora::s_uint32 v) { return Set(m_Tools, v); }                        // 0..2
    bool SetAccessUART(kora::s_uint32 v) { return Set(m_UART, v); }                          // 0..2

    kora::s_uint8 GetAccessWanStatus() const { return m_WanStatus; }
    kora::s_uint8 GetAccessWanConfig() const { return m_WanConfig; }
    kora::s_uint8 GetAccessLanStatus() const { return m_LanStatus; }
    kora::s_uint8 GetAccessLanConfig() const { return m_LanConfig; }
    kora::s_uint8 GetAccessFirewallConfig() const { return m_FirewallConfig; }
    kora::s_uint8 GetAccessLogbook() const { return m_Logbook; }
    kora::s_uint8 GetAccessSystemStatus() const { return m_SystemStatus; }
    kora::s_uint8 GetAccessWebInterfaceConfig() const { return m_WebInterfaceConfig; }
    kora::s_uint8 GetAccessReboot() const { return m_Reboot; }
    kora::s_uint8 GetAccessDateTime() const { return m_DateTime; }
    kora::s_uint8 GetAccessUpdate() const { return m_Update; }
    kora::s_uint8 GetAccessDeviceManagement() const { return m_DeviceManagement; }
    kora::s_uint8 GetAccessCertificates() const { return m_Certificates; }
    kora::s_uint8 GetAccessTools() const { return m_Tools; }
    kora::s_uint8 GetAccessUART() const { return m_UART; }
    // The level granted on an access class by its name (ACCESS_CLASS_...);
    // 0 for classes this item does not configure.
    unsigned GetLevel(const std::string& accessClass) const;
    // Whether the item grants that class at all (admin-only, user-only and
    // everyone are fixed, not configured).
    static bool Configures(const std::string& accessClass);

  private:
    static const AccessField* FieldFor(const std::string& accessClass);
    kora::s_uint8 m_WanStatus, m_WanConfig, m_LanStatus, m_LanConfig, m_FirewallConfig, m_Logbook,
        m_SystemStatus, m_WebInterfaceConfig, m_Reboot, m_DateTime, m_Update, m_DeviceManagement,
        m_Certificates, m_Tools, m_UART;

  public:
    static const Table<cDBConfigAccess>& Fields() {
        using C = cDBConfigAccess;
        // Levels 0..2; the status classes can only be seen, never changed.
        static const Table<C> rows{{
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
        }};
        return rows;
    }
};

class TESSEL_API cDBConfigWebInterface : public cDBRecord<cDBConfigWebInterface> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigWebInterface", "WebInterfaceConfigObject", ACCESS_CLASS_WEB_INTERFACE_CONFIG, 2,
        VersionsFrom(1, 2),      "WebInterfaceConfig",       "/Config/System/WebInterface/"};
    cDBConfigWebInterface() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    bool SetLanguage(kora::s_uint32 v) { return Set(m_Language, v); }  // code 0..1
    bool SetHTTPSPort(kora::s_uint32 v) { return Set(m_HTTPSPort, v); }
    kora::s_uint8 GetLanguage() const { return m_Language; }
    kora::s_uint16 GetHTTPSPort() const { return m_HTTPSPort; }

  private:
    kora::s_uint8 m_Language;
    kora::s_uint16 m_HTTPSPort;

  public:
    static const Table<cDBConfigWebInterface>& Fields() {
        using C = cDBConfigWebInterface;
        // "Language" is the only required member and is read first; a refused
        // language ends the read, so "HTTPSPort" is then not looked at.
        static const Table<C> rows{{
            Field(&C::m_Language, "Language", 0).Range(0, 1),
            Field(&C::m_HTTPSPort, "HTTPSPort", 443).Since(2).Check(IsFreeServicePort).Optional(),
        }};
        return rows;
    }
};

class TESSEL_API cDBConfigSSH : public cDBRecord<cDBConfigSSH> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigSSH",     "SSHConfigObject", ACCESS_CLASS_DEVICE_MANAGEMENT_CONFIG, 1,
        VersionsFrom(1, 1), "SSHConfig",       "/Config/System/DeviceManagement/SSH/"};
    cDBConfigSSH() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigSSH:"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool GetEnabled() const { return m_Enabled; }

  private:
    kora::s_bool m_Enabled;

  public:
    static const Table<cDBConfigSSH>& Fields() {
        using C = cDBConfigSSH;
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled", false),
        }};
        return rows;
    }
};

class TESSEL_API cDBConfigSNMP : public cDBRecord<cDBConfigSNMP> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigSNMP",    "SNMPConfigObject", ACCESS_CLASS_DEVICE_MANAGEMENT_CONFIG,  1,
        VersionsFrom(1, 1), "SNMPConfig",       "/Config/System/DeviceManagement/SNMP/"};
    cDBConfigSNMP() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigSNMP:"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetPort(kora::s_uint32 v) { return Set(m_Port, v); }
    bool GetEnabled() const { return m_Enabled; }
    kora::s_uint16 GetPort() const { return m_Port; }

  private:
    kora::s_bool m_Enabled;
    kora::s_uint16 m_Port;

  public:
    static const Table<cDBConfigSNMP>& Fields() {
        using C = cDBConfigSNMP;
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled", false),
            Field(&C::m_Port, "Port", 161).Check(IsFreeServicePort),
        }};
        return rows;
    }
};

// The mail account through which the device sends e-mail.
class TESSEL_API cDBConfigEmail : public cDBRecord<cDBConfigEmail> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigEmail",   "EmailConfigObject", ACCESS_CLASS_DEVICE_MANAGEMENT_CONFIG,   2,
        VersionsFrom(2, 2), "EmailConfig",       "/Config/System/DeviceManagement/Email/"};
    cDBConfigEmail() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigEmail:"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetMailserver(const std::string& v) { return Set(m_MailServer, v); }
    bool SetTcpPort(kora::s_uint32 v) { return Set(m_TcpPort, v); }  // 1..65535
    bool SetAuthUser(const std::string& v) { return Set(m_AuthUser, v); }
    bool SetAuthPass(const std::string& v) { return Set(m_AuthPass, v); }
    void SetUseStartTLS(bool v) { m_UseStartTLS = v; }
    void SetUseTLS(bool v) { m_UseTLS = v; }
    bool SetSenderName(const std::string& v) { return Set(m_SenderName, v); }

    bool GetEnabled() const { return m_Enabled; }
    const kora::s_string& GetMailserver() const { return m_MailServer; }
    kora::s_uint16 GetTcpPort() const { return m_TcpPort; }
    const kora::s_string& GetAuthUser() const { return m_AuthUser; }
    const kora::s_string& GetAuthPass() const { return m_AuthPass; }
    bool GetUseStartTLS() const { return m_UseStartTLS; }
    bool GetUseTLS() const { return m_UseTLS; }
    const kora::s_string& GetSenderName() const { return m_SenderName; }

  private:
    kora::s_bool m_Enabled;
    kora::s_string m_MailServer;
    kora::s_uint16 m_TcpPort;
    kora::s_string m_AuthUser, m_AuthPass;
    kora::s_bool m_UseStartTLS, m_UseTLS;
    kora::s_string m_SenderName;

  public:
    static const Table<cDBConfigEmail>& Fields() {
        using C = cDBConfigEmail;
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled", false).Since(2),
            Field(&C::m_MailServer, "MailServer", "").Since(2).Check(CheckHostname),
            Field(&C::m_TcpPort, "TcpPort", 465).Since(2).Range(1, 65535),
            Field(&C::m_AuthUser, "AuthUser", "").Since(2).Check(CheckCredentials).Masked(),
            Field(&C::m_AuthPass, "AuthPass", "").Since(2).Check(CheckCredentials).Masked(),
            Field(&C::m_UseStartTLS, "UseStartTLS", true).Since(2),
            Field(&C::m_UseTLS, "UseTLS", true).Since(2),
            Field(&C::m_SenderName, "SenderName", "").Since(2).Check(CheckShellString),
        }};
        return rows;
    }
};

// Whether configuration snapshots are sent by e-mail, and to whom.
class TESSEL_API cDBConfigSnapshot : public cDBRecord<cDBConfigSnapshot> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigSnapshot",
                                       "SnapshotConfigObject",
                                       ACCESS_CLASS_ADMIN_ONLY,
                                       2,
                                       VersionsFrom(2, 2),
                                       "SnapshotConfig",
                                       "/Config/System/DeviceManagement/Snapshot/"};
    cDBConfigSnapshot() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigSnapshot:"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetReceiverEmail(const std::string& v) { return Set(m_ReceiverEmail, v); }
    bool GetEnabled() const { return m_Enabled; }
    const kora::s_string& GetReceiverEmail() const { return m_ReceiverEmail; }

  private:
    kora::s_bool m_Enabled;
    kora::s_string m_ReceiverEmail;

  public:
    static const Table<cDBConfigSnapshot>& Fields() {
        using C = cDBConfigSnapshot;
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled", false).Since(2),
            Field(&C::m_ReceiverEmail, "ReceiverEmail", "").Since(2).Check(CheckEmailAddr),
        }};
        return rows;
    }
};

// Time synchronisation with up to three servers.
class TESSEL_API cDBConfigNTP : public cDBRecord<cDBConfigNTP> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigNTP",
                                       "NTPConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       1,
                                       VersionsFrom(1, 1),
                                       "NTPConfig",
                                       ""};
    cDBConfigNTP() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigNTP"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    void SetServerEnabled(bool v) { m_ServerEnabled = v; }
    bool SetNTPServer1(const std::string& v) { return Set(m_Server1, v); }
    bool SetNTPServer2(const std::string& v) { return Set(m_Server2, v); }
    bool SetNTPServer3(const std::string& v) { return Set(m_Server3, v); }
    // 4..17 (log2 of seconds: 16 s to 36.4 h)
    bool SetPollingInterval(kora::s_uint32 v) { return Set(m_PollingInterval, v); }

    bool GetEnabled() const { return m_Enabled; }
    bool GetServerEnabled() const { return m_ServerEnabled; }
    const kora::s_string& GetNTPServer1() const { return m_Server1; }
    const kora::s_string& GetNTPServer2() const { return m_Server2; }
    const kora::s_string& GetNTPServer3() const { return m_Server3; }
    kora::s_uint8 GetPollingInterval() const { return m_PollingInterval; }

  private:
    kora::s_bool m_Enabled, m_ServerEnabled;
    kora::s_string m_Server1, m_Server2, m_Server3;
    kora::s_uint8 m_PollingInterval;

  public:
    static const Table<cDBConfigNTP>& Fields() {
        using C = cDBConfigNTP;
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled", false),
            Field(&C::m_ServerEnabled, "ServerEnabled", false),
            Field(&C::m_Server1, "Server1", "").Check(CheckHostname),
            Field(&C::m_Server2, "Server2", "").Check(CheckHostname),
            Field(&C::m_Server3, "Server3", "").Check(CheckHostname),
            Field(&C::m_PollingInterval, "PollingInterval", 12).Range(4, 17),
        }};
        return rows;
    }
};

// A primary and a secondary authentication server with their shared secrets.
// RADIUS and TACACS+ write "Enabled", then the hosts and secrets, then the
// rest in their JSON text; the binary form keeps the table order.
class TESSEL_API cDBConfigRadius : public cDBRecord<cDBConfigRadius> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigRadius",  "RadiusConfigObject", ACCESS_CLASS_ADMIN_ONLY, 2,
        VersionsFrom(1, 2), "RadiusConfig",       "/Config/System/Access/"};
    cDBConfigRadius() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigRadius"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetHost1(const std::string& v) { return Set(m_Host1, v); }
    bool SetPort1(kora::s_uint32 v) { return Set(m_Port1, v); }  // 1..65535
    bool SetSecret1(const std::string& v) { return Set(m_Secret1, v); }
    void SetSecondary(bool v) { m_Secondary = v; }
    bool SetHost2(const std::string& v) { return Set(m_Host2, v); }
    bool SetPort2(kora::s_uint32 v) { return Set(m_Port2, v); }  // 1..65535
    bool SetSecret2(const std::string& v) { return Set(m_Secret2, v); }
    bool SetAccessLevel(kora::s_uint32 v) { return Set(m_AccessLevel, v); }  // 1..3

    bool GetEnabled() const { return m_Enabled; }
    const kora::s_string& GetHost1() const { return m_Host1; }
    kora::s_uint16 GetPort1() const { return m_Port1; }
    const kora::s_string& GetSecret1() const { return m_Secret1; }
    bool GetSecondary() const { return m_Secondary; }
    const kora::s_string& GetHost2() const { return m_Host2; }
    kora::s_uint16 GetPort2() const { return m_Port2; }
    const kora::s_string& GetSecret2() const { return m_Secret2; }
    kora::s_uint8 GetAccessLevel() const { return m_AccessLevel; }

  private:
    kora::s_bool m_Enabled;
    kora::s_string m_Host1;
    kora::s_uint16 m_Port1;
    kora::s_string m_Secret1;
    kora::s_bool m_Secondary;
    kora::s_string m_Host2;
    kora::s_uint16 m_Port2;
    kora::s_string m_Secret2;
    kora::s_uint8 m_AccessLevel;

  public:
    static const Table<cDBConfigRadius>& Fields() {
        using C = cDBConfigRadius;
        // "AccessLevel" arrived with version 2 but is required in JSON.
        static const Table<C> rows{
            {
                Field(&C::m_Enabled, "Enabled", false),
                Field(&C::m_Host1, "Host1", "").Check(CheckHostname).Masked(),
                Field(&C::m_Port1, "Port1", 1812).Range(1, 65535),
                Field(&C::m_Secret1, "Secret1", "").Check(CheckCredentials).Masked(),
                Field(&C::m_Secondary, "Secondary", false),
                Field(&C::m_Host2, "Host2", "").Check(CheckHostname).Masked(),
                Field(&C::m_Port2, "Port2", 1812).Range(1, 65535),
                Field(&C::m_Secret2, "Secret2", "").Check(CheckCredentials).Masked(),
                Field(&C::m_AccessLevel, "AccessLevel", 2).Since(2).Range(1, 3),
            },
            {},
            {"Enabled", "Host1", "Secret1", "Host2", "Secret2"}};
        return rows;
    }
};

class TESSEL_API cDBConfigTacacs : public cDBRecord<cDBConfigTacacs> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigTacacs",  "TacacsConfigObject", ACCESS_CLASS_ADMIN_ONLY, 1,
        VersionsFrom(1, 1), "TacacsConfig",       "/Config/System/Access/"};
    cDBConfigTacacs() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigTacacs"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetHost1(const std::string& v) { return Set(m_Host1, v); }
    bool SetPort1(kora::s_uint32 v) { return Set(m_Port1, v); }  // 1..65535
    bool SetSecret1(const std::string& v) { return Set(m_Secret1, v); }
    bool SetAuthService1(kora::s_uint32 v) { return Set(m_AuthService1, v); }  // code 0..2
    void SetSecondary(bool v) { m_Secondary = v; }
    bool SetHost2(const std::string& v) { return Set(m_Host2, v); }
    bool SetPort2(kora::s_uint32 v) { return Set(m_Port2, v); }  // 1..65535
    bool SetSecret2(const std::string& v) { return Set(m_Secret2, v); }
    bool SetAuthService2(kora::s_uint32 v) { return Set(m_AuthService2, v); }      // code 0..2
    bool SetUserPrivLevel(kora::s_uint32 v) { return Set(m_UserPrivLevel, v); }    // 1..15
    bool SetAdminPrivLevel(kora::s_uint32 v) { return Set(m_AdminPrivLevel, v); }  // 1..15

    bool GetEnabled() const { return m_Enabled; }
    const kora::s_string& GetHost1() const { return m_Host1; }
    kora::s_uint16 GetPort1() const { return m_Port1; }
    const kora::s_string& GetSecret1() const { return m_Secret1; }
    kora::s_uint8 GetAuthService1() const { return m_AuthService1; }
    bool GetSecondary() const { return m_Secondary; }
    const kora::s_string& GetHost2() const { return m_Host2; }
    kora::s_uint16 GetPort2() const { return m_Port2; }
    const kora::s_string& GetSecret2() const { return m_Secret2; }
    kora::s_uint8 GetAuthService2() const { return m_AuthService2; }
    kora::s_uint8 GetUserPrivLevel() const { return m_UserPrivLevel; }
    kora::s_uint8 GetAdminPrivLevel() const { return m_AdminPrivLevel; }

  private:
    kora::s_bool m_Enabled;
    kora::s_string m_Host1;
    kora::s_uint16 m_Port1;
    kora::s_string m_Secret1;
    kora::s_uint8 m_AuthService1;
    kora::s_bool m_Secondary;
    kora::s_string m_Host2;
    kora::s_uint16 m_Port2;
    kora::s_string m_Secret2;
    kora::s_uint8 m_AuthService2, m_UserPrivLevel, m_AdminPrivLevel;

  public:
    static const Table<cDBConfigTacacs>& Fields() {
        using C = cDBConfigTacacs;
        static const Table<C> rows{
            {
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
            },
            {},
            {"Enabled", "Host1", "Secret1", "Host2", "Secret2"}};
        return rows;
    }
};

}  // namespace tessel
