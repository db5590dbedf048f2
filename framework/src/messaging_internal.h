// Internals shared by the messaging sources: frames, channel state, the core of a
// service and the state behind clients and timers.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "kora/channel.h"
#include "kora/msg.h"
#include "kora/service.h"
#include "kora/serviceclient.h"
#include "kora/trace.h"

#define KORA_TRACE(level, text, detail) \
    ::kora::cTracepoint::Call("KORA", "1", (level), (text), (detail), __FILE__, __LINE__)

namespace kora {
namespace detail {

using Clock = std::chrono::steady_clock;

// ---- frames ----

// Smallest body: two ids, an empty name (version and length) and the payload flag.
constexpr uint32_t kMinFrameBody = 4 + 4 + 6 + 1;

// Bytes a channel reads into: reference counted, so that messages whose payload
// has not been recreated yet can point into it. A channel reuses its block for
// the next read as long as no message points into it.
struct InputBlock {
    std::atomic<long> refs{1};
    size_t capacity = 0;
    uint8_t* data = nullptr;

    static InputBlock* Create(size_t capacity);
    void AddRef() { refs.fetch_add(1, std::memory_order_relaxed); }
    void Release();
    bool Shared() const { return refs.load(std::memory_order_acquire) > 1; }
};

// Encodes into `out` (cleared first), length prefix included.
bool EncodeFrame(const cMsg& msg, uint32_t id, uint32_t inReplyTo, cSerializeBuffer& out,
                 std::string& error);
// Parses the frame body at [offset, offset + size) of `block` into `msg`; its
// payload stays in the block until it is asked for.
bool DecodeFrame(InputBlock* block, size_t offset, uint32_t size, cMsg& msg, std::string& error);
// The encoding buffer of the calling thread, reused by every send.
cSerializeBuffer& EncodeBuffer();

struct ChannelImpl;
struct Entry;
struct ServiceCore;
struct ClientLink;

// The message the calling thread is dispatching: sends on its channel answer it.
struct DispatchContext {
    const ChannelImpl* channel = nullptr;
    uint32_t id = 0;
};
DispatchContext& CurrentDispatch();

// One thread waiting in SendSync for the answer to the frame with `id`.
struct Waiter {
    uint32_t id = 0;
    const std::string* replyName = nullptr;
    bool done = false;
    bool ok = false;
    cMsg reply;
};

// Traces of what a peer provokes go through the service's limiter.
void PeerTrace(ServiceCore* core, int level, const std::string& text, const std::string& detail);

// ---- channels ----

enum class ReadStatus { Open, Closed, Failed, Budget, Paused };

struct ChannelImpl {
    ChannelImpl(uint32_t id, int fd, bool served, std::shared_ptr<ServiceCore> core,
                std::shared_ptr<ClientLink> link);
    ~ChannelImpl();

    cChannel* self = nullptr;  // the handle owning this state (no reference)
    const uint32_t id;
    const bool served;  // accepted by a serving service
    // The connecting end's socket is in blocking mode, so that a SendSync
    // waiter sleeps in recv itself; everyone else reads with MSG_DONTWAIT.
    bool blocking = false;

    mutable std::mutex lock;
    std::condition_variable cv;  // reader role released, waiter done, closed, resumed
    int fd;
    bool closing = false;  // shut down; the reader will finalise
    std::shared_ptr<ServiceCore> core;
    std::shared_ptr<ClientLink> link;
    s_peerinfo peer;
    cPeerCredentials creds;  // set before the channel is shared, then only read
    bool greeted = false;    // serving side: the peer's announcement arrived

    // Output the socket did not take yet.
    std::deque<std::vector<uint8_t>> out;
    size_t outOffset = 0;
    size_t outBytes = 0;

    // epoll registration, edge-triggered: input is watched while no SendSync
    // waiter reads, output only while some is queued.
    bool watched = false;
    uint32_t mask = 0;

    // Exactly one thread reads the socket at a time: a worker, or a thread
    // waiting in SendSync.
    enum class Reader { None, Worker, Waiter };
    Reader reader = Reader::None;
    int readerWanted = 0;
    bool inputPending = false;        // input was reported while another thread read
    std::atomic<bool> hangup{false};  // the peer's end of input was reported
    std::vector<Waiter*> waiters;     // oldest first
    std::atomic<uint32_t> nextId{0};

    // Back-pressure: messages (and frame bytes) routed to the delivery queue
    // and not yet delivered. At a limit the channel is paused: nobody reads it
    // until delivery has taken half.
    size_t queuedMsgs = 0;
    size_t queuedBytes = 0;
    bool paused = false;
    // Reading has ended (end of file or a protocol error); the channel closes
    // once the messages read before are delivered, so they are still answered.
    bool readDone = false;
    std::string closeReason;

    // Input, touched only by the reader: unparsed bytes are block[inStart, inEnd).
    InputBlock* block = nullptr;
    size_t inStart = 0, inEnd = 0;
    std::vector<cMsg> frames;          // parsed by one read, reused
    std::vector<uint32_t> frameSizes;  // their sizes
    std::vector<Entry> routed;         // what one read hands to the delivery queue
    // When the first bytes of a frame that is not complete yet arrived (steady
    // clock, ns; 0 when none is pending). Read by the deadline sweep.
    std::atomic<int64_t> partialSince{0};
    unsigned recvTimeoutMs = 0;  // SO_RCVTIMEO currently set on a blocking socket

    uint32_t NextId();
    // Writes (or queues) a message.
    // `sentId`, when given, receives the id the frame went out with.
    bool Send(const cMsg& msg, uint32_t* sentId = nullptr);
    bool SendSync(const cMsg& msg, cMsg& reply, unsigned timeoutMs, const std::string& replyName);
    // A worker got an epoll event for this channel.
    void HandleEvent(uint32_t events);
    // A worker reads the channel because reading was resumed or left a budget.
    void ReadAgain();
    // Closes from any thread: at once when nobody reads, else the reader will.
    void CloseNow(const std::string& reason);
    // Reading has ended: closes once the messages read before are delivered.
    void EndReading(const std::string& reason);
    // Delivery took one message that came on this channel.
    void Delivered(uint32_t bytes);

    // Locked helpers.
    bool WriteLocked(const uint8_t* data, size_t size);
    void FlushLocked();
    void ShutdownLocked(const std::string& reason);
    void UpdateMaskLocked();
    bool UnderResumeLocked() const;

    // Reader-only helpers.
    void ReadAsWorker();
    ReadStatus ReadAndRoute(bool byWorker, bool blockFirst);
    void MakeRoom();
    bool ParseFrames(size_t& budgetMsgs, size_t& budgetBytes, std::string& error);
    bool Route(bool byWorker, std::string& error);
    ReadStatus WaitAsReader(Waiter& w, Clock::time_point deadline);
    void Finalize(const std::string& reason);
};

// ---- timers and clients ----

struct TimerState;

struct TimerItem {
    // Message: a cTimer's expiry. Connect: a client's connection attempt.
    // Accept: accepting resumes after running out of descriptors. Sweep: the
    // frame deadlines are checked.
    enum class Kind { Message, Connect, Accept, Sweep };
    Kind kind = Kind::Message;
    std::shared_ptr<TimerState> timer;
    uint64_t gen = 0;
    std::shared_ptr<ClientLink> link;
    std::string name;
};

using TimerMap = std::multimap<Clock::time_point, TimerItem>;

struct TimerState {
    std::weak_ptr<ServiceCore> core;
    cMessageSink* sink = nullptr;
    std::atomic<uint64_t> gen{0};
    // Guarded by the core's timer lock.
    bool inMap = false;
    TimerMap::iterator pos;
};

struct ClientLink : std::enable_shared_from_this<ClientLink> {
    std::mutex lock;
    cServiceClient* client = nullptr;  // null once the client is gone
    std::weak_ptr<ServiceCore> core;
    std::string clientName, serviceName, onConnectName, onCloseName, clientOnConnectName;
    s_peerinfo announce;
    std::set<uint32_t> trustedUsers;
    Ref<cChannel> channel;
    bool started = false;
    uint64_t gen = 0;  // bumped by Start/Stop/HealthRequest to drop stale attempts
    unsigned pauseMs = 0;

    // A worker's connection attempt for generation `gen`.
    void TryConnect(uint64_t attemptGen);
    // The connection `ch` has closed.
    void OnLost(cChannel* ch);
    void ScheduleLocked(unsigned delayMs);
};

// ---- the service ----

struct Entry {
    enum class Kind { Broadcast, Sink, Timer, Client, Function };
    Kind kind = Kind::Broadcast;
    cMsg msg;
    cMessageSink* sink = nullptr;
    std::shared_ptr<TimerState> timer;
    uint64_t timerGen = 0;
    std::shared_ptr<ClientLink> link;
    std::function<void()> fn;
    uint32_t bytes = 0;    // frame size, for a message read from a channel
    bool counted = false;  // counted in its channel's queue
};

// The delivery queue: a ring that keeps its storage, so that the steady flow
// of messages allocates nothing.
class EntryRing {
  public:
    bool empty() const { return m_count == 0; }
    size_t size() const { return m_count; }
    Entry& front() { return m_slots[m_head]; }
    void push_back(Entry&& e);
    void pop_front();
    // Removes the entries for which `drop` is true, keeping the order of the rest.
    template <class Pred>
    void RemoveIf(Pred drop, std::vector<Entry>& removed) {
        std::vector<Entry> kept;
        while (!empty()) {
            Entry e = std::move(front());
            pop_front();
            if (drop(e))
                removed.push_back(std::move(e));
            else
                kept.push_back(std::move(e));
        }
        for (Entry& e : kept) push_back(std::move(e));
    }
    void Clear(std::vector<Entry>& removed) {
        RemoveIf([](const Entry&) { return true; }, removed);
    }

  private:
    std::vector<Entry> m_slots;
    size_t m_head = 0, m_count = 0;
};

// epoll data of the service's own descriptors; channels use their id (>= kFirstChannelId).
enum : uint64_t { kStopTag = 1, kWakeTag = 2, kTimerTag = 3, kListenTag = 4 };
constexpr uint32_t kFirstChannelId = 16;

struct ServiceCore : std::enable_shared_from_this<ServiceCore> {
    ServiceCore(const std::string& name, const std::string& runtimeDir);
    ~ServiceCore();

    std::string name, runtimeDir;
    int epfd = -1, wakefd = -1, stopfd = -1, timerfd = -1, listenfd = -1;
    std::string socketPath;   // set while the socket file is ours
    bool registered = false;  // in the in-process registry
    std::atomic<bool> stopping{false};
    std::atomic<bool> closed{false};  // being destroyed: no new channels or entries

    mutable std::mutex limitLock;
    cServiceLimits limits;
    cServiceLimits Limits() const {
        std::lock_guard<std::mutex> g(limitLock);
        return limits;
    }
    // The limits every read consults, readable without the lock.
    std::atomic<size_t> maxQueuedMessages{cServiceLimits().maxQueuedMessages};
    std::atomic<size_t> maxQueuedBytes{cServiceLimits().maxQueuedBytes};
    std::atomic<unsigned> frameDeadlineMs{cServiceLimits().frameDeadlineMs};
    cTraceLimiter peerErrors, peerInfo;

    std::mutex chLock;
    std::unordered_map<uint32_t, Ref<cChannel>> channels;
    size_t servedCount = 0;                        // guarded by chLock
    std::unordered_map<uint32_t, size_t> perUser;  // served channels by peer uid, guarded by chLock

    // Channels to read again (resumed, or left when a read used its budget).
    std::mutex readyLock;
    std::vector<Ref<cChannel>> readyChannels;

    mutable std::mutex qLock;
    std::condition_variable deliveredCv;  // a fair LockDispatch waits for delivery
    EntryRing queue;
    uint64_t enqueuedTotal = 0, deliveredTotal = 0;  // guarded by qLock
    int fairWaiters = 0;                             // guarded by qLock
    int inDelivery = 0;  // taken off the queue, not yet counted delivered; guarded by qLock
    bool dispatching = false;

    // The dispatch mutex and who holds it (for LockDispatch's fairness).
    std::recursive_mutex dispatchLock;
    std::atomic<std::thread::id> dispatchOwner{std::thread::id()};
    int dispatchDepth = 0;  // touched by the owner only
    void LockDispatchMutex();
    void UnlockDispatchMutex();
    bool HoldsDispatch() const { return dispatchOwner.load() == std::this_thread::get_id(); }

    std::mutex sinkLock;
    std::vector<cMessageSink*> sinks;
    std::atomic<uint64_t> sinkGen{0};
    std::vector<cMessageSink*> deliverSinks;  // reused by Deliver, under the dispatch mutex

    std::mutex tLock;
    TimerMap timers;
    bool sweepPending = false;  // guarded by tLock

    std::mutex runLock;
    std::condition_variable runCv;
    std::vector<std::thread> workers;
    bool running = false;
    int runThreads = 0;  // callers of Run() inside their worker loop
    // Accepting is paused after running out of descriptors; guarded by runLock.
    bool acceptPaused = false;
    unsigned acceptPauseMs = 0;
    size_t acceptFailures = 0;

    bool Valid() const { return epfd >= 0 && wakefd >= 0 && stopfd >= 0 && timerfd >= 0; }

    // Channels.
    // Wraps a connected socket (closed on failure). A served channel is watched at
    // once; a client's channel once WatchChannel is called.
    Ref<cChannel> AddChannel(int fd, bool served, std::shared_ptr<ClientLink> link);
    bool WatchChannel(const Ref<cChannel>& ch);
    Ref<cChannel> FindChannel(uint32_t id);
    void RemoveChannel(ChannelImpl& impl);
    void Rearm(uint64_t tag, int fd);
    void ScheduleRead(cChannel* ch);
    void ReadReadyChannels();
    // Frame deadlines: a sweep is due at `when`.
    void ScheduleSweep(Clock::time_point when);
    void SweepDeadlines();

    // Delivery.
    bool Enqueue(Entry&& e, bool wake = true);
    bool EnqueueAll(std::vector<Entry>& entries, bool wake);
    void DrainQueue();
    void Deliver(Entry& e);
    bool IsRegistered(cMessageSink* sink);
    // Waits (bounded) until the messages queued now have been delivered.
    void WaitForDelivery();

    // Timers.
    void AddTimerLocked(Clock::time_point when, TimerItem item, TimerState* state);
    void ArmTimerFdLocked();
    void RunDueTimers();

    // Threads.
    void WorkerLoop();
    void StartWorkers(unsigned count);
    void StopWorkers();
    void AcceptConnections();
    void PauseAccepting(int err);
    // True when a served connection from `creds` fits the limits (counts it then).
    bool AdmitServed(const cPeerCredentials& creds);

    void Teardown();
};

// In-process registry of served services.
void RegisterInProcess(const std::shared_ptr<ServiceCore>& core);
void UnregisterInProcess(ServiceCore* core);
std::shared_ptr<ServiceCore> FindInProcess(const std::string& name);

// Small descriptor helpers.
bool AddToEpoll(int epfd, int fd, uint32_t events, uint64_t tag);
void Signal(int eventfd);  // makes an eventfd readable
void Drain(int fd);        // reads an eventfd or timerfd empty
bool ValidServiceName(const std::string& name);
// Creates the runtime directory (mode 0700) when missing, and checks that it
// can be trusted: a directory of this user or root that others cannot write.
bool PrepareRuntimeDir(const std::string& path, std::string& why);
// Checks an existing runtime directory the same way, without creating it.
bool TrustedRuntimeDir(const std::string& path, std::string& why);

// Reads SO_PEERCRED and SO_PEERGROUPS of a connected socket.
void FillCredentials(int fd, cPeerCredentials& creds);

}  // namespace detail
}  // namespace kora
