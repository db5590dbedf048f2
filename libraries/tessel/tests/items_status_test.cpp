// Status items: bounds of their setters, MAC and lease lists, the derived
// signal strength, masking, older layouts and display information.
#include "item_doc.h"

using namespace tessel;
using namespace testdoc;
using testwire::Wire;

TEST(StatusItems, SetterBounds) {
    cDBStatusWiredWan wired;
    cDBStatusWirelessWan mobile;
    cDBStatusLan lan;
    cDBStatusLanPort port;
    cDBStatusConnection conn;
    cDBStatusISAKMPSA sa;
    cDBStatusWan wan;
    kora::s_socket_addr ip("10.0.0.5");
    RunSetters({
        {"wired mode 6", [&] { return wired.SetMode(6); }, true},
        {"wired mode 4", [&] { return wired.SetMode(4); }, false},
        {"wired mode 5", [&] { return wired.SetMode(5); }, false},
        {"wired mtu 575", [&] { return wired.SetMTU(575); }, false},
        {"wired mtu 576", [&] { return wired.SetMTU(576); }, true},
        {"wired mtu 1501", [&] { return wired.SetMTU(1501); }, false},
        {"wired port mode 1", [&] { return wired.SetPortMode(1); }, false},
        {"wired mac dashes", [&] { return wired.SetMac("00-11-22-33-44-55"); }, false},
        {"lease ok", [&] { return wired.SetLeaseByIP(ip, "00:11:22:33:44:55", 3, "pc1"); }, true},
        {"lease status 0", [&] { return wired.SetLeaseByIP(ip, "00:11:22:33:44:55", 0, "pc"); },
         false},
        {"lease status 4", [&] { return wired.SetLeaseByIP(ip, "00:11:22:33:44:55", 4, "pc"); },
         false},
        {"lease host _", [&] { return wired.SetLeaseByIP(ip, "00:11:22:33:44:55", 1, "a_b"); },
         false},
        {"lease bad mac", [&] { return wired.SetLeaseByIP(ip, "0011", 1, "pc"); }, false},
        {"csq 100", [&] { return mobile.SetCSQ(100); }, false},
        {"csq 31", [&] { return mobile.SetCSQ(31); }, true},
        {"ecno -25", [&] { return mobile.SetECNO(-25); }, false},
        {"ecno 1", [&] { return mobile.SetECNO(1); }, false},
        {"ecno -24", [&] { return mobile.SetECNO(-24); }, true},
        {"ecno 99", [&] { return mobile.SetECNO(99); }, true},
        {"rscp -114", [&] { return mobile.SetRSCP(-114); }, false},
        {"rscp -113", [&] { return mobile.SetRSCP(-113); }, true},
        {"netid 7 digits", [&] { return mobile.SetNetID("2620112"); }, false},
        {"netid letter", [&] { return mobile.SetNetID("2620a"); }, false},
        {"netid 6 digits", [&] { return mobile.SetNetID("262011"); }, true},
        {"sim slot 2", [&] { return mobile.SetSimSlot(2); }, false},
        {"sim slot 99", [&] { return mobile.SetSimSlot(99); }, true},
        {"apn _", [&] { return mobile.SetAPN("web_x"); }, false},
        {"technology 7", [&] { return mobile.SetMobileTechnology(7); }, false},
        {"lan mode 1", [&] { return lan.SetMode(1); }, false},
        {"lan mode 2", [&] { return lan.SetMode(2); }, true},
        {"port mode 6", [&] { return port.SetMode(6); }, false},
        {"port mode 5", [&] { return port.SetMode(5); }, true},
        {"lan vrrp 3", [&] { return lan.SetVRRPState(3); }, false},
        {"lost 101", [&] { return conn.SetPackageLostPercent(101); }, false},
        {"lost 100", [&] { return conn.SetPackageLostPercent(100); }, true},
        {"sa type 0", [&] { return sa.SetSAType(0); }, false},
        {"sa type 3", [&] { return sa.SetSAType(3); }, false},
        {"wan technology 5", [&] { return wan.SetActiveWanTechnology(5); }, false},
    });
    EXPECT_EQ(wired.GetMTU(), 576);
    EXPECT_EQ(wired.GetLeases().size(), 1u);
    EXPECT_EQ(mobile.GetECNO(), 99);
}

TEST(StatusItems, SoftwareVersionsKeepTheFirstLine) {
    cDBStatusSoftware s;
    s.SetFirmwareVersion("2.1.0\n");
    s.SetKernelVersion("#1 SMP\r\nbuilt by ci");
    EXPECT_EQ(s.GetFirmwareVersion(), "2.1.0");
    EXPECT_EQ(s.GetKernelVersion(), "#1 SMP");
    // JSON takes the texts as they are.
    bool ok = false;
    Load(s, Doc<cDBStatusSoftware>(R"({"OSVersion": "a\nb"})"), ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(s.GetOSVersion(), "a\nb");
}

TEST(StatusItems, RssiFollowsCsq) {
    cDBStatusWirelessWan m;
    Json::Value root;
    m.ToJSON(root, false);
    EXPECT_EQ(root["Data"]["RSSI"].asInt(), 0);
    ASSERT_TRUE(m.SetCSQ(31));
    m.ToJSON(root, false);
    EXPECT_EQ(root["Data"]["RSSI"].asInt(), -51);
    // Written after "ECNO", and never read back.
    kora::s_string text;
    m.ToJSON(text);
    EXPECT_LT(text.find("\"ECNO\""), text.find("\"RSSI\""));
    EXPECT_LT(text.find("\"RSSI\""), text.find("\"RSCP\""));
    bool ok = false;
    Load(m, Doc(m, R"({"RSSI": "anything"})"), ok);
    EXPECT_TRUE(ok);
}

TEST(StatusItems, FilledWiredWanTravelsThroughJson) {
    cDBStatusWiredWan w;
    ASSERT_TRUE(w.SetPortMode(4));
    ASSERT_TRUE(w.SetMacList({"00:11:22:33:44:55", "AA:bb:CC:dd:EE:ff"}));
    ASSERT_TRUE(w.SetLeaseByIP(kora::s_socket_addr("192.168.1.20"), "00:11:22:33:44:66", 2, "pc"));
    w.SetIP(kora::s_socket_addr("10.1.2.3"));
    w.SetBytesReceived(1ull << 40);
    cDBStatusWiredWan back;
    bool ok = false;
    kora::s_string text;
    w.ToJSON(text);
    EXPECT_TRUE(Load(back, text, ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(back.ToHash(), w.ToHash());
    EXPECT_EQ(back.GetPortMode(), 4);

    // Masking hides the host names of leases.
    Json::Value masked;
    w.ToJSON(masked, true);
    EXPECT_EQ(masked["Data"]["Leases"][0]["Hostname"], "*******");
    EXPECT_EQ(masked["Data"]["Leases"][0]["Mac"], "00:11:22:33:44:66");
}

TEST(StatusItems, Lists) {
    cDBStatusLanPort port;
    ASSERT_TRUE(port.SetMacList({"00:11:22:33:44:55"}));
    EXPECT_FALSE(port.SetMacList({"00:11:22:33:44:66", "bad"}));
    EXPECT_EQ(port.GetMacList(), MacSet{"00:11:22:33:44:55"});

    struct Case {
        const char* changes;
        bool ok;
        std::set<std::string> rejected;
        size_t macs, leases;
    } cases[] = {
        {R"({"Macs": null, "Leases": null})", true, {}, 0, 0},
        {R"({"Macs": [{"Mac": "00:11:22:33:44:55"}, {"Mac": "x"}, {"Mac": "00:11:22:33:44:66"}]})",
         false,
         {"Mac"},
         1,
         0},
        {R"({"Leases": [{"IP": "10.0.0.1", "Mac": "00:11:22:33:44:55", "Hostname": "a",
             "Status": 4}], "Macs": [{"Mac": "00:11:22:33:44:55"}]})",
         false,
         {"Lease"},
         1,
         0},
        {R"({"Leases": [{"IP": "10.0.0.1", "Mac": "00:11:22:33:44:55", "Status": 1}]})",
         false,
         {},
         0,
         0},
        {R"({"Mode": 9, "Macs": [{"Mac": "00:11:22:33:44:55"}]})", false, {"Mode"}, 0, 0},
    };
    for (const auto& c : cases) {
        cDBStatusLan lan;
        bool ok = true;
        EXPECT_EQ(Load(lan, Doc<cDBStatusLan>(c.changes), ok), c.rejected) << c.changes;
        EXPECT_EQ(ok, c.ok) << c.changes;
        EXPECT_EQ(lan.GetMacList().size(), c.macs) << c.changes;
        EXPECT_EQ(lan.GetLeases().size(), c.leases) << c.changes;
    }
}

// Version 1 of the LAN and LAN interface status lacks the VRRP state.
TEST(StatusItems, OlderLayouts) {
    Wire lan;
    lan.Version(1).Str("LanStatus").Str("/Status/Network/").Bool(true).U8(3);
    lan.U32(1).Str("00:11:22:33:44:55").U64(7).U64(8).Addr(0x0a000001).Addr(0xffffff00);
    lan.Str("00:11:22:33:44:66").U8(2);
    lan.U32(1).Addr(0x0a000002).Str("00:11:22:33:44:77").Str("pc").U8(1);
    cDBStatusLan l;
    ASSERT_TRUE(l.SetVRRPState(2));
    ASSERT_EQ(ReadStored(l, lan), 1);
    EXPECT_EQ(l.GetVRRPState(), 0);
    EXPECT_EQ(l.GetMode(), 3);
    EXPECT_EQ(l.GetLeases().begin()->second.hostname, "pc");

    Wire iface;
    iface.Version(1).Str("lan0").Str("/Status/Network/LANInterfaces/").U64(1).U64(2);
    iface.Addr(0).Addr(0).Str("00:11:22:33:44:55").U8(1).U32(0);
    cDBStatusLanInterface i;
    EXPECT_EQ(ReadStored(i, iface), 1);
    // The wired WAN reads only its current version.
    cDBStatusWiredWan w;
    EXPECT_EQ(ReadStored(w, Wire().Version(5).Str("x").Str("/")), 0);
}

TEST(StatusItems, InformationMaps) {
    kora::cMap<kora::s_string, kora::s_string> info;
    cDBStatusLanInterface i;
    i.SetBytesReceived(1ull << 40);
    i.SetIP(kora::s_socket_addr("192.168.0.1"));
    ASSERT_TRUE(i.GetInfo(info));
    EXPECT_EQ(info["BystesReceived"], "1099511627776");
    EXPECT_EQ(info["IP"], "192.168.0.1");
    EXPECT_EQ(info.size(), 4u);

    cDBStatusISAKMPSA sa;
    sa.SetConnected(true);
    sa.SetRemoteID("peer");
    ASSERT_TRUE(sa.GetInfo(info));
    EXPECT_EQ(info["SAType"], "1");
    EXPECT_EQ(info["Connected"], "true");
    EXPECT_EQ(info["ConnectionTime"], "0");
    EXPECT_EQ(info["RemoteID"], "peer");

    cDBStatusLanPort p;
    ASSERT_TRUE(p.GetInfo(info));
    EXPECT_EQ(info["Link"], "false");
    EXPECT_EQ(info["Mode"], "2");
    cDBStatusDataVolume v;
    v.SetDataVolume(42);
    ASSERT_TRUE(v.GetInfo(info));
    EXPECT_EQ(info.size(), 1u);
    EXPECT_EQ(info["DataVolume"], "42");
}

TEST(StatusItems, TextForms) {
    cDBStatusWiredWan w;
    w.SetOnline(true);
    w.SetGateway(kora::s_socket_addr("10.0.0.254"));
    EXPECT_EQ(w.ToString(""),
              "cDBStatusWiredWan:NetworkConnected:false, Online:true, IP:0.0.0.0, "
              "Netmask:0.0.0.0, Gateway:10.0.0.254, DNS1:0.0.0.0, DNS2:0.0.0.0, DNS3:0.0.0.0, "
              "MTU:1500");
    cDBStatusWan wan;
    wan.SetWanSetup("Backup");
    EXPECT_EQ(wan.ToString(""), "cDBStatusWan:ActiveWanTechnology:0, WanSetup:Backup");
    EXPECT_EQ(cDBStatusHardware().ToString(""),
              "cDBStatusHardware:HardwareVersion:, HardwareID:, SerialNumber:, ProductionDate:");
    EXPECT_EQ(cDBStatusWirelessWan().ToString("").substr(0, 60),
              "cDBStatusWirelessWan:MobileTechnology:0, NetworkConnected:fa");
}
