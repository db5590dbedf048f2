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
#include <list>
#include <map>
#include <memory>
#include <mutex>
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

// Builds the whole frame, length prefix included. False (with a reason) when the
// payload's type is not registered or the frame would exceed kMaxFrameSize.
bool EncodeFrame(const cMsg& msg, uint32_t id, uint32_t inReplyTo, std::vector<uint8_t>& frame,
                 std::string& error);
// Parses one frame body into `msg` (name, payload, ids). False (with a reason)
// unless the body parses exactly.
bool DecodeFrame(const uint8_t* body, uint32_t size, cMsg& msg, std::string& error);

struct ChannelImpl;
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
    std::string replyName;
    bool done = false;
    bool ok = false;
    cMsg reply;
};

// ---- channels ----

enum class ReadStatus { Open, Closed, Failed };

struct ChannelImpl {
    ChannelImpl(uint32_t id, int fd, bool served, std::shared_ptr<ServiceCore> core,
                std::shared_ptr<ClientLink> link);

    cChannel* self = nullptr;  // the handle owning this state (no reference)
    const uint32_t id;
    const bool served;  // accepted by a serving service

    mutable std::mutex lock;
    std::condition_variable cv;  // reader role released, waiter done, closed
    int fd;
    bool closing = false;  // shut down; the reader will finalise
    std::shared_ptr<ServiceCore> core;
    std::shared_ptr<ClientLink> link;
    s_peerinfo peer;
    bool greeted = false;  // serving side: the peer's announcement arrived

    // Output the socket did not take yet.
    std::deque<std::vector<uint8_t>> out;
    size_t outOffset = 0;
    size_t outBytes = 0;

    // epoll registration (one-shot): armed until a worker takes the event.
    bool watched = false;
    bool armed = false;
    uint32_t armedMask = 0;
    bool hangupSeen = false;

    // Exactly one thread reads the socket at a time: a worker, or a thread
    // waiting in SendSync.
    enum class Reader { None, Worker, Waiter };
    Reader reader = Reader::None;
    int readerWanted = 0;
    std::list<Waiter*> waiters;  // oldest first
    std::atomic<uint32_t> nextId{0};

    // Input, touched only by the reader: unparsed bytes are in[inStart, inEnd).
    std::vector<uint8_t> in;
    size_t inStart = 0, inEnd = 0;

    uint32_t NextId();
    // Builds the frame of `msg` with a new id, answering the message being
    // dispatched on this thread if that came on this channel.
    bool Encode(const cMsg& msg, std::vector<uint8_t>& frame, uint32_t& msgId);
    // Writes (or queues) a message.
    bool Send(const cMsg& msg);
    bool SendSync(const cMsg& msg, cMsg& reply, unsigned timeoutMs, const std::string& replyName);
    // A worker got an epoll event for this channel.
    void HandleEvent(uint32_t events);
    // Closes from any thread: at once when nobody reads, else the reader will.
    void CloseNow(const std::string& reason);

    // Locked helpers.
    bool WriteLocked(std::vector<uint8_t>&& frame);
    void FlushLocked();
    void ShutdownLocked(const std::string& reason);
    void UpdateArmLocked();

    // Reader-only helpers.
    ReadStatus ReadAndRoute(bool byWorker);
    bool ParseFrames(std::vector<cMsg>& frames, std::string& error);
    bool Route(std::vector<cMsg>& frames, bool byWorker, std::string& error);
    ReadStatus WaitAsReader(Waiter& w, Clock::time_point deadline);
    void Finalize(const std::string& reason);
};

// ---- timers and clients ----

struct TimerState;

struct TimerItem {
    enum class Kind { Message, Connect };
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

    std::mutex chLock;
    std::unordered_map<uint32_t, Ref<cChannel>> channels;

    mutable std::mutex qLock;
    std::deque<Entry> queue;
    bool dispatching = false;
    std::recursive_mutex dispatchLock;

    std::mutex sinkLock;
    std::vector<cMessageSink*> sinks;

    std::mutex tLock;
    TimerMap timers;

    std::mutex runLock;
    std::condition_variable runCv;
    std::vector<std::thread> workers;
    bool running = false;
    int runThreads = 0;  // callers of Run() inside their worker loop

    bool Valid() const { return epfd >= 0 && wakefd >= 0 && stopfd >= 0 && timerfd >= 0; }

    // Channels.
    // Wraps a connected socket (closed on failure). A served channel is watched at
    // once; a client's channel once WatchChannel is called.
    Ref<cChannel> AddChannel(int fd, bool served, std::shared_ptr<ClientLink> link);
    bool WatchChannel(const Ref<cChannel>& ch);
    Ref<cChannel> FindChannel(uint32_t id);
    void RemoveChannel(uint32_t id);
    void Rearm(uint64_t tag, int fd);

    // Delivery.
    bool Enqueue(Entry&& e, bool wake = true);
    bool EnqueueAll(std::vector<Entry>& entries, bool wake);
    void DrainQueue();
    void Deliver(Entry& e);
    bool IsRegistered(cMessageSink* sink);

    // Timers.
    void AddTimerLocked(Clock::time_point when, TimerItem item, TimerState* state);
    void ArmTimerFdLocked();
    void RunDueTimers();

    // Threads.
    void WorkerLoop();
    void StartWorkers(unsigned count);
    void StopWorkers();
    void AcceptConnections();

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
bool MakeDirectories(const std::string& path, mode_t mode);
bool ValidServiceName(const std::string& name);

// Reads SO_PEERCRED of a connected socket into `info`.
void FillCredentials(int fd, s_peerinfo& info);

}  // namespace detail
}  // namespace kora
