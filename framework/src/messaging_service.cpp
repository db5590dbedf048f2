// The public side of services: sinks, cService (serving, threads, posting) and
// timers. The machinery behind them is in messaging_core.cpp.
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kora/helper.h"
#include "messaging_internal.h"

namespace kora {

// ---- cMessageSink ----

cMessageSink::cMessageSink(cService* service, const std::string& name)
    : m_service(service), m_name(name) {}

cMessageSink::~cMessageSink() {
    if (m_service) m_service->UnRegisterMessageSink(this);
}

std::string cMessageSink::ToString() const {
    return "cMessageSink:" + m_name;
}

// ---- cService ----

std::string cService::DefaultRuntimeDir() {
    const char* env = std::getenv("KORA_RUNTIME_DIR");
    if (env && *env) return env;
    static const char kSystemDir[] = "/run/kora";
    std::string why;
    if ((::mkdir(kSystemDir, 0700) == 0 || errno == EEXIST) &&
        ::access(kSystemDir, W_OK | X_OK) == 0 && detail::TrustedRuntimeDir(kSystemDir, why))
        return kSystemDir;
    return FormatString("/tmp/kora-%u", static_cast<unsigned>(::getuid()));
}

cService::cService(const std::string& name)
    : m_core(std::make_shared<detail::ServiceCore>(name, DefaultRuntimeDir())) {}

cService::~cService() {
    m_core->Teardown();
}

const std::string& cService::Name() const {
    return m_core->name;
}

const std::string& cService::RuntimeDir() const {
    return m_core->runtimeDir;
}

std::string cService::SocketPath() const {
    return m_core->runtimeDir + "/" + m_core->name + ".sock";
}

void cService::RegisterMessageSink(cMessageSink* sink) {
    if (!sink) return;
    std::lock_guard<std::mutex> g(m_core->sinkLock);
    auto& sinks = m_core->sinks;
    if (std::find(sinks.begin(), sinks.end(), sink) == sinks.end()) sinks.push_back(sink);
    ++m_core->sinkGen;
}

void cService::UnRegisterMessageSink(cMessageSink* sink) {
    // Holding the dispatch mutex means no delivery to the sink runs elsewhere.
    m_core->LockDispatchMutex();
    {
        std::lock_guard<std::mutex> g(m_core->sinkLock);
        auto& sinks = m_core->sinks;
        sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
        ++m_core->sinkGen;
    }
    std::vector<detail::Entry> dropped;
    {
        std::lock_guard<std::mutex> g(m_core->qLock);
        m_core->queue.RemoveIf(
            [sink](const detail::Entry& e) {
                return e.kind == detail::Entry::Kind::Sink && e.sink == sink;
            },
            dropped);
    }
    m_core->UnlockDispatchMutex();
}

void cService::SetLimits(const cServiceLimits& limits) {
    std::lock_guard<std::mutex> g(m_core->limitLock);
    m_core->limits = limits;
    // Zero would stop every connection for good.
    if (m_core->limits.maxQueuedMessages == 0) m_core->limits.maxQueuedMessages = 1;
    if (m_core->limits.maxQueuedBytes == 0) m_core->limits.maxQueuedBytes = 1;
    if (m_core->limits.frameDeadlineMs == 0) m_core->limits.frameDeadlineMs = 1;
    m_core->maxQueuedMessages = m_core->limits.maxQueuedMessages;
    m_core->maxQueuedBytes = m_core->limits.maxQueuedBytes;
    m_core->frameDeadlineMs = m_core->limits.frameDeadlineMs;
}

cServiceLimits cService::Limits() const {
    return m_core->Limits();
}

bool cService::Serve() {
    detail::ServiceCore& c = *m_core;
    if (!c.Valid() || c.closed) return false;
    std::lock_guard<std::mutex> g(c.runLock);
    if (c.listenfd >= 0) return true;
    if (!detail::ValidServiceName(c.name)) {
        KORA_TRACE(1, "invalid service name", c.name);
        return false;
    }
    std::string why;
    if (!detail::PrepareRuntimeDir(c.runtimeDir, why)) {
        KORA_TRACE(1, "runtime directory not usable", c.runtimeDir + ": " + why);
        return false;
    }
    const std::string path = SocketPath();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        KORA_TRACE(1, "socket path too long", path);
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            KORA_TRACE(1, "socket path taken by another file", path);
            return false;
        }
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live =
            probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0) ::close(probe);
        if (live) {
            KORA_TRACE(1, "service already served by another process", path);
            return false;
        }
        ::unlink(path.c_str());  // stale socket of a process that died
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::chmod(path.c_str(), 0660) != 0 || ::listen(fd, 128) != 0 ||
        !detail::AddToEpoll(c.epfd, fd, EPOLLIN | EPOLLONESHOT, detail::kListenTag)) {
        KORA_TRACE(1, "cannot listen", path + ": " + std::strerror(errno));
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path.c_str());
        }
        return false;
    }
    c.listenfd = fd;
    c.socketPath = path;
    detail::RegisterInProcess(m_core);
    KORA_TRACE(0, "serving", path);
    return true;
}

bool cService::ServeInProcess() {
    if (!m_core->Valid() || m_core->closed || !detail::ValidServiceName(m_core->name)) return false;
    detail::RegisterInProcess(m_core);
    return true;
}

bool cService::Start() {
    detail::ServiceCore& c = *m_core;
    if (!c.Valid() || c.closed) return false;
    {
        std::lock_guard<std::mutex> g(c.runLock);
        if (c.running && !c.stopping) return true;
    }
    c.StopWorkers();  // joins threads still ending from an earlier Stop
    {
        std::lock_guard<std::mutex> g(c.runLock);
        if (c.running) return !c.stopping;
        detail::Drain(c.stopfd);
        c.stopping = false;
        c.running = true;
        c.StartWorkers(2);
    }
    detail::Signal(c.wakefd);  // messages queued while stopped
    return true;
}

void cService::Stop() {
    m_core->StopWorkers();
}

void cService::Run() {
    detail::ServiceCore& c = *m_core;
    if (!c.Valid() || c.closed) return;
    c.StopWorkers();
    {
        std::unique_lock<std::mutex> g(c.runLock);
        if (c.running) {
            c.runCv.wait(g, [&c] { return !c.running; });
            return;
        }
        detail::Drain(c.stopfd);
        c.stopping = false;
        c.running = true;
        c.StartWorkers(1);
        ++c.runThreads;
    }
    detail::Signal(c.wakefd);
    c.WorkerLoop();
    {
        std::lock_guard<std::mutex> g(c.runLock);
        --c.runThreads;
        c.runCv.notify_all();
    }
    c.StopWorkers();
}

bool cService::Post(const std::string& name, cMessageSink* sink) {
    return PostMsg(cMsg(name), sink);
}

bool cService::PostMsg(const cMsg& msg, cMessageSink* sink) {
    detail::Entry e;
    e.kind = sink ? detail::Entry::Kind::Sink : detail::Entry::Kind::Broadcast;
    e.msg = msg;
    e.sink = sink;
    return m_core->Enqueue(std::move(e));
}

bool cService::RunOnDelivery(std::function<void()> fn) {
    detail::Entry e;
    e.kind = detail::Entry::Kind::Function;
    e.fn = std::move(fn);
    return m_core->Enqueue(std::move(e));
}

cDispatchLock cService::LockDispatch() {
    detail::ServiceCore& c = *m_core;
    // A thread coming from outside lets the messages queued before it through first.
    if (!c.HoldsDispatch()) c.WaitForDelivery();
    c.LockDispatchMutex();
    return cDispatchLock(&c);
}

cDispatchLock::cDispatchLock(cDispatchLock&& other) noexcept : m_core(other.m_core) {
    other.m_core = nullptr;
}

cDispatchLock& cDispatchLock::operator=(cDispatchLock&& other) noexcept {
    if (this != &other) {
        Unlock();
        m_core = other.m_core;
        other.m_core = nullptr;
    }
    return *this;
}

void cDispatchLock::Unlock() {
    if (m_core) m_core->UnlockDispatchMutex();
    m_core = nullptr;
}

size_t cService::PendingMessages() const {
    std::lock_guard<std::mutex> g(m_core->qLock);
    return m_core->queue.size();
}

// ---- cTimer ----

cTimer::cTimer(cService* service, bool, cMessageSink* sink)
    : m_state(std::make_shared<detail::TimerState>()) {
    if (service) m_state->core = service->Core().shared_from_this();
    m_state->sink = sink;
}

cTimer::~cTimer() {
    Stop();
}

void cTimer::StartSec(unsigned seconds, const std::string& name) {
    StartMs(seconds > UINT32_MAX / 1000 ? UINT32_MAX : seconds * 1000, name);
}

void cTimer::StartMs(unsigned milliseconds, const std::string& name) {
    std::shared_ptr<detail::ServiceCore> core = m_state->core.lock();
    if (!core) return;
    std::lock_guard<std::mutex> g(core->tLock);
    const uint64_t gen = ++m_state->gen;
    if (m_state->inMap) {
        core->timers.erase(m_state->pos);
        m_state->inMap = false;
    }
    detail::TimerItem item;
    item.kind = detail::TimerItem::Kind::Message;
    item.timer = m_state;
    item.gen = gen;
    item.name = name;
    core->AddTimerLocked(detail::Clock::now() + std::chrono::milliseconds(milliseconds),
                         std::move(item), m_state.get());
}

void cTimer::Stop() {
    ++m_state->gen;
    std::shared_ptr<detail::ServiceCore> core = m_state->core.lock();
    if (!core) return;
    std::lock_guard<std::mutex> g(core->tLock);
    if (m_state->inMap) {
        core->timers.erase(m_state->pos);
        m_state->inMap = false;
    }
}

bool cTimer::IsPending() const {
    std::shared_ptr<detail::ServiceCore> core = m_state->core.lock();
    if (!core) return false;
    std::lock_guard<std::mutex> g(core->tLock);
    return m_state->inMap;
}

}  // namespace kora
