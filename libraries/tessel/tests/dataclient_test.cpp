// cDataClient against a fake data server over the in-process transport: what
// it does without a server or a callback, a refused connection, collection
// registration and syncs, server-initiated messages, the logbook, and answers
// only a faulty server gives. Every request through the real server is in
// dataserver_test.cpp.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <sstream>

#include "fake_dataserver.h"

using namespace tessel;
using fakeserver::Events;
using fakeserver::Make;
using fakeserver::Recorder;
using fakeserver::Rig;

namespace {

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

using Units = std::vector<std::pair<std::string, unsigned>>;

// The messages of a full sync of `path`: one log unit of each name and level.
std::vector<kora::cMsg> SyncOf(const std::string& path, const Units& units) {
    std::vector<kora::cMsg> out;
    out.push_back(PathMsg<ccDBSyncInit>(kMsgCollectionSyncInit, path));
    for (auto& u : units) out.push_back(UnitMsg(u.first, path, u.second));
    out.push_back(PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, path));
    return out;
}

// A full sync of the client's log units, handed to it as its service would.
void SyncLogUnits(Rig& rig, const Units& units) {
    kora::cDispatchLock g = rig.clientService.LockDispatch();
    for (auto& m : SyncOf("/Log/Units/", units)) rig.client->DispatchMessage(m);
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

}  // namespace

// Without a server: the timeout's floor, the names the client takes, every
// operation failing, a callback taken from the service itself, and without
// any callback every message refused and traced, each time.
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

    // A service object that takes the client's events itself.
    struct SelfHosted : kora::cService, Events {
        SelfHosted() : kora::cService(fakeserver::UniqueName("sh")) {}
    } host;
    cDataClient hosted(&host, nullptr, 0, "nowhere");
    kora::cMsg reboot(kMsgRebootNotification);
    EXPECT_TRUE(hosted.DispatchMessage(reboot));
    EXPECT_EQ(host.Count("reboot"), 1u);

    std::vector<std::string> traces;
    kora::cTracepoint::SetHandler([&](const kora::cTraceRecord& r) {
        if (r.module == "DTCL")
            traces.push_back(r.version + " " + std::to_string(r.level) + " " + r.text + r.detail);
    });
    cDataClient silent(&service, nullptr, 0, "nowhere");
    EXPECT_EQ(silent.GetCallback(), nullptr);
    for (const char* name : {kMsgOnConnect, kMsgOnClose, kMsgCollectionSyncInit,
                             kMsgCollectionSyncEnd, kMsgRebootNotification, kMsgDumpReq}) {
        kora::cMsg msg(name);
        EXPECT_FALSE(silent.DispatchMessage(msg)) << name;
    }
    kora::cTracepoint::SetHandler({});
    EXPECT_EQ(traces,
              std::vector<std::string>(6, "001 1 DataClient Protocoll unavailable (==NULL)"));
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

TEST(DataClient, RegisterDeregisterAndDestructionDeleteCollections) {
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
    ASSERT_EQ(rig.server->Names(), std::vector<std::string>{"DB:DEREGCOLLECTIONREQ"});
    auto* dereg = dynamic_cast<ccDBDeRegCollectionReq*>(rig.server->All()[0].payload.get());
    ASSERT_NE(dereg, nullptr);
    EXPECT_EQ(dereg->Path, "/Config/A/");

    // The client's end deletes the collections it holds (losing the server
    // does too: see the end-to-end tests).
    rig.server->regResult = 1;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/C/", rig.events)));
    rig.client.reset();
    EXPECT_EQ(rig.events.Count("deleted /Config/C/"), 1u);
}

// ---- Server-initiated messages ----

// In the order they come: a sync reaches the collections whose path occurs in
// an item's directory, in key order, and the callback before the commit;
// reboot notifications and dump requests reach the callback. The connect and
// close names are the client's own events: a server that sends them cannot
// make the client drop its collections or report a close.
TEST(DataClient, ServerInitiatedMessages) {
    Rig rig;
    for (const char* path : {"/Config/Net/", "/Config/", "/Status/"})
        ASSERT_TRUE(rig.client->RegisterCollection(new Recorder(path, rig.events)));
    rig.events.Clear();
    rig.events.answerDumps = false;
    kora::cMsg messages[] = {
        kora::cMsg(kMsgOnClose),
        kora::cMsg(kMsgOnConnect),
        kora::cMsg(kMsgRebootNotification),
        PathMsg<ccDBSyncInit>(kMsgCollectionSyncInit, "/Config/Net/"),
        UnitMsg("lan", "/Config/Net/Lan/"),  // both /Config/ and /Config/Net/ occur in it
        UnitMsg("other", "/Other/Config/"),  // /Config/ occurs, though not as a prefix
        PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, "/Config/Net/"),
        PathMsg<ccDBSyncInit>(kMsgCollectionSyncInit, "/Unknown/"),  // ignored
        PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, "/Config/Net"),  // inexact: ignored
        PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, "/Config/Net/"),
        PathMsg<ccDumpReq>(kMsgDumpReq, "/dump/one"),
    };
    for (auto& m : messages) ASSERT_TRUE(rig.server->Push(m));
    ASSERT_TRUE(rig.events.WaitFor("dump /dump/one"));
    rig.events.answerDumps = true;
    kora::cMsg second = PathMsg<ccDumpReq>(kMsgDumpReq, "/dump/two");
    ASSERT_TRUE(rig.server->Push(second));
    // Requests are handled in order, so only the second one is answered.
    auto answered = rig.server->WaitFor("DB::DUMP-RES");
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_FALSE(answered[0].payload);
    const std::vector<std::string> expected = {
        "reboot",
        "begin /Config/Net/",
        "offer /Config/ lan",
        "offer /Config/Net/ lan",
        "offer /Config/ other",
        "synced /Config/Net/ changed",  // before the commit: old and new still differ
        "end /Config/Net/",
        "synced /Config/Net/ same",
        "end /Config/Net/",
        "dump /dump/one",
        "dump /dump/two",
    };
    EXPECT_EQ(rig.events.Seen(), expected);
    EXPECT_NE(rig.client->GetCollection("/Config/Net/"), nullptr);
}

// ---- Logbook ----

// Each cause of a dropped entry is traced once per client.
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
    auto traced = std::make_shared<std::vector<std::string>>();
    auto lock = std::make_shared<std::mutex>();
    kora::cTracepoint::SetHandler([traced, lock](const kora::cTraceRecord& record) {
        std::lock_guard<std::mutex> g(*lock);
        if (record.module == "DTCL") traced->push_back(record.text);
    });
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
    kora::cTracepoint::SetHandler({});
    RoundTrip(rig);
    EXPECT_EQ(LoggedEntries(rig), expected);
    std::vector<std::string> causes;
    for (const char* why : {"below its unit's level", "level refused", "unit refused",
                            "outcome refused", "type refused"})
        causes.push_back(std::string("DataClient log entry dropped: ") + why + " (traced once)");
    EXPECT_EQ(*traced, causes);

    // A sync that no longer names the unit lifts its filter.
    rig.server->Clear();
    SyncLogUnits(rig, {{"WAN", 4}});
    rig.client->Log("VPN", 0, "T", "lifted", 0);
    rig.client->Log("WAN", 3, "T", "filtered", 0);
    RoundTrip(rig);
    EXPECT_EQ(LoggedEntries(rig), std::vector<std::string>{"VPN 0 T 0 lifted"});
}

// A thread that issues requests back to back holds the delivery thread off
// only while each request waits: the syncs that reached the client meanwhile
// are delivered before its next request goes out, not queued up behind it.
TEST(DataClient, BackToBackRequestsLetTheSyncsTheyCauseThrough) {
    Rig rig;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/A/", rig.events)));
    // Every change causes a sync of the collection, sent ahead of the answer.
    constexpr size_t kItems = 20;
    Units units;
    for (size_t i = 0; i < kItems; ++i) units.push_back({"u" + std::to_string(i), 1});
    rig.server->Answer(kMsgSetItemReq, [&](const kora::cMsg& request, kora::cMsg& answer) {
        for (auto& m : SyncOf("/Config/A/", units)) request.Channel()->Send(m);
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
    // The sync of the last change waits, plus at most the one before (a
    // delivery thread the machine did not run meanwhile); a client that held
    // delivery off would have hundreds waiting.
    EXPECT_LE(most, 2 * (kItems + 2) + 1);
    EXPECT_TRUE(rig.events.WaitFor("end /Config/A/", kRounds));
}
