// The access collection: its table of grants and the items it follows. The
// rules every collection shares are in collections_families_test.cpp.
#include <gtest/gtest.h>

#include "tessel/tessel.h"

using namespace tessel;

namespace {

std::set<std::string> Visible(cDBAccessCollection& c, unsigned level) {
    std::set<std::string> out = {"stale"};
    c.GetVisibleAccessClasses(level, out);
    return out;
}

cDBConfigAccess AccessItem(const char* name) {
    cDBConfigAccess a;
    a.SetName(name);
    return a;
}

}  // namespace

TEST(AccessCollection, DefaultTable) {
    cDBAccessCollection c;
    EXPECT_EQ(c.GetPath(), "/Config/System/Access/");
    EXPECT_EQ(Visible(c, 0), std::set<std::string>{ACCESS_CLASS_WEB_INTERFACE_CONFIG});
    EXPECT_EQ(Visible(c, 1),
              (std::set<std::string>{ACCESS_CLASS_WEB_INTERFACE_CONFIG, ACCESS_CLASS_EVERYONE}));
    EXPECT_EQ(Visible(c, 2),
              (std::set<std::string>{ACCESS_CLASS_WEB_INTERFACE_CONFIG, ACCESS_CLASS_EVERYONE,
                                     ACCESS_CLASS_USER_ONLY}));
    EXPECT_EQ(Visible(c, 3).size(), 18u);
    EXPECT_TRUE(Visible(c, 4).empty());

    struct Case {
        unsigned level;
        const char* accessClass;
        unsigned required;
        bool allowed;
    } cases[] = {
        {3, ACCESS_CLASS_WAN_STATUS, 2, false},
        {3, ACCESS_CLASS_WAN_STATUS, 1, true},
        {3, "", 0, false},
        {5, ACCESS_CLASS_WAN_STATUS, 0, false},
        {0, ACCESS_CLASS_ADMIN_ONLY, 0, true},
        {0, ACCESS_CLASS_ADMIN_ONLY, 1, false},
        {2, ACCESS_CLASS_USER_ONLY, 2, true},
        {1, "ACCESS_CLASS_UNKNOWN", 0, false},
    };
    for (const auto& k : cases)
        EXPECT_EQ(c.ValidateAccess(k.level, k.accessClass, k.required), k.allowed)
            << k.level << " " << k.accessClass << " " << k.required;
}

TEST(AccessCollection, RowsFollowTheConfiguration) {
    cDBAccessCollection c;
    cDBConfigAccess guest = AccessItem("GuestAccessConfig");
    ASSERT_TRUE(guest.SetAccessWanStatus(1));
    c.BeginSync();
    EXPECT_TRUE(c.ValidateDBItem(&guest));
    EXPECT_TRUE(c.HasChanged());
    c.EndSync();
    EXPECT_TRUE(c.IsSynced());
    EXPECT_FALSE(c.HasChanged());
    EXPECT_EQ(Visible(c, 1),
              (std::set<std::string>{ACCESS_CLASS_WAN_STATUS, ACCESS_CLASS_EVERYONE}));
    // No user item has ever arrived: row 2 comes from a default item (all 0).
    EXPECT_EQ(Visible(c, 2),
              (std::set<std::string>{ACCESS_CLASS_EVERYONE, ACCESS_CLASS_USER_ONLY}));
    EXPECT_EQ(Visible(c, 3).size(), 18u);

    // A sync without access items keeps the last staged ones.
    c.BeginSync();
    c.EndSync();
    EXPECT_TRUE(c.ValidateAccess(1, ACCESS_CLASS_WAN_STATUS, 1));
}

// Only the user-access item by its name and the RADIUS item are taken; the
// foreign items every collection refuses are in collections_families_test.cpp.
TEST(AccessCollection, TakesItsOwnNamesAndTheRadiusItem) {
    cDBAccessCollection c;
    cDBConfigAccess other = AccessItem("AdminAccessConfig");
    ASSERT_TRUE(other.SetAccessWanConfig(2));
    EXPECT_FALSE(c.ValidateDBItem(&other));
    EXPECT_FALSE(c.ValidateDBItem(nullptr));
    cDBConfigRadius radius;
    ASSERT_TRUE(radius.SetPort1(1645));
    EXPECT_TRUE(c.ValidateDBItem(&radius));
    c.EndSync();
    EXPECT_EQ(c.GetRadius().GetPort1(), 1645);
}
