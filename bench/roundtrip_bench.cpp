// What a client pays for one GetItem round trip through cDataClient and
// cDataServer, next to the two anchors it is judged against:
//
//   bare    a Unix-socket ping-pong between two processes moving the same bytes
//           (the request frame one way, the answer frame the other), with one
//           blocking read and one write per side: the floor for any IPC here;
//   sd-bus  a method call with the same argument and answer bytes through a
//           private dbus-daemon: what a developer would pick instead.
//
// All three run in one process against server processes of their own, in
// batches taken in turns, so that a change of load during the run weighs on
// all of them alike. Every process (this one, the servers, the bus daemon) is
// pinned to one CPU by default (--cpus=same), or the clients to one CPU and
// the servers to the other (--cpus=split); the placement is printed with the
// results. Allocations are counted through operator new, in the client and in
// the tessel server, per round trip.
//
// The serving processes are this program, started again with --serve-tessel,
// --serve-bare or --serve-sdbus.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#if TESSEL_BENCH_SDBUS
#include <systemd/sd-bus.h>
#endif

#include "tessel/tessel.h"

extern char** environ;

// ---- allocation counting ----

namespace {
std::atomic<uint64_t> g_allocations{0};
}

void* operator new(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
// Out of line, so that the compiler does not pair a free() with a new.
__attribute__((noinline)) void FreeBlock(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p) noexcept {
    FreeBlock(p);
}
void operator delete[](void* p) noexcept {
    FreeBlock(p);
}
void operator delete(void* p, size_t) noexcept {
    FreeBlock(p);
}
void operator delete[](void* p, size_t) noexcept {
    FreeBlock(p);
}

namespace {

const char kItemPath[] = "/Config/System/DeviceManagement/SSH/SSHConfig";
const char kStats[] = "BENCH::STATS";
const char kStatsResp[] = "BENCH::STATS-RESP";
const char kBusName[] = "org.tessel.Bench";
const char kBusPath[] = "/org/tessel/Bench";

// The item the servers hand out, and its bytes as the tessel answer carries them.
tessel::cDBConfigSSH* NewItem() {
    return kora::New<tessel::cDBConfigSSH>();
}

std::vector<uint8_t> ItemBytes() {
    kora::Ref<tessel::cDBConfigSSH> item = kora::Ref<tessel::cDBConfigSSH>::Adopt(NewItem());
    kora::cSerializeBuffer b;
    kora::cObjectFactory::Serialize(*item, b);
    return std::vector<uint8_t>(b.Data(), b.Data() + b.Size());
}

// Sizes of the request and answer frames of one GetItem.
std::pair<size_t, size_t> FrameSizes() {
    kora::cMsg req(tessel::kMsgGetItemReq), resp(tessel::kMsgGetItemResp);
    auto* r = kora::New<tessel::ccDBGetItemReq>();
    r->Path = kItemPath;
    req.AssignObject(r);
    resp.AssignObject(NewItem());
    std::vector<uint8_t> a, b;
    std::string error;
    kora::cFrame::Encode(req, 1, 0, a, error);
    kora::cFrame::Encode(resp, 1, 1, b, error);
    return {a.size(), b.size()};
}

bool ReadFull(int fd, uint8_t* buf, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, buf + got, size - got);
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

bool WriteFull(int fd, const uint8_t* buf, size_t size) {
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

void Ready() {
    std::printf("ready\n");
    std::fflush(stdout);
}

// ---- the serving processes ----

// A data-server host that holds one item and hands it out by reference.
class BenchHost : public tessel::IDataServer {
  public:
    BenchHost() : m_item(kora::Ref<tessel::cDBConfigSSH>::Adopt(NewItem())) {}
    tessel::cDBItem* GetItem(const kora::s_string& path) override {
        if (path != kItemPath) return nullptr;
        m_item->AddRef();  // the answer takes this reference over
        return m_item.get();
    }
    kora::s_int8 SetItem(tessel::cDBItem*) override { return 0; }
    kora::s_int8 DeleteItem(const kora::s_string&) override { return 0; }
    kora::s_int8 DuplicateItem(const kora::s_string&, const kora::s_string&,
                               const kora::s_string&) override {
        return 0;
    }
    kora::s_int8 RenameItem(const kora::s_string&, const kora::s_string&, const kora::s_string&,
                            std::set<kora::s_string>&) override {
        return 0;
    }
    void SyncCollection(tessel::cDataServer*, kora::cChannel*, const kora::s_string&) override {}
    kora::s_int8 CreateRestorePoint() override { return 0; }
    kora::s_int8 Restore() override { return 0; }
    kora::s_int8 ImportConfig(const kora::s_string&, kora::s_bool) override { return 0; }
    kora::s_int8 ConfirmConfig() override { return 0; }
    kora::s_int8 FallbackConfig() override { return 0; }
    kora::s_int8 ExportConfig(const kora::s_string&) override { return 0; }
    kora::s_int8 ExportStatus(const kora::s_string&) override { return 0; }
    kora::s_int8 FactoryReset() override { return 0; }
    std::pair<kora::s_string, kora::s_string> GetFactoryConfigInfo() override { return {}; }
    void Reboot(const kora::s_string&) override {}
    kora::s_int8 CreateSnapshot(const kora::s_string&) override { return 0; }
    void Log(const kora::cTime&, const kora::s_string&, kora::s_uint8, const kora::s_string&,
             const kora::s_string&, const kora::s_string&, const kora::s_string&,
             const kora::s_string&, kora::s_int8) override {}
    kora::ISerialize* ReadLog(const kora::cTime&, const kora::s_string&, kora::s_uint8,
                              kora::s_uint8, kora::s_uint64) override {
        return nullptr;
    }
    kora::s_int8 ExportLog(const kora::cTime&, const kora::cTime&, kora::s_uint8,
                           const std::set<kora::s_string>&, const kora::s_string&) override {
        return 0;
    }
    kora::s_int8 AddUser(const kora::s_string&, const kora::s_string&, kora::s_uint8, kora::s_uint8,
                         kora::s_uint8) override {
        return 0;
    }
    kora::s_int8 DeleteUser(const kora::s_string&) override { return 0; }
    kora::s_int8 SetPassword(const kora::s_string&, const kora::s_string&, kora::s_uint8) override {
        return 0;
    }
    bool AuthenticateUser(const kora::s_string&, const kora::s_string&, kora::s_uint8&) override {
        return false;
    }
    kora::s_int8 SetFlag(const kora::s_string&, kora::ISerialize*) override { return 0; }
    kora::ISerialize* GetFlag(const kora::s_string&) override { return nullptr; }
    kora::s_int8 DeleteFlag(const kora::s_string&) override { return 0; }
    kora::s_int8 ExportFlags(const kora::s_string&) override { return 0; }
    void DumpFinished() override {}

  private:
    kora::Ref<tessel::cDBConfigSSH> m_item;
};

// Answers how many allocations the serving process made so far.
class StatsSink : public kora::cMessageSink {
  public:
    explicit StatsSink(kora::cService* s) : cMessageSink(s, "stats") {
        s->RegisterMessageSink(this);
    }
    ~StatsSink() override { Service()->UnRegisterMessageSink(this); }
    bool ProcessMsg(kora::cMsg& msg) override {
        if (msg.Name() != kStats) return false;
        kora::cMsg reply(kStatsResp);
        reply.AssignObject(kora::New<kora::s_uint64>(g_allocations.load()));
        msg.Channel()->Send(reply);
        return true;
    }
};

int ServeTessel(const char* dir) {
    setenv("KORA_RUNTIME_DIR", dir, 1);
    BenchHost host;
    kora::cService svc("bench-data");
    tessel::cDataServer server(&svc, &host);
    StatsSink stats(&svc);
    if (!svc.Serve()) return 1;
    Ready();
    svc.Run();
    return 0;
}

int ServeBare(const char* path, size_t requestSize, size_t answerSize) {
    int lfd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = Address(path);
    if (::bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(lfd, 1) != 0)
        return 1;
    Ready();
    int fd = ::accept(lfd, nullptr, nullptr);
    std::vector<uint8_t> in(requestSize), out(answerSize, 'x');
    while (ReadFull(fd, in.data(), in.size()) && WriteFull(fd, out.data(), out.size())) {
    }
    return 0;
}

#if TESSEL_BENCH_SDBUS
std::vector<uint8_t> g_busAnswer;

int OnGetItem(sd_bus_message* m, void*, sd_bus_error*) {
    const char* path = nullptr;
    if (sd_bus_message_read(m, "s", &path) < 0) return -EINVAL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0) r = sd_bus_message_append_array(reply, 'y', g_busAnswer.data(), g_busAnswer.size());
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetItem", "s", "ay", OnGetItem, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

sd_bus* OpenBus(const char* address) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return nullptr;
    if (sd_bus_set_address(bus, address) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
        sd_bus_start(bus) < 0) {
        sd_bus_unref(bus);
        return nullptr;
    }
    return bus;
}

int ServeSdBus(const char* address) {
    g_busAnswer = ItemBytes();
    sd_bus* bus = OpenBus(address);
    if (!bus || sd_bus_add_object_vtable(bus, nullptr, kBusPath, kBusName, kVtable, nullptr) < 0 ||
        sd_bus_request_name(bus, kBusName, 0) < 0)
        return 1;
    Ready();
    for (;;) {
        int r = sd_bus_process(bus, nullptr);
        if (r < 0) return 1;
        if (r == 0 && sd_bus_wait(bus, UINT64_MAX) < 0) return 1;
    }
}
#endif

// ---- the measuring side ----

struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// Starts `args[0]` (this program when it is "self") and waits for its
// "ready" line, or for `socket` to appear when the program prints none.
bool Start(Child& child, std::vector<std::string> args, const std::string& socket = "") {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (args[0] == "self") args[0] = "/proc/self/exe";
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int rc = posix_spawnp(&child.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    bool ready = rc == 0;
    if (ready && socket.empty()) {
        char buf[16] = {};
        pollfd p{out[0], POLLIN, 0};
        ready = ::poll(&p, 1, 10000) > 0 && ::read(out[0], buf, 6) == 6 &&
                std::strncmp(buf, "ready\n", 6) == 0;
    } else if (ready) {
        ready = false;
        for (int i = 0; i < 1000 && !ready; ++i) {
            ready = std::filesystem::exists(socket);
            if (!ready) ::usleep(5000);
        }
    }
    ::close(out[0]);
    return ready;
}

// Pins the calling thread (and what it starts from now on) to `cpu`.
bool Pin(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

int g_clientCpu = 0, g_serverCpu = 0;

class NullEvents : public tessel::IDataClient {
  public:
    void OnDataConnect(tessel::cDataClient*) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_connected = true;
        m_cv.notify_all();
    }
    void OnDataClose(tessel::cDataClient*) override {}
    void OnCollectionSynced(tessel::cDataClient*, tessel::cDBCollection*) override {}
    void OnRebootNotification(tessel::cDataClient*) override {}
    bool OnDumpRequest(tessel::cDataClient*, kora::s_string&) override { return false; }
    bool WaitConnected() {
        std::unique_lock<std::mutex> g(m_lock);
        return m_cv.wait_for(g, std::chrono::seconds(10), [this] { return m_connected; });
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_connected = false;
};

// Probes the tessel server's allocation count over a connection of its own.
class StatsClient : public kora::cServiceClient {
  public:
    explicit StatsClient(kora::cService* s)
        : cServiceClient(s, "stats", "bench-data", "STATS::UP", "STATS::DOWN",
                         tessel::kMsgClientOnConnect) {
        s->RegisterMessageSink(this);
    }
    ~StatsClient() override { Service()->UnRegisterMessageSink(this); }
    uint64_t ServerAllocations() {
        kora::cMsg req(kStats), reply;
        for (int i = 0; i < 500 && !IsConnected(); ++i) ::usleep(2000);
        if (!SendSync(req, reply, 5000, kStatsResp)) return 0;
        auto* n = reply.GetObject<kora::s_uint64>();
        return n ? uint64_t(*n) : 0;
    }
};

struct Anchors {
    std::string dir;
    Child tessel, bare, daemon, bus;
    int bareFd = -1;
    std::vector<uint8_t> request, answer;
    std::unique_ptr<kora::cService> service;
    NullEvents events;
    std::unique_ptr<tessel::cDataClient> client;
    std::unique_ptr<StatsClient> stats;
#if TESSEL_BENCH_SDBUS
    sd_bus* busClient = nullptr;
#endif
    std::string error;

    bool Open() {
        char tmpl[] = "/tmp/tessel-bench-XXXXXX";
        if (!::mkdtemp(tmpl)) return Fail("no temporary directory");
        dir = tmpl;
        const auto sizes = FrameSizes();
        request.assign(sizes.first, 'r');
        answer.assign(sizes.second, 'a');
        // The servers start on their CPU; the clients run on theirs.
        Pin(g_serverCpu);
        bool ok = Start(tessel, {"self", "--serve-tessel", dir}) &&
                  Start(bare, {"self", "--serve-bare", dir + "/bare.sock",
                               std::to_string(request.size()), std::to_string(answer.size())});
#if TESSEL_BENCH_SDBUS
        const std::string conf = dir + "/bus.conf", address = "unix:path=" + dir + "/bus";
        if (FILE* f = std::fopen(conf.c_str(), "w")) {
            std::fprintf(f,
                         "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                         "Configuration 1.0//EN\"\n"
                         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                         "<busconfig><type>session</type><listen>%s</listen>"
                         "<auth>EXTERNAL</auth><policy context=\"default\">"
                         "<allow send_destination=\"*\"/><allow own=\"*\"/>"
                         "<allow receive_sender=\"*\"/></policy></busconfig>\n",
                         address.c_str());
            std::fclose(f);
        }
        ok =
            ok &&
            Start(daemon,
                  {"dbus-daemon", "--config-file=" + conf, "--nofork", "--nopidfile", "--nosyslog"},
                  dir + "/bus") &&
            Start(bus, {"self", "--serve-sdbus", address});
#endif
        Pin(g_clientCpu);
        if (!ok) return Fail("a server did not start");
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr = Address(dir + "/bare.sock");
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return Fail("bare server not reached");
        bareFd = fd;
        setenv("KORA_RUNTIME_DIR", dir.c_str(), 1);
        service = std::make_unique<kora::cService>("bench-client");
        client = std::make_unique<tessel::cDataClient>(service.get(), &events, 0, "bench-data");
        stats = std::make_unique<StatsClient>(service.get());
        if (!service->Start() || !client->Start() || !stats->Start() || !events.WaitConnected())
            return Fail("data client did not connect");
#if TESSEL_BENCH_SDBUS
        busClient = OpenBus(address.c_str());
        if (!busClient) return Fail("bus not reached");
#endif
        return true;
    }
    bool Fail(const std::string& why) {
        error = why;
        return false;
    }
    ~Anchors() {
#if TESSEL_BENCH_SDBUS
        if (busClient) sd_bus_flush_close_unref(busClient);
#endif
        stats.reset();
        client.reset();
        service.reset();
        if (bareFd >= 0) ::close(bareFd);
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }

    bool Bare() {
        return WriteFull(bareFd, request.data(), request.size()) &&
               ReadFull(bareFd, answer.data(), answer.size());
    }
    bool GetItem() {
        tessel::cDBItem* item = client->GetItem(kItemPath);
        if (!item) return false;
        item->Release();
        return true;
    }
    bool SdBus() {
#if TESSEL_BENCH_SDBUS
        sd_bus_message* reply = nullptr;
        sd_bus_error err = SD_BUS_ERROR_NULL;
        int r = sd_bus_call_method(busClient, kBusName, kBusPath, kBusName, "GetItem", &err, &reply,
                                   "s", kItemPath);
        const void* bytes = nullptr;
        size_t size = 0;
        if (r >= 0) r = sd_bus_message_read_array(reply, 'y', &bytes, &size);
        sd_bus_message_unref(reply);
        sd_bus_error_free(&err);
        return r >= 0 && size > 0;
#else
        return true;
#endif
    }
};

constexpr int kBatch = 200;

template <class F>
double Batch(F&& roundTrip, bool& ok) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch && ok; ++i) ok = roundTrip();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
}

void BM_GetItemAgainstAnchors(benchmark::State& state) {
    Anchors a;
    if (!a.Open()) return state.SkipWithError(a.error.c_str());
    bool ok = true;
    // Warm up every path once.
    Batch([&] { return a.Bare(); }, ok);
    Batch([&] { return a.GetItem(); }, ok);
    Batch([&] { return a.SdBus(); }, ok);
    double bare = 0, getItem = 0, sdbus = 0;
    std::vector<double> perBare, perBus;  // the ratios of each round
    uint64_t clientAllocs = 0, serverAllocs = 0, rounds = 0;
    for (auto _ : state) {
        const double b = Batch([&] { return a.Bare(); }, ok);
        const uint64_t s0 = a.stats->ServerAllocations();
        const uint64_t c0 = g_allocations.load();
        const double g = Batch([&] { return a.GetItem(); }, ok);
        clientAllocs += g_allocations.load() - c0;
        serverAllocs += a.stats->ServerAllocations() - s0;
        const double d = Batch([&] { return a.SdBus(); }, ok);
        bare += b;
        getItem += g;
        sdbus += d;
        perBare.push_back(g / b);
        perBus.push_back(g / d);
        ++rounds;
        if (!ok) return state.SkipWithError("a round trip failed");
    }
    // The median of the rounds' ratios: a burst of other load on the CPU
    // during one batch moves it less than the totals.
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    const double n = double(rounds) * kBatch;
    state.counters["bare_us"] = bare / n;
    state.counters["getitem_us"] = getItem / n;
    state.counters["getitem_per_bare"] = median(perBare);
    state.counters["client_allocs"] = double(clientAllocs) / n;
    state.counters["server_allocs"] = double(serverAllocs) / n;
#if TESSEL_BENCH_SDBUS
    state.counters["sdbus_us"] = sdbus / n;
    state.counters["getitem_per_sdbus"] = median(perBus);
#endif
    std::printf(
        "\nplacement: %s (client on CPU %d, servers%s on CPU %d)\n"
        "GetItem %.2f us, bare %.2f us, sd-bus %.2f us per round trip (means of %llu rounds)\n"
        "GetItem/bare = %.2f (median of the rounds; wanted <= 1.3)\n"
        "GetItem/sd-bus = %.2f (median of the rounds; wanted <= 0.6)\n"
        "allocations per GetItem: %.1f in the client, %.1f in the server\n",
        g_clientCpu == g_serverCpu ? "both ends on one CPU" : "ends on two CPUs", g_clientCpu,
        TESSEL_BENCH_SDBUS ? " and the bus daemon" : "", g_serverCpu, getItem / n, bare / n,
        sdbus / n, static_cast<unsigned long long>(rounds), median(perBare),
        TESSEL_BENCH_SDBUS ? median(perBus) : 0.0, double(clientAllocs) / n,
        double(serverAllocs) / n);
}

BENCHMARK(BM_GetItemAgainstAnchors)->Iterations(60)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // Errors only, so that the output stays readable.
    kora::cTracepoint::SetHandler([](const kora::cTraceRecord& r) {
        if (r.level >= 1)
            std::fprintf(stderr, "%s: %s %s\n", r.module.c_str(), r.text.c_str(), r.detail.c_str());
    });
    if (argc >= 3 && std::strcmp(argv[1], "--serve-tessel") == 0) return ServeTessel(argv[2]);
    if (argc >= 5 && std::strcmp(argv[1], "--serve-bare") == 0)
        return ServeBare(argv[2], std::strtoul(argv[3], nullptr, 10),
                         std::strtoul(argv[4], nullptr, 10));
#if TESSEL_BENCH_SDBUS
    if (argc >= 3 && std::strcmp(argv[1], "--serve-sdbus") == 0) return ServeSdBus(argv[2]);
#endif
    const int cpus = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    g_clientCpu = g_serverCpu = cpus - 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cpus=split") == 0 && cpus > 1) {
            g_clientCpu = 0;
            g_serverCpu = 1;
        }
    }
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i)
        if (std::strncmp(argv[i], "--cpus=", 7) != 0) rest.push_back(argv[i]);
    int n = int(rest.size());
    benchmark::Initialize(&n, rest.data());
    if (benchmark::ReportUnrecognizedArguments(n, rest.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
