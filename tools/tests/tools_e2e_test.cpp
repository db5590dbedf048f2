// tesseld and tesselctl as separate processes, driven through the command
// line and through the library's client.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>

#include "support.h"
#include "tessel/tessel.h"

using namespace tessel;
using namespace tessel::tools;
using namespace toolstest;

namespace {

const std::string kSsh = "/Config/System/DeviceManagement/SSH/SSHConfig";
const std::string kRadius = "/Config/System/Access/RadiusConfig";

// A data client of the test process itself; `onDump` runs when the server
// asks for a dump (on the client's delivery thread).
class LibClient : public IDataClient {
  public:
    LibClient() : service("tools-e2e-" + std::to_string(::getpid())) {
        client.reset(new cDataClient(&service, this, 0, "tesseld"));
        service.Start();
        client->Start();
    }
    ~LibClient() {
        client.reset();
        service.Stop();
    }
    void OnDataConnect(cDataClient*) override { connected = true; }
    void OnDataClose(cDataClient*) override {}
    void OnCollectionSynced(cDataClient*, cDBCollection*) override {}
    void OnRebootNotification(cDataClient*) override {}
    bool OnDumpRequest(cDataClient*, kora::s_string&) override {
        if (onDump) onDump();
        return true;
    }

    std::function<void()> onDump;
    kora::cService service;
    std::unique_ptr<cDataClient> client;
    std::atomic<bool> connected{false};
};

class ToolsE2E : public ::testing::Test {
  protected:
    ToolsE2E() {
        ::mkdir((dir / "run").c_str(), 0755);
        ::setenv("KORA_RUNTIME_DIR", (dir / "run").c_str(), 1);
    }
    ~ToolsE2E() override {
        if (server) {
            EXPECT_EQ(server->Stop(SIGTERM), 0) << "SIGTERM ends the server cleanly";
        }
    }

    void Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {TESSELD, "--state-dir", dir / "state", "--factory",
                                         TESSELD_FACTORY};
        if (std::find(extra.begin(), extra.end(), "--admin-group") == extra.end())
            extra.insert(extra.end(), {"--admin-group", ""});
        args.insert(args.end(), extra.begin(), extra.end());
        server.reset(new Child(args));
        ASSERT_TRUE(server->WaitForLine("tesseld: serving")) << server->out << server->err;
    }
    RunResult Ctl(std::vector<std::string> args, const std::string& input = "",
                  uid_t uid = uid_t(-1)) {
        args.insert(args.begin(), TESSELCTL);
        return RunProgram(args, input, uid);
    }
    // The value of a member of a stored item's data, as tesselctl prints it.
    Json::Value Member(const std::string& path, const std::string& key) {
        Json::Value document;
        ParseJson(Ctl({"--show-secrets", "get", path}).out, document);
        return document["Data"][key];
    }
    // Polls (bounded) until `done` holds.
    bool Eventually(const std::function<bool()>& done) {
        for (int i = 0; i < 200 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return done();
    }

    TempDir dir;
    std::unique_ptr<Child> server;
};

TEST_F(ToolsE2E, CommandLineContract) {
    EXPECT_EQ(RunProgram({TESSELD, "--help"}).code, 0);
    EXPECT_EQ(RunProgram({TESSELD, "--no-such-option"}).code, 2);
    EXPECT_EQ(Ctl({"ls", "/"}).code, 3) << "no server yet";
    Start();
    Json::Value radius;
    ParseJson(Ctl({"get", kRadius}).out, radius);
    radius["Data"]["Port1"] = 0;
    const std::string radiusBad = tessel::StyledJson(radius);
    // An import file with a good new item and the refused one: tesselctl checks
    // it whole before it sends anything (the server's check: host_test.cpp).
    Json::Value file = NewDocumentFile("configuration", "");
    file["Items"].append(ItemDocument(*MakeItem("LogUnitObject", "/Log/Units/", "new"), false));
    file["Items"].append(radius);
    ASSERT_TRUE(WriteFile(dir / "bad.json", tessel::StyledJson(file)));
    struct Step {
        std::vector<std::string> args;
        std::string input;
        int code;
        const char* out;  // part of stdout
        const char* err;  // part of stderr
    };
    const Step steps[] = {
        {{"--help"}, "", 0, "Exit codes", ""},
        {{"config", "--help"}, "", 0, "import", ""},
        {{"ls", "/"}, "", 0, "Config/\n", ""},
        {{"ls", "/Config/System/DeviceManagement/SSH"}, "", 0, "SSHConfig\n", ""},
        {{"get", kSsh}, "", 0, "\"SSHConfigObject\"", ""},
        {{"get", "/Nothing/here"}, "", 1, "", "nothing at"},
        {{"edit", kSsh, "Enabled=true"}, "", 0, "", ""},
        {{"edit", kSsh, "NoSuchMember=1"}, "", 2, "", "no member"},
        {{"edit", kRadius, "Secret1=s3cret-value"}, "", 0, "", ""},
        {{"get", kRadius}, "", 0, "\"Secret1\" : \"*******\"", ""},
        {{"--show-secrets", "get", kRadius}, "", 0, "s3cret-value", ""},
        {{"set"}, radiusBad, 1, "", "Port1"},
        {{"set"}, "{ not json", 2, "", "not one JSON document"},
        {{"config", "import", dir / "bad.json"}, "", 1, "", "RadiusConfig: refused values: Port1"},
        {{"get", "/Log/Units/new"}, "", 1, "", "nothing at"},
        {{"rm", "/Nothing/here"}, "", 1, "", "refused"},
        {{"cp", kSsh, "Copy"}, "", 0, "", ""},
        {{"mv", kSsh.substr(0, kSsh.rfind('/') + 1) + "Copy", "/Other/Copy"}, "", 2, "", ""},
        {{"log", "write", "demo", "hello", "log", "book", "--level", "WARNING"}, "", 0, "", ""},
        {{"log", "read", "--unit", "demo"}, "", 0, ";demo;2;WARNING;tesselctl;hello log book;", ""},
        {{"log", "write", "a-unit-name-too-long", "x"}, "", 2, "", ""},
        {{"--json", "factory-info"}, "", 0, "\"Digest\"", ""},
        {{"factory-reset"}, "", 2, "", "--yes"},
        {{"no-such-command"}, "", 2, "", ""},
        {{"--service", "elsewhere", "ls", "/"}, "", 3, "", "no server"},
    };
    for (const Step& step : steps) {
        RunResult r = Ctl(step.args, step.input);
        std::string line;
        for (const auto& a : step.args) line += a + " ";
        EXPECT_EQ(r.code, step.code) << line << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(step.out), std::string::npos) << line << "\n" << r.out;
        EXPECT_NE(r.err.find(step.err), std::string::npos) << line << "\n" << r.err;
    }
    EXPECT_EQ(Member(kSsh, "Enabled"), true);
    EXPECT_EQ(Member(kRadius, "Secret1"), "s3cret-value") << "a masked document keeps the secret";
    EXPECT_NE(Ctl({"completion", "bash"}).out.find("complete -F _tesselctl tesselctl"),
              std::string::npos);
}

TEST_F(ToolsE2E, FirstStartShowsThePasswordOnce) {
    Start();
    const std::string marker = "created with the password ";
    size_t at = server->out.find(marker);
    ASSERT_NE(at, std::string::npos) << server->out;
    std::string password = server->out.substr(at + marker.size());
    password = password.substr(0, password.find(' '));
    EXPECT_EQ(Ctl({"auth", "admin"}, password + "\n").code, 0);
    EXPECT_EQ(Ctl({"auth", "admin"}, "admin\n").code, 1) << "no fixed default password";

    RunResult added = Ctl({"user", "add", "ops", "--level", "2"}, "Ops-password-1\n");
    EXPECT_EQ(added.code, 0) << added.err;
    RunResult auth = Ctl({"--json", "auth", "ops"}, "Ops-password-1\n");
    EXPECT_NE(auth.out.find("\"AccessLevel\" : 2"), std::string::npos) << auth.out;
    EXPECT_EQ(server->Stop(SIGTERM), 0);
    Start();
    EXPECT_EQ(server->out.find("password"), std::string::npos) << server->out;
    EXPECT_EQ(Ctl({"auth", "ops"}, "Ops-password-1\n").code, 0);
}

TEST_F(ToolsE2E, AnsweredWritesSurviveSigkill) {
    Start();
    std::vector<int> answered;
    std::mutex lock;
    std::atomic<bool> lost{false};
    {
        LibClient lib;
        ASSERT_TRUE(Eventually([&] { return lib.connected.load(); }));
        std::thread writer([&] {
            for (int i = 0; i < 5000 && !lost; ++i) {
                auto unit = MakeItem("LogUnitObject", "/Log/Units/", "w" + std::to_string(i),
                                     [&](Json::Value& d) { d["Depth"] = i; });
                if (lib.client->SetItem(unit.get(), true) != 1) {
                    lost = true;
                    break;
                }
                std::lock_guard<std::mutex> guard(lock);
                answered.push_back(i);
            }
        });
        // Kill in the middle of the burst.
        Eventually([&] {
            std::lock_guard<std::mutex> guard(lock);
            return answered.size() >= 200;
        });
        server.reset();  // killed
        lost = true;
        writer.join();
    }
    ASSERT_GE(answered.size(), 200u);
    Start();
    ASSERT_EQ(Ctl({"config", "export", dir / "export.json"}).code, 0);
    const Json::Value root = ReadDocumentFile(dir / "export.json");
    std::map<std::string, int> depths;
    for (const auto& item : root["Items"])
        depths[item["Name"].asString()] = item["Data"]["Depth"].asInt();
    for (int i : answered) {
        const std::string name = "w" + std::to_string(i);
        ASSERT_TRUE(depths.count(name)) << name << " was answered 1 but is gone";
        EXPECT_EQ(depths[name], i);
    }
}

// The timer of an unconfirmed import, running and across a kill (its other
// rules: host_test.cpp).
TEST_F(ToolsE2E, UnconfirmedImportFallsBackAlsoAcrossARestart) {
    Start({"--fallback-timeout", "3"});
    const std::string file = dir / "enabled.json";
    ASSERT_EQ(Ctl({"edit", kSsh, "Enabled=true"}).code, 0);
    ASSERT_EQ(Ctl({"config", "export", file}).code, 0);
    ASSERT_EQ(Ctl({"edit", kSsh, "Enabled=false"}).code, 0);
    for (bool restart : {false, true}) {
        ASSERT_EQ(Ctl({"config", "import", file, "--fallback"}).code, 0);
        EXPECT_EQ(Member(kSsh, "Enabled"), true);
        if (restart) {
            server.reset();  // killed
            Start({"--fallback-timeout", "3"});
        }
        EXPECT_TRUE(Eventually([&] { return Member(kSsh, "Enabled") == false; }));
    }
    EXPECT_EQ(Ctl({"config", "confirm"}).code, 1) << "nothing left to confirm";
}

TEST_F(ToolsE2E, WatchPrintsChangesAsTheyAreSynced) {
    Start();
    Child watch({TESSELCTL, "--json", "watch", "/Config/System/DeviceManagement/SSH/", "--count",
                 "1", "--timeout", "30"});
    // The watch registers in the background: change until it has seen one.
    bool seen = false;
    for (int i = 0; i < 40 && !seen; ++i) {
        ASSERT_EQ(Ctl({"edit", kSsh, i % 2 ? "Enabled=false" : "Enabled=true"}).code, 0);
        seen = watch.WaitForLine("\"Event\":\"changed\"", 250);
    }
    EXPECT_TRUE(seen) << watch.out;
    EXPECT_NE(watch.out.find("\"Path\":\"" + kSsh + "\""), std::string::npos);
    EXPECT_EQ(watch.Stop(0), 0) << "ends by itself after --count changes";
}

TEST_F(ToolsE2E, SnapshotFollowsTheClientsDump) {
    Start();
    LibClient lib;
    ASSERT_TRUE(Eventually([&] { return lib.connected.load(); }));
    lib.onDump = [&] {
        auto status = MakeItem("LogUnitObject", "/Status/Test/", "Dumped");
        lib.client->SetItem(status.get(), true);
    };
    const std::string file = dir / "snapshot.json";
    RunResult r = Ctl({"snapshot", file});
    ASSERT_EQ(r.code, 0) << r.err;
    const Json::Value root = ReadDocumentFile(file);
    EXPECT_FALSE(root["Items"].empty());
    ASSERT_EQ(root["Status"].size(), 1u);
    EXPECT_EQ(root["Status"][0]["Name"], "Dumped");
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ToolsE2E, AdministrativeRequestsNeedTheGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const uid_t nobody = 65534;  // and group 65534
    ::chmod(dir.path.c_str(), 0755);
    const std::string exportFile = dir / "mine.json";
    for (bool inGroup : {false, true}) {
        Start({"--admin-group", inGroup ? "65534" : ""});
        ::chmod((dir / "run/tesseld.sock").c_str(), 0666);
        const int refused = inGroup ? 0 : 1;
        struct Step {
            std::vector<std::string> args;
            std::string input;
            int code;
        };
        const Step steps[] = {
            {{"get", kSsh}, "", 0},
            {{"edit", kSsh, "Enabled=true"}, "", 0},
            {{"get", kRadius}, "", refused},  // admin-only items
            {{"edit", kRadius, "Port2=1000"}, "", refused},
            {{"user", "add", inGroup ? "in" : "out"}, "Some-password-1\n", refused},
            {{"config", "export", exportFile}, "", refused},
            {{"restore-point"}, "", refused},
            {{"reboot"}, "", refused},
        };
        for (const Step& step : steps) {
            RunResult r = Ctl(step.args, step.input, nobody);
            EXPECT_EQ(r.code, step.code) << step.args[0] << " in group " << inGroup << "\n"
                                         << r.err;
        }
        EXPECT_EQ(server->Stop(SIGTERM), 0);
        server.reset();
    }
    // The export belongs to whoever asked for it.
    struct stat st;
    ASSERT_EQ(::stat(exportFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody);
}

}  // namespace
