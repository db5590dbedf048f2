// VPN items: IPsec tunnels, the multipoint VPN, its IPsec profile and networks.
#include <gtest/gtest.h>

#include "item_docs.h"

using namespace tessel;
using namespace itemdocs;
using testwire::Wire;

namespace {

// Stored proposal: ISAKMP mode, encryption and hash, IPsec encryption and
// hash, DH group.
Wire& Proposal(Wire& w, uint8_t hash) {
    return w.U8(2).U8(4).U8(hash).U8(4).U8(hash).U8(2);
}
// Stored NAT traversal and dead peer detection.
Wire& Detection(Wire& w) {
    return w.U8(3).Bool(true).U16(150).U16(60).U16(5);
}

}  // namespace

TEST(VpnItems, SetterRanges) {
    struct Case {
        const char* what;
        std::function<bool()> set;
        bool accepted;
    };
    cDBConfigIpSecTunnel t;
    cDBConfigDMVPNIpSec p;
    cDBConfigDMVPN d;
    cDBConfigDMVPNNetwork n;
    std::vector<Case> cases = {
        {"hash 3", [&] { return t.SetIsakmpHash(3); }, false},
        {"hash 6", [&] { return t.SetIpsecHash(6); }, true},
        {"hash 7", [&] { return p.SetIsakmpHash(7); }, false},
        {"dh 4", [&] { return p.SetDHGroup(4); }, false},
        {"natt 0", [&] { return t.SetNatT(0); }, false},
        {"dpd delay 9", [&] { return t.SetDPDDelay(9); }, false},
        {"dpd retries 101", [&] { return p.SetDPDRetries(101); }, false},
        {"auth 4", [&] { return p.SetAuthMethod(4); }, false},
        {"remote host _", [&] { return t.SetRemoteHost("vpn_1"); }, false},
        {"identifier space", [&] { return t.SetLocalIdentifier("a b"); }, false},
        {"key", [&] { return p.SetPreSharedKey("k#1"); }, true},
        {"track interval 9", [&] { return d.SetGatewayTrackInterval(9); }, false},
        {"track attempts 100", [&] { return d.SetGatewayTrackAttempts(100); }, true},
        {"gateway text", [&] { return d.SetDefaultGatewayByIndex(1, "gw"); }, false},
        {"mtu 575", [&] { return n.SetMTU(575); }, false},
        {"mtu 1500", [&] { return n.SetMTU(1500); }, true},
        {"hold 65536", [&] { return n.SetHoldTime(65536); }, false},
        {"nhs host", [&] { return n.SetNetHopServerNBMA("hub.example.org"); }, true},
    };
    for (auto& c : cases) EXPECT_EQ(c.set(), c.accepted) << c.what;
    EXPECT_EQ(t.GetIpsecHash(), 6);
    EXPECT_EQ(d.GetDefaultGatewayByIndex(1).GetIP(), 0u);
}

// A stored hash 3 reads back as 1; JSON refuses it.
TEST(VpnItems, TunnelHashesAndEntries) {
    Wire w = Head(3).Bool(false).Str("peer.example.org").U32(3600).U32(1800).Str("me").Str("you");
    w.U8(1).Str("psk").Str("").Str("");
    Proposal(w, 3).Bool(true);
    Detection(w).U32(1).Addr(0x0a000000).Addr(0xffffff00).Addr(0x0b000000).Addr(0xffffff00);
    cDBConfigIpSecTunnel t;
    ASSERT_TRUE(ReadAll(t, w));
    EXPECT_EQ(t.GetIsakmpHash(), 1);
    EXPECT_EQ(t.GetIpsecHash(), 1);
    EXPECT_EQ(t.GetIpSecLifetime(), 1800u);
    EXPECT_TRUE(t.HasKey());
    EXPECT_EQ(t.GetKey(), "peer.example.org");
    EXPECT_EQ(InfoOf(t), (Entries{{"RemoteHost", "peer.example.org"},
                                  {"IsakmpMode", "2"},
                                  {"AuthMethod", "1"},
                                  {"TunnelCount", "1"}}));
    Json::Value root;
    t.ToJSON(root, true);
    EXPECT_EQ(root["Data"]["LocalIdentifier"], "*******");
    EXPECT_EQ(root["Data"]["PreSharedKey"], "*******");
    EXPECT_EQ(root["Data"]["Tunnels"][0]["RemoteNetwork"], "11.0.0.0");
    EXPECT_FALSE(ReadAll(t, Head(2).Bool(false)));

    EXPECT_EQ(Load(t, R"({"IsakmpHash": 3})").rejected, std::set<std::string>{"IsakmpHash"});
    // Same local IP and remote network: one entry. A missing list is empty.
    Loaded l = Load(t, R"({"Tunnels": [
        {"LocalNetwork": "10.0.0.0", "LocalSubnet": "255.0.0.0", "RemoteNetwork": "11.0.0.0",
         "RemoteSubnet": "255.0.0.0"},
        {"LocalNetwork": "10.0.0.0", "LocalSubnet": "255.255.0.0", "RemoteNetwork": "11.0.0.0",
         "RemoteSubnet": "255.255.0.0"},
        {"LocalNetwork": "10.0.0.0", "LocalSubnet": "255.0.0.0", "RemoteNetwork": "12.0.0.0",
         "RemoteSubnet": "255.0.0.0"}]})");
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(t.GetTunnels().size(), 2u);
    EXPECT_EQ(t.GetTunnels().begin()->localSubnet.GetIPString(), "255.0.0.0");
    EXPECT_TRUE(Load(t, R"({"Tunnels": null})").ok);
    EXPECT_FALSE(Load(t, R"({"Tunnels": [{"LocalNetwork": "10.0.0.0"}]})").ok);
}

// Version 1 had neither PFS nor certificate names, version 2 no names.
TEST(VpnItems, ProfileStoredLayouts) {
    for (unsigned version : {1u, 2u, 3u}) {
        Wire w = Head(uint16_t(version)).U32(100).U32(200).Str("id").U8(2).Str("psk");
        if (version == 3) w.Str("dev").Str("ca");
        Proposal(w, 3);
        if (version >= 2) w.Bool(false);
        Detection(w);
        cDBConfigDMVPNIpSec p;
        ASSERT_TRUE(ReadAll(p, w)) << version;
        EXPECT_EQ(p.GetAuthMethod(), 2);
        EXPECT_EQ(p.GetIsakmpHash(), 1);
        EXPECT_EQ(p.GetPFS(), version == 1) << version;
        EXPECT_EQ(p.GetRemoteCertificateName(), version == 3 ? "ca" : "") << version;
        EXPECT_EQ(p.GetNatT(), 3);
    }
    cDBConfigDMVPNIpSec p;
    EXPECT_EQ(p.GetIsakmpMode(), 1);
    ASSERT_TRUE(Load(p, R"({"PFS": null, "DeviceCertificateName": null, "DPD": false})").ok);
    EXPECT_TRUE(p.GetPFS());
    EXPECT_FALSE(p.GetDPD());
}

// Version 2 drops an entry whose index is in another scalar form; version 3
// files it under index 0. The address after such an index is still read.
TEST(VpnItems, GatewayMapByVersion) {
    for (unsigned version : {2u, 3u}) {
        Wire w = Head(uint16_t(version)).Bool(true).Bool(false).Bool(true).U32(2);
        w.U32(4).Addr(0x0a000004).Version(2).Addr(0x0a000009);
        if (version == 3) w.U16(60).U8(5);
        cDBConfigDMVPN d;
        ASSERT_TRUE(ReadAll(d, w)) << version;
        std::set<unsigned> indexes;
        d.GetDefaultGatewayIndexList(indexes);
        EXPECT_EQ(indexes, (version == 2 ? std::set<unsigned>{4} : std::set<unsigned>{0, 4}));
        EXPECT_EQ(d.GetDefaultGatewayByIndex(4).GetIPString(), "10.0.0.4");
        EXPECT_EQ(d.GetGatewayTrackInterval(), version == 3 ? 60 : 30);
    }
    cDBConfigDMVPN d;
    EXPECT_FALSE(ReadAll(d, Head(1).Bool(true)));
    ASSERT_TRUE(Load(d, R"({"Gateways": null, "GatewayTrackInterval": null,
                            "GatewayTrackAttempts": null})")
                    .ok);
    EXPECT_EQ(d.GetGatewayTrackAttempts(), 3);
    EXPECT_EQ(Load(d, R"({"GatewayTrackInterval": 5, "GatewayTrackAttempts": 0})").rejected,
              (std::set<std::string>{"GatewayTrackInterval", "GatewayTrackAttempts"}));
    // A gateway that does not parse ends the list and the read.
    Loaded l = Load(d, R"({"Gateways": [{"Index": 1, "Gateway": "10.0.0.1"},
        {"Index": 2, "Gateway": "gw"}, {"Index": 3, "Gateway": "10.0.0.3"}],
        "GatewayTrackInterval": 99})");
    EXPECT_EQ(l.rejected, std::set<std::string>{"Gateway"});
    std::set<unsigned> indexes{7};
    d.GetDefaultGatewayIndexList(indexes);
    EXPECT_EQ(indexes, std::set<unsigned>{1});
    EXPECT_EQ(d.GetGatewayTrackInterval(), 30);
}

// Versions 2 and 3 stored the next hop server as an address, 3 added its
// tunnel address, 4 made it text, 5 added the purge flag.
TEST(VpnItems, NetworkStoredLayouts) {
    const uint32_t hub = 0xc0000201;  // 192.0.2.1
    for (unsigned version : {2u, 3u, 4u, 5u}) {
        Wire w = Head(uint16_t(version)).Bool(true);
        if (version <= 3)
            w.Addr(hub);
        else
            w.Str("192.0.2.1");
        if (version >= 3) w.Addr(0x0a000001);
        w.U16(600).Bool(true).Bool(false).Str("key").U32(42).Addr(0x0a000002).Addr(0xffffff00);
        w.U16(1400);
        if (version == 5) w.Bool(true);
        cDBConfigDMVPNNetwork n;
        ASSERT_TRUE(ReadAll(n, w)) << version;
        EXPECT_EQ(n.GetNetHopServerNBMA(), "192.0.2.1");
        EXPECT_EQ(n.GetNHSProtocol().GetIPString(), version >= 3 ? "10.0.0.1" : "0.0.0.0");
        EXPECT_EQ(n.GetHoldTime(), 600);
        EXPECT_EQ(n.GetMTU(), 1400);
        EXPECT_EQ(n.GetDisablePurge(), version == 5);
    }
    cDBConfigDMVPNNetwork n;
    n.SetName("net1");
    n.SetNetHopServerNBMA("hub.example.org");
    n.SetGreKey(7);
    n.SetLocalAddr(kora::s_socket_addr::FromIP(0x0a000002));
    EXPECT_EQ(n.ToString(""),
              "cDBConfigDMVPNNetwork:Name:net1, Hub:false, GreKey:7, NHS:hub.example.org, "
              "LocalAddr:10.0.0.2, Netmask:0.0.0.0");
    EXPECT_EQ(InfoOf(n), (Entries{{"NextHopServer", "hub.example.org"},
                                  {"LocalAddr", "10.0.0.2"},
                                  {"Netmask", "0.0.0.0"}}));
    EXPECT_FALSE(ReadAll(n, Head(1).Bool(true)));
    ASSERT_TRUE(Load(n, R"({"DisablePurge": null, "HubMode": true})").ok);
    EXPECT_FALSE(n.GetDisablePurge());
    EXPECT_EQ(Load(n, R"({"MTU": 1501})").rejected, std::set<std::string>{"MTU"});
}
