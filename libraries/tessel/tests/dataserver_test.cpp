// cDataServer over the in-process transport: the dispatch table, the channel
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
using testwire::Wire;

namespace {

// One served data server and a set of probe clients in this process.
struct Rig {
    explicit Rig(size_t clients = 1)
        : serverService(fakeserver::UniqueName("srv")),
          clientService(fakeserver::UniqueName("srv-c")) {
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
        EXPECT_TRUE(WaitUntil([&] { return Connected() == clients; }));
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

    MemoryHost host;
    kora::cService serverService, clientService;
    std::unique_ptr<cDataServer> server;
    std::vector<std::unique_ptr<Probe>> probes;
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

}  // namespace

// Every request with a result code, its payload given in the form the object
// factory writes: the host call it makes and the answer it gets; a host
// refusal travels back unchanged.
TEST(DataServer, ResultCodeRequests) {
    Rig rig;
    const struct {
        const char* request;
        Wire payload;
        const char* reply;
        const char* hostCall;
    } cases[] = {
        {kMsgCreateRestorePointReq, Wire(), kMsgCreateRestorePointResp, "CreateRestorePoint"},
        {kMsgRestoreReq, Wire(), kMsgRestoreResp, "Restore"},
        {kMsgConfirmConfigReq, Wire(), kMsgConfirmConfigResp, "ConfirmConfig"},
        {kMsgFallbackConfigReq, Wire(), kMsgFallbackConfigResp, "FallbackConfig"},
        {kMsgFactoryResetReq, Wire(), kMsgFactoryResetResp, "FactoryReset"},
        {kMsgConfigImportReq, Wire().Str("ccDBConfigImportReq").Version(1).Str("/in").Bool(true),
         kMsgConfigImportResp, "ImportConfig /in fallback"},
        {kMsgStatusExportReq, Wire().Str("ccDBStatusExportReq").Version(1).Str("/x"),
         kMsgStatusExportResp, "ExportStatus /x"},
        {kMsgFlagsExportReq, Wire().Str("ccDBFlagsExportReq").Version(1).Str("/x"),
         kMsgFlagsExportResp, "ExportFlags /x"},
        {kMsgLogExportReq,
         Wire()
             .Str("ccDBLogExportReq")
             .Version(1)
             .U64(0)
             .U64(0)
             .U32(2)
             .Str("VPN")
             .Str("WAN")
             .U8(1)
             .Str("/log"),
         kMsgLogExportResp, "ExportLog 2 /log"},
        {kMsgAddUserReq,
         Wire().Str("ccDBAddUserReq").Version(2).Str("bob").Str("pw").U8(2).U8(1).U8(9),
         kMsgAddUserResp, "AddUser bob 2 1 9"},
        {kMsgSetPasswordReq, Wire().Str("ccDBSetPasswordReq").Version(2).Str("bob").Str("pw").U8(2),
         kMsgSetPasswordResp, "SetPassword bob 2"},
        {kMsgSetFlagReq,
         Wire().Str("ccDBSetFlagReq").Version(1).Str("g").Bool(true).Str("s_uint32").U32(7),
         kMsgSetFlagResp, "SetFlag g s_uint32"},
        {kMsgDeleteFlagReq, Wire().Str("ccDBDeleteFlagReq").Version(1).Str("g"), kMsgDeleteFlagResp,
         "DeleteFlag g"},
        {kMsgDeleteUserReq, Wire().Str("ccDBDeleteUserReq").Version(1).Str("bob"),
         kMsgDeleteUserResp, "DeleteUser bob"},
    };
    for (int code : {1, -3}) {
        rig.host.result = static_cast<int8_t>(code);
        for (const auto& c : cases) {
            rig.host.ClearCalls();
            kora::cSerializeBuffer b = c.payload.Buffer();
            kora::ISerialize* payload = b.Size() ? kora::cObjectFactory::Deserialize(b) : nullptr;
            EXPECT_EQ(rig.Result(c.request, payload, c.reply), code) << c.request;
            EXPECT_EQ(rig.host.Calls(), std::vector<std::string>{c.hostCall}) << c.request;
        }
    }
}

TEST(DataServer, ObjectAnswersAndAuthentication) {
    Rig rig;
    rig.host.Put(*kora::Ref<cDBConfigSSH>::Adopt(SshIn("/Config/SSH/", "SSHConfig")));
    rig.host.users["ann"] = {"secret", 3};
    rig.host.flags["f"] = kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_string>("v"));
    Probe& p = rig.probe();
    kora::cMsg reply;
    auto get = [](const char* path) {
        return Make<ccDBGetItemReq>([&](ccDBGetItemReq& r) { r.Path = path; });
    };
    ASSERT_TRUE(p.Request(kMsgGetItemReq, get("/Config/SSH/SSHConfig"), kMsgGetItemResp, reply));
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

    const struct {
        const char *user, *password;
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

    // Logging, then reading the log back on the same connection.
    kora::cMsg log(kMsgLogReq);
    log.AssignObject(Make<cDBLogItem>([](cDBLogItem& e) {
        e.SetUnit("VPN");
        e.SetText("tunnel up");
    }));
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
    Rig rig;
    const struct {
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
            auto* resp = reply.GetObject<ccDBResp>();
            if (c.resultAnswer) {
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
    Host host;
    kora::cService serverService(fakeserver::UniqueName("creds")),
        clientService(fakeserver::UniqueName("creds-c"));
    cDataServer server(&serverService, &host);
    host.server = &server;
    ASSERT_TRUE(serverService.ServeInProcess() && serverService.Start() && clientService.Start());
    Probe probe(&clientService, serverService.Name());
    probe.Start();
    ASSERT_TRUE(probe.WaitConnected());
    kora::cMsg reply;
    ASSERT_TRUE(probe.Request(kMsgRestoreReq, nullptr, kMsgRestoreResp, reply));
    ASSERT_NE(reply.GetObject<ccDBRestoreResp>(), nullptr);
    EXPECT_EQ(reply.GetObject<ccDBRestoreResp>()->Result, 1);
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
