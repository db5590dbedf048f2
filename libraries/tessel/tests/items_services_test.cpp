// WAN service items: connection check, dynamic DNS and RIP.
#include <gtest/gtest.h>

#include "item_docs.h"

using namespace tessel;
using namespace itemdocs;

TEST(ServiceItems, SetterRanges) {
    struct Case {
        const char* what;
        std::function<bool()> set;
        bool accepted;
    };
    cDBConfigConnCheck c;
    cDBConfigDDNS d;
    cDBConfigRIP r;
    std::vector<Case> cases = {
        {"retries 0", [&] { return c.SetRetries(0); }, true},
        {"retries 101", [&] { return c.SetRetries(101); }, false},
        {"timeout 0", [&] { return c.SetTimeout(0); }, false},
        {"timeout 3601", [&] { return c.SetTimeout(3601); }, false},
        {"samples 1000", [&] { return c.SetSamples(1000); }, true},
        {"interval 86401", [&] { return c.SetInterval(86401); }, false},
        {"retry delay 0", [&] { return c.SetRetryDelay(0); }, false},
        {"host _", [&] { return c.SetICMPHost3("a_b"); }, false},
        {"host dotted", [&] { return c.SetICMPHost4("8.8.8.8"); }, true},
        {"service 3", [&] { return d.SetService(3); }, true},
        {"service 4", [&] { return d.SetService(4); }, false},
        {"user space", [&] { return d.SetUsername("a b"); }, false},
        {"alias", [&] { return d.SetAlias("me.example.org"); }, true},
        {"cost 16", [&] { return r.SetCost(16); }, true},
        {"cost 17", [&] { return r.SetCost(17); }, false},
        {"update 0", [&] { return r.SetUpdateInterval(0); }, false},
    };
    for (auto& k : cases) EXPECT_EQ(k.set(), k.accepted) << k.what;
    EXPECT_EQ(c.GetSamples(), 1000);
    EXPECT_EQ(d.GetService(), 3);
}

TEST(ServiceItems, ConnCheckVersion1KeepsLaterDefaults) {
    cDBConfigConnCheck c;
    c.SetRetryDelay(5);
    ASSERT_TRUE(
        ReadAll(c, Head(1).Bool(true).Str("a").Str("b").Str("").Str("").U32(60).U16(5).U16(0)));
    EXPECT_EQ(c.GetICMPHost2(), "b");
    EXPECT_EQ(c.GetInterval(), 60u);
    EXPECT_EQ(c.GetRetries(), 0);
    EXPECT_EQ(c.GetRetryDelay(), 300u);
    EXPECT_EQ(c.GetSamples(), 10);
}

TEST(ServiceItems, DDNSServiceStringsAndMasking) {
    cDBConfigDDNS d;
    std::set<std::string> names;
    for (unsigned service : {0u, 1u, 2u, 3u, 4u, 5u}) {
        // Service 4 only comes from a stored record.
        ASSERT_TRUE(
            ReadAll(d, Head(1).Bool(true).U8(uint8_t(service)).Str("").Str("").Str("").Bool(true)));
        bool known = service >= 1 && service <= 4;
        EXPECT_EQ(d.GetServiceString().empty(), !known) << service;
        names.insert(d.GetServiceString());
    }
    EXPECT_EQ(names.size(), 5u);  // four providers and the empty text
    EXPECT_EQ(Load(d, R"({"Service": 4})").rejected, std::set<std::string>{"Service"});

    d.SetUsername("user");
    d.SetPassword("");
    Json::Value root;
    d.ToJSON(root, true);
    EXPECT_EQ(root["Data"]["Username"], "*******");
    EXPECT_EQ(root["Data"]["Password"], "");
    EXPECT_EQ(root["Data"]["SSL"], true);
}

// Version 1 held one neighbour before the interval; 2 a list after it; 3
// the default-gateway flag; 4 the cost.
TEST(ServiceItems, RIPStoredLayouts) {
    const uint32_t a = 0x0a000001, b = 0x0a000002;
    struct Case {
        unsigned version;
        testwire::Wire wire;
        size_t hosts;
        bool gwOnly;
        unsigned cost;
    };
    std::vector<Case> cases = {
        {1, Head(1).Bool(true).Addr(b).U16(45), 1, false, 1},
        {2, Head(2).Bool(true).U16(45).U32(2).Addr(b).Addr(a), 2, false, 1},
        {3, Head(3).Bool(true).U16(45).U32(1).Addr(a).Bool(true), 1, true, 1},
        {4, Head(4).Bool(true).U16(45).U32(0).Bool(true).U8(7), 0, true, 7},
    };
    for (const auto& k : cases) {
        cDBConfigRIP r;
        r.AddHostIP(kora::s_socket_addr::FromIP(0x01020304));
        ASSERT_TRUE(ReadAll(r, k.wire)) << k.version;
        EXPECT_TRUE(r.GetEnabled());
        EXPECT_EQ(r.GetUpdateInterval(), 45);
        EXPECT_EQ(r.GetHosts().size(), k.hosts) << k.version;
        EXPECT_EQ(r.GetUseDefaultGWOnly(), k.gwOnly) << k.version;
        EXPECT_EQ(r.GetCost(), k.cost) << k.version;
    }
    cDBConfigRIP r;
    EXPECT_FALSE(ReadAll(r, Head(5).Bool(true)));
}

TEST(ServiceItems, RIPJson) {
    cDBConfigRIP r;
    Loaded l = Load(r, R"({"Hosts": null, "UseDefaultGWOnly": null, "Cost": null})");
    EXPECT_TRUE(l.ok);
    EXPECT_TRUE(r.GetHosts().empty());
    EXPECT_EQ(r.GetCost(), 1);
    EXPECT_EQ(Load(r, R"({"Cost": 17})").rejected, std::set<std::string>{"Cost"});
    // A host that is not an address is refused, and the later ones are not taken.
    l = Load(r, R"({"Hosts": [{"Host": "10.0.0.1"}, {"Host": "ten"}, {"Host": "10.0.0.3"}]})");
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.rejected, std::set<std::string>{"Host"});
    EXPECT_EQ(r.GetHosts().size(), 1u);
    // Hosts are written in address order.
    ASSERT_TRUE(Load(r, R"({"Hosts": [{"Host": "10.0.0.9"}, {"Host": "10.0.0.3"}]})").ok);
    Json::Value root;
    r.ToJSON(root, false);
    EXPECT_EQ(root["Data"]["Hosts"][0]["Host"], "10.0.0.3");
}
