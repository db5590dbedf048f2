// Status items: the state of the device as the programs that run it observe
// it. Those programs write them; clients read them. Every class reads only
// its current stored version (the LAN and LAN interface status also read
// version 1, which lacks the VRRP state). Addresses travel in JSON as dotted
// text and are taken as the framework converts them, unchecked.
#pragma once

#include <string>

#include "tessel/record.h"
#include "tessel/subrecords.h"

namespace tessel {

// The hardware's identity.
class TESSEL_API cDBStatusHardware : public cDBRecord<cDBStatusHardware> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBStatusHardware", "HardwareStatusObject", ACCESS_CLASS_SYSTEM_STATUS, 1,
        Versions({1}),       "HardwareStatus",       "/Status/System/"};
    cDBStatusHardware() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    void SetHardwareVersion(const std::string& v) { m_HardwareVersion = v; }
    void SetHardwareID(const std::string& v) { m_HardwareID = v; }
    void SetSerialNumber(const std::string& v) { m_SerialNumber = v; }
    void SetProductionDate(const std::string& v) { m_ProductionDate = v; }
    const kora::s_string& GetHardwareVersion() const { return m_HardwareVersion; }
    const kora::s_string& GetHardwareID() const { return m_HardwareID; }
    const kora::s_string& GetSerialNumber() const { return m_SerialNumber; }
    const kora::s_string& GetProductionDate() const { return m_ProductionDate; }

  private:
    kora::s_string m_HardwareVersion, m_HardwareID, m_SerialNumber, m_ProductionDate;

  public:
    static const Table<cDBStatusHardware>& Fields() {
        using C = cDBStatusHardware;
        static const Table<C> rows{{
            Field(&C::m_HardwareVersion, "HardwareVersion"),
            Field(&C::m_HardwareID, "HardwareID"),
            Field(&C::m_SerialNumber, "SerialNumber"),
            Field(&C::m_ProductionDate, "ProductionDate"),
        }};
        return rows;
    }
};

// The software's versions. The setters keep only the text before the first
// line break (what a version command prints); JSON takes the texts as they are.
class TESSEL_API cDBStatusSoftware : public cDBRecord<cDBStatusSoftware> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBStatusSoftware", "SoftwareStatusObject", ACCESS_CLASS_SYSTEM_STATUS, 1,
        Versions({1}),       "SoftwareStatus",       "/Status/System/"};
    cDBStatusSoftware() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    void SetFirmwareVersion(const std::string& v) { m_FirmwareVersion = ClearNewLine(v); }
    void SetOSVersion(const std::string& v) { m_OSVersion = ClearNewLine(v); }
    void SetKernelRelease(const std::string& v) { m_KernelRelease = ClearNewLine(v); }
    void SetKernelVersion(const std::string& v) { m_KernelVersion = ClearNewLine(v); }
    const kora::s_string& GetFirmwareVersion() const { return m_FirmwareVersion; }
    const kora::s_string& GetOSVersion() const { return m_OSVersion; }
    const kora::s_string& GetKernelRelease() const { return m_KernelRelease; }
    const kora::s_string& GetKernelVersion() const { return m_KernelVersion; }

  private:
    kora::s_string m_FirmwareVersion, m_OSVersion, m_KernelRelease, m_KernelVersion;

  public:
    static const Table<cDBStatusSoftware>& Fields() {
        using C = cDBStatusSoftware;
        static const Table<C> rows{{
            Field(&C::m_FirmwareVersion, "FirmwareVersion"),
            Field(&C::m_OSVersion, "OSVersion"),
            Field(&C::m_KernelRelease, "KernelRelease"),
            Field(&C::m_KernelVersion, "KernelVersion"),
        }};
        return rows;
    }
};

// Which WAN technology carries traffic now, and under which WAN setup.
class TESSEL_API cDBStatusWan : public cDBRecord<cDBStatusWan> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBStatusWan", "WanStatusObject", ACCESS_CLASS_WAN_STATUS, 1,
        Versions({1}),  "WanStatus",       "/Status/Network/"};
    cDBStatusWan() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    // code 0..4
    bool SetActiveWanTechnology(kora::s_uint32 v) { return Set(m_ActiveWanTechnology, v); }
    void SetWanSetup(const std::string& v) { m_WanSetup = v; }
    kora::s_uint8 GetActiveWanTechnology() const { return m_ActiveWanTechnology; }
    const kora::s_string& GetWanSetup() const { return m_WanSetup; }

  private:
    kora::s_uint8 m_ActiveWanTechnology;
    kora::s_string m_WanSetup;

  public:
    static const Table<cDBStatusWan>& Fields() {
        using C = cDBStatusWan;
        static const Table<C> rows{{
            Field(&C::m_ActiveWanTechnology, "ActiveWanTechnology", 0).Range(0, 4),
            Field(&C::m_WanSetup, "WanSetup"),
        }};
        return rows;
    }
};

// The result of the connection check: share of lost probes and mean response time.
class TESSEL_API cDBStatusConnection : public cDBRecord<cDBStatusConnection> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBStatusConnection", "ConnectionStatusObject", ACCESS_CLASS_WAN_STATUS, 1,
        Versions({1}),         "ConnectionStatus",       "/Status/Network/"};
    cDBStatusConnection() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBStatusConnection"; }

    void SetEnabled(bool v) { m_Enabled = v; }
    // 0..100 percent
    bool SetPackageLostPercent(kora::s_uint32 v) { return Set(m_PackageLostPercent, v); }
    void SetMeanRespTime(kora::s_uint32 v) { m_MeanRespTime = v; }
    bool GetEnabled() const { return m_Enabled; }
    kora::s_uint8 GetPackageLostPercent() const { return m_PackageLostPercent; }
    kora::s_uint32 GetMeanRespTime() const { return m_MeanRespTime; }

  private:
    kora::s_bool m_Enabled;
    kora::s_uint8 m_PackageLostPercent;
    kora::s_uint32 m_MeanRespTime;

  public:
    static const Table<cDBStatusConnection>& Fields() {
        using C = cDBStatusConnection;
        static const Table<C> rows{{
            Field(&C::m_Enabled, "Enabled"),
            Field(&C::m_PackageLostPercent, "PackageLostPercent").Range(0, 100),
            Field(&C::m_MeanRespTime, "MeanRespTime"),
        }};
        return rows;
    }
};

// One WAN data-volume counter, named by whoever creates it.
class TESSEL_API cDBStatusDataVolume : public cDBRecord<cDBStatusDataVolume> {
  public:
    static constexpr ItemInfo kInfo = {"cDBStatusDataVolume",
                                       "DataVolumeStatusObject",
                                       ACCESS_CLASS_WAN_STATUS,
                                       1,
                                       Versions({1}),
                                       "",
                                       "/Status/Network/WanDataVolume/"};
    cDBStatusDataVolume() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBStatusDataVolume"; }
    // "DataVolume".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    void SetDataVolume(kora::s_uint32 v) { m_DataVolume = v; }
    void SetResetTime(const kora::cTime& v) { m_ResetTime = v; }
    kora::s_uint32 GetDataVolume() const { return m_DataVolume; }
    const kora::cTime& GetResetTime() const { return m_ResetTime; }

  private:
    kora::s_uint32 m_DataVolume;
    kora::cTime m_ResetTime;

  public:
    static const Table<cDBStatusDataVolume>& Fields() {
        using C = cDBStatusDataVolume;
        static const Table<C> rows{{
            Field(&C::m_DataVolume, "DataVolume"),
            Field(&C::m_ResetTime, "ResetTime"),
        }};
        return rows;
    }
};

// One ISAKMP security association of the IPsec service.
class TESSEL_API cDBStatusISAKMPSA : public cDBRecord<cDBStatusISAKMPSA> {
  public:
    static constexpr ItemInfo kInfo = {"cDBStatusISAKMPSA",
                                       "ISAKMPSAStatusObject",
                                       ACCESS_CLASS_WAN_STATUS,
                                       1,
                                       Versions({1}),
                                       "",
                                       "/Status/Network/VPN/IPsec/"};
    cDBStatusISAKMPSA() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBStatusISAKMPSA"; }
    // "SAType", "Connected", "ConnectionTime" (seconds), "RemoteID".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    void SetConnectionTime(const kora::cTime& v) { m_ConnectionTime = v; }
    void SetConnected(bool v) { m_Connected = v; }
    bool SetSAType(kora::s_uint32 v) { return Set(m_SAType, v); }  // code 1..2
    void SetRemoteID(const std::string& v) { m_RemoteID = v; }
    const kora::cTime& GetConnectionTime() const { return m_ConnectionTime; }
    bool GetConnected() const { return m_Connected; }
    kora::s_uint8 GetSAType() const { return m_SAType; }
    const kora::s_string& GetRemoteID() const { return m_RemoteID; }

  private:
    kora::cTime m_ConnectionTime;
    kora::s_bool m_Connected;
    kora::s_uint8 m_SAType;
    kora::s_string m_RemoteID;

  public:
    static const Table<cDBStatusISAKMPSA>& Fields() {
        using C = cDBStatusISAKMPSA;
        static const Table<C> rows{{
            Field(&C::m_ConnectionTime, "ConnectionTime"),
            Field(&C::m_Connected, "Connected"),
            Field(&C::m_SAType, "SAType", 1).Range(1, 2),
            Field(&C::m_RemoteID, "RemoteID"),
        }};
        return rows;
    }
};

// The wired WAN connection: link, addressing, counters and, when the port
// serves a LAN, its DHCP leases and VRRP state.
class TESSEL_API cDBStatusWiredWan : public cDBRecord<cDBStatusWiredWan> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBStatusWiredWan", "WiredWanStatusObject", ACCESS_CLASS_WAN_STATUS, 6,
        Versions({6}),       "WiredWanStatus",       "/Status/Network/"};
    cDBStatusWiredWan() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    bool SetMode(kora::s_uint32 v) { return Set(m_Mode, v); }  // code 0..3 or 6
    void SetNetworkConnected(bool v) { m_NetworkConnected = v; }
    void SetOnline(bool v) { m_Online = v; }
    bool SetMac(const std::string& v) { return Set(m_Mac, v); }
    void SetIP(const kora::s_socket_addr& v) { m_IP = v; }
    void SetNetmask(const kora::s_socket_addr& v) { m_Netmask = v; }
    void SetGateway(const kora::s_socket_addr& v) { m_Gateway = v; }
    void SetDNS1(const kora::s_socket_addr& v) { m_DNS1 = v; }
    void SetDNS2(const kora::s_socket_addr& v) { m_DNS2 = v; }
    void SetDNS3(const kora::s_socket_addr& v) { m_DNS3 = v; }
    bool SetMTU(kora::s_uint32 v) { return Set(m_MTU, v); }            // 576..1500 bytes
    bool SetPortMode(kora::s_uint32 v) { return Set(m_PortMode, v); }  // code 2..5
    void SetBytesReceived(kora::s_uint64 v) { m_BytesReceived = v; }
    void SetBytesSent(kora::s_uint64 v) { m_BytesSent = v; }
    bool SetDHCPMode(kora::s_uint32 v) { return Set(m_DHCPMode, v); }    // code 1..3
    bool SetVRRPState(kora::s_uint32 v) { return Set(m_VRRPState, v); }  // code 0..2
    // Replaces the MAC list when every member passes CheckMacAddr.
    bool SetMacList(const MacSet& v) { return ReplaceList<MacElement>(m_Macs, v); }
    bool AddMac(const std::string& mac) { return Add(m_Macs, MacElement(mac)); }
    const MacSet& GetMacList() const { return m_Macs; }
    // Stores a lease under its address when the MAC passes CheckMacAddr, the
    // host name CheckHostname and the status is 1..3.
    bool SetLeaseByIP(kora::s_socket_addr ip, const std::string& mac, kora::s_uint8 status,
                      const std::string& hostname) {
        return Add(m_Leases, LeaseElement(ip, leaseEntry(mac, status, hostname)));
    }
    const LeaseMap& GetLeases() const { return m_Leases; }

    kora::s_uint8 GetMode() const { return m_Mode; }
    bool GetNetworkConnected() const { return m_NetworkConnected; }
    bool GetOnline() const { return m_Online; }
    const kora::s_string& GetMac() const { return m_Mac; }
    const kora::s_socket_addr& GetIP() const { return m_IP; }
    const kora::s_socket_addr& GetNetmask() const { return m_Netmask; }
    const kora::s_socket_addr& GetGateway() const { return m_Gateway; }
    const kora::s_socket_addr& GetDNS1() const { return m_DNS1; }
    const kora::s_socket_addr& GetDNS2() const { return m_DNS2; }
    const kora::s_socket_addr& GetDNS3() const { return m_DNS3; }
    kora::s_uint16 GetMTU() const { return m_MTU; }
    kora::s_uint8 GetPortMode() const { return m_PortMode; }
    kora::s_uint64 GetBytesReceived() const { return m_BytesReceived; }
    kora::s_uint64 GetBytesSent() const { return m_BytesSent; }
    kora::s_uint8 GetDHCPMode() const { return m_DHCPMode; }
    kora::s_uint8 GetVRRPState() const { return m_VRRPState; }

  private:
    kora::s_uint8 m_Mode;
    kora::s_bool m_NetworkConnected, m_Online;
    kora::s_string m_Mac;
    kora::s_socket_addr m_IP, m_Netmask, m_Gateway, m_DNS1, m_DNS2, m_DNS3;
    kora::s_uint16 m_MTU;
    kora::s_uint8 m_PortMode;
    MacSet m_Macs;
    kora::s_uint64 m_BytesReceived, m_BytesSent;
    kora::s_uint8 m_DHCPMode;
    LeaseMap m_Leases;
    kora::s_uint8 m_VRRPState;

  public:
    static const Table<cDBStatusWiredWan>& Fields() {
        using C = cDBStatusWiredWan;
        static const Table<C> rows{{
            Field(&C::m_Mode, "Mode", 0).Range(0, 3).Range(6, 6),
            Field(&C::m_NetworkConnected, "NetworkConnected"),
            Field(&C::m_Online, "Online"),
            Field(&C::m_Mac, "Mac", "00:00:00:00:00:00").Check(CheckMacAddr),
            Field(&C::m_IP, "IP").AnyText(),
            Field(&C::m_Netmask, "Netmask").AnyText(),
            Field(&C::m_Gateway, "Gateway").AnyText(),
            Field(&C::m_DNS1, "DNS1").AnyText(),
            Field(&C::m_DNS2, "DNS2").AnyText(),
            Field(&C::m_DNS3, "DNS3").AnyText(),
            Field(&C::m_MTU, "MTU", 1500).Range(576, 1500),
            Field(&C::m_PortMode, "PortMode", 2).Range(2, 5),
            List<MacElement>(&C::m_Macs, "Macs", "Mac", MacRows()).MayBeMissing(),
            Field(&C::m_BytesReceived, "BystesReceived"),
            Field(&C::m_BytesSent, "BystesSent"),
            Field(&C::m_DHCPMode, "DHCPMode", 1).Range(1, 3),
            List<LeaseElement>(&C::m_Leases, "Leases", "Lease", LeaseRows()).MayBeMissing(),
            Field(&C::m_VRRPState, "VRRPState", 0).Range(0, 2),
        }};
        return rows;
    }
};

// The mobile-network connection. In the three signal values and the SIM slot
// 99 means unknown or not present.
class TESSEL_API cDBStatusWirelessWan : public cDBRecord<cDBStatusWirelessWan> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBStatusWirelessWan", "WirelessWanStatusObject", ACCESS_CLASS_WAN_STATUS, 4,
        Versions({4}),          "WirelessWanStatus",       "/Status/Network/"};
    cDBStatusWirelessWan() { SetDefault(); }
    std::string ToString(const std::string&) const override;
    // Received signal strength in dBm that the CSQ value stands for: 0 when
    // CSQ is unknown (99), else 2 * CSQ - 113. Written to JSON after "ECNO".
    int GetRSSI() const { return m_CSQ == 99 ? 0 : 2 * m_CSQ - 113; }

    bool SetMobileTechnology(kora::s_uint32 v) { return Set(m_MobileTechnology, v); }  // code 0..6
    void SetNetworkConnected(bool v) { m_NetworkConnected = v; }
    void SetOnline(bool v) { m_Online = v; }
    bool SetCSQ(kora::s_int32 v) { return Set(m_CSQ, v); }    // 0..99 (99: unknown)
    bool SetECNO(kora::s_int32 v) { return Set(m_ECNO, v); }  // -24..0 or 99 dB (99: unknown)
    bool SetRSCP(kora::s_int32 v) { return Set(m_RSCP, v); }  // -113..0 or 99 dBm (99: unknown)
    void SetCellID(const std::string& v) { m_CellID = v; }
    void SetIMEI(const std::string& v) { m_IMEI = v; }
    void SetIMSI(const std::string& v) { m_IMSI = v; }
    void SetICCID(const std::string& v) { m_ICCID = v; }
    void SetIP(const kora::s_socket_addr& v) { m_IP = v; }
    void SetDNS1(const kora::s_socket_addr& v) { m_DNS1 = v; }
    void SetDNS2(const kora::s_socket_addr& v) { m_DNS2 = v; }
    void SetDNS3(const kora::s_socket_addr& v) { m_DNS3 = v; }
    void SetModuleFirmware(const std::string& v) { m_ModuleFirmware = v; }
    void SetModuleType(const std::string& v) { m_ModuleType = v; }
    void SetBytesReceived(kora::s_uint64 v) { m_BytesReceived = v; }
    void SetBytesSent(kora::s_uint64 v) { m_BytesSent = v; }
    bool SetNetID(const std::string& v) { return Set(m_NetID, v); }
    bool SetAPN(const std::string& v) { return Set(m_APN, v); }
    bool SetSimSlot(kora::s_uint32 v) { return Set(m_SimSlot, v); }  // 0..1 or 99 (99: none)
    void SetServingCellInformation(const std::string& v) { m_ServingCell = v; }
    void SetNeighbourhoodCellInformation(const std::string& v) { m_NeighbourCells = v; }

    kora::s_uint8 GetMobileTechnology() const { return m_MobileTechnology; }
    bool GetNetworkConnected() const { return m_NetworkConnected; }
    bool GetOnline() const { return m_Online; }
    kora::s_int8 GetCSQ() const { return m_CSQ; }
    kora::s_int8 GetECNO() const { return m_ECNO; }
    kora::s_int8 GetRSCP() const { return m_RSCP; }
    const kora::s_string& GetCellID() const { return m_CellID; }
    const kora::s_string& GetIMEI() const { return m_IMEI; }
    const kora::s_string& GetIMSI() const { return m_IMSI; }
    const kora::s_string& GetICCID() const { return m_ICCID; }
    const kora::s_socket_addr& GetIP() const { return m_IP; }
    const kora::s_socket_addr& GetDNS1() const { return m_DNS1; }
    const kora::s_socket_addr& GetDNS2() const { return m_DNS2; }
    const kora::s_socket_addr& GetDNS3() const { return m_DNS3; }
    const kora::s_string& GetModuleFirmware() const { return m_ModuleFirmware; }
    const kora::s_string& GetModuleType() const { return m_ModuleType; }
    kora::s_uint64 GetBytesReceived() const { return m_BytesReceived; }
    kora::s_uint64 GetBytesSent() const { return m_BytesSent; }
    const kora::s_string& GetNetID() const { return m_NetID; }
    const kora::s_string& GetAPN() const { return m_APN; }
    kora::s_uint8 GetSimSlot() const { return m_SimSlot; }
    const kora::s_string& GetServingCellInformation() const { return m_ServingCell; }
    const kora::s_string& GetNeighbourhoodCellInformation() const { return m_NeighbourCells; }

  private:
    kora::s_uint8 m_MobileTechnology;
    kora::s_bool m_NetworkConnected, m_Online;
    kora::s_int8 m_CSQ, m_ECNO, m_RSCP;
    kora::s_string m_CellID, m_IMEI, m_IMSI, m_ICCID;
    kora::s_socket_addr m_IP, m_DNS1, m_DNS2, m_DNS3;
    kora::s_string m_ModuleFirmware, m_ModuleType;
    kora::s_uint64 m_BytesReceived, m_BytesSent;
    kora::s_string m_NetID, m_APN;
    kora::s_uint8 m_SimSlot;
    kora::s_string m_ServingCell, m_NeighbourCells;

  public:
    static const Table<cDBStatusWirelessWan>& Fields() {
        using C = cDBStatusWirelessWan;
        static const Table<C> rows{{
            Field(&C::m_MobileTechnology, "MobileTechnology", 0).Range(0, 6),
            Field(&C::m_NetworkConnected, "NetworkConnected"),
            Field(&C::m_Online, "Online"),
            Field(&C::m_CSQ, "CSQ", 99).Range(0, 99),
            Field(&C::m_ECNO, "ECNO", 99).Range(-24, 0).Range(99, 99),
            Derived<C>("RSSI", [](const C& c) { return Json::Int(c.GetRSSI()); }),
            Field(&C::m_RSCP, "RSCP", 99).Range(-113, 0).Range(99, 99),
            Field(&C::m_CellID, "CellID"),
            Field(&C::m_IMEI, "IMEI").Masked(),
            Field(&C::m_IMSI, "IMSI").Masked(),
            Field(&C::m_ICCID, "ICCID"),
            Field(&C::m_IP, "IP").AnyText(),
            Field(&C::m_DNS1, "DNS1").AnyText(),
            Field(&C::m_DNS2, "DNS2").AnyText(),
            Field(&C::m_DNS3, "DNS3").AnyText(),
            Field(&C::m_ModuleFirmware, "ModuleFirmware"),
            Field(&C::m_ModuleType, "ModuleType"),
            Field(&C::m_BytesReceived, "BystesReceived"),
            Field(&C::m_BytesSent, "BystesSent"),
            Field(&C::m_NetID, "NetID").Check(IsDigits<6>),
            Field(&C::m_APN, "APN").Check(CheckHostname),
            Field(&C::m_SimSlot, "SimSlot", 99).Range(0, 1).Range(99, 99),
            Field(&C::m_ServingCell, "ServingCellInformation"),
            Field(&C::m_NeighbourCells, "NeighbourhoodCellInformation"),
        }};
        return rows;
    }
};

// The LAN as a whole: link, port mode, addressing, counters, DHCP leases.
class TESSEL_API cDBStatusLan : public cDBRecord<cDBStatusLan> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBStatusLan",     "LanStatusObject", ACCESS_CLASS_LAN_STATUS, 2,
        VersionsFrom(1, 2), "LanStatus",       "/Status/Network/"};
    cDBStatusLan() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBStatusLan"; }

    void SetLink(bool v) { m_Link = v; }
    bool SetMode(kora::s_uint32 v) { return Set(m_Mode, v); }  // code 2..5
    void SetBytesReceived(kora::s_uint64 v) { m_BytesReceived = v; }
    void SetBytesSent(kora::s_uint64 v) { m_BytesSent = v; }
    void SetIP(const kora::s_socket_addr& v) { m_IP = v; }
    void SetNetmask(const kora::s_socket_addr& v) { m_Netmask = v; }
    bool SetMac(const std::string& v) { return Set(m_Mac, v); }
    bool SetDHCPMode(kora::s_uint32 v) { return Set(m_DHCPMode, v); }    // code 1..3
    bool SetVRRPState(kora::s_uint32 v) { return Set(m_VRRPState, v); }  // code 0..2
    // Replaces the MAC list when every member passes CheckMacAddr.
    bool SetMacList(const MacSet& v) { return ReplaceList<MacElement>(m_Macs, v); }
    bool AddMac(const std::string& mac) { return Add(m_Macs, MacElement(mac)); }
    const MacSet& GetMacList() const { return m_Macs; }
    // Stores a lease under its address when the MAC passes CheckMacAddr, the
    // host name CheckHostname and the status is 1..3.
    bool SetLeaseByIP(kora::s_socket_addr ip, const std::string& mac, kora::s_uint8 status,
                      const std::string& hostname) {
        return Add(m_Leases, LeaseElement(ip, leaseEntry(mac, status, hostname)));
    }
    const LeaseMap& GetLeases() const { return m_Leases; }

    bool GetLink() const { return m_Link; }
    kora::s_uint8 GetMode() const { return m_Mode; }
    kora::s_uint64 GetBytesReceived() const { return m_BytesReceived; }
    kora::s_uint64 GetBytesSent() const { return m_BytesSent; }
    const kora::s_socket_addr& GetIP() const { return m_IP; }
    const kora::s_socket_addr& GetNetmask() const { return m_Netmask; }
    const kora::s_string& GetMac() const { return m_Mac; }
    kora::s_uint8 GetDHCPMode() const { return m_DHCPMode; }
    kora::s_uint8 GetVRRPState() const { return m_VRRPState; }

  private:
    kora::s_bool m_Link;
    kora::s_uint8 m_Mode;
    MacSet m_Macs;
    kora::s_uint64 m_BytesReceived, m_BytesSent;
    kora::s_socket_addr m_IP, m_Netmask;
    kora::s_string m_Mac;
    kora::s_uint8 m_DHCPMode;
    LeaseMap m_Leases;
    kora::s_uint8 m_VRRPState;

  public:
    static const Table<cDBStatusLan>& Fields() {
        using C = cDBStatusLan;
        static const Table<C> rows{{
            Field(&C::m_Link, "Link"),
            Field(&C::m_Mode, "Mode", 2).Range(2, 5),
            List<MacElement>(&C::m_Macs, "Macs", "Mac", MacRows()).MayBeMissing(),
            Field(&C::m_BytesReceived, "BystesReceived"),
            Field(&C::m_BytesSent, "BystesSent"),
            Field(&C::m_IP, "IP").AnyText(),
            Field(&C::m_Netmask, "Netmask").AnyText(),
            Field(&C::m_Mac, "Mac", "00:00:00:00:00:00").Check(CheckMacAddr),
            Field(&C::m_DHCPMode, "DHCPMode", 1).Range(1, 3),
            List<LeaseElement>(&C::m_Leases, "Leases", "Lease", LeaseRows()).MayBeMissing(),
            Field(&C::m_VRRPState, "VRRPState", 0).Since(2).Range(0, 2),
        }};
        return rows;
    }
};

// One LAN interface: counters, addressing, DHCP leases, VRRP state.
class TESSEL_API cDBStatusLanInterface : public cDBRecord<cDBStatusLanInterface> {
  public:
    static constexpr ItemInfo kInfo = {"cDBStatusLanInterface",
                                       "LanInterfaceStatusObject",
                                       ACCESS_CLASS_LAN_STATUS,
                                       2,
                                       VersionsFrom(1, 2),
                                       "",
                                       "/Status/Network/LANInterfaces/"};
    cDBStatusLanInterface() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBStatusLanInterface"; }
    // "BystesReceived", "BystesSent" (full 64-bit decimal), "IP", "Netmask".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    void SetBytesReceived(kora::s_uint64 v) { m_BytesReceived = v; }
    void SetBytesSent(kora::s_uint64 v) { m_BytesSent = v; }
    void SetIP(const kora::s_socket_addr& v) { m_IP = v; }
    void SetNetmask(const kora::s_socket_addr& v) { m_Netmask = v; }
    bool SetMac(const std::string& v) { return Set(m_Mac, v); }
    bool SetDHCPMode(kora::s_uint32 v) { return Set(m_DHCPMode, v); }    // code 1..3
    bool SetVRRPState(kora::s_uint32 v) { return Set(m_VRRPState, v); }  // code 0..2
    // Stores a lease under its address when the MAC passes CheckMacAddr, the
    // host name CheckHostname and the status is 1..3.
    bool SetLeaseByIP(kora::s_socket_addr ip, const std::string& mac, kora::s_uint8 status,
                      const std::string& hostname) {
        return Add(m_Leases, LeaseElement(ip, leaseEntry(mac, status, hostname)));
    }
    const LeaseMap& GetLeases() const { return m_Leases; }

    kora::s_uint64 GetBytesReceived() const { return m_BytesReceived; }
    kora::s_uint64 GetBytesSent() const { return m_BytesSent; }
    const kora::s_socket_addr& GetIP() const { return m_IP; }
    const kora::s_socket_addr& GetNetmask() const { return m_Netmask; }
    const kora::s_string& GetMac() const { return m_Mac; }
    kora::s_uint8 GetDHCPMode() const { return m_DHCPMode; }
    kora::s_uint8 GetVRRPState() const { return m_VRRPState; }

  private:
    kora::s_uint64 m_BytesReceived, m_BytesSent;
    kora::s_socket_addr m_IP, m_Netmask;
    kora::s_string m_Mac;
    kora::s_uint8 m_DHCPMode;
    LeaseMap m_Leases;
    kora::s_uint8 m_VRRPState;

  public:
    static const Table<cDBStatusLanInterface>& Fields() {
        using C = cDBStatusLanInterface;
        static const Table<C> rows{{
            Field(&C::m_BytesReceived, "BystesReceived"),
            Field(&C::m_BytesSent, "BystesSent"),
            Field(&C::m_IP, "IP").AnyText(),
            Field(&C::m_Netmask, "Netmask").AnyText(),
            Field(&C::m_Mac, "Mac", "00:00:00:00:00:00").Check(CheckMacAddr),
            Field(&C::m_DHCPMode, "DHCPMode", 1).Range(1, 3),
            List<LeaseElement>(&C::m_Leases, "Leases", "Lease", LeaseRows()).MayBeMissing(),
            Field(&C::m_VRRPState, "VRRPState", 0).Since(2).Range(0, 2),
        }};
        return rows;
    }
};

// One LAN port: link, port mode and the MAC addresses seen on it.
class TESSEL_API cDBStatusLanPort : public cDBRecord<cDBStatusLanPort> {
  public:
    static constexpr ItemInfo kInfo = {"cDBStatusLanPort",
                                       "LanPortStatusObject",
                                       ACCESS_CLASS_LAN_STATUS,
                                       1,
                                       Versions({1}),
                                       "",
                                       "/Status/Network/LANPorts/"};
    cDBStatusLanPort() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBStatusLanPort"; }
    // "Link" ("true"/"false"), "Mode".
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    void SetLink(bool v) { m_Link = v; }
    bool SetMode(kora::s_uint32 v) { return Set(m_Mode, v); }  // code 2..5
    // Replaces the MAC list when every member passes CheckMacAddr.
    bool SetMacList(const MacSet& v) { return ReplaceList<MacElement>(m_Macs, v); }
    bool AddMac(const std::string& mac) { return Add(m_Macs, MacElement(mac)); }
    const MacSet& GetMacList() const { return m_Macs; }
    bool GetLink() const { return m_Link; }
    kora::s_uint8 GetMode() const { return m_Mode; }

  private:
    kora::s_bool m_Link;
    kora::s_uint8 m_Mode;
    MacSet m_Macs;

  public:
    static const Table<cDBStatusLanPort>& Fields() {
        using C = cDBStatusLanPort;
        static const Table<C> rows{{
            Field(&C::m_Link, "Link"),
            Field(&C::m_Mode, "Mode", 2).Range(2, 5),
            List<MacElement>(&C::m_Macs, "Macs", "Mac", MacRows()).MayBeMissing(),
        }};
        return rows;
    }
};

}  // namespace tessel
