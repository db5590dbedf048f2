// Event rules: the value-name vocabulary, action parameter checks, links,
// display entries, the JSON form of ranges and actions, and version 1.
#include <gtest/gtest.h>

#include "item_docs.h"

using namespace tessel;
using namespace itemdocs;

namespace {

RuleAction Action(unsigned type,
                  std::initializer_list<std::pair<const char*, const char*>> params) {
    RuleAction a(static_cast<uint8_t>(type), kora::s_map_string_string());
    for (const auto& p : params) a.second.SetAt(p.first, p.second);
    return a;
}

// A document with a value name a rule can watch and `changes` applied.
std::string RuleDoc(const char* changes) {
    Json::Value c;
    EXPECT_TRUE(ParseJson(changes, c));
    if (!c.isMember("ValueName")) c["ValueName"] = "UINT::WIRELESS::CSQ";
    return DocWith<cDBConfigRule>(StyledJson(c).c_str());
}

}  // namespace

TEST(RuleItems, ValueNamesFollowTheSwitchFeature) {
    struct Case {
        const char* name;
        bool plain, withSwitch;
    };
    const Case cases[] = {
        {"RULE::EVENT::LAN1::LINK::UP", true, true},
        {"RULE::EVENT::LAN3::LINK::UP", false, true},
        {"RULE::EVENT::LAN::LINK::DOWN", false, true},
        {"UINT::VAR::5", true, true},
        {"STATIC::TRUE", true, true},
        {"UINT::VAR::6", false, false},
        {"", false, false},
        {"uint::uptime", false, false},
    };
    auto check = [&](bool withSwitch) {
        for (const auto& c : cases) {
            cDBConfigRule r;
            EXPECT_EQ(r.SetValueName(c.name), withSwitch ? c.withSwitch : c.plain) << c.name;
        }
    };
    {
        Features none({});
        check(false);
    }
    Features managed({"ManagedSwitch"});
    check(true);
}

TEST(RuleItems, ActionParameterChecks) {
    struct Case {
        unsigned type;
        const char* key;
        const char* value;
        bool accepted;
    };
    const Case cases[] = {
        {1, "loglevel", "0", false},        {1, "loglevel", "1", true},
        {1, "loglevel", "4", true},         {1, "loglevel", "5", false},
        {1, "loglevel", "+1", false},       {2, "port", "65535", true},
        {2, "port", "65536", false},        {2, "type", "2", true},
        {2, "type", "02", false},           {2, "type", "3", false},
        {3, "outputstate", "on", false},    {3, "intvar", "UINT::VAR::3", true},
        {3, "setval", "99999999999", true}, {4, "oid", "1.3.6.1", true},
        {4, "valoid", "2.5", false},        {5, "receiverAddr", "ops@example.org", true},
        {5, "receiverAddr", "ops", false},  {5, "logtext", "it's", false},
        {5, "hostname", "a_b", false},      {6, "anything", "it's \"odd\"", true},
        {6, "wansetup", "any text", true},  {13, "subject", "Alarm", true},
        {14, "subject", "Alarm", false},
    };
    for (const auto& c : cases) {
        cDBConfigRule r;
        RuleAction a = Action(c.type, {{c.key, c.value}});
        EXPECT_EQ(r.SetActionByIndex(3, a), c.accepted) << c.key << "=" << c.value;
        RuleAction back = r.GetActionByIndex(3);
        EXPECT_EQ(back.first, c.accepted ? c.type : 0u) << c.key;
        EXPECT_EQ(back.second.size(), c.accepted ? 1u : 0u) << c.key;
    }
}

TEST(RuleItems, LinksAndDisplayEntries) {
    cDBConfigRule r;
    r.SetValueName("BOOL::WAN::CONNECT");
    EXPECT_FALSE(r.HasLinks());
    EXPECT_EQ(InfoOf(r), (Entries{{"ValueName", "BOOL::WAN::CONNECT"}, {"Actions", ""}}));
    ASSERT_TRUE(r.SetActionByIndex(2, Action(1, {{"wansetup", "Backup"}})));
    EXPECT_EQ(
        InfoOf(r),
        (Entries{{"ValueName", "BOOL::WAN::CONNECT"}, {"Actions", "1"}, {"Parameter", "Backup"}}));
    ASSERT_TRUE(r.SetActionByIndex(1, Action(4, {{"wansetup", "Main"}, {"loglevel", "2"}})));
    EXPECT_EQ(InfoOf(r)["Actions"], "255");
    EXPECT_EQ(InfoOf(r).count("Parameter"), 0u);
    EXPECT_TRUE(r.HasLinks());
    std::set<std::string> links;
    r.GetLinks(links);
    EXPECT_EQ(links, (std::set<std::string>{"/Config/Network/WanSetups/Backup",
                                            "/Config/Network/WanSetups/Main"}));
    std::set<unsigned> indexes;
    r.GetActionIndexList(indexes);
    EXPECT_EQ(indexes, (std::set<unsigned>{1, 2}));
}

TEST(RuleItems, RangesAndLimitsInJson) {
    cDBConfigRule r;
    std::set<std::string> rejected;
    // JSON takes a range as it is; the setter orders it.
    ASSERT_TRUE(r.FromJSON(RuleDoc(R"({"UintRange": {"Low": 10, "High": 5},
        "IntRange": {"Low": -3, "High": -7}, "CoolDownTime": 86400, "TimeValue": 90})"),
                           rejected));
    EXPECT_EQ(r.GetUIntRange().first, 10u);
    EXPECT_EQ(r.GetUIntRange().second, 5u);
    EXPECT_EQ(r.GetIntRange().second, -7);
    EXPECT_EQ(r.GetTimeValue().ToSeconds(), 90);
    EXPECT_FALSE(r.SetUIntRange({10, 5}));
    EXPECT_FALSE(r.SetIntRange({-3, -7}));
    EXPECT_TRUE(r.SetIntRange({-7, -3}));

    struct Case {
        const char* changes;
        std::set<std::string> rejected;
    };
    const Case cases[] = {
        {R"({"CoolDownTime": 86401, "Operator": 7})", {"CoolDownTime", "Operator"}},
        {R"({"RuleType": 0, "ExecutionMode": 4})", {"RuleType", "ExecutionMode"}},
        {R"({"ValueName": ""})", {"ValueName"}},
        {R"({"IntRange": {"Low": 1}})", {}},  // missing member: nothing named
        {R"({"ExecutionMode": null})", {}},
    };
    for (const auto& c : cases) {
        rejected.clear();
        EXPECT_FALSE(r.FromJSON(RuleDoc(c.changes), rejected)) << c.changes;
        EXPECT_EQ(rejected, c.rejected) << c.changes;
    }
}

TEST(RuleItems, ActionsInJson) {
    cDBConfigRule r;
    std::set<std::string> rejected;
    // A later parameter of the same name wins; the type keeps its low 8 bits.
    ASSERT_TRUE(r.FromJSON(RuleDoc(R"({"Actions": [{"Index": 4, "ActionType": 258, "Parameters": [
        {"Name": "port", "Value": "1"}, {"Name": "port", "Value": "2"}]}]})"),
                           rejected));
    RuleAction a = r.GetActionByIndex(4);
    EXPECT_EQ(a.first, 2);
    EXPECT_EQ(a.second["port"], "2");
    Json::Value root;
    r.ToJSON(root, false);
    EXPECT_EQ(root["Data"]["Actions"][0]["Parameters"][0]["Value"], "2");

    // A refused action is named "Action" and ends the list.
    EXPECT_FALSE(r.FromJSON(RuleDoc(R"({"Actions": [
        {"Index": 1, "ActionType": 1, "Parameters": []},
        {"Index": 2, "ActionType": 1, "Parameters": [{"Name": "loglevel", "Value": "9"}]},
        {"Index": 3, "ActionType": 1, "Parameters": []}]})"),
                            rejected));
    EXPECT_EQ(rejected, std::set<std::string>{"Action"});
    std::set<unsigned> indexes;
    r.GetActionIndexList(indexes);
    EXPECT_EQ(indexes, std::set<unsigned>{1});
    // A parameter without a value fails the read without a name.
    rejected.clear();
    EXPECT_FALSE(r.FromJSON(
        RuleDoc(R"({"Actions": [{"Index": 1, "ActionType": 1, "Parameters": [{"Name": "x"}]}]})"),
        rejected));
    EXPECT_TRUE(rejected.empty());
}

// Version 1 lacks the execution mode and cool-down; actions travel with the
// parameter map in its own form (count as a 16-bit scalar, then name, value).
TEST(RuleItems, StoredVersion1) {
    testwire::Wire w = Head(1).U8(2).Str("UINT::VAR::1").Str("s").Bool(true).Time(60);
    w.U32(1).U32(9).I32(-1).I32(1).U8(3).U32(15);
    w.U32(1).U32(7).U8(1).Version(1).U16(2).Str("loglevel").Str("3").Str("wansetup").Str("Main");
    cDBConfigRule r;
    r.SetExecutionMode(1);
    ASSERT_TRUE(ReadAll(r, w));
    EXPECT_EQ(r.GetRuleType(), 2);
    EXPECT_EQ(r.GetTimeValue().ToSeconds(), 60);
    EXPECT_EQ(r.GetIntRange().first, -1);
    EXPECT_EQ(r.GetTimeout(), 15u);
    EXPECT_EQ(r.GetExecutionMode(), 3);
    EXPECT_EQ(r.GetCoolDownTime(), 300u);
    EXPECT_EQ(r.GetActionByIndex(7).second["wansetup"], "Main");
    EXPECT_FALSE(ReadAll(r, Head(3).U8(2)));
}
