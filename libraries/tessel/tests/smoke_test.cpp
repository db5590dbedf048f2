#include <gtest/gtest.h>

#include "tessel/tessel.h"

using namespace tessel;

TEST(Smoke, EmailRoundTrip) {
    cDBConfigEmail e;
    EXPECT_TRUE(e.SetTcpPort(587));
    EXPECT_FALSE(e.SetTcpPort(0));
    EXPECT_TRUE(e.SetAuthPass("secret"));
    kora::cSerializeBuffer b;
    ASSERT_TRUE(kora::cObjectFactory::Serialize(e, b));
    kora::Ref<kora::ISerialize> back =
        kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::Deserialize(b));
    ASSERT_TRUE(back);
    auto* e2 = dynamic_cast<cDBConfigEmail*>(back.get());
    ASSERT_TRUE(e2);
    EXPECT_EQ(e2->GetTcpPort(), 587);
    EXPECT_EQ(e2->GetAuthPass(), "secret");
    EXPECT_EQ(e2->ToHash(), e.ToHash());
    Json::Value root;
    e.ToJSON(root, true);
    EXPECT_EQ(root["Data"]["AuthPass"].asString(), "*******");
    kora::s_string text;
    e.ToJSON(text);
    std::set<std::string> rej;
    cDBConfigEmail e3;
    EXPECT_TRUE(e3.FromJSON(text, rej)) << text;
    EXPECT_EQ(e3.ToHash(), e.ToHash());
}
