// Logbook entries, batches and units: refusing and cutting setters, the export
// line, the binary forms and damaged batches.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tessel/tessel.h"
#include "wire.h"

using namespace tessel;
using testwire::Wire;

namespace {

template <class T>
int ReadFrom(T& obj, const std::string& bytes) {
    kora::cSerializeBuffer b(bytes.data(), bytes.size());
    return obj.Deserialize(b);
}

cDBLogItem SampleEntry(int64_t seconds, const std::string& text) {
    cDBLogItem entry;
    kora::cTime time;
    time.FromSeconds(seconds);
    entry.SetTime(time);
    EXPECT_TRUE(entry.SetUnit("wan"));
    EXPECT_TRUE(entry.SetLevel(3));
    EXPECT_TRUE(entry.SetType("Link"));
    entry.SetText(text);
    entry.SetObject("eth1");
    entry.SetPeer("wand");
    entry.SetUser("admin");
    EXPECT_TRUE(entry.SetSuccess(-1));
    entry.SetStatus(255);
    return entry;
}

// The binary form of SampleEntry, token by token.
Wire SampleWire(int64_t seconds, const std::string& text) {
    Wire w;
    w.Version(1).U64(static_cast<uint64_t>(seconds) * 1000000).Str("wan").U8(3).Str("Link");
    w.Str(text).Str("eth1").Str("wand").Str("admin").U8(0xff).U64(255);
    return w;
}

// Local time is UTC while it lives, so time texts can be stated literally.
class UtcZone {
  public:
    UtcZone() {
        const char* tz = std::getenv("TZ");
        m_had = tz != nullptr;
        if (m_had) m_saved = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~UtcZone() {
        if (m_had)
            setenv("TZ", m_saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool m_had = false;
    std::string m_saved;
};

}  // namespace

TEST(LogItem, RefusingSetters) {
    struct Case {
        const char* what;
        std::function<bool(cDBLogItem&)> set;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"unit 15", [](cDBLogItem& e) { return e.SetUnit(std::string(15, 'u')); }, true},
        {"unit 16", [](cDBLogItem& e) { return e.SetUnit(std::string(16, 'u')); }, false},
        {"type 20", [](cDBLogItem& e) { return e.SetType(std::string(20, 't')); }, true},
        {"type 21", [](cDBLogItem& e) { return e.SetType(std::string(21, 't')); }, false},
        {"level 0", [](cDBLogItem& e) { return e.SetLevel(0); }, true},
        {"level 4", [](cDBLogItem& e) { return e.SetLevel(4); }, true},
        {"level 5", [](cDBLogItem& e) { return e.SetLevel(5); }, false},
        {"level 260", [](cDBLogItem& e) { return e.SetLevel(260); }, false},
        {"success -2", [](cDBLogItem& e) { return e.SetSuccess(-2); }, false},
        {"success -1", [](cDBLogItem& e) { return e.SetSuccess(-1); }, true},
        {"success 0", [](cDBLogItem& e) { return e.SetSuccess(0); }, true},
        {"success 1", [](cDBLogItem& e) { return e.SetSuccess(1); }, true},
        {"success 2", [](cDBLogItem& e) { return e.SetSuccess(2); }, false},
        {"success 257", [](cDBLogItem& e) { return e.SetSuccess(257); }, false},
    };
    for (const auto& c : cases) {
        cDBLogItem entry = SampleEntry(0, "t");
        std::string before = testwire::BytesOf(entry);
        EXPECT_EQ(c.set(entry), c.accepted) << c.what;
        if (!c.accepted) {
            EXPECT_EQ(testwire::BytesOf(entry), before) << c.what;
        }
    }
}

TEST(LogItem, CuttingSetters) {
    std::string lfAt250(300, 'x');
    lfAt250[250] = '\n';
    std::string longLine = std::string(199, 'y') + "\r\nzz";
    struct Case {
        const char* what;
        bool (cDBLogItem::*set)(const std::string&);
        const kora::s_string& (cDBLogItem::*get)() const;
        std::string input, stored;
    };
    const std::vector<Case> cases = {
        {"text lf after cut", &cDBLogItem::SetText, &cDBLogItem::GetText, lfAt250,
         std::string(200, 'x')},
        {"text lf inside", &cDBLogItem::SetText, &cDBLogItem::GetText, "abcd\nefghi", "abcdefghi"},
        {"text crlf", &cDBLogItem::SetText, &cDBLogItem::GetText, "a\r\nb\r", "ab"},
        {"text cut before line end", &cDBLogItem::SetText, &cDBLogItem::GetText, longLine,
         std::string(199, 'y')},
        {"text 200", &cDBLogItem::SetText, &cDBLogItem::GetText, std::string(200, 'x'),
         std::string(200, 'x')},
        {"object 150", &cDBLogItem::SetObject, &cDBLogItem::GetObject, std::string(150, 'o'),
         std::string(100, 'o')},
        {"object keeps line feed", &cDBLogItem::SetObject, &cDBLogItem::GetObject, "a\nb", "a\nb"},
        {"peer 40", &cDBLogItem::SetPeer, &cDBLogItem::GetPeer, std::string(40, 'p'),
         std::string(30, 'p')},
        {"peer 30", &cDBLogItem::SetPeer, &cDBLogItem::GetPeer, std::string(30, 'p'),
         std::string(30, 'p')},
        {"user 60", &cDBLogItem::SetUser, &cDBLogItem::GetUser, std::string(60, 'u'),
         std::string(50, 'u')},
    };
    for (const auto& c : cases) {
        cDBLogItem entry;
        EXPECT_TRUE((entry.*c.set)(c.input)) << c.what;
        EXPECT_EQ((entry.*c.get)(), c.stored) << c.what;
    }
}

TEST(LogItem, LevelNames) {
    const std::pair<unsigned, const char*> names[] = {
        {0, "DEBUG"}, {1, "INFO"}, {2, "WARNING"}, {3, "ERROR"}, {4, "FATAL"}, {5, ""}, {255, ""},
    };
    for (const auto& n : names)
        EXPECT_EQ(cDBLogItem::GetLevelString(static_cast<uint8_t>(n.first)), n.second) << n.first;
}

TEST(LogItem, ExportLineAndTextForm) {
    UtcZone utc;
    cDBLogItem entry = SampleEntry(1700000000, "link\ndown");
    // Object, peer and outcome are not exported.
    EXPECT_EQ(entry.ToExportString(), "2023-11-14 22:13:20;wan;3;ERROR;Link;linkdown;admin;ff\n");
    EXPECT_EQ(entry.ToString(""),
              "cDBLogItem:Time:2023-11-14T22:13:20+00:00, Unit:wan, Level:3, Type:Link, "
              "Text:linkdown, Peer:wand, User:admin, Outcome:-1, Status:ff");
    // A negative status is written as its 64-bit pattern.
    entry.SetStatus(-1);
    std::string line = entry.ToExportString();
    EXPECT_EQ(line.substr(line.size() - 18), ";ffffffffffffffff\n");
}

TEST(LogItem, JsonValue) {
    cDBLogItem entry = SampleEntry(1700000000, "up");
    Json::Value v;
    entry.ToJSONValue(v);
    EXPECT_EQ(v["Time"].asInt64(), 1700000000);
    EXPECT_EQ(v["Unit"], "wan");
    EXPECT_EQ(v["Level"].asUInt(), 3u);
    EXPECT_EQ(v["Object"], "eth1");
    EXPECT_EQ(v["Peer"], "wand");
    EXPECT_EQ(v["Outcome"].asInt(), -1);
    EXPECT_TRUE(v["Status"].isInt64());
    EXPECT_EQ(v["Status"].asInt64(), 255);
    EXPECT_EQ(v.size(), 10u);
}

TEST(LogItem, GoldenBinaryLayoutAndOtherVersions) {
    cDBLogItem entry = SampleEntry(1700000000, "up");
    EXPECT_EQ(testwire::BytesOf(entry), SampleWire(1700000000, "up").Bytes());

    cDBLogItem back;
    EXPECT_EQ(ReadFrom(back, SampleWire(1700000000, "up").Bytes()), 1);
    EXPECT_EQ(testwire::BytesOf(back), testwire::BytesOf(entry));

    // Version 2 is refused and leaves the entry at its defaults: time now.
    Wire v2;
    v2.Version(2).U64(0).Str("wan");
    kora::cTime before = kora::cTime::Now();
    EXPECT_EQ(ReadFrom(back, v2.Bytes()), 0);
    EXPECT_EQ(back.GetUnit(), "");
    EXPECT_EQ(back.GetLevel(), 0);
    EXPECT_FALSE(back.GetTime() < before);
}

TEST(LogResult, EmptyBatch) {
    cDBLogResult result;
    EXPECT_EQ(testwire::BytesOf(result), Wire().Version(1).U32(0).Bytes());
    Json::Value root;
    ASSERT_TRUE(result.ToJSON(root, true));
    EXPECT_TRUE(root["Entries"].isArray());
    EXPECT_EQ(root["Entries"].size(), 0u);
    EXPECT_FALSE(root.isMember("Name"));
    EXPECT_EQ(result.ToString(""), "cDBLogResult:EntryCount:0");
}

TEST(LogResult, EntriesByNumber) {
    cDBLogResult result;
    result.AddEntry(7, SampleEntry(100, "seven"));
    result.AddEntry(3, SampleEntry(100, "three"));
    result.AddEntry(7, SampleEntry(100, "replaced"));
    ASSERT_EQ(result.GetEntries().size(), 2u);
    EXPECT_EQ(result.GetEntries().at(7).GetText(), "replaced");

    Wire golden;
    golden.Version(1).U32(2).U32(3);
    golden.Raw(SampleWire(100, "three").Bytes().data(), SampleWire(100, "three").Bytes().size());
    golden.U32(7);
    golden.Raw(SampleWire(100, "replaced").Bytes().data(),
               SampleWire(100, "replaced").Bytes().size());
    EXPECT_EQ(testwire::BytesOf(result), golden.Bytes());

    Json::Value root;
    result.ToJSON(root, false);
    ASSERT_EQ(root["Entries"].size(), 2u);
    EXPECT_EQ(root["Entries"][0]["ID"].asUInt(), 3u);
    EXPECT_EQ(root["Entries"][1]["Entry"]["Text"], "replaced");
    EXPECT_EQ(result.ToString(""), "cDBLogResult:EntryCount:2");

    cDBLogResult back;
    ASSERT_EQ(ReadFrom(back, golden.Bytes()), 1);
    EXPECT_EQ(testwire::BytesOf(back), golden.Bytes());
}

TEST(LogResult, RepeatedNumberKeepsTheFirstEntry) {
    std::string first = SampleWire(1, "first").Bytes();
    std::string second = SampleWire(1, "second").Bytes();
    Wire w;
    w.Version(1).U32(2).U32(5).Raw(first.data(), first.size());
    w.U32(5).Raw(second.data(), second.size());
    cDBLogResult result;
    ASSERT_EQ(ReadFrom(result, w.Bytes()), 1);
    ASSERT_EQ(result.GetEntries().size(), 1u);
    EXPECT_EQ(result.GetEntries().at(5).GetText(), "first");
}

TEST(LogResult, DamagedBatchesFailEmpty) {
    cDBLogResult full;
    full.AddEntry(1, SampleEntry(1, "a"));
    full.AddEntry(2, SampleEntry(2, "b"));
    const std::string bytes = testwire::BytesOf(full);
    for (size_t len = 0; len < bytes.size(); ++len) {
        cDBLogResult result = full;
        EXPECT_EQ(ReadFrom(result, bytes.substr(0, len)), 0) << "cut at " << len;
        EXPECT_TRUE(result.GetEntries().empty()) << "cut at " << len;
    }
    // Counts the buffer cannot hold, and a version other than 1.
    std::string one = SampleWire(1, "a").Bytes();
    Wire huge, oneShort, v2;
    huge.Version(1).U32(0xffffffffu).U32(1).Raw(one.data(), one.size());
    oneShort.Version(1).U32(2).U32(1).Raw(one.data(), one.size());
    v2.Version(2).U32(1).U32(1).Raw(one.data(), one.size());
    for (const Wire* w : {&huge, &oneShort, &v2}) {
        cDBLogResult result = full;
        EXPECT_EQ(ReadFrom(result, w->Bytes()), 0);
        EXPECT_TRUE(result.GetEntries().empty());
    }
}

TEST(LogUnit, BoundsJsonAndText) {
    struct Case {
        const char* what;
        std::function<bool(cDBLogUnit&)> set;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"depth 0", [](cDBLogUnit& u) { return u.SetDepth(0); }, true},
        {"depth 5000", [](cDBLogUnit& u) { return u.SetDepth(5000); }, true},
        {"depth 5001", [](cDBLogUnit& u) { return u.SetDepth(5001); }, false},
        {"level 4", [](cDBLogUnit& u) { return u.SetLevel(4); }, true},
        {"level 5", [](cDBLogUnit& u) { return u.SetLevel(5); }, false},
    };
    for (const auto& c : cases) {
        cDBLogUnit unit;
        EXPECT_EQ(c.set(unit), c.accepted) << c.what;
    }

    cDBLogUnit unit;
    unit.SetName("vpn");
    EXPECT_EQ(unit.GetPath(), "/Log/Units/vpn");
    EXPECT_EQ(unit.ToString(""), "cDBLogUnit:Name:vpn, Depth:3000, Level:1");
    EXPECT_EQ(testwire::BytesOf(unit),
              Wire().Version(1).Str("vpn").Str("/Log/Units/").U16(3000).U8(1).Bytes());

    std::set<std::string> rejected;
    const std::string doc =
        R"({"Name":"vpn","Type":"LogUnitObject","Directory":"/Log/Units/","Data":{"Depth":5001,"Level":2}})";
    EXPECT_FALSE(unit.FromJSON(doc, rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"Depth"});
    EXPECT_EQ(unit.GetLevel(), 2);
    EXPECT_EQ(unit.GetDepth(), 3000);

    rejected.clear();
    const std::string noLevel =
        R"({"Name":"vpn","Type":"LogUnitObject","Directory":"/Log/Units/","Data":{"Depth":10}})";
    EXPECT_FALSE(unit.FromJSON(noLevel, rejected));
    EXPECT_TRUE(rejected.empty());
    EXPECT_EQ(unit.GetDepth(), 3000);
}
