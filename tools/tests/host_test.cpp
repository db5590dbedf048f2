// The server's host driven in process: no socket, every call counts as the
// server's own (administrative) work. Peers and processes: tools_e2e_test.cpp.
#include "host.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "passwords.h"
#include "support.h"
#include "tessel/tessel.h"

using namespace tessel;
using namespace tessel::tools;
using namespace toolstest;

namespace {

const char* const kSsh = "/Config/System/DeviceManagement/SSH/SSHConfig";
using Ints = std::vector<int>;

class HostTest : public ::testing::Test {
  protected:
    HostTest() : service("tools-host-test") {
        options.stateDir = dir / "state";
        options.factoryFile = TESSELD_FACTORY;
        options.echoWarnings = false;
    }

    // (Re)starts the host on the state directory.
    void Start() {
        server.reset();
        host.reset();
        host.reset(new tesseld::cHost(&service, options));
        std::string error;
        password.clear();
        ASSERT_TRUE(host->Open(error, password)) << error;
        server.reset(new cDataServer(&service, host.get()));
        host->Attach(server.get());
    }

    // Path and hash of every stored configuration item, and whether an import is pending.
    std::map<std::string, std::string> Config() {
        std::map<std::string, std::string> state = {
            {"pending", host->FallbackPending() ? "1" : ""}};
        for (auto& item : host->Store().AllItems()) state[item->GetPath()] = item->ToHash();
        return state;
    }
    kora::Ref<cDBItem> Get(const std::string& path) { return host->GetItemRef(path); }
    // The stored SSH configuration with "Enabled" set.
    kora::Ref<cDBItem> Ssh(bool enabled) {
        return Edited(*Get(kSsh), [&](Json::Value& d) { d["Enabled"] = enabled; });
    }
    bool SshEnabled() { return Doc(Get(kSsh))["Data"]["Enabled"].asBool(); }
    // Whether an import waits for confirmation, and whether SSH is enabled.
    Ints PendingSsh() { return {host->FallbackPending(), SshEnabled()}; }
    // The access level `user` logs in with; -1 when refused.
    int Level(const std::string& user, const std::string& pw) {
        kora::s_uint8 level = 0;
        return host->AuthenticateUser(user, pw, level) ? int(level) : -1;
    }
    // Texts of the server's own log book entries.
    std::string Notes() {
        std::string all;
        auto log = host->LogBook().Read(kora::cTime(), tesseld::kLogUnit, 0, 0, 0);
        for (const auto& e : log->GetEntries()) all += e.second.GetText() + "\n";
        return all;
    }
    // Writes the current configuration as a document file and returns its path.
    std::string ExportFile(const std::string& name) {
        std::string path = dir / name;
        EXPECT_EQ(host->ExportConfig(path), 1);
        return path;
    }

    TempDir dir;
    tesseld::cOptions options;
    kora::cService service;
    std::unique_ptr<tesseld::cHost> host;
    std::unique_ptr<cDataServer> server;
    std::string password;
};

// Later starts keep what is stored and add only the items a new factory file brings.
TEST_F(HostTest, StartsSeedTheFactoryConfigurationAndOneAdministrator) {
    options.features = {"ManagedSwitch"};
    Start();
    // A singleton without a directory of its own lies where its collection looks.
    EXPECT_TRUE(Get(kSsh) && Get(std::string(ItemHome("NTPConfigObject")) + "NTPConfig"));
    // A feature list that arrives in any message leaves the configured set.
    cDBFeatureList intruder;
    kora::cSerializeBuffer b;
    intruder.SerializeVersion(b);
    for (const char* text : {"FeatureList", "/Features/"}) kora::s_string(text).Serialize(b);
    kora::s_uint32(1).Serialize(b);
    kora::s_string("Intruder").Serialize(b);
    EXPECT_EQ(intruder.Deserialize(b), 1);
    EXPECT_TRUE(dynamic_cast<cDBFeatureList*>(Get("/Features/FeatureList").get()));
    EXPECT_TRUE(cDBFeatureList::HasFeature("ManagedSwitch"));
    EXPECT_FALSE(cDBFeatureList::HasFeature("Intruder"));
    EXPECT_EQ(Level(tesseld::kFirstUser, password), tesseld::kAdminLevel);
    std::string why, error, secondPassword;
    EXPECT_TRUE(tesseld::PasswordAcceptable(password, 16, 3, why)) << password << ": " << why;
    for (const char* file : {"config.db", "config.db-wal", "logbook.db", "logbook.db-wal"})
        EXPECT_EQ(ReadFile(dir / "state/" + file).find(password), std::string::npos) << file;
    tesseld::cHost second(&service, options);
    EXPECT_FALSE(second.Open(error, secondPassword)) << "one server per state directory";

    ASSERT_TRUE(WriteDocumentFile(dir / "factory.json", {Doc(LogUnit("vpn")), Doc(Ssh(false))}));
    options.factoryFile = dir / "factory.json";
    ASSERT_EQ(host->SetItem(Ssh(true).get()), 1);
    Start();
    EXPECT_TRUE(password.empty()) << "a second start creates no user";
    EXPECT_TRUE(SshEnabled() && Get("/Log/Units/vpn"));
    ASSERT_EQ(host->DeleteItem("/Log/Units/vpn"), 1);
    Start();
    EXPECT_FALSE(Get("/Log/Units/vpn")) << "the same factory file again adds nothing";
}

TEST_F(HostTest, SetItemKeepsToBoundsAndChecks) {
    Start();
    options.maxItems = host->Store().AllItems().size() + 1;
    Start();
    auto unit = [](const char* name, const std::string& dir = "/Log/Units/") {
        auto item = LogUnit(name);
        item->SetDir(dir);
        return item;
    };
    // A depth the unit's check refuses, carried in the binary form where no
    // setter looked at it: 4321 (e1 10) becomes 65535.
    std::vector<uint8_t> bytes =
        ItemBytes(*Edited(*unit("deep"), [](Json::Value& d) { d["Depth"] = 4321; }));
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xe1 && bytes[i + 1] == 0x10) bytes[i] = bytes[i + 1] = 0xff;
    const std::string tooLong = "/C/" + std::string(kMaxDirectoryLength, 'd') + "/";
    const std::tuple<const char*, kora::Ref<cDBItem>, int> cases[] = {
        {"a value its class refuses", ItemFromBytes(bytes), 0},
        {"a directory too long", unit("x", tooLong), 0},
        {"the feature list's directory", unit("x", "/Features/"), 0},
        {"a listing", Get("/Users/"), 0},
        {"a user that does not exist", MakeItem("UserObject", "/Users/", "nobody"), 0},
        {"a new item, up to the bound", unit("a"), 1},
        {"beyond the item bound", unit("b"), 0},
        {"a status item, beyond the item bound", unit("link", "/Status/Network/"), 1},
    };
    for (const auto& [what, item, result] : cases) {
        const auto before = Config();
        EXPECT_EQ(host->SetItem(item.get()), result) << what;
        const bool added = Config().count(item->GetPath()) && !before.count(item->GetPath());
        EXPECT_EQ(added, result == 1 && item->GetDir() == "/Log/Units/") << what;
    }
    EXPECT_TRUE(Get("/Status/Network/link"));
    Start();
    EXPECT_FALSE(Get("/Status/Network/link")) << "status lives in memory only";
}

TEST_F(HostTest, ImportIsAllOrNothing) {
    Start();
    // An export with one valid change, so that any success would show, and
    // one more document, edited per case.
    const Json::Value ssh = Doc(Ssh(true));
    ASSERT_EQ(host->SetItem(Ssh(true).get()), 1);
    const Json::Value root = ReadDocumentFile(ExportFile("good.json"));
    ASSERT_EQ(host->SetItem(Ssh(false).get()), 1);
    const Json::Value unit = Doc(LogUnit("u"));
    auto with = [&](const std::function<void(Json::Value&)>& change) {
        Json::Value copy = root, added = unit;
        change(added);
        copy["Items"].append(added);
        return tessel::StyledJson(copy);
    };
    // What is wrong, the file's text, part of the server's log entry.
    const std::tuple<const char*, std::string, const char*> cases[] = {
        {"one refused value", with([](auto& u) { u["Data"]["Level"] = 9; }), "u: refused Level"},
        {"an unknown type", with([](auto& u) { u["Type"] = "NoSuchObject"; }), "unknown type"},
        {"a status item", with([](auto& u) { u["Directory"] = "/Status/"; }), "not part of the"},
        {"a path given twice", with([&](auto& u) { u = ssh; }), "given twice"},
        {"a member missing", with([](auto& u) { u["Data"].removeMember("Level"); }), "missing"},
        {"no items", "{\"Content\": \"configuration\", \"Items\": []}", "no configuration items"},
        {"not a document file", "[1, 2", "not a JSON object"},
        {"too large", std::string(options.maxImportBytes + 1, ' '), "larger than"},
    };
    const auto before = Config();
    const std::string file = dir / "import.json";
    for (const auto& [what, text, noted] : cases) {
        ASSERT_TRUE(WriteFile(file, text));
        for (bool fallback : {false, true}) {
            EXPECT_EQ(host->ImportConfig(file, fallback), 0) << what;
            EXPECT_EQ(Config(), before) << what;
        }
        EXPECT_NE(Notes().find(noted), std::string::npos) << what << "\n" << Notes();
    }
    EXPECT_EQ(host->ImportConfig("relative.json", false), 0);

    // Unchanged, the document goes in with the rest; an export reads back the same.
    ASSERT_TRUE(WriteFile(file, with([](auto&) {})));
    ASSERT_EQ(host->ImportConfig(file, false), 1);
    EXPECT_TRUE(SshEnabled() && Get("/Log/Units/u"));
    const auto imported = Config();
    ASSERT_EQ(host->ImportConfig(ExportFile("again.json"), false), 1);
    EXPECT_EQ(Config(), imported);
}

TEST_F(HostTest, FallbackRestorePointAndFactoryReset) {
    Start();
    const auto factory = Config();
    // No restore point yet, nothing to confirm, nothing to fall back to.
    EXPECT_EQ(Ints({host->Restore(), host->ConfirmConfig(), host->FallbackConfig()}), Ints(3, 0));
    ASSERT_EQ(host->SetItem(Ssh(true).get()), 1);
    const std::string enabled = ExportFile("enabled.json");
    ASSERT_EQ(host->SetItem(Ssh(false).get()), 1);
    ASSERT_EQ(host->CreateRestorePoint(), 1);
    const auto disabled = Config();

    ASSERT_EQ(host->ImportConfig(enabled, true), 1);
    EXPECT_EQ(PendingSsh(), Ints({1, 1}));
    EXPECT_EQ(host->ImportConfig(enabled, true), 0) << "one pending import at a time";
    EXPECT_EQ(host->Restore(), 0) << "no restore while an import is pending";
    ASSERT_EQ(host->FallbackConfig(), 1);
    EXPECT_EQ(Config(), disabled);

    // Confirmed, the import stays across a restart; so does the restore point.
    ASSERT_EQ(host->ImportConfig(enabled, true), 1);
    ASSERT_EQ(host->ConfirmConfig(), 1);
    Start();
    EXPECT_EQ(PendingSsh(), Ints({0, 1}));
    ASSERT_EQ(host->Restore(), 1);
    EXPECT_EQ(Config(), disabled);

    // Pending across a restart whose time ran out meanwhile: falls back at once.
    ASSERT_EQ(host->ImportConfig(enabled, true), 1);
    server.reset();
    host.reset();
    {
        tesseld::cStore store;
        std::string error;
        ASSERT_TRUE(store.Open(dir / "state/config.db", error));
        ASSERT_TRUE(store.SetMeta(tesseld::kFallbackDeadline, "1"));
    }
    Start();
    EXPECT_EQ(Config(), disabled);

    // Still pending after a restart within the time; a factory reset ends it.
    ASSERT_EQ(host->ImportConfig(enabled, true), 1);
    Start();
    EXPECT_EQ(PendingSsh(), Ints({1, 1}));
    ASSERT_EQ(host->FactoryReset(), 1);
    EXPECT_EQ(Config(), factory);
}

// Listings: tools_e2e_test.cpp (ls).
TEST_F(HostTest, ItemsAreCopiedRenamedAndDeleted) {
    Start();
    const std::string dir = "/Log/Units/";
    ASSERT_EQ(host->SetItem(LogUnit("a").get()), 1);
    std::set<kora::s_string> changed;
    // Copy, again onto the copy, of a missing item; rename to an invalid name, rename;
    // delete a user as an item, delete a directory.
    EXPECT_EQ(Ints({host->DuplicateItem(dir, "a", "b"), host->DuplicateItem(dir, "a", "b"),
                    host->DuplicateItem(dir, "zz", "c"), host->RenameItem(dir, "a", "", changed),
                    host->RenameItem(dir, "a", "c", changed), host->DeleteItem("/Users/admin"),
                    host->DeleteItem(dir)}),
              Ints({1, 0, 0, 0, 1, 0, 0}));
    EXPECT_FALSE(Get(dir + "a"));
    EXPECT_EQ(Get(dir + "c")->GetName(), "c");
    EXPECT_EQ(host->ExportConfig(options.stateDir + "/config.db"), 0) << "not over the store";
}

TEST_F(HostTest, UsersAndPasswords) {
    options.minPasswordLength = 8;
    Start();
    // Name, password, access level, complexity, minimum length, result.
    const std::tuple<const char*, const char*, unsigned, unsigned, unsigned, int> cases[] = {
        // The second exists; bob's first two are below the server's and below his own minimum;
        // complexity 1 wants a digit, 2 both cases, 3 a symbol; carol's level does not exist,
        // the next two are not user names, dave's password holds a control character.
        {"alice", "alice-pw-1", 1, 0, 0, 1},   {"alice", "alice-pw-1", 1, 0, 0, 0},
        {"bob", "x7q!-ab", 1, 0, 0, 0},        {"bob", "longer-but", 1, 0, 12, 0},
        {"bob", "abcdefgh", 1, 1, 0, 0},       {"bob", "abcdefg1", 1, 2, 0, 0},
        {"bob", "Abcdefg1", 1, 3, 0, 0},       {"bob", "Abcdef-1", 1, 3, 0, 1},
        {"erin", "Abcdefg1", 1, 1, 0, 1},      {"fred", "Abcdefg1", 1, 2, 0, 1},
        {"carol", "carol-pw-1", 4, 0, 0, 0},   {"-carol", "carol-pw-1", 1, 0, 0, 0},
        {"carol/x", "carol-pw-1", 1, 0, 0, 0}, {"dave", "dave\x01pw-long", 1, 0, 0, 0},
    };
    for (const auto& [name, pw, level, complexity, minLength, result] : cases)
        EXPECT_EQ(host->AddUser(name, pw, level, complexity, minLength), result) << name << pw;

    tesseld::cStore::cUser erin, fred;
    ASSERT_TRUE(host->Store().GetUser("erin", erin) && host->Store().GetUser("fred", fred));
    EXPECT_NE(erin.hash, fred.hash) << "every hash has its own salt";
    EXPECT_EQ(Ints({Level("alice", "alice-pw-1"), Level("nobody", "alice-pw-1")}), Ints({1, -1}));
    // Five failures in a row lock the user out, even with the right password.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Level("alice", "wrong"), -1);
    EXPECT_EQ(Level("alice", "alice-pw-1"), -1);
    // A new password (not a weak one) ends the lock-out.
    EXPECT_EQ(host->SetPassword("alice", "weak", 0), 0);
    ASSERT_EQ(host->SetPassword("alice", "alice-pw-2", 0), 1);
    EXPECT_EQ(Level("alice", "alice-pw-2"), 1);

    // The last administrator stays: not deleted, not demoted.
    auto demoted = Edited(*Get("/Users/admin"), [](Json::Value& d) { d["AccessLevel"] = 1; });
    EXPECT_EQ(Ints({host->DeleteUser(tesseld::kFirstUser), host->SetItem(demoted.get()),
                    host->AddUser("root2", "second-admin-1", 3, 0, 0), host->SetItem(demoted.get()),
                    host->DeleteUser(tesseld::kFirstUser), host->DeleteUser("root2")}),
              Ints({0, 0, 1, 1, 1, 0}));

    // No password reached the log book.
    for (const auto& c : cases) EXPECT_EQ(Notes().find(std::get<1>(c)), std::string::npos);
}

TEST_F(HostTest, FlagsAreBounded) {
    options.maxFlags = 2;
    options.maxFlagBytes = 100;
    Start();
    auto set = [&](const char* name, const std::string& text) {
        auto value = kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_string>(text));
        return host->SetFlag(name, text.empty() ? nullptr : value.get());
    };
    // The third beyond the count, the fourth beyond the size.
    EXPECT_EQ(Ints({set("one", "1"), set("empty", ""), set("three", "3"),
                    set("one", std::string(200, 'x')), set("bad name", "x")}),
              Ints({1, 1, 0, 0, 0}));
    ASSERT_TRUE(host->GetFlagRef("one"));
    EXPECT_EQ(host->GetFlagRef("one")->ToString(""), "1");
    EXPECT_FALSE(host->GetFlagRef("empty"));
    EXPECT_EQ(Ints({host->DeleteFlag("one"), host->DeleteFlag("one")}), Ints({1, 0}));
    ASSERT_EQ(host->ExportFlags(dir / "flags.json"), 1);
    Json::Value flags;
    ASSERT_TRUE(ParseJson(ReadFile(dir / "flags.json"), flags));
    EXPECT_TRUE(flags["Flags"]["empty"].isNull());
    EXPECT_FALSE(flags["Flags"].isMember("one"));
}

TEST_F(HostTest, LogBookKeepsEachUnitsDepthAndLevel) {
    options.maxLogEntries = 40;
    Start();
    auto unit = LogUnit("vpn", [](Json::Value& d) {
        d["Depth"] = 3;
        d["Level"] = kLogWarning;
    });
    ASSERT_EQ(host->SetItem(unit.get()), 1);
    kora::cTime now = kora::cTime::Now();
    for (unsigned i = 0; i < 10; ++i)
        for (const char* name : {"vpn", "wan"})
            host->Log(now, name, i % 5, "t", "entry " + std::to_string(i), "", "peer", "", 0);
    auto read = [&](const std::string& unit, unsigned level, uint64_t after) {
        std::vector<std::string> texts;
        auto result = host->ReadLogRef(kora::cTime(), unit, level, 0, after);
        for (const auto& e : result->GetEntries()) texts.push_back(e.second.GetText());
        return texts;
    };
    // vpn: levels 2 to 4 only, the newest three of them.
    EXPECT_EQ(read("vpn", 0, 0), (std::vector<std::string>{"entry 7", "entry 8", "entry 9"}));
    EXPECT_EQ(read("wan", 0, 0).size(), 10u) << "an unconfigured unit keeps every level";
    EXPECT_EQ(read("wan", kLogError, 0).size(), 4u);
    // Paging: after the last entry seen, nothing more.
    const uint64_t last =
        host->ReadLogRef(kora::cTime(), "", 0, 0, 0)->GetEntries().rbegin()->first;
    EXPECT_TRUE(read("", 0, last).empty());

    kora::cTime later;
    later.FromSeconds(now.ToSeconds() + 3600);
    ASSERT_EQ(host->ExportLog(kora::cTime(), later, 0, {"vpn"}, dir / "log.txt"), 1);
    const std::string lines = ReadFile(dir / "log.txt");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3);
    EXPECT_NE(lines.find(";vpn;4;FATAL;t;entry 9;;0\n"), std::string::npos) << lines;

    // The book as a whole stays within its bound, whatever units are used.
    for (unsigned i = 0; i < 200; ++i)
        host->Log(now, "u" + std::to_string(i), 1, "t", "x", "", "peer", "", 0);
    EXPECT_LE(host->LogBook().Count(), int64_t(options.maxLogEntries) + 64);
}

// ---- pieces shared with tesselctl ----

TEST(Documents, MaskedSecretsComeBackFromTheStoredItem) {
    auto stored = MakeItem("UserObject", "/Users/", "u", [](Json::Value& d) {
        d["SNMPAuthPassword"] = "auth-secret";
        d["SNMPCryptPassword"] = "";
    });
    ASSERT_TRUE(stored);
    const Json::Value masked = ItemDocument(*stored, true);
    const std::string mask = masked["Data"]["SNMPAuthPassword"].asString();
    ASSERT_NE(mask, "auth-secret");
    const std::pair<std::function<void(Json::Value&)>, std::string> cases[] = {
        {[](Json::Value&) {}, "auth-secret"},  // left masked
        {[](Json::Value& d) { d["Data"]["SNMPAuthPassword"] = "new-secret"; }, "new-secret"},
        {[](Json::Value& d) { d["Name"] = "v"; }, mask},  // another item's
    };
    for (const auto& c : cases) {
        Json::Value document = masked;
        c.first(document);
        RestoreMaskedSecrets(document, *stored);
        EXPECT_EQ(document["Data"]["SNMPAuthPassword"].asString(), c.second);
    }
}

TEST(Documents, PathsAreChecked) {
    const std::string name31 = std::string(31, 'n');
    const std::pair<std::string, bool> cases[] = {
        {"/Config/SSH/SSHConfig", true},  {"/Top", true},
        {"Config/SSH/SSHConfig", false},  {"/Config//SSHConfig", false},
        {"/Config/SSH/", false},          {"/Config/SSH/a\\b", false},
        {"/Config/SSH/tab\there", false}, {"/Config/SSH/" + name31, false}};
    std::string dir, name;
    for (const auto& c : cases) EXPECT_EQ(SplitItemPath(c.first, dir, name), c.second) << c.first;
}

}  // namespace
