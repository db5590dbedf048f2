// Certificate summaries, CSR templates, the key status and the serial ports.
#include "item_doc.h"

using namespace tessel;
using namespace testdoc;
using testwire::Wire;

TEST(CertificateItems, CsrTemplateChecks) {
    cDBConfigCSRTemplate t;
    RunSetters({
        {"country 3", [&] { return t.SetCountryName("DEU"); }, false},
        {"country 2", [&] { return t.SetCountryName("DE"); }, true},
        {"country empty", [&] { return t.SetCountryName(""); }, true},
        {"url ftp", [&] { return t.SetSCEPURL("ftp://ca.example.org"); }, false},
        {"url quote", [&] { return t.SetSCEPURL("https://ca'x"); }, false},
        {"url empty", [&] { return t.SetSCEPURL(""); }, false},
        {"url https", [&] { return t.SetSCEPURL("https://ca.example.org"); }, true},
        {"url http", [&] { return t.SetSCEPURL("http://ca/scep?x=1"); }, true},
        {"name mode 0", [&] { return t.SetCommonNameMode(0); }, false},
        {"name mode 3", [&] { return t.SetCommonNameMode(3); }, false},
        {"algorithm 0", [&] { return t.SetSignatureAlgorithm(0); }, false},
        {"algorithm 3", [&] { return t.SetSignatureAlgorithm(3); }, false},
        {"algorithm 1", [&] { return t.SetSignatureAlgorithm(1); }, true},
    });
}

TEST(CertificateItems, CsrTemplateJsonAndInfo) {
    cDBConfigCSRTemplate t;
    ASSERT_TRUE(t.SetSCEPURL("https://ca"));
    ASSERT_TRUE(t.SetCommonName("router"));
    bool ok = false;
    // The SCEP pair is optional and read only as a pair.
    EXPECT_TRUE(Load(t, Doc(t, R"({"SCEPEnabled": null})"), ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(t.GetSCEPURL(), "");
    cDBConfigCSRTemplate u;
    ASSERT_TRUE(u.SetSCEPURL("https://ca"));
    EXPECT_EQ(Load(u, Doc(u, R"({"SCEPURL": "mailto:x"})"), ok), std::set<std::string>{"SCEPURL"});
    EXPECT_FALSE(ok);
    EXPECT_EQ(Load(u, Doc(u, R"({"OrgantisationUnitName": 1})"), ok), std::set<std::string>{});
    EXPECT_FALSE(ok);

    kora::cMap<kora::s_string, kora::s_string> info;
    t.SetCommonName("router");
    ASSERT_TRUE(t.GetInfo(info));
    EXPECT_EQ(info["CommonName"], "router<SerialNumber>");
    EXPECT_EQ(info["SCEPEnabled"], "false");
    ASSERT_TRUE(t.SetCommonNameMode(2));
    t.GetInfo(info);
    EXPECT_EQ(info["CommonName"], "router");
}

// Version 2 lacks the SCEP pair; version 3 holds a text after it that is
// dropped; version 1 is refused.
TEST(CertificateItems, CsrTemplateOlderLayouts) {
    auto head = [](unsigned version) {
        Wire w;
        w.Version(version).Str("t1").Str("/Config/Certificates/CSRTemplates/");
        w.U8(2).Str("cn").U8(1).Str("org").Str("unit").Str("DE").Str("st").Str("city").Str("e");
        return w;
    };
    cDBConfigCSRTemplate t;
    ASSERT_EQ(ReadStored(t, head(2)), 1);
    EXPECT_EQ(t.GetCountryName(), "DE");
    EXPECT_FALSE(t.GetSCEPEnabled());
    EXPECT_EQ(t.GetSCEPURL(), "");
    ASSERT_EQ(ReadStored(t, head(3).Bool(true).Str("https://ca").Str("dropped")), 1);
    EXPECT_EQ(t.GetSCEPURL(), "https://ca");
    ASSERT_EQ(ReadStored(t, head(4).Bool(true).Str("https://ca")), 1);
    EXPECT_EQ(ReadStored(t, head(1)), 0);
}

TEST(CertificateItems, FingerprintsAndDefaults) {
    cDBCertificate c;
    ASSERT_TRUE(c.SetPublicKey("-----BEGIN PUBLIC KEY-----"));
    std::string first = c.GetPublicKeyFingerprint();
    EXPECT_EQ(first.size(), 64u);
    c.SetPublicKey("-----BEGIN PUBLIC KEY-----");
    EXPECT_EQ(c.GetPublicKeyFingerprint(), first);
    EXPECT_EQ(PublicKeyFingerprint("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // SetDefault keeps the texts and times, resets the numbers and flags.
    c.SetSubjectName("CN=router");
    c.SetNotAfter([] {
        kora::cTime t;
        t.FromSeconds(2000000000);
        return t;
    }());
    c.SetPublicKeyLength(2048);
    c.SetCA(true);
    c.SetDefault();
    EXPECT_EQ(c.GetSubjectName(), "CN=router");
    EXPECT_EQ(c.GetNotAfter().ToSeconds(), 2000000000);
    EXPECT_EQ(c.GetPublicKeyLength(), 0u);
    EXPECT_FALSE(c.GetCA());

    kora::cMap<kora::s_string, kora::s_string> info;
    ASSERT_TRUE(c.GetInfo(info));
    EXPECT_EQ(info.size(), 3u);
    EXPECT_EQ(info["SubjectName"], "CN=router");
    // 24 members in JSON; the 25th field travels in binary only.
    Json::Value root;
    c.ToJSON(root, false);
    EXPECT_EQ(root["Data"].size(), 24u);
}

TEST(CertificateItems, PrivateKeyStatus) {
    Wire v1;
    v1.Version(1).Str("PrivateKeyStatus").Str("/Status/Certificates/DeviceCertificates/");
    v1.U32(4096).Time(1700000000);
    cDBStatusPrivateKey k;
    ASSERT_EQ(ReadStored(k, v1), 1);
    EXPECT_EQ(k.GetPubkeyLength(), 4096u);
    EXPECT_EQ(k.GetPubkeyFingerprint(), "");
    EXPECT_EQ(k.GetCreationTime().ToSeconds(), 1700000000);
    k.SetPubkey("abc");
    EXPECT_EQ(k.ToString("").substr(0, 50), "cDBStatusPrivateKey:PubkeyLen:4096;CreationTime:20");
    EXPECT_NE(k.ToString("").find(",PubkeyFingerprint:ba7816bf"), std::string::npos);
}

TEST(SerialItems, Bounds) {
    cDBConfigRS232 rs232;
    cDBConfigRS232Compact compact;
    cDBConfigRS485 rs485;
    RunSetters({
        {"speed 0", [&] { return rs232.SetUARTSpeed(0); }, false},
        {"speed 12", [&] { return rs485.SetUARTSpeed(12); }, false},
        {"speed 11", [&] { return compact.SetUARTSpeed(11); }, true},
        {"data bits 4", [&] { return rs232.SetUARTDataBits(4); }, false},
        {"data bits 9", [&] { return rs232.SetUARTDataBits(9); }, false},
        {"parity 0", [&] { return rs485.SetUARTParity(0); }, false},
        {"parity 4", [&] { return rs485.SetUARTParity(4); }, false},
        {"stop bits 3", [&] { return compact.SetUARTStopBits(3); }, false},
        {"flow 3 rs232", [&] { return rs232.SetUARTFlowControl(3); }, true},
        {"flow 3 compact", [&] { return compact.SetUARTFlowControl(3); }, false},
        {"port 0", [&] { return rs232.SetListenPort(0); }, false},
        {"port 65535", [&] { return rs485.SetListenPort(65535); }, true},
    });
    EXPECT_EQ(cDBConfigRS232Compact().GetListenPort(), 23200);
    EXPECT_EQ(cDBConfigRS232().GetListenPort(), 48500);
    EXPECT_EQ(cDBConfigRS485().GetListenPort(), 48500);
    EXPECT_EQ(compact.ToString(""), "cDBConfigRS232Compact:");
}

TEST(SerialItems, JsonGroups) {
    cDBConfigRS232 r;
    bool ok = false;
    std::string minimal = Doc<cDBConfigRS232>(
        R"({"UARTDataBits": null, "UARTParity": null, "UARTStopBits": null, "UARTEcho": null,
            "UARTFlowControl": null, "UARTSpeed": 3})");
    EXPECT_TRUE(Load(r, minimal, ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.GetUARTSpeed(), 3);
    // A refused parity ends the read before echo and flow control.
    EXPECT_EQ(Load(r, Doc<cDBConfigRS232>(R"({"UARTParity": 0, "UARTEcho": true,
                                              "UARTFlowControl": 2})"),
                   ok),
              std::set<std::string>{"UARTParity"});
    EXPECT_FALSE(ok);
    EXPECT_FALSE(r.GetUARTEcho());
    EXPECT_EQ(r.GetUARTFlowControl(), 1);
    // An incomplete group is skipped; the next one is still read.
    EXPECT_TRUE(Load(r, Doc<cDBConfigRS232>(R"({"UARTStopBits": null, "UARTDataBits": 5,
                                               "UARTEcho": true})"),
                     ok)
                    .empty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.GetUARTDataBits(), 8);
    EXPECT_TRUE(r.GetUARTEcho());
}

// Later fields were stored before the port, which has always been last.
TEST(SerialItems, StoredVersions) {
    auto rs232 = [](unsigned version) {
        Wire w;
        w.Version(version).Str("RS232Config").Str("/Config/UART/").Bool(true).U8(9);
        if (version >= 2) w.U8(7).U8(2).U8(2);
        if (version >= 3) w.Bool(true);
        if (version >= 4) w.U8(3);
        return w.U16(4000);
    };
    for (unsigned v = 1; v <= 4; ++v) {
        cDBConfigRS232 r;
        ASSERT_EQ(ReadStored(r, rs232(v)), 1) << v;
        EXPECT_EQ(r.GetListenPort(), 4000);
        EXPECT_EQ(r.GetUARTDataBits(), v >= 2 ? 7 : 8);
        EXPECT_EQ(r.GetUARTEcho(), v >= 3);
        EXPECT_EQ(r.GetUARTFlowControl(), v >= 4 ? 3 : 1);
    }
    // Version 3 of RS485 holds a byte before the port that is dropped.
    Wire rs485;
    rs485.Version(3).Str("RS485Config").Str("/Config/UART/").Bool(false).U8(2);
    rs485.U8(6).U8(1).U8(1).U8(77).U16(5000);
    cDBConfigRS485 r;
    ASSERT_EQ(ReadStored(r, rs485), 1);
    EXPECT_EQ(r.GetListenPort(), 5000);
    EXPECT_EQ(r.GetUARTDataBits(), 6);
    EXPECT_EQ(ReadStored(r, Wire().Version(5).Str("x").Str("/")), 0);
}
