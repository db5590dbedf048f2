// The core of a service: worker threads, the epoll set, the delivery queue,
// dispatching to sinks, timers, accepting, and the in-process registry.
#include <fcntl.h>
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

// Pause of the listener after accept ran out of descriptors: starts short,
// doubles while it goes on.
constexpr unsigned kFirstAcceptPauseMs = 50;
constexpr unsigned kLongestAcceptPauseMs = 2000;

// Channels read per worker turn from the list of channels to read again.
constexpr size_t kReadyPerTurn = 8;

}  // namespace

void PeerTrace(ServiceCore* core, int level, const std::string& text, const std::string& detail) {
    // Errors and chatter are limited apart, so that connection chatter cannot
    // use up the allowance of the errors.
    static cTraceLimiter orphanErrors, orphanInfo;  // for channels whose service is gone
    cTraceLimiter& limiter = core ? (level >= 1 ? core->peerErrors : core->peerInfo)
                                  : (level >= 1 ? orphanErrors : orphanInfo);
    size_t held = 0;
    if (!limiter.Allow(held)) return;
    if (held)
        KORA_TRACE(level, text,
                   FormatString("%s (%zu similar records held back)", detail.c_str(), held));
    else
        KORA_TRACE(level, text, detail);
}

// ---- the delivery ring ----

void EntryRing::push_back(Entry&& e) {
    if (m_count == m_slots.size()) {
        std::vector<Entry> grown(std::max<size_t>(16, m_slots.size() * 2));
        for (size_t i = 0; i < m_count; ++i)
            grown[i] = std::move(m_slots[(m_head + i) % m_slots.size()]);
        m_slots.swap(grown);
        m_head = 0;
    }
    m_slots[(m_head + m_count) % m_slots.size()] = std::move(e);
    ++m_count;
}

void EntryRing::pop_front() {
    m_slots[m_head] = Entry();
    m_head = (m_head + 1) % m_slots.size();
    --m_count;
}

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

bool TrustedRuntimeDir(const std::string& path, std::string& why) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        why = "not a directory";
        return false;
    }
    if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        why = FormatString("owned by user %u", static_cast<unsigned>(st.st_uid));
        return false;
    }
    if (st.st_mode & S_IWOTH) {
        why = "writable by others";
        return false;
    }
    return true;
}

bool PrepareRuntimeDir(const std::string& path, std::string& why) {
    if (path.empty() || path[0] != '/') {
        why = "not an absolute path";
        return false;
    }
    // Missing parents are made for this user alone too.
    for (size_t pos = 1; pos < path.size(); ++pos) {
        if (path[pos] != '/') continue;
        if (::mkdir(path.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST) {
            why = std::strerror(errno);
            return false;
        }
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        why = std::strerror(errno);
        return false;
    }
    return TrustedRuntimeDir(path, why);
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
    FillCredentials(fd, impl->creds);
    if (impl->creds.known) {
        impl->peer.Pid = impl->creds.pid;
        impl->peer.Uid = impl->creds.uid;
        impl->peer.Gid = impl->creds.gid;
    }
    if (!served) {
        // The connecting end sleeps in recv while it waits for an answer.
        const int flags = ::fcntl(fd, F_GETFL);
        impl->blocking = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    }
    Ref<cChannel> ch = Ref<cChannel>::Adopt(New<cChannel>(std::move(impl)));
    if (!ch) {
        ::close(fd);
        return ch;
    }
    {
        std::lock_guard<std::mutex> g(chLock);
        if (!closed) {
            channels[id] = ch;
            if (served) {
                ++servedCount;
                ++perUser[ch->Impl().creds.uid];
            }
        }
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
    uint32_t want = EPOLLET;
    if (impl.reader != ChannelImpl::Reader::Waiter) want |= EPOLLIN | EPOLLRDHUP;
    if (!impl.out.empty()) want |= EPOLLOUT;
    if (!AddToEpoll(epfd, impl.fd, want, impl.id)) return false;
    impl.watched = true;
    impl.mask = want;
    return true;
}

Ref<cChannel> ServiceCore::FindChannel(uint32_t id) {
    std::lock_guard<std::mutex> g(chLock);
    auto it = channels.find(id);
    return it == channels.end() ? Ref<cChannel>() : it->second;
}

void ServiceCore::RemoveChannel(ChannelImpl& impl) {
    Ref<cChannel> gone;
    std::lock_guard<std::mutex> g(chLock);
    auto it = channels.find(impl.id);
    if (it == channels.end()) return;
    gone = std::move(it->second);
    channels.erase(it);
    if (impl.served) {
        --servedCount;
        auto u = perUser.find(impl.creds.uid);
        if (u != perUser.end() && --u->second == 0) perUser.erase(u);
    }
}

bool ServiceCore::AdmitServed(const cPeerCredentials& creds) {
    const cServiceLimits l = Limits();
    std::lock_guard<std::mutex> g(chLock);
    if (servedCount >= l.maxConnections) return false;
    if (creds.known && creds.uid != ::geteuid()) {
        auto u = perUser.find(creds.uid);
        if (u != perUser.end() && u->second >= l.maxConnectionsPerUser) return false;
    }
    return true;
}

void ServiceCore::ScheduleRead(cChannel* ch) {
    if (!ch) return;
    {
        std::lock_guard<std::mutex> g(readyLock);
        readyChannels.push_back(Ref<cChannel>::Share(ch));
    }
    Signal(wakefd);
}

void ServiceCore::ReadReadyChannels() {
    std::vector<Ref<cChannel>> batch;
    {
        std::lock_guard<std::mutex> g(readyLock);
        if (readyChannels.empty()) return;
        const size_t n = std::min(kReadyPerTurn, readyChannels.size());
        batch.assign(std::make_move_iterator(readyChannels.begin()),
                     std::make_move_iterator(readyChannels.begin() + n));
        readyChannels.erase(readyChannels.begin(), readyChannels.begin() + n);
        if (!readyChannels.empty()) Signal(wakefd);  // the rest on another turn
    }
    for (auto& ch : batch) ch->Impl().ReadAgain();
}

void ServiceCore::ScheduleSweep(Clock::time_point when) {
    std::lock_guard<std::mutex> g(tLock);
    if (sweepPending) return;
    sweepPending = true;
    TimerItem item;
    item.kind = TimerItem::Kind::Sweep;
    AddTimerLocked(when, std::move(item), nullptr);
}

void ServiceCore::SweepDeadlines() {
    {
        std::lock_guard<std::mutex> g(tLock);
        sweepPending = false;
    }
    const int64_t deadlineNs = int64_t(Limits().frameDeadlineMs) * 1000000;
    std::vector<Ref<cChannel>> all;
    {
        std::lock_guard<std::mutex> g(chLock);
        for (auto& kv : channels) all.push_back(kv.second);
    }
    const int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    int64_t next = 0;  // the earliest deadline still ahead
    for (auto& ch : all) {
        const int64_t since = ch->Impl().partialSince.load();
        if (since == 0) continue;
        if (now - since >= deadlineNs) {
            PeerTrace(this, 1, "frame not completed in time, closing connection",
                      FormatString("channel %u", ch->Id()));
            ch->Impl().CloseNow("frame not completed in time");
        } else if (next == 0 || since + deadlineNs < next) {
            next = since + deadlineNs;
        }
    }
    if (next) ScheduleSweep(Clock::time_point(std::chrono::nanoseconds(next)));
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
    ++enqueuedTotal;
    const bool needWake = wake && !dispatching;
    g.unlock();
    if (needWake) Signal(wakefd);
    return true;
}

bool ServiceCore::EnqueueAll(std::vector<Entry>& entries, bool wake) {
    std::unique_lock<std::mutex> g(qLock);
    if (closed) return false;
    for (Entry& e : entries) queue.push_back(std::move(e));
    enqueuedTotal += entries.size();
    const bool needWake = wake && !dispatching;
    g.unlock();
    if (needWake) Signal(wakefd);
    return true;
}

void ServiceCore::LockDispatchMutex() {
    dispatchLock.lock();
    if (dispatchDepth++ == 0) dispatchOwner.store(std::this_thread::get_id());
}

void ServiceCore::UnlockDispatchMutex() {
    if (--dispatchDepth == 0) dispatchOwner.store(std::thread::id());
    dispatchLock.unlock();
}

void ServiceCore::WaitForDelivery() {
    std::unique_lock<std::mutex> g(qLock);
    if (queue.empty() || stopping) return;
    {
        std::lock_guard<std::mutex> r(runLock);
        if (!running) return;  // nobody would deliver
    }
    // The message being delivered now counts too: it was queued before this thread came.
    const uint64_t target = deliveredTotal + inDelivery + queue.size();
    ++fairWaiters;
    // Bounded: a sink blocked on something this thread holds must not hang it.
    deliveredCv.wait_for(g, std::chrono::seconds(1), [&] {
        return deliveredTotal >= target || queue.empty() || stopping || closed;
    });
    --fairWaiters;
}

void ServiceCore::DrainQueue() {
    std::unique_lock<std::mutex> g(qLock);
    if (dispatching) return;  // the dispatching worker takes these too
    dispatching = true;
    while (!queue.empty() && !stopping) {
        // A message stays queued (and counted) while a LockDispatch guard holds it back.
        g.unlock();
        LockDispatchMutex();
        g.lock();
        if (queue.empty() || stopping) {
            g.unlock();
            UnlockDispatchMutex();
            g.lock();
            break;
        }
        Entry e = std::move(queue.front());
        queue.pop_front();
        ++inDelivery;
        g.unlock();
        Deliver(e);
        UnlockDispatchMutex();
        if (e.counted) {
            if (cChannel* ch = e.msg.Channel()) {
                const uint32_t bytes = e.bytes;
                Ref<cChannel> keep = Ref<cChannel>::Share(ch);
                e = Entry();  // releases the payload before the next message
                keep->Impl().Delivered(bytes);
            }
        }
        e = Entry();
        g.lock();
        --inDelivery;
        ++deliveredTotal;
        if (fairWaiters) deliveredCv.notify_all();
    }
    dispatching = false;
}

bool ServiceCore::IsRegistered(cMessageSink* sink) {
    std::lock_guard<std::mutex> g(sinkLock);
    return std::find(sinks.begin(), sinks.end(), sink) != sinks.end();
}

void ServiceCore::Deliver(Entry& e) {
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
                // The dispatch mutex guards the reused snapshot.
                std::vector<cMessageSink*>& snapshot = deliverSinks;
                uint64_t gen;
                {
                    std::lock_guard<std::mutex> g(sinkLock);
                    snapshot = sinks;
                    gen = sinkGen.load();
                }
                for (size_t i = 0; i < snapshot.size(); ++i) {
                    cMessageSink* sink = snapshot[i];
                    // An earlier sink may have unregistered a later one.
                    if (i > 0 && sinkGen.load() != gen && !IsRegistered(sink)) continue;
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
    // A peer chooses the names it sends: the trace goes through the limiter.
    if (!handled && !e.msg.Noticed()) PeerTrace(this, 0, "message not handled", e.msg.Name());
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
        if (item.kind == TimerItem::Kind::Accept) {
            std::lock_guard<std::mutex> g(runLock);
            if (listenfd >= 0) Rearm(kListenTag, listenfd);
            continue;
        }
        if (item.kind == TimerItem::Kind::Sweep) {
            SweepDeadlines();
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
                    ReadReadyChannels();
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
            const int err = errno;
            if (err == EINTR || err == ECONNABORTED) continue;
            if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
                // Retrying at once would fail the same way, at full speed: the
                // listener rests (the clients wait in the backlog) and tries again.
                PauseAccepting(err);
                return;
            }
            if (err != EAGAIN && err != EWOULDBLOCK)
                PeerTrace(this, 1, "accept failed", name + ": " + std::strerror(err));
            break;
        }
        {
            std::lock_guard<std::mutex> g(runLock);
            if (acceptPaused) {
                KORA_TRACE(
                    0, "accepting connections again",
                    FormatString("%s, after %zu failed attempts", name.c_str(), acceptFailures));
                acceptPaused = false;
                acceptPauseMs = 0;
                acceptFailures = 0;
            }
        }
        cPeerCredentials creds;
        FillCredentials(fd, creds);
        if (!AdmitServed(creds)) {
            PeerTrace(this, 1, "connection refused: limit reached",
                      FormatString("%s, peer uid %u pid %u", name.c_str(), creds.uid, creds.pid));
            ::close(fd);
            continue;
        }
        AddChannel(fd, true, nullptr);
    }
    Rearm(kListenTag, lfd);
}

void ServiceCore::PauseAccepting(int err) {
    unsigned pause;
    {
        std::lock_guard<std::mutex> g(runLock);
        ++acceptFailures;
        if (!acceptPaused) {
            // Once per episode, however long it lasts.
            KORA_TRACE(1, "cannot accept connections, pausing", name + ": " + std::strerror(err));
            acceptPaused = true;
            acceptPauseMs = kFirstAcceptPauseMs;
        } else {
            acceptPauseMs = std::min(kLongestAcceptPauseMs, acceptPauseMs * 2);
        }
        pause = acceptPauseMs;
    }
    TimerItem item;
    item.kind = TimerItem::Kind::Accept;
    std::lock_guard<std::mutex> g(tLock);
    AddTimerLocked(Clock::now() + std::chrono::milliseconds(pause), std::move(item), nullptr);
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
    std::vector<Entry> queued;
    {
        std::lock_guard<std::mutex> g(qLock);
        queue.Clear(queued);
        deliveredCv.notify_all();
    }
    queued.clear();
    std::vector<Ref<cChannel>> ready;
    {
        std::lock_guard<std::mutex> g(readyLock);
        ready.swap(readyChannels);
    }
}

}  // namespace detail
}  // namespace kora
