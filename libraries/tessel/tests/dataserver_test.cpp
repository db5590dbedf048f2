// cDataServer over the in-process transport: every request from a cDataClient
// through to the host and back, what a bare client can send, the channel
// registry, notifications, dump cycles and the snapshot rule.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "fake_dataserver.h"
#include "wire.h"

using namespace tessel;
using fakeserver::Make;
using testhost::MemoryHost;
using testhost::Probe;
using testhost::WaitUntil;

namespace {

using Rig = fakeserver::ServedRig<>;

kora::Ref<cDBConfigSSH> SshIn(const char* dir, const char* name) {
    return kora::Ref<cDBConfigSSH>::Adopt(Make<cDBConfigSSH>([&](cDBConfigSSH& s) {
        s.SetDir(dir);
        s.SetName(name);
    }));
}

// A rename or duplicate request (both carry directory, name and new name).
template <class R>
R* Move(const char* dir, const char* name, const char* newName) {
    return Make<R>([&](R& r) {
        r.Directory = dir;
        r.Name = name;
        r.NewName = newName;
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

// A feature list whose binary form names "Injected", a feature this process
// lacks: reading it anywhere would replace the process's feature set.
struct InjectingList : cDBFeatureList {
    bool Serialize(kora::cSerializeBuffer& b) const override {
        const std::string bytes = testwire::W("v1 s:FeatureList s:/Features/ u32:1 s:Injected");
        b.Write(bytes.data(), unsigned(bytes.size()));
        return true;
    }
};

}  // namespace

// Every request with a result code from the client: what reaches the host,
// and the host's code back to the caller, success or refusal; then requests
// answered with objects or values, and those without an answer. Nothing
// outlives the exchanges.
TEST(DataServer, EveryRequestFromTheClientThroughTheHost) {
    const size_t live = kora::GC::LiveCount();
    {
        Rig rig;
        cDataClient& c = *rig.client;
        auto item = kora::Ref<cDBLogUnit>::Adopt(Make<cDBLogUnit>([](cDBLogUnit& u) {
            u.SetDir("/Config/X/");
            u.SetName("VPN");
        }));
        auto value = kora::Ref<kora::s_string>::Adopt(kora::New<kora::s_string>("on"));
        kora::cTime from, to;
        from.FromSeconds(100);
        to.FromSeconds(200);
        const std::pair<std::function<kora::s_int8()>, std::string> rows[] = {
            {[&] { return c.SetItem(item.get(), true); }, "SetItem /Config/X/VPN"},
            {[&] { return c.DeleteItem("/Config/X/VPN"); }, "DeleteItem /Config/X/VPN"},
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
        EXPECT_EQ(item->GetRefCount(), 1);
        EXPECT_EQ(value->GetRefCount(), 1);
        rig.host.snapshotResult = -2;  // answered at once (see SnapshotIsOneAtATime)
        EXPECT_EQ(c.CreateSnapshot("/tmp/snap"), -2);
        rig.host.result = 1;

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
        } auths[] = {
            {"ann", "secret", true, 3}, {"ann", "wrong", false, 0}, {"zed", "x", false, 0}};
        for (const auto& a : auths) {
            kora::s_uint8 level = 9;
            EXPECT_EQ(c.AuthenticateUser(a.user, a.password, level), a.accepted) << a.password;
            EXPECT_EQ(level, a.level) << a.password;
        }

        // Requests without an answer reach the host before a later request; the
        // log overloads fill object and user, the client its peer, texts are cut.
        rig.host.ClearCalls();
        c.SetItem(&unit, false);
        c.Reboot();
        c.Log("VPN", 3, "T", "tunnel up", 1);
        ccDBGetItemReq object;
        object.Path = "/Config/X/item";
        c.Log("WAN", 1, "T", std::string(250, 'x'), 1);
        c.Log("WAN", 1, "T", "user", kora::s_string("alice"), 1);
        c.Log("WAN", 1, "T", "object", object, 1);
        c.Log("WAN", 1, "T", "both", object, "bob", -1);
        from.FromSeconds(50);
        kora::Ref<cDBLogResult> log = kora::Ref<cDBLogResult>::Adopt(
            dynamic_cast<cDBLogResult*>(c.ReadLog(from, "VPN", 2, 20, 99)));
        ASSERT_TRUE(log);
        ASSERT_EQ(log->GetEntries().size(), 1u);
        EXPECT_EQ(log->GetEntries().begin()->second.GetText(), "tunnel up");
        const std::string peer = rig.clientService.Name().substr(0, cDBLogItem::kMaxPeer);
        const std::string shown = "|ccDBGetItemReq:Path:/Config/X/item|" + peer + "|";
        EXPECT_EQ(rig.host.Calls(),
                  (std::vector<std::string>{
                      "SetItem /Log/Units/VPN", "SyncCollection /Log/Units/", "Reboot dataClient",
                      "Log VPN 3 T tunnel up||" + peer + "||1",
                      "Log WAN 1 T " + std::string(200, 'x') + "||" + peer + "||1",
                      "Log WAN 1 T user||" + peer + "|alice|1", "Log WAN 1 T object" + shown + "|1",
                      "Log WAN 1 T both" + shown + "bob|-1", "ReadLog 50 VPN 2 20 99"}));
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);
}

// A request without its payload, or with one of another class, gets a failure
// answer (or an empty reply) and never reaches the host; a payload is not even
// read unless its request takes that class, nor under a name nobody handles.
TEST(DataServer, MissingOrWrongPayloadsAreRefusedUnread) {
    Rig rig(1, false);
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
    // A feature list under a name nobody handles, in place of another class,
    // as an item to store or a flag's value: the server's features stay its own.
    auto* flag = kora::New<ccDBSetFlagReq>();
    flag->Name = "f";
    flag->SetSObject(kora::Ref<InjectingList>::Adopt(kora::New<InjectingList>()).get());
    const std::pair<const char*, kora::ISerialize*> strays[] = {
        {"DB::NOSUCHREQ", kora::New<InjectingList>()},
        {kMsgGetItemReq, kora::New<InjectingList>()},
        {kMsgSetItem, kora::New<InjectingList>()},
        {kMsgSetFlagReq, flag}};
    for (const auto& stray : strays) {
        kora::cMsg msg(stray.first);
        msg.AssignObject(stray.second);
        ASSERT_TRUE(rig.probe().Send(msg));
    }
    EXPECT_EQ(rig.Result(kMsgRestoreReq, nullptr, kMsgRestoreResp), 1);  // after the others
    EXPECT_FALSE(cDBFeatureList::HasFeature("Injected"));
}

// Registration answers 1 and is followed by the sync sequence on that
// channel; changes re-sync exactly the collections of the changed directory.
TEST(DataServer, RegistrationSyncAndNotification) {
    Rig rig(2, false);
    const char* dir = "/Config/Network/Firewall/PortForwarding/";
    auto set = [&](const char* name) {
        return rig.Result(kMsgSetItemReq, SshIn(dir, name).Detach(), kMsgSetItemResp);
    };
    rig.host.Put(*SshIn(dir, "a"));
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
    EXPECT_EQ(set("b"), 1);
    EXPECT_EQ(p0.WaitFor(4).size(), 4u);  // init, a, b, end
    EXPECT_TRUE(p1.Names().empty());

    // A refused change notifies nobody; "DB::SETITEM" is not answered but
    // still notifies.
    p0.Clear();
    rig.host.result = 0;
    EXPECT_EQ(set("b"), 0);
    rig.host.result = 1;
    kora::cMsg quiet(kMsgSetItem);
    quiet.AssignObject(SshIn(dir, "c").Detach());
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
    EXPECT_EQ(set("d"), 1);
    EXPECT_TRUE(p0.Names().empty());

    // A rename notifies the host's further paths in order, then the old and
    // the new path; a duplicate the new one.
    rig.host.Put(*SshIn("/A/", "old"));
    rig.host.renameAlsoChanged = {"/Y/y", "/X/x"};
    for (const char* path : {"/A/", "/X/", "/Y/"}) ASSERT_EQ(rig.Register(path), 1);
    p0.WaitFor(7);  // init and end of each, and the item under /A/
    p0.Clear();
    EXPECT_EQ(rig.Result(kMsgRenameItemReq, Move<ccDBRenameItemReq>("/A/", "old", "new"),
                         kMsgRenameItemResp),
              1);
    // Each sync: init, the items of the directory, end.
    EXPECT_EQ(SyncedPaths(p0.WaitFor(10)), (std::vector<std::string>{"/X/", "/Y/", "/A/", "/A/"}));
    p0.Clear();
    EXPECT_EQ(rig.Result(kMsgDuplicateItemReq, Move<ccDBDuplicateItemReq>("/A/", "new", "copy"),
                         kMsgDuplicateItemResp),
              1);
    EXPECT_EQ(SyncedPaths(p0.WaitFor(3)), std::vector<std::string>{"/A/"});
}

TEST(DataServer, SnapshotIsOneAtATime) {
    Rig rig(2, false);
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
    rig.probe(0).WaitFor(1);
    EXPECT_EQ(rig.probe(0).Names(), std::vector<std::string>{kMsgSnapshotResp});

    // A refused snapshot is answered at once and clears the requester.
    rig.host.snapshotResult = -1;
    EXPECT_EQ(rig.Result(kMsgSnapshotReq, snap("/tmp/s3"), kMsgSnapshotResp, 1), -1);
    rig.Locked([](cDataServer& s) { EXPECT_EQ(s.SnapshotRequester(), nullptr); });
}

// The server takes note of a client's arrival and departure and leaves both
// messages to the host's own sinks: no trace calls them not handled.
TEST(DataServer, RebootAndChannelClose) {
    auto unhandled = std::make_shared<std::atomic<int>>(0);
    kora::cTracepoint::SetHandler([unhandled](const kora::cTraceRecord& record) {
        if (record.text == "message not handled") ++*unhandled;
    });
    Rig rig(2, false);
    rig.Locked([](cDataServer& s) { s.SendRebootNotification(); });
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(rig.probe(i).WaitFor(kMsgRebootNotification).size(), 1u) << i;
    // A client that goes away leaves the server's tables.
    rig.probe(1).Stop();
    EXPECT_TRUE(WaitUntil([&] { return rig.Connected() == 1; }));
    kora::cTracepoint::SetHandler({});
    EXPECT_EQ(*unhandled, 0);

    kora::cService service(fakeserver::UniqueName("null"));
    cDataServer withoutHost(&service, nullptr);
    kora::cMsg msg(kMsgRestoreReq);
    EXPECT_FALSE(withoutHost.ProcessMsg(msg));
}

// Names that only the framework or the server itself produce change nothing
// when a peer sends them: the channel stays known, no dump cycle ends. The
// cycle a client leaves unanswered ends by the timer.
TEST(DataServer, LocalNamesFromAPeerChangeNothingAndDumpsEndByTimer) {
    Rig rig(2, false);
    ASSERT_EQ(rig.Register("/A/"), 1);
    rig.probe(0).WaitFor(2);
    rig.probe(1).answerDumps = false;
    // Each name, and whether a dump cycle runs when it comes.
    const std::pair<const char*, bool> cases[] = {
        {kora::kChannelClosedMsg, false}, {kMsgDumpTimeout, true}, {kMsgDumpRes, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        if (c.second) rig.Locked([](cDataServer& s) { s.SendDumpRequest("/d"); });
        kora::cMsg local(c.first);
        ASSERT_TRUE(rig.probe(0).Send(local));
        // A request behind it: once answered, the name above was handled.
        ASSERT_EQ(rig.Register("/B/"), 1);
        rig.Locked([&](cDataServer& s) {
            EXPECT_EQ(s.RegisteredChannels("/A/").size(), 1u);
            EXPECT_EQ(s.ConnectedChannels().size(), 2u);
        });
        EXPECT_EQ(rig.host.CountCalls("DumpFinished"), 0u);
    }
    auto dump = rig.probe(1).WaitFor(kMsgDumpReq);
    ASSERT_EQ(dump.size(), 1u);
    EXPECT_EQ(dynamic_cast<ccDumpReq*>(dump[0].payload.get())->Path, "/d");
    EXPECT_TRUE(WaitUntil([&] { return rig.host.CountCalls("DumpFinished") == 1; }, 20000));
}

// A host sees who sent the request it handles: the kernel's credentials of
// the requesting process, available only while the request is handled.
TEST(DataServer, HostSeesTheCredentialsOfTheRequester) {
    struct Host : MemoryHost {
        cDataServer* server = nullptr;
        kora::cPeerCredentials seen;
        kora::s_int8 Restore() override {
            const kora::cPeerCredentials* who = server->RequestCredentials();
            if (!who || !server->RequestChannel()) return 0;
            seen = *who;
            // A host granting this to one group only would refuse here.
            return who->InGroup(::getgid()) ? 1 : 0;
        }
    };
    fakeserver::ServedRig<Host> rig(1, false);
    rig.host.server = rig.server.get();
    EXPECT_EQ(rig.Result(kMsgRestoreReq, nullptr, kMsgRestoreResp), 1);
    EXPECT_TRUE(rig.host.seen.known);
    EXPECT_EQ(rig.host.seen.uid, ::getuid());
    EXPECT_EQ(rig.host.seen.pid, uint32_t(::getpid()));
    rig.Locked([](cDataServer& s) {
        EXPECT_EQ(s.RequestCredentials(), nullptr);
        EXPECT_EQ(s.RequestChannel(), nullptr);
    });
}
