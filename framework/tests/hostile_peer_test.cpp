// kora against local peers that misbehave: running a server out of
// descriptors, planting sockets, holding connections and half frames,
// flooding, provoking traces, sending names only the framework may produce,
// payloads nobody asked for, and damaged frames after good ones.
#include <sys/resource.h>
#include <sys/stat.h>

#include "messaging_fixture.h"

namespace {

using namespace kora_test;

using Lines = std::vector<std::string>;

TEST_F(Messaging, AcceptRestsWhileDescriptorsRunOutAndServesTheWaitingClientAfter) {
    // No other connection: while descriptors are out, nothing is delivered, so
    // no code runs that needs one (the sanitizers' type check opens a pipe).
    ASSERT_TRUE(Serve({}, false, false));
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);

    // Fill the descriptor table, below a limit kept low so that it fills fast.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int source = ::open("/dev/null", O_RDONLY | O_CLOEXEC);  // standard input may be closed
    ASSERT_GE(source, 0);
    const rlimit low{rlim_t(source) + 16, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int f; (f = ::dup(source)) >= 0;) fillers.push_back(f);
    ASSERT_EQ(ConnectRaw(server->SocketPath(), fd), fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t failures = TraceCount("accept");
    for (int f : fillers) ::close(f);
    ::close(source);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    // One record for the whole episode, not one per failed attempt.
    EXPECT_TRUE(failures == 1 || failures == 2) << failures;
    // The client waited in the backlog and is served once descriptors are back.
    ASSERT_TRUE(WriteAll(fd, Join({Hello("patient"), StringFrame(kEcho, "late")})));
    EXPECT_EQ(ReadFrames(fd, 5000, 1), Lines{Echoed("late")});
    ::close(fd);
}

TEST_F(Messaging, RuntimeDirectoryIsPrivateAndAnUntrustedOneIsRefused) {
    auto dir = [&](const char* name, mode_t mode) {
        const std::string d = m_dir + "/" + name;
        EXPECT_TRUE(::mkdir(d.c_str(), 0700) == 0 && ::chmod(d.c_str(), mode) == 0);
        return d;
    };
    const std::string link = m_dir + "/link", file = m_dir + "/file", theirs = dir("theirs", 0700);
    ASSERT_EQ(::symlink(dir("good", 0700).c_str(), link.c_str()), 0);
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    const bool root = ::geteuid() == 0;  // only root can give a directory away
    EXPECT_TRUE(!root || ::chown(theirs.c_str(), 65534, 65534) == 0);
    const std::pair<std::string, bool> cases[] = {
        {m_dir + "/fresh/run", true},  // missing: created for this user alone
        {dir("open", 0777), false},    // writable by others
        {link, false},
        {file, false},
        {theirs, !root},  // owned by another user
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        ::setenv("KORA_RUNTIME_DIR", c.first.c_str(), 1);
        cService svc("echo");
        EXPECT_EQ(svc.Serve(), c.second);
        struct stat st {};
        EXPECT_TRUE(!c.second ||
                    (::lstat(c.first.c_str(), &st) == 0 && (st.st_mode & 07777) == 0700));
    }
    EXPECT_TRUE(Traced("runtime directory not usable"));
}

TEST_F(Messaging, ClientSendsNothingToAServerOfAnUntrustedUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    constexpr uid_t kNobody = 65534;
    const std::string path = m_dir + "/planted.sock";
    const sockaddr_un addr = Address(path);
    for (bool trusted : {false, true}) {
        SCOPED_TRACE(trusted ? "user trusted by the client" : "user not trusted");
        ::unlink(path.c_str());
        const int lfd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::bind(lfd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        // Clients see as the server the user acting when listen() ran.
        ASSERT_EQ(::seteuid(kNobody), 0);
        const int listened = ::listen(lfd, 4);
        ASSERT_TRUE(::seteuid(0) == 0 && listened == 0);
        cService svc("client");
        TestClient planted(&svc, "planted", "secret-holder");
        if (trusted) planted.TrustServerUser(kNobody);
        ASSERT_TRUE(svc.Start() && planted.Start());
        pollfd p{lfd, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        const int fd = ::accept(lfd, nullptr, nullptr);
        const std::vector<std::string> got = ReadFrames(fd, 2000, 1);
        planted.Stop();
        ::close(fd);
        ::close(lfd);
        // Only a trusted server gets the announcement; another is left at once.
        EXPECT_EQ(got, Lines{trusted ? std::string(kHello) + " <none>" : kClosed});
    }
    EXPECT_TRUE(Traced("not connecting"));
}

TEST_F(Messaging, ConnectionsBeyondTheLimitAreClosedAtOnce) {
    limits.maxConnections = 3;
    ASSERT_TRUE(Serve(limits));  // the client holds one place
    const int held[] = {Raw(Hello("holder")), Raw(Hello("holder"))};
    EXPECT_EQ(Exchange({}, SIZE_MAX, 2000), Lines{kClosed});
    EXPECT_TRUE(Traced("limit reached"));
    // Those within the limit are served; a freed place is taken again.
    ASSERT_TRUE(WriteAll(held[0], StringFrame(kEcho, "in")));
    EXPECT_EQ(ReadFrames(held[0], 5000, 1), Lines{Echoed("in")});
    ::close(held[1]);
    ASSERT_TRUE(echo->journal.WaitFor(kChannelClosedMsg, 1));
    EXPECT_EQ(Exchange(Join({Hello("next"), StringFrame(kEcho, "next")}), 1),
              Lines{Echoed("next")});
    ::close(held[0]);
}

TEST_F(Messaging, AFrameNotCompletedInTimeClosesItsConnection) {
    limits.frameDeadlineMs = 200;
    ASSERT_TRUE(Serve(limits));
    const Bytes frame = StringFrame(kEcho, std::string(100, 'x'));
    const Lines answers(3, Echoed(std::string(100, 'x')));
    const struct {
        const char* what;
        std::function<void(int fd)> send;
        bool dropped;  // else each frame is answered
    } cases[] = {
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
             for (int i = 0; i < 3; ++i, WriteAll(fd, frame))
                 std::this_thread::sleep_for(std::chrono::milliseconds(300));
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int fd = Raw(Hello(c.what));
        c.send(fd);
        EXPECT_EQ(ReadFrames(fd, 2000, 3), c.dropped ? Lines{kClosed} : answers);
        ::close(fd);
        EXPECT_TRUE(EchoRoundTrip(*client, c.what));
    }
}

TEST_F(Messaging, AFloodIsHeldInTheSocketNotInMemoryAndNothingIsLost) {
    limits.maxQueuedMessages = 64;
    ASSERT_TRUE(Serve(limits));
    constexpr size_t kFlood = 20000;
    const Bytes flood = Join({Hello("flood"), Flood(kIgnore, kFlood)});
    const int fd = ConnectRaw(server->SocketPath());
    // Delivery waits while the lock is held; the writer blocks once the server
    // stops reading: that is the back-pressure.
    cDispatchLock held = server->LockDispatch();
    std::thread writer([&] { WriteAll(fd, flood); });
    size_t most = 0;
    for (int i = 0; i < 40; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        most = std::max(most, server->PendingMessages());
    EXPECT_TRUE(most >= limits.maxQueuedMessages / 2 && most <= limits.maxQueuedMessages + 1)
        << most;
    held.Unlock();
    writer.join();
    EXPECT_TRUE(echo->journal.WaitFor(kIgnore, kFlood) && Traced("reading paused"))
        << echo->journal.Count(kIgnore) << " of " << kFlood;
    ::close(fd);
}

TEST_F(Messaging, AThreadTakingTheDispatchLockInALoopDoesNotStarveDelivery) {
    ASSERT_TRUE(Serve({}, true));
    constexpr int kRounds = 2000;
    size_t most = 0;
    for (int i = 0; i < kRounds; ++i) {
        cDispatchLock guard = clientSvc->LockDispatch();
        most = std::max(most, clientSvc->PendingMessages());
        ASSERT_EQ(Ask(*client, kEchoThenPush, "x"), "x");
        if (i == 0) {
            // The push follows the answer on the wire and waits while the lock is held.
            EXPECT_TRUE(WaitUntil([&] { return clientSvc->PendingMessages() >= 1; }) &&
                        client->journal.Count(kPush) == 0);
        }
    }
    // Each push waits while the lock is held, but is delivered before the lock
    // is taken again.
    EXPECT_TRUE(most <= 4 && client->journal.WaitFor(kPush, kRounds)) << most;
}

// A peer claiming that its own connection closed, then sending thousands of
// messages nobody handles. The client's side, a server sending the client's
// own connection events, is exercised through the data client.
TEST_F(Messaging,
       NamesOnlyTheFrameworkProducesAreDroppedAndWhatAPeerProvokesIsTracedAtALimitedRate) {
    ASSERT_TRUE(Serve());
    const int fd = Raw(Join({Hello("liar"), Frame(Body(2, kChannelClosedMsg, nullptr, 0)),
                             Flood("TEST::UNKNOWN", 5000), StringFrame(kEcho, "done", 9000)}));
    EXPECT_EQ(ReadFrames(fd, 5000, 1), Lines{Echoed("done")});
    // Checked before the real close.
    EXPECT_TRUE(echo->journal.Count(kChannelClosedMsg) == 0 && Traced("reserved message name"));
    const size_t traced = TraceCount("message not handled");
    EXPECT_TRUE(traced >= 1 && traced <= 12) << traced;
    ::close(fd);
}

// A payload that counts how often it was read from the wire.
struct Counted : ISerialize {
    static std::atomic<int> reads;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "TestCounted"; }
    bool Serialize(cSerializeBuffer& b) const override {
        SerializeVersion(b);
        return true;
    }
    int Deserialize(cSerializeBuffer& b) override {
        ++reads;
        return DeserializeVersion(b) == 1;
    }
    std::string ToString(const std::string&) const override { return "TestCounted"; }
};
std::atomic<int> Counted::reads{0};
RegisterObject<Counted> r_Counted;

TEST_F(Messaging, APayloadIsReadOnlyWhenAHandlerAsksForItsClass) {
    ASSERT_TRUE(Serve({}, true));
    const std::pair<const char*, int> cases[] = {
        {"TEST::UNKNOWN", 0},  // nobody handles it
        {kTyped, 0},           // the handler takes strings only
        {kEcho, 1},            // the handler sends it back
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        Counted::reads = 0;
        cMsg msg(c.first);
        msg.AssignObject(New<Counted>());
        // The round trip after it proves that everything before it was handled.
        ASSERT_TRUE(client->Send(msg) && EchoRoundTrip(*client, "sync"));
        EXPECT_EQ(Counted::reads.load(), c.second);
    }
    cMsg typed(kTyped), reply;
    typed.AssignObject(New<Counted>());
    EXPECT_TRUE(client->SendSync(typed, reply, 5000, kEchoResp) && Text(reply) == "none");
}

// Each case is sent alone, or behind an announcement and good requests in
// the same write: those are answered, then the connection is closed.
TEST_F(Messaging, DamagedInputClosesOnlyThatConnectionAfterAnsweringWhatCameBefore) {
    ASSERT_TRUE(Serve());
    s_string text("x");
    Bytes longName = Body(4, "", nullptr, 0);
    longName[8 + 2] = 0xE8, longName[8 + 3] = 0x03;  // the name claims 1000 bytes
    const std::string one = Echoed("one"), two = Echoed("two");
    const Bytes good =
        Join({Hello("good"), StringFrame(kEcho, "one", 2), StringFrame(kEcho, "two", 3)});
    const Lines alone = {kClosed}, after = {one, two, kClosed},
                unread = {one, two, Echoed("<none>"), kClosed};
    const struct {
        const char* what;
        Bytes bytes;
        Lines answers;
    } cases[] = {
        {"no announcement", Frame(Body(2, kEcho, &text, 1)), alone},
        {"text instead of frames", Bytes{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'}, alone},
        {"oversized length", Frame({}, int64_t(kMaxFrameSize) + 1), after},
        {"length below the header", Frame({1, 2, 3}), after},
        {"payload flag 2", Frame(Body(4, kEcho, nullptr, 2)), after},
        // The type name "No", then the version.
        {"unknown payload type",
         Frame(Join({Body(4, kEcho, nullptr, 1), {1, 0, 2, 0, 0, 0, 'N', 'o', 1, 0}})), after},
        {"name beyond the frame", Frame(longName), after},
        {"trailing bytes", Frame(Join({Body(4, kEcho, nullptr, 0), {7}})), after},
        // A payload is read only when asked for: the request is answered without it.
        {"trailing bytes after a payload", Frame(Join({Body(4, kEcho, &text, 1), {7}})), unread},
        {"id zero", Frame(Body(0, kEcho, nullptr, 0)), after},
        {"end of file", Bytes(), after},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes bytes = Join({c.answers.size() == 1 ? Bytes() : good, c.bytes});
        EXPECT_EQ(Exchange(bytes, SIZE_MAX, 5000, c.bytes.empty()), c.answers);
        EXPECT_TRUE(EchoRoundTrip(*client, c.what));
    }
}

TEST_F(Messaging, CredentialsComeFromTheKernelNotFromTheAnnouncement) {
    ASSERT_TRUE(Serve());
    const Bytes hello = Join({Hello("forger"), StringFrame(kEcho, "x")});  // claims pid 1
    const sockaddr_un addr = Address(server->SocketPath());
    // Another process announces itself, then waits to be killed.
    const pid_t pid = ::fork();
    if (pid == 0) {  // only async-signal-safe calls
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
            ::write(fd, hello.data(), hello.size()) == ssize_t(hello.size()))
            ::pause();
        ::_exit(1);
    }
    ASSERT_GT(pid, 0);
    const std::shared_ptr<void> reap(
        nullptr, [pid](void*) { ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0); });
    ASSERT_TRUE(echo->journal.WaitFor(kEcho, 1));
    Ref<cChannel> ch;
    for (const auto& m : echo->journal.All())
        if (m.Name() == kEcho) ch = Ref<cChannel>::Share(m.Channel());
    ASSERT_TRUE(ch);
    const cPeerCredentials& who = ch->Credentials();
    EXPECT_EQ(
        std::make_tuple(ch->PeerInfo().Identity, who.known, who.pid, who.uid, ch->PeerInfo().Pid),
        std::make_tuple(std::string("forger"), true, uint32_t(pid), ::getuid(), uint32_t(pid)));
    std::vector<gid_t> groups(size_t(::getgroups(0, nullptr)));
    groups.resize(size_t(::getgroups(int(groups.size()), groups.data())));
    groups.push_back(::getgid());
    for (gid_t g : groups) EXPECT_TRUE(who.InGroup(g)) << g;
    EXPECT_FALSE(who.InGroup(0xFFFFFFF0u));
}

}  // namespace
