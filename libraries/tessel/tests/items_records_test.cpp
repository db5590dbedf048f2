// Records written by hand or holding lists the golden samples leave empty:
// directory listings, the feature list, logbook entries and batches.
#include <algorithm>

#include "item_doc.h"

using namespace tessel;
using testdoc::Features;
using testwire::BytesOf;
using testwire::ReadInto;
using testwire::W;
using testwire::Wire;

namespace {

// A JSON text in the styled form, to compare documents as text.
std::string Styled(const char* text) {
    return StyledJson(testdoc::J(text));
}

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

cDBLogItem Entry(int64_t seconds, const std::string& text) {
    cDBLogItem entry;
    kora::cTime time;
    time.FromSeconds(seconds);
    entry.SetTime(time);
    EXPECT_TRUE(entry.SetUnit("wan") && entry.SetLevel(3) && entry.SetType("Link"));
    entry.SetText(text);
    entry.SetObject("eth1");
    entry.SetPeer("wand");
    entry.SetUser("admin");
    EXPECT_TRUE(entry.SetSuccess(-1));
    entry.SetStatus(255);
    return entry;
}

// The binary form of Entry(), token by token.
std::string EntryWire(int64_t seconds, const std::string& text) {
    Wire w;
    w.Version(1).U64(static_cast<uint64_t>(seconds) * 1000000).Str("wan").U8(3).Str("Link");
    return w.Str(text).Str("eth1").Str("wand").Str("admin").U8(0xff).U64(255).Bytes();
}

}  // namespace

TEST(DirectoryItem, ListingByRankJsonBinaryAndDamage) {
    EXPECT_EQ(cDBDirectory().GetPath(), "");  // name and directory are not normalised
    cDBDirectory dir = SampleListing();
    Json::Value root;
    ASSERT_TRUE(dir.ToJSON(root, true));
    // Rank 1 (a, then b) before rank 2; no rank, no access class, no "Data".
    EXPECT_EQ(StyledJson(root), Styled(R"({"Name":"PacketFilter","Type":"Directory",
        "Directory":"/Config/Network/Firewall/","Entries":[
        {"Name":"a","Type":"FilterRuleConfigObject"},
        {"Name":"b","Type":"FilterRuleConfigObject","Info":{"Action":"Drop","Port":"22"}},
        {"Name":"a","Type":"FilterRuleConfigObject"}]})"));

    // Loading JSON keeps name and directory (as written) only.
    kora::s_string text;
    dir.ToJSON(text);
    std::set<std::string> rejected;
    cDBDirectory back;
    back.AddEntry(0, "stale", "X");
    ASSERT_TRUE(back.FromJSON(text, rejected));
    EXPECT_EQ(back.GetPath(), "/Config/Network/Firewall/PacketFilter");
    EXPECT_TRUE(back.GetEntries().empty());
    ASSERT_TRUE(back.FromJSON(R"({"Type":"Directory","Name":"","Directory":"Users"})", rejected));
    EXPECT_EQ(back.GetDir(), "Users");
    for (const char* doc : {R"({"Type":"UserObject","Name":"a","Directory":"/a/"})",
                            R"({"Type":"Directory","Name":"a"})",
                            R"({"Type":"Directory","Name":1,"Directory":"/a/"})"}) {
        back.SetName("before");
        EXPECT_FALSE(back.FromJSON(doc, rejected)) << doc;
        EXPECT_EQ(back.GetName(), "") << doc;
    }

    // Per rank: the rank, then its entries by name, each with its information.
    const std::string bytes =
        W("v4 s:PacketFilter s:/Config/Network/Firewall/ u32:2 u32:1 u32:2 s:a "
          "s:FilterRuleConfigObject u32:0 s:b s:FilterRuleConfigObject u32:2 s:Action s:Drop "
          "s:Port s:22 u32:2 u32:1 s:a s:FilterRuleConfigObject u32:0 "
          "s:ACCESS_CLASS_FIREWALL_CONFIG");
    EXPECT_EQ(BytesOf(dir), bytes);
    EXPECT_EQ(ReadInto(back, bytes), 1);
    EXPECT_EQ(back.GetEntries(), dir.GetEntries());
    EXPECT_EQ(back.ToHash(), dir.ToHash());

    // Every cut, another version and an absurd count at each level of the
    // listing are refused, with the entries emptied.
    std::vector<std::string> damaged = {W("v3 s:x s:/x/ u32:0 s:"),
                                        W("v4 s:d s:/d/ u32:0xffffffff"),
                                        W("v4 s:d s:/d/ u32:1 u32:0 u32:0xffffffff s:a"),
                                        W("v4 s:d s:/d/ u32:1 u32:0 u32:1 s:a s:T u32:0xffffffff")};
    for (size_t len = 0; len < bytes.size(); ++len) damaged.push_back(bytes.substr(0, len));
    for (const std::string& d : damaged) {
        cDBDirectory listing = SampleListing();
        EXPECT_EQ(ReadInto(listing, d), 0) << d.size();
        EXPECT_TRUE(listing.GetEntries().empty()) << d.size();
    }
}

TEST(FeatureList, ReceivingReplacesTheSet) {
    Features guard({"Old"});
    const std::string bytes =
        W("v1 s:FeatureList s:/Features/ u32:2 s:ManagedSwitch s:SerialRS232");
    cDBFeatureList list;
    ASSERT_EQ(ReadInto(list, bytes), 1);
    EXPECT_TRUE(cDBFeatureList::HasFeature("ManagedSwitch"));
    EXPECT_TRUE(cDBFeatureList::HasFeature("SerialRS232"));
    EXPECT_FALSE(cDBFeatureList::HasFeature("Old"));
    EXPECT_FALSE(cDBFeatureList::HasFeature("managedswitch"));
    EXPECT_EQ(BytesOf(list), bytes);  // sent back in set order

    // Another version, every cut and an absurd count leave the set empty.
    std::vector<std::string> damaged = {W("v2 s:FeatureList s:/Features/ u32:1 s:ManagedSwitch"),
                                        W("v1 s:FeatureList s:/Features/ u32:0xfffffff0 s:x")};
    for (size_t len = 0; len < bytes.size(); ++len) damaged.push_back(bytes.substr(0, len));
    for (const std::string& d : damaged) {
        cDBFeatureList::AddFeature("ManagedSwitch");
        EXPECT_EQ(ReadInto(list, d), 0) << d.size();
        EXPECT_FALSE(cDBFeatureList::HasFeature("ManagedSwitch")) << d.size();
    }

    // JSON: one true member per feature, none at all without features, and
    // it cannot be loaded.
    ASSERT_EQ(ReadInto(list, W("v1 s:FeatureList s:/Features/ u32:0")), 1);
    Json::Value root;
    list.ToJSON(root, false);
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
}

// The refusing setters go through the entry's rows (narrowed values
// included); the texts are cut instead.
TEST(LogItem, SettersRefuseOrCut) {
    cDBLogItem e;
    testdoc::RunSetters({
        {"unit 16", [&] { return e.SetUnit(std::string(16, 'u')); }, false},
        {"level 256+4", [&] { return e.SetLevel(260); }, false},
        {"outcome -1", [&] { return e.SetSuccess(-1); }, true},
    });
    std::string lfAt250(300, 'x');
    lfAt250[250] = '\n';
    using Setter = bool (cDBLogItem::*)(const std::string&);
    using Getter = const kora::s_string& (cDBLogItem::*)() const;
    const Setter text = &cDBLogItem::SetText, object = &cDBLogItem::SetObject;
    const struct {
        Setter set;
        Getter get;
        std::string input, stored;
    } cutting[] = {
        {text, &cDBLogItem::GetText, lfAt250, std::string(200, 'x')},
        {text, &cDBLogItem::GetText, "a\r\nb\r", "ab"},
        {text, &cDBLogItem::GetText, std::string(199, 'y') + "\r\nzz", std::string(199, 'y')},
        {object, &cDBLogItem::GetObject, std::string(150, 'o'), std::string(100, 'o')},
        {object, &cDBLogItem::GetObject, "a\nb", "a\nb"},  // only the text loses line breaks
        {&cDBLogItem::SetUser, &cDBLogItem::GetUser, std::string(60, 'u'), std::string(50, 'u')},
    };
    for (const auto& c : cutting) {
        cDBLogItem entry;
        EXPECT_TRUE((entry.*c.set)(c.input)) << c.input;
        EXPECT_EQ((entry.*c.get)(), c.stored) << c.input;
    }
}

TEST(LogItem, LevelNamesAndExportLine) {
    const char* names[] = {"DEBUG", "INFO", "WARNING", "ERROR", "FATAL", "", ""};
    for (unsigned level : {0, 1, 2, 3, 4, 5, 255})
        EXPECT_EQ(cDBLogItem::GetLevelString(level), names[std::min(level, 6u)]) << level;

    cDBLogItem entry = Entry(1700000000, "link\ndown");
    const kora::cTime& t = entry.GetTime();
    // Object, peer and outcome are not exported.
    EXPECT_EQ(entry.ToExportString(),
              t.ToDateString() + " " + t.ToTimeString() + ";wan;3;ERROR;Link;linkdown;admin;ff\n");
    entry.SetStatus(-1);  // written as its 64-bit pattern
    const std::string line = entry.ToExportString();
    EXPECT_EQ(line.substr(line.size() - 18), ";ffffffffffffffff\n");

    // Another version is refused and leaves the entry at its defaults: time now.
    cDBLogItem back = Entry(1, "x");
    kora::cTime before = kora::cTime::Now();
    EXPECT_EQ(ReadInto(back, Wire().Version(2).U64(0).Str("wan").Bytes()), 0);
    EXPECT_EQ(back.GetUnit(), "");
    EXPECT_FALSE(back.GetTime() < before);
}

TEST(LogResult, EntriesByNumber) {
    cDBLogResult empty;
    Json::Value root;
    ASSERT_TRUE(empty.ToJSON(root, true));
    EXPECT_TRUE(root["Entries"].isArray() && root["Entries"].empty());
    EXPECT_FALSE(root.isMember("Name"));

    cDBLogResult result;
    result.AddEntry(7, Entry(100, "seven"));
    result.AddEntry(3, Entry(100, "three"));
    result.AddEntry(7, Entry(100, "replaced"));
    const std::string golden = Wire().Version(1).U32(2).U32(3).Bytes() + EntryWire(100, "three") +
                               Wire().U32(7).Bytes() + EntryWire(100, "replaced");
    EXPECT_EQ(BytesOf(result), golden);
    cDBLogResult back;
    ASSERT_EQ(ReadInto(back, golden), 1);
    EXPECT_EQ(BytesOf(back), golden);
    result.ToJSON(root, false);
    ASSERT_EQ(root["Entries"].size(), 2u);
    EXPECT_EQ(root["Entries"][0]["ID"].asUInt(), 3u);
    EXPECT_EQ(root["Entries"][1]["Entry"]["Text"], "replaced");

    // Read with a number twice, the first entry stays.
    ASSERT_EQ(ReadInto(back, Wire().Version(1).U32(2).U32(5).Bytes() + EntryWire(1, "first") +
                                 Wire().U32(5).Bytes() + EntryWire(1, "second")),
              1);
    ASSERT_EQ(back.GetEntries().size(), 1u);
    EXPECT_EQ(back.GetEntries().at(5).GetText(), "first");

    // Damaged batches fail empty.
    const std::string one = EntryWire(1, "a");
    std::vector<std::string> damaged = {
        Wire().Version(1).U32(0xffffffffu).U32(1).Bytes() + one,  // count beyond the buffer
        Wire().Version(1).U32(2).U32(1).Bytes() + one,
        Wire().Version(2).U32(1).U32(1).Bytes() + one};
    for (size_t len = 0; len < golden.size(); ++len) damaged.push_back(golden.substr(0, len));
    for (const std::string& d : damaged) {
        cDBLogResult batch = result;
        EXPECT_EQ(ReadInto(batch, d), 0) << d.size();
        EXPECT_TRUE(batch.GetEntries().empty()) << d.size();
    }
}
