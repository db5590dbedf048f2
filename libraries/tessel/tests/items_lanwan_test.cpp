// LAN, LAN interface and WAN configuration items: every accepted stored
// layout token by token, the JSON groups, lists and pool rules, the setters,
// and keys, links, display entries and text forms.
#include <sstream>

#include "item_doc.h"

using namespace tessel;
using namespace testdoc;
using testwire::Wire;

namespace {

kora::Ref<cDBItem> Make(const std::string& className) {
    return kora::Ref<cDBItem>::Adopt(
        dynamic_cast<cDBItem*>(kora::cObjectFactory::CreateObject(className)));
}

Json::Value DataOf(cDBItem& item) {
    Json::Value root;
    item.ToJSON(root, false);
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

// A part of a stored form: its tokens, and the JSON members it sets.
struct Piece {
    std::function<void(Wire&)> write;
    const char* sets;
};

// Addresses used below.
constexpr uint32_t kNet1 = 0x0a000001, kMask24 = 0xffffff00, kVip = 0x0a0000fe;

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

std::vector<Piece> Cat(std::initializer_list<std::vector<Piece>> parts) {
    return Join<Piece>(parts);
}
const std::vector<Piece> kLanBlock = {kHostname, kSearchPath, kPool, kRelay, kIPs, kLeases, kHosts};

struct StoredCase {
    const char* className;
    unsigned version;
    std::vector<Piece> pieces;
    bool accepted = true;
};

// Reads `pieces` stored as `version`: the item holds what they set and
// defaults elsewhere, or (refused) defaults only.
void ExpectStored(const StoredCase& c) {
    SCOPED_TRACE(std::string(c.className) + " v" + std::to_string(c.version));
    kora::Ref<cDBItem> item = Make(c.className);
    Json::Value expected = DataOf(*item);
    Wire w;
    w.Version(uint16_t(c.version)).Str("n").Str("/d/");
    for (const auto& p : c.pieces) {
        p.write(w);
        Apply(expected, J(p.sets));
    }
    ASSERT_EQ(ReadStored(*item, w), c.accepted ? 1 : 0);
    EXPECT_EQ(DataOf(*item).toStyledString(), expected.toStyledString());
}

}  // namespace

TEST(LanWanItems, StoredLayoutsOfTheLanBlock) {
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
    };
    for (const auto& c : cases) ExpectStored(c);
}

TEST(LanWanItems, StoredLayoutsOfTheOtherItems) {
    const Piece port{[](Wire& w) { w.Bool(false).U8(2).U16(0); },
                     R"({"Enabled":false, "Mode":2, "VLANID":4094})"};
    const Piece dropped{[](Wire& w) { w.Bool(true); }, "{}"};
    const Piece tags{[](Wire& w) { w.Bool(true); }, R"({"VLANTags":true})"};
    const char* members = R"({"VLANIDS":[{"VLANID":5}, {"VLANID":9}]})";
    const Piece membersWithEgress{[](Wire& w) { w.U32(2).U16(5).U8(1).U16(9).U8(2); }, members};
    const Piece bareMembers{[](Wire& w) { w.U32(2).U16(5).U16(9); }, members};
    const Piece mobile{[](Wire& w) {
                           w.U8(1).U8(2).U8(1).Str("1234").Bool(false).Bool(true);
                           w.U32(1).U32(4).Str("26201");
                       },
                       R"({"SimSlot":1, "NetMode":2, "OperatorSelectionMode":1, "MobilePin":"1234",
                           "MobileData":false, "RoamingAllowed":true,
                           "Operators":[{"Index":4, "Operator":"26201"}]})"};
    const Piece access{[](Wire& w) {
                           w.Str("apn.example").Str("u").Str("p").U8(1).Bool(false);
                           w.Addr(0x08080808).Addr(0x08080404).Addr(0x01010101);
                       },
                       R"({"APN":"apn.example", "Username":"u", "Password":"p", "AuthMode":1,
                           "UseProviderDNS":false, "DNS1":"8.8.8.8", "DNS2":"8.8.4.4",
                           "DNS3":"1.1.1.1"})"};
    const Piece provider{[](Wire& w) { w.U8(1); }, R"({"ProviderConfigurationMode":1})"};
    const Piece poll{[](Wire& w) { w.U16(30); }, R"({"StatusPollInterval":30})"};
    const Piece diversity{[](Wire& w) { w.Bool(false); }, R"({"EnableDiversity":false})"};
    const Piece mac{
        [](Wire& w) { w.Bool(true).U32(1).Str("00:11:22:33:44:55"); },
        R"({"Enabled":true, "Macs":[{"Mac":"00:11:22:33:44:55", "Range":1, "Ports":7}]})"};
    const Piece rangeMac{[](Wire& w) { w.U16(1); }, "{}"};
    const Piece ports{[](Wire& w) { w.U8(7); }, "{}"};
    const Piece bridge{[](Wire& w) { w.Bool(true).U8(30).U8(20).U8(0).U8(3).U8(10).U8(15).U8(9); },
                       R"({"Enabled":true, "MaximumAge":30, "ForwardDelay":20, "MaxHops":0,
                           "Protocol":3, "TXHoldCount":10, "BridgePriority":15, "HelloTime":9})"};
    const Piece wanMode{[](Wire& w) { w.U8(3); }, R"({"WanMode":3})"};
    const Piece route{[](Wire& w) { w.Addr(0xc0a80000).Addr(0xffff0000).Addr(kNet1).U8(2); },
                      R"({"Network":"192.168.0.0", "Netmask":"255.255.0.0", "Gateway":"10.0.0.1",
                          "RouteType":2})"};
    const std::vector<StoredCase> cases = {
        {"cDBConfigLANPort", 1, {port, dropped, tags}},
        {"cDBConfigLANPort", 2, {port, tags}},
        {"cDBConfigLANPort", 3, {port, tags, membersWithEgress}},
        {"cDBConfigLANPort", 4, {port, tags, bareMembers}},
        {"cDBConfigWirelessWan", 1, {mobile}},
        {"cDBConfigWirelessWan", 2, {mobile, provider, access}},
        {"cDBConfigWirelessWan", 3, {mobile, provider, access, poll}},
        {"cDBConfigWirelessWan", 4, {mobile, provider, access, poll, diversity}},
        {"cDBConfigGsmProvider",
         1,
         {{[](Wire& w) { w.Str("26201"); }, R"({"NetID":"26201"})"}, access}},
        {"cDBConfigMacTable", 1, {mac, ports}},
        {"cDBConfigMacTable", 2, {mac, rangeMac, ports}},
        {"cDBConfigSpanningTree", 1, {bridge}},
        {"cDBConfigSpanningTree", 2, {bridge}},
        {"cDBConfigWanSetup", 1, {{[](Wire& w) { w.Str("dropped"); }, "{}"}, wanMode}},
        {"cDBConfigWanSetup", 2, {wanMode}},
        {"cDBConfigWanRoute", 1, {route}},
        {"cDBConfigVLAN",
         1,
         {{[](Wire& w) { w.U32(1).U32(12).U8(5); },
           R"({"VLANTable":[{"VLANID":12, "VLANMask":5}]})"}}},
    };
    for (const auto& c : cases) ExpectStored(c);
}

// (class, changes to its default document, result, refused keys, members then held).
TEST(LanWanItems, JsonGroupsListsAndPoolRules) {
    struct Case {
        const char* className;
        const char* changes;
        bool ok;
        const char* rejected;  // the refused keys, separated by spaces
        const char* holds;
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
         R"({"DHCPPool":false, "DHCPPoolStart":"1.2.3.4", "DHCPPoolEnd":"1.2.3.4"})", true, "",
         R"({"DHCPPoolStart":"0.0.0.0", "DHCPPoolEnd":"0.0.0.0"})"},
        {"cDBConfigLan",
         R"({"DHCPPool":true, "DHCPPoolStart":"192.168.1.100", "DHCPPoolEnd":"192.168.1.100"})",
         false, "DHCPPoolStart DHCPPoolEnd", "{}"},
        {"cDBConfigLan",
         R"({"DHCPPool":true, "DHCPPoolStart":"10.0.0.9", "DHCPPoolEnd":"10.0.0.99"})", true, "",
         R"({"DHCPPoolStart":"10.0.0.9", "DHCPPoolEnd":"10.0.0.99"})"},
        {"cDBConfigLANInterface",
         R"({"DHCPPool":true, "DHCPPoolStart":"255.255.255.255", "DHCPPoolEnd":"10.0.0.9"})", false,
         "DHCPPoolStart", R"({"DHCPPoolStart":"0.0.0.0"})"},
        // "VRRPIPs": index 1 only, checked; the LAN requires the member.
        {"cDBConfigLan", R"({"VRRPIPs":[{"Index":2, "IP":"10.0.0.9", "Netmask":"255.0.0.0"}]})",
         true, "", R"({"VRRPIPs":[{"Index":1, "IP":"0.0.0.0", "Netmask":"0.0.0.0"}]})"},
        {"cDBConfigLan",
         R"({"VRRPIPs":[{"Index":1, "IP":"255.255.255.255", "Netmask":"0.0.0.0"}]})", false,
         "VRRPIP", "{}"},
        {"cDBConfigLan", R"({"VRRPIPs":null})", false, "", "{}"},
        {"cDBConfigLANInterface", R"({"VRRPIPs":[{"Index":1, "IP":"10.0.0.9"}]})", false, "", "{}"},
        // A refused value stops the list elements, not the later required members.
        {"cDBConfigLan", R"({"MTU":575, "VRRPID":9})", false, "MTU",
         R"({"IPs":[], "Leases":[], "Hosts":[], "VRRPID":9})"},
        // A refused element is named by its singular key and stops the later ones.
        {"cDBConfigLan",
         R"({"IPs":[{"Index":1, "IP":"10.0.0.1", "Netmask":"0.0.0.0"},
                    {"Index":2, "IP":"10.0.0.2", "Netmask":"255.0.0.0"}]})",
         false, "IP", R"({"IPs":[], "Leases":[]})"},
        {"cDBConfigLANInterface", R"({"Leases":[{"Mac":"00-11-22-33-44-55", "IP":"10.0.0.5"}]})",
         false, "Lease", R"({"Hosts":[]})"},
        {"cDBConfigWiredWan", R"({"Hosts":[{"Hostname":"", "IP":"10.0.0.6"}]})", false, "Host",
         "{}"},
        {"cDBConfigHosts", R"({"Hosts":[{"Hostname":"nas_1", "IP":"10.0.0.6"}]})", false, "Host",
         "{}"},
        {"cDBConfigLANPort", R"({"VLANIDS":[{"VLANID":0}, {"VLANID":5}]})", false, "VLANID",
         R"({"VLANIDS":[]})"},
        // LAN interface: the VRRP groups are optional, read in order until one is refused.
        {"cDBConfigLANInterface", noVrrp, true, "", "{}"},
        {"cDBConfigLANInterface",
         R"({"VRRPIPs":null, "VRRPVIP":"10.0.0.1", "VRRPVNetmask":"255.255.255.0"})", true, "",
         R"({"VRRPIPs":[{"Index":1, "IP":"10.0.0.1", "Netmask":"255.255.255.0"}]})"},
        {"cDBConfigLANInterface",
         R"({"VRRPVIP":"255.255.255.255", "VRRPVNetmask":"255.0.0.0", "VRRPPrioHigh":200})", false,
         "VRRPVIP", R"({"VRRPPrioHigh":100})"},
        {"cDBConfigLANInterface", R"({"VRRPVIP":"10.0.0.1", "VRRPVNetmask":"x"})", false, "VRRPVIP",
         "{}"},
        {"cDBConfigLANInterface", R"({"MTU":1501, "VRRPID":9})", false, "MTU", R"({"VRRPID":1})"},
        {"cDBConfigLANInterface", R"({"VRRPID":0, "VRRPPrioHigh":200})", false, "VRRPID",
         R"({"VRRPPrioHigh":100})"},
        {"cDBConfigLANInterface", R"({"VRRPDelay":null, "VRRPID":9, "VRRPPrioHigh":200})", true, "",
         R"({"VRRPID":1, "VRRPPrioHigh":200})"},
        {"cDBConfigLANInterface", R"({"VLANID":null})", false, "", "{}"},
        // Wired WAN: required WAN members, then the LAN, VRRP and port groups.
        {"cDBConfigWiredWan", R"({"Enabled":null, "PortMode":null, "VLANEnabled":null})", true, "",
         R"({"Enabled":true, "PortMode":1})"},
        {"cDBConfigWiredWan", R"({"PortMode":6})", false, "PortMode", "{}"},
        {"cDBConfigWiredWan", R"({"DHCPMode":4, "PortMode":9, "Enabled":false})", false, "DHCPMode",
         R"({"Enabled":true})"},
        {"cDBConfigWiredWan", R"({"IP":"10.0.0", "Username":"a b", "MTU":1400})", false,
         "IP Username", R"({"MTU":1400})"},
        {"cDBConfigWiredWan", R"({"Hosts":null, "VLANID":12})", true, "", R"({"VLANID":1})"},
        // Wireless WAN: group 2 is marked by four members; the rest may be missing.
        {"cDBConfigWirelessWan", R"({"APN":null, "AuthMode":5, "StatusPollInterval":30})", true, "",
         R"({"AuthMode":0, "StatusPollInterval":30})"},
        {"cDBConfigWirelessWan", R"({"AuthMode":null, "UseProviderDNS":null})", true, "",
         R"({"AuthMode":0, "UseProviderDNS":false})"},
        {"cDBConfigWirelessWan", R"({"DNS2":null, "StatusPollInterval":30})", false, "DNS2",
         R"({"StatusPollInterval":60})"},
        {"cDBConfigWirelessWan", R"({"StatusPollInterval":4, "EnableDiversity":false})", false,
         "StatusPollInterval", R"({"EnableDiversity":true})"},
        {"cDBConfigWirelessWan", R"({"OperatorSelectionMode":3, "ProviderConfigurationMode":2})",
         true, "", R"({"OperatorSelectionMode":0, "ProviderConfigurationMode":0})"},
        {"cDBConfigWirelessWan", R"({"MobilePin":"12345678901"})", false, "MobilePin", "{}"},
        {"cDBConfigWirelessWan", R"({"Operators":[{"Index":1, "Operator":"1234567"}]})", false, "",
         R"({"Operators":[]})"},
        // The MAC table's ranges may not exceed 1000 together.
        {"cDBConfigMacTable", tooMuch, false, "Range", tooMuch},
        {"cDBConfigMacTable",
         R"({"Macs":[{"Mac":"00:11:22:33:44:55", "Range":600, "Ports":7},
                     {"Mac":"00:11:22:33:44:66", "Range":400, "Ports":2}]})",
         true, "", "{}"},
        {"cDBConfigMacTable", R"({"Macs":[{"Mac":"00:11:22:33:44:55", "Range":1001, "Ports":1}]})",
         false, "Mac", "{}"},
        // Single fields with their own rules.
        {"cDBConfigVLAN", R"({"VLANTable":[{"VLANID":7, "VLANMask":300}]})", true, "",
         R"({"VLANTable":[{"VLANID":7, "VLANMask":44}]})"},
        {"cDBConfigSpanningTree", R"({"MaxHops":0, "HelloTime":11, "Protocol":4})", false,
         "HelloTime Protocol", R"({"MaxHops":0})"},
        {"cDBConfigWanRoute", R"({"RouteType":3})", false, "RouteType", "{}"},
        {"cDBConfigWanRoute", R"({"Gateway":"10.0.0.256"})", false, "Gateway", "{}"},
        {"cDBConfigWanSetup", R"({"WanMode":0})", false, "WanMode", "{}"},
        {"cDBConfigGsmProvider", R"({"NetID":"1234567", "AuthMode":2})", false, "NetID AuthMode",
         "{}"},
        {"cDBConfigDataVolume", R"({"ResetMode":3, "DueDate":31})", false, "ResetMode",
         R"({"DueDate":31})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.className) + " " + c.changes);
        kora::Ref<cDBItem> item = Make(c.className);
        Json::Value root;
        item->ToJSON(root, false);
        Apply(root["Data"], J(goodLists));  // members a class lacks are ignored
        Apply(root["Data"], J(c.changes));
        bool ok = false;
        std::set<std::string> rejected;
        std::istringstream keys(c.rejected);
        for (std::string key; keys >> key;) rejected.insert(key);
        EXPECT_EQ(Load(*item, StyledJson(root), ok), rejected);
        EXPECT_EQ(ok, c.ok);
        Json::Value holds = J(c.holds), data = DataOf(*item);
        for (const auto& key : holds.getMemberNames())
            EXPECT_EQ(data[key].toStyledString(), holds[key].toStyledString()) << key;
    }
}

// (setter, accepted): what the rows and the list checks say for values a
// document cannot give, and for setters that ignore or widen.
TEST(LanWanItems, Setters) {
    cDBConfigLANInterface li;
    cDBConfigLANPort port;
    cDBConfigMacTable macs;
    cDBConfigWirelessWan wireless;
    cDBConfigVLAN vlan;
    const kora::s_socket_addr a = kora::s_socket_addr::FromIP(kNet1), none,
                              all = kora::s_socket_addr::FromIP(0xffffffffu);
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
}

// Values a device accepts only with the matching hardware feature.
TEST(LanWanItems, FeatureDependentRules) {
    const std::string mac = "00:11:22:33:44:55";
    for (bool present : {false, true}) {
        Features features(present ? std::vector<std::string>{"ManagedSwitch", "Wireless4G"}
                                  : std::vector<std::string>{"SerialRS232"});
        cDBConfigMacTable macs;
        cDBConfigWirelessWan wireless;
        EXPECT_EQ(macs.SetEntryByIndex(mac, 1, 3), present);
        EXPECT_FALSE(macs.SetEntryByIndex(mac, 1, 8));
        EXPECT_EQ(wireless.SetNetMode(3), present);
        EXPECT_FALSE(wireless.SetNetMode(4));
    }
}

TEST(LanWanItems, KeysLinksInfoAndText) {
    using Info = kora::cMap<kora::s_string, kora::s_string>;
    cDBConfigLANInterface li;
    Info info;
    ASSERT_TRUE(li.GetInfo(info));
    EXPECT_EQ(info, (Info{{{"VLANID", "1"}, {"IP", ""}, {"Netmask", ""}}}));
    li.SetIPByIndex(7, AddressPair(kora::s_socket_addr::FromIP(0x0a000007),
                                   kora::s_socket_addr::FromIP(kMask24)));
    li.SetIPByIndex(3, AddressPair(kora::s_socket_addr::FromIP(kNet1),
                                   kora::s_socket_addr::FromIP(0xff000000)));
    li.GetInfo(info);
    EXPECT_EQ(info["IP"], "10.0.0.1");
    EXPECT_EQ(info["Netmask"], "255.0.0.0");
    EXPECT_EQ(li.GetKey(), "1");

    cDBConfigLANPort port;
    port.SetEnabled(false);
    port.GetInfo(info);
    EXPECT_EQ(info, (Info{{{"Enabled", "false"}, {"Mode", "1"}, {"VLANID", "1"}}}));

    cDBConfigGsmProvider gsm;
    ASSERT_TRUE(gsm.SetNetID("26201") && gsm.SetPassword("secret") && gsm.SetAPN("apn.example"));
    gsm.GetInfo(info);
    EXPECT_EQ(info, (Info{{{"NetID", "26201"}}}));
    EXPECT_EQ(gsm.GetKey(), "26201");

    cDBConfigWanRoute route;
    route.SetGateway(kora::s_socket_addr::FromIP(kNet1));
    route.GetInfo(info);
    EXPECT_EQ(info["Gateway"], "10.0.0.1");
    EXPECT_EQ(info["RouteType"], "4");

    cDBConfigWan wan;
    std::set<std::string> links;
    EXPECT_FALSE(wan.HasLinks());
    wan.SetStartUpWanSetup("Backup");
    EXPECT_TRUE(wan.HasLinks());
    wan.GetLinks(links);
    EXPECT_EQ(links, std::set<std::string>{"/Config/Network/WanSetups/Backup"});

    cDBConfigWanSetup setup;
    ASSERT_TRUE(setup.SetWanMode(4));
    EXPECT_EQ(setup.GetWanModeString(), "cellular and DSL/cable");
    cDBConfigWiredWan wired;
    ASSERT_TRUE(wired.SetPPPPassword("pw"));
    cDBConfigWirelessWan wireless;
    ASSERT_TRUE(wireless.SetMobilePin("1234"));
    // Secrets are never shown in a text form.
    const std::vector<std::pair<std::string, std::string>> texts = {
        {setup.ToString(""), "cDBConfigWanSetup: WanMode:4"},
        {wan.ToString(""), "cDBConfigWan:StartUpWanSetup:Backup"},
        {route.ToString(""),
         "cDBConfigWanRoute:Network:0.0.0.0, Netmask:0.0.0.0, Gateway:10.0.0.1, "
         "Type:Route over IP GW"},
        {wired.ToString(""),
         "cDBConfigWiredWan:Mode:2, IP:0.0.0.0, Gateway:0.0.0.0, Subnet:0.0.0.0, DNS1:0.0.0.0, "
         "DNS2:0.0.0.0, DNS3:0.0.0.0, MTU:1500, Username:, Password:*******"},
        {wireless.ToString(""),
         "cDBConfigWirelessWan:SimSlot:0, NetMode:0, OperatorSelectionMode:0, MobilePin:*******, "
         "MobileData:true, RoamingEnabled:false"},
        {gsm.ToString(""),
         "cDBConfigGsmProvider:NetID:26201, APN:apn.example, Username:, Password:*******, "
         "AuthMode:0, DNS1:0.0.0.0, DNS2:0.0.0.0, DNS3:0.0.0.0"},
        {li.ToString(""), "cDBConfigLANInterface"},
        {cDBConfigDataVolume().ToString(""), "cDBConfigDataVolume"},
    };
    for (const auto& t : texts) EXPECT_EQ(t.first, t.second);
    // Stored route types outside the setter's rule are still named.
    ASSERT_EQ(ReadStored(route, Wire().Version(1).Str("r").Str("/").Addr(0).Addr(0).Addr(0).U8(9)),
              1);
    EXPECT_NE(route.ToString("").find("Type:UNKNOWN(9)"), std::string::npos);
}

TEST(LanWanItems, JsonOutput) {
    // Secrets are masked on request; the wired port's switch and mode lead the text.
    cDBConfigWiredWan wired;
    ASSERT_TRUE(wired.SetPPPUsername("me"));
    Json::Value root;
    wired.ToJSON(root, true);
    EXPECT_EQ(root["Data"]["Username"], "*******");
    EXPECT_EQ(root["Data"]["Password"], "");
    kora::s_string text;
    wired.ToJSON(text);
    EXPECT_LT(text.find("\"Enabled\""), text.find("\"Mode\""));
    EXPECT_LT(text.find("\"PortMode\""), text.find("\"Mode\""));
    EXPECT_LT(text.find("\"VRRPPrioMode\""), text.find("\"VRRPIPs\""));
    EXPECT_EQ(text.find("VRRPVIP"), std::string::npos);
    cDBConfigWirelessWan wireless;
    ASSERT_TRUE(wireless.SetMobilePin("0000") && wireless.SetPassword("x"));
    wireless.ToJSON(root, true);
    EXPECT_EQ(root["Data"]["MobilePin"], "*******");
    EXPECT_EQ(root["Data"]["Password"], "*******");
}
