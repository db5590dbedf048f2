// Event rules: the value-name vocabulary, action parameter checks, links,
// display entries, the JSON form of ranges and actions, and version 1.
#include "item_doc.h"

using namespace tessel;
using namespace testdoc;

namespace {

RuleAction Action(unsigned type,
                  std::initializer_list<std::pair<const char*, const char*>> params) {
    RuleAction a(static_cast<uint8_t>(type), kora::s_map_string_string());
    for (const auto& p : params) a.second.SetAt(p.first, p.second);
    return a;
}

// A rule document's changes, with a value name a rule can watch unless they name one.
std::string WithName(const char* changes) {
    Json::Value c = J(changes);
    if (!c.isMember("ValueName")) c["ValueName"] = "UINT::WIRELESS::CSQ";
    return StyledJson(c);
}

}  // namespace

TEST(RuleItems, ValueNamesFollowTheSwitchFeature) {
    const char* everywhere[] = {"RULE::EVENT::LAN1::LINK::UP", "STATIC::TRUE", "UINT::VAR::5"};
    const char* switchOnly[] = {"RULE::EVENT::LAN3::LINK::UP", "RULE::EVENT::LAN::LINK::DOWN"};
    const char* never[] = {"UINT::VAR::6", "uint::uptime", ""};
    for (bool managed : {false, true}) {
        Features features(managed ? std::vector<std::string>{"ManagedSwitch"}
                                  : std::vector<std::string>{});
        cDBConfigRule r;
        for (const char* name : everywhere) EXPECT_TRUE(r.SetValueName(name)) << name;
        for (const char* name : switchOnly) EXPECT_EQ(r.SetValueName(name), managed) << name;
        for (const char* name : never) EXPECT_FALSE(r.SetValueName(name)) << name;
    }
}

// Each "key=value" as the only parameter of an action.
TEST(RuleItems, ActionParameterChecks) {
    const std::vector<const char*> accepted = {
        "loglevel=1",          "loglevel=4",         "port=65535", "type=2",
        "intvar=UINT::VAR::3", "setval=99999999999", "other=it's", "wansetup=any text",
        "emailText=Hi",        "oid=1.3.6.1"};
    const std::vector<const char*> refused = {
        "loglevel=0", "loglevel=5",       "port=65536",   "type=02",      "outputstate=on",
        "valoid=2.5", "receiverAddr=ops", "logtext=it's", "hostname=a_b", "oid=1."};
    for (bool ok : {true, false}) {
        for (const char* text : ok ? accepted : refused) {
            std::string kv(text);
            size_t eq = kv.find('=');
            cDBConfigRule r;
            RuleAction a = Action(5, {});
            a.second.SetAt(kv.substr(0, eq), kv.substr(eq + 1));
            EXPECT_EQ(r.SetActionByIndex(3, a), ok) << text;
            EXPECT_EQ(r.GetActionByIndex(3).second.size(), ok ? 1u : 0u) << text;
        }
    }
    cDBConfigRule r;
    EXPECT_TRUE(r.SetActionByIndex(1, Action(13, {})));
    EXPECT_FALSE(r.SetActionByIndex(1, Action(14, {})));
    EXPECT_EQ(r.GetActionByIndex(1).first, 13);
}

TEST(RuleItems, LinksAndDisplayEntries) {
    cDBConfigRule r;
    r.SetValueName("BOOL::WAN::CONNECT");
    EXPECT_FALSE(r.HasLinks());
    EXPECT_EQ(InfoOf(r), "Actions=, ValueName=BOOL::WAN::CONNECT");
    ASSERT_TRUE(r.SetActionByIndex(2, Action(1, {{"wansetup", "Backup"}})));
    EXPECT_EQ(InfoOf(r), "Actions=1, Parameter=Backup, ValueName=BOOL::WAN::CONNECT");
    ASSERT_TRUE(r.SetActionByIndex(1, Action(4, {{"wansetup", "Main"}})));
    EXPECT_EQ(InfoOf(r), "Actions=255, ValueName=BOOL::WAN::CONNECT");
    EXPECT_TRUE(r.HasLinks());
    std::set<std::string> links;
    r.GetLinks(links);
    EXPECT_EQ(links, (std::set<std::string>{"/Config/Network/WanSetups/Backup",
                                            "/Config/Network/WanSetups/Main"}));
}

TEST(RuleItems, Json) {
    cDBConfigRule r;
    // Ranges are taken as they are; only the setters order them.
    EXPECT_EQ(Outcome(r, WithName(R"({"UintRange": {"Low": 10, "High": 5}})").c_str()), "ok");
    EXPECT_EQ(r.GetUIntRange().first, 10u);
    EXPECT_FALSE(r.SetUIntRange({10, 5}));
    EXPECT_FALSE(r.SetIntRange({-3, -7}));
    EXPECT_TRUE(r.SetIntRange({-7, -3}));
    // A later parameter of the same name wins; the type keeps its low 8 bits.
    EXPECT_EQ(Outcome(r, WithName(R"({"Actions": [{"Index": 4, "ActionType": 258, "Parameters": [
        {"Name": "port", "Value": "1"}, {"Name": "port", "Value": "2"}]}]})")
                             .c_str()),
              "ok");
    EXPECT_EQ(r.GetActionByIndex(4).first, 2);
    EXPECT_EQ(r.GetActionByIndex(4).second["port"], "2");

    const std::pair<const char*, const char*> cases[] = {
        {R"({"CoolDownTime": 86401, "Operator": 7})", "CoolDownTime Operator"},
        {R"({"RuleType": 0, "ExecutionMode": 4, "ValueName": ""})",
         "ExecutionMode RuleType ValueName"},
        {R"({"IntRange": {"Low": 1}})", ""},  // a missing member names nothing
        {R"({"Actions": [{"Index": 1, "ActionType": 1, "Parameters": [{"Name": "x"}]}]})", ""},
        // A refused action is named "Action" and ends the list.
        {R"({"Actions": [{"Index": 1, "ActionType": 1, "Parameters": []},
            {"Index": 2, "ActionType": 1, "Parameters": [{"Name": "loglevel", "Value": "9"}]},
            {"Index": 3, "ActionType": 1, "Parameters": []}]})",
         "Action"},
    };
    for (const auto& c : cases) EXPECT_EQ(Outcome(r, WithName(c.first).c_str()), c.second);
    std::set<unsigned> indexes;
    r.GetActionIndexList(indexes);
    EXPECT_EQ(indexes, std::set<unsigned>{1});
}

// Version 1 lacks the execution mode and cool-down; an action travels with
// its parameter map in the map's own form (count as a 16-bit scalar, then
// name and value per entry).
TEST(RuleItems, StoredVersion1) {
    testwire::Wire w = Head(1).U8(2).Str("UINT::VAR::1").Str("s").Bool(true).Time(60);
    w.U32(1).U32(9).I32(-1).I32(1).U8(3).U32(15).U32(1).U32(7).U8(1);
    w.Version(1).U16(2).Str("loglevel").Str("3").Str("wansetup").Str("Main");
    cDBConfigRule r;
    r.SetExecutionMode(1);
    ASSERT_TRUE(ReadStored(r, w));
    EXPECT_EQ(r.GetTimeValue().ToSeconds(), 60);
    EXPECT_EQ(r.GetIntRange().first, -1);
    EXPECT_EQ(r.GetTimeout(), 15u);
    EXPECT_EQ(r.GetExecutionMode(), 3);
    EXPECT_EQ(r.GetCoolDownTime(), 300u);
    EXPECT_EQ(r.GetActionByIndex(7).second["wansetup"], "Main");
}
