// What the server sends on its own, across processes: reboot notifications,
// dump cycles and the deferred snapshot answer; and the deregistration name.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "e2e_support.h"

using namespace tessel;
using e2e::Client;
using e2e::E2E;
using e2e::RawClient;
using e2e::ServerProcess;
using e2e::Unit;
using Strings = std::vector<std::string>;

namespace {

// Waits until the server counts `count` announced connections.
bool ServerSees(Client& c, size_t count) {
    return e2e::WaitUntil([&] { return c.Flag("connected") == std::to_string(count); });
}

bool DumpEnded(Client& c) {
    return e2e::WaitUntil([&] { return !c.Flag("dump-ends").empty(); }, 20000);
}

}  // namespace

TEST_F(E2E, RebootRequestAndNotification) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client admin("e2e-admin");
    ASSERT_TRUE(admin.WaitConnected());
    Client plain;  // after the first has connected, see Client
    ASSERT_TRUE(plain.WaitConnected());
    ASSERT_TRUE(ServerSees(admin, 2));
    admin.Clear();

    // The host learns who asked: the identity each client announced (the
    // client's own name when it announced none).
    admin->Reboot();
    plain->Reboot();
    ASSERT_TRUE(e2e::WaitUntil([&] { return admin.Calls().size() >= 2; }));
    Strings calls = admin.Calls();
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, (Strings{"Reboot dataClient", "Reboot e2e-admin"}));
    EXPECT_EQ(admin.events.Count("reboot"), 0u);

    // The notification reaches every connected client.
    ASSERT_EQ(plain.Ctl("reboot"), 1);
    EXPECT_TRUE(admin.events.WaitCount("reboot", 1));
    EXPECT_TRUE(plain.events.WaitCount("reboot", 1));
    EXPECT_EQ(admin.events.Seen(), (Strings{"connect", "reboot"}));
    EXPECT_EQ(plain.events.Seen(), (Strings{"connect", "reboot"}));
}

TEST_F(E2E, DumpCycleEndsWithTheLastAnswer) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client a;
    ASSERT_TRUE(a.WaitConnected());
    Client b;
    ASSERT_TRUE(b.WaitConnected());
    ASSERT_TRUE(ServerSees(a, 2));
    a.Clear();

    EXPECT_EQ(a.Ctl("dump:/var/dump/e2e"), 2);  // clients asked
    EXPECT_TRUE(a.events.WaitCount("dump /var/dump/e2e", 1));
    EXPECT_TRUE(b.events.WaitCount("dump /var/dump/e2e", 1));
    ASSERT_TRUE(DumpEnded(a));
    // Ended by the answers: nobody was left pending when it finished.
    EXPECT_EQ(a.Flag("dump-ends"), "pending=0\n");
    EXPECT_EQ(a.Calls(), Strings{"DumpFinished"});
}

// Waits for the server's 5-second dump timer.
TEST_F(E2E, DumpCycleEndsByItsTimer) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client a("", false);
    a.events.answerDumps = false;  // told of the dump, declines to answer
    a->Start();
    RawClient raw;
    ASSERT_TRUE(a.WaitConnected());
    ASSERT_TRUE(ServerSees(a, 2));
    a.Clear();

    EXPECT_EQ(a.Ctl("dump:/var/dump/slow"), 2);
    std::vector<testhost::Received> got = raw->WaitFor(1, e2e::kWaitMs);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, kMsgDumpReq);
    const auto* req = dynamic_cast<const ccDumpReq*>(got[0].payload.get());
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(req->Path, "/var/dump/slow");
    EXPECT_TRUE(a.events.WaitCount("dump /var/dump/slow", 1));
    // Misspelled answers are not answers.
    EXPECT_TRUE(raw.Send("DB::DUMP-RESP"));
    EXPECT_TRUE(raw.Send("db::dump-res"));

    ASSERT_TRUE(DumpEnded(a));
    EXPECT_EQ(a.Flag("dump-ends"), "pending=2\n");

    // A late answer that leaves another client pending ends nothing more.
    EXPECT_TRUE(raw.Send(kMsgDumpRes));
    EXPECT_EQ(raw.Flag("dump-ends"), "pending=2\n");
    EXPECT_EQ(a.Calls(), Strings{"DumpFinished"});
}

TEST_F(E2E, OneSnapshotAtATimeAndItsRequesterIsNotAskedForADump) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client requester;
    ASSERT_TRUE(requester.WaitConnected());
    Client other;
    ASSERT_TRUE(other.WaitConnected());
    ASSERT_TRUE(ServerSees(other, 2));

    // A host result other than 1 is answered at once.
    ASSERT_EQ(other.Ctl("snapshot-result:4"), 1);
    EXPECT_EQ(other->CreateSnapshot("/tmp/refused.snap"), 4);
    EXPECT_EQ(other.Flag("snapshot-path"), "");
    ASSERT_EQ(other.Ctl("snapshot-result:1"), 1);
    other.Clear();

    // Accepted by the host, the request stays pending until the host answers.
    kora::s_int8 answer = -100;
    std::thread waiting([&] { answer = requester->CreateSnapshot("/tmp/first.snap"); });
    // On an early return, the host's answer releases the waiting client.
    struct Release {
        std::thread& t;
        Client& host;
        ~Release() {
            if (!t.joinable()) return;
            host.Ctl("snapshot-resp:0");
            t.join();
        }
    } release{waiting, other};
    ASSERT_TRUE(e2e::WaitUntil([&] { return other.Flag("snapshot-path") == "/tmp/first.snap"; }));

    // A second request meanwhile is refused without reaching the host.
    EXPECT_EQ(other->CreateSnapshot("/tmp/second.snap"), 0);
    EXPECT_EQ(other.Calls(), Strings{"CreateSnapshot /tmp/first.snap"});
    EXPECT_EQ(other.Flag("snapshot-path"), "/tmp/first.snap");

    // A dump meanwhile asks everybody but the requester.
    other.Clear();
    EXPECT_EQ(other.Ctl("dump:/var/dump/snap"), 1);
    ASSERT_TRUE(DumpEnded(other));
    EXPECT_EQ(other.Flag("dump-ends"), "pending=0\n");
    EXPECT_EQ(other.events.Count("dump /var/dump/snap"), 1u);

    // The host's answer releases the requester.
    ASSERT_EQ(other.Ctl("snapshot-resp:1"), 1);
    waiting.join();
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(other.Flag("snapshot-path"), "");
    EXPECT_EQ(requester.events.Count("dump /var/dump/snap"), 0u);

    // Nothing is pending any more: the next request reaches the host.
    ASSERT_EQ(other.Ctl("snapshot-result:0"), 1);
    other.Clear();
    EXPECT_EQ(other->CreateSnapshot("/tmp/third.snap"), 0);
    EXPECT_EQ(other.Calls(), Strings{"CreateSnapshot /tmp/third.snap"});
}

TEST_F(E2E, OnlyTheSingleColonNameDeregisters) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client c;
    RawClient raw;
    ASSERT_TRUE(c.WaitConnected());
    ASSERT_TRUE(c.Put(Unit("/Config/P/", "p")));
    auto path = [](const char* p) {
        auto* req = kora::New<ccDBDeRegCollectionReq>();
        req->Path = p;
        return req;
    };
    auto* reg = kora::New<ccDBRegCollectionReq>();
    reg->Path = "/Config/P/";
    ASSERT_EQ(raw.Result(kMsgRegCollectionReq, reg, kMsgRegCollectionResp), 1);
    ASSERT_EQ(raw->WaitFor(3, e2e::kWaitMs).size(), 3u);

    // Spelled with two colons the request is not handled: the registration stays.
    c.Clear();
    EXPECT_TRUE(raw.Send("DB::DEREGCOLLECTIONREQ", path("/Config/P/")));
    EXPECT_EQ(raw.Flag("calls"), "");
    EXPECT_EQ(c->SetItem(Unit("/Config/P/", "p", 2).get(), true), 1);
    EXPECT_EQ(c.Calls(), (Strings{"SetItem /Config/P/p", "SyncCollection /Config/P/"}));
    EXPECT_EQ(raw->WaitFor(6, e2e::kWaitMs).size(), 6u);

    EXPECT_EQ(raw.Result(kMsgDeRegCollectionReq, path("/Config/P/"), kMsgDeRegCollectionResp), 1);
    c.Clear();
    EXPECT_EQ(c->SetItem(Unit("/Config/P/", "p", 3).get(), true), 1);
    EXPECT_EQ(c.Calls(), Strings{"SetItem /Config/P/p"});
    const Strings names = raw.Names();
    EXPECT_EQ(std::count(names.begin(), names.end(), kMsgDeRegCollectionResp), 0);
}
