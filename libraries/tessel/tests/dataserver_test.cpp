// cDataServer over the in-process transport: the dispatch table, the channel
// registry, notifications, dump cycles and the snapshot rule.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "memory_host.h"
#include "probe.h"

using namespace tessel;
using testhost::MemoryHost;
using testhost::Probe;

namespace {

std::string ServiceName(const char* what) {
    return kora::FormatString("srv-%s-%d", what, getpid());
}

// One served data server and a set of probe clients in this process.
struct Rig {
    explicit Rig(const char* name, size_t clients = 1)
        : serverService(ServiceName(name)), clientService(ServiceName(name) + "-c") {
        server.reset(new cDataServer(&serverService, &host));
        EXPECT_TRUE(serverService.ServeInProcess());
        EXPECT_TRUE(serverService.Start());
        EXPECT_TRUE(clientService.Start());
        for (size_t i = 0; i < clients; ++i) {
            probes.emplace_back(new Probe(&clientService, serverService.Name()));
            probes.back()->Start();
            EXPECT_TRUE(probes.back()->WaitConnected());
        }
        // The announcement reaches the server's table on its delivery thread.
        for (int i = 0; i < 1000 && Connected() < clients; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ~Rig() {
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

    MemoryHost host;
    kora::cService serverService, clientService;
    std::unique_ptr<cDataServer> server;
    std::vector<std::unique_ptr<Probe>> probes;
};

template <class R>
kora::s_int8 ResultOf(const kora::cMsg& reply) {
    R* r = reply.GetObject<R>();
    return r ? r->Result : kora::s_int8(-100);
}

template <class T, class... Fill>
T* Make(Fill... fill) {
    T* t = kora::New<T>();
    (fill(*t), ...);
    return t;
}

cDBConfigSSH SshIn(const char* dir, const char* name) {
    cDBConfigSSH s;
    s.SetDir(dir);
    s.SetName(name);
    return s;
}

}  // namespace

// Every request with a result code: the host call it makes and the answer it gets.
TEST(DataServer, ResultCodeRequests) {
    Rig rig("results");
    rig.host.users["bob"] = {"pw", 2};
    rig.host.flags["f"] = kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_string>("v"));
    struct Case {
        const char* request;
        std::function<kora::ISerialize*()> payload;
        const char* reply;
        const char* hostCall;
        std::function<kora::s_int8(const kora::cMsg&)> result;
    };
    auto file = [](auto* req) {
        req->Filepath = "/tmp/x";
        return req;
    };
    std::vector<Case> cases = {
        {kMsgCreateRestorePointReq, [] { return nullptr; }, kMsgCreateRestorePointResp,
         "CreateRestorePoint", ResultOf<ccDBCreateRestorePointResp>},
        {kMsgRestoreReq, [] { return nullptr; }, kMsgRestoreResp, "Restore",
         ResultOf<ccDBRestoreResp>},
        {kMsgConfirmConfigReq, [] { return nullptr; }, kMsgConfirmConfigResp, "ConfirmConfig",
         ResultOf<ccDBConfirmConfigurationResp>},
        {kMsgFallbackConfigReq, [] { return nullptr; }, kMsgFallbackConfigResp, "FallbackConfig",
         ResultOf<ccDBFallbackConfigurationResp>},
        {kMsgFactoryResetReq, [] { return nullptr; }, kMsgFactoryResetResp, "FactoryReset",
         ResultOf<ccDBFactoryResetResp>},
        {kMsgConfigImportReq,
         [] {
             auto* r = kora::New<ccDBConfigImportReq>();
             r->Filepath = "/tmp/in";
             r->UseFallback = true;
             return r;
         },
         kMsgConfigImportResp, "ImportConfig /tmp/in fallback", ResultOf<ccDBConfigImportResp>},
        {kMsgStatusExportReq, [&] { return file(kora::New<ccDBStatusExportReq>()); },
         kMsgStatusExportResp, "ExportStatus /tmp/x", ResultOf<ccDBStatusExportResp>},
        {kMsgFlagsExportReq, [&] { return file(kora::New<ccDBFlagsExportReq>()); },
         kMsgFlagsExportResp, "ExportFlags /tmp/x", ResultOf<ccDBFlagsExportResp>},
        {kMsgLogExportReq,
         [] {
             auto* r = kora::New<ccDBLogExportReq>();
             r->Units = {"VPN", "WAN"};
             r->Filepath = "/tmp/log";
             return r;
         },
         kMsgLogExportResp, "ExportLog 2 /tmp/log", ResultOf<ccDBLogExportResp>},
        {kMsgSetPasswordReq,
         [] {
             auto* r = kora::New<ccDBSetPasswordReq>();
             r->Username = "bob";
             r->Password = "new";
             r->Extra = 2;
             return r;
         },
         kMsgSetPasswordResp, "SetPassword bob 2", ResultOf<ccDBSetPasswordResp>},
        {kMsgSetFlagReq,
         [] {
             auto* r = kora::New<ccDBSetFlagReq>();
             r->Name = "g";
             kora::Ref<kora::s_uint32> v =
                 kora::Ref<kora::s_uint32>::Adopt(kora::New<kora::s_uint32>(7));
             r->SetSObject(v.get());
             return r;
         },
         kMsgSetFlagResp, "SetFlag g s_uint32", ResultOf<ccDBSetFlagResp>},
        {kMsgDeleteFlagReq,
         [] {
             auto* r = kora::New<ccDBDeleteFlagReq>();
             r->Name = "f";
             return r;
         },
         kMsgDeleteFlagResp, "DeleteFlag f", ResultOf<ccDBDeleteFlagResp>},
    };
    for (auto& c : cases) {
        rig.host.ClearCalls();
        kora::cMsg reply;
        ASSERT_TRUE(rig.probe().Request(c.request, c.payload(), c.reply, reply)) << c.request;
        EXPECT_EQ(reply.Name(), c.reply);
        EXPECT_EQ(c.result(reply), 1) << c.request;
        ASSERT_EQ(rig.host.Calls().size(), 1u) << c.request;
        EXPECT_EQ(rig.host.Calls()[0], c.hostCall);
    }
    // A host refusal travels back unchanged.
    rig.host.result = -3;
    kora::cMsg reply;
    ASSERT_TRUE(rig.probe().Request(kMsgRestoreReq, nullptr, kMsgRestoreResp, reply));
    EXPECT_EQ(ResultOf<ccDBRestoreResp>(reply), -3);
}

TEST(DataServer, ObjectAnswersAndAuthentication) {
    Rig rig("objects");
    rig.host.Put(SshIn("/Config/System/DeviceManagement/SSH/", "SSHConfig"));
    rig.host.users["ann"] = {"secret", 3};
    rig.host.flags["f"] = kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_string>("v"));
    Probe& p = rig.probe();
    kora::cMsg reply;

    auto get = [](const char* path) {
        return Make<ccDBGetItemReq>([&](ccDBGetItemReq& r) { r.Path = path; });
    };
    ASSERT_TRUE(p.Request(kMsgGetItemReq, get("/Config/System/DeviceManagement/SSH/SSHConfig"),
                          kMsgGetItemResp, reply));
    EXPECT_NE(reply.GetObject<cDBConfigSSH>(), nullptr);
    ASSERT_TRUE(p.Request(kMsgGetItemReq, get("/nothing"), kMsgGetItemResp, reply));
    EXPECT_EQ(reply.GetPayload(), nullptr);

    auto flag = [](const char* name) {
        return Make<ccDBGetFlagReq>([&](ccDBGetFlagReq& r) { r.Name = name; });
    };
    ASSERT_TRUE(p.Request(kMsgGetFlagReq, flag("f"), kMsgGetFlagResp, reply));
    ASSERT_NE(reply.GetObject<kora::s_string>(), nullptr);
    EXPECT_EQ(*reply.GetObject<kora::s_string>(), "v");
    ASSERT_TRUE(p.Request(kMsgGetFlagReq, flag("none"), kMsgGetFlagResp, reply));
    EXPECT_EQ(reply.GetPayload(), nullptr);

    ASSERT_TRUE(
        p.Request(kMsgGetFactoryConfigInfoReq, nullptr, kMsgGetFactoryConfigInfoResp, reply));
    ASSERT_NE(reply.GetObject<ccDBFactoryConfigInfoResp>(), nullptr);
    EXPECT_EQ(reply.GetObject<ccDBFactoryConfigInfoResp>()->First, "factory-1");

    struct Auth {
        const char* user;
        const char* password;
        int result, level;
    } auths[] = {{"ann", "secret", 1, 3}, {"ann", "wrong", 0, 0}, {"zed", "x", 0, 0}};
    for (const auto& a : auths) {
        auto* req = Make<ccDBAuthenticateUserReq>([&](ccDBAuthenticateUserReq& r) {
            r.Username = a.user;
            r.Password = a.password;
        });
        ASSERT_TRUE(p.Request(kMsgAuthenticateUserReq, req, kMsgAuthenticateUserResp, reply));
        auto* resp = reply.GetObject<ccDBAuthenticateUserResp>();
        ASSERT_NE(resp, nullptr);
        EXPECT_EQ(resp->Result, a.result) << a.user << a.password;
        EXPECT_EQ(resp->AccessLevel, a.level);
    }

    // Logging and reading the log back.
    kora::cMsg log(kMsgLogReq);
    auto* entry = kora::New<cDBLogItem>();
    entry->SetUnit("VPN");
    entry->SetLevel(3);
    entry->SetText("tunnel up");
    log.AssignObject(entry);
    ASSERT_TRUE(p.Send(log));
    auto* read = Make<ccDBLogReadReq>([](ccDBLogReadReq& r) {
        r.Unit = "VPN";
        r.Count = 10;
    });
    ASSERT_TRUE(p.Request(kMsgReadLogReq, read, kMsgReadLogResp, reply));
    ASSERT_NE(reply.GetObject<cDBLogResult>(), nullptr);
    EXPECT_EQ(reply.GetObject<cDBLogResult>()->GetEntries().size(), 1u);
}

// A request without its payload, or with one of another class, gets a failure
// answer (or an empty reply) and never reaches the host.
TEST(DataServer, MissingOrWrongPayloadsAreRefused) {
    Rig rig("payloads");
    struct Case {
        const char* request;
        const char* reply;
        bool resultAnswer;
    } cases[] = {
        {kMsgGetItemReq, kMsgGetItemResp, false},
        {kMsgSetItemReq, kMsgSetItemResp, true},
        {kMsgDeleteItemReq, kMsgDeleteItemResp, true},
        {kMsgDuplicateItemReq, kMsgDuplicateItemResp, true},
        {kMsgRenameItemReq, kMsgRenameItemResp, true},
        {kMsgRegCollectionReq, kMsgRegCollectionResp, true},
        {kMsgReadLogReq, kMsgReadLogResp, false},
        {kMsgConfigImportReq, kMsgConfigImportResp, true},
        {kMsgAddUserReq, kMsgAddUserResp, true},
        {kMsgSetFlagReq, kMsgSetFlagResp, true},
        {kMsgGetFlagReq, kMsgGetFlagResp, false},
        {kMsgSnapshotReq, kMsgSnapshotResp, true},
    };
    for (const auto& c : cases) {
        for (bool wrongClass : {false, true}) {
            kora::cMsg reply;
            kora::ISerialize* payload = wrongClass ? kora::New<kora::s_string>("x") : nullptr;
            ASSERT_TRUE(rig.probe().Request(c.request, payload, c.reply, reply)) << c.request;
            if (c.resultAnswer) {
                auto* resp = reply.GetObject<ccDBResp>();
                ASSERT_NE(resp, nullptr) << c.request;
                EXPECT_EQ(resp->Result, 0) << c.request;
            } else {
                EXPECT_EQ(reply.GetPayload(), nullptr) << c.request;
            }
        }
    }
    EXPECT_TRUE(rig.host.Calls().empty());
}

// Registration answers 1 and is followed by the sync sequence on that
// channel; changes re-sync exactly the collections of the changed directory.
TEST(DataServer, RegistrationSyncAndNotification) {
    Rig rig("sync", 2);
    const char* dir = "/Config/Network/Firewall/PortForwarding/";
    rig.host.Put(SshIn(dir, "a"));
    Probe& p0 = rig.probe(0);
    Probe& p1 = rig.probe(1);
    auto reg = [](Probe& p, const char* path) {
        kora::cMsg reply;
        auto* req = Make<ccDBRegCollectionReq>([&](ccDBRegCollectionReq& r) { r.Path = path; });
        EXPECT_TRUE(p.Request(kMsgRegCollectionReq, req, kMsgRegCollectionResp, reply));
        return ResultOf<ccDBRegCollectionResp>(reply);
    };
    EXPECT_EQ(reg(p0, dir), 1);
    auto got = p0.WaitFor(3);
    ASSERT_EQ(p0.Names(), (std::vector<std::string>{kMsgCollectionSyncInit, kMsgCollectionSyncItem,
                                                    kMsgCollectionSyncEnd}));
    EXPECT_EQ(got[0].payload ? dynamic_cast<ccDBSyncInit*>(got[0].payload.get())->Path : "", dir);
    EXPECT_EQ(reg(p0, dir), 1);  // a second registration syncs again, one table entry
    p0.WaitFor(6);
    EXPECT_EQ(reg(p1, "/Config/Network/Firewall/"), 1);  // the parent directory
    p1.WaitFor(3);
    {
        kora::cDispatchLock g = rig.serverService.LockDispatch();
        EXPECT_EQ(rig.server->RegisteredChannels(dir).size(), 1u);
    }
    p0.Clear();
    p1.Clear();

    // A change in the directory: p0 re-syncs, the parent's p1 does not.
    kora::cMsg reply;
    cDBConfigSSH changed = SshIn(dir, "b");
    ASSERT_TRUE(p0.Request(kMsgSetItemReq, testhost::Clone(changed), kMsgSetItemResp, reply));
    EXPECT_EQ(ResultOf<ccDBSetItemResp>(reply), 1);
    EXPECT_EQ(p0.WaitFor(4).size(), 4u);  // init, a, b, end
    EXPECT_TRUE(p1.Names().empty());

    // A refused change notifies nobody.
    p0.Clear();
    rig.host.result = 0;
    ASSERT_TRUE(p0.Request(kMsgSetItemReq, testhost::Clone(changed), kMsgSetItemResp, reply));
    EXPECT_EQ(ResultOf<ccDBSetItemResp>(reply), 0);
    rig.host.result = 1;

    // "DB::SETITEM" is not answered but still notifies.
    kora::cMsg quiet(kMsgSetItem);
    quiet.AssignObject(testhost::Clone(SshIn(dir, "c")));
    ASSERT_TRUE(p0.Send(quiet));
    auto names = p0.WaitFor(5);
    for (const auto& r : names) EXPECT_NE(r.name, kMsgSetItemResp);
    EXPECT_EQ(names.front().name, kMsgCollectionSyncInit);

    // After deregistration (the single-colon name), changes send nothing.
    p0.Clear();
    auto* dereg = Make<ccDBDeRegCollectionReq>([&](ccDBDeRegCollectionReq& r) { r.Path = dir; });
    ASSERT_TRUE(p0.Request(kMsgDeRegCollectionReq, dereg, kMsgDeRegCollectionResp, reply));
    EXPECT_EQ(ResultOf<ccDBDeRegCollectionResp>(reply), 1);
    // The two-colon spelling is not a request the server knows.
    kora::cMsg wrong("DB::DEREGCOLLECTIONREQ");
    EXPECT_FALSE(p0.SendSync(wrong, reply, 300, kMsgDeRegCollectionResp));
    ASSERT_TRUE(
        p0.Request(kMsgSetItemReq, testhost::Clone(SshIn(dir, "d")), kMsgSetItemResp, reply));
    EXPECT_TRUE(p0.Names().empty());
}

TEST(DataServer, RenameNotifiesInOrder) {
    Rig rig("rename");
    rig.host.Put(SshIn("/A/", "old"));
    rig.host.Put(SshIn("/X/", "x"));
    rig.host.Put(SshIn("/Y/", "y"));
    rig.host.renameAlsoChanged = {"/Y/y", "/X/x"};
    Probe& p = rig.probe();
    kora::cMsg reply;
    for (const char* path : {"/A/", "/X/", "/Y/"}) {
        auto* req = Make<ccDBRegCollectionReq>([&](ccDBRegCollectionReq& r) { r.Path = path; });
        ASSERT_TRUE(p.Request(kMsgRegCollectionReq, req, kMsgRegCollectionResp, reply));
    }
    p.WaitFor(9);
    p.Clear();
    auto* req = Make<ccDBRenameItemReq>([](ccDBRenameItemReq& r) {
        r.Directory = "/A/";
        r.Name = "old";
        r.NewName = "new";
    });
    ASSERT_TRUE(p.Request(kMsgRenameItemReq, req, kMsgRenameItemResp, reply));
    EXPECT_EQ(ResultOf<ccDBRenameItemResp>(reply), 1);
    // Four notifications: the host's paths in order, then the old and the new path.
    auto got = p.WaitFor(12);
    std::vector<std::string> order;
    for (const auto& r : got)
        if (r.name == kMsgCollectionSyncInit)
            order.push_back(dynamic_cast<ccDBSyncInit*>(r.payload.get())->Path);
    EXPECT_EQ(order, (std::vector<std::string>{"/X/", "/Y/", "/A/", "/A/"}));
}

TEST(DataServer, SnapshotIsOneAtATime) {
    Rig rig("snapshot", 2);
    auto snap = [](const char* path) {
        return Make<ccDBSnapshotReq>([&](ccDBSnapshotReq& r) { r.Filepath = path; });
    };
    // The host accepts: no answer until it calls SendSnapshotResp.
    kora::cMsg first(kMsgSnapshotReq);
    first.AssignObject(snap("/tmp/s1"));
    ASSERT_TRUE(rig.probe(0).Send(first));
    for (int i = 0; i < 1000 && rig.host.CountCalls("CreateSnapshot") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    {
        kora::cDispatchLock g = rig.serverService.LockDispatch();
        EXPECT_NE(rig.server->SnapshotRequester(), nullptr);
        EXPECT_EQ(rig.server->SnapshotPath(), "/tmp/s1");
    }
    // A second request is refused at once without reaching the host.
    kora::cMsg reply;
    ASSERT_TRUE(rig.probe(1).Request(kMsgSnapshotReq, snap("/tmp/s2"), kMsgSnapshotResp, reply));
    EXPECT_EQ(ResultOf<ccDBSnapshotResp>(reply), 0);
    EXPECT_EQ(rig.host.CountCalls("CreateSnapshot"), 1u);

    // A dump cycle meanwhile skips the requester.
    {
        kora::cDispatchLock g = rig.serverService.LockDispatch();
        rig.server->SendDumpRequest("/dump");
        EXPECT_EQ(rig.server->DumpPendingChannels().size(), 1u);
    }
    for (int i = 0; i < 1000 && rig.host.CountCalls("DumpFinished") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(rig.host.CountCalls("DumpFinished"), 1u);  // ended by the one answer

    {
        kora::cDispatchLock g = rig.serverService.LockDispatch();
        rig.server->SendSnapshotResp(1);
        EXPECT_EQ(rig.server->SnapshotRequester(), nullptr);
        EXPECT_EQ(rig.server->SnapshotPath(), "");
    }
    auto got = rig.probe(0).WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, kMsgSnapshotResp);

    // A refused snapshot is answered at once and clears the requester.
    rig.host.snapshotResult = -1;
    ASSERT_TRUE(rig.probe(1).Request(kMsgSnapshotReq, snap("/tmp/s3"), kMsgSnapshotResp, reply));
    EXPECT_EQ(ResultOf<ccDBSnapshotResp>(reply), -1);
    kora::cDispatchLock g = rig.serverService.LockDispatch();
    EXPECT_EQ(rig.server->SnapshotRequester(), nullptr);
}

TEST(DataServer, DumpCycleEndsByTimerWithoutAnswers) {
    Rig rig("dumptimer");
    rig.probe().answerDumps = false;
    {
        kora::cDispatchLock g = rig.serverService.LockDispatch();
        rig.server->SendDumpRequest("/d");
    }
    auto got = rig.probe().WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, kMsgDumpReq);
    EXPECT_EQ(dynamic_cast<ccDumpReq*>(got[0].payload.get())->Path, "/d");
    for (int i = 0; i < 4000 && rig.host.CountCalls("DumpFinished") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(rig.host.CountCalls("DumpFinished"), 1u);
}

TEST(DataServer, RebootAndChannelClose) {
    Rig rig("reboot", 2);
    kora::cMsg reboot(kMsgRebootReq);
    ASSERT_TRUE(rig.probe(0).Send(reboot));
    {
        kora::cDispatchLock g = rig.serverService.LockDispatch();
        rig.server->SendRebootNotification();
    }
    for (size_t i = 0; i < 2; ++i) {
        auto got = rig.probe(i).WaitFor(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].name, kMsgRebootNotification);
    }
    for (int i = 0; i < 1000 && rig.host.CountCalls("Reboot") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(rig.host.CountCalls("Reboot probe"), 1u);  // the announced identity
    // A client that goes away leaves the server's tables.
    rig.probe(1).Stop();
    for (int i = 0; i < 1000 && rig.Connected() != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(rig.Connected(), 1u);
}

TEST(DataServer, NullProtocolHandlesNothing) {
    kora::cService service(ServiceName("null"));
    cDataServer server(&service, nullptr);
    kora::cMsg msg(kMsgRestoreReq);
    EXPECT_FALSE(server.ProcessMsg(msg));
}

// Names that only the framework or the server itself produce change nothing
// when a peer sends them: the channel stays known, no dump cycle ends.
TEST(DataServer, LocalNamesFromAPeerChangeNothing) {
    Rig rig("local", 2);
    Probe& p0 = rig.probe(0);
    kora::cMsg reply;
    auto* reg = Make<ccDBRegCollectionReq>([](ccDBRegCollectionReq& r) { r.Path = "/A/"; });
    ASSERT_TRUE(p0.Request(kMsgRegCollectionReq, reg, kMsgRegCollectionResp, reply));
    p0.WaitFor(2);
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
        if (c.duringDump) {
            kora::cDispatchLock g = rig.serverService.LockDispatch();
            rig.server->SendDumpRequest("/d");
        }
        kora::cMsg local(c.name);
        ASSERT_TRUE(p0.Send(local));
        // A request behind it: once answered, the name above was handled.
        auto* again = Make<ccDBRegCollectionReq>([](ccDBRegCollectionReq& r) { r.Path = "/B/"; });
        ASSERT_TRUE(p0.Request(kMsgRegCollectionReq, again, kMsgRegCollectionResp, reply));
        kora::cDispatchLock g = rig.serverService.LockDispatch();
        EXPECT_EQ(rig.server->RegisteredChannels("/A/").size(), 1u);
        EXPECT_EQ(rig.server->ConnectedChannels().size(), 2u);
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
        kora::cService service(ServiceName("features"));
        cDataServer server(&service, &host);
        ASSERT_TRUE(service.Serve() && service.Start());

        // The feature set as it is, and one with a feature added.
        cDBFeatureList list;
        kora::cSerializeBuffer before;
        list.Serialize(before);
        cDBFeatureList::AddFeature("Injected");
        const std::string injected =
            RawFrame(2, "DB::NOSUCHREQ", &list) + RawFrame(3, kMsgGetItemReq, &list);
        list.Deserialize(before);  // back as it was
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
    Host host;
    kora::cService serverService(ServiceName("creds")), clientService(ServiceName("creds-c"));
    cDataServer server(&serverService, &host);
    host.server = &server;
    ASSERT_TRUE(serverService.ServeInProcess() && serverService.Start() && clientService.Start());
    Probe probe(&clientService, serverService.Name());
    probe.Start();
    ASSERT_TRUE(probe.WaitConnected());
    kora::cMsg reply;
    ASSERT_TRUE(probe.Request(kMsgRestoreReq, nullptr, kMsgRestoreResp, reply));
    EXPECT_EQ(ResultOf<ccDBRestoreResp>(reply), 1);
    EXPECT_TRUE(host.during);
    EXPECT_TRUE(host.seen.known);
    EXPECT_EQ(host.seen.uid, ::getuid());
    EXPECT_EQ(host.seen.pid, uint32_t(::getpid()));
    kora::cDispatchLock g = serverService.LockDispatch();
    EXPECT_EQ(server.RequestCredentials(), nullptr);
    EXPECT_EQ(server.RequestChannel(), nullptr);
    g.Unlock();
    probe.Stop();
}
