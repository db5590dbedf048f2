#include <gtest/gtest.h>

#include "kora/kora.h"

TEST(SerializeBuffer, ReadNeverPassesTheEnd) {
    kora::cSerializeBuffer b;
    uint32_t v = 0x01020304;
    b.Write(&v, 4);
    uint8_t out[8] = {};
    EXPECT_EQ(b.Read(out, 5), 0);
    EXPECT_EQ(b.ReadPosition(), 0u);
    EXPECT_NE(b.Read(out, 4), 0);
    EXPECT_EQ(b.Read(out, 1), 0);
}
