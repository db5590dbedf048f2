// Services that run on the WAN side: the connection check that probes hosts
// by ICMP, the dynamic-DNS client and the RIP routing daemon. One item each.
#pragma once

#include <set>
#include <string>

#include "tessel/record.h"

namespace tessel {

// Up to four hosts pinged every `Interval` seconds; the WAN counts as failed
// after `Retries` unanswered rounds.
class TESSEL_API cDBConfigConnCheck : public cDBRecord<cDBConfigConnCheck> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigConnCheck",
                                       "ConnectionCheckConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       2,
                                       VersionsFrom(1, 2),
                                       "ConnectionCheckConfig",
                                       "/"};
    cDBConfigConnCheck() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigConnCheck"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetICMPHost1(const std::string& v) { return Set(m_ICMPHost1, v); }
    bool SetICMPHost2(const std::string& v) { return Set(m_ICMPHost2, v); }
    bool SetICMPHost3(const std::string& v) { return Set(m_ICMPHost3, v); }
    bool SetICMPHost4(const std::string& v) { return Set(m_ICMPHost4, v); }
    bool SetInterval(kora::s_uint32 v) { return Set(m_Interval, v); }      // 1..86400 seconds
    bool SetTimeout(kora::s_uint32 v) { return Set(m_Timeout, v); }        // 1..3600 seconds
    bool SetRetries(kora::s_uint32 v) { return Set(m_Retries, v); }        // 0..100
    bool SetRetryDelay(kora::s_uint32 v) { return Set(m_RetryDelay, v); }  // 1..86400 seconds
    bool SetSamples(kora::s_uint32 v) { return Set(m_Samples, v); }        // 1..1000
    bool GetEnabled() const { return m_Enabled; }
    const kora::s_string& GetICMPHost1() const { return m_ICMPHost1; }
    const kora::s_string& GetICMPHost2() const { return m_ICMPHost2; }
    const kora::s_string& GetICMPHost3() const { return m_ICMPHost3; }
    const kora::s_string& GetICMPHost4() const { return m_ICMPHost4; }
    kora::s_uint32 GetInterval() const { return m_Interval; }
    kora::s_uint16 GetTimeout() const { return m_Timeout; }
    kora::s_uint16 GetRetries() const { return m_Retries; }
    kora::s_uint32 GetRetryDelay() const { return m_RetryDelay; }
    kora::s_uint16 GetSamples() const { return m_Samples; }

  private:
    kora::s_bool m_Enabled;
    kora::s_string m_ICMPHost1, m_ICMPHost2, m_ICMPHost3, m_ICMPHost4;
    kora::s_uint32 m_Interval;
    kora::s_uint16 m_Timeout, m_Retries;
    kora::s_uint32 m_RetryDelay;
    kora::s_uint16 m_Samples;

  public:
    static const Table<cDBConfigConnCheck>& Fields() {
        using C = cDBConfigConnCheck;
        // Every member is required in JSON, those of version 2 too.
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled"),
            Field(&C::m_ICMPHost1, "ICMPHost1").Check(CheckHostname),
            Field(&C::m_ICMPHost2, "ICMPHost2").Check(CheckHostname),
            Field(&C::m_ICMPHost3, "ICMPHost3").Check(CheckHostname),
            Field(&C::m_ICMPHost4, "ICMPHost4").Check(CheckHostname),
            Field(&C::m_Interval, "Interval", 300).Range(1, 86400),
            Field(&C::m_Timeout, "Timeout", 30).Range(1, 3600),
            Field(&C::m_Retries, "Retries", 3).Range(0, 100),
            Field(&C::m_RetryDelay, "RetryDelay", 300).Since(2).Range(1, 86400),
            Field(&C::m_Samples, "Samples", 10).Since(2).Range(1, 1000),
        }};
        return rows;
    }
};

// The dynamic-DNS client: which provider, the account and the host alias it
// keeps pointed at the WAN address.
class TESSEL_API cDBConfigDDNS : public cDBRecord<cDBConfigDDNS> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigDDNS",
                                       "DDNSConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       1,
                                       Versions({1}),
                                       "DDNSConfig",
                                       "/"};
    cDBConfigDDNS() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigDDNS"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetService(kora::s_uint32 v) { return Set(m_Service, v); }  // code 1..3
    bool SetUsername(const std::string& v) { return Set(m_Username, v); }
    bool SetPassword(const std::string& v) { return Set(m_Password, v); }
    bool SetAlias(const std::string& v) { return Set(m_Alias, v); }
    void SetSSL(bool v) { m_SSL = v; }
    bool GetEnabled() const { return m_Enabled; }
    kora::s_uint8 GetService() const { return m_Service; }
    const kora::s_string& GetUsername() const { return m_Username; }
    const kora::s_string& GetPassword() const { return m_Password; }
    const kora::s_string& GetAlias() const { return m_Alias; }
    bool GetSSL() const { return m_SSL; }
    // The provider the DDNS client is told to use for the service number
    // (1..4; 4 only comes from stored records); empty for any other number.
    kora::s_string GetServiceString() const;

  private:
    kora::s_bool m_Enabled;
    kora::s_uint8 m_Service;
    kora::s_string m_Username, m_Password, m_Alias;
    kora::s_bool m_SSL;

  public:
    static const Table<cDBConfigDDNS>& Fields() {
        using C = cDBConfigDDNS;
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled"),
            Field(&C::m_Service, "Service", 1).Range(1, 3),
            Field(&C::m_Username, "Username").Check(CheckCredentials).Masked(),
            Field(&C::m_Password, "Password").Check(CheckCredentials).Masked(),
            Field(&C::m_Alias, "Alias").Check(CheckHostname).Masked(),
            Field(&C::m_SSL, "SSL", true),
        }};
        return rows;
    }
};

// The RIP daemon: update interval, the neighbours it talks to, whether it
// announces only the default gateway, and the metric of its routes.
class TESSEL_API cDBConfigRIP : public cDBRecord<cDBConfigRIP> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigRIP",
                                       "RIPConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       4,
                                       VersionsFrom(1, 4),
                                       "RIPConfig",
                                       "/"};
    using HostSet = std::set<kora::s_socket_addr>;
    using HostElement = SetEntry<kora::s_socket_addr>;

    cDBConfigRIP() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigRIP"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    // 1..3600 seconds
    bool SetUpdateInterval(kora::s_uint32 v) { return Set(m_UpdateInterval, v); }
    // Adds a neighbour; any address is taken.
    bool AddHostIP(const kora::s_socket_addr& v) { return Add(m_Hosts, HostElement(v)); }
    void SetUseDefaultGWOnly(bool v) { m_UseDefaultGWOnly = v; }
    bool SetCost(kora::s_uint32 v) { return Set(m_Cost, v); }  // 1..16 hops
    bool GetEnabled() const { return m_Enabled; }
    kora::s_uint16 GetUpdateInterval() const { return m_UpdateInterval; }
    const HostSet& GetHosts() const { return m_Hosts; }
    bool GetUseDefaultGWOnly() const { return m_UseDefaultGWOnly; }
    kora::s_uint8 GetCost() const { return m_Cost; }

  private:
    static const cRecordTable& HostRows() {
        static const Table<HostElement> rows{{Field(&HostElement::value, "Host")}};
        return rows;
    }

    kora::s_bool m_Enabled;
    kora::s_uint16 m_UpdateInterval;
    HostSet m_Hosts;
    kora::s_bool m_UseDefaultGWOnly;
    kora::s_uint8 m_Cost;

  public:
    static const Table<cDBConfigRIP>& Fields() {
        using C = cDBConfigRIP;
        static const Table<C> rows{
            {
                Field(&C::m_Enabled, "Enabled"),
                Field(&C::m_UpdateInterval, "UpdateInterval", 30).Range(1, 3600),
                List<HostElement>(&C::m_Hosts, "Hosts", "Host", HostRows()).MayBeMissing(),
                Field(&C::m_UseDefaultGWOnly, "UseDefaultGWOnly").Since(3).Optional(),
                Field(&C::m_Cost, "Cost", 1).Since(4).Range(1, 16).Optional(),
            },
            {
                // Version 1 knew one neighbour, stored before the interval.
                Stored(1, {"Enabled", Custom<C>([](C& c, kora::cSerializeBuffer& b) {
                               kora::s_socket_addr host;
                               if (!host.Deserialize(b)) return StepResult::kFail;
                               c.m_Hosts.insert(host);
                               return StepResult::kOk;
                           }),
                           "UpdateInterval"}),
            }};
        return rows;
    }
};

}  // namespace tessel
