// Device-management configuration items: checks, optional JSON members,
// older binary versions and masking.
#include "item_doc.h"

using namespace tessel;
using namespace testdoc;
using testwire::Wire;

// (setter, value, accepted) per class, run through the same table.
TEST(DeviceItems, SetterRanges) {
    cDBConfigAccess a;
    cDBConfigWebInterface w;
    cDBConfigSNMP s;
    cDBConfigEmail e;
    cDBConfigNTP n;
    cDBConfigRadius r;
    cDBConfigTacacs t;
    cDBConfigSnapshot snap;
    std::vector<SetterCase> cases = {
        {"access wan status 1", [&] { return a.SetAccessWanStatus(1); }, true},
        {"access wan status 2", [&] { return a.SetAccessWanStatus(2); }, false},
        {"access wan config 2", [&] { return a.SetAccessWanConfig(2); }, true},
        {"access wan config 3", [&] { return a.SetAccessWanConfig(3); }, false},
        {"access system status 2", [&] { return a.SetAccessSystemStatus(2); }, false},
        {"access uart 256", [&] { return a.SetAccessUART(256); }, false},
        {"language 1", [&] { return w.SetLanguage(1); }, true},
        {"language 2", [&] { return w.SetLanguage(2); }, false},
        {"https 53", [&] { return w.SetHTTPSPort(53); }, false},
        {"https 8443", [&] { return w.SetHTTPSPort(8443); }, true},
        {"https 65536", [&] { return w.SetHTTPSPort(65536); }, false},
        {"snmp 22", [&] { return s.SetPort(22); }, false},
        {"snmp 123", [&] { return s.SetPort(123); }, false},
        {"snmp 0", [&] { return s.SetPort(0); }, false},
        {"snmp 161", [&] { return s.SetPort(161); }, true},
        {"snmp 162", [&] { return s.SetPort(162); }, true},
        {"mail port 0", [&] { return e.SetTcpPort(0); }, false},
        {"mail port 22", [&] { return e.SetTcpPort(22); }, true},
        {"mail port 65535", [&] { return e.SetTcpPort(65535); }, true},
        {"mail pass space", [&] { return e.SetAuthPass("a b"); }, false},
        {"mail pass ok", [&] { return e.SetAuthPass("s3cr#t"); }, true},
        {"mail server", [&] { return e.SetMailserver("smtp.example.org"); }, true},
        {"mail server _", [&] { return e.SetMailserver("smtp_x"); }, false},
        {"sender quote", [&] { return e.SetSenderName("it's"); }, false},
        {"sender <x>", [&] { return e.SetSenderName("Router <r>"); }, true},
        {"ntp poll 3", [&] { return n.SetPollingInterval(3); }, false},
        {"ntp poll 4", [&] { return n.SetPollingInterval(4); }, true},
        {"ntp poll 17", [&] { return n.SetPollingInterval(17); }, true},
        {"ntp poll 18", [&] { return n.SetPollingInterval(18); }, false},
        {"radius level 0", [&] { return r.SetAccessLevel(0); }, false},
        {"radius level 3", [&] { return r.SetAccessLevel(3); }, true},
        {"radius level 4", [&] { return r.SetAccessLevel(4); }, false},
        {"tacacs user priv 0", [&] { return t.SetUserPrivLevel(0); }, false},
        {"tacacs user priv 16", [&] { return t.SetUserPrivLevel(16); }, false},
        {"tacacs admin priv 15", [&] { return t.SetAdminPrivLevel(15); }, true},
        {"tacacs auth service 3", [&] { return t.SetAuthService1(3); }, false},
        {"tacacs auth service 2", [&] { return t.SetAuthService2(2); }, true},
        {"snapshot receiver", [&] { return snap.SetReceiverEmail("ops@example.org"); }, true},
        {"snapshot receiver no @", [&] { return snap.SetReceiverEmail("ops"); }, false},
    };
    RunSetters(cases);
    // Refused values left the fields as they were.
    EXPECT_EQ(a.GetAccessWanStatus(), 1);
    EXPECT_EQ(w.GetHTTPSPort(), 8443);
    EXPECT_EQ(s.GetPort(), 162);
    EXPECT_EQ(n.GetPollingInterval(), 17);
}

TEST(DeviceItems, AccessOptionalMembers) {
    std::set<std::string> rejected;
    cDBConfigAccess a;
    // Written for version 1: the three later members are absent.
    std::string v1 = Doc<cDBConfigAccess>(
        R"({"AccessCertificates":null,"AccessTools":null,"AccessUART":null,"AccessLogbook":2})");
    EXPECT_TRUE(a.FromJSON(v1, rejected));
    EXPECT_EQ(a.GetAccessLogbook(), 2);
    EXPECT_EQ(a.GetAccessCertificates(), 0);

    // A refused required value: the rest is still taken over.
    std::string bad = Doc<cDBConfigAccess>(R"({"AccessWanStatus":2,"AccessLanConfig":2})");
    EXPECT_FALSE(a.FromJSON(bad, rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"AccessWanStatus"});
    EXPECT_EQ(a.GetAccessLanConfig(), 2);

    // A refused optional value ends the read: later optional members stay 0.
    rejected.clear();
    std::string badOptional =
        Doc<cDBConfigAccess>(R"({"AccessCertificates":3,"AccessTools":2,"AccessUART":2})");
    EXPECT_FALSE(a.FromJSON(badOptional, rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"AccessCertificates"});
    EXPECT_EQ(a.GetAccessTools(), 0);
    EXPECT_EQ(a.GetAccessUART(), 0);

    // A missing optional member in the middle does not stop the later ones.
    rejected.clear();
    std::string gap = Doc<cDBConfigAccess>(R"({"AccessTools":null,"AccessUART":2})");
    EXPECT_TRUE(a.FromJSON(gap, rejected));
    EXPECT_EQ(a.GetAccessUART(), 2);
}

TEST(DeviceItems, WebInterfaceLanguageFirst) {
    std::set<std::string> rejected;
    cDBConfigWebInterface w;
    EXPECT_TRUE(
        w.FromJSON(Doc<cDBConfigWebInterface>(R"({"HTTPSPort":null,"Language":1})"), rejected));
    EXPECT_EQ(w.GetHTTPSPort(), 443);
    EXPECT_EQ(w.GetLanguage(), 1);
    EXPECT_FALSE(w.FromJSON(Doc<cDBConfigWebInterface>(R"({"HTTPSPort":53})"), rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"HTTPSPort"});
    rejected.clear();
    EXPECT_FALSE(
        w.FromJSON(Doc<cDBConfigWebInterface>(R"({"Language":2,"HTTPSPort":8443})"), rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"Language"});
    EXPECT_EQ(w.GetHTTPSPort(), 443);
    EXPECT_EQ(w.ToString(""), "cDBConfigWebInterface:Language:0;HTTPSPort:443");
}

TEST(DeviceItems, RadiusNeedsAccessLevelInJson) {
    std::set<std::string> rejected;
    cDBConfigRadius r;
    EXPECT_FALSE(r.FromJSON(Doc<cDBConfigRadius>(R"({"AccessLevel":null})"), rejected));
    EXPECT_TRUE(rejected.empty());
    EXPECT_FALSE(r.FromJSON(Doc<cDBConfigRadius>(R"({"AccessLevel":0})"), rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"AccessLevel"});
}

TEST(DeviceItems, MaskingWritesSevenStarsForSetSecretsOnly) {
    cDBConfigTacacs t;
    ASSERT_TRUE(t.SetHost1("aaa.example.org"));
    ASSERT_TRUE(t.SetSecret2("k"));
    Json::Value masked, plain;
    t.ToJSON(masked, true);
    t.ToJSON(plain, false);
    EXPECT_EQ(masked["Data"]["Host1"], "*******");
    EXPECT_EQ(masked["Data"]["Secret2"], "*******");
    EXPECT_EQ(masked["Data"]["Host2"], "");
    EXPECT_EQ(masked["Data"]["Secret1"], "");
    EXPECT_EQ(plain["Data"]["Host1"], "aaa.example.org");
    EXPECT_EQ(masked["Data"]["UserPrivLevel"].asUInt(), 7u);

    cDBConfigEmail e;
    ASSERT_TRUE(e.SetAuthUser("me"));
    e.ToJSON(masked, true);
    EXPECT_EQ(masked["Data"]["AuthUser"], "*******");
    EXPECT_EQ(masked["Data"]["AuthPass"], "");
    EXPECT_EQ(masked["Data"]["TcpPort"].asUInt(), 465u);
}

// Stored layouts, token by token.
TEST(DeviceItems, GoldenBinaryLayouts) {
    cDBConfigSNMP snmp;
    snmp.SetEnabled(true);
    ASSERT_TRUE(snmp.SetPort(1161));
    EXPECT_EQ(testwire::BytesOf(snmp), Wire()
                                           .Version(1)
                                           .Str("SNMPConfig")
                                           .Str("/Config/System/DeviceManagement/SNMP/")
                                           .Bool(true)
                                           .U16(1161)
                                           .Bytes());

    // RADIUS version 1 lacks the access level, which keeps its default 2.
    Wire radiusV1;
    radiusV1.Version(1).Str("RadiusConfig").Str("/Config/System/Access/").Bool(true);
    radiusV1.Str("r1").U16(1812).Str("s1").Bool(false).Str("").U16(1813).Str("");
    cDBConfigRadius r;
    r.SetAccessLevel(3);
    kora::cSerializeBuffer b = radiusV1.Buffer();
    EXPECT_EQ(r.Deserialize(b), 1);
    EXPECT_EQ(r.GetAccessLevel(), 2);
    EXPECT_EQ(r.GetHost1(), "r1");
    EXPECT_EQ(r.GetPort2(), 1813);
    EXPECT_EQ(b.Remaining(), 0u);

    // Access versions 1 to 4 each add one trailing level.
    for (unsigned version = 1; version <= 4; ++version) {
        Wire w;
        w.Version(version).Str("UserAccessConfig").Str("/Config/System/Access/");
        for (int i = 0; i < 12; ++i) w.U8(1);
        for (unsigned extra = 2; extra <= version; ++extra) w.U8(2);
        cDBConfigAccess a;
        kora::cSerializeBuffer in = w.Buffer();
        ASSERT_EQ(a.Deserialize(in), 1) << version;
        EXPECT_EQ(in.Remaining(), 0u);
        EXPECT_EQ(a.GetAccessCertificates(), version >= 2 ? 2 : 0);
        EXPECT_EQ(a.GetAccessTools(), version >= 3 ? 2 : 0);
        EXPECT_EQ(a.GetAccessUART(), version >= 4 ? 2 : 0);
    }
}

TEST(DeviceItems, VersionsBeforeTheFirstStoredOneFail) {
    for (const char* className : {"cDBConfigEmail", "cDBConfigSnapshot"}) {
        kora::Ref<kora::ISerialize> obj =
            kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::CreateObject(className));
        kora::cSerializeBuffer b = Wire().Version(1).Str("other").Str("/o/").Buffer();
        EXPECT_EQ(obj->Deserialize(b), 0) << className;
    }
}

TEST(DeviceItems, AccessLevelByClass) {
    cDBConfigAccess a;
    ASSERT_TRUE(a.SetAccessUART(2));
    ASSERT_TRUE(a.SetAccessLanStatus(1));
    EXPECT_EQ(a.GetLevel(ACCESS_CLASS_UART), 2u);
    EXPECT_EQ(a.GetLevel(ACCESS_CLASS_LAN_STATUS), 1u);
    EXPECT_EQ(a.GetLevel(ACCESS_CLASS_ADMIN_ONLY), 0u);
}
