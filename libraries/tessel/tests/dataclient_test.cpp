// cDataClient against a fake data server over the in-process transport: the
// connect and close sequences, the request forms the fake checks, collection
// registration and syncs, dumps, the logbook, and answers only a faulty server
// gives. Every request through the real server is in dataserver_test.cpp.
//
// Not covered: a server that stays silent. The client waits at least 30 s
// for an answer, which is too long for a unit test; the failure values are
// covered by a client without a connection and by answers of the wrong class.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <sstream>

#include "fake_dataserver.h"
#include "golden_sample.h"
#include "wire.h"

using namespace tessel;
using fakeserver::Events;
using fakeserver::Make;
using fakeserver::Recorder;
using fakeserver::Rig;
using testwire::W;

namespace {

// The payload of the one request the server received under `name`, as the
// object factory writes it (type name, then the object's own form); empty
// for none.
std::string OnlySent(Rig& rig, const std::string& name) {
    auto got = rig.server->Named(name);
    EXPECT_EQ(got.size(), 1u) << name;
    if (got.empty()) return "?";
    return got.back().payload ? golden::WireOf(*got.back().payload) : "";
}

// An answer of the registered class `cls` (one of ccDBResp's) carrying `code`.
std::function<kora::ISerialize*()> Resp(const std::string& cls, int code) {
    return [cls, code] {
        kora::ISerialize* r = kora::cObjectFactory::CreateObject(cls);
        dynamic_cast<ccDBResp&>(*r).Result = static_cast<int8_t>(code);
        return r;
    };
}

template <class P>
kora::cMsg PathMsg(const char* name, const std::string& path) {
    kora::cMsg msg(name);
    msg.AssignObject(Make<P>([&](P& p) { p.Path = path; }));
    return msg;
}

kora::cMsg UnitMsg(const std::string& name, const std::string& dir, unsigned level = 1) {
    kora::cMsg msg(kMsgCollectionSyncItem);
    msg.AssignObject(Make<cDBLogUnit>([&](cDBLogUnit& u) {
        u.SetName(name);
        u.SetDir(dir);
        u.SetLevel(level);
    }));
    return msg;
}

// A full sync of the client's log units, handed to it as its service would.
void SyncLogUnits(Rig& rig, const std::vector<std::pair<std::string, unsigned>>& units) {
    kora::cDispatchLock g = rig.clientService.LockDispatch();
    kora::cMsg init = PathMsg<ccDBSyncInit>(kMsgCollectionSyncInit, "/Log/Units/");
    rig.client->DispatchMessage(init);
    for (auto& u : units) {
        kora::cMsg item = UnitMsg(u.first, "/Log/Units/", u.second);
        rig.client->DispatchMessage(item);
    }
    kora::cMsg end = PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, "/Log/Units/");
    rig.client->DispatchMessage(end);
}

// A request/answer round trip: everything the client sent before has reached
// the server once it returns.
void RoundTrip(Rig& rig) {
    rig.server->AnswerWith(kMsgDeleteItemReq, kMsgDeleteItemResp, Resp("ccDBDeleteItemResp", 1));
    ASSERT_EQ(rig.client->DeleteItem("/RoundTrip/x"), 1);
}

// The entries the server received, as "unit level type success text".
std::vector<std::string> LoggedEntries(Rig& rig) {
    std::vector<std::string> out;
    for (auto& r : rig.server->Named(kMsgLogReq)) {
        const auto* e = dynamic_cast<const cDBLogItem*>(r.payload.get());
        out.push_back(e ? kora::FormatString("%s %u %s %d %s", e->GetUnit().c_str(),
                                             unsigned(e->GetLevel()), e->GetType().c_str(),
                                             int(e->GetSuccess()), e->GetText().c_str())
                        : "?");
    }
    return out;
}

// A service object that takes the client's events itself.
class SelfHostedService : public kora::cService, public Events {
  public:
    SelfHostedService() : kora::cService(fakeserver::UniqueName("sh")) {}
};

}  // namespace

TEST(DataClient, WithoutCallbackEveryMessageIsRefusedAndTraced) {
    std::mutex lock;
    std::vector<kora::cTraceRecord> traces;
    kora::cTracepoint::SetHandler([&](const kora::cTraceRecord& r) {
        std::lock_guard<std::mutex> g(lock);
        if (r.module == "DTCL") traces.push_back(r);
    });
    {
        kora::cService service(fakeserver::UniqueName("nc"));
        cDataClient client(&service, nullptr, 0, "nowhere");
        EXPECT_EQ(client.GetCallback(), nullptr);
        for (const char* name : {kMsgOnConnect, kMsgOnClose, kMsgCollectionSyncInit,
                                 kMsgCollectionSyncEnd, kMsgRebootNotification, kMsgDumpReq}) {
            kora::cMsg msg(name);
            EXPECT_FALSE(client.DispatchMessage(msg)) << name;
        }
    }
    kora::cTracepoint::SetHandler({});
    ASSERT_EQ(traces.size(), 6u);
    for (auto& t : traces) {
        EXPECT_EQ(t.version + " " + std::to_string(t.level) + " " + t.text + t.detail,
                  "001 1 DataClient Protocoll unavailable (==NULL)");
    }
}

// Without a server: the timeout's floor, the names the client takes, every
// operation failing, and a callback taken from the service itself.
TEST(DataClient, WithoutAServer) {
    kora::cService service(fakeserver::UniqueName("nx"));
    Events events;
    for (auto c : {std::pair<unsigned, unsigned>{0, 30000}, {30000, 30000}, {30001, 30001}}) {
        cDataClient client(&service, &events, c.first, "nowhere");
        EXPECT_EQ(client.GetTimeout(), c.second) << c.first;
    }
    cDataClient client(&service, &events, 0, "nowhere");
    const std::pair<const char*, bool> names[] = {
        {"DB::COLLECTIONSYNEND", true},   {"DB::COLLECTIONSYNCEND", false},
        {"db::collectionsynend", false},  {"DB::COLLECTIONSYNEND ", false},
        {"DB::COLLECTIONSYNCINIT", true}, {"DB::COLLECTIONSYNCITEM", true},
        {"DB::REBOOTNOTIFICATION", true}, {"DB::DUMP-REQ", true},
        {"DB::DUMP-RES", false},          {"", false}};
    for (auto& c : names) {
        kora::cMsg msg(c.first);  // no payload: matched branches still count as handled
        EXPECT_EQ(client.DispatchMessage(msg), c.second) << c.first;
    }
    EXPECT_EQ(events.Seen(), std::vector<std::string>{"reboot"});

    kora::Ref<cDBLogUnit> item = kora::Ref<cDBLogUnit>::Adopt(kora::New<cDBLogUnit>());
    EXPECT_EQ(client.GetItem("/Log/Units/VPN"), nullptr);
    EXPECT_EQ(client.SetItem(item.get(), true), 0);
    EXPECT_EQ(client.SetItem(item.get(), false), 1);  // not waiting: nothing to report
    EXPECT_EQ(client.SetItem(nullptr, true), 0);
    EXPECT_EQ(item->GetRefCount(), 1);
    EXPECT_EQ(client.DeleteItem("/a/b"), 0);
    EXPECT_EQ(client.GetFactoryConfigInfo(), (std::pair<kora::s_string, kora::s_string>()));
    kora::s_uint8 level = 9;
    EXPECT_FALSE(client.AuthenticateUser("admin", "pw", level));
    EXPECT_EQ(level, 0);
    client.Reboot();
    client.Log("VPN", 3, "T", "text", 1);
    Recorder* c = new Recorder("/Config/", events);
    EXPECT_FALSE(client.RegisterCollection(c));
    EXPECT_EQ(client.GetCollection("/Config/"), nullptr);
    delete c;  // a refused collection stays the caller's
    EXPECT_EQ(events.Count("deleted /Config/"), 1u);

    SelfHostedService host;
    cDataClient hosted(&host, nullptr, 0, "nowhere");
    kora::cMsg reboot(kMsgRebootNotification);
    EXPECT_TRUE(hosted.DispatchMessage(reboot));
    EXPECT_EQ(host.Count("reboot"), 1u);
}

// ---- Connection ----

TEST(DataClient, ConnectRegistersLogUnitsAndReadsFeatureList) {
    Rig rig(false);
    rig.server->AnswerWith(kMsgGetItemReq, kMsgGetItemResp,
                           [] { return kora::New<cDBFeatureList>(); });
    rig.Connect();
    const std::vector<std::string> names = {"DATA::CLIENT-ON-CONNECT", "DB::REGCOLLECTIONREQ",
                                            "DB::GETITEMREQ"};
    EXPECT_EQ(rig.server->Names(), names);
    // The client announces its own name when given no identity.
    auto* hello = dynamic_cast<kora::s_peerinfo*>(rig.server->All()[0].payload.get());
    ASSERT_NE(hello, nullptr);
    EXPECT_EQ(hello->Identity, "dataClient");
    EXPECT_EQ(OnlySent(rig, "DB::REGCOLLECTIONREQ"), W("s:ccDBRegCollectionReq v1 s:/Log/Units/"));
    EXPECT_EQ(OnlySent(rig, "DB::GETITEMREQ"), W("s:ccDBGetItemReq v1 s:/Features/FeatureList"));
    EXPECT_EQ(rig.events.Seen(), std::vector<std::string>{"connect"});
    EXPECT_EQ(rig.client->GetFeatureList().GetPath(), "/Features/FeatureList");
}

TEST(DataClient, RefusedLogUnitRegistrationStopsTheClient) {
    for (int code : {0, -1, 2}) {
        Rig rig(false);
        rig.server->regResult = code;
        rig.client->Start();
        ASSERT_TRUE(rig.events.WaitFor("close")) << code;
        EXPECT_EQ(rig.events.Count("connect"), 0u) << code;
        EXPECT_FALSE(rig.client->IsConnected()) << code;
        EXPECT_TRUE(rig.server->Named(kMsgGetItemReq).empty()) << code;
    }
}

// Losing the server deletes the collections too (see e2e_connection_test.cpp).
TEST(DataClient, DestructionDeletesRegisteredCollections) {
    Rig rig;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/C/", rig.events)));
    rig.client.reset();
    EXPECT_EQ(rig.events.Count("deleted /Config/C/"), 1u);
}

// ---- Answers ----
// What each request makes the host do and hands back is in dataserver_test.cpp,
// through the server itself; here, answers only a faulty server gives.

// An answer of another class than the request's, or none, counts as no
// answer; only a result of 1 grants an access level.
TEST(DataClient, AnswersAServerShouldNotGive) {
    Rig rig;
    const std::function<kora::ISerialize*()> wrong[] = {Resp("ccDBDeleteItemResp", 1), nullptr};
    for (const auto& answer : wrong) {
        rig.server->AnswerWith(kMsgSetItemReq, kMsgSetItemResp, answer);
        cDBLogUnit item;
        EXPECT_EQ(rig.client->SetItem(&item, true), 0);
        rig.server->AnswerWith(kMsgRestoreReq, "DB::RESTORERESP", answer);
        EXPECT_EQ(rig.client->Restore(), 0);
        rig.server->AnswerWith(kMsgGetFactoryConfigInfoReq, "DB::GETFACTORYCONFIGINFORESP", answer);
        EXPECT_EQ(rig.client->GetFactoryConfigInfo(),
                  (std::pair<kora::s_string, kora::s_string>()));
    }
    rig.server->AnswerWith(kMsgReadLogReq, "DB::READLOGRESP", nullptr);
    EXPECT_EQ(rig.client->ReadLog(kora::cTime(), "VPN", 2, 20, 0), nullptr);
    for (int result : {0, 2, -1}) {
        rig.server->AnswerWith(kMsgAuthenticateUserReq, "DB::AUTHENTICATEUSERRESP", [result] {
            return Make<ccDBAuthenticateUserResp>([&](ccDBAuthenticateUserResp& r) {
                r.Result = static_cast<int8_t>(result);
                r.AccessLevel = 3;
            });
        });
        kora::s_uint8 level = 9;
        EXPECT_FALSE(rig.client->AuthenticateUser("bob", "secret", level)) << result;
        EXPECT_EQ(level, 0) << result;
    }
}

// ---- Collections ----

TEST(DataClient, RegisterAndDeregisterCollections) {
    Rig rig;
    auto* a = new Recorder("/Config/A/", rig.events);
    ASSERT_TRUE(rig.client->RegisterCollection(a));
    EXPECT_EQ(rig.client->GetCollection("/Config/A/"), a);

    // A second object under the same path is refused without a request.
    Recorder twin("/Config/A/", rig.events), stranger("/Config/S/", rig.events);
    rig.server->Clear();
    EXPECT_FALSE(rig.client->RegisterCollection(&twin));
    EXPECT_TRUE(rig.server->All().empty());

    // A refusal leaves the collection with the caller.
    for (int code : {0, -1, 2}) {
        rig.server->regResult = code;
        Recorder refused("/Config/R/", rig.events);
        EXPECT_FALSE(rig.client->RegisterCollection(&refused)) << code;
        EXPECT_EQ(rig.client->GetCollection("/Config/R/"), nullptr);
    }
    EXPECT_EQ(rig.server->Named(kMsgRegCollectionReq).size(), 3u);

    // Neither a null pointer, an unregistered collection nor a second object
    // under a registered path is deregistered.
    rig.server->AnswerWith("DB:DEREGCOLLECTIONREQ", "DB::DEREGCOLLECTIONRESP",
                           Resp("ccDBDeRegCollectionResp", 0));
    rig.server->Clear();
    rig.client->DeregisterCollection(nullptr);
    rig.client->DeregisterCollection(&stranger);
    rig.client->DeregisterCollection(&twin);
    EXPECT_TRUE(rig.server->All().empty());
    EXPECT_EQ(rig.client->GetCollection("/Config/A/"), a);
    EXPECT_EQ(rig.events.Count("deleted /Config/A/"), 0u);

    // The registered one goes, even though the server refuses.
    rig.client->DeregisterCollection(a);
    EXPECT_EQ(rig.client->GetCollection("/Config/A/"), nullptr);
    EXPECT_EQ(rig.events.Count("deleted /Config/A/"), 1u);
    EXPECT_EQ(rig.server->Names(), std::vector<std::string>{"DB:DEREGCOLLECTIONREQ"});
    EXPECT_EQ(OnlySent(rig, "DB:DEREGCOLLECTIONREQ"),
              W("s:ccDBDeRegCollectionReq v1 s:/Config/A/"));
}

TEST(DataClient, SyncReachesCollectionsInKeyOrderAndCallbackBeforeCommit) {
    Rig rig;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/Net/", rig.events)));
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/", rig.events)));
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Status/", rig.events)));
    rig.events.Clear();

    kora::cMsg messages[] = {
        PathMsg<ccDBSyncInit>(kMsgCollectionSyncInit, "/Config/Net/"),
        UnitMsg("lan", "/Config/Net/Lan/"),  // both /Config/ and /Config/Net/ occur in it
        UnitMsg("other", "/Other/Config/"),  // /Config/ occurs, though not as a prefix
        PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, "/Config/Net/"),
        PathMsg<ccDBSyncInit>(kMsgCollectionSyncInit, "/Unknown/"),  // ignored
        PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, "/Config/Net"),  // inexact: ignored
        PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, "/Config/Net/"),
    };
    for (auto& m : messages) ASSERT_TRUE(rig.server->Push(m));
    ASSERT_TRUE(rig.events.WaitFor("end /Config/Net/", 2));
    const std::vector<std::string> expected = {
        "begin /Config/Net/",
        "offer /Config/ lan",
        "offer /Config/Net/ lan",
        "offer /Config/ other",
        "synced /Config/Net/ changed",  // before the commit: old and new still differ
        "end /Config/Net/",
        "synced /Config/Net/ same",
        "end /Config/Net/",
    };
    EXPECT_EQ(rig.events.Seen(), expected);
}

// ---- Server-initiated messages ----

// Reboot notifications and dump requests reach the callback; the connect and
// close names are the client's own events: a server that sends them cannot
// make the client drop its collections or report a close.
TEST(DataClient, ServerInitiatedMessages) {
    Rig rig;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/A/", rig.events)));
    for (const char* name : {kMsgOnClose, kMsgOnConnect}) {
        kora::cMsg fake(name);
        ASSERT_TRUE(rig.server->Push(fake));
    }
    kora::cMsg reboot(kMsgRebootNotification);
    ASSERT_TRUE(rig.server->Push(reboot));
    ASSERT_TRUE(rig.events.WaitFor("reboot"));

    rig.events.answerDumps = false;
    kora::cMsg first = PathMsg<ccDumpReq>(kMsgDumpReq, "/dump/one");
    ASSERT_TRUE(rig.server->Push(first));
    ASSERT_TRUE(rig.events.WaitFor("dump /dump/one"));
    rig.events.answerDumps = true;
    kora::cMsg second = PathMsg<ccDumpReq>(kMsgDumpReq, "/dump/two");
    ASSERT_TRUE(rig.server->Push(second));
    // Requests are handled in order, so only the second one is answered.
    ASSERT_EQ(rig.server->WaitFor("DB::DUMP-RES").size(), 1u);
    EXPECT_EQ(OnlySent(rig, "DB::DUMP-RES"), "");
    EXPECT_EQ(rig.events.Seen(),
              (std::vector<std::string>{"connect", "reboot", "dump /dump/one", "dump /dump/two"}));
    EXPECT_NE(rig.client->GetCollection("/Config/A/"), nullptr);
}

// ---- Logbook ----

TEST(DataClient, LogFiltersByCommittedUnitLevelAndSetterRules) {
    Rig rig;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Log/", rig.events)));
    rig.events.Clear();
    SyncLogUnits(rig, {{"VPN", 2}, {"NET", 3}});
    // Items of "/Log/Units/" go to the log units only, not to "/Log/", and
    // their sync calls no callback.
    EXPECT_TRUE(rig.events.Seen().empty());
    EXPECT_EQ(rig.client->GetLogUnits().GetUnits().size(), 2u);
    // "unit level type outcome sent?": a unit's level filters those below it
    // (an unconfigured unit's none); levels above 4, units over 15 characters,
    // types over 20 and outcomes other than -1 to 1 are never sent.
    std::istringstream cases(
        "VPN 0 T 1 -, VPN 1 T 1 -, VPN 2 T 1 +, VPN 4 T 1 +, VPN 5 T 1 -, WAN 0 T 1 +, "
        "WAN 5 T 1 -, ABCDEFGHIJKLMNO 0 T 1 +, ABCDEFGHIJKLMNOP 4 T 1 -, WAN 1 T 2 -, "
        "WAN 1 T -2 -, WAN 1 T -1 +, WAN 1 T 0 +, WAN 1 ABCDEFGHIJKLMNOPQRST 0 +, "
        "WAN 1 ABCDEFGHIJKLMNOPQRSTU 0 -");
    std::vector<std::string> expected;
    int i = 0;
    for (std::string row; std::getline(cases, row, ',');) {
        std::istringstream in(row);
        std::string unit, type, sent;
        unsigned level = 0;
        int outcome = 0;
        in >> unit >> level >> type >> outcome >> sent;
        const std::string text = "row " + std::to_string(++i);
        rig.client->Log(unit, level, type, text, outcome);
        if (sent == "+")
            expected.push_back(kora::FormatString("%s %u %s %d %s", unit.c_str(), level,
                                                  type.c_str(), outcome, text.c_str()));
    }
    RoundTrip(rig);
    EXPECT_EQ(LoggedEntries(rig), expected);

    // A sync that no longer names the unit lifts its filter.
    rig.server->Clear();
    SyncLogUnits(rig, {{"WAN", 4}});
    rig.client->Log("VPN", 0, "T", "lifted", 0);
    rig.client->Log("WAN", 3, "T", "filtered", 0);
    RoundTrip(rig);
    EXPECT_EQ(LoggedEntries(rig), std::vector<std::string>{"VPN 0 T 0 lifted"});
}

TEST(DataClient, LogOverloadsFillObjectUserAndPeer) {
    Rig rig;
    ccDBGetItemReq object;
    object.Path = "/Config/X/item";
    rig.client->Log("VPN", 1, "T", std::string(250, 'x'), 1);
    rig.client->Log("VPN", 1, "T", "user", kora::s_string("alice"), 1);
    rig.client->Log("VPN", 1, "T", "object", object, 1);
    rig.client->Log("VPN", 1, "T", "both", object, "bob", -1);
    RoundTrip(rig);
    auto got = rig.server->Named(kMsgLogReq);
    ASSERT_EQ(got.size(), 4u);
    const std::string peer = rig.clientService.Name().substr(0, cDBLogItem::kMaxPeer);
    const std::string shown = "ccDBGetItemReq:Path:/Config/X/item";
    const std::vector<std::string> expected[] = {{std::string(200, 'x'), "", ""},
                                                 {"user", "", "alice"},
                                                 {"object", shown, ""},
                                                 {"both", shown, "bob"}};
    for (size_t i = 0; i < got.size(); ++i) {
        const auto* e = dynamic_cast<const cDBLogItem*>(got[i].payload.get());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ((std::vector<std::string>{e->GetText(), e->GetObject(), e->GetUser()}),
                  expected[i]);
        EXPECT_EQ(e->GetPeer(), peer) << i;
    }
}

// A thread that issues requests back to back holds the delivery thread off
// only while each request waits: the syncs that reached the client meanwhile
// are delivered before its next request goes out, not queued up behind it.
TEST(DataClient, BackToBackRequestsLetTheSyncsTheyCauseThrough) {
    Rig rig;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/A/", rig.events)));
    // Every change causes a sync of the collection, sent ahead of the answer:
    // when a request returns, the whole sync it caused is in the client's
    // queue, and nothing more is on its way.
    constexpr size_t kItems = 20;
    rig.server->Answer(kMsgSetItemReq, [&](const kora::cMsg& request, kora::cMsg& answer) {
        kora::cMsg init = PathMsg<ccDBSyncInit>(kMsgCollectionSyncInit, "/Config/A/");
        request.Channel()->Send(init);
        for (size_t i = 0; i < kItems; ++i) {
            kora::cMsg item = UnitMsg("u" + std::to_string(i), "/Config/A/");
            request.Channel()->Send(item);
        }
        kora::cMsg end = PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, "/Config/A/");
        request.Channel()->Send(end);
        answer.SetName(kMsgSetItemResp);
        answer.AssignObject(Make<ccDBSetItemResp>([](ccDBSetItemResp& r) { r.Result = 1; }));
        return true;
    });
    constexpr int kRounds = 300;
    cDBLogUnit item;
    item.SetDir("/Config/A/");
    item.SetName("x");
    size_t most = 0;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(rig.client->SetItem(&item, true), 1);
        most = std::max(most, rig.clientService.PendingMessages());
    }
    // The sync of the last change waits, plus at most the last message of the
    // one before (it may be with the collection as the next request goes out).
    // A client that held delivery off would have hundreds waiting; the slack of
    // one more sync covers a delivery thread the machine did not run for the
    // second that a request lets it catch up.
    EXPECT_LE(most, 2 * (kItems + 2) + 1);
    EXPECT_TRUE(rig.events.WaitFor("end /Config/A/", kRounds));
}
