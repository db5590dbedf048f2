// kora messaging: request/reply over a socket and within one process,
// reconnection, vanished peers, delivery-thread requests, timers, and that
// nothing in flight outlives its service.

#include "messaging_fixture.h"

namespace {

using namespace kora_test;

TEST_F(Messaging, ConcurrentRequestsEachGetTheirOwnReply) {
    ASSERT_TRUE(Serve());
    cService otherSvc("other");
    TestClient other(&otherSvc, "echo", "other");
    ASSERT_TRUE(otherSvc.Start() && other.Start() && other.journal.WaitFor(kOnConnect, 1));

    auto exchange = [](TestClient* c, const std::string& tag, std::atomic<int>* good) {
        for (int i = 0; i < 200; ++i) *good += EchoRoundTrip(*c, tag + std::to_string(i));
    };
    // Two threads share one client; a third uses another connection.
    std::atomic<int> good{0};
    std::thread t1(exchange, client.get(), "one", &good), t2(exchange, client.get(), "two", &good),
        t3(exchange, &other, "other", &good);
    for (auto* t : {&t1, &t2, &t3}) t->join();
    EXPECT_TRUE(good == 600 && client->journal.Count(kEchoResp) == 0)
        << good << " answered; a reply went astray";
}

TEST_F(Messaging, DeferredAnswersGoToTheOldestWaiter) {
    ASSERT_TRUE(Serve({}, true));
    auto ask = [&](const char* text, std::string* got) { *got = Ask(*client, kDefer, text); };
    std::string first, second;
    std::thread t1(ask, "first", &first);
    ASSERT_TRUE(echo->journal.WaitFor(kDefer, 1));
    std::thread t2(ask, "second", &second);
    for (auto* t : {&t1, &t2}) t->join();
    EXPECT_EQ(first + " " + second, "first second");
}

// A payload class nobody registered with the factory.
struct Unregistered : ISerialize {
    std::string TypeName() const override { return "Unregistered"; }
    bool Serialize(cSerializeBuffer&) const override { return true; }
    int Deserialize(cSerializeBuffer&) override { return 1; }
    std::string ToString(const std::string&) const override { return "Unregistered"; }
};

TEST_F(Messaging, InProcessServiceNeedsNoSocketAndFailuresAreClean) {
    ASSERT_TRUE(Serve({}, true));
    EXPECT_FALSE(std::filesystem::exists(server->SocketPath()));
    ASSERT_TRUE(echo->journal.WaitFor(kHello, 1));
    const cMsg hello = echo->journal.All().at(0);
    const s_peerinfo& peer = hello.Channel()->PeerInfo();
    EXPECT_EQ(std::make_tuple(hello.GetObject<s_peerinfo>()->Pid, peer.Identity,
                              peer.ProcessName.empty()),
              std::make_tuple(uint32_t(::getpid()), std::string("good"), false));

    EXPECT_EQ(Ask(*client, kIgnore, "", 50), "<no answer>");
    TestClient nowhere(clientSvc.get(), "nobody", "fay");
    cMsg req(kEcho);
    EXPECT_FALSE(nowhere.IsConnected() || nowhere.Send(req));
    EXPECT_EQ(Ask(nowhere, kEcho, "", 50), "<no answer>");
    // An unregistered payload type is refused before anything is written.
    cMsg odd(kEcho);
    odd.AssignObject(New<Unregistered>());
    EXPECT_TRUE(!client->Send(odd) && EchoRoundTrip(*client, "still there"));
    client->Stop();
    EXPECT_TRUE(echo->journal.WaitFor(kChannelClosedMsg, 1));
}

TEST_F(Messaging, ClientReconnectsWhenTheServerComesBackAndStaysStoppedWhenStopped) {
    ASSERT_TRUE(Serve());
    cService second("echo");
    EXPECT_FALSE(second.Serve()) << "a live server's socket is kept";
    echo.reset();
    server.reset();
    ASSERT_TRUE(client->journal.WaitFor(kOnClose, 1) && !client->IsConnected());
    ASSERT_TRUE(Serve({}, false, false) && client->journal.WaitFor(kOnConnect, 2));
    EXPECT_TRUE(EchoRoundTrip(*client, "after"));

    client->Stop();
    EXPECT_FALSE(client->IsConnected());
    client->HealthRequest();  // a stopped client stays stopped
    EXPECT_TRUE(Traced("health request"));
    ASSERT_TRUE(client->Start() && client->journal.WaitFor(kOnConnect, 3));
    EXPECT_EQ(client->journal.Count(kOnClose), 1u) << "Stop reports no close";
}

// One peer vanishes while the server writes its answers, another stops
// reading while its answers add up to more than a connection may queue.
TEST_F(Messaging, PeersThatVanishOrStopReadingAreDisconnectedAndReported) {
    ASSERT_TRUE(Serve());
    const Bytes request = StringFrame(kEcho, std::string(1 << 20, 'z'));
    for (const std::string who : {"vanishing", "sluggish"}) {
        SCOPED_TRACE(who);
        const bool vanish = who == "vanishing";
        int fd = ConnectRaw(server->SocketPath());
        bool written = WriteAll(fd, Hello(who));
        const size_t needed = vanish ? 4 : kMaxQueuedOutput / request.size() + 8;
        for (size_t i = 0; written && i < needed; ++i) written = WriteAll(fd, request);
        if (vanish && echo->journal.WaitFor(kEcho, 1)) ::close(fd);
        ASSERT_TRUE(echo->journal.WaitFor(kChannelClosedMsg, vanish ? 1 : 2, 10000));
        const cMsg closed = echo->journal.All().back();
        ASSERT_EQ(closed.Name() + " " + closed.Channel()->PeerInfo().Identity,
                  kChannelClosedMsg + (" " + who));
        cMsg late(kPush);
        EXPECT_FALSE(closed.Channel()->IsOpen() || closed.Channel()->Send(late));
        if (!vanish) ::close(fd);
    }
    EXPECT_TRUE(Traced("peer does not read") && EchoRoundTrip(*client, "unaffected"));
}

// Sends a request from its connect handler, as a client registering on connect does.
struct EagerClient : TestClient {
    using TestClient::TestClient;
    bool DispatchMessage(cMsg& msg) override {
        if (msg.Name() == kOnConnect)
            answered = Ask(*this, kEchoThenPush, "on connect") == "on connect";
        return TestClient::DispatchMessage(msg);
    }
    std::atomic<bool> answered{false};
};

TEST_F(Messaging, SendSyncOnTheDeliveryThreadKeepsLaterMessagesQueued) {
    ASSERT_TRUE(Serve({}, false, false));
    cService svc("eager");
    EagerClient eager(&svc, "echo", "ivy");
    ASSERT_TRUE(svc.Start() && eager.Start());
    ASSERT_TRUE(eager.journal.WaitFor(kPush, 1) && eager.answered);
    std::vector<std::string> seen;
    for (const cMsg& m : eager.journal.All()) seen.push_back(m.Name());
    EXPECT_EQ(seen, (std::vector<std::string>{kOnConnect, kPush}));
}

TEST_F(Messaging, RunServesTheCallerUntilStoppedAndTimersFireThroughTheSinkAndStopCancels) {
    cService svc("runner");
    EchoServer sink(&svc);
    svc.Post("FIRST");
    svc.RunOnDelivery([&] { svc.Stop(); });
    svc.Run();
    EXPECT_EQ(sink.journal.Count("FIRST"), 1u);
    std::atomic<bool> ran{false};
    EXPECT_TRUE(svc.Start() && svc.RunOnDelivery([&] { ran = true; }));  // started again
    EXPECT_TRUE(WaitUntil([&] { return ran.load(); }));
    cTimer plain(&svc, false, &sink), restarted(&svc, false, &sink), stopped(&svc, false, &sink),
        last(&svc, false, &sink);
    plain.StartSec(0, "A");
    restarted.StartMs(30, "B-replaced");
    restarted.StartMs(0, "B");
    stopped.StartMs(20, "C-stopped");
    stopped.Stop();
    {
        cTimer gone(&svc, false, &sink);
        gone.StartMs(20, "D-destroyed");
    }
    last.StartMs(60, "E");
    EXPECT_TRUE(last.IsPending());
    ASSERT_TRUE(sink.journal.WaitFor("E", 1));
    EXPECT_FALSE(last.IsPending());
    EXPECT_TRUE(sink.journal.All().size() == 4 &&
                sink.journal.Count("A") + sink.journal.Count("B") == 2);
}

}  // namespace
