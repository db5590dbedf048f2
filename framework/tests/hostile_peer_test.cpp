// kora against local peers that misbehave: running a server out of
// descriptors, planting sockets, holding connections and half frames,
// flooding, provoking traces, sending names only the framework may produce,
// payloads nobody asked for, and damaged frames after good ones.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "messaging_fixture.h"

namespace {

using namespace kora_test;

// A frame with a string payload, id 2.
Bytes StringFrame(const std::string& name, const std::string& text, uint32_t id = 2) {
    kora::s_string s(text);
    return Frame(Body(id, name, &s, 1));
}

std::vector<std::string> Texts(const std::vector<kora::cMsg>& msgs) {
    std::vector<std::string> out;
    for (const auto& m : msgs) out.push_back(m.Name() + " " + Text(m));
    return out;
}

// The server's view of the raw connection that announced `identity`.
kora::Ref<kora::cChannel> ChannelOf(EchoServer& echo, const std::string& identity) {
    for (const auto& m : echo.journal.All())
        if (m.Name() == kHello && m.Channel() && m.Channel()->PeerInfo().Identity == identity)
            return kora::Ref<kora::cChannel>::Share(m.Channel());
    return {};
}

TEST_F(Messaging, AcceptRestsWhileDescriptorsRunOutAndServesTheWaitingClientAfter) {
    kora::cService server("echo");
    EchoServer echo(&server);
    ASSERT_TRUE(server.Serve() && server.Start());
    int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);

    // Fill the descriptor table, below a limit kept low so that it fills fast.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int source = ::open("/dev/null", O_RDONLY | O_CLOEXEC);  // standard input may be closed
    ASSERT_GE(source, 0);
    rlimit low = saved;
    low.rlim_cur = rlim_t(source) + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::dup(source)) >= 0;) fillers.push_back(fd);

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, server.SocketPath().c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t failures = TraceCount("accept");

    for (int fd : fillers) ::close(fd);
    ::close(source);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    // One record for the whole episode, not one per failed attempt.
    EXPECT_GE(failures, 1u);
    EXPECT_LE(failures, 2u);
    // The client waited in the backlog and is served once descriptors are back.
    ASSERT_TRUE(WriteAll(client, Join({Hello("patient"), StringFrame(kEcho, "late")})));
    EXPECT_EQ(Texts(ReadFrames(client, 5000, 1)), std::vector<std::string>{"TEST::ECHO-RESP late"});
    ::close(client);
}

TEST_F(Messaging, RuntimeDirectoryIsPrivateAndAnUntrustedOneIsRefused) {
    const std::string good = m_dir + "/good";
    ASSERT_EQ(::mkdir(good.c_str(), 0700), 0);
    struct Case {
        const char* what;
        std::function<std::string()> prepare;  // the runtime directory to use
        bool served;
    };
    std::vector<Case> cases = {
        {"missing: created for this user alone", [&] { return m_dir + "/fresh/run"; }, true},
        {"writable by others",
         [&] {
             const std::string d = m_dir + "/open";
             ::mkdir(d.c_str(), 0700);
             ::chmod(d.c_str(), 0777);
             return d;
         },
         false},
        {"a symbolic link",
         [&] {
             const std::string d = m_dir + "/link";
             EXPECT_EQ(::symlink(good.c_str(), d.c_str()), 0);
             return d;
         },
         false},
        {"a file",
         [&] {
             const std::string d = m_dir + "/file";
             ::close(::open(d.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
             return d;
         },
         false},
    };
    if (::geteuid() == 0)
        cases.push_back({"owned by another user",
                         [&] {
                             const std::string d = m_dir + "/theirs";
                             ::mkdir(d.c_str(), 0700);
                             EXPECT_EQ(::chown(d.c_str(), 65534, 65534), 0);
                             return d;
                         },
                         false});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = c.prepare();
        ::setenv("KORA_RUNTIME_DIR", dir.c_str(), 1);
        kora::cService server("echo");
        EXPECT_EQ(server.Serve(), c.served);
        struct stat st {};
        if (c.served) {
            ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0700u);
        }
    }
    EXPECT_TRUE(Traced("runtime directory not usable"));
}

// A process of another user that listens where the service should be and
// reports how many bytes a client sent it.
pid_t ForeignServer(const std::string& path, uid_t uid, int report) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    // Only async-signal-safe calls from here on.
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(1);
    int lfd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(lfd, 4) != 0)
        ::_exit(1);
    const char ready = 'r';
    if (::write(report, &ready, 1) != 1) ::_exit(1);
    uint32_t total = 0;
    for (int round = 0; round < 2; ++round) {
        pollfd p{lfd, POLLIN, 0};
        if (::poll(&p, 1, 1500) <= 0) break;
        int fd = ::accept(lfd, nullptr, nullptr);
        char buf[256];
        for (;;) {
            pollfd q{fd, POLLIN, 0};
            if (::poll(&q, 1, 300) <= 0) break;
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            total += uint32_t(n);
        }
        ::close(fd);
    }
    if (::write(report, &total, sizeof total) != sizeof total) ::_exit(1);
    ::_exit(0);
}

TEST_F(Messaging, ClientSendsNothingToAServerOfAnUntrustedUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a server as another user";
    constexpr uid_t kNobody = 65534;
    // A directory the client trusts (root's, not writable by others) in which
    // the other user may still create a socket: the socket's owner decides.
    const std::string dir = m_dir + "/shared";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(::chown(dir.c_str(), 0, kNobody), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0770), 0);
    ASSERT_EQ(::chmod(m_dir.c_str(), 0755), 0);
    ::setenv("KORA_RUNTIME_DIR", dir.c_str(), 1);

    for (bool trusted : {false, true}) {
        SCOPED_TRACE(trusted ? "user trusted by the client" : "user not trusted");
        ::unlink((dir + "/planted.sock").c_str());
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        pid_t pid = ForeignServer(dir + "/planted.sock", kNobody, report[1]);
        ASSERT_GT(pid, 0);
        Track(pid);
        ::close(report[1]);
        char ready = 0;
        ASSERT_EQ(::read(report[0], &ready, 1), 1);

        kora::cService svc("client");
        TestClient client(&svc, "planted", "secret-holder");
        if (trusted) client.TrustServerUser(kNobody);
        ASSERT_TRUE(svc.Start() && client.Start());
        uint32_t received = 0;
        EXPECT_EQ(::read(report[0], &received, sizeof received), ssize_t(sizeof received));
        ::close(report[0]);
        client.Stop();
        if (trusted) {
            EXPECT_GT(received, 0u) << "the announcement reaches a trusted server";
        } else {
            EXPECT_EQ(received, 0u) << "nothing reaches an untrusted server";
            EXPECT_TRUE(Traced("not connecting"));
        }
    }
}

TEST_F(Messaging, ConnectionsBeyondTheLimitAreClosedAtOnce) {
    kora::cService server("echo");
    EchoServer echo(&server);
    kora::cServiceLimits limits;
    limits.maxConnections = 3;
    server.SetLimits(limits);
    ASSERT_TRUE(server.Serve() && server.Start());
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(ConnectRaw(server.SocketPath()));
        ASSERT_TRUE(WriteAll(held.back(), Hello("holder" + std::to_string(i))));
    }
    int extra = ConnectRaw(server.SocketPath());
    ASSERT_GE(extra, 0);
    EXPECT_TRUE(ClosedByPeer(extra, 2000));
    ::close(extra);
    EXPECT_TRUE(Traced("limit reached"));
    // Those within the limit are served; a freed place is taken again.
    ASSERT_TRUE(WriteAll(held[0], StringFrame(kEcho, "in")));
    EXPECT_EQ(Texts(ReadFrames(held[0], 5000, 1)), std::vector<std::string>{"TEST::ECHO-RESP in"});
    ::close(held[1]);
    ASSERT_TRUE(echo.journal.WaitFor(kora::kChannelClosedMsg, 1));
    int again = ConnectRaw(server.SocketPath());
    ASSERT_TRUE(WriteAll(again, Join({Hello("next"), StringFrame(kEcho, "next")})));
    EXPECT_EQ(Texts(ReadFrames(again, 5000, 1)), std::vector<std::string>{"TEST::ECHO-RESP next"});
    for (int fd : {held[0], held[2], again}) ::close(fd);
}

TEST_F(Messaging, AFrameNotCompletedInTimeClosesItsConnection) {
    kora::cService server("echo"), svc("client");
    EchoServer echo(&server);
    kora::cServiceLimits limits;
    limits.frameDeadlineMs = 200;
    server.SetLimits(limits);
    TestClient good(&svc, "echo", "good");
    ASSERT_TRUE(server.Serve() && server.Start() && Up(svc, good));

    const Bytes frame = StringFrame(kEcho, std::string(100, 'x'));
    struct Case {
        const char* what;
        std::function<void(int fd)> send;
        bool dropped;
    };
    const Case cases[] = {
        {"stops one byte short",
         [&](int fd) { WriteAll(fd, Bytes(frame.begin(), frame.end() - 1)); }, true},
        {"sends a byte every 50 ms",
         [&](int fd) {
             for (size_t i = 0; i < 30 && WriteAll(fd, Bytes{frame[i]}); ++i)
                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
         },
         true},
        {"sends whole frames 300 ms apart",
         [&](int fd) {
             for (int i = 0; i < 3; ++i) {
                 std::this_thread::sleep_for(std::chrono::milliseconds(300));
                 WriteAll(fd, frame);
             }
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int fd = ConnectRaw(server.SocketPath());
        ASSERT_TRUE(WriteAll(fd, Hello(c.what)));
        c.send(fd);
        if (c.dropped)
            EXPECT_TRUE(ClosedByPeer(fd, 2000));
        else
            EXPECT_EQ(ReadFrames(fd, 5000, 3).size(), 3u);
        ::close(fd);
        EXPECT_TRUE(EchoRoundTrip(good, c.what));
    }
}

// Holds the delivery of everything behind a message named kBlock until opened.
class GateSink : public kora::cMessageSink {
  public:
    static constexpr char kBlock[] = "TEST::BLOCK";
    explicit GateSink(kora::cService* s) : cMessageSink(s, "gate") { s->RegisterMessageSink(this); }
    ~GateSink() override { Service()->UnRegisterMessageSink(this); }
    bool ProcessMsg(kora::cMsg& msg) override {
        if (msg.Name() == kBlock) {
            std::unique_lock<std::mutex> g(m_lock);
            m_cv.wait(g, [this] { return m_open; });
            return true;
        }
        if (msg.Name() != kIgnore) return false;
        ++ignored;
        return true;
    }
    void Open() {
        std::lock_guard<std::mutex> g(m_lock);
        m_open = true;
        m_cv.notify_all();
    }
    std::atomic<size_t> ignored{0};

  private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_open = false;
};

TEST_F(Messaging, AFloodIsHeldInTheSocketNotInMemoryAndNothingIsLost) {
    kora::cService server("echo");
    GateSink gate(&server);
    EchoServer echo(&server);
    kora::cServiceLimits limits;
    limits.maxQueuedMessages = 64;
    server.SetLimits(limits);
    ASSERT_TRUE(server.Serve() && server.Start());

    constexpr size_t kFlood = 20000;
    Bytes flood = Join({Hello("flood"), Frame(Body(2, GateSink::kBlock, nullptr, 0))});
    for (size_t i = 0; i < kFlood; ++i) {
        Bytes one = Frame(Body(uint32_t(i + 3), kIgnore, nullptr, 0));
        flood.insert(flood.end(), one.begin(), one.end());
    }
    int fd = ConnectRaw(server.SocketPath());
    // The writer blocks once the server stops reading: that is the back-pressure.
    std::thread writer([&] { WriteAll(fd, flood); });
    size_t most = 0;
    for (int i = 0; i < 40; ++i) {
        most = std::max(most, server.PendingMessages());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LE(most, limits.maxQueuedMessages + 1);
    EXPECT_GE(most, limits.maxQueuedMessages / 2);
    gate.Open();
    writer.join();
    EXPECT_TRUE(WaitUntil([&] { return gate.ignored.load() == kFlood; }))
        << gate.ignored.load() << " of " << kFlood << " pending " << server.PendingMessages();
    EXPECT_TRUE(Traced("reading paused"));
    ::close(fd);
}

TEST_F(Messaging, AThreadTakingTheDispatchLockInALoopDoesNotStarveDelivery) {
    kora::cService server("echo"), svc("client");
    EchoServer echo(&server);
    TestClient client(&svc, "echo", "busy");
    ASSERT_TRUE(server.ServeInProcess() && server.Start() && Up(svc, client));
    constexpr int kRounds = 2000;
    size_t most = 0;
    for (int i = 0; i < kRounds; ++i) {
        kora::cDispatchLock guard = svc.LockDispatch();
        most = std::max(most, svc.PendingMessages());
        kora::cMsg req(kEchoThenPush), reply;
        req.AssignObject(NewString("x"));
        ASSERT_TRUE(client.SendSync(req, reply, 5000, kEchoResp));
        if (i == 0) {
            // The push follows the answer on the wire and waits while the lock is held.
            EXPECT_TRUE(WaitUntil([&] { return svc.PendingMessages() >= 1; }));
            EXPECT_EQ(client.journal.Count(kPush), 0u);
        }
    }
    // Each push follows its answer and waits while the lock is held, but is
    // delivered before the lock is taken again.
    EXPECT_LE(most, 4u);
    EXPECT_TRUE(client.journal.WaitFor(kPush, kRounds));
}

TEST_F(Messaging, WhatAPeerProvokesIsTracedAtALimitedRate) {
    kora::cService server("echo");
    EchoServer echo(&server);
    ASSERT_TRUE(server.Serve() && server.Start());
    Bytes flood = Hello("chatty");
    for (uint32_t i = 0; i < 5000; ++i) {
        Bytes one = Frame(Body(i + 2, "TEST::UNKNOWN", nullptr, 0));
        flood.insert(flood.end(), one.begin(), one.end());
    }
    const Bytes marker = StringFrame(kEcho, "done", 9000);
    flood.insert(flood.end(), marker.begin(), marker.end());
    int fd = ConnectRaw(server.SocketPath());
    ASSERT_TRUE(WriteAll(fd, flood));
    EXPECT_EQ(Texts(ReadFrames(fd, 5000, 1)), std::vector<std::string>{"TEST::ECHO-RESP done"});
    EXPECT_GE(TraceCount("message not handled"), 1u);
    EXPECT_LE(TraceCount("message not handled"), 12u);
    ::close(fd);
}

TEST_F(Messaging, NamesOnlyTheFrameworkOrTheClientProduceAreDroppedFromPeers) {
    kora::cService server("echo"), svc("client");
    EchoServer echo(&server);
    TestClient watcher(&svc, "echo", "watcher");
    ASSERT_TRUE(server.Serve() && server.Start() && Up(svc, watcher));

    // A peer claiming that its own connection closed.
    int fd = ConnectRaw(server.SocketPath());
    ASSERT_TRUE(
        WriteAll(fd, Join({Hello("liar"), Frame(Body(2, kora::kChannelClosedMsg, nullptr, 0)),
                           StringFrame(kEcho, "still here", 3)})));
    EXPECT_EQ(Texts(ReadFrames(fd, 5000, 1)),
              std::vector<std::string>{"TEST::ECHO-RESP still here"});
    EXPECT_EQ(echo.journal.Count(kora::kChannelClosedMsg), 0u);
    EXPECT_EQ(watcher.journal.Count(kPeerClosed), 0u);
    EXPECT_TRUE(Traced("reserved message name"));
    ::close(fd);

    // A server sending the client's own connect and close names.
    kora::cMsg fake(kFakeEvents), reply;
    ASSERT_TRUE(watcher.SendSync(fake, reply, 5000, kEchoResp));
    EXPECT_TRUE(EchoRoundTrip(watcher, "after"));
    EXPECT_EQ(watcher.journal.Count(kOnClose), 0u);
    EXPECT_EQ(watcher.journal.Count(kOnConnect), 1u);  // the real one
    EXPECT_TRUE(watcher.IsConnected());
}

// A payload that counts how often it was read from the wire.
class Counted : public kora::ISerialize {
  public:
    static std::atomic<int> reads;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "TestCounted"; }
    bool Serialize(kora::cSerializeBuffer& b) const override {
        SerializeVersion(b);
        return true;
    }
    int Deserialize(kora::cSerializeBuffer& b) override {
        ++reads;
        return DeserializeVersion(b) == 1;
    }
    std::string ToString(const std::string&) const override { return "TestCounted"; }
};
std::atomic<int> Counted::reads{0};
kora::RegisterObject<Counted> r_Counted;

TEST_F(Messaging, APayloadIsReadOnlyWhenAHandlerAsksForItsClass) {
    kora::cService server("echo"), svc("client");
    EchoServer echo(&server);
    TestClient client(&svc, "echo", "sender");
    ASSERT_TRUE(server.ServeInProcess() && server.Start() && Up(svc, client));
    struct Case {
        const char* name;
        int reads;  // by the server
    } cases[] = {
        {"TEST::UNKNOWN", 0},  // nobody handles it
        {kTyped, 0},           // the handler takes strings only
        {kEcho, 1},            // the handler sends it back
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Counted::reads = 0;
        kora::cMsg msg(c.name), reply;
        msg.AssignObject(kora::New<Counted>());
        ASSERT_TRUE(client.Send(msg));
        ASSERT_TRUE(EchoRoundTrip(client, "sync"));  // everything before it was handled
        EXPECT_EQ(Counted::reads.load(), c.reads);
    }
    kora::cMsg typed(kTyped), reply;
    typed.AssignObject(kora::New<Counted>());
    ASSERT_TRUE(client.SendSync(typed, reply, 5000, kEchoResp));
    EXPECT_EQ(Text(reply), "none");
}

TEST_F(Messaging, RequestsBeforeADamagedFrameOrAnEndOfFileAreAnswered) {
    kora::cService server("echo");
    EchoServer echo(&server);
    ASSERT_TRUE(server.Serve() && server.Start());
    Bytes trailing = Body(4, kEcho, nullptr, 0);
    trailing.push_back(7);
    struct Case {
        const char* what;
        Bytes end;         // after two good requests, in the same write
        bool shutWriting;  // then the peer stops writing
    } cases[] = {
        {"frame too short", Frame({1, 2, 3}), false},
        {"trailing bytes", Frame(trailing), false},
        {"end of file", Bytes(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int fd = ConnectRaw(server.SocketPath());
        ASSERT_TRUE(WriteAll(fd, Join({Hello(c.what), StringFrame(kEcho, "one", 2),
                                       StringFrame(kEcho, "two", 3), c.end})));
        if (c.shutWriting) ::shutdown(fd, SHUT_WR);
        EXPECT_EQ(Texts(ReadFrames(fd)),
                  (std::vector<std::string>{"TEST::ECHO-RESP one", "TEST::ECHO-RESP two"}));
        EXPECT_TRUE(ClosedByPeer(fd, 2000));
        ::close(fd);
    }
}

TEST_F(Messaging, CredentialsComeFromTheKernelNotFromTheAnnouncement) {
    kora::cService server("echo");
    EchoServer echo(&server);
    ASSERT_TRUE(server.Serve() && server.Start());
    int fd = ConnectRaw(server.SocketPath());
    ASSERT_TRUE(WriteAll(fd, Join({Hello("forger"), StringFrame(kEcho, "x")})));  // claims pid 1
    ASSERT_EQ(ReadFrames(fd, 5000, 1).size(), 1u);
    kora::Ref<kora::cChannel> ch = ChannelOf(echo, "forger");
    ASSERT_TRUE(ch);
    const kora::cPeerCredentials& who = ch->Credentials();
    EXPECT_TRUE(who.known);
    EXPECT_EQ(who.pid, uint32_t(::getpid()));
    EXPECT_EQ(who.uid, ::getuid());
    EXPECT_EQ(ch->PeerInfo().Pid, uint32_t(::getpid()));
    std::vector<gid_t> groups(size_t(::getgroups(0, nullptr)));
    groups.resize(size_t(::getgroups(int(groups.size()), groups.data())));
    for (gid_t g : groups) EXPECT_TRUE(who.InGroup(g)) << g;
    EXPECT_TRUE(who.InGroup(::getgid()));
    EXPECT_FALSE(who.InGroup(0xFFFFFFF0u));
    ::close(fd);
}

}  // namespace
