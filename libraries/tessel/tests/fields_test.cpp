// The field engine on one synthetic record that uses every row kind, flag and
// stored-layout step, so that item classes need not test the engine again.
#include "item_doc.h"

using namespace tessel;
using testdoc::J;
using testwire::Wire;

namespace {

// A plain sub-record kept in a map by address, as DHCP leases are.
struct Lease : cRecord {
    kora::s_string mac;
    kora::s_uint8 status;
};
using LeaseEntry = Keyed<kora::s_socket_addr, Lease>;

bool NotBroadcast(const kora::s_socket_addr& a) {
    return a.GetIP() != 0xffffffffu;
}

struct Sample : cRecord {
    kora::s_bool flag;
    kora::s_uint8 level;
    kora::s_string secret;
    kora::s_socket_addr start, end;
    kora::s_uint16 vlan;
    kora::s_uint8 mode;
    kora::s_uint16 portLow, portHigh;
    kora::s_int32 low, high;
    std::set<kora::s_string> macs;
    kora::cMap<kora::s_socket_addr, Lease> leases;
    kora::cTime stamp;
    kora::s_string hidden;
    kora::s_uint8 extra;

    static const Table<LeaseEntry>& LeaseRows() {
        using E = LeaseEntry;
        static const Table<E> rows{{
            Field(&E::key, "IP").AnyText(),
            Field(&Lease::mac, "Mac").Check(CheckMacAddr),
            Field(&Lease::status, "Status", 1).Range(1, 3),
        }};
        return rows;
    }
    static const Table<SetEntry<kora::s_string>>& MacRows() {
        using E = SetEntry<kora::s_string>;
        static const Table<E> rows{{Field(&E::value, "Mac").Check(CheckMacAddr)}};
        return rows;
    }

    static const Table<Sample>& Fields() {
        using C = Sample;
        static const Table<C> rows{
            {
                Field(&C::flag, "Flag", true),
                Field(&C::level, "Level", 2).Range(1, 3).Range(7, 7),
                Field(&C::secret, "Secret").Check(CheckCredentials).Masked(),
                Field(&C::start, "Start").When([](const C& c) { return c.flag.Value(); }),
                Field(&C::end, "End").Check(NotBroadcast).When([](const C& c) {
                    return c.flag.Value();
                }),
                Across<C>({"Start", "End"},
                          [](const C& c) { return !c.flag || c.end.GetIP() > c.start.GetIP(); }),
                Field(&C::vlan, "VLANID", 1).Range(1, 4094).OnRead(0, 4094),
                Field(&C::mode, "Mode").Range(0, 2).IgnoreOutOfRange(),
                PortRange<C>("Ports", Field(&C::portLow, "PortLow"),
                             Field(&C::portHigh, "PortHigh").Since(2)),
                Object<C>("Range", {Field(&C::low, "Low"), Field(&C::high, "High")}),
                Derived<C>("Sum", [](const C& c) { return Json::Int(c.low + c.high); }),
                List<SetEntry<kora::s_string>>(&C::macs, "Macs", "Mac", MacRows()).MayBeMissing(),
                List<LeaseEntry>(&C::leases, "Leases", "Lease", LeaseRows())
                    .StoredElements(1, {"IP", "Mac"}),
                Field(&C::stamp, "Stamp").KeepOnDefault(),
                Field(&C::hidden, "Hidden", "x").NoJson(),
                Field(&C::extra, "Extra", 5).Since(2).Optional(1),
                Field(&C::vlan, "Alias").InputOnly().Range(1, 4094).Optional(2),
                // A keyless object reads its members beside the others.
                Object<C>("", {Field(&C::low, "LowAlias").InputOnly(),
                               Field(&C::high, "HighAlias").InputOnly()})
                    .InputOnly()
                    .Optional(3),
            },
            {
                // Version 1 kept the flag after a dropped byte and lacked the rest.
                Stored(1, {Skip<kora::s_uint8>(), "Flag", "Level", "PortLow", "Leases"}),
            }};
        return rows;
    }
};

// A complete "Data" object, with `changes` applied (null removes a member).
Json::Value Doc(const char* changes = "{}") {
    Json::Value data = J(R"({
        "Flag": true, "Level": 3, "Secret": "pw", "Start": "10.0.0.1", "End": "10.0.0.9",
        "VLANID": 10, "Mode": 1, "Ports": "90:80", "Range": {"Low": -2, "High": 5},
        "Macs": [{"Mac": "00:11:22:33:44:55"}],
        "Leases": [{"IP": "10.0.0.2", "Mac": "00:11:22:33:44:66", "Status": 2}],
        "Stamp": 100, "Extra": 6})");
    testdoc::Apply(data, J(changes));
    return data;
}

struct Read {
    bool ok;
    Sample s;
    std::set<std::string> rejected;
};

Read FromJson(const Json::Value& data) {
    Read r;
    Sample::Fields().Reset(r.s, true);
    r.ok = Sample::Fields().FromJson(r.s, data, r.rejected);
    return r;
}

}  // namespace

// "changes to a complete document | ok or failed | the refused keys | members
// the record then holds": what each faulty document yields.
TEST(FieldEngine, JsonReadFailures) {
    const char* cases[] = {
        // A required member missing or mistyped: nothing assigned, nothing named.
        R"({"Level": null} | failed | | {"VLANID": 1})",
        R"({"Range": {"Low": 1}} | failed | | {"VLANID": 1})",
        R"({"Level": "3"} | failed | | {"Level": 2})",
        // A refused value is named; later required fields are still taken,
        // later list elements are not.
        R"({"Level": 4} | failed | Level | {"VLANID": 10, "Macs": [], "Level": 2})",
        R"({"Level": 7} | ok | | {"Level": 7})",
        R"({"Level": 256} | failed | Level)",
        R"({"Secret": "a b"} | failed | Secret)",
        R"({"Ports": "1:2:3"} | failed | Ports)",
        R"({"Ports": "70000"} | failed | Ports)",
        R"({"Ports": "443"} | ok | | {"Ports": "443"})",
        R"({"Start": "10.0.0.300"} | failed | Start)",
        // A check across fields names both; a condition skips rows.
        R"({"End": "10.0.0.1"} | failed | End Start)",
        R"({"Flag": false, "End": "bad"} | ok | | {"End": "0.0.0.0"})",
        // Ignored out-of-range value: no refusal, default kept.
        R"({"Mode": 9} | ok | | {"Mode": 0})",
        // Elements: refused under the singular key, the rest not applied.
        R"({"Macs": [{"Mac": "bad"}, {"Mac": "00:11:22:33:44:77"}]} | failed | Mac |
            {"Macs": [], "Leases": []})",
        R"({"Leases": [{"IP": "x", "Mac": "00:11:22:33:44:66", "Status": 4}]} | failed | Lease)",
        // An element lacking a member fails the read without naming anything.
        R"({"Leases": [{"IP": "10.0.0.3", "Status": 1}]} | failed |)",
        // A list that may be missing reads as empty; one that must be present fails.
        R"({"Macs": null} | ok | | {"Macs": []})",
        R"({"Leases": null} | failed |)",
        // Optional groups: skipped when incomplete, input-only aliases set the member.
        R"({"Extra": null} | ok | | {"Extra": 5})",
        R"({"Alias": 77} | ok | | {"VLANID": 77})",
        R"({"Alias": 0} | failed | Alias)",
        R"({"LowAlias": 7, "HighAlias": 8} | ok | | {"Range": {"Low": 7, "High": 8}})",
        R"({"LowAlias": 7} | ok | | {"Range": {"Low": -2, "High": 5}})",
        R"({"Level": 4, "Alias": 77} | failed | Level | {"VLANID": 10})",
    };
    for (const char* row : cases) {
        std::vector<std::string> c = testdoc::Split(row);
        c.resize(4, "{}");
        Read r = FromJson(Doc(c[0].c_str()));
        std::string keys;
        for (const auto& key : r.rejected) keys += (keys.empty() ? "" : " ") + key;
        EXPECT_EQ(r.ok ? "ok" : "failed", c[1]) << row;
        EXPECT_EQ(keys, c[2]) << row;
        Json::Value data(Json::objectValue);
        Sample::Fields().ToJson(r.s, data, false);
        SCOPED_TRACE(row);
        testdoc::ExpectMembers(data, c[3].c_str());
    }
    // A "Data" that is not an object reads as missing members.
    std::set<std::string> rejected;
    Sample s;
    EXPECT_FALSE(Sample::Fields().FromJson(s, Json::Value(5), rejected));
}

// A complete document reads into every row kind and is written back as it was
// read; masked, derived and in table order; display entries show values unmasked.
TEST(FieldEngine, JsonReadAndWrittenForms) {
    Read r = FromJson(Doc());
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.rejected.empty());
    Json::Value data(Json::objectValue);
    Sample::Fields().ToJson(r.s, data, true);
    EXPECT_EQ(data["Secret"], "*******");
    EXPECT_EQ(data["Sum"], 3);
    EXPECT_EQ(data["Ports"], "80:90");
    EXPECT_FALSE(data.isMember("Hidden"));
    EXPECT_FALSE(data.isMember("Alias"));
    EXPECT_EQ(data["Leases"][0]["IP"], "10.0.0.2");
    // Written back, the document reads to the same record.
    Json::Value plain(Json::objectValue);
    Sample::Fields().ToJson(r.s, plain, false);
    const Json::Value doc = Doc(R"({"Ports": "80:90"})");  // the pair is sorted
    for (const auto& key : doc.getMemberNames())
        EXPECT_EQ(plain[key].toStyledString(), doc[key].toStyledString()) << key;
    Read again = FromJson(plain);
    EXPECT_TRUE(again.ok);
    kora::cSerializeBuffer one, two;
    Sample::Fields().Write(r.s, one);
    Sample::Fields().Write(again.s, two);
    EXPECT_EQ(one.Bytes(), two.Bytes());
    // The text lists members in table order, nested ones too.
    std::string text = StyledJson(plain, &Sample::Fields().Shape());
    EXPECT_LT(text.find("\"Flag\""), text.find("\"Level\""));
    EXPECT_LT(text.find("\"VLANID\""), text.find("\"Mode\""));
    EXPECT_LT(text.find("\"Low\""), text.find("\"High\""));
    EXPECT_LT(text.find("\"IP\""), text.find("\"Mac\" : \"00:11:22:33:44:66\""));
    Json::Value back;
    ASSERT_TRUE(ParseJson(text, back));
    EXPECT_EQ(back.toStyledString(), plain.toStyledString());

    kora::cMap<kora::s_string, kora::s_string> info;
    Sample::Fields().InfoOf(r.s, {"Flag", "Level", "Secret", "Start", "Ports", "Low", "Stamp"},
                            info);
    using Entries = std::map<std::string, std::string>;
    const Entries expected = {{"Flag", "true"},      {"Level", "3"},     {"Secret", "pw"},
                              {"Start", "10.0.0.1"}, {"Ports", "80:90"}, {"Low", "-2"},
                              {"Stamp", "100"}};
    EXPECT_EQ(Entries(info.begin(), info.end()), expected);
}

// The binary form reads back exactly and is refused when cut or with an absurd
// count; SetDefault leaves rows kept on default alone.
TEST(FieldEngine, BinaryRoundTripDamageAndDefaults) {
    Read r = FromJson(Doc());
    kora::cSerializeBuffer b;
    Sample::Fields().Write(r.s, b);
    Sample back;
    Sample::Fields().Reset(back, true);
    ASSERT_TRUE(Sample::Fields().Read(back, b, 2));
    EXPECT_EQ(b.Remaining(), 0u);
    kora::cSerializeBuffer again;
    Sample::Fields().Write(back, again);
    EXPECT_EQ(again.Bytes(), b.Bytes());
    Sample t;
    for (unsigned len = 0; len < b.Size(); ++len) {
        kora::cSerializeBuffer cut(b.Data(), len);
        EXPECT_FALSE(Sample::Fields().Read(t, cut, 2)) << len;
    }
    kora::cSerializeBuffer huge = Wire().Tokens("u8:1 b1 u8:1 u16:1 u32:0xffffffff").Buffer();
    EXPECT_FALSE(Sample::Fields().Read(t, huge, 1));
    Sample::Fields().Reset(back);
    EXPECT_EQ(back.stamp.ToSeconds(), 100);
    EXPECT_EQ(back.hidden, "x");
    EXPECT_TRUE(back.leases.empty());
}

// Version 1 by its own steps (skip, reorder, element layout), version 2 by the
// rows' first versions; fix-ups after either.
TEST(FieldEngine, OlderStoredLayouts) {
    kora::cSerializeBuffer b1 =
        Wire().Tokens("u8:99 b0 u8:3 u16:443 u32:1 a:10.0.0.2 s:00:11:22:33:44:66").Buffer();
    Sample s;
    Sample::Fields().Reset(s, true);
    ASSERT_TRUE(Sample::Fields().Read(s, b1, 1));
    EXPECT_EQ(b1.Remaining(), 0u);
    EXPECT_FALSE(s.flag);
    EXPECT_EQ(s.portLow, 443);
    EXPECT_EQ(s.portHigh, 0);
    ASSERT_EQ(s.leases.size(), 1u);
    EXPECT_EQ(s.leases.begin()->second.status, 1);  // the element's default
    EXPECT_EQ(s.vlan, 1);

    Read r = FromJson(Doc());
    r.s.vlan = 0;
    kora::cSerializeBuffer b2;
    Sample::Fields().Write(r.s, b2);
    Sample t;
    ASSERT_TRUE(Sample::Fields().Read(t, b2, 2));
    EXPECT_EQ(t.vlan, 4094);  // a stored 0 reads back as 4094
}

TEST(FieldEngine, SettersFollowTheRows) {
    Sample s;
    Sample::Fields().Reset(s, true);
    const auto* level = Sample::Fields().FieldOf(s, s.level);
    ASSERT_NE(level, nullptr);
    EXPECT_TRUE(level->Set(s, 7));
    EXPECT_FALSE(level->Set(s, 4));
    EXPECT_FALSE(level->Set(s, 256 + 7));  // checked before it is narrowed
    EXPECT_EQ(s.level, 7);
    const auto* mode = Sample::Fields().FieldOf(s, s.mode);
    EXPECT_TRUE(mode->Set(s, 9));  // ignored, yet accepted
    EXPECT_EQ(s.mode, 0);
    // The binary row is found for a member that also has an input-only alias.
    EXPECT_TRUE(Sample::Fields().FieldOf(s, s.vlan)->Has(kRowBinary));
    EXPECT_EQ(Sample::Fields().FieldOf(s, s.hidden)->key, std::string("Hidden"));
}

// Rows must account for every member: a member without one shows as a gap.
TEST(FieldEngine, CoverageFindsMembersWithoutRows) {
    Sample s;
    EXPECT_EQ(Sample::Fields().CoverageProblems(s, &s), "");
    struct Partial : cRecord {
        kora::s_bool a;
        kora::s_string forgotten;
        kora::s_bool b;
    };
    static const Table<Partial> rows{{Field(&Partial::a, "A"), Field(&Partial::b, "B")}};
    Partial p;
    EXPECT_NE(rows.CoverageProblems(p, &p).find("no row"), std::string::npos);
}
