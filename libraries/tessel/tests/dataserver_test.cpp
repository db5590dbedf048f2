// cDataServer over the in-process transport: every request from a cDataClient
// through to the host and back, what a bare client can send, the channel
// registry, notifications, dump cycles and the snapshot rule.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "fake_dataserver.h"
#include "item_doc.h"
#include "memory_host.h"

using namespace tessel;
using fakeserver::Make;
using testhost::MemoryHost;
using testhost::Probe;
using testhost::WaitUntil;

namespace {

// A served data server with the in-memory host (or `own`, taken over) behind
// it, `clients` bare probe clients and, when asked for, a cDataClient.
struct Rig {
    explicit Rig(size_t clients = 1, bool dataClient = false, MemoryHost* own = nullptr)
        : owned(own ? own : new MemoryHost),
          host(*owned),
          serverService(fakeserver::UniqueName("srv")),
          clientService(fakeserver::UniqueName("srv-c")) {
        server.reset(new cDataServer(&serverService, &host));
        EXPECT_TRUE(serverService.ServeInProcess() && serverService.Start());
        EXPECT_TRUE(clientService.Start());
        for (size_t i = 0; i < clients; ++i) {
            probes.emplace_back(new Probe(&clientService, serverService.Name()));
            probes.back()->Start();
            EXPECT_TRUE(probes.back()->WaitConnected());
        }
        if (dataClient) {
            host.Put(cDBFeatureList());
            client.reset(new cDataClient(&clientService, &events, 0, serverService.Name()));
            client->Start();
            EXPECT_TRUE(events.WaitFor("connect"));
        }
        // The announcement reaches the server's table on its delivery thread.
        EXPECT_TRUE(WaitUntil([&] { return Connected() == clients + dataClient; }));
    }
    ~Rig() {
        client.reset();
        for (auto& p : probes) p->Stop();
        probes.clear();
        clientService.Stop();
        serverService.Stop();
        server.reset();
    }
    size_t Connected() {
        kora::cDispatchLock g = serverService.LockDispatch();
        return server->ConnectedChannels().size();
    }
    Probe& probe(size_t i = 0) { return *probes[i]; }
    // Sends `request` with `payload` (taken over) from probe `i`; the Result
    // of the answer `reply`, -100 when none came or it carries none.
    int Result(const char* request, kora::ISerialize* payload, const char* reply, size_t i = 0) {
        kora::cMsg answer;
        if (!probe(i).Request(request, payload, reply, answer)) return -100;
        auto* r = answer.GetObject<ccDBResp>();
        return r ? int(r->Result) : -100;
    }
    int Register(const std::string& path, size_t i = 0) {
        return Result(kMsgRegCollectionReq,
                      Make<ccDBRegCollectionReq>([&](ccDBRegCollectionReq& r) { r.Path = path; }),
                      kMsgRegCollectionResp, i);
    }
    // Runs `f` on the server's delivery thread's side of the dispatch lock.
    template <class F>
    void Locked(F f) {
        kora::cDispatchLock g = serverService.LockDispatch();
        f(*server);
    }

    std::unique_ptr<MemoryHost> owned;
    MemoryHost& host;
    kora::cService serverService, clientService;
    std::unique_ptr<cDataServer> server;
    std::vector<std::unique_ptr<Probe>> probes;
    fakeserver::Events events;
    std::unique_ptr<cDataClient> client;
};

cDBConfigSSH* SshIn(const char* dir, const char* name) {
    return Make<cDBConfigSSH>([&](cDBConfigSSH& s) {
        s.SetDir(dir);
        s.SetName(name);
    });
}

// The paths of the syncs among `got`, in order.
std::vector<std::string> SyncedPaths(const std::vector<testhost::Received>& got) {
    std::vector<std::string> paths;
    for (const auto& r : got)
        if (r.name == kMsgCollectionSyncInit)
            paths.push_back(dynamic_cast<ccDBSyncInit*>(r.payload.get())->Path);
    return paths;
}

// What a caller was handed, as its text ("null" for nothing); checks that the
// caller holds the only reference, and releases it.
std::string Handed(kora::ISerialize* obj) {
    if (!obj) return "null";
    EXPECT_EQ(obj->GetRefCount(), 1);
    const std::string text = obj->TypeName() + " " + obj->ToString("");
    obj->Release();
    return text;
}

}  // namespace

// Every request with a result code from the client: what reaches the host,
// and the host's code back to the caller, success or refusal. Nothing
// outlives the exchanges.
TEST(DataServer, ResultCodesFromTheClientThroughTheHost) {
    const size_t live = kora::GC::LiveCount();
    {
        Rig rig(0, true);
        cDataClient& c = *rig.client;
        auto unit = kora::Ref<cDBLogUnit>::Adopt(Make<cDBLogUnit>([](cDBLogUnit& u) {
            u.SetDir("/Config/X/");
            u.SetName("VPN");
        }));
        auto value = kora::Ref<kora::s_string>::Adopt(kora::New<kora::s_string>("on"));
        kora::cTime from, to;
        from.FromSeconds(100);
        to.FromSeconds(200);
        const std::pair<std::function<kora::s_int8()>, std::string> rows[] = {
            {[&] { return c.SetItem(unit.get(), true); }, "SetItem /Config/X/VPN"},
            {[&] { return c.DeleteItem("/Config/X/item"); }, "DeleteItem /Config/X/item"},
            {[&] { return c.RenameItem("/Config/X/", "a", "b"); }, "RenameItem /Config/X/a b"},
            {[&] { return c.DuplicateItem("/Config/X/", "a", "b"); },
             "DuplicateItem /Config/X/a b"},
            {[&] { return c.CreateRestorePoint(); }, "CreateRestorePoint"},
            {[&] { return c.Restore(); }, "Restore"},
            {[&] { return c.ConfirmConfig(); }, "ConfirmConfig"},
            {[&] { return c.FallbackConfig(); }, "FallbackConfig"},
            {[&] { return c.FactoryReset(); }, "FactoryReset"},
            {[&] { return c.ImportConfig("/tmp/in", true); }, "ImportConfig /tmp/in fallback"},
            {[&] { return c.ExportConfig("/tmp/config"); }, "ExportConfig /tmp/config"},
            {[&] { return c.ExportStatus("/tmp/status"); }, "ExportStatus /tmp/status"},
            {[&] { return c.ExportFlags("/tmp/flags"); }, "ExportFlags /tmp/flags"},
            {[&] { return c.SetFlag("boot", value.get()); }, "SetFlag boot s_string"},
            {[&] { return c.SetFlag("boot", nullptr); }, "SetFlag boot null"},
            {[&] { return c.DeleteFlag("boot"); }, "DeleteFlag boot"},
            {[&] {
                 return c.ExportLog(from, to, 3, {"WAN", "VPN"}, "/tmp/log");
             },
             "ExportLog 100 200 3 VPN,WAN, /tmp/log"},
            {[&] { return c.DeleteUser("bob"); }, "DeleteUser bob"},
            // The third value of a new password travels only when it is 1 to
            // 3, the fourth of a new user only when it is 0 to 3.
            {[&] { return c.SetPassword("bob", "n3w", 3); }, "SetPassword bob n3w 3"},
            {[&] { return c.SetPassword("bob", "n3w", 4); }, "SetPassword bob n3w 0"},
            {[&] { return c.AddUser("eve", "pw", 7, 3, 250); }, "AddUser eve pw 7 3 250"},
            {[&] { return c.AddUser("eve", "pw", 7, 4, 250); }, "AddUser eve pw 7 0 250"},
        };
        for (int code : {1, -3}) {
            rig.host.result = static_cast<int8_t>(code);
            for (const auto& r : rows) {
                rig.host.ClearCalls();
                EXPECT_EQ(r.first(), code) << r.second;
                EXPECT_EQ(rig.host.Calls(), std::vector<std::string>{r.second});
            }
        }
        // Neither the item nor the flag value is kept by the request.
        EXPECT_EQ(unit->GetRefCount(), 1);
        EXPECT_EQ(value->GetRefCount(), 1);
        rig.host.snapshotResult = -2;  // answered at once (see SnapshotIsOneAtATime)
        EXPECT_EQ(c.CreateSnapshot("/tmp/snap"), -2);
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);
}

// Requests answered with objects or values, and those without an answer.
TEST(DataServer, AnswersFromTheClientThroughTheHost) {
    Rig rig(0, true);
    cDataClient& c = *rig.client;
    cDBLogUnit unit;
    unit.SetName("VPN");
    unit.SetLevel(2);  // below the entry logged next, whenever its sync arrives
    rig.host.Put(unit);
    rig.host.users["ann"] = {"secret", 3};
    rig.host.flags["f"] = kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_string>("v"));
    EXPECT_EQ(Handed(c.GetItem("/Log/Units/VPN")), "cDBLogUnit " + unit.ToString(""));
    EXPECT_EQ(Handed(c.GetItem("/nothing")), "null");
    EXPECT_EQ(Handed(c.GetFlag("f")), "s_string v");
    EXPECT_EQ(Handed(c.GetFlag("none")), "null");
    EXPECT_EQ(c.GetFactoryConfigInfo(),
              (std::pair<kora::s_string, kora::s_string>("factory-1", "2026-12-05")));
    const struct {
        const char *user, *password;
        bool accepted;
        unsigned level;
    } auths[] = {{"ann", "secret", true, 3}, {"ann", "wrong", false, 0}, {"zed", "x", false, 0}};
    for (const auto& a : auths) {
        kora::s_uint8 level = 9;
        EXPECT_EQ(c.AuthenticateUser(a.user, a.password, level), a.accepted) << a.password;
        EXPECT_EQ(level, a.level) << a.password;
    }

    // Requests without an answer reach the host before a later request.
    rig.host.ClearCalls();
    c.SetItem(&unit, false);
    c.Reboot();
    c.Log("VPN", 3, "T", "tunnel up", 1);
    kora::cTime from;
    from.FromSeconds(50);
    kora::Ref<cDBLogResult> log = kora::Ref<cDBLogResult>::Adopt(
        dynamic_cast<cDBLogResult*>(c.ReadLog(from, "VPN", 2, 20, 99)));
    ASSERT_TRUE(log);
    ASSERT_EQ(log->GetEntries().size(), 1u);
    EXPECT_EQ(log->GetEntries().begin()->second.GetText(), "tunnel up");
    const std::string peer = rig.clientService.Name().substr(0, cDBLogItem::kMaxPeer);
    EXPECT_EQ(rig.host.Calls(),
              (std::vector<std::string>{
                  "SetItem /Log/Units/VPN", "SyncCollection /Log/Units/", "Reboot dataClient",
                  "Log VPN 3 T tunnel up||" + peer + "||1", "ReadLog 50 VPN 2 20 99"}));
}

// A request without its payload, or with one of another class, gets a failure
// answer (or an empty reply) and never reaches the host.
TEST(DataServer, MissingOrWrongPayloadsAreRefused) {
    Rig rig;
    // Those answered with a payload of their own get an empty answer.
    const std::set<std::string> emptyAnswer = {kMsgGetItemReq, kMsgReadLogReq, kMsgGetFlagReq};
    for (const char* request :
         {kMsgGetItemReq, kMsgSetItemReq, kMsgDeleteItemReq, kMsgDuplicateItemReq,
          kMsgRenameItemReq, kMsgRegCollectionReq, kMsgReadLogReq, kMsgConfigImportReq,
          kMsgAddUserReq, kMsgSetFlagReq, kMsgGetFlagReq, kMsgSnapshotReq}) {
        const std::string reply = std::string(request, std::strlen(request) - 3) + "RESP";
        for (bool wrongClass : {false, true}) {
            kora::cMsg answer;
            kora::ISerialize* payload = wrongClass ? kora::New<kora::s_string>("x") : nullptr;
            ASSERT_TRUE(rig.probe().Request(request, payload, reply, answer)) << request;
            auto* resp = answer.GetObject<ccDBResp>();
            if (emptyAnswer.count(request)) {
                EXPECT_EQ(answer.GetPayload(), nullptr) << request;
            } else {
                ASSERT_NE(resp, nullptr) << request;
                EXPECT_EQ(resp->Result, 0) << request;
            }
        }
    }
    EXPECT_TRUE(rig.host.Calls().empty());
}

// Registration answers 1 and is followed by the sync sequence on that
// channel; changes re-sync exactly the collections of the changed directory.
TEST(DataServer, RegistrationSyncAndNotification) {
    Rig rig(2);
    const char* dir = "/Config/Network/Firewall/PortForwarding/";
    rig.host.Put(*kora::Ref<cDBConfigSSH>::Adopt(SshIn(dir, "a")));
    Probe& p0 = rig.probe(0);
    Probe& p1 = rig.probe(1);
    EXPECT_EQ(rig.Register(dir), 1);
    auto got = p0.WaitFor(3);
    ASSERT_EQ(p0.Names(), (std::vector<std::string>{kMsgCollectionSyncInit, kMsgCollectionSyncItem,
                                                    kMsgCollectionSyncEnd}));
    EXPECT_EQ(SyncedPaths(got), std::vector<std::string>{dir});
    EXPECT_EQ(rig.Register(dir), 1);  // a second registration syncs again, one table entry
    p0.WaitFor(6);
    EXPECT_EQ(rig.Register("/Config/Network/Firewall/", 1), 1);  // the parent directory
    p1.WaitFor(3);
    rig.Locked([&](cDataServer& s) { EXPECT_EQ(s.RegisteredChannels(dir).size(), 1u); });
    p0.Clear();
    p1.Clear();

    // A change in the directory: p0 re-syncs, the parent's p1 does not.
    EXPECT_EQ(rig.Result(kMsgSetItemReq, SshIn(dir, "b"), kMsgSetItemResp), 1);
    EXPECT_EQ(p0.WaitFor(4).size(), 4u);  // init, a, b, end
    EXPECT_TRUE(p1.Names().empty());

    // A refused change notifies nobody; "DB::SETITEM" is not answered but
    // still notifies.
    p0.Clear();
    rig.host.result = 0;
    EXPECT_EQ(rig.Result(kMsgSetItemReq, SshIn(dir, "b"), kMsgSetItemResp), 0);
    rig.host.result = 1;
    kora::cMsg quiet(kMsgSetItem);
    quiet.AssignObject(SshIn(dir, "c"));
    ASSERT_TRUE(p0.Send(quiet));
    auto names = p0.WaitFor(5);
    for (const auto& r : names) EXPECT_NE(r.name, kMsgSetItemResp);
    EXPECT_EQ(names.front().name, kMsgCollectionSyncInit);

    // After deregistration (the single-colon name), changes send nothing.
    p0.Clear();
    auto* dereg = Make<ccDBDeRegCollectionReq>([&](ccDBDeRegCollectionReq& r) { r.Path = dir; });
    EXPECT_EQ(rig.Result(kMsgDeRegCollectionReq, dereg, kMsgDeRegCollectionResp), 1);
    // The two-colon spelling is not a request the server knows.
    kora::cMsg wrong("DB::DEREGCOLLECTIONREQ"), reply;
    EXPECT_FALSE(p0.SendSync(wrong, reply, 300, kMsgDeRegCollectionResp));
    EXPECT_EQ(rig.Result(kMsgSetItemReq, SshIn(dir, "d"), kMsgSetItemResp), 1);
    EXPECT_TRUE(p0.Names().empty());
}

// A rename notifies the host's further paths in order, then the old and the
// new path; a duplicate the new one.
TEST(DataServer, RenameAndDuplicateNotifyInOrder) {
    Rig rig;
    rig.host.Put(*kora::Ref<cDBConfigSSH>::Adopt(SshIn("/A/", "old")));
    rig.host.renameAlsoChanged = {"/Y/y", "/X/x"};
    for (const char* path : {"/A/", "/X/", "/Y/"}) ASSERT_EQ(rig.Register(path), 1);
    Probe& p = rig.probe();
    p.WaitFor(7);  // init and end of each, and the item under /A/
    p.Clear();
    auto* rename = Make<ccDBRenameItemReq>([](ccDBRenameItemReq& r) {
        r.Directory = "/A/";
        r.Name = "old";
        r.NewName = "new";
    });
    EXPECT_EQ(rig.Result(kMsgRenameItemReq, rename, kMsgRenameItemResp), 1);
    // Each sync: init, the items of the directory, end.
    EXPECT_EQ(SyncedPaths(p.WaitFor(10)), (std::vector<std::string>{"/X/", "/Y/", "/A/", "/A/"}));
    p.Clear();
    auto* duplicate = Make<ccDBDuplicateItemReq>([](ccDBDuplicateItemReq& r) {
        r.Directory = "/A/";
        r.Name = "new";
        r.NewName = "copy";
    });
    EXPECT_EQ(rig.Result(kMsgDuplicateItemReq, duplicate, kMsgDuplicateItemResp), 1);
    EXPECT_EQ(SyncedPaths(p.WaitFor(3)), std::vector<std::string>{"/A/"});
}

TEST(DataServer, SnapshotIsOneAtATime) {
    Rig rig(2);
    auto snap = [](const char* path) {
        return Make<ccDBSnapshotReq>([&](ccDBSnapshotReq& r) { r.Filepath = path; });
    };
    // The host accepts: no answer until it calls SendSnapshotResp.
    kora::cMsg first(kMsgSnapshotReq);
    first.AssignObject(snap("/tmp/s1"));
    ASSERT_TRUE(rig.probe(0).Send(first));
    ASSERT_TRUE(WaitUntil([&] { return rig.host.CountCalls("CreateSnapshot") == 1; }));
    rig.Locked([](cDataServer& s) {
        EXPECT_NE(s.SnapshotRequester(), nullptr);
        EXPECT_EQ(s.SnapshotPath(), "/tmp/s1");
    });
    // A second request is refused at once without reaching the host.
    EXPECT_EQ(rig.Result(kMsgSnapshotReq, snap("/tmp/s2"), kMsgSnapshotResp, 1), 0);
    EXPECT_EQ(rig.host.CountCalls("CreateSnapshot"), 1u);

    // A dump cycle meanwhile skips the requester, and ends with the one answer.
    rig.Locked([](cDataServer& s) {
        s.SendDumpRequest("/dump");
        EXPECT_EQ(s.DumpPendingChannels().size(), 1u);
    });
    EXPECT_TRUE(WaitUntil([&] { return rig.host.CountCalls("DumpFinished") == 1; }));

    rig.Locked([](cDataServer& s) {
        s.SendSnapshotResp(1);
        EXPECT_EQ(s.SnapshotRequester(), nullptr);
        EXPECT_EQ(s.SnapshotPath(), "");
    });
    auto got = rig.probe(0).WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, kMsgSnapshotResp);

    // A refused snapshot is answered at once and clears the requester.
    rig.host.snapshotResult = -1;
    EXPECT_EQ(rig.Result(kMsgSnapshotReq, snap("/tmp/s3"), kMsgSnapshotResp, 1), -1);
    rig.Locked([](cDataServer& s) { EXPECT_EQ(s.SnapshotRequester(), nullptr); });
}

TEST(DataServer, DumpCycleEndsByTimerWithoutAnswers) {
    Rig rig;
    rig.probe().answerDumps = false;
    rig.Locked([](cDataServer& s) { s.SendDumpRequest("/d"); });
    auto got = rig.probe().WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, kMsgDumpReq);
    EXPECT_EQ(dynamic_cast<ccDumpReq*>(got[0].payload.get())->Path, "/d");
    EXPECT_TRUE(WaitUntil([&] { return rig.host.CountCalls("DumpFinished") == 1; }, 20000));
}

TEST(DataServer, RebootAndChannelClose) {
    Rig rig(2);
    kora::cMsg reboot(kMsgRebootReq);
    ASSERT_TRUE(rig.probe(0).Send(reboot));
    rig.Locked([](cDataServer& s) { s.SendRebootNotification(); });
    for (size_t i = 0; i < 2; ++i) {
        auto got = rig.probe(i).WaitFor(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].name, kMsgRebootNotification);
    }
    // The host learns the identity the requester announced.
    EXPECT_TRUE(WaitUntil([&] { return rig.host.CountCalls("Reboot probe") == 1; }));
    // A client that goes away leaves the server's tables.
    rig.probe(1).Stop();
    EXPECT_TRUE(WaitUntil([&] { return rig.Connected() == 1; }));

    kora::cService service(fakeserver::UniqueName("null"));
    cDataServer withoutHost(&service, nullptr);
    kora::cMsg msg(kMsgRestoreReq);
    EXPECT_FALSE(withoutHost.ProcessMsg(msg));
}

// Names that only the framework or the server itself produce change nothing
// when a peer sends them: the channel stays known, no dump cycle ends.
TEST(DataServer, LocalNamesFromAPeerChangeNothing) {
    Rig rig(2);
    ASSERT_EQ(rig.Register("/A/"), 1);
    rig.probe(0).WaitFor(2);
    rig.probe(1).answerDumps = false;
    const struct {
        const char* name;
        bool duringDump;
    } cases[] = {
        {kora::kChannelClosedMsg, false},
        {kMsgDumpTimeout, true},
        {kMsgDumpRes, false},  // nobody was asked
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.duringDump) rig.Locked([](cDataServer& s) { s.SendDumpRequest("/d"); });
        kora::cMsg local(c.name);
        ASSERT_TRUE(rig.probe(0).Send(local));
        // A request behind it: once answered, the name above was handled.
        ASSERT_EQ(rig.Register("/B/"), 1);
        rig.Locked([&](cDataServer& s) {
            EXPECT_EQ(s.RegisteredChannels("/A/").size(), 1u);
            EXPECT_EQ(s.ConnectedChannels().size(), 2u);
        });
        EXPECT_EQ(rig.host.CountCalls("DumpFinished"), 0u);
    }
}

namespace {

// The bytes of a frame named `name` carrying `payload`, as a peer writes them.
std::string RawFrame(uint32_t id, const std::string& name, const kora::ISerialize* payload) {
    kora::cSerializeBuffer b;
    b.WriteU32(id);
    b.WriteU32(0);
    kora::s_string(name).Serialize(b);
    b.WriteU8(payload ? 1 : 0);
    if (payload) kora::cObjectFactory::Serialize(*payload, b);
    std::string body(reinterpret_cast<const char*>(b.Data()), b.Size());
    const uint32_t n = static_cast<uint32_t>(body.size());
    const char len[4] = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    return std::string(len, 4) + body;
}

}  // namespace

// A payload is read only for a request that takes it: a feature list sent
// under a name nobody handles, or in place of another request's payload,
// never replaces the server's feature set.
TEST(DataServer, AFeatureListNobodyAskedForIsNeverRead) {
    char tmpl[] = "/tmp/tessel-srv-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    ::setenv("KORA_RUNTIME_DIR", tmpl, 1);
    MemoryHost host;
    {
        kora::cService service(fakeserver::UniqueName("features"));
        cDataServer server(&service, &host);
        ASSERT_TRUE(service.Serve() && service.Start());

        // The frames carry the feature set with a feature added.
        cDBFeatureList list;
        std::string injected;
        {
            testdoc::Features added({"Injected"});
            injected = RawFrame(2, "DB::NOSUCHREQ", &list) + RawFrame(3, kMsgGetItemReq, &list);
        }
        ASSERT_FALSE(cDBFeatureList::HasFeature("Injected"));

        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, service.SocketPath().c_str(), sizeof addr.sun_path - 1);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        kora::s_peerinfo hello;
        const std::string bytes = RawFrame(1, kMsgClientOnConnect, &hello) + injected;
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
        // The answer to the misplaced request comes back without an item.
        char answer[256];
        EXPECT_GT(::recv(fd, answer, sizeof answer, 0), 0);
        EXPECT_FALSE(cDBFeatureList::HasFeature("Injected"));
        ::close(fd);
    }
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
}

// A host sees who sent the request it handles: the kernel's credentials of
// the requesting process, available only while the request is handled.
TEST(DataServer, HostSeesTheCredentialsOfTheRequester) {
    struct Host : MemoryHost {
        cDataServer* server = nullptr;
        kora::cPeerCredentials seen;
        bool during = false;
        kora::s_int8 Restore() override {
            const kora::cPeerCredentials* who = server->RequestCredentials();
            during = who != nullptr && server->RequestChannel() != nullptr;
            if (who) seen = *who;
            // A host granting this to one group only would refuse here.
            return who && who->InGroup(::getgid()) ? 1 : 0;
        }
    };
    auto* host = new Host;
    Rig rig(1, false, host);
    host->server = rig.server.get();
    EXPECT_EQ(rig.Result(kMsgRestoreReq, nullptr, kMsgRestoreResp), 1);
    EXPECT_TRUE(host->during);
    EXPECT_TRUE(host->seen.known);
    EXPECT_EQ(host->seen.uid, ::getuid());
    EXPECT_EQ(host->seen.pid, uint32_t(::getpid()));
    rig.Locked([](cDataServer& s) {
        EXPECT_EQ(s.RequestCredentials(), nullptr);
        EXPECT_EQ(s.RequestChannel(), nullptr);
    });
}
