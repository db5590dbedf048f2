// Users, directory listings and the feature list: setter bounds, the optional
// access level, listing order and layout, and replacing the feature set.
#include <gtest/gtest.h>

#include "tessel/tessel.h"
#include "wire.h"

using namespace tessel;
using testwire::Wire;

namespace {

// The user document as ToJSON writes it, with `overrides` applied to "Data"
// (a null value removes the member).
std::string UserDoc(const char* overrides) {
    cDBUser user;
    user.SetName("alice");
    Json::Value root, changes;
    user.ToJSON(root, false);
    EXPECT_TRUE(ParseJson(overrides, changes));
    for (const auto& key : changes.getMemberNames()) {
        if (changes[key].isNull())
            root["Data"].removeMember(key);
        else
            root["Data"][key] = changes[key];
    }
    return StyledJson(root);
}

template <class T>
int ReadFrom(T& obj, const std::string& bytes) {
    kora::cSerializeBuffer b(bytes.data(), bytes.size());
    return obj.Deserialize(b);
}

// The feature set is process-wide: tests that change it put it back as they
// found it, through the list's own binary form.
class FeatureSetGuard {
  public:
    FeatureSetGuard() { cDBFeatureList().Serialize(m_saved); }
    ~FeatureSetGuard() {
        cDBFeatureList list;
        list.Deserialize(m_saved);
    }

  private:
    kora::cSerializeBuffer m_saved;
};

// A listing with two ranks, information on one entry, and an access class.
cDBDirectory SampleListing() {
    cDBDirectory dir;
    dir.SetName("PacketFilter");
    dir.SetDir("/Config/Network/Firewall/");
    cDBDirectory::Info info;
    info.SetAt("Action", "Drop");
    info.SetAt("Port", "22");
    dir.AddEntry(2, "a", "FilterRuleConfigObject");
    dir.AddEntry(1, "b", "FilterRuleConfigObject", info);
    dir.AddEntry(1, "a", "FilterRuleConfigObject");
    dir.SetAccessClass(ACCESS_CLASS_FIREWALL_CONFIG);
    return dir;
}

}  // namespace

TEST(UserItem, SetterBounds) {
    struct Case {
        const char* what;
        std::function<bool(cDBUser&)> set;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"access level 3", [](cDBUser& u) { return u.SetAccessLevel(3); }, true},
        {"access level 4", [](cDBUser& u) { return u.SetAccessLevel(4); }, false},
        {"complexity 3", [](cDBUser& u) { return u.SetComplexity(3); }, true},
        {"complexity 4", [](cDBUser& u) { return u.SetComplexity(4); }, false},
        {"min len 255", [](cDBUser& u) { return u.SetMinLen(255); }, true},
        {"min len 256", [](cDBUser& u) { return u.SetMinLen(256); }, false},
        {"auth empty", [](cDBUser& u) { return u.SetSNMPAuthPassword(""); }, true},
        {"auth 7", [](cDBUser& u) { return u.SetSNMPAuthPassword("abcdefg"); }, false},
        {"auth 8", [](cDBUser& u) { return u.SetSNMPAuthPassword("abcdefgh"); }, true},
        {"auth space", [](cDBUser& u) { return u.SetSNMPAuthPassword("abcd efgh"); }, false},
        {"auth 256", [](cDBUser& u) { return u.SetSNMPAuthPassword(std::string(256, 'x')); },
         false},
        {"crypt 7", [](cDBUser& u) { return u.SetSNMPCryptPassword("1234567"); }, false},
        {"crypt 8", [](cDBUser& u) { return u.SetSNMPCryptPassword("1234567#"); }, true},
    };
    for (const auto& c : cases) {
        cDBUser user;
        ASSERT_TRUE(user.SetAccessLevel(1));
        ASSERT_TRUE(user.SetComplexity(1));
        ASSERT_TRUE(user.SetMinLen(10));
        ASSERT_TRUE(user.SetSNMPAuthPassword("previous"));
        ASSERT_TRUE(user.SetSNMPCryptPassword("previous"));
        std::string before = user.ToHash();
        EXPECT_EQ(c.set(user), c.accepted) << c.what;
        if (!c.accepted) {
            EXPECT_EQ(user.ToHash(), before) << c.what << " changed the user";
        }
    }
}

TEST(UserItem, AccessLevelIsOptionalAndReadLast) {
    std::set<std::string> rejected;
    cDBUser user;
    ASSERT_TRUE(user.SetAccessLevel(3));

    // Written before the level existed: loads, and the level is the default.
    EXPECT_TRUE(user.FromJSON(UserDoc(R"({"AccessLevel":null,"MinLen":12})"), rejected));
    EXPECT_EQ(user.GetAccessLevel(), 0);
    EXPECT_EQ(user.GetMinLen(), 12);
    EXPECT_EQ(user.GetName(), "alice");
    EXPECT_EQ(user.GetDir(), "/Users/");

    EXPECT_TRUE(user.FromJSON(UserDoc(R"({"AccessLevel":2})"), rejected));
    EXPECT_EQ(user.GetAccessLevel(), 2);

    EXPECT_FALSE(user.FromJSON(UserDoc(R"({"AccessLevel":4,"Complexity":2})"), rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"AccessLevel"});
    EXPECT_EQ(user.GetComplexity(), 2);
    EXPECT_EQ(user.GetAccessLevel(), 0);

    // A refused required value ends the read before the level is looked at.
    rejected.clear();
    EXPECT_FALSE(user.FromJSON(UserDoc(R"({"AccessLevel":2,"Complexity":4})"), rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"Complexity"});
    EXPECT_EQ(user.GetAccessLevel(), 0);

    // A required member missing: nothing is taken over, nothing is reported.
    rejected.clear();
    EXPECT_FALSE(user.FromJSON(UserDoc(R"({"MinLen":null,"Complexity":3})"), rejected));
    EXPECT_TRUE(rejected.empty());
    EXPECT_EQ(user.GetComplexity(), 0);
}

TEST(UserItem, PasswordsAreMaskedAndBinaryIsVersion3Only) {
    cDBUser user;
    user.SetName("bob");
    ASSERT_TRUE(user.SetAccessLevel(2));
    ASSERT_TRUE(user.SetComplexity(1));
    ASSERT_TRUE(user.SetMinLen(9));
    user.SetSNMPEnabled(true);
    ASSERT_TRUE(user.SetSNMPAuthPassword("authpass"));
    Json::Value masked;
    user.ToJSON(masked, true);
    EXPECT_EQ(masked["Data"]["SNMPAuthPassword"], "*******");
    EXPECT_EQ(masked["Data"]["SNMPCryptPassword"], "");
    EXPECT_EQ(masked["Data"]["AccessLevel"].asUInt(), 2u);
    EXPECT_EQ(user.ToString(""), "cDBUser:Name:bob");

    // The level comes first in the binary form.
    Wire golden;
    golden.Version(3).Str("bob").Str("/Users/").U8(2).U8(1).U8(9).Bool(true);
    golden.Str("authpass").Str("");
    EXPECT_EQ(testwire::BytesOf(user), golden.Bytes());

    for (uint16_t version : {2, 4}) {
        cDBUser other;
        other.SetName("kept");
        Wire w;
        w.Version(version).Str("bob").Str("/Users/").U8(2).U8(1).U8(9).Bool(true);
        w.Str("authpass").Str("");
        EXPECT_EQ(ReadFrom(other, w.Bytes()), 0) << version;
        EXPECT_EQ(other.GetName(), "kept");
        EXPECT_EQ(other.GetMinLen(), 0);
    }
}

TEST(DirectoryItem, DefaultIsEmptyAndNotNormalised) {
    cDBDirectory dir;
    EXPECT_EQ(dir.GetName(), "");
    EXPECT_EQ(dir.GetDir(), "");
    EXPECT_EQ(dir.GetAccessClass(), "");
    EXPECT_TRUE(dir.GetEntries().empty());
    EXPECT_EQ(dir.Version(), 4u);
    EXPECT_EQ(dir.ToString(""), "cDBDirectory:Name:, Directory:, Type:Directory, EntryCount:0");
}

TEST(DirectoryItem, ListsByRankThenName) {
    cDBDirectory dir = SampleListing();
    Json::Value root;
    ASSERT_TRUE(dir.ToJSON(root, true));
    EXPECT_FALSE(root.isMember("Data"));
    EXPECT_EQ(root["Type"], "Directory");
    const Json::Value& entries = root["Entries"];
    ASSERT_TRUE(entries.isArray());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]["Name"], "a");  // rank 1
    EXPECT_EQ(entries[1]["Name"], "b");  // rank 1
    EXPECT_EQ(entries[2]["Name"], "a");  // rank 2
    EXPECT_FALSE(entries[0].isMember("Info"));
    EXPECT_EQ(entries[1]["Info"]["Port"], "22");
    EXPECT_EQ(entries[1]["Type"], "FilterRuleConfigObject");
    EXPECT_EQ(dir.ToString(""),
              "cDBDirectory:Name:PacketFilter, Directory:/Config/Network/Firewall/, "
              "Type:Directory, EntryCount:2");
}

TEST(DirectoryItem, GoldenBinaryLayoutAndRoundTrip) {
    cDBDirectory dir = SampleListing();
    Wire golden;
    golden.Version(4).Str("PacketFilter").Str("/Config/Network/Firewall/").U32(2);
    golden.U32(1).U32(2);
    golden.Str("a").Str("FilterRuleConfigObject").U32(0);
    golden.Str("b").Str("FilterRuleConfigObject").U32(2);
    golden.Str("Action").Str("Drop").Str("Port").Str("22");
    golden.U32(2).U32(1).Str("a").Str("FilterRuleConfigObject").U32(0);
    golden.Str(ACCESS_CLASS_FIREWALL_CONFIG);
    EXPECT_EQ(testwire::BytesOf(dir), golden.Bytes());

    cDBDirectory back;
    EXPECT_EQ(ReadFrom(back, golden.Bytes()), 1);
    EXPECT_EQ(back.GetEntries(), dir.GetEntries());
    EXPECT_EQ(back.GetAccessClass(), ACCESS_CLASS_FIREWALL_CONFIG);
    EXPECT_EQ(back.ToHash(), dir.ToHash());

    // Another version empties the entries and is refused.
    Wire v3;
    v3.Version(3).Str("x").Str("/x/").U32(0).Str("");
    EXPECT_EQ(ReadFrom(back, v3.Bytes()), 0);
    EXPECT_TRUE(back.GetEntries().empty());
}

TEST(DirectoryItem, RepeatedRankOrNameKeepsTheFirst) {
    Wire w;
    w.Version(4).Str("d").Str("/d/").U32(2);
    w.U32(1).U32(2).Str("x").Str("First").U32(0).Str("x").Str("Second").U32(0);
    w.U32(1).U32(1).Str("y").Str("Other").U32(0);
    w.Str("");
    cDBDirectory dir;
    ASSERT_EQ(ReadFrom(dir, w.Bytes()), 1);
    ASSERT_EQ(dir.GetEntries().size(), 1u);
    const cDBDirectory::Group& group = dir.GetEntries().at(1);
    ASSERT_EQ(group.size(), 2u);
    EXPECT_EQ(group.at("x").first, "First");
    EXPECT_EQ(group.at("y").first, "Other");
}

TEST(DirectoryItem, DamagedBuffersFailWithoutEntries) {
    const std::string bytes = testwire::BytesOf(SampleListing());
    for (size_t len = 0; len < bytes.size(); ++len) {
        cDBDirectory dir = SampleListing();
        EXPECT_EQ(ReadFrom(dir, bytes.substr(0, len)), 0) << "cut at " << len;
        EXPECT_TRUE(dir.GetEntries().empty()) << "cut at " << len;
    }
    // An absurd count at each level of the listing.
    const uint32_t huge = 0xffffffffu;
    Wire groups, entries, pairs;
    groups.Version(4).Str("d").Str("/d/").U32(huge);
    entries.Version(4).Str("d").Str("/d/").U32(1).U32(0).U32(huge).Str("a");
    pairs.Version(4).Str("d").Str("/d/").U32(1).U32(0).U32(1).Str("a").Str("T").U32(huge);
    for (const Wire* w : {&groups, &entries, &pairs}) {
        cDBDirectory dir;
        EXPECT_EQ(ReadFrom(dir, w->Bytes()), 0);
        EXPECT_TRUE(dir.GetEntries().empty());
    }
}

TEST(DirectoryItem, JsonKeepsNameAndDirectoryOnly) {
    cDBDirectory dir = SampleListing();
    kora::s_string text;
    dir.ToJSON(text);
    std::set<std::string> rejected;
    cDBDirectory back;
    back.AddEntry(0, "stale", "X");
    ASSERT_TRUE(back.FromJSON(text, rejected));
    EXPECT_EQ(back.GetName(), "PacketFilter");
    EXPECT_EQ(back.GetDir(), "/Config/Network/Firewall/");
    EXPECT_TRUE(back.GetEntries().empty());
    EXPECT_TRUE(rejected.empty());

    // Name and directory are kept as written.
    ASSERT_TRUE(back.FromJSON(R"({"Type":"Directory","Name":"","Directory":"Users"})", rejected));
    EXPECT_EQ(back.GetDir(), "Users");

    const char* refused[] = {
        R"({"Type":"UserObject","Name":"a","Directory":"/a/"})",
        R"({"Type":"Directory","Name":"a"})",
        R"({"Type":"Directory","Name":1,"Directory":"/a/"})",
        R"(["Directory"])",
        "{",
    };
    for (const char* doc : refused) {
        back.SetName("before");
        EXPECT_FALSE(back.FromJSON(doc, rejected)) << doc;
        EXPECT_EQ(back.GetName(), "") << doc;
    }
}

TEST(FeatureList, ReceivingReplacesTheSet) {
    FeatureSetGuard guard;
    cDBFeatureList::AddFeature("Old");
    EXPECT_TRUE(cDBFeatureList::HasFeature("Old"));

    Wire w;
    w.Version(1)
        .Str("FeatureList")
        .Str("/Features/")
        .U32(2)
        .Str("ManagedSwitch")
        .Str("SerialRS232");
    cDBFeatureList list;
    ASSERT_EQ(ReadFrom(list, w.Bytes()), 1);
    EXPECT_TRUE(cDBFeatureList::HasFeature("ManagedSwitch"));
    EXPECT_TRUE(cDBFeatureList::HasFeature("SerialRS232"));
    EXPECT_FALSE(cDBFeatureList::HasFeature("Old"));
    EXPECT_FALSE(cDBFeatureList::HasFeature("managedswitch"));

    // Sent back in set order.
    EXPECT_EQ(testwire::BytesOf(list), w.Bytes());

    // A list of another version empties the set.
    Wire v2;
    v2.Version(2).Str("FeatureList").Str("/Features/").U32(1).Str("ManagedSwitch");
    EXPECT_EQ(ReadFrom(list, v2.Bytes()), 0);
    EXPECT_FALSE(cDBFeatureList::HasFeature("ManagedSwitch"));
}

TEST(FeatureList, DamagedBuffersLeaveTheSetEmpty) {
    FeatureSetGuard guard;
    Wire w;
    w.Version(1)
        .Str("FeatureList")
        .Str("/Features/")
        .U32(2)
        .Str("Wireless4G")
        .Str("SerialCombined");
    const std::string bytes = w.Bytes();
    for (size_t len = 0; len < bytes.size(); ++len) {
        cDBFeatureList::AddFeature("Wireless4G");
        cDBFeatureList list;
        EXPECT_EQ(ReadFrom(list, bytes.substr(0, len)), 0) << "cut at " << len;
        EXPECT_FALSE(cDBFeatureList::HasFeature("Wireless4G")) << "cut at " << len;
    }
    Wire absurd;
    absurd.Version(1).Str("FeatureList").Str("/Features/").U32(0xfffffff0u).Str("x");
    cDBFeatureList list;
    EXPECT_EQ(ReadFrom(list, absurd.Bytes()), 0);
    EXPECT_FALSE(cDBFeatureList::HasFeature("x"));
}

TEST(FeatureList, JsonHasOneTrueMemberPerFeatureAndCannotBeLoaded) {
    FeatureSetGuard guard;
    cDBFeatureList list;
    Wire none;
    none.Version(1).Str("FeatureList").Str("/Features/").U32(0);
    ASSERT_EQ(ReadFrom(list, none.Bytes()), 1);
    Json::Value empty;
    list.ToJSON(empty, false);
    EXPECT_FALSE(empty.isMember("Data"));
    EXPECT_EQ(empty["Type"], "FeatureListObject");

    cDBFeatureList::AddFeature("ManagedSwitch");
    cDBFeatureList::AddFeature("ManagedSwitch");
    Json::Value root;
    list.ToJSON(root, false);
    EXPECT_EQ(root["Data"].getMemberNames(), std::vector<std::string>{"ManagedSwitch"});
    EXPECT_EQ(root["Data"]["ManagedSwitch"], true);

    kora::s_string text;
    list.ToJSON(text);
    std::set<std::string> rejected;
    EXPECT_FALSE(list.FromJSON(text, rejected));
    EXPECT_TRUE(cDBFeatureList::HasFeature("ManagedSwitch"));
    EXPECT_EQ(list.ToString(""), "cDBFeatureList");
}
