// cDataClient against a fake data server over the in-process transport: the
// requests it builds, the results it takes from the answers, the connect and
// close sequences, collection registration and syncs, dumps and the logbook.
//
// Not covered: a server that stays silent. The client waits at least 30 s
// for an answer, which is too long for a unit test; the failure values are
// covered by a client without a connection and by answers of the wrong class.
#include <gtest/gtest.h>

#include "fake_dataserver.h"

using namespace tessel;
using fakeserver::Events;
using fakeserver::FakeServer;
using fakeserver::Make;
using fakeserver::Received;
using fakeserver::Recorder;
using fakeserver::Rig;

namespace {

template <class T>
const T* As(const Received& r) {
    return dynamic_cast<const T*>(r.payload.get());
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

// Hands one message to the client as its service would.
bool Dispatch(Rig& rig, kora::cMsg msg) {
    kora::cDispatchLock g = rig.clientService.LockDispatch();
    return rig.client->DispatchMessage(msg);
}

// A full sync of the client's log units, dispatched directly.
void SyncLogUnits(Rig& rig, const std::vector<std::pair<std::string, unsigned>>& units) {
    Dispatch(rig, PathMsg<ccDBSyncInit>(kMsgCollectionSyncInit, "/Log/Units/"));
    for (auto& u : units) Dispatch(rig, UnitMsg(u.first, "/Log/Units/", u.second));
    Dispatch(rig, PathMsg<ccDBSyncEnd>(kMsgCollectionSyncEnd, "/Log/Units/"));
}

// A request/answer round trip: everything the client sent before has reached
// the server once it returns.
void RoundTrip(Rig& rig) {
    rig.server->AnswerWith(kMsgDeleteItemReq, kMsgDeleteItemResp, [] {
        return Make<ccDBDeleteItemResp>([](ccDBDeleteItemResp& r) { r.Result = 1; });
    });
    ASSERT_EQ(rig.client->DeleteItem("/RoundTrip/x"), 1);
}

kora::cTime At(int64_t seconds) {
    kora::cTime t;
    t.FromSeconds(seconds);
    return t;
}

template <class R>
std::function<kora::ISerialize*()> ResultAnswer(kora::s_int8 code) {
    return [code] { return Make<R>([&](R& r) { r.Result = code; }); };
}

}  // namespace

TEST(DataClient, TimeoutHasAFloorOf30Seconds) {
    kora::cService service(fakeserver::UniqueName("to"));
    Events events;
    const std::pair<unsigned, unsigned> cases[] = {{0, 30000},     {1, 30000},     {1000, 30000},
                                                   {30000, 30000}, {30001, 30001}, {90000, 90000}};
    for (auto& c : cases) {
        cDataClient client(&service, &events, c.first, "nowhere");
        EXPECT_EQ(client.GetTimeout(), c.second) << c.first;
    }
}

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
        const char* names[] = {kMsgOnConnect,          kMsgOnClose,
                               kMsgCollectionSyncInit, kMsgCollectionSyncEnd,
                               kMsgRebootNotification, kMsgDumpReq};
        for (const char* name : names) {
            kora::cMsg msg(name);
            EXPECT_FALSE(client.DispatchMessage(msg)) << name;
        }
    }
    kora::cTracepoint::SetHandler({});
    ASSERT_EQ(traces.size(), 6u);
    for (auto& t : traces) {
        EXPECT_EQ(t.version, "001");
        EXPECT_EQ(t.level, 1);
        EXPECT_EQ(t.text, "DataClient Protocoll unavailable (==NULL)");
        EXPECT_EQ(t.detail, "");
    }
}

namespace {
// A service object that takes the client's events itself.
class SelfHostedService : public kora::cService, public Events {
  public:
    SelfHostedService() : kora::cService(fakeserver::UniqueName("sh")) {}
};
}  // namespace

TEST(DataClient, WithoutCallbackAServiceThatImplementsTheEventsGetsThem) {
    SelfHostedService service;
    cDataClient client(&service, nullptr, 0, "nowhere");
    EXPECT_EQ(client.GetCallback(), static_cast<IDataClient*>(&service));
    kora::cMsg reboot(kMsgRebootNotification);
    EXPECT_TRUE(client.DispatchMessage(reboot));
    EXPECT_EQ(service.Count("reboot"), 1u);
}

TEST(DataClient, OnlyExactNamesAreHandled) {
    kora::cService service(fakeserver::UniqueName("nm"));
    Events events;
    cDataClient client(&service, &events, 0, "nowhere");
    const std::pair<const char*, bool> cases[] = {
        {"DB::COLLECTIONSYNEND", true},
        {"DB::COLLECTIONSYNCEND", false},
        {"DB::COLLECTIONSYNENd", false},
        {"db::collectionsynend", false},
        {"DB::COLLECTIONSYNEND ", false},
        {"DB::COLLECTIONSYNCINIT", true},
        {"DB::COLLECTIONSYNCITEM", true},
        {"DB::REBOOTNOTIFICATION", true},
        {"DB::DUMP-REQ", true},
        {"DB::DUMP-RES", false},
        {"DB:DEREGCOLLECTIONREQ", false},
        {"DB::GETITEMRESP", false},
        {"", false},
    };
    for (auto& c : cases) {
        kora::cMsg msg(c.first);  // no payload: matched branches still count as handled
        EXPECT_EQ(client.DispatchMessage(msg), c.second) << c.first;
    }
    EXPECT_EQ(events.Seen(), std::vector<std::string>{"reboot"});
}

TEST(DataClient, WithoutConnectionEveryOperationFails) {
    kora::cService service(fakeserver::UniqueName("nx"));
    Events events;
    cDataClient client(&service, &events, 0, "nowhere");
    kora::Ref<cDBLogUnit> item = kora::Ref<cDBLogUnit>::Adopt(kora::New<cDBLogUnit>());

    EXPECT_EQ(client.GetItem("/Log/Units/VPN"), nullptr);
    EXPECT_EQ(client.SetItem(item.get(), true), 0);
    EXPECT_EQ(client.SetItem(item.get(), false), 1);  // not waiting: nothing to report
    EXPECT_EQ(client.SetItem(nullptr, true), 0);
    EXPECT_EQ(item->GetRefCount(), 1);
    EXPECT_EQ(client.DeleteItem("/a/b"), 0);
    EXPECT_EQ(client.CreateRestorePoint(), 0);
    EXPECT_EQ(client.ExportLog(kora::cTime(), kora::cTime(), 1, {"VPN"}, "/tmp/x"), 0);
    EXPECT_EQ(client.ReadLog(kora::cTime(), "VPN", 1, 10, 0), nullptr);
    EXPECT_EQ(client.GetFlag("f"), nullptr);
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
}

// ---- Connection ----

TEST(DataClient, ConnectRegistersLogUnitsAndReadsFeatureList) {
    Rig rig(false);
    rig.server->items["/Features/FeatureList"] =
        kora::Ref<cDBItem>::Adopt(kora::New<cDBFeatureList>());
    rig.Connect();
    std::vector<std::string> names = rig.server->Names();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], kMsgClientOnConnect);
    EXPECT_EQ(names[1], kMsgRegCollectionReq);
    EXPECT_EQ(names[2], kMsgGetItemReq);
    auto all = rig.server->All();
    ASSERT_NE(As<ccDBRegCollectionReq>(all[1]), nullptr);
    EXPECT_EQ(As<ccDBRegCollectionReq>(all[1])->Path, "/Log/Units/");
    ASSERT_NE(As<ccDBGetItemReq>(all[2]), nullptr);
    EXPECT_EQ(As<ccDBGetItemReq>(all[2])->Path, "/Features/FeatureList");
    EXPECT_EQ(rig.events.Seen(), std::vector<std::string>{"connect"});
    EXPECT_EQ(rig.client->GetFeatureList().GetPath(), "/Features/FeatureList");
}

TEST(DataClient, ConnectWithoutFeatureListStillConnects) {
    Rig rig;  // the fake server has no feature list and answers without item
    EXPECT_EQ(rig.events.Seen(), std::vector<std::string>{"connect"});
    EXPECT_TRUE(rig.client->IsConnected());
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

TEST(DataClient, ConnectionLossDeletesRegisteredCollections) {
    Rig rig;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/A/", rig.events)));
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/B/", rig.events)));
    rig.DropServer();
    ASSERT_TRUE(rig.events.WaitFor("close"));
    std::vector<std::string> seen = rig.events.Seen();
    const std::vector<std::string> expected = {"connect", "deleted /Config/A/",
                                               "deleted /Config/B/", "close"};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(rig.client->GetCollection("/Config/A/"), nullptr);
}

TEST(DataClient, DestructionDeletesRegisteredCollections) {
    Rig rig;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/A/", rig.events)));
    rig.client.reset();
    EXPECT_EQ(rig.events.Count("deleted /Config/A/"), 1u);
}

// ---- Requests with a result code ----

namespace {

struct ResultCase {
    std::string label;
    std::function<kora::s_int8(cDataClient&)> call;
    const char* request;
    const char* reply;
    std::function<kora::ISerialize*(kora::s_int8)> answer;
    // Checks the request as the server received it.
    std::function<void(const Received&)> check;
};

template <class R>
std::function<kora::ISerialize*(kora::s_int8)> Answer() {
    return [](kora::s_int8 code) { return Make<R>([&](R& r) { r.Result = code; }); };
}

void NoPayload(const Received& r) {
    EXPECT_EQ(r.payload.get(), nullptr);
}

template <class P>
std::function<void(const Received&)> Expect(std::function<void(const P&)> check) {
    return [check](const Received& r) {
        const P* p = As<P>(r);
        ASSERT_NE(p, nullptr) << r.name;
        check(*p);
    };
}

std::vector<ResultCase> ResultCases() {
    std::vector<ResultCase> cases = {
        {"DeleteItem", [](cDataClient& c) { return c.DeleteItem("/Config/X/item"); },
         kMsgDeleteItemReq, kMsgDeleteItemResp, Answer<ccDBDeleteItemResp>(),
         Expect<ccDBDeleteItemReq>([](auto& p) { EXPECT_EQ(p.Path, "/Config/X/item"); })},
        {"RenameItem", [](cDataClient& c) { return c.RenameItem("/Config/X/", "old", "new"); },
         kMsgRenameItemReq, kMsgRenameItemResp, Answer<ccDBRenameItemResp>(),
         Expect<ccDBRenameItemReq>([](auto& p) {
             EXPECT_EQ(p.Directory, "/Config/X/");
             EXPECT_EQ(p.Name, "old");
             EXPECT_EQ(p.NewName, "new");
             EXPECT_EQ(p.Path, "");
         })},
        {"DuplicateItem", [](cDataClient& c) { return c.DuplicateItem("/Config/X/", "a", "b"); },
         kMsgDuplicateItemReq, kMsgDuplicateItemResp, Answer<ccDBDuplicateItemResp>(),
         Expect<ccDBDuplicateItemReq>([](auto& p) {
             EXPECT_EQ(p.Directory, "/Config/X/");
             EXPECT_EQ(p.Name, "a");
             EXPECT_EQ(p.NewName, "b");
         })},
        {"SetItem",
         [](cDataClient& c) {
             kora::Ref<cDBLogUnit> unit =
                 kora::Ref<cDBLogUnit>::Adopt(Make<cDBLogUnit>([](cDBLogUnit& u) {
                     u.SetName("VPN");
                     u.SetLevel(3);
                 }));
             kora::s_int8 result = c.SetItem(unit.get(), true);
             EXPECT_EQ(unit->GetRefCount(), 1);  // shared with the request, not kept
             return result;
         },
         kMsgSetItemReq, kMsgSetItemResp, Answer<ccDBSetItemResp>(),
         Expect<cDBLogUnit>([](auto& p) {
             EXPECT_EQ(p.GetPath(), "/Log/Units/VPN");
             EXPECT_EQ(p.GetLevel(), 3);
         })},
        {"CreateRestorePoint", [](cDataClient& c) { return c.CreateRestorePoint(); },
         kMsgCreateRestorePointReq, kMsgCreateRestorePointResp,
         Answer<ccDBCreateRestorePointResp>(), NoPayload},
        {"Restore", [](cDataClient& c) { return c.Restore(); }, kMsgRestoreReq, kMsgRestoreResp,
         Answer<ccDBRestoreResp>(), NoPayload},
        {"ConfirmConfig", [](cDataClient& c) { return c.ConfirmConfig(); }, kMsgConfirmConfigReq,
         kMsgConfirmConfigResp, Answer<ccDBConfirmConfigurationResp>(), NoPayload},
        {"FallbackConfig", [](cDataClient& c) { return c.FallbackConfig(); }, kMsgFallbackConfigReq,
         kMsgFallbackConfigResp, Answer<ccDBFallbackConfigurationResp>(), NoPayload},
        {"FactoryReset", [](cDataClient& c) { return c.FactoryReset(); }, kMsgFactoryResetReq,
         kMsgFactoryResetResp, Answer<ccDBFactoryResetResp>(), NoPayload},
        {"ExportFlags", [](cDataClient& c) { return c.ExportFlags("/tmp/flags"); },
         kMsgFlagsExportReq, kMsgFlagsExportResp, Answer<ccDBFlagsExportResp>(),
         Expect<ccDBFlagsExportReq>([](auto& p) { EXPECT_EQ(p.Filepath, "/tmp/flags"); })},
        {"DeleteFlag", [](cDataClient& c) { return c.DeleteFlag("boot"); }, kMsgDeleteFlagReq,
         kMsgDeleteFlagResp, Answer<ccDBDeleteFlagResp>(),
         Expect<ccDBDeleteFlagReq>([](auto& p) { EXPECT_EQ(p.Name, "boot"); })},
        {"SetFlag",
         [](cDataClient& c) {
             kora::Ref<kora::s_string> value =
                 kora::Ref<kora::s_string>::Adopt(kora::New<kora::s_string>("on"));
             kora::s_int8 result = c.SetFlag("boot", value.get());
             EXPECT_EQ(value->GetRefCount(), 1);  // the request let go of it
             return result;
         },
         kMsgSetFlagReq, kMsgSetFlagResp, Answer<ccDBSetFlagResp>(),
         Expect<ccDBSetFlagReq>([](auto& p) {
             EXPECT_EQ(p.Name, "boot");
             auto* value = dynamic_cast<kora::s_string*>(p.GetSObject());
             ASSERT_NE(value, nullptr);
             EXPECT_EQ(*value, "on");
         })},
        {"SetFlag without value", [](cDataClient& c) { return c.SetFlag("boot", nullptr); },
         kMsgSetFlagReq, kMsgSetFlagResp, Answer<ccDBSetFlagResp>(),
         Expect<ccDBSetFlagReq>([](auto& p) { EXPECT_EQ(p.GetSObject(), nullptr); })},
        {"DeleteUser", [](cDataClient& c) { return c.DeleteUser("bob"); }, kMsgDeleteUserReq,
         kMsgDeleteUserResp, Answer<ccDBDeleteUserResp>(),
         Expect<ccDBDeleteUserReq>([](auto& p) { EXPECT_EQ(p.Username, "bob"); })},
        {"CreateSnapshot", [](cDataClient& c) { return c.CreateSnapshot("/tmp/snap"); },
         kMsgSnapshotReq, kMsgSnapshotResp, Answer<ccDBSnapshotResp>(),
         Expect<ccDBSnapshotReq>([](auto& p) { EXPECT_EQ(p.Filepath, "/tmp/snap"); })},
        {"ExportStatus", [](cDataClient& c) { return c.ExportStatus("/tmp/status"); },
         kMsgStatusExportReq, kMsgStatusExportResp, Answer<ccDBStatusExportResp>(),
         Expect<ccDBStatusExportReq>([](auto& p) { EXPECT_EQ(p.Filepath, "/tmp/status"); })},
        {"ExportConfig", [](cDataClient& c) { return c.ExportConfig("/tmp/config"); },
         kMsgConfigExportReq, kMsgConfigExportResp, Answer<ccDBConfigExportResp>(),
         Expect<ccDBConfigExportReq>([](auto& p) { EXPECT_EQ(p.Filepath, "/tmp/config"); })},
        {"ImportConfig", [](cDataClient& c) { return c.ImportConfig("/tmp/in", true); },
         kMsgConfigImportReq, kMsgConfigImportResp, Answer<ccDBConfigImportResp>(),
         Expect<ccDBConfigImportReq>([](auto& p) {
             EXPECT_EQ(p.Filepath, "/tmp/in");
             EXPECT_TRUE(p.UseFallback);
         })},
        {"ExportLog",
         [](cDataClient& c) {
             return c.ExportLog(At(100), At(200), 3, {"WAN", "VPN"}, "/tmp/log");
         },
         kMsgLogExportReq, kMsgLogExportResp, Answer<ccDBLogExportResp>(),
         Expect<ccDBLogExportReq>([](auto& p) {
             EXPECT_EQ(p.From.ToSeconds(), 100);
             EXPECT_EQ(p.To.ToSeconds(), 200);
             EXPECT_EQ(p.Level, 3);
             EXPECT_EQ(p.Units, (cNameSet{"VPN", "WAN"}));
             EXPECT_EQ(p.Filepath, "/tmp/log");
         })},
    };
    // The third argument of SetPassword travels only when it is 1 to 3.
    const std::pair<unsigned, unsigned> passwordExtras[] = {{0, 0}, {1, 1}, {2, 2},
                                                            {3, 3}, {4, 0}, {255, 0}};
    for (auto& e : passwordExtras)
        cases.push_back({"SetPassword extra " + std::to_string(e.first),
                         [e](cDataClient& c) { return c.SetPassword("bob", "secret", e.first); },
                         kMsgSetPasswordReq, kMsgSetPasswordResp, Answer<ccDBSetPasswordResp>(),
                         Expect<ccDBSetPasswordReq>([e](auto& p) {
                             EXPECT_EQ(p.Username, "bob");
                             EXPECT_EQ(p.Password, "secret");
                             EXPECT_EQ(p.Extra, e.second);
                         })});
    // The fourth argument of AddUser travels only when it is 0 to 3; the
    // access level and the fifth always.
    const std::pair<unsigned, unsigned> userExtras[] = {{0, 0}, {3, 3}, {4, 0}, {200, 0}};
    for (auto& e : userExtras)
        cases.push_back({"AddUser extra " + std::to_string(e.first),
                         [e](cDataClient& c) { return c.AddUser("eve", "pw", 7, e.first, 250); },
                         kMsgAddUserReq, kMsgAddUserResp, Answer<ccDBAddUserResp>(),
                         Expect<ccDBAddUserReq>([e](auto& p) {
                             EXPECT_EQ(p.Username, "eve");
                             EXPECT_EQ(p.Password, "pw");
                             EXPECT_EQ(p.AccessLevel, 7);
                             EXPECT_EQ(p.Extra1, e.second);
                             EXPECT_EQ(p.Extra2, 250);
                         })});
    return cases;
}

}  // namespace

TEST(DataClient, ResultCodeOperations) {
    Rig rig;
    for (const ResultCase& c : ResultCases()) {
        SCOPED_TRACE(c.label);
        // The server's code comes back unchanged, success or refusal.
        for (kora::s_int8 code : {kora::s_int8(1), kora::s_int8(-5), kora::s_int8(0)}) {
            rig.server->Clear();
            auto answer = c.answer;
            rig.server->AnswerWith(c.request, c.reply, [answer, code] { return answer(code); });
            EXPECT_EQ(c.call(*rig.client), code);
            std::vector<Received> got = rig.server->All();
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].name, c.request);
            c.check(got[0]);
        }
        // An answer of another class, or none, counts as no answer.
        const bool setItem = std::string(c.reply) == kMsgSetItemResp;
        rig.server->AnswerWith(
            c.request, c.reply,
            setItem ? ResultAnswer<ccDBDeleteItemResp>(1) : ResultAnswer<ccDBSetItemResp>(1));
        EXPECT_EQ(c.call(*rig.client), 0);
        rig.server->AnswerWith(c.request, c.reply, nullptr);
        EXPECT_EQ(c.call(*rig.client), 0);
    }
}

// ---- Requests with other results ----

TEST(DataClient, GetItemHandsOutOneReference) {
    Rig rig;
    rig.server->items["/Log/Units/VPN"] =
        kora::Ref<cDBItem>::Adopt(Make<cDBLogUnit>([](cDBLogUnit& u) {
            u.SetName("VPN");
            u.SetLevel(4);
        }));
    cDBItem* item = rig.client->GetItem("/Log/Units/VPN");
    ASSERT_NE(item, nullptr);
    auto* unit = dynamic_cast<cDBLogUnit*>(item);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->GetLevel(), 4);
    EXPECT_EQ(item->GetRefCount(), 1);
    item->Release();

    EXPECT_EQ(rig.client->GetItem("/Log/Units/WAN"), nullptr);
    auto reads = rig.server->Named(kMsgGetItemReq);
    ASSERT_EQ(reads.size(), 3u);  // the feature list on connect, then the two reads
    EXPECT_EQ(As<ccDBGetItemReq>(reads[2])->Path, "/Log/Units/WAN");
}

TEST(DataClient, GetFlagReturnsTheValueObject) {
    Rig rig;
    rig.server->Answer(kMsgGetFlagReq, [](const kora::cMsg& request, kora::cMsg& reply) {
        reply.SetName(kMsgGetFlagResp);
        auto* req = request.GetObject<ccDBGetFlagReq>();
        if (req && req->Name == "boot") reply.AssignObject(kora::New<kora::s_string>("on"));
        return true;
    });
    kora::ISerialize* value = rig.client->GetFlag("boot");
    auto* text = dynamic_cast<kora::s_string*>(value);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(*text, "on");
    EXPECT_EQ(value->GetRefCount(), 1);
    value->Release();
    EXPECT_EQ(rig.client->GetFlag("unknown"), nullptr);
}

TEST(DataClient, AuthenticateUser) {
    Rig rig;
    struct Case {
        int result;
        unsigned level;
        bool accepted;
        unsigned levelOut;
    } cases[] = {{1, 3, true, 3}, {0, 3, false, 0}, {2, 3, false, 0}, {-1, 2, false, 0}};
    for (auto& c : cases) {
        rig.server->Clear();
        rig.server->AnswerWith(kMsgAuthenticateUserReq, kMsgAuthenticateUserResp, [c] {
            return Make<ccDBAuthenticateUserResp>([&](ccDBAuthenticateUserResp& r) {
                r.Result = static_cast<int8_t>(c.result);
                r.AccessLevel = static_cast<uint8_t>(c.level);
            });
        });
        kora::s_uint8 level = 9;
        EXPECT_EQ(rig.client->AuthenticateUser("bob", "secret", level), c.accepted) << c.result;
        EXPECT_EQ(level, c.levelOut) << c.result;
        auto got = rig.server->Named(kMsgAuthenticateUserReq);
        ASSERT_EQ(got.size(), 1u);
        ASSERT_NE(As<ccDBAuthenticateUserReq>(got[0]), nullptr);
        EXPECT_EQ(As<ccDBAuthenticateUserReq>(got[0])->Username, "bob");
        EXPECT_EQ(As<ccDBAuthenticateUserReq>(got[0])->Password, "secret");
    }
}

TEST(DataClient, FactoryConfigInfo) {
    Rig rig;
    rig.server->AnswerWith(kMsgGetFactoryConfigInfoReq, kMsgGetFactoryConfigInfoResp, [] {
        return Make<ccDBFactoryConfigInfoResp>([](ccDBFactoryConfigInfoResp& r) {
            r.First = "first";
            r.Second = "second";
        });
    });
    auto info = rig.client->GetFactoryConfigInfo();
    EXPECT_EQ(info.first, "first");
    EXPECT_EQ(info.second, "second");
    EXPECT_EQ(rig.server->Named(kMsgGetFactoryConfigInfoReq).at(0).payload.get(), nullptr);
}

TEST(DataClient, ReadLog) {
    Rig rig;
    rig.server->AnswerWith(kMsgReadLogReq, kMsgReadLogResp, [] {
        cDBLogItem entry;
        entry.SetUnit("VPN");
        return Make<cDBLogResult>([&](cDBLogResult& r) { r.AddEntry(7, entry); });
    });
    cDBLogResult* result = rig.client->ReadLog(At(50), "VPN", 2, 20, 99);
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->GetEntries().size(), 1u);
    EXPECT_EQ(result->GetEntries().at(7).GetUnit(), "VPN");
    EXPECT_EQ(result->GetRefCount(), 1);
    result->Release();

    auto got = rig.server->Named(kMsgReadLogReq);
    ASSERT_EQ(got.size(), 1u);
    const auto* req = As<ccDBLogReadReq>(got[0]);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(req->From.ToSeconds(), 50);
    EXPECT_EQ(req->Unit, "VPN");
    EXPECT_EQ(req->Level, 2);
    EXPECT_EQ(req->Count, 20);
    EXPECT_EQ(req->Status, 99u);

    rig.server->AnswerWith(kMsgReadLogReq, kMsgReadLogResp, nullptr);
    EXPECT_EQ(rig.client->ReadLog(kora::cTime(), "VPN", 2, 20, 0), nullptr);
}

TEST(DataClient, FireAndForgetRequests) {
    Rig rig;
    kora::Ref<cDBLogUnit> unit =
        kora::Ref<cDBLogUnit>::Adopt(Make<cDBLogUnit>([](cDBLogUnit& u) { u.SetName("VPN"); }));
    EXPECT_EQ(rig.client->SetItem(unit.get(), false), 1);
    rig.client->Reboot();
    auto sets = rig.server->WaitFor(kMsgSetItem);
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_NE(As<cDBLogUnit>(sets[0]), nullptr);
    EXPECT_EQ(As<cDBLogUnit>(sets[0])->GetName(), "VPN");
    auto reboots = rig.server->WaitFor(kMsgRebootReq);
    ASSERT_EQ(reboots.size(), 1u);
    EXPECT_EQ(reboots[0].payload.get(), nullptr);
    EXPECT_TRUE(rig.server->Named(kMsgSetItemReq).empty());
}

// ---- Collections ----

TEST(DataClient, RegisterCollection) {
    Rig rig;
    auto* a = new Recorder("/Config/A/", rig.events);
    ASSERT_TRUE(rig.client->RegisterCollection(a));
    EXPECT_EQ(rig.client->GetCollection("/Config/A/"), a);

    // A second object under the same path is refused without a request.
    Recorder twin("/Config/A/", rig.events);
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
    auto regs = rig.server->Named(kMsgRegCollectionReq);
    ASSERT_EQ(regs.size(), 3u);
    EXPECT_EQ(As<ccDBRegCollectionReq>(regs[0])->Path, "/Config/R/");
    EXPECT_EQ(rig.events.Count("deleted /Config/A/"), 0u);
}

TEST(DataClient, DeregisterCollection) {
    Rig rig;
    auto* a = new Recorder("/Config/A/", rig.events);
    ASSERT_TRUE(rig.client->RegisterCollection(a));
    rig.server->AnswerWith(kMsgDeRegCollectionReq, kMsgDeRegCollectionResp,
                           ResultAnswer<ccDBDeRegCollectionResp>(0));
    rig.server->Clear();

    // Neither a null pointer, an unregistered collection nor a second object
    // under a registered path is touched.
    rig.client->DeregisterCollection(nullptr);
    Recorder stranger("/Config/S/", rig.events);
    rig.client->DeregisterCollection(&stranger);
    Recorder twin("/Config/A/", rig.events);
    rig.client->DeregisterCollection(&twin);
    EXPECT_TRUE(rig.server->All().empty());
    EXPECT_EQ(rig.client->GetCollection("/Config/A/"), a);

    // The registered one goes, even though the server refuses.
    rig.client->DeregisterCollection(a);
    EXPECT_EQ(rig.client->GetCollection("/Config/A/"), nullptr);
    EXPECT_EQ(rig.events.Count("deleted /Config/A/"), 1u);
    auto got = rig.server->All();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "DB:DEREGCOLLECTIONREQ");
    ASSERT_NE(As<ccDBDeRegCollectionReq>(got[0]), nullptr);
    EXPECT_EQ(As<ccDBDeRegCollectionReq>(got[0])->Path, "/Config/A/");
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

TEST(DataClient, LogUnitSyncCallsNoCallback) {
    Rig rig;
    ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Log/", rig.events)));
    rig.events.Clear();
    SyncLogUnits(rig, {{"VPN", 2}, {"WAN", 3}});
    // Items of "/Log/Units/" go to the log units only, not to "/Log/".
    EXPECT_TRUE(rig.events.Seen().empty());
    const auto& units = rig.client->GetLogUnits().GetUnits();
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units.at("VPN").GetLevel(), 2);
    EXPECT_TRUE(rig.client->GetLogUnits().IsSynced());
}

// ---- Server-initiated messages ----

TEST(DataClient, RebootNotificationAndDumpRequests) {
    Rig rig;
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
    auto answers = rig.server->WaitFor(kMsgDumpRes);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].payload.get(), nullptr);
    EXPECT_EQ(rig.events.Count("dump /dump/two"), 1u);
}

// ---- Logbook ----

TEST(DataClient, LogFiltersByCommittedUnitLevelAndSetterRules) {
    Rig rig;
    SyncLogUnits(rig, {{"VPN", 2}});
    struct Case {
        const char* unit;
        unsigned level;
        const char* type;
        int success;
        bool sent;
    } cases[] = {
        {"VPN", 0, "T", 1, false},  // below the unit's level
        {"VPN", 1, "T", 1, false},
        {"VPN", 2, "T", 1, true},
        {"VPN", 3, "T", 1, true},
        {"VPN", 4, "T", 1, true},
        {"VPN", 5, "T", 1, false},  // no such level
        {"WAN", 0, "T", 1, true},   // an unconfigured unit is never filtered
        {"WAN", 5, "T", 1, false},
        {"ABCDEFGHIJKLMNO", 0, "T", 1, true},  // 15 characters
        {"ABCDEFGHIJKLMNOP", 4, "T", 1, false},
        {"WAN", 1, "T", 2, false},
        {"WAN", 1, "T", -2, false},
        {"WAN", 1, "T", -1, true},
        {"WAN", 1, "T", 0, true},
        {"WAN", 1, "ABCDEFGHIJKLMNOPQRST", 0, true},  // 20 characters
        {"WAN", 1, "ABCDEFGHIJKLMNOPQRSTU", 0, false},
    };
    std::vector<std::string> expected;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        const std::string text = "row " + std::to_string(i);
        rig.client->Log(c.unit, c.level, c.type, text, c.success);
        if (c.sent) expected.push_back(text);
    }
    RoundTrip(rig);
    std::vector<std::string> sent;
    for (auto& r : rig.server->Named(kMsgLogReq)) {
        const auto* entry = As<cDBLogItem>(r);
        ASSERT_NE(entry, nullptr);
        sent.push_back(entry->GetText());
        size_t row = std::stoul(entry->GetText().substr(4));
        EXPECT_EQ(entry->GetUnit(), cases[row].unit);
        EXPECT_EQ(entry->GetLevel(), cases[row].level);
        EXPECT_EQ(entry->GetType(), cases[row].type);
        EXPECT_EQ(entry->GetSuccess(), cases[row].success);
    }
    EXPECT_EQ(sent, expected);

    // A sync that no longer names the unit lifts its filter.
    rig.server->Clear();
    SyncLogUnits(rig, {{"WAN", 4}});
    rig.client->Log("VPN", 0, "T", "lifted", 0);
    rig.client->Log("WAN", 3, "T", "filtered", 0);
    RoundTrip(rig);
    auto after = rig.server->Named(kMsgLogReq);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(As<cDBLogItem>(after[0])->GetText(), "lifted");
}

TEST(DataClient, LogOverloadsFillObjectUserAndPeer) {
    Rig rig;
    ccDBGetItemReq object;
    object.Path = "/Config/X/item";
    const std::string longText(250, 'x');
    rig.client->Log("VPN", 1, "T", longText, 1);
    rig.client->Log("VPN", 1, "T", "user", kora::s_string("alice"), 1);
    rig.client->Log("VPN", 1, "T", "object", object, 1);
    rig.client->Log("VPN", 1, "T", "both", object, "bob", -1);
    RoundTrip(rig);
    auto got = rig.server->Named(kMsgLogReq);
    ASSERT_EQ(got.size(), 4u);
    const std::string peer = rig.clientService.Name().substr(0, cDBLogItem::kMaxPeer);
    struct Expected {
        std::string text, object, user;
    } expected[] = {{std::string(200, 'x'), "", ""},
                    {"user", "", "alice"},
                    {"object", "ccDBGetItemReq:Path:/Config/X/item", ""},
                    {"both", "ccDBGetItemReq:Path:/Config/X/item", "bob"}};
    for (size_t i = 0; i < got.size(); ++i) {
        const auto* entry = As<cDBLogItem>(got[i]);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->GetText(), expected[i].text) << i;
        EXPECT_EQ(entry->GetObject(), expected[i].object) << i;
        EXPECT_EQ(entry->GetUser(), expected[i].user) << i;
        EXPECT_EQ(entry->GetPeer(), peer) << i;
    }
}

// Requests, answers, log entries and returned objects are all released.
TEST(DataClient, NoObjectOutlivesTheExchange) {
    const size_t before = kora::GC::LiveCount();
    {
        Rig rig;
        for (const ResultCase& c : ResultCases()) {
            auto answer = c.answer;
            rig.server->AnswerWith(c.request, c.reply, [answer] { return answer(1); });
            c.call(*rig.client);
        }
        rig.server->items["/Log/Units/VPN"] = kora::Ref<cDBItem>::Adopt(kora::New<cDBLogUnit>());
        kora::Ref<cDBItem>::Adopt(rig.client->GetItem("/Log/Units/VPN"));
        rig.client->Log("VPN", 1, "T", "text", 1);
        ASSERT_TRUE(rig.client->RegisterCollection(new Recorder("/Config/", rig.events)));
        RoundTrip(rig);
    }
    EXPECT_EQ(kora::GC::LiveCount(), before);
}
