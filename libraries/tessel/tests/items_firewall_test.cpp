// Firewall items: rule ranges, port-range texts, remote-access services by
// device features, optional JSON groups, older layouts and display entries.
#include "item_doc.h"

using namespace tessel;
using namespace testdoc;
using testwire::Wire;

TEST(FirewallItems, SetterRanges) {
    cDBConfigPortForwardRule pf;
    cDBConfigRemoteAccessRule ra;
    cDBConfigFilterRule f;
    cDBConfigPacketFilter p;
    RunSetters({
        {"in port 0", [&] { return pf.SetInPort(0); }, false},
        {"forward protocol 3", [&] { return pf.SetProtocol(3); }, false},
        {"access interface 2", [&] { return ra.SetFromInterface(2); }, false},
        {"access interface 3", [&] { return ra.SetFromInterface(3); }, true},
        {"filter interface 4", [&] { return f.SetToInterface(4); }, false},
        {"filter vlan 0", [&] { return f.SetFromVlanID(0); }, false},
        {"mss 99", [&] { return p.SetMSSSize(99); }, false},
    });
    // The last remote-access service by the device's serial ports.
    struct ByFeatures {
        std::vector<std::string> features;
        unsigned last;
    };
    const ByFeatures cases[] = {{{}, 4},
                                {{"SerialRS232"}, 5},
                                {{"SerialCombined"}, 6},
                                {{"SerialRS232", "SerialCombined"}, 5}};
    for (const auto& c : cases) {
        Features features(c.features);
        EXPECT_TRUE(ra.SetRemoteAccessService(c.last)) << c.last;
        EXPECT_FALSE(ra.SetRemoteAccessService(c.last + 1)) << c.last;
    }
}

// Each end of both rule classes takes and gives its ports as one text (the
// text rules themselves are the engine's).
TEST(FirewallItems, PortRangeTexts) {
    cDBConfigFilterRule f;
    cDBConfigTrafficPriorityRule tp;
    ASSERT_TRUE(f.SetFromPortRange("800:80"));
    EXPECT_EQ(f.GetFromPortLow(), 80);
    EXPECT_EQ(f.GetFromPortHigh(), 800);
    EXPECT_EQ(f.GetFromPortRange(), "80:800");
    ASSERT_TRUE(tp.SetToPortRange("443"));
    EXPECT_FALSE(tp.SetToPortRange("80-90"));
    EXPECT_EQ(tp.GetToPortLow(), tp.GetToPortHigh());
    EXPECT_EQ(tp.GetToPortRange(), "443");
    EXPECT_EQ(Outcome(f, R"({"FromPort": "1:2:3", "ToPort": ""})"), "FromPort");
    EXPECT_EQ(Outcome(tp, R"({"ToPort": "70000"})"), "ToPort");
}

// Groups added by later versions are skipped when incomplete and not read
// after a refusal; everything else is required.
TEST(FirewallItems, OptionalJsonGroups) {
    EXPECT_EQ(Outcome<cDBConfigFilterRule>(R"({"MatchFromVlan": true, "FromVLANID": null})"), "ok");
    EXPECT_EQ(Outcome<cDBConfigFilterRule>(R"({"Rank": null})"), "");
    EXPECT_EQ(Outcome<cDBConfigTrafficPriorityRule>(R"({"Rank": null, "VLANID": null})"), "ok");
    EXPECT_EQ(Outcome<cDBConfigTrafficPriorityRule>(R"({"Priority": 0, "VLANID": 0})"), "Priority");
    EXPECT_EQ(Outcome<cDBConfigPacketFilter>(R"({"MSSSize": null, "MSSAdjustMode": 3})"), "ok");
    EXPECT_EQ(Outcome<cDBConfigPortForwardRule>(R"({"InPort": 0, "Protocol": 3})"),
              "InPort Protocol");
    EXPECT_EQ(Outcome<cDBConfigRemoteAccessRule>(R"({"FromInterface": 2})"), "FromInterface");
}

TEST(FirewallItems, OlderStoredLayouts) {
    const uint32_t net = 0xc0a80100, mask = 0xffffff00;
    // Traffic priority: 1 without ports and rank, 3 and 4 with one port per
    // end, 5 with ranges and rank; 2 is refused.
    struct Case {
        Wire wire;
        const char* from;
        const char* to;
        unsigned rank;
    };
    auto head = [&](uint16_t version) { return Head(version).Addr(net).Addr(mask); };
    const Case cases[] = {
        {head(1).Addr(0).Addr(0).U8(1).U8(3), "", "", 1},
        {head(3).U16(500).Addr(0).Addr(0).U16(0).U8(1).U8(3), "500", "", 1},
        {head(4).U16(0).Addr(0).Addr(0).U16(53).U8(1).U8(3), "", "53", 1},
        {head(5).U16(10).U16(20).Addr(0).Addr(0).U16(5).U16(5).U8(1).U8(3).U32(4), "10:20", "5", 4},
    };
    for (const auto& c : cases) {
        cDBConfigTrafficPriorityRule tp;
        ASSERT_TRUE(ReadStored(tp, c.wire)) << c.from;
        EXPECT_EQ(tp.GetFromIP().GetIP(), net);
        EXPECT_EQ(tp.GetFromPortRange(), c.from);
        EXPECT_EQ(tp.GetToPortRange(), c.to);
        EXPECT_EQ(tp.GetPriority(), 3);
        EXPECT_EQ(tp.GetRank(), c.rank);
    }
    cDBConfigTrafficPriorityRule tp;
    EXPECT_FALSE(ReadStored(tp, head(2).Addr(0).Addr(0).U8(1).U8(3)));

    // Filter rule version 1: no VLAN matches, rank last.
    cDBConfigFilterRule f;
    Wire v1 = head(1).U16(1).U16(2).U8(3).Addr(0).Addr(0).U16(0).U16(0);
    ASSERT_TRUE(ReadStored(f, v1.U8(2).U8(1).U8(1).Bool(true).U32(9)));
    EXPECT_EQ(f.GetFromPortRange(), "1:2");
    EXPECT_EQ(f.GetFromInterface(), 3);
    EXPECT_EQ(f.GetFromVlanID(), 1);
    EXPECT_EQ(f.GetRank(), 9u);
    cDBConfigPacketFilter p;
    ASSERT_TRUE(ReadStored(p, Head(1).Bool(true)));
    EXPECT_EQ(p.GetMSSSize(), 1455);
}

TEST(FirewallItems, DisplayEntries) {
    cDBConfigFilterRule f;
    f.SetFromIP(kora::s_socket_addr("192.168.1.7"));
    f.SetFromNetmask(kora::s_socket_addr("255.255.255.0"));
    f.SetToPortRange("80");
    f.SetMatchToVlan(true);
    f.SetRank(3);
    EXPECT_EQ(InfoOf(f),
              "FromInterface=0, FromNet=192.168.1.0/24, FromPortRange=, FromVLANID=1, "
              "MatchFromVlan=false, MatchToVlan=true, Protocol=0, Rank=3, Target=0, "
              "ToInterface=0, ToNet=0.0.0.0/0, ToPortRange=80, ToVLANID=1");
    EXPECT_EQ(f.GetRank(), 3u);
    cDBConfigPortForwardRule pf;
    pf.SetToIP(kora::s_socket_addr("192.168.1.2"));
    EXPECT_EQ(InfoOf(pf),
              "FromNet=0.0.0.0/0, InPort=80, OutPort=80, Protocol=1, Rank=1, ToIP=192.168.1.2");
    cDBConfigRemoteAccessRule ra;
    EXPECT_EQ(InfoOf(ra),
              "FromInterface=1, FromNet=0.0.0.0/0, Rank=1, RemoteAccessService=1, Target=0");
    cDBConfigTrafficPriorityRule tp;
    EXPECT_EQ(InfoOf(tp),
              "FromNet=0.0.0.0/0, FromPortRange=, MatchVlan=false, Priority=2, Protocol=0, "
              "Rank=1, ToNet=0.0.0.0/0, ToPortRange=, VLANID=1");
    cDBConfigPortForwarding forwarding;
    EXPECT_EQ(forwarding.GetRank(), 0u);
    EXPECT_EQ(InfoOf(forwarding), "");
}
