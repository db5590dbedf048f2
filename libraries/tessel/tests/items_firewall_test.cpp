// Firewall items: rule ranges, port-range texts, feature-dependent remote
// access services, optional JSON groups, older layouts and display entries.
#include <gtest/gtest.h>

#include "item_docs.h"

using namespace tessel;
using namespace itemdocs;

namespace {

const uint32_t kNet = 0xc0a80100;  // 192.168.1.0
const uint32_t kMask = 0xffffff00;

}  // namespace

TEST(FirewallItems, SetterRanges) {
    struct Case {
        const char* what;
        std::function<bool()> set;
        bool accepted;
    };
    cDBConfigPortForwardRule pf;
    cDBConfigRemoteAccessRule ra;
    cDBConfigFilterRule f;
    cDBConfigTrafficPriorityRule tp;
    cDBConfigPacketFilter p;
    cDBConfigTrafficPriority t;
    std::vector<Case> cases = {
        {"in port 0", [&] { return pf.SetInPort(0); }, false},
        {"out port 65535", [&] { return pf.SetOutPort(65535); }, true},
        {"forward protocol 3", [&] { return pf.SetProtocol(3); }, false},
        {"access interface 2", [&] { return ra.SetFromInterface(2); }, false},
        {"access interface 3", [&] { return ra.SetFromInterface(3); }, true},
        {"access target 3", [&] { return ra.SetTarget(3); }, false},
        {"filter interface 4", [&] { return f.SetToInterface(4); }, false},
        {"filter protocol 3", [&] { return f.SetProtocol(3); }, true},
        {"filter vlan 0", [&] { return f.SetFromVlanID(0); }, false},
        {"filter vlan 4094", [&] { return f.SetToVlanID(4094); }, true},
        {"port low 0", [&] { return f.SetFromPortLow(0); }, true},
        {"port high 65536", [&] { return f.SetToPortHigh(65536); }, false},
        {"priority 4", [&] { return tp.SetPriority(4); }, false},
        {"priority vlan 4095", [&] { return tp.SetVlanID(4095); }, false},
        {"mss mode 3", [&] { return p.SetMSSAdjustMode(3); }, false},
        {"mss 99", [&] { return p.SetMSSSize(99); }, false},
        {"mss 1500", [&] { return p.SetMSSSize(1500); }, true},
        {"default priority 0", [&] { return t.SetDefaultPriority(0); }, false},
    };
    for (auto& c : cases) EXPECT_EQ(c.set(), c.accepted) << c.what;
    EXPECT_EQ(ra.GetFromInterface(), 3);
    EXPECT_EQ(f.GetProtocol(), 3);
}

TEST(FirewallItems, RemoteAccessServiceFollowsFeatures) {
    struct Case {
        std::initializer_list<const char*> features;
        unsigned last;  // highest service accepted
    };
    const Case cases[] = {
        {{}, 4},
        {{"SerialRS232"}, 5},
        {{"SerialCombined"}, 6},
        {{"SerialRS232", "SerialCombined"}, 5},
    };
    for (const auto& c : cases) {
        Features features(c.features);
        cDBConfigRemoteAccessRule ra;
        EXPECT_FALSE(ra.SetRemoteAccessService(0));
        EXPECT_TRUE(ra.SetRemoteAccessService(c.last)) << c.last;
        EXPECT_FALSE(ra.SetRemoteAccessService(c.last + 1)) << c.last;
        Loaded l = Load(ra, c.last == 6 ? R"({"RemoteAccessService": 6})" : "{}");
        EXPECT_TRUE(l.ok) << c.last;
    }
}

// The same text rules for both ends of both rule classes, in setters and JSON.
TEST(FirewallItems, PortRangeTexts) {
    struct Case {
        const char* text;
        bool accepted;
        unsigned low, high;
        const char* back;
    };
    const Case cases[] = {
        {"800:80", true, 80, 800, "80:800"}, {"80:800", true, 80, 800, "80:800"},
        {"443", true, 443, 443, "443"},      {"", true, 0, 0, ""},
        {"80:80", true, 80, 80, "80"},       {"0:65535", true, 0, 65535, "0:65535"},
        {"1:2:3", false, 7, 9, "7:9"},       {"80-90", false, 7, 9, "7:9"},
        {"70000", false, 7, 9, "7:9"},       {"8a", false, 7, 9, "7:9"},
    };
    for (const auto& c : cases) {
        cDBConfigFilterRule f;
        cDBConfigTrafficPriorityRule tp;
        f.SetToPortRange("7:9");
        tp.SetFromPortRange("7:9");
        EXPECT_EQ(f.SetToPortRange(c.text), c.accepted) << c.text;
        EXPECT_EQ(tp.SetFromPortRange(c.text), c.accepted) << c.text;
        EXPECT_EQ(f.GetToPortLow(), c.low) << c.text;
        EXPECT_EQ(f.GetToPortHigh(), c.high) << c.text;
        EXPECT_EQ(f.GetToPortRange(), c.back) << c.text;
        EXPECT_EQ(tp.GetFromPortRange(), c.back) << c.text;
    }
    cDBConfigFilterRule f;
    Loaded l = Load(f, R"({"FromPort": "1:2:3", "ToPort": "22"})");
    EXPECT_EQ(l.rejected, std::set<std::string>{"FromPort"});
    EXPECT_EQ(f.GetToPortHigh(), 22);
}

TEST(FirewallItems, OptionalJsonGroups) {
    cDBConfigFilterRule f;
    EXPECT_TRUE(Load(f, R"({"MatchFromVlan": null, "FromVLANID": null, "MatchToVlan": null,
                            "ToVLANID": null})")
                    .ok);
    EXPECT_FALSE(f.GetMatchFromVlan());
    // The group is read only whole.
    ASSERT_TRUE(Load(f, R"({"MatchFromVlan": true, "ToVLANID": null})").ok);
    EXPECT_FALSE(f.GetMatchFromVlan());
    EXPECT_FALSE(Load(f, R"({"Rank": null})").ok);

    cDBConfigTrafficPriorityRule tp;
    ASSERT_TRUE(Load(tp, R"({"Rank": null, "MatchVlan": null, "VLANID": null})").ok);
    EXPECT_EQ(tp.GetRank(), 1u);
    EXPECT_EQ(Load(tp, R"({"Priority": 0, "Rank": 5})").rejected,
              std::set<std::string>{"Priority"});
    EXPECT_EQ(tp.GetRank(), 1u);  // not read after a refusal

    cDBConfigPacketFilter p;
    ASSERT_TRUE(Load(p, R"({"LogUnknown": true, "MSSSize": null, "MSSAdjustMode": 2})").ok);
    EXPECT_EQ(p.GetMSSAdjustMode(), 1);
    EXPECT_EQ(Load(p, R"({"MSSSize": 1501})").rejected, std::set<std::string>{"MSSSize"});

    cDBConfigPortForwardRule pf;
    EXPECT_EQ(Load(pf, R"({"InPort": 0, "Protocol": 3})").rejected,
              (std::set<std::string>{"InPort", "Protocol"}));
    EXPECT_FALSE(Load(pf, R"({"Log": null})").ok);
}

TEST(FirewallItems, OlderStoredLayouts) {
    // Traffic priority: 1 without ports and rank, 3 and 4 with one port per
    // end, 5 with ranges and rank; 2 is refused.
    auto tpFrom = [](unsigned version, const std::function<void(testwire::Wire&)>& ports) {
        testwire::Wire w = Head(uint16_t(version));
        w.Addr(kNet).Addr(kMask);
        ports(w);
        return w;
    };
    struct Case {
        testwire::Wire wire;
        const char* from;
        const char* to;
        unsigned rank;
    };
    std::vector<Case> cases = {
        {tpFrom(1, [](testwire::Wire& w) { w.Addr(0).Addr(0).U8(1).U8(3); }), "", "", 1},
        {tpFrom(3, [](testwire::Wire& w) { w.U16(500).Addr(0).Addr(0).U16(0).U8(1).U8(3); }), "500",
         "", 1},
        {tpFrom(4, [](testwire::Wire& w) { w.U16(0).Addr(0).Addr(0).U16(53).U8(1).U8(3); }), "",
         "53", 1},
        {tpFrom(5,
                [](testwire::Wire& w) {
                    w.U16(10).U16(20).Addr(0).Addr(0).U16(5).U16(5).U8(1).U8(3).U32(4);
                }),
         "10:20", "5", 4},
    };
    for (const auto& c : cases) {
        cDBConfigTrafficPriorityRule tp;
        ASSERT_TRUE(ReadAll(tp, c.wire)) << c.from;
        EXPECT_EQ(tp.GetFromIP().GetIP(), kNet);
        EXPECT_EQ(tp.GetFromPortRange(), c.from);
        EXPECT_EQ(tp.GetToPortRange(), c.to);
        EXPECT_EQ(tp.GetPriority(), 3);
        EXPECT_EQ(tp.GetRank(), c.rank);
    }
    cDBConfigTrafficPriorityRule tp;
    EXPECT_FALSE(ReadAll(tp, tpFrom(2, [](testwire::Wire&) {})));

    // Filter rule version 1: no VLAN matches, rank last.
    cDBConfigFilterRule f;
    ASSERT_TRUE(ReadAll(f, Head(1)
                               .Addr(kNet)
                               .Addr(kMask)
                               .U16(1)
                               .U16(2)
                               .U8(3)
                               .Addr(0)
                               .Addr(0)
                               .U16(0)
                               .U16(0)
                               .U8(2)
                               .U8(1)
                               .U8(1)
                               .Bool(true)
                               .U32(9)));
    EXPECT_EQ(f.GetFromPortRange(), "1:2");
    EXPECT_EQ(f.GetFromInterface(), 3);
    EXPECT_TRUE(f.GetLog());
    EXPECT_EQ(f.GetFromVlanID(), 1);
    EXPECT_EQ(f.GetRank(), 9u);

    cDBConfigPacketFilter p;
    ASSERT_TRUE(ReadAll(p, Head(1).Bool(true)));
    EXPECT_EQ(p.GetMSSSize(), 1455);
}

TEST(FirewallItems, DisplayEntries) {
    cDBConfigFilterRule f;
    f.SetFromIP(kora::s_socket_addr::FromIP(kNet + 7));
    f.SetFromNetmask(kora::s_socket_addr::FromIP(kMask));
    f.SetToPortRange("80");
    f.SetMatchToVlan(true);
    f.SetRank(3);
    Entries info = InfoOf(f);
    EXPECT_EQ(info.size(), 13u);
    EXPECT_EQ(info["FromNet"], "192.168.1.0/24");
    EXPECT_EQ(info["ToNet"], "0.0.0.0/0");
    EXPECT_EQ(info["FromPortRange"], "");
    EXPECT_EQ(info["ToPortRange"], "80");
    EXPECT_EQ(info["MatchToVlan"], "true");
    EXPECT_EQ(info["ToVLANID"], "1");
    EXPECT_EQ(f.GetRank(), 3u);

    cDBConfigPortForwardRule pf;
    pf.SetToIP(kora::s_socket_addr::FromIP(kNet + 2));
    EXPECT_EQ(InfoOf(pf), (Entries{{"FromNet", "0.0.0.0/0"},
                                   {"InPort", "80"},
                                   {"OutPort", "80"},
                                   {"Protocol", "1"},
                                   {"ToIP", "192.168.1.2"},
                                   {"Rank", "1"}}));
    cDBConfigRemoteAccessRule ra;
    EXPECT_EQ(InfoOf(ra), (Entries{{"FromNet", "0.0.0.0/0"},
                                   {"Target", "0"},
                                   {"FromInterface", "1"},
                                   {"RemoteAccessService", "1"},
                                   {"Rank", "1"}}));
    cDBConfigTrafficPriorityRule tp;
    info = InfoOf(tp);
    EXPECT_EQ(info.size(), 9u);
    EXPECT_EQ(info["Priority"], "2");
    EXPECT_EQ(info["MatchVlan"], "false");
    cDBConfigPortForwarding forwarding;
    EXPECT_EQ(forwarding.GetRank(), 0u);
    EXPECT_TRUE(InfoOf(forwarding).empty());
    EXPECT_EQ(tp.ToString(""), "cDBConfigTrafficPriorityRule");
}
