// The item base: names, directories, envelopes, CheckMember, hashes, files.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tessel/tessel.h"

using namespace tessel;

// Names lose slashes and are cut to 30 characters; directories get slashes
// at both ends (empty: "/") and are otherwise kept.
TEST(Item, NameAndDirectoryNormalisation) {
    const struct {
        bool name;
        std::string in, stored;
    } cases[] = {
        {true, "a/b/c", "abc"},
        {true, std::string(31, 'x'), std::string(30, 'x')},
        {true, "/" + std::string(30, 'z') + "/", std::string(30, 'z')},
        {false, "", "/"},
        {false, "Users", "/Users/"},
        {false, "/Users", "/Users/"},
        {false, "//a//", "//a//"},
    };
    cDBConfigSSH item;
    for (const auto& c : cases) {
        if (c.name) item.SetName(c.in);
        if (!c.name) item.SetDir(c.in);
        EXPECT_EQ(c.name ? item.GetName() : item.GetDir(), c.stored) << c.in;
    }
}

TEST(Item, CheckMemberKinds) {
    Json::Value o;
    ASSERT_TRUE(ParseJson(R"({"s":"x","i":-5,"u":7,"b":true,"a":[1],"n":null,
        "big":9000000000,"neg":-9000000000,"f":1.5})",
                          o));
    struct Case {
        const char* key;
        unsigned kind;
        bool pass;
    } cases[] = {
        {"s", kJsonAny, true},     {"s", kJsonString, true},     {"i", kJsonString, false},
        {"i", kJsonInt, true},     {"u", kJsonInt, true},        {"i", kJsonUInt, false},
        {"u", kJsonUInt, true},    {"b", kJsonBool, true},       {"u", kJsonBool, false},
        {"a", kJsonArray, true},   {"n", kJsonArray, true},      {"s", kJsonArray, false},
        {"big", kJsonUInt, false}, {"big", kJsonUInt64, true},   {"big", kJsonInt64, true},
        {"neg", kJsonInt64, true}, {"neg", kJsonUInt64, false},  {"f", kJsonInt, false},
        {"s", 8, false},           {"missing", kJsonAny, false},
    };
    for (const auto& c : cases) {
        bool ok = true;
        EXPECT_EQ(cDBItem::CheckMember(c.key, ok, o, c.kind), c.pass) << c.key << " " << c.kind;
        EXPECT_EQ(ok, c.pass) << c.key;
    }
    // A passing check leaves an earlier failure standing.
    bool ok = false;
    EXPECT_TRUE(cDBItem::CheckMember("s", ok, o, kJsonString));
    EXPECT_FALSE(ok);
    // Not an object at all: a clean failure, not an exception.
    Json::Value arr(Json::arrayValue);
    ok = true;
    EXPECT_FALSE(cDBItem::CheckMember("s", ok, arr, kJsonAny));
}

// Documents that do not load, nested too deep included, leave only defaults.
TEST(ItemJson, EnvelopeFailuresChangeNothingButDefaults) {
    const std::string docs[] = {
        std::string(100000, '['),
        R"({"Name":"n","Type":"SSHConfigObject","Directory":"/","Data":)" + std::string(5000, '[') +
            std::string(5000, ']') + "}",
        "",
        "not json",
        "[1,2]",
        "42",
        R"({"Name":"SSHConfig","Type":"EmailConfigObject","Directory":"/x/","Data":{"Enabled":true}})",
        R"({"Name":"SSHConfig","Type":{"a":1},"Directory":"/x/","Data":{"Enabled":true}})",
        R"({"Name":"n","Type":"SSHConfigObject","Directory":"/x/"})",
        R"({"Name":5,"Type":"SSHConfigObject","Directory":"/x/","Data":{"Enabled":true}})",
        R"({"Name":"n","Type":"SSHConfigObject","Directory":"/x/","Data":{}})",
        R"({"Name":"n","Type":"SSHConfigObject","Directory":"/x/","Data":{"Enabled":1}})",
        R"({"Name":"n","Type":"SSHConfigObject","Directory":"/x/","Data":[true]})",
        R"({"Name":"n","Type":"SSHConfigObject","Directory":"/x/","Data":"Enabled"})",
    };
    for (const std::string& doc : docs) {
        SCOPED_TRACE(doc.substr(0, 80));
        cDBConfigSSH item;
        item.SetEnabled(true);
        item.SetName("keep");
        std::set<std::string> rejected;
        EXPECT_FALSE(item.FromJSON(doc, rejected));
        EXPECT_TRUE(rejected.empty());
        EXPECT_FALSE(item.GetEnabled());
    }
    // Without "Data" the name and directory are not taken over.
    cDBConfigSSH item;
    std::set<std::string> rejected;
    item.FromJSON(R"({"Name":"n","Type":"SSHConfigObject","Directory":"/x/"})", rejected);
    EXPECT_EQ(item.GetName(), "SSHConfig");
}

TEST(ItemHash, CoversSecretsAndEverything) {
    cDBConfigEmail a, b;
    EXPECT_EQ(a.ToHash(), b.ToHash());
    ASSERT_TRUE(b.SetAuthPass("other"));
    EXPECT_NE(a.ToHash(), b.ToHash());
    cDBConfigEmail c;
    c.SetName("x");
    EXPECT_NE(a.ToHash(), c.ToHash());
}

TEST(ItemFiles, WriteThenRead) {
    char dir[] = "/tmp/tessel-itemfiles-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    cDBConfigNTP ntp;
    ASSERT_TRUE(ntp.SetNTPServer1("pool.example.org"));
    ASSERT_TRUE(ntp.SetPollingInterval(9));
    ASSERT_TRUE(ntp.ToJSONFile("ntp.json", dir));
    ASSERT_TRUE(ntp.ToJSONFile("ntp.json", dir));  // an existing file is replaced
    cDBConfigNTP back;
    ASSERT_TRUE(back.FromJSONFile("ntp.json", dir));
    EXPECT_EQ(back.ToHash(), ntp.ToHash());
    EXPECT_FALSE(back.FromJSONFile("missing.json", dir));
    EXPECT_FALSE(ntp.ToJSONFile("x.json", std::string(dir) + "/no/such/dir"));
    unlink((std::string(dir) + "/ntp.json").c_str());
    rmdir(dir);
}

// Type names other than the JSON ones, and documents that do not load, make
// nothing and leak nothing.
TEST(JsonFactory, RefusesWhatDoesNotLoad) {
    EXPECT_EQ(cJsonFactory::CreateObject("NoSuchObject"), nullptr);
    size_t live = kora::GC::LiveCount();
    for (const char* doc :
         {R"({"Name":"SSHConfig","Type":"cDBConfigSSH","Directory":"/","Data":{"Enabled":true}})",
          R"({"Name":"SSHConfig","Type":"SSHConfigObject","Directory":"/","Data":{}})",
          R"({"Name":"x"})", R"({"Type":7})", "[]"}) {
        std::set<std::string> rejected;
        EXPECT_EQ(cJsonFactory::CreateObjectFromJSON(doc, rejected), nullptr) << doc;
        EXPECT_TRUE(rejected.empty()) << doc;
    }
    std::set<std::string> rejected;
    const char* badPort = R"({"Name":"EmailConfig","Type":"EmailConfigObject","Directory":"/",
        "Data":{"Enabled":true,"MailServer":"m","TcpPort":0,"AuthUser":"","AuthPass":"",
                "UseStartTLS":true,"UseTLS":true,"SenderName":""}})";
    EXPECT_EQ(cJsonFactory::CreateObjectFromJSON(badPort, rejected), nullptr);
    EXPECT_EQ(rejected, std::set<std::string>{"TcpPort"});
    EXPECT_EQ(kora::GC::LiveCount(), live);
}

// The text keeps each class's table order, also for documents inside others.
TEST(ItemJson, TextFollowsTheTable) {
    cDBConfigTacacs t;
    Json::Value root, wrapper;
    t.ToJSON(root, false);
    wrapper["Items"].append(root);
    for (const std::string& text : {StyledJson(root), StyledJson(wrapper)}) {
        size_t name = text.find("\"Name\""), data = text.find("\"Data\"");
        EXPECT_LT(name, text.find("\"Type\""));
        EXPECT_LT(text.find("\"Directory\""), data);
        // Enabled, then hosts and secrets, then the rest in table order.
        EXPECT_LT(text.find("\"Secret2\""), text.find("\"Port1\""));
        EXPECT_LT(text.find("\"UserPrivLevel\""), text.find("\"AdminPrivLevel\""));
    }
}
