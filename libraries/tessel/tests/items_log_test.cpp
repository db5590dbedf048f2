// Logbook entries, batches and units: refusing and cutting setters, the export
// line, the binary forms and damaged batches.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>

#include "tessel/tessel.h"
#include "wire.h"

using namespace tessel;
using testwire::BytesOf;
using testwire::Wire;

namespace {

template <class T>
int ReadFrom(T& obj, const std::string& bytes) {
    kora::cSerializeBuffer b(bytes.data(), bytes.size());
    return obj.Deserialize(b);
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

TEST(LogItem, RefusingSetters) {
    // Out-of-range numbers that would wrap into range in a narrower type included.
    const std::pair<std::function<bool(cDBLogItem&)>, bool> cases[] = {
        {[](cDBLogItem& e) { return e.SetUnit(std::string(15, 'u')); }, true},
        {[](cDBLogItem& e) { return e.SetUnit(std::string(16, 'u')); }, false},
        {[](cDBLogItem& e) { return e.SetType(std::string(20, 't')); }, true},
        {[](cDBLogItem& e) { return e.SetType(std::string(21, 't')); }, false},
        {[](cDBLogItem& e) { return e.SetLevel(0); }, true},
        {[](cDBLogItem& e) { return e.SetLevel(4); }, true},
        {[](cDBLogItem& e) { return e.SetLevel(5); }, false},
        {[](cDBLogItem& e) { return e.SetLevel(260); }, false},
        {[](cDBLogItem& e) { return e.SetSuccess(-2); }, false},
        {[](cDBLogItem& e) { return e.SetSuccess(-1); }, true},
        {[](cDBLogItem& e) { return e.SetSuccess(0); }, true},
        {[](cDBLogItem& e) { return e.SetSuccess(1); }, true},
        {[](cDBLogItem& e) { return e.SetSuccess(2); }, false},
        {[](cDBLogItem& e) { return e.SetSuccess(257); }, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        cDBLogItem entry = Entry(0, "t");
        const std::string before = BytesOf(entry);
        EXPECT_EQ(cases[i].first(entry), cases[i].second) << "row " << i;
        EXPECT_TRUE(cases[i].second || BytesOf(entry) == before) << "row " << i << " changed it";
    }
}

TEST(LogItem, CuttingSetters) {
    std::string lfAt250(300, 'x');
    lfAt250[250] = '\n';
    using Setter = bool (cDBLogItem::*)(const std::string&);
    using Getter = const kora::s_string& (cDBLogItem::*)() const;
    const Setter text = &cDBLogItem::SetText, object = &cDBLogItem::SetObject;
    const struct {
        Setter set;
        Getter get;
        std::string input, stored;
    } cases[] = {
        {text, &cDBLogItem::GetText, lfAt250, std::string(200, 'x')},
        {text, &cDBLogItem::GetText, "abcd\nefghi", "abcdefghi"},
        {text, &cDBLogItem::GetText, "a\r\nb\r", "ab"},
        {text, &cDBLogItem::GetText, std::string(199, 'y') + "\r\nzz", std::string(199, 'y')},
        {object, &cDBLogItem::GetObject, std::string(150, 'o'), std::string(100, 'o')},
        {object, &cDBLogItem::GetObject, "a\nb", "a\nb"},  // only the text loses line breaks
        {&cDBLogItem::SetPeer, &cDBLogItem::GetPeer, std::string(40, 'p'), std::string(30, 'p')},
        {&cDBLogItem::SetUser, &cDBLogItem::GetUser, std::string(60, 'u'), std::string(50, 'u')},
    };
    for (const auto& c : cases) {
        cDBLogItem entry;
        EXPECT_TRUE((entry.*c.set)(c.input)) << c.input;
        EXPECT_EQ((entry.*c.get)(), c.stored) << c.input;
    }
}

TEST(LogItem, LevelNamesExportLineTextAndJson) {
    const char* names[] = {"DEBUG", "INFO", "WARNING", "ERROR", "FATAL", "", ""};
    for (unsigned level : {0, 1, 2, 3, 4, 5, 255})
        EXPECT_EQ(cDBLogItem::GetLevelString(level), names[std::min(level, 6u)]) << level;

    cDBLogItem entry = Entry(1700000000, "link\ndown");
    const kora::cTime& t = entry.GetTime();
    // Object, peer and outcome are not exported.
    EXPECT_EQ(entry.ToExportString(),
              t.ToDateString() + " " + t.ToTimeString() + ";wan;3;ERROR;Link;linkdown;admin;ff\n");
    EXPECT_EQ(entry.ToString(""), "cDBLogItem:Time:" + t.ToISO8601String() +
                                      ", Unit:wan, Level:3, Type:Link, Text:linkdown, Peer:wand, "
                                      "User:admin, Outcome:-1, Status:ff");
    entry.SetStatus(-1);  // written as its 64-bit pattern
    const std::string line = entry.ToExportString();
    EXPECT_EQ(line.substr(line.size() - 18), ";ffffffffffffffff\n");

    Json::Value v, expected;
    Entry(1700000000, "up").ToJSONValue(v);
    ASSERT_TRUE(ParseJson(R"({"Time":1700000000,"Unit":"wan","Level":3,"Type":"Link",
        "Text":"up","Object":"eth1","Peer":"wand","User":"admin","Outcome":-1,"Status":255})",
                          expected));
    EXPECT_EQ(StyledJson(v), StyledJson(expected));
}

TEST(LogItem, GoldenBinaryLayoutAndOtherVersions) {
    EXPECT_EQ(BytesOf(Entry(1700000000, "up")), EntryWire(1700000000, "up"));
    cDBLogItem back;
    EXPECT_EQ(ReadFrom(back, EntryWire(1700000000, "up")), 1);
    EXPECT_EQ(BytesOf(back), EntryWire(1700000000, "up"));

    // Another version is refused and leaves the entry at its defaults: time now.
    kora::cTime before = kora::cTime::Now();
    EXPECT_EQ(ReadFrom(back, Wire().Version(2).U64(0).Str("wan").Bytes()), 0);
    EXPECT_EQ(back.GetUnit(), "");
    EXPECT_EQ(back.GetLevel(), 0);
    EXPECT_FALSE(back.GetTime() < before);
}

TEST(LogResult, EmptyBatch) {
    cDBLogResult result;
    EXPECT_EQ(BytesOf(result), Wire().Version(1).U32(0).Bytes());
    Json::Value root;
    ASSERT_TRUE(result.ToJSON(root, true));
    EXPECT_TRUE(root["Entries"].isArray() && root["Entries"].empty());
    EXPECT_FALSE(root.isMember("Name"));
    EXPECT_EQ(result.ToString(""), "cDBLogResult:EntryCount:0");
}

TEST(LogResult, EntriesByNumber) {
    cDBLogResult result;
    result.AddEntry(7, Entry(100, "seven"));
    result.AddEntry(3, Entry(100, "three"));
    result.AddEntry(7, Entry(100, "replaced"));
    const std::string golden = Wire().Version(1).U32(2).U32(3).Bytes() + EntryWire(100, "three") +
                               Wire().U32(7).Bytes() + EntryWire(100, "replaced");
    EXPECT_EQ(BytesOf(result), golden);
    cDBLogResult back;
    ASSERT_EQ(ReadFrom(back, golden), 1);
    EXPECT_EQ(BytesOf(back), golden);

    Json::Value root;
    result.ToJSON(root, false);
    ASSERT_EQ(root["Entries"].size(), 2u);
    EXPECT_EQ(root["Entries"][0]["ID"].asUInt(), 3u);
    EXPECT_EQ(root["Entries"][1]["Entry"]["Text"], "replaced");
    EXPECT_EQ(result.ToString(""), "cDBLogResult:EntryCount:2");

    // Read with a number twice, the first entry stays.
    ASSERT_EQ(ReadFrom(back, Wire().Version(1).U32(2).U32(5).Bytes() + EntryWire(1, "first") +
                                 Wire().U32(5).Bytes() + EntryWire(1, "second")),
              1);
    ASSERT_EQ(back.GetEntries().size(), 1u);
    EXPECT_EQ(back.GetEntries().at(5).GetText(), "first");
}

TEST(LogResult, DamagedBatchesFailEmpty) {
    cDBLogResult full;
    full.AddEntry(1, Entry(1, "a"));
    full.AddEntry(2, Entry(2, "b"));
    const std::string bytes = BytesOf(full), one = EntryWire(1, "a");
    std::vector<std::string> damaged = {
        Wire().Version(1).U32(0xffffffffu).U32(1).Bytes() + one,  // count beyond the buffer
        Wire().Version(1).U32(2).U32(1).Bytes() + one,
        Wire().Version(2).U32(1).U32(1).Bytes() + one};
    for (size_t len = 0; len < bytes.size(); ++len) damaged.push_back(bytes.substr(0, len));
    for (const std::string& d : damaged) {
        cDBLogResult result = full;
        EXPECT_EQ(ReadFrom(result, d), 0) << d.size();
        EXPECT_TRUE(result.GetEntries().empty()) << d.size();
    }
}

TEST(LogUnit, BoundsJsonAndText) {
    const std::pair<std::function<bool(cDBLogUnit&)>, bool> cases[] = {
        {[](cDBLogUnit& u) { return u.SetDepth(0); }, true},
        {[](cDBLogUnit& u) { return u.SetDepth(5000); }, true},
        {[](cDBLogUnit& u) { return u.SetDepth(5001); }, false},
        {[](cDBLogUnit& u) { return u.SetLevel(4); }, true},
        {[](cDBLogUnit& u) { return u.SetLevel(5); }, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        cDBLogUnit unit;
        EXPECT_EQ(cases[i].first(unit), cases[i].second) << "row " << i;
    }

    cDBLogUnit unit;
    unit.SetName("vpn");
    EXPECT_EQ(unit.GetPath(), "/Log/Units/vpn");
    EXPECT_EQ(unit.ToString(""), "cDBLogUnit:Name:vpn, Depth:3000, Level:1");
    EXPECT_EQ(BytesOf(unit),
              Wire().Version(1).Str("vpn").Str("/Log/Units/").U16(3000).U8(1).Bytes());

    const std::string head = R"({"Name":"vpn","Type":"LogUnitObject","Directory":"/Log/Units/",)";
    std::set<std::string> rejected;
    EXPECT_FALSE(unit.FromJSON(head + R"("Data":{"Depth":5001,"Level":2}})", rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"Depth"});
    EXPECT_EQ(unit.GetLevel(), 2);
    EXPECT_EQ(unit.GetDepth(), 3000);
    rejected.clear();
    EXPECT_FALSE(unit.FromJSON(head + R"("Data":{"Depth":10}})", rejected));  // both required
    EXPECT_TRUE(rejected.empty());
    EXPECT_EQ(unit.GetDepth(), 3000);
}
