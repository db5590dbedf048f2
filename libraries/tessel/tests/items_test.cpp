// What the item classes make irregular, as tables run by one loop each: older
// stored layouts token by token, JSON documents with their refusals, groups
// and cross-field rules, masking, setters whose rule a document cannot show,
// feature-dependent rules, conversions, and display entries and text forms.
// What every class does alike (round trips, defaults, damage, unknown
// versions, golden binary forms) is in registry_test.cpp and golden_test.cpp;
// the row kinds themselves in fields_test.cpp.
#include <sstream>

#include "golden_sample.h"
#include "item_doc.h"

using namespace tessel;
using namespace testdoc;
using testwire::Wire;

namespace {

kora::Ref<cDBItem> Make(const std::string& className) {
    return kora::Ref<cDBItem>::Adopt(
        dynamic_cast<cDBItem*>(kora::cObjectFactory::CreateObject(className)));
}

Json::Value DataOf(cDBItem& item, bool masked = false) {
    Json::Value root;
    item.ToJSON(root, masked);
    return root["Data"];
}

// Sets each member of `changes` in `object`; a null member removes it.
void Apply(Json::Value& object, const Json::Value& changes) {
    for (const auto& key : changes.getMemberNames()) {
        if (changes[key].isNull())
            object.removeMember(key);
        else
            object[key] = changes[key];
    }
}

// Every member of `expected` as `data` holds it.
void ExpectMembers(const Json::Value& data, const char* expected) {
    const Json::Value want = J(expected);
    for (const auto& key : want.getMemberNames())
        EXPECT_EQ(data[key].toStyledString(), want[key].toStyledString()) << key;
}

// A part of a stored form: its tokens, and the JSON members it sets.
struct Piece {
    std::function<void(Wire&)> write;
    const char* sets;
};

constexpr uint32_t kNet1 = 0x0a000001, kMask24 = 0xffffff00, kVip = 0x0a0000fe;

// ---- Parts of the LAN block and of the WAN items ----

const Piece kHostname{[](Wire& w) { w.Str("gw"); }, R"({"Hostname":"gw"})"};
const Piece kSearchPath{[](Wire& w) { w.Str("lan.example"); }, R"({"SearchPath":"lan.example"})"};
const Piece kPool{[](Wire& w) {
                      w.U8(2).U8(3).Str("ntp.lan").Bool(true);
                      w.Addr(0x0a00000a).Addr(0x0a000014).U32(3600);
                  },
                  R"({"DHCPMode":2, "DHCPNtpMode":3, "DHCPNtpServer":"ntp.lan", "DHCPPool":true,
                      "DHCPPoolStart":"10.0.0.10", "DHCPPoolEnd":"10.0.0.20", "DHCPLeaseTime":3600})"};
const Piece kRelay{[](Wire& w) { w.Str("relay.lan"); }, R"({"DHCPRelayServer":"relay.lan"})"};
const Piece kIPs{[](Wire& w) { w.U32(1).U32(3).Addr(kNet1).Addr(kMask24); },
                 R"({"IPs":[{"Index":3, "IP":"10.0.0.1", "Netmask":"255.255.255.0"}]})"};
const Piece kLeases{[](Wire& w) { w.U32(1).Str("00:11:22:33:44:55").Addr(0x0a000005); },
                    R"({"Leases":[{"Mac":"00:11:22:33:44:55", "IP":"10.0.0.5"}]})"};
const Piece kHosts{[](Wire& w) { w.U32(1).Str("nas").Addr(0x0a000006); },
                   R"({"Hosts":[{"Hostname":"nas", "IP":"10.0.0.6"}]})"};
const Piece kVrrpSettings{[](Wire& w) { w.Bool(true).U8(7).U8(200).U8(5); },
                          R"({"VRRPEnabled":true, "VRRPID":7, "VRRPPrio":200, "VRRPDelay":5})"};
const char* kVrrpAddress =
    R"({"VRRPIPs":[{"Index":1, "IP":"10.0.0.254", "Netmask":"255.255.255.0"}]})";
const Piece kVrrpPair{[](Wire& w) { w.Addr(kVip).Addr(kMask24); }, kVrrpAddress};
const Piece kVrrpHigh{[](Wire& w) { w.U8(250).U8(2); },
                      R"({"VRRPPrioHigh":250, "VRRPPrioMode":2})"};
// The stored list keeps index 1 only, wherever it stands.
const Piece kVrrpList{[](Wire& w) {
                          w.U32(2).U32(1).Addr(kVip).Addr(kMask24);
                          w.U32(2).Addr(0x0a0000fd).Addr(0xffff0000);
                      },
                      kVrrpAddress};
const Piece kVrrpListWithoutIndex1{[](Wire& w) { w.U32(1).U32(2).Addr(kVip).Addr(kMask24); }, "{}"};
// A stored VLAN ID of 0 reads back as 4094 on a LAN interface.
const Piece kVlanMtu{[](Wire& w) { w.U16(0).U16(1400); }, R"({"VLANID":4094, "MTU":1400})"};
const Piece kVlan{[](Wire& w) { w.Bool(true).U16(12); }, R"({"VLANEnabled":true, "VLANID":12})"};
const Piece kLanPort{[](Wire& w) { w.Bool(false).U8(3).U16(1400); },
                     R"({"Enabled":false, "Mode":3, "MTU":1400})"};
const Piece kWiredPort{[](Wire& w) { w.Bool(false).U8(4); }, R"({"Enabled":false, "PortMode":4})"};
const Piece kWan{[](Wire& w) {
                     w.U8(3).Addr(kNet1).Addr(0x0a0000fe).Addr(kMask24).Bool(false);
                     w.Addr(0x08080808).Addr(0x08080404).Addr(0x01010101).U16(1492);
                     w.Str("user").Str("pass");
                 },
                 R"({"Mode":3, "IP":"10.0.0.1", "Gateway":"10.0.0.254", "Subnet":"255.255.255.0",
                     "UseProviderDNS":false, "DNS1":"8.8.8.8", "DNS2":"8.8.4.4", "DNS3":"1.1.1.1",
                     "MTU":1492, "Username":"user", "Password":"pass"})"};
const Piece kMobile{[](Wire& w) {
                        w.U8(1).U8(2).U8(1).Str("1234").Bool(false).Bool(true);
                        w.U32(1).U32(4).Str("26201");
                    },
                    R"({"SimSlot":1, "NetMode":2, "OperatorSelectionMode":1, "MobilePin":"1234",
                        "MobileData":false, "RoamingAllowed":true,
                        "Operators":[{"Index":4, "Operator":"26201"}]})"};
const Piece kAccess{[](Wire& w) {
                        w.Str("apn.example").Str("u").Str("p").U8(1).Bool(false);
                        w.Addr(0x08080808).Addr(0x08080404).Addr(0x01010101);
                    },
                    R"({"APN":"apn.example", "Username":"u", "Password":"p", "AuthMode":1,
                        "UseProviderDNS":false, "DNS1":"8.8.8.8", "DNS2":"8.8.4.4",
                        "DNS3":"1.1.1.1"})"};
const std::vector<Piece> kLanBlock = {kHostname, kSearchPath, kPool, kRelay, kIPs, kLeases, kHosts};

// ---- Parts of the other items ----

// A piece that sets no member (a dropped token, or one whose default it holds).
Piece Dropped(std::function<void(Wire&)> write) {
    return {std::move(write), "{}"};
}
const Piece kLanPortHead{[](Wire& w) { w.Bool(false).U8(2).U16(0); },
                         R"({"Enabled":false, "Mode":2, "VLANID":4094})"};
const Piece kVlanTags{[](Wire& w) { w.Bool(true); }, R"({"VLANTags":true})"};
const char* kMembers = R"({"VLANIDS":[{"VLANID":5}, {"VLANID":9}]})";
const Piece kBridge{[](Wire& w) { w.Bool(true).U8(30).U8(20).U8(0).U8(3).U8(10).U8(15).U8(9); },
                    R"({"Enabled":true, "MaximumAge":30, "ForwardDelay":20, "MaxHops":0,
                        "Protocol":3, "TXHoldCount":10, "BridgePriority":15, "HelloTime":9})"};
const Piece kMacs{
    [](Wire& w) { w.Bool(true).U32(1).Str("00:11:22:33:44:55"); },
    R"({"Enabled":true, "Macs":[{"Mac":"00:11:22:33:44:55", "Range":1, "Ports":7}]})"};
const Piece kWanMode{[](Wire& w) { w.U8(3); }, R"({"WanMode":3})"};
const Piece kCsr{[](Wire& w) {
                     w.U8(2).Str("cn").U8(1).Str("org").Str("unit").Str("DE").Str("st");
                     w.Str("city").Str("e");
                 },
                 R"({"CommonNameMode":2, "CommonName":"cn", "SignatureAlgorithm":1,
                     "OrganisationName":"org", "OrgantisationUnitName":"unit", "CountryName":"DE",
                     "StateName":"st", "CityName":"city", "Email":"e"})"};
const Piece kScep{[](Wire& w) { w.Bool(true).Str("https://ca"); },
                  R"({"SCEPEnabled":true, "SCEPURL":"https://ca"})"};
const Piece kSerial{[](Wire& w) { w.Bool(true).U8(9); }, R"({"Enabled":true, "UARTSpeed":9})"};
const Piece kUart{[](Wire& w) { w.U8(7).U8(2).U8(2); },
                  R"({"UARTDataBits":7, "UARTParity":2, "UARTStopBits":2})"};
const Piece kListen{[](Wire& w) { w.U16(4000); }, R"({"ListenPort":4000})"};
// The first twelve access levels, each 1; later versions add one level each.
const Piece kLevels{[](Wire& w) {
                        for (int i = 0; i < 12; ++i) w.U8(1);
                    },
                    R"({"AccessWanStatus":1, "AccessWanConfig":1, "AccessLanStatus":1,
                        "AccessLanConfig":1, "AccessSystemStatus":1, "AccessDeviceManagement":1,
                        "AccessFirewallConfig":1, "AccessLogbook":1, "AccessUpdate":1,
                        "AccessReboot":1, "AccessDateTime":1, "AccessWebInterfaceConfig":1})"};
const Piece kSourceNet{[](Wire& w) { w.Addr(0xc0a80100).Addr(kMask24); },
                       R"({"FromIP":"192.168.1.0", "FromNetmask":"255.255.255.0"})"};
const Piece kNoTarget = Dropped([](Wire& w) { w.Addr(0).Addr(0); });
const Piece kPriority{[](Wire& w) { w.U8(1).U8(3); }, R"({"Protocol":1, "Priority":3})"};
// Stored proposal (ISAKMP mode, encryption, hash; IPsec encryption, hash; DH
// group) with hash 3, which reads back as 1.
const Piece kProposal{[](Wire& w) { w.U8(2).U8(4).U8(3).U8(4).U8(3).U8(2); },
                      R"({"IsakmpMode":2, "IsakmpEncryption":4, "IsakmpHash":1,
                          "IpSecEncryption":4, "IpSecHash":1, "DHGroup":2})"};
const Piece kDetection{
    [](Wire& w) { w.U8(3).Bool(true).U16(150).U16(60).U16(5); },
    R"({"NATT":3, "DPD":true, "DPDDelay":150, "DPDTimeout":60, "DPDRetries":5})"};
const Piece kNoPfs{[](Wire& w) { w.Bool(false); }, R"({"PFS":false})"};
const Piece kProfile{[](Wire& w) { w.U32(100).U32(200).Str("id").U8(2).Str("psk"); },
                     R"({"IsakmpLifetime":100, "IpSecLifetime":200, "Identifier":"id",
                         "AuthMethod":2, "PreSharedKey":"psk"})"};
const Piece kNetwork{[](Wire& w) {
                         w.U16(600).Bool(true).Bool(false).Str("key").U32(42);
                         w.Addr(0x0a000002).Addr(0xffffff00).U16(1400);
                     },
                     R"({"HoldTime":600, "Multicast":true, "UseCiscoAuth":false,
                         "CiscoAuthKey":"key", "GreKey":42, "LocalAddr":"10.0.0.2",
                         "Netmask":"255.255.255.0", "MTU":1400})"};
const Piece kNhsAddress{[](Wire& w) { w.Addr(0xc0000201); }, R"({"NextHopServer":"192.0.2.1"})"};
const Piece kNhsText{[](Wire& w) { w.Str("192.0.2.1"); }, R"({"NextHopServer":"192.0.2.1"})"};
const Piece kNhsTunnel{[](Wire& w) { w.Addr(kNet1); }, R"({"NHSProtocol":"10.0.0.1"})"};
const Piece kRip{[](Wire& w) { w.Bool(true); }, R"({"Enabled":true})"};
const Piece kHub{[](Wire& w) { w.Bool(true); }, R"({"HubMode":true})"};

struct StoredCase {
    const char* className;
    unsigned version;
    std::vector<Piece> pieces;
    bool accepted = true;
};

std::vector<Piece> Cat(std::initializer_list<std::vector<Piece>> parts) {
    return Join<Piece>(parts);
}

}  // namespace

// Reads `pieces` stored as `version` into a sample with every field set (see
// golden_sample.h): the item then holds what they set and defaults elsewhere,
// or (refused) defaults only.
TEST(Items, StoredLayouts) {
    const auto lan = kLanBlock;
    const std::vector<StoredCase> cases = {
        {"cDBConfigLANInterface", 2, {kVlanMtu, kPool, kIPs, kLeases}},
        {"cDBConfigLANInterface", 3, {kVlanMtu, kHostname, kPool, kRelay, kIPs, kLeases, kHosts}},
        {"cDBConfigLANInterface", 4, Cat({{kVlanMtu}, lan})},
        {"cDBConfigLANInterface", 5, Cat({{kVlanMtu}, lan, {kVrrpSettings}})},
        {"cDBConfigLANInterface", 6, Cat({{kVlanMtu}, lan, {kVrrpSettings, kVrrpPair}})},
        {"cDBConfigLANInterface", 7, Cat({{kVlanMtu}, lan, {kVrrpSettings, kVrrpPair, kVrrpHigh}})},
        {"cDBConfigLANInterface", 8, Cat({{kVlanMtu}, lan, {kVrrpSettings, kVrrpHigh, kVrrpList}})},
        {"cDBConfigLANInterface", 8,
         Cat({{kVlanMtu}, lan, {kVrrpSettings, kVrrpHigh, kVrrpListWithoutIndex1}})},
        {"cDBConfigLANInterface", 9, Cat({{kVlanMtu}, lan, {kVrrpSettings, kVrrpHigh, kVrrpPair}})},
        {"cDBConfigLANInterface", 1, {}, false},
        {"cDBConfigWiredWan", 1, {kWan}},
        {"cDBConfigWiredWan", 2, {}, false},
        {"cDBConfigWiredWan", 3, Cat({{kWan, kVlan}, lan})},
        {"cDBConfigWiredWan", 4, Cat({{kWan, kVlan}, lan, {kVrrpSettings}})},
        {"cDBConfigWiredWan", 5, Cat({{kWan, kVlan}, lan, {kVrrpSettings, kVrrpPair}})},
        {"cDBConfigWiredWan", 6, Cat({{kWan, kVlan}, lan, {kVrrpSettings, kVrrpPair, kVrrpHigh}})},
        {"cDBConfigWiredWan", 7, Cat({{kWan, kVlan}, lan, {kVrrpSettings, kVrrpHigh, kVrrpList}})},
        {"cDBConfigWiredWan", 8,
         Cat({{kWiredPort, kWan, kVlan}, lan, {kVrrpSettings, kVrrpHigh, kVrrpList}})},
        {"cDBConfigWiredWan", 9,
         Cat({{kWiredPort, kWan, kVlan}, lan, {kVrrpSettings, kVrrpHigh, kVrrpPair}})},
        {"cDBConfigLan", 1, Cat({{kLanPort, kVlan}, lan, {kVrrpSettings, kVrrpHigh, kVrrpList}})},
        {"cDBConfigLan", 2, Cat({{kLanPort, kVlan}, lan, {kVrrpSettings, kVrrpHigh, kVrrpPair}})},
        {"cDBConfigLANPort", 1, {kLanPortHead, Dropped([](Wire& w) { w.Bool(true); }), kVlanTags}},
        {"cDBConfigLANPort", 2, {kLanPortHead, kVlanTags}},
        {"cDBConfigLANPort",
         3,
         {kLanPortHead,
          kVlanTags,
          {[](Wire& w) { w.U32(2).U16(5).U8(1).U16(9).U8(2); }, kMembers}}},
        {"cDBConfigLANPort",
         4,
         {kLanPortHead, kVlanTags, {[](Wire& w) { w.U32(2).U16(5).U16(9); }, kMembers}}},
        {"cDBConfigWirelessWan", 1, {kMobile}},
        {"cDBConfigWirelessWan",
         4,
         {kMobile,
          {[](Wire& w) { w.U8(1); }, R"({"ProviderConfigurationMode":1})"},
          kAccess,
          {[](Wire& w) { w.U16(30).Bool(false); },
           R"({"StatusPollInterval":30, "EnableDiversity":false})"}}},
        {"cDBConfigGsmProvider",
         1,
         {{[](Wire& w) { w.Str("26201"); }, R"({"NetID":"26201"})"}, kAccess}},
        {"cDBConfigMacTable", 1, {kMacs, Dropped([](Wire& w) { w.U8(7); })}},
        {"cDBConfigMacTable", 2, {kMacs, Dropped([](Wire& w) { w.U16(1).U8(7); })}},
        {"cDBConfigSpanningTree", 1, {kBridge}},
        {"cDBConfigWanSetup", 1, {Dropped([](Wire& w) { w.Str("dropped"); }), kWanMode}},
        {"cDBConfigWanSetup", 2, {kWanMode}},
        {"cDBConfigWanRoute",
         1,
         {{[](Wire& w) { w.Addr(0xc0a80000).Addr(0xffff0000).Addr(kNet1).U8(2); },
           R"({"Network":"192.168.0.0", "Netmask":"255.255.0.0", "Gateway":"10.0.0.1",
               "RouteType":2})"}}},
        {"cDBConfigVLAN",
         1,
         {{[](Wire& w) { w.U32(1).U32(12).U8(5); },
           R"({"VLANTable":[{"VLANID":12, "VLANMask":5}]})"}}},
        // Certificates and serial ports: version 3 of a CSR template held a
        // text after the SCEP pair, version 2 lacks the pair.
        {"cDBConfigCSRTemplate", 1, {}, false},
        {"cDBConfigCSRTemplate", 2, {kCsr}},
        {"cDBConfigCSRTemplate", 3, {kCsr, kScep, Dropped([](Wire& w) { w.Str("dropped"); })}},
        {"cDBConfigCSRTemplate", 4, {kCsr, kScep}},
        // A key status of version 1 has no fingerprint: it reads as empty.
        {"cDBStatusPrivateKey",
         1,
         {{[](Wire& w) { w.U32(4096).Time(1700000000); },
           R"({"PublicKeyLength":4096, "CreationTime":1700000000})"}}},
        {"cDBConfigRS232", 1, {kSerial, kListen}},
        {"cDBConfigRS232", 2, {kSerial, kUart, kListen}},
        {"cDBConfigRS232",
         4,
         {kSerial,
          kUart,
          {[](Wire& w) { w.Bool(true).U8(3); }, R"({"UARTEcho":true, "UARTFlowControl":3})"},
          kListen}},
        {"cDBConfigRS485",
         3,
         {{[](Wire& w) { w.Bool(false).U8(2).U8(6).U8(1).U8(1); },
           R"({"UARTSpeed":2, "UARTDataBits":6, "UARTParity":1, "UARTStopBits":1})"},
          Dropped([](Wire& w) { w.U8(77); }),
          {[](Wire& w) { w.U16(5000); }, R"({"ListenPort":5000})"}}},
        // Device management: a version 1 RADIUS item lacks the access level;
        // the access levels grew one per version.
        {"cDBConfigRadius",
         1,
         {{[](Wire& w) {
               w.Bool(true).Str("r1").U16(1812).Str("s1").Bool(false).Str("").U16(1813).Str("");
           },
           R"({"Enabled":true, "Host1":"r1", "Secret1":"s1", "Port2":1813})"}}},
        {"cDBConfigAccess", 1, {kLevels}},
        {"cDBConfigAccess",
         3,
         {kLevels,
          {[](Wire& w) { w.U8(2).U8(2); }, R"({"AccessCertificates":2, "AccessTools":2})"}}},
        {"cDBConfigEmail", 1, {}, false},
        {"cDBConfigSnapshot", 1, {}, false},
        {"cDBUser", 2, {}, false},
        // Firewall: traffic priority 1 without ports and rank, 3 and 4 with
        // one port per end, 5 with ranges and rank; 2 is refused.
        {"cDBConfigTrafficPriorityRule", 1, {kSourceNet, kNoTarget, kPriority}},
        {"cDBConfigTrafficPriorityRule", 2, {kSourceNet, kNoTarget, kPriority}, false},
        {"cDBConfigTrafficPriorityRule",
         3,
         {kSourceNet,
          {[](Wire& w) { w.U16(500); }, R"({"FromPort":"500"})"},
          kNoTarget,
          Dropped([](Wire& w) { w.U16(0); }),
          kPriority}},
        {"cDBConfigTrafficPriorityRule",
         4,
         {kSourceNet,
          Dropped([](Wire& w) { w.U16(0); }),
          kNoTarget,
          {[](Wire& w) { w.U16(53); }, R"({"ToPort":"53"})"},
          kPriority}},
        {"cDBConfigTrafficPriorityRule",
         5,
         {kSourceNet,
          {[](Wire& w) { w.U16(10).U16(20); }, R"({"FromPort":"10:20"})"},
          kNoTarget,
          {[](Wire& w) { w.U16(5).U16(5); }, R"({"ToPort":"5"})"},
          kPriority,
          {[](Wire& w) { w.U32(4); }, R"({"Rank":4})"}}},
        // Filter rule version 1: no VLAN matches, rank last.
        {"cDBConfigFilterRule",
         1,
         {kSourceNet,
          {[](Wire& w) { w.U16(1).U16(2).U8(3); }, R"({"FromPort":"1:2", "FromInterface":3})"},
          kNoTarget,
          Dropped([](Wire& w) { w.U16(0).U16(0); }),
          {[](Wire& w) { w.U8(2).U8(1).U8(1).Bool(true).U32(9); },
           R"({"ToInterface":2, "Protocol":1, "Target":1, "Log":true, "Rank":9})"}}},
        {"cDBConfigPacketFilter", 1, {{[](Wire& w) { w.Bool(true); }, R"({"LogUnknown":true})"}}},
        // An event rule of version 1 lacks the execution mode and cool-down;
        // an action travels with its parameter map in the map's own form
        // (count as a 16-bit scalar, then name and value per entry).
        {"cDBConfigRule",
         1,
         {{[](Wire& w) {
               w.U8(2).Str("UINT::VAR::1").Str("s").Bool(true).Time(60);
               w.U32(1).U32(9).I32(-1).I32(1).U8(3).U32(15).U32(1).U32(7).U8(1);
               w.Version(1).U16(2).Str("loglevel").Str("3").Str("wansetup").Str("Main");
           },
           R"({"RuleType":2, "ValueName":"UINT::VAR::1", "StringValue":"s", "BoolValue":true,
               "TimeValue":60, "UintRange":{"Low":1, "High":9}, "IntRange":{"Low":-1, "High":1},
               "Operator":3, "Timeout":15, "Actions":[{"Index":7, "ActionType":1, "Parameters":[
               {"Name":"loglevel", "Value":"3"}, {"Name":"wansetup", "Value":"Main"}]}]})"}}},
        // WAN services: a RIP item held one neighbour before the interval in
        // version 1, a list after it in 2, the default-gateway flag in 3 and
        // the cost in 4.
        {"cDBConfigConnCheck",
         1,
         {{[](Wire& w) { w.Bool(true).Str("a").Str("b").Str("").Str("").U32(60).U16(5).U16(0); },
           R"({"Enabled":true, "ICMPHost1":"a", "ICMPHost2":"b", "Interval":60, "Timeout":5,
               "Retries":0})"}}},
        {"cDBConfigRIP",
         1,
         {kRip,
          {[](Wire& w) { w.Addr(0x0a000002).U16(45); },
           R"({"Hosts":[{"Host":"10.0.0.2"}], "UpdateInterval":45})"}}},
        {"cDBConfigRIP",
         2,
         {kRip,
          {[](Wire& w) { w.U16(45).U32(2).Addr(kNet1).Addr(0x0a000002); },
           R"({"UpdateInterval":45, "Hosts":[{"Host":"10.0.0.1"}, {"Host":"10.0.0.2"}]})"}}},
        {"cDBConfigRIP",
         4,
         {kRip,
          {[](Wire& w) { w.U16(45).U32(0).Bool(true).U8(7); },
           R"({"UpdateInterval":45, "UseDefaultGWOnly":true, "Cost":7})"}}},
        // Status: version 1 of the LAN status lacks the VRRP state.
        {"cDBStatusLan",
         1,
         {{[](Wire& w) {
               w.Bool(true).U8(3).U32(1).Str("00:11:22:33:44:55").U64(7).U64(8).Addr(kNet1);
               w.Addr(kMask24).Str("00:11:22:33:44:66").U8(2);
               w.U32(1).Addr(0x0a000002).Str("00:11:22:33:44:77").Str("pc").U8(1);
           },
           R"({"Link":true, "Mode":3, "Macs":[{"Mac":"00:11:22:33:44:55"}], "BystesReceived":7,
               "BystesSent":8, "IP":"10.0.0.1", "Netmask":"255.255.255.0",
               "Mac":"00:11:22:33:44:66", "DHCPMode":2, "Leases":[{"IP":"10.0.0.2",
               "Mac":"00:11:22:33:44:77", "Hostname":"pc", "Status":1}]})"}}},
        // VPN: a stored hash 3 reads as 1. A profile had neither PFS nor
        // certificate names in version 1, no names in 2.
        {"cDBConfigIpSecTunnel",
         3,
         {{[](Wire& w) {
               w.Bool(false).Str("peer.example.org").U32(3600).U32(1800).Str("me").Str("you");
               w.U8(1).Str("psk").Str("").Str("");
           },
           R"({"RemoteHost":"peer.example.org", "IsakmpLifetime":3600, "IpSecLifetime":1800,
               "LocalIdentifier":"me", "RemoteIdentifier":"you", "PreSharedKey":"psk"})"},
          kProposal,
          Dropped([](Wire& w) { w.Bool(true); }),
          kDetection,
          {[](Wire& w) {
               w.U32(1).Addr(0x0a000000).Addr(0xff000000).Addr(0x0b000000).Addr(0xff000000);
           },
           R"({"Tunnels":[{"LocalNetwork":"10.0.0.0", "LocalSubnet":"255.0.0.0",
               "RemoteNetwork":"11.0.0.0", "RemoteSubnet":"255.0.0.0"}]})"}}},
        {"cDBConfigDMVPNIpSec", 1, {kProfile, kProposal, kDetection}},
        {"cDBConfigDMVPNIpSec", 2, {kProfile, kProposal, kNoPfs, kDetection}},
        {"cDBConfigDMVPNIpSec",
         3,
         {kProfile,
          {[](Wire& w) { w.Str("dev").Str("ca"); },
           R"({"DeviceCertificateName":"dev", "RemoteCertificateName":"ca"})"},
          kProposal,
          kNoPfs,
          kDetection}},
        // Version 2 of the multipoint VPN drops a gateway whose index is in
        // another scalar form; version 3 files it under index 0. The address
        // after such an index is still read.
        {"cDBConfigDMVPN",
         2,
         {{[](Wire& w) {
               w.Bool(true).Bool(false).Bool(true).U32(2).U32(4).Addr(0x0a000004);
               w.Version(2).Addr(0x0a000009);
           },
           R"({"UseDefaultGateway":true, "UseIpSec":true,
               "Gateways":[{"Index":4, "Gateway":"10.0.0.4"}]})"}}},
        {"cDBConfigDMVPN",
         3,
         {{[](Wire& w) {
               w.Bool(true).Bool(false).Bool(true).U32(2).U32(4).Addr(0x0a000004);
               w.Version(2).Addr(0x0a000009).U16(60).U8(5);
           },
           R"({"UseDefaultGateway":true, "UseIpSec":true, "GatewayTrackInterval":60,
               "GatewayTrackAttempts":5, "Gateways":[{"Index":0, "Gateway":"10.0.0.9"},
               {"Index":4, "Gateway":"10.0.0.4"}]})"}}},
        // A network stored its next hop server as an address in versions 2
        // and 3, 3 added its tunnel address, 4 made it text, 5 added the
        // purge flag.
        {"cDBConfigDMVPNNetwork", 2, {kHub, kNhsAddress, kNetwork}},
        {"cDBConfigDMVPNNetwork", 3, {kHub, kNhsAddress, kNhsTunnel, kNetwork}},
        {"cDBConfigDMVPNNetwork", 4, {kHub, kNhsText, kNhsTunnel, kNetwork}},
        {"cDBConfigDMVPNNetwork",
         5,
         {kHub,
          kNhsText,
          kNhsTunnel,
          kNetwork,
          {[](Wire& w) { w.Bool(true); }, R"({"DisablePurge":true})"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.className) + " v" + std::to_string(c.version));
        Json::Value expected = DataOf(*Make(c.className));
        golden::Object sample = golden::Sample(c.className);
        auto* item = dynamic_cast<cDBItem*>(sample.get());
        ASSERT_NE(item, nullptr);
        Wire w;
        w.Version(uint16_t(c.version)).Str("n").Str("/d/");
        for (const auto& p : c.pieces) {
            p.write(w);
            if (c.accepted) Apply(expected, J(p.sets));
        }
        ASSERT_EQ(ReadStored(*item, w), c.accepted ? 1 : 0);
        EXPECT_EQ(DataOf(*item).toStyledString(), expected.toStyledString());
    }
}

// (class, changes to its default document, "ok" or the refused keys in order,
// members then held, members of the masked form). Lists of the LAN block are
// filled in first, so that a refusal shows which were taken.
TEST(Items, JsonDocuments) {
    struct Case {
        const char* className;
        const char* changes;
        const char* outcome;
        const char* holds = "{}";
        const char* masked = "{}";
    };
    const char* goodLists = R"({"IPs":[{"Index":1, "IP":"10.0.0.1", "Netmask":"255.0.0.0"}],
        "Leases":[{"Mac":"00:11:22:33:44:55", "IP":"10.0.0.5"}],
        "Hosts":[{"Hostname":"nas", "IP":"10.0.0.6"}]})";
    const char* noVrrp = R"({"VRRPEnabled":null, "VRRPID":null, "VRRPPrio":null,
        "VRRPDelay":null, "VRRPPrioHigh":null, "VRRPPrioMode":null, "VRRPIPs":null})";
    const char* tooMuch = R"({"Macs":[{"Mac":"00:11:22:33:44:55", "Range":600, "Ports":1},
                                      {"Mac":"00:11:22:33:44:66", "Range":500, "Ports":2}]})";
    const std::vector<Case> cases = {
        // The DHCP pool: read only when enabled, and must run upwards.
        {"cDBConfigLan",
         R"({"DHCPPool":false, "DHCPPoolStart":"1.2.3.4", "DHCPPoolEnd":"1.2.3.4"})", "ok",
         R"({"DHCPPoolStart":"0.0.0.0", "DHCPPoolEnd":"0.0.0.0"})"},
        {"cDBConfigLan",
         R"({"DHCPPool":true, "DHCPPoolStart":"192.168.1.100", "DHCPPoolEnd":"192.168.1.100"})",
         "DHCPPoolEnd DHCPPoolStart"},
        {"cDBConfigLan",
         R"({"DHCPPool":true, "DHCPPoolStart":"10.0.0.9", "DHCPPoolEnd":"10.0.0.99"})", "ok",
         R"({"DHCPPoolStart":"10.0.0.9", "DHCPPoolEnd":"10.0.0.99"})"},
        {"cDBConfigLANInterface",
         R"({"DHCPPool":true, "DHCPPoolStart":"255.255.255.255", "DHCPPoolEnd":"10.0.0.9"})",
         "DHCPPoolStart", R"({"DHCPPoolStart":"0.0.0.0"})"},
        // "VRRPIPs": index 1 only, checked; the LAN requires the member.
        {"cDBConfigLan", R"({"VRRPIPs":[{"Index":2, "IP":"10.0.0.9", "Netmask":"255.0.0.0"}]})",
         "ok", R"({"VRRPIPs":[{"Index":1, "IP":"0.0.0.0", "Netmask":"0.0.0.0"}]})"},
        {"cDBConfigLan",
         R"({"VRRPIPs":[{"Index":1, "IP":"255.255.255.255", "Netmask":"0.0.0.0"}]})", "VRRPIP"},
        {"cDBConfigLan", R"({"VRRPIPs":null})", ""},
        {"cDBConfigLANInterface", R"({"VRRPIPs":[{"Index":1, "IP":"10.0.0.9"}]})", ""},
        // A refused element is named by its singular key and stops the later ones.
        {"cDBConfigLan",
         R"({"IPs":[{"Index":1, "IP":"10.0.0.1", "Netmask":"0.0.0.0"},
                    {"Index":2, "IP":"10.0.0.2", "Netmask":"255.0.0.0"}]})",
         "IP", R"({"IPs":[], "Leases":[]})"},
        {"cDBConfigLANInterface", R"({"Leases":[{"Mac":"00-11-22-33-44-55", "IP":"10.0.0.5"}]})",
         "Lease", R"({"Hosts":[]})"},
        {"cDBConfigWiredWan", R"({"Hosts":[{"Hostname":"", "IP":"10.0.0.6"}]})", "Host"},
        {"cDBConfigHosts", R"({"Hosts":[{"Hostname":"nas_1", "IP":"10.0.0.6"}]})", "Host"},
        {"cDBConfigLANPort", R"({"VLANIDS":[{"VLANID":0}, {"VLANID":5}]})", "VLANID",
         R"({"VLANIDS":[]})"},
        // LAN interface: the VRRP groups are optional, read in order until one is refused.
        {"cDBConfigLANInterface", noVrrp, "ok"},
        {"cDBConfigLANInterface",
         R"({"VRRPIPs":null, "VRRPVIP":"10.0.0.1", "VRRPVNetmask":"255.255.255.0"})", "ok",
         R"({"VRRPIPs":[{"Index":1, "IP":"10.0.0.1", "Netmask":"255.255.255.0"}]})"},
        {"cDBConfigLANInterface",
         R"({"VRRPVIP":"255.255.255.255", "VRRPVNetmask":"255.0.0.0", "VRRPPrioHigh":200})",
         "VRRPVIP", R"({"VRRPPrioHigh":100})"},
        {"cDBConfigLANInterface", R"({"VRRPID":0, "VRRPPrioHigh":200})", "VRRPID",
         R"({"VRRPPrioHigh":100})"},
        {"cDBConfigLANInterface", R"({"VRRPDelay":null, "VRRPID":9, "VRRPPrioHigh":200})", "ok",
         R"({"VRRPID":1, "VRRPPrioHigh":200})"},
        // Wired WAN: required WAN members, then the LAN, VRRP and port groups.
        {"cDBConfigWiredWan", R"({"Enabled":null, "PortMode":null, "VLANEnabled":null})", "ok",
         R"({"Enabled":true, "PortMode":1})"},
        {"cDBConfigWiredWan", R"({"PortMode":6})", "PortMode"},
        {"cDBConfigWiredWan", R"({"DHCPMode":4, "PortMode":9, "Enabled":false})", "DHCPMode",
         R"({"Enabled":true})"},
        {"cDBConfigWiredWan", R"({"Hosts":null, "VLANID":12})", "ok", R"({"VLANID":1})"},
        {"cDBConfigWiredWan", R"({"Username":"me"})", "ok", "{}",
         R"({"Username":"*******", "Password":""})"},
        // Wireless WAN: group 2 is marked by four members; the rest may be missing.
        {"cDBConfigWirelessWan", R"({"APN":null, "AuthMode":5, "StatusPollInterval":30})", "ok",
         R"({"AuthMode":0, "StatusPollInterval":30})"},
        {"cDBConfigWirelessWan", R"({"AuthMode":null, "UseProviderDNS":null})", "ok",
         R"({"AuthMode":0, "UseProviderDNS":false})"},
        {"cDBConfigWirelessWan", R"({"DNS2":null, "StatusPollInterval":30})", "DNS2",
         R"({"StatusPollInterval":60})"},
        {"cDBConfigWirelessWan", R"({"StatusPollInterval":4, "EnableDiversity":false})",
         "StatusPollInterval", R"({"EnableDiversity":true})"},
        {"cDBConfigWirelessWan", R"({"OperatorSelectionMode":3, "ProviderConfigurationMode":2})",
         "ok", R"({"OperatorSelectionMode":0, "ProviderConfigurationMode":0})"},
        {"cDBConfigWirelessWan", R"({"Operators":[{"Index":1, "Operator":"1234567"}]})", "",
         R"({"Operators":[]})"},
        {"cDBConfigWirelessWan", R"({"MobilePin":"0000", "Password":"x"})", "ok", "{}",
         R"({"MobilePin":"*******", "Password":"*******"})"},
        // The MAC table's ranges may not exceed 1000 together.
        {"cDBConfigMacTable", tooMuch, "Range", tooMuch},
        {"cDBConfigMacTable",
         R"({"Macs":[{"Mac":"00:11:22:33:44:55", "Range":600, "Ports":7},
                     {"Mac":"00:11:22:33:44:66", "Range":400, "Ports":2}]})",
         "ok"},
        // Other LAN and WAN items with rules of their own.
        {"cDBConfigVLAN", R"({"VLANTable":[{"VLANID":7, "VLANMask":300}]})", "ok",
         R"({"VLANTable":[{"VLANID":7, "VLANMask":44}]})"},
        {"cDBConfigWanRoute", R"({"RouteType":3})", "RouteType"},
        // Certificates and serial ports: the SCEP pair is optional and read
        // only as a pair; a refused parity ends the read before echo and flow
        // control.
        {"cDBConfigCSRTemplate", R"({"SCEPURL":"https://ca", "SCEPEnabled":null})", "ok",
         R"({"SCEPURL":""})"},
        {"cDBConfigCSRTemplate", R"({"SCEPURL":"mailto:x"})", "SCEPURL"},
        {"cDBConfigRS232",
         R"({"UARTDataBits":null, "UARTParity":null, "UARTStopBits":null, "UARTEcho":null,
             "UARTFlowControl":null, "UARTSpeed":3})",
         "ok", R"({"UARTSpeed":3})"},
        {"cDBConfigRS232", R"({"UARTParity":0, "UARTEcho":true, "UARTFlowControl":2})",
         "UARTParity", R"({"UARTEcho":false, "UARTFlowControl":1})"},
        // Device management: optional members added by later versions.
        {"cDBConfigAccess",
         R"({"AccessCertificates":null, "AccessTools":null, "AccessUART":null,
             "AccessLogbook":2})",
         "ok", R"({"AccessLogbook":2})"},
        {"cDBConfigAccess", R"({"AccessCertificates":3, "AccessTools":2, "AccessUART":2})",
         "AccessCertificates", R"({"AccessTools":0, "AccessUART":0})"},
        {"cDBConfigWebInterface", R"({"HTTPSPort":null, "Language":1})", "ok",
         R"({"HTTPSPort":443, "Language":1})"},
        {"cDBConfigWebInterface", R"({"Language":2, "HTTPSPort":8443})", "Language",
         R"({"HTTPSPort":443})"},
        {"cDBConfigRadius", R"({"AccessLevel":null})", ""},
        {"cDBConfigTacacs", R"({"Host1":"aaa.example.org", "Secret2":"k"})", "ok",
         R"({"Host1":"aaa.example.org"})",
         R"({"Host1":"*******", "Secret2":"*******", "Host2":"", "Secret1":""})"},
        {"cDBConfigEmail", R"({"AuthUser":"me"})", "ok", "{}",
         R"({"AuthUser":"*******", "AuthPass":""})"},
        {"cDBUser", R"({"AccessLevel":null, "MinLen":12})", "ok",
         R"({"AccessLevel":0, "MinLen":12})"},
        // A refused required value ends the read before the level is looked at.
        {"cDBUser", R"({"SNMPAuthPassword":"authpass"})", "ok", "{}",
         R"({"SNMPAuthPassword":"*******", "SNMPCryptPassword":""})"},
        // Firewall: ports as one text per end; groups added by later versions
        // are skipped when incomplete and not read after a refusal.
        {"cDBConfigFilterRule", R"({"FromPort":"1:2:3", "ToPort":""})", "FromPort"},
        {"cDBConfigFilterRule", R"({"MatchFromVlan":true, "FromVLANID":null})", "ok"},
        {"cDBConfigFilterRule", R"({"Rank":null})", ""},
        {"cDBConfigTrafficPriorityRule", R"({"Rank":null, "VLANID":null})", "ok"},
        {"cDBConfigPacketFilter", R"({"MSSSize":null, "MSSAdjustMode":3})", "ok"},
        {"cDBConfigRemoteAccessRule", R"({"FromInterface":2})", "FromInterface"},
        // Event rules: ranges are taken as they are (only the setters order
        // them); a later parameter of the same name wins; the action type
        // keeps its low 8 bits; a refused action is named "Action" and ends
        // the list.
        {"cDBConfigRule",
         R"({"ValueName":"UINT::WIRELESS::CSQ", "UintRange":{"Low":10, "High":5}})", "ok",
         R"({"UintRange":{"Low":10, "High":5}})"},
        {"cDBConfigRule",
         R"({"ValueName":"UINT::WIRELESS::CSQ", "Actions":[{"Index":4, "ActionType":258,
             "Parameters":[{"Name":"port", "Value":"1"}, {"Name":"port", "Value":"2"}]}]})",
         "ok",
         R"({"Actions":[{"Index":4, "ActionType":2,
             "Parameters":[{"Name":"port", "Value":"2"}]}]})"},
        {"cDBConfigRule",
         R"({"ValueName":"UINT::WIRELESS::CSQ", "CoolDownTime":86401, "Operator":7})",
         "CoolDownTime Operator"},
        {"cDBConfigRule", R"({"RuleType":0, "ExecutionMode":4, "ValueName":""})",
         "ExecutionMode RuleType ValueName"},
        {"cDBConfigRule",
         R"({"ValueName":"UINT::WIRELESS::CSQ", "Actions":[
             {"Index":1, "ActionType":1, "Parameters":[]},
             {"Index":2, "ActionType":1, "Parameters":[{"Name":"loglevel", "Value":"9"}]},
             {"Index":3, "ActionType":1, "Parameters":[]}]})",
         "Action", R"({"Actions":[{"Index":1, "ActionType":1, "Parameters":[]}]})"},
        // WAN services: a refused RIP neighbour keeps the ones before it.
        {"cDBConfigRIP", R"({"Hosts":null, "UseDefaultGWOnly":null, "Cost":null})", "ok",
         R"({"Cost":1})"},
        {"cDBConfigRIP", R"({"Hosts":[{"Host":"10.0.0.9"}, {"Host":"ten"}, {"Host":"10.0.0.3"}]})",
         "Host", R"({"Hosts":[{"Host":"10.0.0.9"}]})"},
        {"cDBConfigDDNS", R"({"Username":"u"})", "ok", "{}",
         R"({"Username":"*******", "Password":""})"},
        // Status: texts taken as they are, the signal strength derived and
        // never read, lists refused under their singular keys, and host names
        // of leases masked.
        {"cDBStatusSoftware", R"({"OSVersion":"a\nb"})", "ok", R"({"OSVersion":"a\nb"})"},
        {"cDBStatusWirelessWan", R"({"RSSI":"anything", "CSQ":31})", "ok", R"({"RSSI":-51})"},
        {"cDBStatusLan", R"({"Macs":null, "Leases":null})", "ok"},
        {"cDBStatusLan",
         R"({"Macs":[{"Mac":"00:11:22:33:44:55"}, {"Mac":"x"}, {"Mac":"00:11:22:33:44:66"}]})",
         "Mac", R"({"Macs":[{"Mac":"00:11:22:33:44:55"}]})"},
        {"cDBStatusLan",
         R"({"Leases":[{"IP":"10.0.0.1", "Mac":"00:11:22:33:44:55", "Hostname":"a",
             "Status":4}], "Macs":[{"Mac":"00:11:22:33:44:55"}]})",
         "Lease", R"({"Leases":[], "Macs":[{"Mac":"00:11:22:33:44:55"}]})"},
        {"cDBStatusWiredWan",
         R"({"PortMode":4, "Leases":[{"IP":"192.168.1.20", "Mac":"00:11:22:33:44:66",
             "Hostname":"pc", "Status":2}]})",
         "ok", R"({"PortMode":4})",
         R"({"Leases":[{"IP":"192.168.1.20", "Mac":"00:11:22:33:44:66", "Hostname":"*******",
             "Status":2}]})"},
        // VPN: hash 3 is refused; of two tunnels with the same local network
        // and remote network the first stays; a gateway that does not parse
        // ends the list and the read.
        {"cDBConfigIpSecTunnel", R"({"IsakmpHash":3})", "IsakmpHash"},
        {"cDBConfigIpSecTunnel",
         R"({"LocalIdentifier":"me", "Tunnels":[
             {"LocalNetwork":"10.0.0.0", "LocalSubnet":"255.0.0.0", "RemoteNetwork":"11.0.0.0",
              "RemoteSubnet":"255.0.0.0"},
             {"LocalNetwork":"10.0.0.0", "LocalSubnet":"255.255.0.0", "RemoteNetwork":"11.0.0.0",
              "RemoteSubnet":"255.0.0.0"},
             {"LocalNetwork":"10.0.0.0", "LocalSubnet":"255.0.0.0", "RemoteNetwork":"12.0.0.0",
              "RemoteSubnet":"255.0.0.0"}]})",
         "ok",
         R"({"Tunnels":[
             {"LocalNetwork":"10.0.0.0", "LocalSubnet":"255.0.0.0", "RemoteNetwork":"11.0.0.0",
              "RemoteSubnet":"255.0.0.0"},
             {"LocalNetwork":"10.0.0.0", "LocalSubnet":"255.0.0.0", "RemoteNetwork":"12.0.0.0",
              "RemoteSubnet":"255.0.0.0"}]})",
         R"({"LocalIdentifier":"*******"})"},
        {"cDBConfigDMVPNIpSec", R"({"PFS":null, "RemoteCertificateName":null})", "ok"},
        {"cDBConfigDMVPN", R"({"Gateways":null, "GatewayTrackAttempts":null})", "ok"},
        {"cDBConfigDMVPN", R"({"GatewayTrackInterval":5, "GatewayTrackAttempts":0})",
         "GatewayTrackAttempts GatewayTrackInterval"},
        {"cDBConfigDMVPN",
         R"({"Gateways":[{"Index":1, "Gateway":"10.0.0.1"}, {"Index":2, "Gateway":"gw"},
             {"Index":3, "Gateway":"10.0.0.3"}], "GatewayTrackInterval":99})",
         "Gateway",
         R"({"Gateways":[{"Index":1, "Gateway":"10.0.0.1"}], "GatewayTrackInterval":30})"},
        {"cDBConfigDMVPNNetwork", R"({"DisablePurge":null})", "ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.className) + " " + c.changes);
        kora::Ref<cDBItem> item = Make(c.className);
        Json::Value root;
        item->ToJSON(root, false);
        if (root["Data"].isMember("IPs")) Apply(root["Data"], J(goodLists));
        Apply(root["Data"], J(c.changes));
        bool ok = false;
        std::string keys;
        for (const auto& key : Load(*item, StyledJson(root), ok))
            keys += (keys.empty() ? "" : " ") + key;
        EXPECT_EQ(ok ? "ok" : keys, c.outcome);
        ExpectMembers(DataOf(*item), c.holds);
        ExpectMembers(DataOf(*item, true), c.masked);
    }
}

// (setter, accepted): rules a document cannot show (values beyond the member's
// type, checks made before narrowing), rules other than a plain range, and
// setters that ignore or widen. A refused value leaves the member as it was.
TEST(Items, Setters) {
    cDBConfigLANInterface li;
    cDBConfigLANPort port;
    cDBConfigMacTable macs;
    cDBConfigWirelessWan wireless;
    cDBConfigVLAN vlan;
    cDBConfigWebInterface web;
    cDBConfigSNMP snmp;
    cDBConfigEmail mail;
    cDBConfigCSRTemplate csr;
    cDBConfigRemoteAccessRule remote;
    cDBStatusWiredWan wired;
    cDBStatusWirelessWan mobile;
    cDBUser user;
    cDBConfigIpSecTunnel tunnel;
    cDBConfigDMVPN dmvpn;
    cDBConfigDMVPNNetwork network;
    const kora::s_socket_addr a = kora::s_socket_addr::FromIP(kNet1), none,
                              all = kora::s_socket_addr::FromIP(0xffffffffu);
    const kora::s_socket_addr ip("10.0.0.5");
    const AddressPair pair(a, kora::s_socket_addr::FromIP(kMask24));
    const std::string mac = "00:11:22:33:44:55";
    RunSetters({
        {"VLAN 65536+2", [&] { return li.SetVLANID(65538); }, false},
        {"lease time 59", [&] { return li.SetDHCPLeaseTime(59); }, false},
        {"pool start 0.0.0.0", [&] { return li.SetDHCPPoolStart(none); }, false},
        {"pool end broadcast", [&] { return li.SetDHCPPoolEnd(all); }, false},
        {"VRRP priority 255", [&] { return li.SetVRRPPrio(255); }, false},
        {"address", [&] { return li.SetIPByIndex(4, pair); }, true},
        {"lease to broadcast", [&] { return li.SetLeaseByIndex(mac, all); }, false},
        {"lease", [&] { return li.SetLeaseByIndex(mac, a); }, true},
        {"VRRP pair index 2", [&] { return li.SetVRRPIPByIndex(2, pair); }, false},
        {"VRRP pair broadcast", [&] { return li.SetVRRPIPByIndex(1, AddressPair(all, a)); }, false},
        {"VRRP pair", [&] { return li.SetVRRPIPByIndex(1, pair); }, true},
        {"member VLAN 0", [&] { return port.AddVLANID(0); }, false},
        {"member VLAN 65536+10", [&] { return port.AddVLANID(65546); }, false},
        {"egress mode adds", [&] { return port.SetEgressModeByVLANID(10, 0); }, true},
        {"MAC range 65536+5", [&] { return macs.SetEntryByIndex(mac, 65541, 1); }, false},
        {"MAC ports 256+1", [&] { return macs.SetEntryByIndex(mac, 5, 257); }, false},
        {"MAC bad address", [&] { return macs.SetEntryByIndex("00:11:22:33:44", 5, 1); }, false},
        {"MAC entry", [&] { return macs.SetEntryByIndex(mac, 5, 7); }, true},
        {"operator selection 9 ignored", [&] { return wireless.SetOperatorSelectionMode(9); },
         true},
        {"provider mode 2 ignored", [&] { return wireless.SetProviderConfigurationMode(2); }, true},
        {"VLAN mask", [&] { return vlan.SetVLANByIndex(70000, 0xff); }, true},
        {"https 53", [&] { return web.SetHTTPSPort(53); }, false},
        {"https 8443", [&] { return web.SetHTTPSPort(8443); }, true},
        {"snmp 22", [&] { return snmp.SetPort(22); }, false},
        {"snmp 123", [&] { return snmp.SetPort(123); }, false},
        {"snmp 161", [&] { return snmp.SetPort(161); }, true},
        {"mail port 22", [&] { return mail.SetTcpPort(22); }, true},
        {"sender quote", [&] { return mail.SetSenderName("it's"); }, false},
        {"sender <x>", [&] { return mail.SetSenderName("Router <r>"); }, true},
        {"country 3", [&] { return csr.SetCountryName("DEU"); }, false},
        {"country empty", [&] { return csr.SetCountryName(""); }, true},
        {"url ftp", [&] { return csr.SetSCEPURL("ftp://ca.example.org"); }, false},
        {"url empty", [&] { return csr.SetSCEPURL(""); }, false},
        {"url http", [&] { return csr.SetSCEPURL("http://ca/scep?x=1"); }, true},
        {"access interface 2", [&] { return remote.SetFromInterface(2); }, false},
        {"access interface 3", [&] { return remote.SetFromInterface(3); }, true},
        {"wired mode 6", [&] { return wired.SetMode(6); }, true},
        {"wired mode 4", [&] { return wired.SetMode(4); }, false},
        {"lease ok", [&] { return wired.SetLeaseByIP(ip, mac, 3, "pc1"); }, true},
        {"lease status 0", [&] { return wired.SetLeaseByIP(ip, mac, 0, "pc"); }, false},
        {"ecno -25", [&] { return mobile.SetECNO(-25); }, false},
        {"ecno 1", [&] { return mobile.SetECNO(1); }, false},
        {"ecno 99", [&] { return mobile.SetECNO(99); }, true},
        {"netid 7 digits", [&] { return mobile.SetNetID("2620112"); }, false},
        {"sim slot 2", [&] { return mobile.SetSimSlot(2); }, false},
        {"sim slot 99", [&] { return mobile.SetSimSlot(99); }, true},
        {"snmp auth 7", [&] { return user.SetSNMPAuthPassword("abcdefg"); }, false},
        {"snmp auth 8", [&] { return user.SetSNMPAuthPassword("abcdefgh"); }, true},
        {"snmp auth empty", [&] { return user.SetSNMPAuthPassword(""); }, true},
        {"min length 256", [&] { return user.SetMinLen(256); }, false},
        {"hash 3", [&] { return tunnel.SetIsakmpHash(3); }, false},
        {"hash 6", [&] { return tunnel.SetIpsecHash(6); }, true},
        {"gateway text", [&] { return dmvpn.SetDefaultGatewayByIndex(1, "gw"); }, false},
        {"gateway", [&] { return dmvpn.SetDefaultGatewayByIndex(2, "10.0.0.2"); }, true},
        {"hold 65536", [&] { return network.SetHoldTime(65536); }, false},
    });
    std::set<unsigned> indexes;
    li.GetVRRPIPIndexList(indexes);
    EXPECT_EQ(indexes, std::set<unsigned>{1});
    EXPECT_EQ(li.GetVRRPIPByIndex(2), AddressPair());
    EXPECT_EQ(li.GetIPByIndex(4), pair);
    EXPECT_EQ(li.GetLeaseByIndex("00:11:22:33:44:66"), none);
    EXPECT_EQ(li.GetVLANID(), 1);  // not 2: checked before it is narrowed
    EXPECT_EQ(port.GetEgressModeByVLANID(10), 2);
    EXPECT_EQ(port.GetEgressModeByVLANID(11), 0);
    EXPECT_EQ(macs.GetEntryByIndex(mac), cDBConfigMacTable::Entry(5, 7));
    EXPECT_EQ(wireless.GetOperatorSelectionMode(), 0);
    EXPECT_EQ(vlan.GetVLANByIndex(70000), 0xff);
    EXPECT_EQ(web.GetHTTPSPort(), 8443);
    EXPECT_EQ(snmp.GetPort(), 161);
    EXPECT_EQ(wired.GetLeases().size(), 1u);
    EXPECT_EQ(mobile.GetECNO(), 99);
    EXPECT_EQ(dmvpn.GetDefaultGatewayByIndex(2).GetIPString(), "10.0.0.2");
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
        EXPECT_FALSE(macs.SetEntryByIndex(mac, 1, 8));
        EXPECT_EQ(wireless.SetNetMode(3), present);
        EXPECT_FALSE(wireless.SetNetMode(4));
        // Rule value names: some everywhere, the switch ports' only with the
        // switch, some never.
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
            std::string kv(text);
            size_t eq = kv.find('=');
            cDBConfigRule r;
            RuleAction a(5, kora::s_map_string_string());
            a.second.SetAt(kv.substr(0, eq), kv.substr(eq + 1));
            EXPECT_EQ(r.SetActionByIndex(3, a), ok) << text;
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

RuleAction Action(unsigned type, const char* name, const char* value) {
    RuleAction a(static_cast<uint8_t>(type), kora::s_map_string_string());
    a.second.SetAt(name, value);
    return a;
}

template <class T, class Fill>
std::string Text(Fill fill) {
    T item;
    fill(item);
    return item.ToString("");
}

template <class T, class Fill>
std::string Info(Fill fill) {
    T item;
    fill(item);
    return InfoOf(item);
}

}  // namespace

// Display entries, keys, links and text forms where a class computes them or
// names its values; secrets never show.
TEST(Items, DisplayEntriesKeysLinksAndTexts) {
    const kora::s_socket_addr net1 = kora::s_socket_addr::FromIP(kNet1);
    const std::pair<std::string, std::string> rows[] = {
        {Info<cDBConfigLANInterface>([&](cDBConfigLANInterface& li) {
             li.SetIPByIndex(7, AddressPair(kora::s_socket_addr("10.0.0.7"), net1));
             li.SetIPByIndex(3, AddressPair(net1, kora::s_socket_addr("255.0.0.0")));
         }),
         "IP=10.0.0.1, Netmask=255.0.0.0, VLANID=1"},
        {Info<cDBConfigFilterRule>([](cDBConfigFilterRule& f) {
             f.SetFromIP(kora::s_socket_addr("192.168.1.7"));
             f.SetFromNetmask(kora::s_socket_addr("255.255.255.0"));
             f.SetToPortRange("80");
             f.SetMatchToVlan(true);
             f.SetRank(3);
         }),
         "FromInterface=0, FromNet=192.168.1.0/24, FromPortRange=, FromVLANID=1, "
         "MatchFromVlan=false, MatchToVlan=true, Protocol=0, Rank=3, Target=0, ToInterface=0, "
         "ToNet=0.0.0.0/0, ToPortRange=80, ToVLANID=1"},
        {Info<cDBConfigRule>([](cDBConfigRule& r) { r.SetValueName("BOOL::WAN::CONNECT"); }),
         "Actions=, ValueName=BOOL::WAN::CONNECT"},
        {Info<cDBConfigRule>(
             [](cDBConfigRule& r) { r.SetActionByIndex(2, Action(1, "wansetup", "Backup")); }),
         "Actions=1, Parameter=Backup, ValueName="},
        {Info<cDBConfigRule>([](cDBConfigRule& r) {
             r.SetActionByIndex(2, Action(1, "wansetup", "Backup"));
             r.SetActionByIndex(1, Action(4, "wansetup", "Main"));
         }),
         "Actions=255, ValueName="},
        {Info<cDBConfigCSRTemplate>([](cDBConfigCSRTemplate& t) { t.SetCommonName("router"); }),
         "CommonName=router<SerialNumber>, SCEPEnabled=false"},
        {Info<cDBConfigCSRTemplate>([](cDBConfigCSRTemplate& t) {
             t.SetCommonName("router");
             t.SetCommonNameMode(2);
         }),
         "CommonName=router, SCEPEnabled=false"},
        {Info<cDBConfigIpSecTunnel>(
             [](cDBConfigIpSecTunnel& t) { t.SetRemoteHost("peer.example.org"); }),
         "AuthMethod=1, IsakmpMode=2, RemoteHost=peer.example.org, TunnelCount=0"},
        {Info<cDBStatusLanInterface>([](cDBStatusLanInterface& i) {
             i.SetBytesReceived(1ull << 40);
             i.SetIP(kora::s_socket_addr("192.168.0.1"));
         }),
         "BystesReceived=1099511627776, BystesSent=0, IP=192.168.0.1, Netmask=0.0.0.0"},
        {Text<cDBConfigWanRoute>([&](cDBConfigWanRoute& r) { r.SetGateway(net1); }),
         "cDBConfigWanRoute:Network:0.0.0.0, Netmask:0.0.0.0, Gateway:10.0.0.1, "
         "Type:Route over IP GW"},
        {Text<cDBConfigWanRoute>([](cDBConfigWanRoute& r) {
             ReadStored(r, Wire().Version(1).Str("r").Str("/").Addr(0).Addr(0).Addr(0).U8(9));
         }),
         "cDBConfigWanRoute:Network:0.0.0.0, Netmask:0.0.0.0, Gateway:0.0.0.0, "
         "Type:UNKNOWN(9)"},
        {Text<cDBConfigWiredWan>([](cDBConfigWiredWan& w) { w.SetPPPPassword("pw"); }),
         "cDBConfigWiredWan:Mode:2, IP:0.0.0.0, Gateway:0.0.0.0, Subnet:0.0.0.0, DNS1:0.0.0.0, "
         "DNS2:0.0.0.0, DNS3:0.0.0.0, MTU:1500, Username:, Password:*******"},
        {Text<cDBConfigWirelessWan>([](cDBConfigWirelessWan& w) { w.SetMobilePin("1234"); }),
         "cDBConfigWirelessWan:SimSlot:0, NetMode:0, OperatorSelectionMode:0, "
         "MobilePin:*******, MobileData:true, RoamingEnabled:false"},
        {Text<cDBConfigGsmProvider>([](cDBConfigGsmProvider& g) {
             g.SetNetID("26201");
             g.SetPassword("secret");
             g.SetAPN("apn.example");
         }),
         "cDBConfigGsmProvider:NetID:26201, APN:apn.example, Username:, Password:*******, "
         "AuthMode:0, DNS1:0.0.0.0, DNS2:0.0.0.0, DNS3:0.0.0.0"},
        {Text<cDBConfigWebInterface>([](cDBConfigWebInterface&) {}),
         "cDBConfigWebInterface:Language:0;HTTPSPort:443"},
        {Text<cDBConfigDMVPNNetwork>([](cDBConfigDMVPNNetwork& n) {
             n.SetName("net1");
             n.SetNetHopServerNBMA("hub.example.org");
             n.SetGreKey(7);
             n.SetLocalAddr(kora::s_socket_addr("10.0.0.2"));
         }),
         "cDBConfigDMVPNNetwork:Name:net1, Hub:false, GreKey:7, NHS:hub.example.org, "
         "LocalAddr:10.0.0.2, Netmask:0.0.0.0"},
        {Text<cDBStatusPrivateKey>([](cDBStatusPrivateKey& k) {
             ReadStored(k, Head(1).U32(4096).Time(1700000000));
             k.SetPubkey("abc");
         }).substr(0, 50),
         "cDBStatusPrivateKey:PubkeyLen:4096;CreationTime:20"},
    };
    for (const auto& r : rows) EXPECT_EQ(r.first, r.second);

    cDBConfigSSH ssh;
    EXPECT_EQ(ssh.GetPath(), "/Config/System/DeviceManagement/SSH/SSHConfig");
    cDBConfigLANInterface li;
    EXPECT_EQ(li.GetKey(), "1");
    cDBConfigGsmProvider gsm;
    gsm.SetNetID("26201");
    EXPECT_EQ(gsm.GetKey(), "26201");
    cDBConfigWanSetup setup;
    ASSERT_TRUE(setup.SetWanMode(4));
    EXPECT_EQ(setup.GetWanModeString(), "cellular and DSL/cable");
    cDBStatusPrivateKey key;
    key.SetPubkey("abc");
    EXPECT_NE(key.ToString("").find(",PubkeyFingerprint:ba7816bf"), std::string::npos);

    // Links: a WAN's start-up setup, the WAN setups a rule's actions name.
    cDBConfigWan wan;
    std::set<std::string> links;
    EXPECT_FALSE(wan.HasLinks());
    wan.SetStartUpWanSetup("Backup");
    EXPECT_TRUE(wan.HasLinks());
    wan.GetLinks(links);
    EXPECT_EQ(links, std::set<std::string>{"/Config/Network/WanSetups/Backup"});
    cDBConfigRule rule;
    EXPECT_FALSE(rule.HasLinks());
    ASSERT_TRUE(rule.SetActionByIndex(2, Action(1, "wansetup", "Backup")));
    ASSERT_TRUE(rule.SetActionByIndex(1, Action(4, "wansetup", "Main")));
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
    // Port ranges as one text per end, the pair sorted.
    cDBConfigFilterRule f;
    ASSERT_TRUE(f.SetFromPortRange("800:80"));
    EXPECT_EQ(f.GetFromPortLow(), 80);
    EXPECT_EQ(f.GetFromPortHigh(), 800);
    EXPECT_EQ(f.GetFromPortRange(), "80:800");
    cDBConfigTrafficPriorityRule tp;
    ASSERT_TRUE(tp.SetToPortRange("443"));
    EXPECT_FALSE(tp.SetToPortRange("80-90"));
    EXPECT_EQ(tp.GetToPortLow(), tp.GetToPortHigh());
    EXPECT_EQ(tp.GetToPortRange(), "443");

    // Software versions keep their first line (JSON takes them as they are).
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
            ReadStored(d, Head(1).Bool(true).U8(service).Str("u").Str("").Str("").Bool(true)));
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
    // A certificate's SetDefault keeps the texts and times, resets the rest;
    // one of its fields travels in binary only.
    c.SetSubjectName("CN=router");
    kora::cTime notAfter;
    notAfter.FromSeconds(2000000000);
    c.SetNotAfter(notAfter);
    c.SetPublicKeyLength(2048);
    c.SetCA(true);
    c.SetDefault();
    EXPECT_EQ(c.GetSubjectName(), "CN=router");
    EXPECT_EQ(c.GetNotAfter().ToSeconds(), 2000000000);
    EXPECT_EQ(c.GetPublicKeyLength(), 0u);
    EXPECT_FALSE(c.GetCA());
    EXPECT_EQ(DataOf(c).size(), 24u);
}
