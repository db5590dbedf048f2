// kora messaging: messages and peer information, request/reply between
// processes and within one, reconnection, closed and misbehaving peers, dispatch
// locking, timers, and that nothing in flight outlives its service.
#include <gtest/gtest.h>

#include "messaging_fixture.h"

namespace {

using namespace kora_test;

TEST_F(Messaging, MessagesCountTheirPayloadReferences) {
    kora::s_string* s = NewString("payload");
    {
        kora::cMsg m("A");
        m.ShareObject(s);
        EXPECT_EQ(s->GetRefCount(), 2);
        kora::cMsg copy(m);
        EXPECT_EQ(s->GetRefCount(), 3);
        kora::cMsg moved(std::move(copy));
        EXPECT_EQ(s->GetRefCount(), 3);
        copy = moved;
        EXPECT_EQ(s->GetRefCount(), 4);
        copy = std::move(moved);
        EXPECT_EQ(s->GetRefCount(), 3);
        EXPECT_EQ(m.GetObject<kora::s_string>(), s);
        EXPECT_EQ(m.GetObject<kora::s_map_string_string>(), nullptr);
        EXPECT_EQ(m.Channel(), nullptr);
        m.AssignObject(NewString("other"));
        EXPECT_EQ(s->GetRefCount(), 2);
    }
    EXPECT_EQ(s->GetRefCount(), 1);
    s->Release();
    kora::cMsg m("B");
    m.AssignObject(NewString("y"));
    m.GetPayload()->AddRef();
    m.AssignObject(m.GetPayload());  // the same object again: one reference stays
    EXPECT_EQ(m.GetPayload()->GetRefCount(), 1);
}

TEST_F(Messaging, ServerProcessAnswersSeveralClientsWithTheirOwnPayloads) {
    ASSERT_GT(Spawn({"server", m_dir, "echo"}, "ready"), 0);
    ASSERT_GT(Spawn({"client", m_dir, "echo", "carol"}, "connected"), 0);
    kora::cService a("client-a"), b("client-b");
    TestClient alice(&a, "echo", "alice"), bob(&b, "echo", "bob");
    ASSERT_TRUE(Up(a, alice) && Up(b, bob));

    // Even rounds carry a map, odd ones a string; each must come back as sent.
    auto exchange = [](TestClient* client, const std::string& who, std::atomic<int>* good) {
        for (int i = 0; i < 100; ++i) {
            kora::s_map_string_string map;
            map.SetAt(who, std::to_string(i));
            kora::ISerialize* payload =
                i % 2 ? static_cast<kora::ISerialize*>(NewString(who + std::to_string(i)))
                      : kora::New<kora::s_map_string_string>(map);
            const std::string sent = payload->TypeName() + payload->ToString("");
            kora::cMsg req(kEcho), reply;
            req.AssignObject(payload);
            *good += client->SendSync(req, reply, 5000, kEchoResp) && reply.GetPayload() &&
                     reply.GetPayload()->TypeName() + reply.GetPayload()->ToString("") == sent;
        }
    };
    std::atomic<int> goodA{0}, goodB{0};
    std::thread ta(exchange, &alice, "alice", &goodA), tb(exchange, &bob, "bob", &goodB);
    ta.join();
    tb.join();
    EXPECT_EQ(goodA, 100);
    EXPECT_EQ(goodB, 100);

    // The server reports the announced identity with the socket's credentials.
    kora::cMsg who(kWho), reply;
    ASSERT_TRUE(alice.SendSync(who, reply, 5000, kWhoResp));
    auto* info = reply.GetObject<kora::s_map_string_string>();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ((*info)["identity"], "alice");
    EXPECT_EQ((*info)["pid"], std::to_string(::getpid()));
    EXPECT_EQ((*info)["uid"], std::to_string(::getuid()));
    EXPECT_FALSE((*info)["process"].empty());
}

TEST_F(Messaging, ConcurrentSendSyncOnOneClientEachGetTheirOwnReply) {
    ASSERT_GT(Spawn({"server", m_dir, "echo"}, "ready"), 0);
    kora::cService svc("client");
    TestClient client(&svc, "echo", "dora");
    ASSERT_TRUE(Up(svc, client));
    std::atomic<int> good{0};
    auto run = [&](const std::string& tag) {
        for (int i = 0; i < 300; ++i) good += EchoRoundTrip(client, tag + std::to_string(i));
    };
    std::thread t1(run, "one-"), t2(run, "two-");
    t1.join();
    t2.join();
    EXPECT_EQ(good, 600);
    EXPECT_EQ(client.journal.Count(kEchoResp), 0u) << "a reply went astray";
}

TEST_F(Messaging, DeferredAnswersGoToTheOldestWaiter) {
    kora::cService server("echo"), svc("client");
    EchoServer echo(&server);
    TestClient client(&svc, "echo", "erin");
    ASSERT_TRUE(server.ServeInProcess() && server.Start() && Up(svc, client));
    auto deferred = [&](const std::string& text, std::string* got) {
        kora::cMsg req(kDefer), reply;
        req.AssignObject(NewString(text));
        if (client.SendSync(req, reply, 5000, kEchoResp)) *got = Text(reply);
    };
    std::string first, second;
    std::thread t1(deferred, "first", &first);
    ASSERT_TRUE(echo.journal.WaitFor(kDefer, 1));
    std::thread t2(deferred, "second", &second);
    t1.join();
    t2.join();
    EXPECT_EQ(first, "first");
    EXPECT_EQ(second, "second");
}

TEST_F(Messaging, TimeoutsAndMissingConnectionsFailCleanly) {
    kora::cService server("echo"), svc("client");
    EchoServer echo(&server);
    TestClient client(&svc, "echo", "fay"), nowhere(&svc, "nobody", "fay");
    ASSERT_TRUE(server.ServeInProcess() && server.Start() && Up(svc, client));

    kora::cMsg ignored(kIgnore), reply;
    EXPECT_FALSE(client.SendSync(ignored, reply, 50, kEchoResp));
    EXPECT_TRUE(EchoRoundTrip(client, "still there"));

    kora::cMsg req(kEcho);
    EXPECT_FALSE(nowhere.IsConnected());
    EXPECT_FALSE(nowhere.Send(req));
    EXPECT_FALSE(nowhere.SendSync(req, reply, 50, kEchoResp));
    // An unregistered payload type is refused before anything is written.
    kora::cMsg odd(kEcho);
    odd.AssignObject(kora::New<Unregistered>());
    EXPECT_FALSE(client.Send(odd));
    EXPECT_TRUE(EchoRoundTrip(client, "and still there"));
}

TEST_F(Messaging, ClientReconnectsWhenTheServerComesBack) {
    pid_t server = Spawn({"server", m_dir, "echo"}, "ready");
    ASSERT_GT(server, 0);
    kora::cService svc("client");
    TestClient client(&svc, "echo", "gus");
    ASSERT_TRUE(Up(svc, client));
    EXPECT_TRUE(EchoRoundTrip(client, "before"));

    Kill(server);
    ASSERT_TRUE(client.journal.WaitFor(kOnClose, 1));
    EXPECT_FALSE(client.IsConnected());
    ASSERT_GT(Spawn({"server", m_dir, "echo"}, "ready"), 0);  // replaces the stale socket
    ASSERT_TRUE(client.journal.WaitFor(kOnConnect, 2));
    EXPECT_TRUE(EchoRoundTrip(client, "after"));

    client.Stop();
    EXPECT_FALSE(client.IsConnected());
    client.HealthRequest();  // a stopped client stays stopped
    EXPECT_TRUE(Traced("health request"));
    EXPECT_TRUE(client.Start());
    ASSERT_TRUE(client.journal.WaitFor(kOnConnect, 3));
    EXPECT_EQ(client.journal.Count(kOnClose), 1u) << "Stop reports no close";
}

TEST_F(Messaging, KilledClientIsReportedWhileOthersAreServed) {
    kora::cService server("echo"), svc("client");
    EchoServer echo(&server);
    TestClient dave(&svc, "echo", "dave");
    ASSERT_TRUE(server.Serve() && server.Start() && Up(svc, dave));
    pid_t victim = Spawn({"client", m_dir, "echo", "victim"}, "connected");
    ASSERT_GT(victim, 0);

    Kill(victim);
    ASSERT_TRUE(echo.journal.WaitFor(kora::kChannelClosedMsg, 1));
    kora::cMsg closed;
    for (const auto& m : echo.journal.All())
        if (m.Name() == kora::kChannelClosedMsg) closed = m;
    ASSERT_NE(closed.Channel(), nullptr);
    EXPECT_EQ(closed.Channel()->PeerInfo().Identity, "victim");
    EXPECT_FALSE(closed.Channel()->IsOpen());
    kora::cMsg late(kPush);
    EXPECT_FALSE(closed.Channel()->Send(late));

    ASSERT_TRUE(dave.journal.WaitFor(kPeerClosed, 1));
    EXPECT_EQ(Text(dave.journal.All().back()), "victim");
    EXPECT_TRUE(EchoRoundTrip(dave, "still served"));
}

TEST_F(Messaging, MalformedInputClosesOnlyThatConnection) {
    kora::cService server("echo"), svc("client");
    EchoServer echo(&server);
    TestClient good(&svc, "echo", "good");
    ASSERT_TRUE(server.Serve() && server.Start() && Up(svc, good));

    kora::s_string text("x");
    Bytes echoBody = Body(2, kEcho, &text, 1);
    Bytes unknownType = Body(2, kEcho, nullptr, 1);
    {
        kora::cSerializeBuffer b;
        kora::s_string("NoSuchType").Serialize(b);
        b.WriteU16(1);
        unknownType.insert(unknownType.end(), b.Data(), b.Data() + b.Size());
    }
    Bytes shortName = Body(2, "", nullptr, 0);
    shortName[8 + 2] = 0xE8;  // the name claims 1000 bytes
    shortName[8 + 3] = 0x03;
    Bytes withTrailing = echoBody;
    withTrailing.insert(withTrailing.end(), {1, 2, 3});
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"oversized length", Frame({}, int64_t(kora::kMaxFrameSize) + 1)},
        {"text instead of frames", Bytes{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '\n'}},
        {"length below the header", Frame({1, 2, 3})},
        {"no announcement", Frame(echoBody)},
        {"payload flag 2", Join({Hello("bad"), Frame(Body(2, kEcho, nullptr, 2))})},
        {"unknown payload type", Join({Hello("bad"), Frame(unknownType)})},
        {"name beyond the frame", Join({Hello("bad"), Frame(shortName)})},
        {"trailing bytes in a frame", Join({Hello("bad"), Frame(withTrailing)})},
        {"id zero", Join({Hello("bad"), Frame(Body(0, kEcho, nullptr, 0))})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int fd = ConnectRaw(server.SocketPath());
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(WriteAll(fd, c.bytes));
        EXPECT_TRUE(ClosedByPeer(fd));
        ::close(fd);
        EXPECT_TRUE(EchoRoundTrip(good, c.what));
    }
    EXPECT_GT(ErrorTraces(), 0u);
    // Only the cases that announced themselves reached the server's sinks, and
    // the good client's requests all did.
    EXPECT_TRUE(echo.journal.WaitFor(kora::kChannelClosedMsg, 5));
    size_t fromGood = 0;
    for (const auto& m : echo.journal.All())
        fromGood += m.Name() == kEcho && m.Channel()->PeerInfo().Identity == "good";
    EXPECT_EQ(fromGood, std::size(cases));
}

TEST_F(Messaging, PeerThatStopsReadingIsDisconnected) {
    kora::cService server("echo"), svc("client");
    EchoServer echo(&server);
    TestClient good(&svc, "echo", "good");
    ASSERT_TRUE(server.Serve() && server.Start() && Up(svc, good));

    // Requests whose answers add up to more than a connection may queue.
    kora::s_string big(std::string(1 << 20, 'z'));
    Bytes request = Frame(Body(2, kEcho, &big, 1));
    int fd = ConnectRaw(server.SocketPath());
    ASSERT_GE(fd, 0);
    bool written = WriteAll(fd, Hello("sluggish"));
    const size_t needed = kora::kMaxQueuedOutput / request.size() + 8;
    for (size_t i = 0; written && i < needed; ++i) written = WriteAll(fd, request);
    EXPECT_TRUE(echo.journal.WaitFor(kora::kChannelClosedMsg, 1, 10000));
    EXPECT_TRUE(Traced("peer does not read"));
    EXPECT_TRUE(EchoRoundTrip(good, "unaffected"));
    ::close(fd);
}

// Sends a request from its connect handler, as a client registering on connect does.
class EagerClient : public TestClient {
  public:
    using TestClient::TestClient;
    bool DispatchMessage(kora::cMsg& msg) override {
        if (msg.Name() == kOnConnect) {
            kora::cMsg req(kEchoThenPush), reply;
            req.AssignObject(NewString("on connect"));
            answered = SendSync(req, reply, 5000, kEchoResp) && Text(reply) == "on connect";
        }
        return TestClient::DispatchMessage(msg);
    }
    std::atomic<bool> answered{false};
};

TEST_F(Messaging, SendSyncOnTheDeliveryThreadKeepsLaterMessagesQueued) {
    ASSERT_GT(Spawn({"server", m_dir, "echo"}, "ready"), 0);
    kora::cService svc("client");
    EagerClient client(&svc, "echo", "ivy");
    ASSERT_TRUE(svc.Start() && client.Start());
    ASSERT_TRUE(client.journal.WaitFor(kPush, 1));
    EXPECT_TRUE(client.answered);
    auto seen = client.journal.All();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Name(), kOnConnect);
    EXPECT_EQ(seen[1].Name(), kPush);
}

TEST_F(Messaging, InProcessTransportNeedsNoSocketFile) {
    kora::cService server("local"), svc("client");
    EchoServer echo(&server);
    TestClient client(&svc, "local", "jo");
    ASSERT_TRUE(server.ServeInProcess() && server.Start() && Up(svc, client));
    EXPECT_FALSE(std::filesystem::exists(server.SocketPath()));
    EXPECT_TRUE(EchoRoundTrip(client, "local"));
    kora::cMsg who(kWho), reply;
    ASSERT_TRUE(client.SendSync(who, reply, 5000, kWhoResp));
    auto* info = reply.GetObject<kora::s_map_string_string>();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ((*info)["identity"], "jo");
    EXPECT_EQ((*info)["pid"], std::to_string(::getpid()));
    ASSERT_TRUE(echo.journal.WaitFor(kHello, 1));
    EXPECT_EQ(echo.journal.All()[0].GetObject<kora::s_peerinfo>()->Pid, uint32_t(::getpid()));

    client.Stop();
    EXPECT_TRUE(echo.journal.WaitFor(kora::kChannelClosedMsg, 1));
}

TEST_F(Messaging, ServeReplacesAStaleSocketButNotALiveOne) {
    kora::cService first("svc");
    const std::string path = first.SocketPath();
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);  // leaves the file of a server that is gone
    }
    EXPECT_TRUE(first.Serve());
    kora::cService second("svc");
    EXPECT_FALSE(second.Serve());
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(Messaging, TimersFireThroughTheSinkAndStopCancels) {
    kora::cService svc("timers");
    RecordingSink sink(&svc, "sink");
    ASSERT_TRUE(svc.Start());
    kora::cTimer plain(&svc, false, &sink), restarted(&svc, false, &sink),
        stopped(&svc, false, &sink), last(&svc, false, &sink);
    plain.StartSec(0, "A");
    restarted.StartMs(30, "B-replaced");
    restarted.StartMs(0, "B");
    stopped.StartMs(20, "C-stopped");
    stopped.Stop();
    {
        kora::cTimer gone(&svc, false, &sink);
        gone.StartMs(20, "D-destroyed");
    }
    last.StartMs(60, "E");
    EXPECT_TRUE(last.IsPending());
    ASSERT_TRUE(sink.journal.WaitFor("E", 1));
    EXPECT_FALSE(last.IsPending());
    std::vector<std::string> names;
    for (const auto& m : sink.journal.All()) names.push_back(m.Name());
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(names.back(), "E");
    EXPECT_EQ(sink.journal.Count("A") + sink.journal.Count("B"), 2u);
}

// Stops its service from the delivery thread.
class StopSink : public kora::cMessageSink {
  public:
    explicit StopSink(kora::cService* s) : cMessageSink(s, "stopper") {
        s->RegisterMessageSink(this);
    }
    ~StopSink() override { Service()->UnRegisterMessageSink(this); }
    bool ProcessMsg(kora::cMsg& msg) override {
        seen.push_back(msg.Name());
        if (msg.Name() == "STOP") Service()->Stop();
        return true;
    }
    std::vector<std::string> seen;
};

TEST_F(Messaging, RunServesTheCallerUntilStopped) {
    kora::cService svc("runner");
    StopSink sink(&svc);
    svc.Post("FIRST");
    kora::cMsg stop("STOP");
    svc.PostMsg(stop, &sink);
    std::thread runner([&] { svc.Run(); });
    runner.join();
    EXPECT_EQ(sink.seen, (std::vector<std::string>{"FIRST", "STOP"}));
    std::atomic<bool> ran{false};
    EXPECT_TRUE(svc.Start());  // and it can be started again
    EXPECT_TRUE(svc.RunOnDelivery([&] { ran = true; }));
    EXPECT_TRUE(WaitUntil([&] { return ran.load(); }));
}

}  // namespace
