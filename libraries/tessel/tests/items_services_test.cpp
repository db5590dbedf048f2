// WAN service items: connection check, dynamic DNS and RIP.
#include "item_doc.h"

using namespace tessel;
using namespace testdoc;
using testwire::Wire;

TEST(ServiceItems, SetterRanges) {
    cDBConfigConnCheck c;
    cDBConfigDDNS d;
    cDBConfigRIP r;
    RunSetters({
        {"retries 0", [&] { return c.SetRetries(0); }, true},
        {"timeout 0", [&] { return c.SetTimeout(0); }, false},
        {"timeout 3601", [&] { return c.SetTimeout(3601); }, false},
        {"samples 1000", [&] { return c.SetSamples(1000); }, true},
        {"host _", [&] { return c.SetICMPHost3("a_b"); }, false},
        {"service 4", [&] { return d.SetService(4); }, false},
        {"user space", [&] { return d.SetUsername("a b"); }, false},
        {"cost 17", [&] { return r.SetCost(17); }, false},
    });
    EXPECT_EQ(c.GetSamples(), 1000);
}

TEST(ServiceItems, ConnCheckVersion1KeepsLaterDefaults) {
    cDBConfigConnCheck c;
    c.SetRetryDelay(5);
    ASSERT_TRUE(
        ReadStored(c, Head(1).Bool(true).Str("a").Str("b").Str("").Str("").U32(60).U16(5).U16(0)));
    EXPECT_EQ(c.GetICMPHost2(), "b");
    EXPECT_EQ(c.GetRetries(), 0);
    EXPECT_EQ(c.GetRetryDelay(), 300u);
    EXPECT_EQ(c.GetSamples(), 10);
}

TEST(ServiceItems, DDNSServicesAndMasking) {
    cDBConfigDDNS d;
    std::set<std::string> providers;
    for (uint8_t service : {0, 1, 2, 3, 4, 5}) {
        // Service 4 only comes from a stored record.
        ASSERT_TRUE(
            ReadStored(d, Head(1).Bool(true).U8(service).Str("u").Str("").Str("").Bool(true)));
        EXPECT_EQ(d.GetServiceString().empty(), service < 1 || service > 4) << int(service);
        providers.insert(d.GetServiceString());
    }
    EXPECT_EQ(providers.size(), 5u);  // four providers and the empty text
    Json::Value root;
    d.ToJSON(root, true);
    EXPECT_EQ(root["Data"]["Username"], "*******");
    EXPECT_EQ(root["Data"]["Password"], "");
}

// Version 1 held one neighbour before the interval, 2 a list after it, 3 the
// default-gateway flag, 4 the cost.
TEST(ServiceItems, RIPStoredLayouts) {
    struct Case {
        Wire wire;
        size_t hosts;
        bool gatewayOnly;
        unsigned cost;
    };
    const uint32_t a = 0x0a000001, b = 0x0a000002;
    const Case cases[] = {
        {Head(1).Bool(true).Addr(b).U16(45), 1, false, 1},
        {Head(2).Bool(true).U16(45).U32(2).Addr(a).Addr(b), 2, false, 1},
        {Head(3).Bool(true).U16(45).U32(1).Addr(a).Bool(true), 1, true, 1},
        {Head(4).Bool(true).U16(45).U32(0).Bool(true).U8(7), 0, true, 7},
    };
    for (const auto& c : cases) {
        cDBConfigRIP r;
        r.AddHostIP(kora::s_socket_addr("1.2.3.4"));
        ASSERT_TRUE(ReadStored(r, c.wire)) << c.cost;
        EXPECT_EQ(r.GetUpdateInterval(), 45);
        EXPECT_EQ(r.GetHosts().size(), c.hosts);
        EXPECT_EQ(r.GetUseDefaultGWOnly(), c.gatewayOnly);
        EXPECT_EQ(r.GetCost(), c.cost);
    }
}

TEST(ServiceItems, RIPJson) {
    cDBConfigRIP r;
    EXPECT_EQ(Outcome(r, R"({"Hosts": null, "UseDefaultGWOnly": null, "Cost": null})"), "ok");
    EXPECT_EQ(r.GetCost(), 1);
    EXPECT_EQ(Outcome(r, R"({"Cost": 17})"), "Cost");
    // A host that is not an address is refused; later ones are not taken.
    EXPECT_EQ(
        Outcome(r, R"({"Hosts": [{"Host": "10.0.0.9"}, {"Host": "ten"}, {"Host": "10.0.0.3"}]})"),
        "Host");
    EXPECT_EQ(r.GetHosts().size(), 1u);
}
