// The collection families, each rule run against every collection of the
// catalogue: staged and committed copies, HasChanged, refusal of foreign
// items and names, map replacement, rank-then-name order and the text forms;
// then the access collection's table of grants and the items it follows.
#include "tessel/collections.h"

#include <gtest/gtest.h>

#include "tessel/collections_access.h"
#include "tessel/collections_catalogue.h"
#include "tessel/collections_log.h"
#include "tessel/jsonfactory.h"

using namespace tessel;

namespace {

using Item = kora::Ref<cDBItem>;

// A default item of `type` named `name`.
Item Named(const std::string& type, const std::string& name) {
    Item item = Item::Adopt(cJsonFactory::CreateObject(type));
    item->SetName(name);
    return item;
}

// The same, in the collection's directory.
Item Make(const std::string& type, const std::string& name, const CollectionInfo& c) {
    Item item = Named(type, name);
    item->SetDir(c.path);
    return item;
}

// A name each collection takes for its items (the fixed-name ones only take theirs).
std::string NameFor(const CollectionInfo& c) {
    static const std::map<std::string, std::string> fixed = {
        {"cDBLANPortCollection", "Port3"},
        {"cDBLANPortStatusCollection", "Port3"},
        {"cDBDataVolumeConfigColletion", "Sim1VolumeConfig"},
        {"cDBDataVolumeStatusColletion", "Sim1VolumeStatus"},
        {"cDBAccessCollection", "UserAccessConfig"},
    };
    auto f = fixed.find(c.name);
    return f == fixed.end() ? "Entry1" : f->second;
}

// Runs one sync of `items` through the collection, as the client does:
// begin, offer, then whether it changed, then commit.
bool Sync(cDBCollection& c, const std::vector<Item>& items) {
    c.BeginSync();
    for (const auto& item : items) c.ValidateDBItem(item.get());
    bool changed = c.HasChanged();
    c.EndSync();
    return changed;
}

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

TEST(CollectionFamilies, CatalogueIsCompleteAndPathsHoldTheirItems) {
    EXPECT_EQ(CollectionCatalogue().size(), 41u);
    for (const auto& info : CollectionCatalogue()) {
        auto c = info.create(info.path);
        EXPECT_EQ(c->GetPath(), info.path) << info.name;
        EXPECT_FALSE(c->IsSynced());
        auto other = info.create("/Elsewhere/");
        EXPECT_EQ(other->GetPath(), "/Elsewhere/");
        // Items whose class names a directory of its own live there.
        for (const auto& type : info.types) {
            Item item = Item::Adopt(cJsonFactory::CreateObject(type));
            ASSERT_TRUE(item) << type;
            std::string dir = item->GetDir();
            if (dir != "/" && std::string(info.name).find("Certificate") == std::string::npos) {
                EXPECT_EQ(dir, info.path) << info.name << " " << type;
            }
        }
    }
    EXPECT_EQ(ItemHome("SSHConfigObject"), "/Config/System/DeviceManagement/SSH/");
    EXPECT_EQ(ItemHome("NTPConfigObject"), "/Config/System/NTP/");
    EXPECT_EQ(ItemHome("VLANConfigObject"), "");
}

// Staged against committed, in every collection and for every type it
// takes; a sync without an item keeps single items and empties maps.
TEST(CollectionFamilies, StagedAndCommittedCopies) {
    const std::string keyed =
        " UserObject CSRTemplateObject CertificateObject LANInterfaceConfigObject "
        "LanInterfaceStatusObject WANRouteConfigObject IpSecTunnelConfigObject RuleConfigObject "
        "GsmProviderObject DMVPNNetworkConfigObject RemoteAccessRuleConfigObject "
        "ForwardConfigObject FilterRuleConfigObject TrafficPriorityRuleConfigObject LogUnitObject ";
    for (const auto& info : CollectionCatalogue()) {
        for (const auto& type : info.types) {
            SCOPED_TRACE(std::string(info.name) + " " + type);
            auto c = info.create(info.path);
            Item item = Make(type, NameFor(info), info);
            // A foreign item is refused and changes nothing.
            Item foreign = Item::Adopt(cJsonFactory::CreateObject(
                type == "UserObject" ? "SSHConfigObject" : "UserObject"));
            c->BeginSync();
            EXPECT_FALSE(c->ValidateDBItem(foreign.get()));
            EXPECT_FALSE(c->HasChanged());
            EXPECT_TRUE(c->ValidateDBItem(item.get()));
            c->EndSync();
            EXPECT_TRUE(c->IsSynced());
            // The same contents again: no change.
            EXPECT_FALSE(Sync(*c, {item}));
            // A changed item: a change, seen before the commit only.
            Item changed = Make(type, NameFor(info), info);
            changed->SetDir(std::string(info.path) + "x/");
            EXPECT_TRUE(Sync(*c, {changed}));
            EXPECT_FALSE(c->HasChanged());
            EXPECT_EQ(Sync(*c, {}), keyed.find(" " + type + " ") != std::string::npos);
        }
    }
}

TEST(CollectionFamilies, KeyedMapsReplaceWhole) {
    cDBUsersCollection users;
    auto user = [](const char* name) { return Named("UserObject", name); };
    Sync(users, {user("a"), user("b"), user("c")});
    EXPECT_TRUE(Sync(users, {user("a"), user("c")}));
    EXPECT_EQ(users.GetAll<cDBUser>().size(), 2u);
    EXPECT_EQ(users.Find<cDBUser>("b"), nullptr);
    ASSERT_NE(users.Find<cDBUser>("c"), nullptr);
    EXPECT_FALSE(Sync(users, {user("c"), user("a")}));  // order does not matter
    // The later of two items of one name in one sync wins.
    cDBLogUnitCollection units;
    Item low = Named("LogUnitObject", "A"), high = Named("LogUnitObject", "A");
    ASSERT_TRUE(static_cast<cDBLogUnit*>(high.get())->SetLevel(4));
    Sync(units, {low, high});
    EXPECT_EQ(units.GetUnits().at("A").GetLevel(), 4);
}

TEST(CollectionFamilies, RankedMapsOrderByRankThenName) {
    cDBPortForwardCollection c;
    auto rule = [](const char* name, unsigned rank) {
        cDBConfigPortForwardRule r;
        r.SetName(name);
        r.SetRank(rank);
        return Item::Adopt(kora::New<cDBConfigPortForwardRule>(r));
    };
    Item header = Item::Adopt(cJsonFactory::CreateObject("PortForwardConfigObject"));
    // The same name under two ranks is kept twice; the same name and rank
    // sent twice keeps the later copy.
    Sync(c, {header, rule("web", 2), rule("ssh", 1), rule("web", 1), rule("b", 2)});
    std::vector<std::string> order;
    c.ForEachRanked<cDBConfigPortForwardRule>([&](const cDBConfigPortForwardRule& r) {
        order.push_back(r.GetName() + "@" +
                        std::to_string(const_cast<cDBConfigPortForwardRule&>(r).GetRank()));
    });
    EXPECT_EQ(order, (std::vector<std::string>{"ssh@1", "web@1", "b@2", "web@2"}));
    EXPECT_TRUE(Sync(c, {header, rule("ssh", 1)}));
    EXPECT_EQ(c.GetRanked<cDBConfigPortForwardRule>().size(), 1u);

    cDBRemoteAccessCollection empty;
    EXPECT_FALSE(Sync(empty, {}));
}

TEST(CollectionFamilies, FixedNamesRefuseOthers) {
    cDBLANPortCollection ports;
    Item port = Named("LANPortConfigObject", "Port6");
    ports.BeginSync();
    EXPECT_FALSE(ports.ValidateDBItem(port.get()));
    port->SetName("Port3");
    static_cast<cDBConfigLANPort*>(port.get())->SetPortMode(3);
    EXPECT_TRUE(ports.ValidateDBItem(port.get()));
    ports.EndSync();
    EXPECT_EQ(ports.Get("Port3")->GetPortMode(), 3);
    EXPECT_EQ(ports.Get("Port2")->GetPortMode(), 1);
    EXPECT_EQ(ports.Get("Port6"), nullptr);
}

TEST(CollectionFamilies, HeaderItemsKeepTheirValueWhenOnlyTheMapIsSent) {
    cDBDMVPNConfigCollection c;
    Item network = Named("DMVPNNetworkConfigObject", "net1");
    Sync(c, {Named("DMVPNConfigObject", "Hub"), network});
    EXPECT_FALSE(Sync(c, {network}));
    EXPECT_EQ(c.Get<cDBConfigDMVPN>().GetName(), "Hub");
}

// The text forms fill each "%s" with a committed item's own text.
TEST(CollectionFamilies, TextForms) {
    for (const auto& info : CollectionCatalogue()) {
        auto c = info.create(info.path);
        std::string text = c->ToString("");
        EXPECT_EQ(text.compare(0, std::string(info.name).size(), info.name), 0) << text;
        EXPECT_EQ(text.find("%s"), std::string::npos) << text;
    }
    cDBSystemStatusCollection s;
    EXPECT_EQ(s.ToString(""),
              "cDBSystemStatusCollection:SoftwareStatus:cDBStatusSoftware:FirmwareVersion:, "
              "OSVersion:, KernelRelease:, KernelVersion:, HardwareStatus:cDBStatusHardware:"
              "HardwareVersion:, HardwareID:, SerialNumber:, ProductionDate:");
    EXPECT_EQ(cDBLANInterfaceStatusCollection().ToString(""), "cDBLANInterfaceStatusCollection:");
    EXPECT_EQ(cDBSSHCollection().ToString(""), "cDBSSHCollection:SSHConfig:cDBConfigSSH:");
    EXPECT_EQ(FillSlots("a:%s b:%s 100%%", {"x"}), "a:x b: 100%");
}

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

// Rows follow the user-access item (taken by its name only) and the RADIUS item.
TEST(AccessCollection, RowsFollowTheConfiguration) {
    cDBAccessCollection c;
    cDBConfigAccess guest = AccessItem("GuestAccessConfig");
    ASSERT_TRUE(guest.SetAccessWanStatus(1));
    cDBConfigAccess other = AccessItem("AdminAccessConfig");
    ASSERT_TRUE(other.SetAccessWanConfig(2));
    cDBConfigRadius radius;
    ASSERT_TRUE(radius.SetPort1(1645));
    c.BeginSync();
    EXPECT_TRUE(c.ValidateDBItem(&guest));
    EXPECT_FALSE(c.ValidateDBItem(&other));
    EXPECT_FALSE(c.ValidateDBItem(nullptr));
    EXPECT_TRUE(c.ValidateDBItem(&radius));
    EXPECT_TRUE(c.HasChanged());
    c.EndSync();
    EXPECT_TRUE(c.IsSynced());
    EXPECT_FALSE(c.HasChanged());
    EXPECT_EQ(c.GetRadius().GetPort1(), 1645);
    EXPECT_EQ(Visible(c, 1),
              (std::set<std::string>{ACCESS_CLASS_WAN_STATUS, ACCESS_CLASS_EVERYONE}));
    // No user item has ever arrived: row 2 comes from a default item (all 0).
    EXPECT_EQ(Visible(c, 2),
              (std::set<std::string>{ACCESS_CLASS_EVERYONE, ACCESS_CLASS_USER_ONLY}));

    // A sync without access items keeps the last staged ones.
    c.BeginSync();
    c.EndSync();
    EXPECT_TRUE(c.ValidateAccess(1, ACCESS_CLASS_WAN_STATUS, 1));
}
