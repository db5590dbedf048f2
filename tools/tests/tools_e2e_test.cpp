// tesseld and tesselctl as separate processes, driven through the command
// line and through the library's client.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <thread>

#include "support.h"
#include "tessel/tessel.h"

using namespace tessel;
using namespace tessel::tools;
using namespace toolstest;

namespace {

// A program run as a child process with `input` on its stdin and its stdout
// and stderr in files 0, 1 and 2. With `uid` other than -1 it runs as that user
// and group (the caller must be root).
class Child {
  public:
    explicit Child(const std::vector<std::string>& args, const std::string& input = "",
                   uid_t uid = uid_t(-1)) {
        int fds[3];
        for (int i = 0; i < 3; ++i) {
            WriteFile(m_files / std::to_string(i), i ? "" : input);
            fds[i] = ::open((m_files / std::to_string(i)).c_str(), O_RDWR | O_CLOEXEC);
        }
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            // Raw system calls only: the libc wrappers synchronise threads this child lacks.
            for (int i = 0; i < 3; ++i) ::dup2(fds[i], i);
            if (uid != uid_t(-1) && (::syscall(SYS_setgroups, 0, nullptr) != 0 ||
                                     ::syscall(SYS_setresgid, uid, uid, uid) != 0 ||
                                     ::syscall(SYS_setresuid, uid, uid, uid) != 0))
                ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        for (int fd : fds) ::close(fd);
    }
    ~Child() { Stop(SIGKILL); }

    // Waits (bounded) until stdout contains `text`.
    bool WaitForLine(const std::string& text, int timeoutMs = 10000) {
        for (int waited = 0; waited < timeoutMs; waited += 20, ::usleep(20000))
            if ((out = ReadFile(m_files / "1")).find(text) != std::string::npos) return true;
        return false;
    }
    // Sends the signal (none with 0), reaps the child (killed when it does
    // not end within a minute) and collects its output: its exit code, or
    // 128 + signal when it died of one.
    int Stop(int signal) {
        if (m_pid <= 0) return -1;
        if (signal) ::kill(m_pid, signal);
        int status = 0;
        for (int i = 0; ::waitpid(m_pid, &status, WNOHANG) == 0; ++i, ::usleep(10000))
            if (i == 6000) ::kill(m_pid, SIGKILL);
        m_pid = -1;
        out = ReadFile(m_files / "1");
        err = ReadFile(m_files / "2");
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    }
    std::string out, err;

  private:
    TempDir m_files;
    pid_t m_pid = -1;
};

// A tesselctl run: its arguments, input, exit code and output (when expected:
// parts of stdout and stderr).
struct Call {
    std::vector<std::string> args;
    std::string input;
    int code;
    std::string out = "", err = "";
};

const std::string kSsh = "/Config/System/DeviceManagement/SSH/SSHConfig";
const std::string kRadius = "/Config/System/Access/RadiusConfig";

// A data client of the test process itself; `onDump` runs when the server
// asks for a dump (on the client's delivery thread).
class LibClient : public cDataEvents {
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
    ~ToolsE2E() override { EXPECT_EQ(server ? server->Stop(SIGTERM) : 0, 0) << "SIGTERM ends it"; }

    // Starts the server, killing the one running.
    void Start(std::vector<std::string> extra = {}, const std::string& adminGroup = "") {
        server.reset();
        extra.insert(extra.begin(), {TESSELD, "--state-dir", dir / "state", "--factory",
                                     TESSELD_FACTORY, "--admin-group", adminGroup});
        server.reset(new Child(extra));
        ASSERT_TRUE(server->WaitForLine("tesseld: serving")) << server->out << server->err;
    }
    Call Ctl(std::vector<std::string> args, const std::string& input = "", uid_t uid = uid_t(-1)) {
        args.insert(args.begin(), TESSELCTL);
        Child child(args, input, uid);
        return {args, input, child.Stop(0), child.out, child.err};  // in this order
    }
    // Runs tesselctl (as `uid`) once per call and checks each outcome.
    void Run(const std::vector<Call>& calls, uid_t uid = uid_t(-1)) {
        for (const Call& want : calls) {
            const Call got = Ctl(want.args, want.input, uid);
            EXPECT_TRUE(got.code == want.code && got.out.find(want.out) != std::string::npos &&
                        got.err.find(want.err) != std::string::npos)
                << ::testing::PrintToString(want.args) << " => " << got.code << ": " << got.out
                << got.err;
        }
    }
    // Whether tesselctl shows SSH as `enabled`.
    bool SshIs(bool enabled) {
        const std::string member = enabled ? "\"Enabled\" : true" : "\"Enabled\" : false";
        return Ctl({"get", kSsh}).out.find(member) != std::string::npos;
    }
    // Polls (bounded) until `done` holds.
    bool Eventually(const std::function<bool()>& done) {
        for (int i = 0; i < 200 && !done(); ++i) ::usleep(50000);
        return done();
    }

    TempDir dir;
    std::unique_ptr<Child> server;
};

TEST_F(ToolsE2E, CommandLineContract) {
    EXPECT_EQ(Child({TESSELD, "--help"}).Stop(0), 0);
    EXPECT_EQ(Child({TESSELD, "--no-such-option"}).Stop(0), 2);
    EXPECT_EQ(Ctl({"ls", "/"}).code, 3) << "no server yet";
    Start();
    std::smatch password;
    ASSERT_TRUE(std::regex_search(server->out, password, std::regex("with the password (\\S+)")));
    Json::Value radius;
    ParseJson(Ctl({"get", kRadius}).out, radius);
    radius["Data"]["Port1"] = 0;
    // An import file with a good new item and the refused one: tesselctl checks
    // it whole before it sends anything (the server's check: host_test.cpp).
    ASSERT_TRUE(WriteDocumentFile(dir / "bad.json", {Doc(LogUnit("new")), radius}));
    Run({
        {{"auth", "admin"}, password[1].str() + "\n", 0, "access level 3", ""},
        {{"auth", "admin"}, "admin\n", 1, "", "failed"},  // no fixed default password
        {{"user", "add", "ops", "--level", "2"}, "Ops-password-1\n", 0, "", ""},
        {{"--json", "auth", "ops"}, "Ops-password-1\n", 0, "\"AccessLevel\" : 2", ""},
        {{"--help"}, "", 0, "Exit codes", ""},
        {{"ls", "/"}, "", 0, "Config/\nFeatures/\nUsers/\n", ""},
        {{"ls", "/Users"}, "", 0, "admin\nops\n", ""},
        {{"ls", "/Nowhere"}, "", 1, "", "no directory"},
        {{"get", "/Nothing/here"}, "", 1, "", "nothing at"},
        {{"edit", kSsh, "Enabled=true"}, "", 0, "", ""},
        {{"get", kSsh}, "", 0, "\"Enabled\" : true", ""},
        {{"edit", kSsh, "NoSuchMember=1"}, "", 2, "", "no member"},
        {{"edit", kRadius, "Secret1=s3cret-value"}, "", 0, "", ""},
        {{"get", kRadius}, "", 0, "\"Secret1\" : \"*******\"", ""},
        {{"set"}, tessel::StyledJson(radius), 1, "", "Port1"},
        {{"set"}, "{ not json", 2, "", "not one JSON document"},
        {{"config", "import", dir / "bad.json"}, "", 1, "", "RadiusConfig: refused values: Port1"},
        {{"get", "/Log/Units/new"}, "", 1, "", "nothing at"},
        // A masked document keeps the secret.
        {{"--show-secrets", "get", kRadius}, "", 0, "\"Secret1\" : \"s3cret-value\"", ""},
        {{"rm", "/Nothing/here"}, "", 1, "", "refused"},
        {{"cp", kSsh, "Copy"}, "", 0, "", ""},
        {{"ls", "/Config/System/DeviceManagement/SSH"}, "", 0, "Copy\nSSHConfig\n", ""},
        {{"mv", kSsh.substr(0, kSsh.rfind('/') + 1) + "Copy", "/Other/Copy"}, "", 2, "", ""},
        {{"log", "write", "demo", "hello", "log", "book", "--level", "WARNING"}, "", 0, "", ""},
        {{"log", "read", "--unit", "demo"}, "", 0, ";demo;2;WARNING;tesselctl;hello log book;", ""},
        {{"log", "write", "a-unit-name-too-long", "x"}, "", 2, "", ""},
        {{"--json", "factory-info"}, "", 0, "\"Digest\"", ""},
        {{"factory-reset"}, "", 2, "", "--yes"},
        {{"no-such-command"}, "", 2, "", ""},
        {{"--service", "elsewhere", "ls", "/"}, "", 3, "", "no server"},
        {{"completion", "bash"}, "", 0, "complete -F _tesselctl tesselctl", ""},
    });
}

// Every write answered before a SIGKILL in the middle of a burst is there
// after the restart (which shows no new password).
TEST_F(ToolsE2E, AnsweredWritesSurviveSigkill) {
    Start();
    std::atomic<int> answered{0};
    std::atomic<bool> killed{false};
    {
        LibClient lib;
        ASSERT_TRUE(Eventually([&] { return lib.connected.load(); }));
        std::thread writer([&] {
            for (int i = 0; i < 5000 && !killed; ++i) {
                auto unit = LogUnit("w" + std::to_string(i), [&](auto& d) { d["Depth"] = i; });
                if (lib.client->SetItem(unit.get(), true) != 1) break;
                answered = i + 1;
            }
        });
        Eventually([&] { return answered >= 200; });
        server.reset();  // killed
        killed = true;
        writer.join();
    }
    ASSERT_GE(answered, 200);
    Start();
    EXPECT_EQ(server->out.find("password"), std::string::npos) << server->out;
    ASSERT_EQ(Ctl({"config", "export", dir / "export.json"}).code, 0);
    const Json::Value root = ReadDocumentFile(dir / "export.json");
    Json::Value depths;
    for (const auto& item : root["Items"]) depths[item["Name"].asString()] = item["Data"]["Depth"];
    for (int i = 0; i < answered; ++i)
        ASSERT_TRUE(depths["w" + std::to_string(i)] == i) << "w" << i << " answered 1, gone";
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
        EXPECT_TRUE(SshIs(true));
        if (restart) Start({"--fallback-timeout", "3"});  // kills the one running
        EXPECT_TRUE(Eventually([&] { return SshIs(false); }));
    }
    EXPECT_EQ(Ctl({"config", "confirm"}).code, 1) << "nothing left to confirm";
}

TEST_F(ToolsE2E, WatchPrintsChangesAsTheyAreSynced) {
    Start();
    Child watch({TESSELCTL, "--json", "watch", "/Config/System/DeviceManagement/SSH/", "--count",
                 "1", "--timeout", "30"});
    // The watch registers in the background: change until it has seen one.
    int edits = 0;
    EXPECT_TRUE(Eventually([&] {
        return Ctl({"edit", kSsh, ++edits % 2 ? "Enabled=true" : "Enabled=false"}).code == 0 &&
               watch.WaitForLine("\"Event\":\"changed\"", 250);
    })) << watch.out;
    EXPECT_NE(watch.out.find("\"Path\":\"" + kSsh + "\""), std::string::npos);
    EXPECT_EQ(watch.Stop(0), 0) << "ends by itself after --count changes";
}

TEST_F(ToolsE2E, SnapshotFollowsTheClientsDump) {
    Start();
    LibClient lib;
    ASSERT_TRUE(Eventually([&] { return lib.connected.load(); }));
    auto status = MakeItem("LogUnitObject", "/Status/Test/", "Dumped");
    lib.onDump = [&lib, status] { lib.client->SetItem(status.get(), true); };
    const std::string file = dir / "snapshot.json";
    ASSERT_EQ(Ctl({"snapshot", file}).code, 0);
    const Json::Value root = ReadDocumentFile(file);
    EXPECT_FALSE(root["Items"].empty());
    EXPECT_TRUE(root["Status"].size() == 1 && root["Status"][0]["Name"] == "Dumped")
        << StyledJson(root);
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(file).permissions(), perms::owner_read | perms::owner_write);
}

TEST_F(ToolsE2E, AdministrativeRequestsNeedTheGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const uid_t nobody = 65534;  // and group 65534
    ::chmod(dir.path.c_str(), 0755);
    const std::string exportFile = dir / "mine.json";
    for (bool inGroup : {false, true}) {
        Start({}, inGroup ? "65534" : "");
        ::chmod((dir / "run/tesseld.sock").c_str(), 0666);
        const int refused = inGroup ? 0 : 1;
        SCOPED_TRACE(inGroup ? "in the group" : "not in the group");
        const std::vector<Call> calls = {
            {{"get", kSsh}, "", 0},
            {{"edit", kSsh, "Enabled=true"}, "", 0},
            {{"get", kRadius}, "", refused},  // admin-only items
            {{"edit", kRadius, "Port2=1000"}, "", refused},
            {{"user", "add", inGroup ? "in" : "out"}, "Some-password-1\n", refused},
            {{"config", "export", exportFile}, "", refused},
            {{"restore-point"}, "", refused},
            {{"reboot"}, "", refused},
        };
        Run(calls, nobody);
    }
    // The export belongs to whoever asked for it.
    struct stat st;
    ASSERT_EQ(::stat(exportFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody);
}

}  // namespace
