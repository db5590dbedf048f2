// VPN items: IPsec tunnels, the multipoint VPN, its IPsec profile and networks.
#include "item_doc.h"

using namespace tessel;
using namespace testdoc;
using testwire::Wire;

namespace {

// Stored proposal (ISAKMP mode, encryption, hash; IPsec encryption, hash; DH
// group) with both hashes `hash`.
Wire& Proposal(Wire& w, uint8_t hash) {
    return w.U8(2).U8(4).U8(hash).U8(4).U8(hash).U8(2);
}
// Stored NAT traversal and dead peer detection.
Wire& Detection(Wire& w) {
    return w.U8(3).Bool(true).U16(150).U16(60).U16(5);
}

}  // namespace

TEST(VpnItems, SetterRanges) {
    cDBConfigIpSecTunnel t;
    cDBConfigDMVPNIpSec p;
    cDBConfigDMVPN d;
    cDBConfigDMVPNNetwork n;
    RunSetters({
        {"hash 3", [&] { return t.SetIsakmpHash(3); }, false},
        {"hash 6", [&] { return t.SetIpsecHash(6); }, true},
        {"dh 4", [&] { return p.SetDHGroup(4); }, false},
        {"remote host _", [&] { return t.SetRemoteHost("vpn_1"); }, false},
        {"track interval 9", [&] { return d.SetGatewayTrackInterval(9); }, false},
        {"gateway text", [&] { return d.SetDefaultGatewayByIndex(1, "gw"); }, false},
        {"gateway", [&] { return d.SetDefaultGatewayByIndex(2, "10.0.0.2"); }, true},
        {"mtu 1501", [&] { return n.SetMTU(1501); }, false},
        {"hold 65536", [&] { return n.SetHoldTime(65536); }, false},
    });
    EXPECT_EQ(d.GetDefaultGatewayByIndex(2).GetIPString(), "10.0.0.2");
}

// A stored hash 3 reads back as 1; JSON refuses it.
TEST(VpnItems, TunnelHashesAndEntries) {
    Wire w = Head(3).Bool(false).Str("peer.example.org").U32(3600).U32(1800).Str("me").Str("you");
    Proposal(w.U8(1).Str("psk").Str("").Str(""), 3).Bool(true);
    Detection(w).U32(1).Addr(0x0a000000).Addr(0xff000000).Addr(0x0b000000).Addr(0xff000000);
    cDBConfigIpSecTunnel t;
    ASSERT_TRUE(ReadStored(t, w));
    EXPECT_EQ(t.GetIsakmpHash(), 1);
    EXPECT_EQ(t.GetIpsecHash(), 1);
    EXPECT_TRUE(t.HasKey());
    EXPECT_EQ(t.GetKey(), "peer.example.org");
    EXPECT_EQ(InfoOf(t), "AuthMethod=1, IsakmpMode=2, RemoteHost=peer.example.org, TunnelCount=1");
    Json::Value root;
    t.ToJSON(root, true);
    EXPECT_EQ(root["Data"]["LocalIdentifier"], "*******");
    EXPECT_EQ(root["Data"]["Tunnels"][0]["RemoteNetwork"], "11.0.0.0");

    EXPECT_EQ(Outcome(t, R"({"IsakmpHash": 3})"), "IsakmpHash");
    // Same local IP and remote network: the first entry stays.
    EXPECT_EQ(Outcome(t, R"({"Tunnels": [
        {"LocalNetwork": "10.0.0.0", "LocalSubnet": "255.0.0.0", "RemoteNetwork": "11.0.0.0",
         "RemoteSubnet": "255.0.0.0"},
        {"LocalNetwork": "10.0.0.0", "LocalSubnet": "255.255.0.0", "RemoteNetwork": "11.0.0.0",
         "RemoteSubnet": "255.0.0.0"},
        {"LocalNetwork": "10.0.0.0", "LocalSubnet": "255.0.0.0", "RemoteNetwork": "12.0.0.0",
         "RemoteSubnet": "255.0.0.0"}]})"),
              "ok");
    ASSERT_EQ(t.GetTunnels().size(), 2u);
    EXPECT_EQ(t.GetTunnels().begin()->localSubnet.GetIPString(), "255.0.0.0");
    EXPECT_EQ(Outcome(t, R"({"Tunnels": [{"LocalNetwork": "10.0.0.0"}]})"), "");
}

// Version 1 had neither PFS nor certificate names, version 2 no names.
TEST(VpnItems, ProfileStoredLayouts) {
    for (unsigned version : {1u, 2u, 3u}) {
        Wire w = Head(uint16_t(version)).U32(100).U32(200).Str("id").U8(2).Str("psk");
        if (version == 3) w.Str("dev").Str("ca");
        Proposal(w, 3);
        if (version >= 2) w.Bool(false);
        cDBConfigDMVPNIpSec p;
        ASSERT_TRUE(ReadStored(p, Detection(w))) << version;
        EXPECT_EQ(p.GetIsakmpHash(), 1);
        EXPECT_EQ(p.GetPFS(), version == 1) << version;
        EXPECT_EQ(p.GetRemoteCertificateName(), version == 3 ? "ca" : "") << version;
        EXPECT_EQ(p.GetNatT(), 3);
    }
    EXPECT_EQ(Outcome<cDBConfigDMVPNIpSec>(R"({"PFS": null, "RemoteCertificateName": null})"),
              "ok");
}

// Version 2 drops an entry whose index is in another scalar form; version 3
// files it under index 0. The address after such an index is still read.
TEST(VpnItems, GatewayMapByVersion) {
    for (uint16_t version : {2, 3}) {
        Wire w = Head(version).Bool(true).Bool(false).Bool(true).U32(2);
        w.U32(4).Addr(0x0a000004).Version(2).Addr(0x0a000009);
        if (version == 3) w.U16(60).U8(5);
        cDBConfigDMVPN d;
        ASSERT_TRUE(ReadStored(d, w)) << version;
        std::set<unsigned> indexes;
        d.GetDefaultGatewayIndexList(indexes);
        EXPECT_EQ(indexes, (version == 2 ? std::set<unsigned>{4} : std::set<unsigned>{0, 4}));
        EXPECT_EQ(d.GetDefaultGatewayByIndex(0).GetIP(), version == 2 ? 0u : 0x0a000009u);
        EXPECT_EQ(d.GetGatewayTrackInterval(), version == 3 ? 60 : 30);
    }
    cDBConfigDMVPN d;
    EXPECT_EQ(Outcome(d, R"({"Gateways": null, "GatewayTrackAttempts": null})"), "ok");
    EXPECT_EQ(Outcome(d, R"({"GatewayTrackInterval": 5, "GatewayTrackAttempts": 0})"),
              "GatewayTrackAttempts GatewayTrackInterval");
    // A gateway that does not parse ends the list and the read.
    EXPECT_EQ(Outcome(d, R"({"Gateways": [{"Index": 1, "Gateway": "10.0.0.1"},
        {"Index": 2, "Gateway": "gw"}, {"Index": 3, "Gateway": "10.0.0.3"}],
        "GatewayTrackInterval": 99})"),
              "Gateway");
    std::set<unsigned> indexes{7};
    d.GetDefaultGatewayIndexList(indexes);
    EXPECT_EQ(indexes, std::set<unsigned>{1});
    EXPECT_EQ(d.GetGatewayTrackInterval(), 30);
}

// Versions 2 and 3 stored the next hop server as an address, 3 added its
// tunnel address, 4 made it text, 5 added the purge flag.
TEST(VpnItems, NetworkStoredLayouts) {
    for (uint16_t version : {2, 3, 4, 5}) {
        Wire w = Head(version).Bool(true);
        if (version <= 3)
            w.Addr(0xc0000201);
        else
            w.Str("192.0.2.1");
        if (version >= 3) w.Addr(0x0a000001);
        w.U16(600).Bool(true).Bool(false).Str("key").U32(42);
        w.Addr(0x0a000002).Addr(0xffffff00).U16(1400);
        if (version == 5) w.Bool(true);
        cDBConfigDMVPNNetwork n;
        ASSERT_TRUE(ReadStored(n, w)) << version;
        EXPECT_EQ(n.GetNetHopServerNBMA(), "192.0.2.1");
        EXPECT_EQ(n.GetNHSProtocol().GetIPString(), version >= 3 ? "10.0.0.1" : "0.0.0.0");
        EXPECT_EQ(n.GetMTU(), 1400);
        EXPECT_EQ(n.GetDisablePurge(), version == 5);
    }
    cDBConfigDMVPNNetwork n;
    n.SetName("net1");
    n.SetNetHopServerNBMA("hub.example.org");
    n.SetGreKey(7);
    n.SetLocalAddr(kora::s_socket_addr("10.0.0.2"));
    EXPECT_EQ(n.ToString(""),
              "cDBConfigDMVPNNetwork:Name:net1, Hub:false, GreKey:7, NHS:hub.example.org, "
              "LocalAddr:10.0.0.2, Netmask:0.0.0.0");
    EXPECT_EQ(InfoOf(n), "LocalAddr=10.0.0.2, Netmask=0.0.0.0, NextHopServer=hub.example.org");
    EXPECT_EQ(Outcome(n, R"({"DisablePurge": null})"), "ok");
    EXPECT_EQ(Outcome(n, R"({"MTU": 1501})"), "MTU");
}
