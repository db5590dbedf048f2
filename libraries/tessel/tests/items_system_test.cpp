// Users, directory listings and the feature list: setter bounds, the optional
// access level, listing order and layout, and replacing the feature set.
#include <iterator>

#include "item_doc.h"

using namespace tessel;
using testwire::BytesOf;
using testwire::Wire;

namespace {

// The document of user "alice" with `changes` applied to "Data".
std::string UserDoc(const char* changes) {
    cDBUser user;
    user.SetName("alice");
    return testdoc::Doc(user, changes);
}

// A JSON text in the styled form, to compare documents as text.
std::string Styled(const char* text) {
    return StyledJson(testdoc::J(text));
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
    ~FeatureSetGuard() { cDBFeatureList().Deserialize(m_saved); }

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

Wire FeatureWire(uint16_t version, const std::vector<std::string>& names) {
    Wire w;
    w.Version(version).Str("FeatureList").Str("/Features/").U32(uint32_t(names.size()));
    for (const auto& n : names) w.Str(n);
    return w;
}

}  // namespace

TEST(UserItem, SetterBounds) {
    const std::pair<std::function<bool(cDBUser&)>, bool> cases[] = {
        {[](cDBUser& u) { return u.SetAccessLevel(3); }, true},
        {[](cDBUser& u) { return u.SetAccessLevel(4); }, false},
        {[](cDBUser& u) { return u.SetComplexity(3); }, true},
        {[](cDBUser& u) { return u.SetComplexity(4); }, false},
        {[](cDBUser& u) { return u.SetMinLen(255); }, true},
        {[](cDBUser& u) { return u.SetMinLen(256); }, false},
        {[](cDBUser& u) { return u.SetSNMPAuthPassword(""); }, true},
        {[](cDBUser& u) { return u.SetSNMPAuthPassword("abcdefg"); }, false},
        {[](cDBUser& u) { return u.SetSNMPAuthPassword("abcdefgh"); }, true},
        {[](cDBUser& u) { return u.SetSNMPAuthPassword("abcd efgh"); }, false},
        {[](cDBUser& u) { return u.SetSNMPCryptPassword("1234567"); }, false},
        {[](cDBUser& u) { return u.SetSNMPCryptPassword("1234567#"); }, true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        cDBUser user;
        ASSERT_TRUE(user.SetAccessLevel(1) && user.SetComplexity(1) && user.SetMinLen(10));
        ASSERT_TRUE(user.SetSNMPAuthPassword("previous") && user.SetSNMPCryptPassword("previous"));
        const std::string before = user.ToHash();
        EXPECT_EQ(cases[i].first(user), cases[i].second) << "row " << i;
        EXPECT_TRUE(cases[i].second || user.ToHash() == before) << "row " << i << " changed it";
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
    EXPECT_EQ(user.GetPath(), "/Users/alice");
    EXPECT_TRUE(user.FromJSON(UserDoc(R"({"AccessLevel":2})"), rejected));
    EXPECT_EQ(user.GetAccessLevel(), 2);

    EXPECT_FALSE(user.FromJSON(UserDoc(R"({"AccessLevel":4,"Complexity":2})"), rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"AccessLevel"});
    EXPECT_EQ(user.GetComplexity(), 2);

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
    ASSERT_TRUE(user.SetAccessLevel(2) && user.SetComplexity(1) && user.SetMinLen(9));
    user.SetSNMPEnabled(true);
    ASSERT_TRUE(user.SetSNMPAuthPassword("authpass"));
    Json::Value masked;
    user.ToJSON(masked, true);
    EXPECT_EQ(StyledJson(masked["Data"]), Styled(R"({"AccessLevel":2,"Complexity":1,"MinLen":9,
        "SNMPEnabled":true,"SNMPAuthPassword":"*******","SNMPCryptPassword":""})"));
    EXPECT_EQ(user.ToString(""), "cDBUser:Name:bob");

    // The level comes first in the binary form.
    auto form = [](uint16_t version) {
        Wire w;
        w.Version(version).Str("bob").Str("/Users/").U8(2).U8(1).U8(9).Bool(true);
        return w.Str("authpass").Str("").Bytes();
    };
    EXPECT_EQ(BytesOf(user), form(3));
    for (uint16_t version : {2, 4}) {
        cDBUser other;
        other.SetName("kept");
        EXPECT_EQ(ReadFrom(other, form(version)), 0) << version;
        EXPECT_EQ(other.GetName(), "kept");
        EXPECT_EQ(other.GetMinLen(), 0);
    }
}

TEST(DirectoryItem, ListsByRankThenName) {
    cDBDirectory blank;  // name and directory are not normalised
    EXPECT_EQ(blank.GetPath(), "");
    EXPECT_EQ(blank.ToString(""), "cDBDirectory:Name:, Directory:, Type:Directory, EntryCount:0");

    cDBDirectory dir = SampleListing();
    Json::Value root;
    ASSERT_TRUE(dir.ToJSON(root, true));
    // Rank 1 (a, then b) before rank 2; no rank, no access class, no "Data".
    EXPECT_EQ(StyledJson(root), Styled(R"({"Name":"PacketFilter","Type":"Directory",
        "Directory":"/Config/Network/Firewall/","Entries":[
        {"Name":"a","Type":"FilterRuleConfigObject"},
        {"Name":"b","Type":"FilterRuleConfigObject","Info":{"Action":"Drop","Port":"22"}},
        {"Name":"a","Type":"FilterRuleConfigObject"}]})"));
    EXPECT_EQ(dir.ToString(""),
              "cDBDirectory:Name:PacketFilter, Directory:/Config/Network/Firewall/, "
              "Type:Directory, EntryCount:2");
}

TEST(DirectoryItem, GoldenBinaryLayoutAndDamage) {
    cDBDirectory dir = SampleListing();
    Wire golden;
    golden.Version(4).Str("PacketFilter").Str("/Config/Network/Firewall/").U32(2);
    golden.U32(1).U32(2).Str("a").Str("FilterRuleConfigObject").U32(0);
    golden.Str("b").Str("FilterRuleConfigObject").U32(2).Str("Action").Str("Drop");
    golden.Str("Port").Str("22");
    golden.U32(2).U32(1).Str("a").Str("FilterRuleConfigObject").U32(0);
    golden.Str(ACCESS_CLASS_FIREWALL_CONFIG);
    const std::string bytes = golden.Bytes();
    EXPECT_EQ(BytesOf(dir), bytes);
    cDBDirectory back;
    EXPECT_EQ(ReadFrom(back, bytes), 1);
    EXPECT_EQ(back.GetEntries(), dir.GetEntries());
    EXPECT_EQ(back.ToHash(), dir.ToHash());

    // Every cut, another version and an absurd count at each level of the
    // listing are refused, with the entries emptied.
    const uint32_t huge = 0xffffffffu;
    const std::string head = Wire().Version(4).Str("d").Str("/d/").Bytes();
    std::vector<std::string> damaged = {
        Wire().Version(3).Str("x").Str("/x/").U32(0).Str("").Bytes(),
        head + Wire().U32(huge).Bytes(), head + Wire().U32(1).U32(0).U32(huge).Str("a").Bytes(),
        head + Wire().U32(1).U32(0).U32(1).Str("a").Str("T").U32(huge).Bytes()};
    for (size_t len = 0; len < bytes.size(); ++len) damaged.push_back(bytes.substr(0, len));
    for (const std::string& d : damaged) {
        cDBDirectory listing = SampleListing();
        EXPECT_EQ(ReadFrom(listing, d), 0) << d.size();
        EXPECT_TRUE(listing.GetEntries().empty()) << d.size();
    }
}

TEST(DirectoryItem, JsonKeepsNameAndDirectoryOnly) {
    kora::s_string text;
    SampleListing().ToJSON(text);
    std::set<std::string> rejected;
    cDBDirectory back;
    back.AddEntry(0, "stale", "X");
    ASSERT_TRUE(back.FromJSON(text, rejected));
    EXPECT_EQ(back.GetPath(), "/Config/Network/Firewall/PacketFilter");
    EXPECT_TRUE(back.GetEntries().empty());
    EXPECT_TRUE(rejected.empty());
    // Name and directory are kept as written.
    ASSERT_TRUE(back.FromJSON(R"({"Type":"Directory","Name":"","Directory":"Users"})", rejected));
    EXPECT_EQ(back.GetDir(), "Users");

    for (const char* doc : {R"({"Type":"UserObject","Name":"a","Directory":"/a/"})",
                            R"({"Type":"Directory","Name":"a"})",
                            R"({"Type":"Directory","Name":1,"Directory":"/a/"})", "{"}) {
        back.SetName("before");
        EXPECT_FALSE(back.FromJSON(doc, rejected)) << doc;
        EXPECT_EQ(back.GetName(), "") << doc;
    }
}

TEST(FeatureList, ReceivingReplacesTheSet) {
    FeatureSetGuard guard;
    cDBFeatureList::AddFeature("Old");
    const std::string bytes = FeatureWire(1, {"ManagedSwitch", "SerialRS232"}).Bytes();
    cDBFeatureList list;
    ASSERT_EQ(ReadFrom(list, bytes), 1);
    EXPECT_TRUE(cDBFeatureList::HasFeature("ManagedSwitch"));
    EXPECT_TRUE(cDBFeatureList::HasFeature("SerialRS232"));
    EXPECT_FALSE(cDBFeatureList::HasFeature("Old"));
    EXPECT_FALSE(cDBFeatureList::HasFeature("managedswitch"));
    EXPECT_EQ(BytesOf(list), bytes);  // sent back in set order

    // Another version, every cut and an absurd count leave the set empty.
    std::vector<std::string> damaged = {
        FeatureWire(2, {"ManagedSwitch"}).Bytes(),
        Wire().Version(1).Str("FeatureList").Str("/Features/").U32(0xfffffff0u).Str("x").Bytes()};
    for (size_t len = 0; len < bytes.size(); ++len) damaged.push_back(bytes.substr(0, len));
    for (const std::string& d : damaged) {
        cDBFeatureList::AddFeature("ManagedSwitch");
        EXPECT_EQ(ReadFrom(list, d), 0) << d.size();
        EXPECT_FALSE(cDBFeatureList::HasFeature("ManagedSwitch")) << d.size();
    }
}

TEST(FeatureList, JsonHasOneTrueMemberPerFeatureAndCannotBeLoaded) {
    FeatureSetGuard guard;
    cDBFeatureList list;
    ASSERT_EQ(ReadFrom(list, FeatureWire(1, {}).Bytes()), 1);
    Json::Value root;
    list.ToJSON(root, false);  // no features, no "Data"
    EXPECT_EQ(StyledJson(root), Styled(R"({"Name":"FeatureList","Type":"FeatureListObject",
        "Directory":"/Features/"})"));
    cDBFeatureList::AddFeature("ManagedSwitch");
    cDBFeatureList::AddFeature("ManagedSwitch");
    list.ToJSON(root, false);
    EXPECT_EQ(StyledJson(root["Data"]), Styled(R"({"ManagedSwitch":true})"));

    kora::s_string text;
    list.ToJSON(text);
    std::set<std::string> rejected;
    EXPECT_FALSE(list.FromJSON(text, rejected));
    EXPECT_TRUE(cDBFeatureList::HasFeature("ManagedSwitch"));
    EXPECT_EQ(list.ToString(""), "cDBFeatureList");
}
