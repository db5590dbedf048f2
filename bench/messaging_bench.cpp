// Round trip of one small request and its reply through kora (client service in
// this process, serving service in another, over the socket file) next to a bare
// Unix-socket ping-pong of the same number of bytes between the same two kinds of
// process. The kora benchmark reports its time as a ratio of the bare one.
//
// The serving processes are this program, started again with --kora-server or
// --bare-server.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kora/kora.h"

extern char** environ;

namespace {

constexpr char kPing[] = "BENCH::PING";
constexpr char kPong[] = "BENCH::PONG";
constexpr char kHello[] = "BENCH::HELLO";
const std::string kPayload(32, 'p');

// Bytes of one request frame as kora writes it; the bare ping-pong moves as many.
size_t FrameSize() {
    kora::cSerializeBuffer b;
    b.WriteU32(0);
    b.WriteU32(1);
    b.WriteU32(0);
    kora::s_string(kPing).Serialize(b);
    b.WriteU8(1);
    kora::cObjectFactory::Serialize(kora::s_string(kPayload), b);
    return b.Size();
}

// ---- the serving processes ----

class PongSink : public kora::cMessageSink {
  public:
    explicit PongSink(kora::cService* s) : cMessageSink(s, "pong") { s->RegisterMessageSink(this); }
    ~PongSink() override { Service()->UnRegisterMessageSink(this); }
    bool ProcessMsg(kora::cMsg& msg) override {
        if (msg.Name() != kPing) return msg.Name() == kHello;
        kora::cMsg reply(kPong);
        reply.ShareObject(msg.GetPayload());
        msg.Channel()->Send(reply);
        return true;
    }
};

int KoraServer(const char* dir) {
    setenv("KORA_RUNTIME_DIR", dir, 1);
    kora::cService svc("bench");
    PongSink sink(&svc);
    if (!svc.Serve()) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    svc.Run();
    return 0;
}

bool ReadFull(int fd, char* buf, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, buf + got, size - got);
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

bool WriteFull(int fd, const char* buf, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, buf + done, size - done);
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    return addr;
}

int BareServer(const char* path, size_t size) {
    int lfd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = Address(path);
    if (::bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(lfd, 1) != 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    int fd = ::accept(lfd, nullptr, nullptr);
    std::vector<char> buf(size);
    while (ReadFull(fd, buf.data(), size) && WriteFull(fd, buf.data(), size)) {
    }
    return 0;
}

// ---- the measuring side ----

struct Peer {
    pid_t pid = -1;
    ~Peer() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// Starts this program again with `args` and waits for its "ready".
bool StartPeer(Peer& peer, std::vector<std::string> args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    args.insert(args.begin(), "/proc/self/exe");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int rc = posix_spawn(&peer.pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    char buf[16] = {};
    pollfd p{out[0], POLLIN, 0};
    bool ready = rc == 0 && ::poll(&p, 1, 10000) > 0 && ::read(out[0], buf, 6) == 6 &&
                 std::strncmp(buf, "ready\n", 6) == 0;
    ::close(out[0]);
    return ready;
}

std::string TempDir() {
    char tmpl[] = "/tmp/kora-bench-XXXXXX";
    return ::mkdtemp(tmpl) ? tmpl : "";
}

class BenchClient : public kora::cServiceClient {
  public:
    explicit BenchClient(kora::cService* s)
        : cServiceClient(s, "benchClient", "bench", "BENCH::ON-CONNECT", "BENCH::ON-CLOSE",
                         kHello) {
        s->RegisterMessageSink(this);
    }
    ~BenchClient() override { Service()->UnRegisterMessageSink(this); }
    bool DispatchMessage(kora::cMsg& msg) override {
        std::lock_guard<std::mutex> g(m_lock);
        if (msg.Name() == "BENCH::ON-CONNECT") m_connected = true;
        m_cv.notify_all();
        return true;
    }
    bool WaitConnected() {
        std::unique_lock<std::mutex> g(m_lock);
        return m_cv.wait_for(g, std::chrono::seconds(10), [this] { return m_connected; });
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_connected = false;
};

// A connection to a bare echo process.
struct BareLink {
    std::string dir = TempDir();
    Peer peer;
    int fd = -1;
    std::vector<char> buf = std::vector<char>(FrameSize(), 'x');

    bool Open() {
        const std::string path = dir + "/bare.sock";
        if (!StartPeer(peer, {"--bare-server", path, std::to_string(buf.size())})) return false;
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr = Address(path);
        return ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    bool RoundTrip() {
        return WriteFull(fd, buf.data(), buf.size()) && ReadFull(fd, buf.data(), buf.size());
    }
    ~BareLink() {
        if (fd >= 0) ::close(fd);
        std::filesystem::remove_all(dir);
    }
};

// A kora client connected to a kora echo process.
struct KoraLink {
    std::string dir = TempDir();
    Peer peer;
    std::unique_ptr<kora::cService> svc;
    std::unique_ptr<BenchClient> client;

    bool Open() {
        if (!StartPeer(peer, {"--kora-server", dir})) return false;
        setenv("KORA_RUNTIME_DIR", dir.c_str(), 1);
        svc = std::make_unique<kora::cService>("bench-client");
        client = std::make_unique<BenchClient>(svc.get());
        return svc->Start() && client->Start() && client->WaitConnected();
    }
    bool RoundTrip() {
        kora::cMsg req(kPing), reply;
        req.AssignObject(kora::New<kora::s_string>(kPayload));
        return client->SendSync(req, reply, 5000, kPong);
    }
    ~KoraLink() {
        client.reset();
        svc.reset();
        std::filesystem::remove_all(dir);
    }
};

double g_bareNanos = 0;

template <class Link>
double TimeRoundTrips(benchmark::State& state, Link& link) {
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!link.RoundTrip()) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() /
           double(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

void BM_BareUnixPingPong(benchmark::State& state) {
    BareLink bare;
    if (!bare.Open()) return state.SkipWithError("bare server did not start");
    g_bareNanos = TimeRoundTrips(state, bare);
    state.counters["bytes"] = double(bare.buf.size());
}

void BM_KoraRoundTrip(benchmark::State& state) {
    KoraLink kora;
    if (!kora.Open()) return state.SkipWithError("kora server did not start");
    const double nanos = TimeRoundTrips(state, kora);
    if (g_bareNanos > 0) state.counters["ratio_to_bare"] = nanos / g_bareNanos;
}

// Both kinds of round trip in turns, so that a change of load on the machine
// during the run weighs on both alike.
void BM_KoraVersusBareInTurns(benchmark::State& state) {
    BareLink bare;
    KoraLink kora;
    if (!bare.Open() || !kora.Open()) return state.SkipWithError("servers did not start");
    double bareNanos = 0, koraNanos = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        bool ok = bare.RoundTrip();
        auto t1 = std::chrono::steady_clock::now();
        ok = ok && kora.RoundTrip();
        auto t2 = std::chrono::steady_clock::now();
        if (!ok) return state.SkipWithError("round trip failed");
        bareNanos += std::chrono::duration<double, std::nano>(t1 - t0).count();
        koraNanos += std::chrono::duration<double, std::nano>(t2 - t1).count();
    }
    const double n = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["bare_us"] = bareNanos / n / 1000;
    state.counters["kora_us"] = koraNanos / n / 1000;
    state.counters["ratio"] = bareNanos > 0 ? koraNanos / bareNanos : 0;
}

// Bare first: the kora benchmark divides by its result.
BENCHMARK(BM_BareUnixPingPong)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KoraRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KoraVersusBareInTurns)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--kora-server") == 0) {
        // Errors only, so that the measuring side's output stays readable.
        kora::cTracepoint::SetHandler([](const kora::cTraceRecord& r) {
            if (r.level >= 1) std::fprintf(stderr, "server: %s\n", r.text.c_str());
        });
        return KoraServer(argv[2]);
    }
    if (argc >= 4 && std::strcmp(argv[1], "--bare-server") == 0)
        return BareServer(argv[2], std::strtoul(argv[3], nullptr, 10));
    kora::cTracepoint::SetHandler([](const kora::cTraceRecord& r) {
        if (r.level >= 1) std::fprintf(stderr, "kora: %s\n", r.text.c_str());
    });
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
