// Only what item classes make irregular, as tables: older stored layouts, JSON
// refusals, groups, cross-field rules, masking, feature-dependent rules and
// text forms. What every class does alike is in registry_test.cpp,
// golden_test.cpp and fields_test.cpp.
#include <sstream>

#include "golden_sample.h"
#include "item_doc.h"

using namespace tessel;
using namespace testdoc;
using testwire::Wire;

namespace {

// An item of class `name`, which may leave out "cDBConfig" or "cDB".
kora::Ref<cDBItem> Make(const std::string& name) {
    std::string cls = name;
    if (cls.compare(0, 3, "cDB") != 0)
        cls = (kora::cObjectFactory::IsRegistered("cDBConfig" + name) ? "cDBConfig" : "cDB") + name;
    return kora::Ref<cDBItem>::Adopt(
        dynamic_cast<cDBItem*>(kora::cObjectFactory::CreateObject(cls)));
}

Json::Value DataOf(cDBItem& item, bool masked = false) {
    Json::Value root;
    item.ToJSON(root, masked);
    return root["Data"];
}

// Loads `changes` over the item's document; "ok" or the refused keys in order.
std::string LoadOver(cDBItem& item, const std::string& changes) {
    Json::Value root;
    item.ToJSON(root, false);
    Apply(root["Data"], J(changes.c_str()));
    std::set<std::string> rejected;
    if (item.FromJSON(StyledJson(root), rejected)) return "ok";
    std::string keys;
    for (const auto& key : rejected) keys += (keys.empty() ? "" : " ") + key;
    return keys;
}

// Parts of stored forms by name: their tokens (see Wire::Tokens), which may
// name other parts, then the members they set.
const std::map<std::string, std::string> kParts = {
    {"host", R"(s:gw {"Hostname":"gw"})"},
    {"search", R"(s:lan.example {"SearchPath":"lan.example"})"},
    {"pool", R"(u8:2 u8:3 s:ntp.lan b1 a:10.0.0.10 a:10.0.0.20 u32:3600 {"DHCPMode":2,
        "DHCPNtpMode":3, "DHCPNtpServer":"ntp.lan", "DHCPPool":true, "DHCPPoolStart":"10.0.0.10",
        "DHCPPoolEnd":"10.0.0.20", "DHCPLeaseTime":3600})"},
    {"relay", R"(s:relay.lan {"DHCPRelayServer":"relay.lan"})"},
    {"ips", R"(u32:1 u32:3 a:10.0.0.1 a:255.255.255.0 {"IPs":[{"Index":3, "IP":"10.0.0.1",
        "Netmask":"255.255.255.0"}]})"},
    {"leases", R"(u32:1 s:00:11:22:33:44:55 a:10.0.0.5 {"Leases":[{"Mac":"00:11:22:33:44:55",
        "IP":"10.0.0.5"}]})"},
    {"hosts", R"(u32:1 s:nas a:10.0.0.6 {"Hosts":[{"Hostname":"nas", "IP":"10.0.0.6"}]})"},
    {"lan", R"(host search pool relay ips leases hosts)"},
    {"vrrp", R"(b1 u8:7 u8:200 u8:5 {"VRRPEnabled":true, "VRRPID":7, "VRRPPrio":200,
        "VRRPDelay":5})"},
    {"pair", R"(a:10.0.0.254 a:255.255.255.0 {"VRRPIPs":[{"Index":1, "IP":"10.0.0.254",
        "Netmask":"255.255.255.0"}]})"},
    {"high", R"(u8:250 u8:2 {"VRRPPrioHigh":250, "VRRPPrioMode":2})"},
    // The stored list keeps index 1 only, wherever it stands.
    {"list", R"(u32:2 u32:1 a:10.0.0.254 a:255.255.255.0 u32:2 a:10.0.0.253 a:255.255.0.0
        {"VRRPIPs":[{"Index":1, "IP":"10.0.0.254", "Netmask":"255.255.255.0"}]})"},
    // A stored VLAN ID of 0 reads back as 4094 on a LAN interface.
    {"vlanmtu", R"(u16:0 u16:1400 {"VLANID":4094, "MTU":1400})"},
    {"vlan", R"(b1 u16:12 {"VLANEnabled":true, "VLANID":12})"},
    {"wan", R"(u8:3 a:10.0.0.1 a:10.0.0.254 a:255.255.255.0 b0 a:8.8.8.8 a:8.8.4.4 a:1.1.1.1
        u16:1492 s:user s:pass {"Mode":3, "IP":"10.0.0.1", "Gateway":"10.0.0.254",
        "Subnet":"255.255.255.0", "UseProviderDNS":false, "DNS1":"8.8.8.8", "DNS2":"8.8.4.4",
        "DNS3":"1.1.1.1", "MTU":1492, "Username":"user", "Password":"pass"})"},
    {"src", R"(a:192.168.1.0 a:255.255.255.0 {"FromIP":"192.168.1.0",
        "FromNetmask":"255.255.255.0"})"},
    {"prio", R"(u8:1 u8:3 {"Protocol":1, "Priority":3})"},
    {"profile", R"(u32:100 u32:200 s:id u8:2 s:psk {"IsakmpLifetime":100, "IpSecLifetime":200,
        "Identifier":"id", "AuthMethod":2, "PreSharedKey":"psk"})"},
    // Proposal (ISAKMP mode, encryption, hash; IPsec encryption, hash; DH
    // group) with hash 3, which reads back as 1.
    {"proposal", R"(u8:2 u8:4 u8:3 u8:4 u8:3 u8:2 {"IsakmpMode":2, "IsakmpEncryption":4,
        "IsakmpHash":1, "IpSecEncryption":4, "IpSecHash":1, "DHGroup":2})"},
    {"detect", R"(u8:3 b1 u16:150 u16:60 u16:5 {"NATT":3, "DPD":true, "DPDDelay":150,
        "DPDTimeout":60, "DPDRetries":5})"},
    {"net", R"(u16:600 b1 b0 s:key u32:42 a:10.0.0.2 a:255.255.255.0 u16:1400 {"HoldTime":600,
        "Multicast":true, "UseCiscoAuth":false, "CiscoAuthKey":"key", "GreKey":42,
        "LocalAddr":"10.0.0.2", "Netmask":"255.255.255.0", "MTU":1400})"},
};

// Writes a layout (tokens and part names, then the members it sets) into `w`,
// and what it sets into `sets`.
void Expand(const std::string& layout, Wire& w, Json::Value& sets) {
    const size_t json = layout.find('{');
    std::istringstream in(layout.substr(0, json));
    for (std::string t; in >> t;) {
        auto part = kParts.find(t);
        if (part == kParts.end())
            w.Tokens(t);
        else
            Expand(part->second, w, sets);
    }
    if (json != std::string::npos) Apply(sets, J(layout.substr(json).c_str()));
}

}  // namespace

// (class, version, layout and the members it sets): read into a golden sample,
// the item holds what the layout sets and defaults elsewhere; a layout marked
// "!" is refused and leaves defaults only. Layouts that only lack later rows
// are the field engine's; current versions are pinned by the golden files.
TEST(Items, StoredLayouts) {
    const struct {
        const char* cls;
        unsigned version;
        const char* layout;
    } cases[] = {
        {"LANInterface", 1, "!"},
        {"LANInterface", 2, "vlanmtu pool ips leases"},
        {"LANInterface", 3, "vlanmtu host pool relay ips leases hosts"},
        {"LANInterface", 4, "vlanmtu lan"},
        {"LANInterface", 5, "vlanmtu lan vrrp"},
        {"LANInterface", 6, "vlanmtu lan vrrp pair"},
        {"LANInterface", 7, "vlanmtu lan vrrp pair high"},
        {"LANInterface", 8, "vlanmtu lan vrrp high list"},
        {"LANInterface", 8, "vlanmtu lan vrrp high u32:1 u32:2 a:10.0.0.254 a:255.255.255.0"},
        {"WiredWan", 1, "wan"},
        {"WiredWan", 2, "!"},
        {"WiredWan", 3, "wan vlan lan"},
        {"WiredWan", 4, "wan vlan lan vrrp"},
        {"WiredWan", 5, "wan vlan lan vrrp pair"},
        {"WiredWan", 6, "wan vlan lan vrrp pair high"},
        {"WiredWan", 7, "wan vlan lan vrrp high list"},
        {"WiredWan", 8, R"(b0 u8:4 wan vlan lan vrrp high list {"Enabled":false, "PortMode":4})"},
        {"Lan", 1, R"(b0 u8:3 u16:1400 vlan lan vrrp high list {"Enabled":false, "Mode":3,
        "MTU":1400})"},
        // A LAN port of version 1 held a flag before the tags; version 3 a
        // byte after each member VLAN.
        {"LANPort", 1, R"(b0 u8:2 u16:0 b1 b1 {"Enabled":false, "Mode":2, "VLANID":4094,
        "VLANTags":true})"},
        {"LANPort", 3, R"(b0 u8:2 u16:0 b1 u32:2 u16:5 u8:1 u16:9 u8:2 {"Enabled":false, "Mode":2,
        "VLANID":4094, "VLANTags":true, "VLANIDS":[{"VLANID":5}, {"VLANID":9}]})"},
        {"MacTable", 1, R"(b1 u32:1 s:00:11:22:33:44:55 u8:7 {"Enabled":true,
        "Macs":[{"Mac":"00:11:22:33:44:55", "Range":1, "Ports":7}]})"},
        {"WanSetup", 1, R"(s:dropped u8:3 {"WanMode":3})"},
        // A CSR template of version 3 held a text after the SCEP pair; a key
        // status of version 1 has no fingerprint.
        {"CSRTemplate", 1, "!"},
        {"CSRTemplate", 3, R"(u8:2 s:cn u8:1 s:org s:unit s:DE s:st s:city s:e b1 s:https://ca s:x
        {"CommonNameMode":2, "CommonName":"cn", "SignatureAlgorithm":1, "OrganisationName":"org",
        "OrgantisationUnitName":"unit", "CountryName":"DE", "StateName":"st", "CityName":"city",
        "Email":"e", "SCEPEnabled":true, "SCEPURL":"https://ca"})"},
        {"cDBStatusPrivateKey", 1, R"(u32:4096 t:1700000000 {"PublicKeyLength":4096,
        "CreationTime":1700000000})"},
        {"RS232", 1, R"(b1 u8:9 u16:4000 {"Enabled":true, "UARTSpeed":9, "ListenPort":4000})"},
        {"RS232", 2, R"(b1 u8:9 u8:7 u8:2 u8:2 u16:4000 {"Enabled":true, "UARTSpeed":9,
        "UARTDataBits":7, "UARTParity":2, "UARTStopBits":2, "ListenPort":4000})"},
        {"RS485", 3, R"(b0 u8:2 u8:6 u8:1 u8:1 u8:77 u16:5000 {"UARTSpeed":2, "UARTDataBits":6,
        "UARTParity":1, "UARTStopBits":1, "ListenPort":5000})"},
        {"Email", 1, "!"},
        {"Snapshot", 1, "!"},
        {"User", 2, "!"},
        // Traffic priority 1 without ports and rank, 3 and 4 with one port per
        // end, 5 with ranges and rank; 2 is refused. A filter rule of version 1
        // has no VLAN matches and the rank last.
        {"TrafficPriorityRule", 1, "src a:0.0.0.0 a:0.0.0.0 prio"},
        {"TrafficPriorityRule", 2, "! src a:0.0.0.0 a:0.0.0.0 prio"},
        {"TrafficPriorityRule", 3, R"(src u16:500 a:0.0.0.0 a:0.0.0.0 u16:0 prio
        {"FromPort":"500"})"},
        {"TrafficPriorityRule", 4, R"(src u16:0 a:0.0.0.0 a:0.0.0.0 u16:53 prio {"ToPort":"53"})"},
        {"TrafficPriorityRule", 5, R"(src u16:10 u16:20 a:0.0.0.0 a:0.0.0.0 u16:5 u16:5 prio u32:4
        {"FromPort":"10:20", "ToPort":"5", "Rank":4})"},
        {"FilterRule", 1, R"(src u16:1 u16:2 u8:3 a:0.0.0.0 a:0.0.0.0 u16:0 u16:0 u8:2 u8:1 u8:1 b1
        u32:9 {"FromPort":"1:2", "FromInterface":3, "ToInterface":2, "Protocol":1, "Target":1,
        "Log":true, "Rank":9})"},
        // An event rule of version 1 lacks the execution mode and cool-down; an
        // action's parameter map has a 16-bit count, then name and value each.
        {"Rule", 1, R"(u8:2 s:UINT::VAR::1 s:s b1 t:60 u32:1 u32:9 i32:-1 i32:1 u8:3 u32:15 u32:1
        u32:7 u8:1 v1 u16:2 s:loglevel s:3 s:wansetup s:Main {"RuleType":2,
        "ValueName":"UINT::VAR::1", "StringValue":"s", "BoolValue":true, "TimeValue":60,
        "UintRange":{"Low":1, "High":9}, "IntRange":{"Low":-1, "High":1}, "Operator":3,
        "Timeout":15, "Actions":[{"Index":7, "ActionType":1, "Parameters":[ {"Name":"loglevel",
        "Value":"3"}, {"Name":"wansetup", "Value":"Main"}]}]})"},
        // A RIP item of version 1 held one neighbour, before the interval.
        {"RIP", 1, R"(b1 a:10.0.0.2 u16:45 {"Enabled":true, "Hosts":[{"Host":"10.0.0.2"}],
        "UpdateInterval":45})"},
        // A VPN profile had neither PFS nor certificate names in version 1, no
        // names in 2.
        {"DMVPNIpSec", 1, "profile proposal detect"},
        {"DMVPNIpSec", 2, R"(profile proposal b0 detect {"PFS":false})"},
        // Version 2 of the multipoint VPN drops a gateway whose index has
        // another scalar version; version 3 files it under index 0.
        {"DMVPN", 2, R"(b1 b0 b1 u32:2 u32:4 a:10.0.0.4 v2 a:10.0.0.9 {"UseDefaultGateway":true,
        "UseIpSec":true, "Gateways":[{"Index":4, "Gateway":"10.0.0.4"}]})"},
        {"DMVPN", 3, R"(b1 b0 b1 u32:2 u32:4 a:10.0.0.4 v2 a:10.0.0.9 u16:60 u8:5
        {"UseDefaultGateway":true, "UseIpSec":true, "GatewayTrackInterval":60,
        "GatewayTrackAttempts":5, "Gateways":[{"Index":0, "Gateway":"10.0.0.9"}, {"Index":4,
        "Gateway":"10.0.0.4"}]})"},
        // Next hop server as an address in versions 2 and 3, tunnel address in 3.
        {"DMVPNNetwork", 2, R"(b1 a:192.0.2.1 net {"HubMode":true, "NextHopServer":"192.0.2.1"})"},
        {"DMVPNNetwork", 3, R"(b1 a:192.0.2.1 a:10.0.0.1 net {"HubMode":true,
        "NextHopServer":"192.0.2.1", "NHSProtocol":"10.0.0.1"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cls) + " v" + std::to_string(c.version));
        kora::Ref<cDBItem> fresh = Make(c.cls);
        Json::Value expected = DataOf(*fresh);
        golden::Object sample = golden::Sample(fresh->TypeName());
        auto* item = dynamic_cast<cDBItem*>(sample.get());
        ASSERT_NE(item, nullptr);
        Wire w;
        w.Version(uint16_t(c.version)).Str("n").Str("/d/");
        const bool refused = c.layout[0] == '!';
        Json::Value sets = expected;
        Expand(c.layout + refused, w, sets);
        if (!refused) expected = sets;
        ASSERT_EQ(ReadStored(*item, w), refused ? 0 : 1);
        EXPECT_EQ(DataOf(*item).toStyledString(), expected.toStyledString());
    }
}

// "class | changes to its default document | "ok" or the refused keys | members
// then held | members of the masked form".
TEST(Items, JsonDocuments) {
    const char* cases[] = {
        // The DHCP pool: read only when enabled, and must run upwards.
        R"(Lan | {"DHCPPool":false, "DHCPPoolStart":"1.2.3.4", "DHCPPoolEnd":"1.2.3.4"} | ok |
            {"DHCPPoolStart":"0.0.0.0", "DHCPPoolEnd":"0.0.0.0"})",
        R"(Lan | {"DHCPPool":true, "DHCPPoolStart":"192.168.1.100", "DHCPPoolEnd":"192.168.1.100"}
            | DHCPPoolEnd DHCPPoolStart)",
        R"(Lan | {"DHCPPool":true, "DHCPPoolStart":"10.0.0.9", "DHCPPoolEnd":"10.0.0.99"} | ok |
            {"DHCPPoolStart":"10.0.0.9", "DHCPPoolEnd":"10.0.0.99"})",
        R"(LANInterface | {"DHCPPool":true, "DHCPPoolStart":"255.255.255.255",
            "DHCPPoolEnd":"10.0.0.9"} | DHCPPoolStart | {"DHCPPoolStart":"0.0.0.0"})",
        // "VRRPIPs": index 1 only, checked; the LAN requires the member.
        R"(Lan | {"VRRPIPs":[{"Index":2, "IP":"10.0.0.9", "Netmask":"255.0.0.0"}]} | ok |
            {"VRRPIPs":[{"Index":1, "IP":"0.0.0.0", "Netmask":"0.0.0.0"}]})",
        R"(Lan | {"VRRPIPs":[{"Index":1, "IP":"255.255.255.255", "Netmask":"0.0.0.0"}]} | VRRPIP)",
        R"(Lan | {"VRRPIPs":null} | )",
        // A refused address stops the later lists (the leases, valid, are not
        // taken); a host needs a name. A refusal is named by the element.
        R"(Lan | {"IPs":[{"Index":1, "IP":"10.0.0.1", "Netmask":"0.0.0.0"}],
            "Leases":[{"Mac":"00:11:22:33:44:55", "IP":"10.0.0.5"}]} | IP | {"IPs":[], "Leases":[]})",
        R"(WiredWan | {"Hosts":[{"Hostname":"", "IP":"10.0.0.6"}]} | Host)",
        // LAN interface: VRRP groups optional, read until one is refused; two
        // input-only members stand for the address.
        R"(LANInterface | {"VRRPEnabled":null, "VRRPID":null, "VRRPPrio":null, "VRRPDelay":null,
            "VRRPPrioHigh":null, "VRRPPrioMode":null, "VRRPIPs":null} | ok)",
        R"(LANInterface | {"VRRPIPs":null, "VRRPVIP":"10.0.0.1", "VRRPVNetmask":"255.255.255.0"} |
            ok | {"VRRPIPs":[{"Index":1, "IP":"10.0.0.1", "Netmask":"255.255.255.0"}]})",
        R"(LANInterface | {"VRRPVIP":"255.255.255.255", "VRRPVNetmask":"255.0.0.0",
            "VRRPPrioHigh":200} | VRRPVIP | {"VRRPPrioHigh":100})",
        R"(LANInterface | {"VRRPDelay":null, "VRRPID":9, "VRRPPrioHigh":200} | ok | {"VRRPID":1,
            "VRRPPrioHigh":200})",
        // Wired WAN: required WAN members, then the LAN, VRRP and port groups.
        R"(WiredWan | {"Enabled":null, "PortMode":null, "VLANEnabled":null} | ok | {"Enabled":true,
            "PortMode":1})",
        R"(WiredWan | {"DHCPMode":4, "PortMode":9, "Enabled":false} | DHCPMode | {"Enabled":true})",
        R"(WiredWan | {"Hosts":null, "VLANID":12} | ok | {"VLANID":1})",
        R"(WiredWan | {"Username":"me"} | ok | {} | {"Username":"*******", "Password":""})",
        // Wireless WAN: group 2 is marked by four members; the rest may be missing.
        R"(WirelessWan | {"APN":null, "AuthMode":5, "StatusPollInterval":30} | ok | {"AuthMode":0,
            "StatusPollInterval":30})",
        R"(WirelessWan | {"DNS2":null, "StatusPollInterval":30} | DNS2 |
            {"StatusPollInterval":60})",
        R"(WirelessWan | {"StatusPollInterval":4, "EnableDiversity":false} | StatusPollInterval |
            {"EnableDiversity":true})",
        R"(WirelessWan | {"Operators":[{"Index":1, "Operator":"1234567"}]} |  | {"Operators":[]})",
        R"(WirelessWan | {"MobilePin":"0000", "Password":"x"} | ok | {} | {"MobilePin":"*******",
            "Password":"*******"})",
        // The MAC table's ranges may not exceed 1000 together.
        R"(MacTable | {"Macs":[{"Mac":"00:11:22:33:44:55", "Range":600, "Ports":1},
            {"Mac":"00:11:22:33:44:66", "Range":500, "Ports":2}]} | Range |
            {"Macs":[{"Mac":"00:11:22:33:44:55", "Range":600, "Ports":1},
            {"Mac":"00:11:22:33:44:66", "Range":500, "Ports":2}]})",
        R"(MacTable | {"Macs":[{"Mac":"00:11:22:33:44:55", "Range":600, "Ports":7},
            {"Mac":"00:11:22:33:44:66", "Range":400, "Ports":2}]} | ok)",
        R"(VLAN | {"VLANTable":[{"VLANID":7, "VLANMask":300}]} | ok | {"VLANTable":[{"VLANID":7,
            "VLANMask":44}]})",
        // The SCEP pair is read only as a pair; a refused parity ends the read.
        R"(CSRTemplate | {"SCEPURL":"https://ca", "SCEPEnabled":null} | ok | {"SCEPURL":""})",
        R"(RS232 | {"UARTDataBits":null, "UARTParity":null, "UARTStopBits":null, "UARTEcho":null,
            "UARTFlowControl":null, "UARTSpeed":3} | ok | {"UARTSpeed":3})",
        R"(RS232 | {"UARTParity":0, "UARTEcho":true, "UARTFlowControl":2} | UARTParity |
            {"UARTEcho":false, "UARTFlowControl":1})",
        // Device management: later members optional, except RADIUS access level.
        R"(Access | {"AccessCertificates":null, "AccessTools":null, "AccessUART":null,
            "AccessLogbook":2} | ok | {"AccessLogbook":2})",
        R"(WebInterface | {"HTTPSPort":null, "Language":1} | ok | {"HTTPSPort":443, "Language":1})",
        R"(Radius | {"AccessLevel":null} | )",
        R"(Tacacs | {"Host1":"aaa.example.org", "Secret2":"k"} | ok | {"Host1":"aaa.example.org"} |
            {"Host1":"*******", "Secret2":"*******", "Host2":"", "Secret1":""})",
        R"(Email | {"AuthUser":"me"} | ok | {} | {"AuthUser":"*******", "AuthPass":""})",
        R"(User | {"AccessLevel":null, "MinLen":12} | ok | {"AccessLevel":0, "MinLen":12})",
        R"(User | {"SNMPAuthPassword":"authpass"} | ok | {} | {"SNMPAuthPassword":"*******",
            "SNMPCryptPassword":""})",
        // Firewall: later groups skipped when incomplete; filter rule rank required.
        R"(FilterRule | {"MatchFromVlan":true, "FromVLANID":null} | ok)",
        R"(FilterRule | {"Rank":null} | )",
        R"(TrafficPriorityRule | {"Rank":null, "VLANID":null} | ok)",
        R"(PacketFilter | {"MSSSize":null, "MSSAdjustMode":3} | ok)",
        // Event rules: ranges taken as they are; a later parameter of the same
        // name wins; the action type keeps its low 8 bits; a refused action ends the list.
        R"(Rule | {"ValueName":"UINT::WIRELESS::CSQ", "UintRange":{"Low":10, "High":5}} | ok |
            {"UintRange":{"Low":10, "High":5}})",
        R"(Rule | {"ValueName":"UINT::WIRELESS::CSQ", "Actions":[{"Index":4, "ActionType":258,
            "Parameters":[{"Name":"port", "Value":"1"}, {"Name":"port", "Value":"2"}]}]} | ok |
            {"Actions":[{"Index":4, "ActionType":2, "Parameters":[{"Name":"port",
            "Value":"2"}]}]})",
        R"(Rule | {"RuleType":0, "ExecutionMode":4, "ValueName":""} | ExecutionMode RuleType
            ValueName)",
        R"(Rule | {"ValueName":"UINT::WIRELESS::CSQ", "Actions":[ {"Index":1, "ActionType":1,
            "Parameters":[]}, {"Index":2, "ActionType":1, "Parameters":[{"Name":"loglevel",
            "Value":"9"}]}, {"Index":3, "ActionType":1, "Parameters":[]}]} | Action |
            {"Actions":[{"Index":1, "ActionType":1, "Parameters":[]}]})",
        // WAN services: a refused RIP neighbour keeps the ones before it.
        R"(RIP | {"Hosts":null, "UseDefaultGWOnly":null, "Cost":null} | ok | {"Cost":1})",
        R"(RIP | {"Hosts":[{"Host":"10.0.0.9"}, {"Host":"ten"}, {"Host":"10.0.0.3"}]} | Host |
            {"Hosts":[{"Host":"10.0.0.9"}]})",
        R"(DDNS | {"Username":"u"} | ok | {} | {"Username":"*******", "Password":""})",
        // Status: signal strength derived, lease host names masked.
        R"(cDBStatusWirelessWan | {"RSSI":"anything", "CSQ":31} | ok | {"RSSI":-51})",
        R"(cDBStatusWiredWan | {"PortMode":4, "Leases":[{"IP":"192.168.1.20",
            "Mac":"00:11:22:33:44:66", "Hostname":"pc", "Status":2}]} | ok | {"PortMode":4} |
            {"Leases":[{"IP":"192.168.1.20", "Mac":"00:11:22:33:44:66", "Hostname":"*******",
            "Status":2}]})",
        // VPN: of two tunnels with the same networks the first stays; a gateway
        // that does not parse ends the list and the read.
        R"(IpSecTunnel | {"LocalIdentifier":"me", "Tunnels":[{"LocalNetwork":"10.0.0.0",
            "LocalSubnet":"255.0.0.0", "RemoteNetwork":"11.0.0.0", "RemoteSubnet":"255.0.0.0"},
            {"LocalNetwork":"10.0.0.0", "LocalSubnet":"255.255.0.0", "RemoteNetwork":"11.0.0.0",
            "RemoteSubnet":"255.0.0.0"}, {"LocalNetwork":"10.0.0.0", "LocalSubnet":"255.0.0.0",
            "RemoteNetwork":"12.0.0.0", "RemoteSubnet":"255.0.0.0"}]} | ok |
            {"Tunnels":[{"LocalNetwork":"10.0.0.0", "LocalSubnet":"255.0.0.0",
            "RemoteNetwork":"11.0.0.0", "RemoteSubnet":"255.0.0.0"}, {"LocalNetwork":"10.0.0.0",
            "LocalSubnet":"255.0.0.0", "RemoteNetwork":"12.0.0.0", "RemoteSubnet":"255.0.0.0"}]} |
            {"LocalIdentifier":"*******"})",
        R"(DMVPNIpSec | {"PFS":null, "RemoteCertificateName":null} | ok)",
        R"(DMVPN | {"Gateways":null, "GatewayTrackAttempts":null} | ok)",
        R"(DMVPN | {"Gateways":[{"Index":1, "Gateway":"10.0.0.1"}, {"Index":2, "Gateway":"gw"},
            {"Index":3, "Gateway":"10.0.0.3"}], "GatewayTrackInterval":99} | Gateway |
            {"Gateways":[{"Index":1, "Gateway":"10.0.0.1"}], "GatewayTrackInterval":30})",
        R"(DMVPNNetwork | {"DisablePurge":null} | ok)",
    };
    for (const char* row : cases) {
        SCOPED_TRACE(row);
        std::vector<std::string> c = Split(row);
        c.resize(5, "{}");
        kora::Ref<cDBItem> item = Make(c[0]);
        EXPECT_EQ(LoadOver(*item, c[1]), c[2]);
        ExpectMembers(DataOf(*item), c[3].c_str());
        ExpectMembers(DataOf(*item, true), c[4].c_str());
    }
}

// (setter, accepted): rules other than plain ranges and shared checks, which a
// document cannot show or that add, keep one index, or widen.
TEST(Items, Setters) {
    cDBConfigLANInterface li;
    cDBConfigLANPort port;
    cDBConfigMacTable macs;
    cDBConfigVLAN vlan;
    cDBConfigCSRTemplate csr;
    cDBStatusWiredWan wired;
    cDBConfigDMVPN dmvpn;
    const kora::s_socket_addr a("10.0.0.1"), none, all("255.255.255.255"), ip("10.0.0.5");
    const AddressPair pair(a, kora::s_socket_addr("255.255.255.0"));
    const std::string mac = "00:11:22:33:44:55";
    RunSetters({
        {"pool start 0.0.0.0", [&] { return li.SetDHCPPoolStart(none); }, false},
        {"pool end broadcast", [&] { return li.SetDHCPPoolEnd(all); }, false},
        {"address", [&] { return li.SetIPByIndex(4, pair); }, true},
        {"address without netmask", [&] { return li.SetIPByIndex(5, AddressPair(a, none)); },
         false},
        {"lease to broadcast", [&] { return li.SetLeaseByIndex(mac, all); }, false},
        {"lease", [&] { return li.SetLeaseByIndex(mac, a); }, true},
        {"VRRP pair index 2", [&] { return li.SetVRRPIPByIndex(2, pair); }, false},
        {"VRRP pair broadcast", [&] { return li.SetVRRPIPByIndex(1, AddressPair(all, a)); }, false},
        {"VRRP pair", [&] { return li.SetVRRPIPByIndex(1, pair); }, true},
        {"member VLAN 65536+10", [&] { return port.AddVLANID(65546); }, false},
        {"egress mode adds", [&] { return port.SetEgressModeByVLANID(10, 0); }, true},
        {"MAC range 65536+5", [&] { return macs.SetEntryByIndex(mac, 65541, 1); }, false},
        {"MAC entry", [&] { return macs.SetEntryByIndex(mac, 5, 7); }, true},
        {"VLAN mask", [&] { return vlan.SetVLANByIndex(70000, 0xff); }, true},
        {"url ftp", [&] { return csr.SetSCEPURL("ftp://ca.example.org"); }, false},
        {"url empty", [&] { return csr.SetSCEPURL(""); }, false},
        {"url http", [&] { return csr.SetSCEPURL("http://ca/scep?x=1"); }, true},
        {"lease ok", [&] { return wired.SetLeaseByIP(ip, mac, 3, "pc1"); }, true},
        {"gateway text", [&] { return dmvpn.SetDefaultGatewayByIndex(1, "gw"); }, false},
        {"gateway", [&] { return dmvpn.SetDefaultGatewayByIndex(2, "10.0.0.2"); }, true},
    });
    std::set<unsigned> indexes;
    li.GetVRRPIPIndexList(indexes);
    EXPECT_EQ(indexes, std::set<unsigned>{1});
    EXPECT_EQ(li.GetVRRPIPByIndex(2), AddressPair());
    EXPECT_EQ(port.GetEgressModeByVLANID(10), 2);
    EXPECT_EQ(port.GetEgressModeByVLANID(11), 0);
    EXPECT_EQ(vlan.GetVLANByIndex(70000), 0xff);
}

// Values a device accepts only with the matching hardware feature.
TEST(Items, FeatureDependentRules) {
    const std::string mac = "00:11:22:33:44:55";
    for (bool present : {false, true}) {
        Features features(present ? std::vector<std::string>{"ManagedSwitch", "Wireless4G"}
                                  : std::vector<std::string>{"SerialRS232"});
        cDBConfigMacTable macs;
        cDBConfigWirelessWan wireless;
        cDBConfigRule r;
        EXPECT_EQ(macs.SetEntryByIndex(mac, 1, 3), present);
        EXPECT_EQ(wireless.SetNetMode(3), present);
        // Rule value names: some everywhere, switch ports' with the switch only.
        for (const char* name : {"RULE::EVENT::LAN1::LINK::UP", "STATIC::TRUE", "UINT::VAR::5"})
            EXPECT_TRUE(r.SetValueName(name)) << name;
        for (const char* name : {"RULE::EVENT::LAN3::LINK::UP", "RULE::EVENT::LAN::LINK::DOWN"})
            EXPECT_EQ(r.SetValueName(name), present) << name;
        for (const char* name : {"UINT::VAR::6", "uint::uptime", ""})
            EXPECT_FALSE(r.SetValueName(name)) << name;
    }
    // The last remote-access service by the device's serial ports.
    const std::pair<std::vector<std::string>, unsigned> byFeatures[] = {
        {{}, 4},
        {{"SerialRS232"}, 5},
        {{"SerialCombined"}, 6},
        {{"SerialRS232", "SerialCombined"}, 5}};
    for (const auto& c : byFeatures) {
        Features features(c.first);
        cDBConfigRemoteAccessRule ra;
        EXPECT_TRUE(ra.SetRemoteAccessService(c.second)) << c.second;
        EXPECT_FALSE(ra.SetRemoteAccessService(c.second + 1)) << c.second;
    }
}

namespace {

RuleAction Action(unsigned type, const std::string& name, const std::string& value) {
    RuleAction a(static_cast<uint8_t>(type), kora::s_map_string_string());
    a.second.SetAt(name, value);
    return a;
}

}  // namespace

// Each "key=value" as the only parameter of an event rule's action.
TEST(Items, RuleActionParameters) {
    const std::vector<const char*> accepted = {
        "loglevel=1",          "loglevel=4",         "port=65535", "type=2",
        "intvar=UINT::VAR::3", "setval=99999999999", "other=it's", "wansetup=any text",
        "emailText=Hi",        "oid=1.3.6.1"};
    const std::vector<const char*> refused = {
        "loglevel=0", "loglevel=5",       "port=65536",   "type=02",      "outputstate=on",
        "valoid=2.5", "receiverAddr=ops", "logtext=it's", "hostname=a_b", "oid=1."};
    for (bool ok : {true, false}) {
        for (const char* text : ok ? accepted : refused) {
            const std::string kv(text);
            const size_t eq = kv.find('=');
            cDBConfigRule r;
            EXPECT_EQ(r.SetActionByIndex(3, Action(5, kv.substr(0, eq), kv.substr(eq + 1))), ok)
                << text;
            EXPECT_EQ(r.GetActionByIndex(3).second.size(), ok ? 1u : 0u) << text;
        }
    }
    cDBConfigRule r;
    EXPECT_TRUE(r.SetActionByIndex(1, RuleAction(13, kora::s_map_string_string())));
    EXPECT_FALSE(r.SetActionByIndex(1, RuleAction(14, kora::s_map_string_string())));
    EXPECT_FALSE(r.SetUIntRange({10, 5}));
    EXPECT_FALSE(r.SetIntRange({-3, -7}));
    EXPECT_TRUE(r.SetIntRange({-7, -3}));
}

namespace {

// A default item of class `cls` (see Make) with `changes` loaded over its document.
kora::Ref<cDBItem> Loaded(const char* cls, const char* changes) {
    kora::Ref<cDBItem> item = Make(cls);
    EXPECT_EQ(LoadOver(*item, changes), "ok") << cls << changes;
    return item;
}

std::string Info(const char* cls, const char* changes) {
    return InfoOf(*Loaded(cls, changes));
}

}  // namespace

// Display entries, keys, links and text forms a class computes; secrets never show.
TEST(Items, DisplayEntriesKeysLinksAndTexts) {
    const std::pair<std::string, std::string> rows[] = {
        {Info("LANInterface", R"({"IPs":[{"Index":7, "IP":"10.0.0.7", "Netmask":"255.255.0.0"},
             {"Index":3, "IP":"10.0.0.1", "Netmask":"255.0.0.0"}]})"),
         "IP=10.0.0.1, Netmask=255.0.0.0, VLANID=1"},
        {Info("FilterRule", R"({"FromIP":"192.168.1.7", "FromNetmask":"255.255.255.0",
             "ToPort":"80", "MatchToVlan":true, "Rank":3})"),
         "FromInterface=0, FromNet=192.168.1.0/24, FromPortRange=, FromVLANID=1, "
         "MatchFromVlan=false, MatchToVlan=true, Protocol=0, Rank=3, Target=0, ToInterface=0, "
         "ToNet=0.0.0.0/0, ToPortRange=80, ToVLANID=1"},
        {Info("IpSecTunnel", R"({"RemoteHost":"peer.example.org"})"),
         "AuthMethod=1, IsakmpMode=2, RemoteHost=peer.example.org, TunnelCount=0"},
        {Loaded("WanRoute", R"({"Gateway":"10.0.0.1"})")->ToString(""),
         "cDBConfigWanRoute:Network:0.0.0.0, Netmask:0.0.0.0, Gateway:10.0.0.1, "
         "Type:Route over IP GW"},
        {Loaded("WiredWan", R"({"Password":"pw"})")->ToString(""),
         "cDBConfigWiredWan:Mode:2, IP:0.0.0.0, Gateway:0.0.0.0, Subnet:0.0.0.0, DNS1:0.0.0.0, "
         "DNS2:0.0.0.0, DNS3:0.0.0.0, MTU:1500, Username:, Password:*******"},
        {Loaded("WirelessWan", R"({"MobilePin":"1234"})")->ToString(""),
         "cDBConfigWirelessWan:SimSlot:0, NetMode:0, OperatorSelectionMode:0, "
         "MobilePin:*******, MobileData:true, RoamingEnabled:false"},
        {Loaded("GsmProvider", R"({"NetID":"26201", "Password":"secret", "APN":"apn.example"})")
             ->ToString(""),
         "cDBConfigGsmProvider:NetID:26201, APN:apn.example, Username:, Password:*******, "
         "AuthMode:0, DNS1:0.0.0.0, DNS2:0.0.0.0, DNS3:0.0.0.0"},
    };
    for (const auto& r : rows) EXPECT_EQ(r.first, r.second);

    cDBConfigWanRoute route;
    ReadStored(route, Wire().Tokens("v1 s:r s:/ a:0.0.0.0 a:0.0.0.0 a:0.0.0.0 u8:9"));
    EXPECT_EQ(route.ToString(""),
              "cDBConfigWanRoute:Network:0.0.0.0, Netmask:0.0.0.0, Gateway:0.0.0.0, "
              "Type:UNKNOWN(9)");
    cDBStatusPrivateKey key;
    ReadStored(key, Wire().Tokens("v1 s:x s:/ u32:4096 t:1700000000"));
    key.SetPubkey("abc");
    EXPECT_EQ(key.ToString("").substr(0, 50), "cDBStatusPrivateKey:PubkeyLen:4096;CreationTime:20");
    EXPECT_NE(key.ToString("").find(",PubkeyFingerprint:ba7816bf"), std::string::npos);
    cDBConfigCSRTemplate csr;
    csr.SetCommonName("router");
    EXPECT_EQ(InfoOf(csr), "CommonName=router<SerialNumber>, SCEPEnabled=false");
    csr.SetCommonNameMode(2);
    EXPECT_EQ(InfoOf(csr), "CommonName=router, SCEPEnabled=false");

    cDBConfigLANInterface li;
    EXPECT_EQ(li.GetKey(), "1");
    cDBConfigGsmProvider gsm;
    gsm.SetNetID("26201");
    EXPECT_EQ(gsm.GetKey(), "26201");
    cDBConfigWanSetup setup;
    ASSERT_TRUE(setup.SetWanMode(4));
    EXPECT_EQ(setup.GetWanModeString(), "cellular and DSL/cable");

    // Links: a WAN's start-up setup, the WAN setups a rule's actions name.
    cDBConfigWan wan;
    std::set<std::string> links;
    EXPECT_FALSE(wan.HasLinks());
    wan.SetStartUpWanSetup("Backup");
    EXPECT_TRUE(wan.HasLinks());
    wan.GetLinks(links);
    EXPECT_EQ(links, std::set<std::string>{"/Config/Network/WanSetups/Backup"});
    cDBConfigRule rule;
    ASSERT_TRUE(rule.SetValueName("BOOL::WAN::CONNECT"));
    EXPECT_EQ(InfoOf(rule), "Actions=, ValueName=BOOL::WAN::CONNECT");
    EXPECT_FALSE(rule.HasLinks());
    ASSERT_TRUE(rule.SetActionByIndex(2, Action(1, "wansetup", "Backup")));
    EXPECT_EQ(InfoOf(rule), "Actions=1, Parameter=Backup, ValueName=BOOL::WAN::CONNECT");
    ASSERT_TRUE(rule.SetActionByIndex(1, Action(4, "wansetup", "Main")));
    EXPECT_EQ(InfoOf(rule), "Actions=255, ValueName=BOOL::WAN::CONNECT");
    EXPECT_TRUE(rule.HasLinks());
    rule.GetLinks(links);
    EXPECT_EQ(links, (std::set<std::string>{"/Config/Network/WanSetups/Backup",
                                            "/Config/Network/WanSetups/Main"}));
    // Access levels by access class.
    cDBConfigAccess access;
    ASSERT_TRUE(access.SetAccessUART(2) && access.SetAccessLanStatus(1));
    EXPECT_EQ(access.GetLevel(ACCESS_CLASS_UART), 2u);
    EXPECT_EQ(access.GetLevel(ACCESS_CLASS_LAN_STATUS), 1u);
    EXPECT_EQ(access.GetLevel(ACCESS_CLASS_ADMIN_ONLY), 0u);
}

// Values a class converts on the way in or out.
TEST(Items, Conversions) {
    // Software versions set through the setters keep their first line.
    cDBStatusSoftware s;
    s.SetFirmwareVersion("2.1.0\n");
    s.SetKernelVersion("#1 SMP\r\nbuilt by ci");
    EXPECT_EQ(s.GetFirmwareVersion(), "2.1.0");
    EXPECT_EQ(s.GetKernelVersion(), "#1 SMP");

    // The dynamic DNS provider by service number; 4 comes only from a stored record.
    cDBConfigDDNS d;
    std::set<std::string> providers;
    for (uint8_t service : {0, 1, 2, 3, 4, 5}) {
        ASSERT_TRUE(
            ReadStored(d, Wire().Tokens("v1 s:x s:/ b1").U8(service).Tokens("s:u s: s: b1")));
        EXPECT_EQ(d.GetServiceString().empty(), service < 1 || service > 4) << int(service);
        providers.insert(d.GetServiceString());
    }
    EXPECT_EQ(providers.size(), 5u);

    // Key fingerprints are the SHA-256 of the key text.
    EXPECT_EQ(PublicKeyFingerprint("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    cDBCertificate c;
    ASSERT_TRUE(c.SetPublicKey("abc"));
    EXPECT_EQ(c.GetPublicKeyFingerprint(), PublicKeyFingerprint("abc"));
}
