// Device-management configuration: who may see and change what, the web
// interface, SSH, SNMP, e-mail, configuration snapshots, time synchronisation
// and the RADIUS and TACACS+ authentication servers.
#pragma once

#include "tessel/record.h"

namespace tessel {

struct AccessField;

// The level a privilege level is granted on each access class. Two exist,
// "GuestAccessConfig" and "UserAccessConfig"; the status classes only take 0 or 1.
class cDBConfigAccess : public cDBRecord<cDBConfigAccess> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigAccess",       "AccessConfigObject", ACCESS_CLASS_ADMIN_ONLY, 4, 1, "",
        "/Config/System/Access/"};
    static const FieldTable<cDBConfigAccess>& Fields();
    cDBConfigAccess() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigAccess"; }

    bool SetAccessWanStatus(kora::s_uint32 v) { return Set(m_WanStatus, v); }
    bool SetAccessWanConfig(kora::s_uint32 v) { return Set(m_WanConfig, v); }
    bool SetAccessLanStatus(kora::s_uint32 v) { return Set(m_LanStatus, v); }
    bool SetAccessLanConfig(kora::s_uint32 v) { return Set(m_LanConfig, v); }
    bool SetAccessFirewallConfig(kora::s_uint32 v) { return Set(m_FirewallConfig, v); }
    bool SetAccessLogbook(kora::s_uint32 v) { return Set(m_Logbook, v); }
    bool SetAccessSystemStatus(kora::s_uint32 v) { return Set(m_SystemStatus, v); }
    bool SetAccessWebInterfaceConfig(kora::s_uint32 v) { return Set(m_WebInterfaceConfig, v); }
    bool SetAccessReboot(kora::s_uint32 v) { return Set(m_Reboot, v); }
    bool SetAccessDateTime(kora::s_uint32 v) { return Set(m_DateTime, v); }
    bool SetAccessUpdate(kora::s_uint32 v) { return Set(m_Update, v); }
    bool SetAccessDeviceManagement(kora::s_uint32 v) { return Set(m_DeviceManagement, v); }
    bool SetAccessCertificates(kora::s_uint32 v) { return Set(m_Certificates, v); }
    bool SetAccessTools(kora::s_uint32 v) { return Set(m_Tools, v); }
    bool SetAccessUART(kora::s_uint32 v) { return Set(m_UART, v); }

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
};

class cDBConfigWebInterface : public cDBRecord<cDBConfigWebInterface> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigWebInterface",
                                       "WebInterfaceConfigObject",
                                       ACCESS_CLASS_WEB_INTERFACE_CONFIG,
                                       2,
                                       1,
                                       "WebInterfaceConfig",
                                       "/Config/System/WebInterface/"};
    static const FieldTable<cDBConfigWebInterface>& Fields();
    cDBConfigWebInterface() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    bool SetLanguage(kora::s_uint32 v) { return Set(m_Language, v); }
    bool SetHTTPSPort(kora::s_uint32 v) { return Set(m_HTTPSPort, v); }
    kora::s_uint8 GetLanguage() const { return m_Language; }
    kora::s_uint16 GetHTTPSPort() const { return m_HTTPSPort; }

  private:
    kora::s_uint8 m_Language;
    kora::s_uint16 m_HTTPSPort;
};

class cDBConfigSSH : public cDBRecord<cDBConfigSSH> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigSSH",
                                       "SSHConfigObject",
                                       ACCESS_CLASS_DEVICE_MANAGEMENT_CONFIG,
                                       1,
                                       1,
                                       "SSHConfig",
                                       "/Config/System/DeviceManagement/SSH/"};
    static const FieldTable<cDBConfigSSH>& Fields();
    cDBConfigSSH() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigSSH:"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool GetEnabled() const { return m_Enabled; }

  private:
    kora::s_bool m_Enabled;
};

class cDBConfigSNMP : public cDBRecord<cDBConfigSNMP> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigSNMP",
                                       "SNMPConfigObject",
                                       ACCESS_CLASS_DEVICE_MANAGEMENT_CONFIG,
                                       1,
                                       1,
                                       "SNMPConfig",
                                       "/Config/System/DeviceManagement/SNMP/"};
    static const FieldTable<cDBConfigSNMP>& Fields();
    cDBConfigSNMP() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigSNMP:"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetPort(kora::s_uint32 v) { return Set(m_Port, v); }
    bool GetEnabled() const { return m_Enabled; }
    kora::s_uint16 GetPort() const { return m_Port; }

  private:
    kora::s_bool m_Enabled;
    kora::s_uint16 m_Port;
};

// The mail account through which the device sends e-mail.
class cDBConfigEmail : public cDBRecord<cDBConfigEmail> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigEmail",
                                       "EmailConfigObject",
                                       ACCESS_CLASS_DEVICE_MANAGEMENT_CONFIG,
                                       2,
                                       2,
                                       "EmailConfig",
                                       "/Config/System/DeviceManagement/Email/"};
    static const FieldTable<cDBConfigEmail>& Fields();
    cDBConfigEmail() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigEmail:"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetMailserver(const std::string& v) { return Set(m_MailServer, v); }
    bool SetTcpPort(kora::s_uint32 v) { return Set(m_TcpPort, v); }
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
};

// Whether configuration snapshots are sent by e-mail, and to whom.
class cDBConfigSnapshot : public cDBRecord<cDBConfigSnapshot> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigSnapshot",
                                       "SnapshotConfigObject",
                                       ACCESS_CLASS_ADMIN_ONLY,
                                       2,
                                       2,
                                       "SnapshotConfig",
                                       "/Config/System/DeviceManagement/Snapshot/"};
    static const FieldTable<cDBConfigSnapshot>& Fields();
    cDBConfigSnapshot() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigSnapshot:"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetReceiverEmail(const std::string& v) { return Set(m_ReceiverEmail, v); }
    bool GetEnabled() const { return m_Enabled; }
    const kora::s_string& GetReceiverEmail() const { return m_ReceiverEmail; }

  private:
    kora::s_bool m_Enabled;
    kora::s_string m_ReceiverEmail;
};

// Time synchronisation with up to three servers.
class cDBConfigNTP : public cDBRecord<cDBConfigNTP> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigNTP", "NTPConfigObject", ACCESS_CLASS_WAN_CONFIG, 1, 1, "NTPConfig", ""};
    static const FieldTable<cDBConfigNTP>& Fields();
    cDBConfigNTP() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigNTP"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    void SetServerEnabled(bool v) { m_ServerEnabled = v; }
    bool SetNTPServer1(const std::string& v) { return Set(m_Server1, v); }
    bool SetNTPServer2(const std::string& v) { return Set(m_Server2, v); }
    bool SetNTPServer3(const std::string& v) { return Set(m_Server3, v); }
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
};

// A primary and a secondary authentication server with their shared secrets.
// RADIUS and TACACS+ write "Enabled", then the hosts and secrets, then the
// rest in JSON; the binary form keeps the declaration order.
class cDBConfigRadius : public cDBRecord<cDBConfigRadius> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigRadius", "RadiusConfigObject",    ACCESS_CLASS_ADMIN_ONLY, 2, 1,
        "RadiusConfig",    "/Config/System/Access/"};
    static const FieldTable<cDBConfigRadius>& Fields();
    cDBConfigRadius() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigRadius"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetHost1(const std::string& v) { return Set(m_Host1, v); }
    bool SetPort1(kora::s_uint32 v) { return Set(m_Port1, v); }
    bool SetSecret1(const std::string& v) { return Set(m_Secret1, v); }
    void SetSecondary(bool v) { m_Secondary = v; }
    bool SetHost2(const std::string& v) { return Set(m_Host2, v); }
    bool SetPort2(kora::s_uint32 v) { return Set(m_Port2, v); }
    bool SetSecret2(const std::string& v) { return Set(m_Secret2, v); }
    bool SetAccessLevel(kora::s_uint32 v) { return Set(m_AccessLevel, v); }

    bool GetEnabled() const { return m_Enabled; }
    const kora::s_string& GetHost1() const { return m_Host1; }
    kora::s_uint16 GetPort1() const { return m_Port1; }
    const kora::s_string& GetSecret1() const { return m_Secret1; }
    bool GetSecondary() const { return m_Secondary; }
    const kora::s_string& GetHost2() const { return m_Host2; }
    kora::s_uint16 GetPort2() const { return m_Port2; }
    const kora::s_string& GetSecret2() const { return m_Secret2; }
    kora::s_uint8 GetAccessLevel() const { return m_AccessLevel; }

  protected:
    void DataToJSON(Json::Value& data, bool mask) const override;

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
};

class cDBConfigTacacs : public cDBRecord<cDBConfigTacacs> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigTacacs", "TacacsConfigObject",    ACCESS_CLASS_ADMIN_ONLY, 1, 1,
        "TacacsConfig",    "/Config/System/Access/"};
    static const FieldTable<cDBConfigTacacs>& Fields();
    cDBConfigTacacs() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigTacacs"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetHost1(const std::string& v) { return Set(m_Host1, v); }
    bool SetPort1(kora::s_uint32 v) { return Set(m_Port1, v); }
    bool SetSecret1(const std::string& v) { return Set(m_Secret1, v); }
    bool SetAuthService1(kora::s_uint32 v) { return Set(m_AuthService1, v); }
    void SetSecondary(bool v) { m_Secondary = v; }
    bool SetHost2(const std::string& v) { return Set(m_Host2, v); }
    bool SetPort2(kora::s_uint32 v) { return Set(m_Port2, v); }
    bool SetSecret2(const std::string& v) { return Set(m_Secret2, v); }
    bool SetAuthService2(kora::s_uint32 v) { return Set(m_AuthService2, v); }
    bool SetUserPrivLevel(kora::s_uint32 v) { return Set(m_UserPrivLevel, v); }
    bool SetAdminPrivLevel(kora::s_uint32 v) { return Set(m_AdminPrivLevel, v); }

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

  protected:
    void DataToJSON(Json::Value& data, bool mask) const override;

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
};

}  // namespace tessel
