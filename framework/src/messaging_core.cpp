// The core of a service: worker threads, the epoll set, the delivery queue,
// dispatching to sinks, timers, accepting, and the in-process registry.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kora/helper.h"
#include "messaging_internal.h"

namespace kora {
namespace detail {

namespace {

// The service whose worker the calling thread is, if any.
thread_local ServiceCore* tl_workerOf = nullptr;

struct Registry {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<ServiceCore>> served;
};

Registry& registry() {
    static Registry* r = new Registry;  // lives until the process ends
    return *r;
}

std::atomic<uint32_t> g_nextChannelId{kFirstChannelId};

}  // namespace

bool AddToEpoll(int epfd, int fd, uint32_t events, uint64_t tag) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = tag;
    return ::epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) == 0;
}

void Signal(int fd) {
    uint64_t one = 1;
    ssize_t n = ::write(fd, &one, sizeof one);
    (void)n;  // a full counter still wakes the reader
}

void Drain(int fd) {
    uint64_t value;
    ssize_t n = ::read(fd, &value, sizeof value);
    (void)n;  // nothing to read is fine
}

// Creates every missing directory of `path`.
bool MakeDirectories(const std::string& path, mode_t mode) {
    if (path.empty()) return false;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ValidServiceName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

// ---- in-process registry ----

void RegisterInProcess(const std::shared_ptr<ServiceCore>& core) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.served[core->name] = core;
    core->registered = true;
}

void UnregisterInProcess(ServiceCore* core) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    auto it = r.served.find(core->name);
    if (it == r.served.end()) return;
    std::shared_ptr<ServiceCore> current = it->second.lock();
    if (!current || current.get() == core) r.served.erase(it);
}

std::shared_ptr<ServiceCore> FindInProcess(const std::string& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    auto it = r.served.find(name);
    if (it == r.served.end()) return nullptr;
    std::shared_ptr<ServiceCore> core = it->second.lock();
    if (!core || core->closed) return nullptr;
    return core;
}

// ---- construction ----

ServiceCore::ServiceCore(const std::string& name_, const std::string& runtimeDir_)
    : name(name_), runtimeDir(runtimeDir_) {
    epfd = ::epoll_create1(EPOLL_CLOEXEC);
    wakefd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    stopfd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    timerfd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (Valid()) {
        // The stop descriptor stays readable once signalled, so it wakes every worker.
        bool ok = AddToEpoll(epfd, stopfd, EPOLLIN, kStopTag) &&
                  AddToEpoll(epfd, wakefd, EPOLLIN | EPOLLONESHOT, kWakeTag) &&
                  AddToEpoll(epfd, timerfd, EPOLLIN | EPOLLONESHOT, kTimerTag);
        if (!ok) {
            ::close(epfd);
            epfd = -1;
        }
    }
    if (!Valid()) KORA_TRACE(1, "service could not be set up", name + ": " + std::strerror(errno));
}

ServiceCore::~ServiceCore() {
    for (int fd : {epfd, wakefd, stopfd, timerfd, listenfd})
        if (fd >= 0) ::close(fd);
}

// ---- channels ----

Ref<cChannel> ServiceCore::AddChannel(int fd, bool served, std::shared_ptr<ClientLink> link) {
    uint32_t id;
    do id = g_nextChannelId++;
    while (id < kFirstChannelId);
    auto impl = std::make_unique<ChannelImpl>(id, fd, served, shared_from_this(), std::move(link));
    FillCredentials(fd, impl->peer);
    Ref<cChannel> ch = Ref<cChannel>::Adopt(New<cChannel>(std::move(impl)));
    if (!ch) {
        ::close(fd);
        return ch;
    }
    {
        std::lock_guard<std::mutex> g(chLock);
        if (!closed) channels[id] = ch;
    }
    if (closed || (served && !WatchChannel(ch))) {
        ch->Impl().CloseNow("service closing");
        return Ref<cChannel>();
    }
    return ch;
}

bool ServiceCore::WatchChannel(const Ref<cChannel>& ch) {
    ChannelImpl& impl = ch->Impl();
    std::lock_guard<std::mutex> g(impl.lock);
    if (impl.fd < 0) return false;
    const uint32_t want = EPOLLIN | EPOLLRDHUP;
    if (!AddToEpoll(epfd, impl.fd, want | EPOLLONESHOT, impl.id)) return false;
    impl.watched = true;
    impl.armed = true;
    impl.armedMask = want;
    impl.UpdateArmLocked();  // output queued before watching
    return true;
}

Ref<cChannel> ServiceCore::FindChannel(uint32_t id) {
    std::lock_guard<std::mutex> g(chLock);
    auto it = channels.find(id);
    return it == channels.end() ? Ref<cChannel>() : it->second;
}

void ServiceCore::RemoveChannel(uint32_t id) {
    Ref<cChannel> gone;
    std::lock_guard<std::mutex> g(chLock);
    auto it = channels.find(id);
    if (it == channels.end()) return;
    gone = std::move(it->second);
    channels.erase(it);
}

void ServiceCore::Rearm(uint64_t tag, int fd) {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLONESHOT;
    ev.data.u64 = tag;
    ::epoll_ctl(epfd, EPOLL_CTL_MOD, fd, &ev);
}

// ---- delivery ----

bool ServiceCore::Enqueue(Entry&& e, bool wake) {
    std::unique_lock<std::mutex> g(qLock);
    if (closed) return false;
    queue.push_back(std::move(e));
    const bool needWake = wake && !dispatching;
    g.unlock();
    if (needWake) Signal(wakefd);
    return true;
}

bool ServiceCore::EnqueueAll(std::vector<Entry>& entries, bool wake) {
    std::unique_lock<std::mutex> g(qLock);
    if (closed) return false;
    for (Entry& e : entries) queue.push_back(std::move(e));
    const bool needWake = wake && !dispatching;
    g.unlock();
    if (needWake) Signal(wakefd);
    return true;
}

void ServiceCore::DrainQueue() {
    std::unique_lock<std::mutex> g(qLock);
    if (dispatching) return;  // the dispatching worker takes these too
    dispatching = true;
    while (!queue.empty() && !stopping) {
        // A message stays queued (and counted) while a LockDispatch guard holds it back.
        g.unlock();
        std::unique_lock<std::recursive_mutex> d(dispatchLock);
        g.lock();
        if (queue.empty() || stopping) break;
        Entry e = std::move(queue.front());
        queue.pop_front();
        g.unlock();
        Deliver(e);
        d.unlock();
        e = Entry();  // releases the payload before the next message
        g.lock();
    }
    dispatching = false;
}

bool ServiceCore::IsRegistered(cMessageSink* sink) {
    std::lock_guard<std::mutex> g(sinkLock);
    return std::find(sinks.begin(), sinks.end(), sink) != sinks.end();
}

void ServiceCore::Deliver(Entry& e) {
    std::lock_guard<std::recursive_mutex> d(dispatchLock);
    DispatchContext& ctx = CurrentDispatch();
    const DispatchContext saved = ctx;
    ctx.channel = e.msg.Channel() ? &e.msg.Channel()->Impl() : nullptr;
    ctx.id = e.msg.Id();
    bool handled = false;
    try {
        switch (e.kind) {
            case Entry::Kind::Function:
                if (e.fn) e.fn();
                handled = true;
                break;
            case Entry::Kind::Sink:
                if (IsRegistered(e.sink)) handled = e.sink->ProcessMsg(e.msg);
                break;
            case Entry::Kind::Timer:
                // A timer stopped or restarted after this expiry was queued drops it.
                if (e.timer->gen != e.timerGen) {
                    handled = true;
                    break;
                }
                if (e.sink) handled = e.sink->ProcessMsg(e.msg);
                break;
            case Entry::Kind::Client: {
                cServiceClient* client;
                {
                    std::lock_guard<std::mutex> g(e.link->lock);
                    client = e.link->client;
                }
                handled = client ? client->ProcessMsg(e.msg) : true;
                break;
            }
            case Entry::Kind::Broadcast: {
                std::vector<cMessageSink*> snapshot;
                {
                    std::lock_guard<std::mutex> g(sinkLock);
                    snapshot = sinks;
                }
                for (cMessageSink* sink : snapshot) {
                    // An earlier sink may have unregistered a later one.
                    if (snapshot.size() > 1 && !IsRegistered(sink)) continue;
                    if (sink->ProcessMsg(e.msg)) {
                        handled = true;
                        break;
                    }
                }
                break;
            }
        }
    } catch (const std::exception& ex) {
        KORA_TRACE(1, "sink threw while handling a message", e.msg.Name() + ": " + ex.what());
        handled = true;
    } catch (...) {
        KORA_TRACE(1, "sink threw while handling a message", e.msg.Name());
        handled = true;
    }
    ctx = saved;
    if (!handled) KORA_TRACE(0, "message not handled", e.msg.Name());
}

// ---- timers ----

void ServiceCore::AddTimerLocked(Clock::time_point when, TimerItem item, TimerState* state) {
    auto it = timers.emplace(when, std::move(item));
    if (state) {
        state->inMap = true;
        state->pos = it;
    }
    if (it == timers.begin()) ArmTimerFdLocked();
}

void ServiceCore::ArmTimerFdLocked() {
    itimerspec spec{};
    if (!timers.empty()) {
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      timers.begin()->first.time_since_epoch())
                      .count();
        if (ns <= 0) ns = 1;  // zero would disarm
        spec.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        spec.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
        if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0) spec.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(timerfd, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void ServiceCore::RunDueTimers() {
    std::vector<TimerItem> due;
    {
        std::lock_guard<std::mutex> g(tLock);
        const Clock::time_point now = Clock::now();
        while (!timers.empty() && timers.begin()->first <= now) {
            TimerItem& item = timers.begin()->second;
            if (item.timer) item.timer->inMap = false;
            due.push_back(std::move(item));
            timers.erase(timers.begin());
        }
        ArmTimerFdLocked();
    }
    for (TimerItem& item : due) {
        if (item.kind == TimerItem::Kind::Connect) {
            item.link->TryConnect(item.gen);
            continue;
        }
        if (item.timer->gen != item.gen) continue;
        Entry e;
        e.kind = Entry::Kind::Timer;
        e.msg.SetName(item.name);
        e.sink = item.timer->sink;
        e.timer = item.timer;
        e.timerGen = item.gen;
        Enqueue(std::move(e), false);
    }
}

// ---- workers ----

void ServiceCore::WorkerLoop() {
    tl_workerOf = this;
    epoll_event events[16];
    while (!stopping) {
        int n = ::epoll_wait(epfd, events, 16, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            KORA_TRACE(1, "epoll_wait failed", name + ": " + std::strerror(errno));
            break;
        }
        for (int i = 0; i < n; ++i) {
            const uint64_t tag = events[i].data.u64;
            switch (tag) {
                case kStopTag:
                    break;
                case kWakeTag:
                    Drain(wakefd);
                    Rearm(kWakeTag, wakefd);
                    break;
                case kTimerTag:
                    Drain(timerfd);
                    RunDueTimers();
                    Rearm(kTimerTag, timerfd);
                    break;
                case kListenTag:
                    AcceptConnections();
                    break;
                default:
                    if (Ref<cChannel> ch = FindChannel(static_cast<uint32_t>(tag)))
                        ch->Impl().HandleEvent(events[i].events);
                    break;
            }
        }
        DrainQueue();
    }
    tl_workerOf = nullptr;
}

void ServiceCore::AcceptConnections() {
    int lfd;
    {
        std::lock_guard<std::mutex> g(runLock);
        lfd = listenfd;
    }
    if (lfd < 0) return;
    for (;;) {
        int fd = ::accept4(lfd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                KORA_TRACE(1, "accept failed", name + ": " + std::strerror(errno));
            break;
        }
        AddChannel(fd, true, nullptr);
    }
    Rearm(kListenTag, lfd);
}

void ServiceCore::StartWorkers(unsigned count) {
    for (unsigned i = 0; i < count; ++i) workers.emplace_back([this] { WorkerLoop(); });
}

void ServiceCore::StopWorkers() {
    std::vector<std::thread> joining;
    {
        std::unique_lock<std::mutex> g(runLock);
        if (!running) return;
        stopping = true;
        Signal(stopfd);
        // A worker cannot join itself; the threads end by themselves and are
        // joined by the next Start, Stop or the destructor.
        if (tl_workerOf == this) return;
        joining.swap(workers);
    }
    for (std::thread& t : joining)
        if (t.joinable()) t.join();
    std::unique_lock<std::mutex> g(runLock);
    runCv.wait(g, [this] { return runThreads == 0; });  // a Run() caller leaving its loop
    if (workers.empty() && running) {
        running = false;
        runCv.notify_all();
    }
}

void ServiceCore::Teardown() {
    closed = true;
    UnregisterInProcess(this);
    std::vector<Ref<cChannel>> all;
    {
        std::lock_guard<std::mutex> g(chLock);
        for (auto& kv : channels) all.push_back(kv.second);
    }
    // Wake every thread reading or waiting on a connection before joining.
    for (auto& ch : all) {
        std::lock_guard<std::mutex> g(ch->Impl().lock);
        ch->Impl().ShutdownLocked("service closing");
    }
    StopWorkers();
    for (auto& ch : all) ch->Impl().CloseNow("service closing");
    all.clear();
    std::unordered_map<uint32_t, Ref<cChannel>> left;
    {
        std::lock_guard<std::mutex> g(chLock);
        left.swap(channels);
    }
    left.clear();
    {
        std::lock_guard<std::mutex> g(runLock);
        if (listenfd >= 0) {
            ::epoll_ctl(epfd, EPOLL_CTL_DEL, listenfd, nullptr);
            ::close(listenfd);
            listenfd = -1;
        }
        if (!socketPath.empty()) ::unlink(socketPath.c_str());
        socketPath.clear();
    }
    TimerMap timersLeft;
    {
        std::lock_guard<std::mutex> g(tLock);
        for (auto& kv : timers)
            if (kv.second.timer) kv.second.timer->inMap = false;
        timersLeft.swap(timers);
    }
    timersLeft.clear();
    std::deque<Entry> queued;
    {
        std::lock_guard<std::mutex> g(qLock);
        queued.swap(queue);
    }
    queued.clear();
}

}  // namespace detail
}  // namespace kora
