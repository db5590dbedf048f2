// kora services: one process-side messaging endpoint, the sinks it delivers
// messages to, and timers.
//
// Thread model
//
// A started service runs two worker threads over one epoll set (the listening
// socket, every connection, a timer descriptor and wake-up descriptors). A worker
// that gets a connection ready reads its frames and routes each one: a frame that
// answers a waiting SendSync is handed straight to the waiting thread; every other
// frame, timer expiry, posted message and connection event joins the service's
// delivery queue. Queued messages are handed to the sinks strictly one at a time,
// in queue order, by whichever worker holds the dispatcher role; that worker holds
// the dispatch mutex (see LockDispatch) while one message is with the sinks. At
// most one worker dispatches, so the other one always keeps the sockets served,
// even while a sink blocks (for example in a SendSync of its own). The worker that
// read a message usually dispatches it itself, which saves a thread handoff on the
// request path; "the delivery thread" below means the worker dispatching at that
// moment.
//
// A thread waiting in SendSync reads its own connection while it waits (the
// workers leave that connection alone meanwhile, and the connecting end's socket
// blocks, so the waiter sleeps in recv itself), so a reply reaches it without
// passing through another thread; replies for other waiters it reads are handed
// over, other frames are queued. Connections are registered edge-triggered: a
// worker that read a connection leaves nothing to re-arm. Sends are written directly by the sending
// thread when the connection's output queue is empty; only what the socket does not take at once
// waits for a worker.
//
// Messages of one service are delivered one at a time, so a sink that waits in
// SendSync for a service served by the same cService waits in vain (the request
// is queued behind the message being handled): serve and connect from separate
// cService objects when both ends live in one process.
//
// Sinks, clients and timers must be destroyed before their service.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "kora/export.h"
#include "kora/msg.h"

namespace kora {

class cService;

namespace detail {
struct ServiceCore;
struct TimerState;
}  // namespace detail

// Receives the messages of a service. Handlers run on the delivery thread.
class KORA_API cMessageSink {
  public:
    cMessageSink(cService* service, const std::string& name);
    // Unregisters the sink if it is still registered.
    virtual ~cMessageSink();
    cMessageSink(const cMessageSink&) = delete;
    cMessageSink& operator=(const cMessageSink&) = delete;

    virtual std::string ToString() const;
    virtual void InitMessageMap() {}
    virtual void OnMsgIgnore(cMsg&) {}
    virtual bool Init(const std::string&) { return true; }
    virtual bool ProcessMessageHandlers(cMsg&) { return false; }
    // Returns true when the message was handled; false offers it to the next sink.
    virtual bool ProcessMsg(cMsg& msg) { return ProcessMessageHandlers(msg); }
    virtual bool AuthorizedChannel(cMsg&, const std::string&) { return true; }

    const std::string& Name() const { return m_name; }
    cService* Service() const { return m_service; }

  private:
    cService* m_service;
    std::string m_name;
};

// Holds the service's dispatch mutex: no message is handed to a sink (on another
// thread) while a guard lives. Recursive, so the delivery thread may take it too.
class KORA_API cDispatchLock {
  public:
    cDispatchLock() = default;
    cDispatchLock(cDispatchLock&& other) noexcept;
    cDispatchLock& operator=(cDispatchLock&& other) noexcept;
    cDispatchLock(const cDispatchLock&) = delete;
    cDispatchLock& operator=(const cDispatchLock&) = delete;
    ~cDispatchLock() { Unlock(); }
    bool OwnsLock() const { return m_core != nullptr; }
    void Unlock();

  private:
    friend class cService;
    explicit cDispatchLock(detail::ServiceCore* core) : m_core(core) {}
    detail::ServiceCore* m_core = nullptr;
};

// What a service allows its peers. A peer beyond a limit is refused or made
// to wait; nothing it sent is lost.
struct KORA_API cServiceLimits {
    // Connections served at once; a connection beyond it is closed at once.
    size_t maxConnections = 256;
    // Connections served at once for one user id other than the service's own.
    size_t maxConnectionsPerUser = 32;
    // A frame whose first bytes arrived must be complete within this time, or
    // its connection is closed (a peer that dribbles or stalls mid-frame).
    unsigned frameDeadlineMs = 10000;
    // Messages (and their bytes) received on one connection and not yet
    // delivered. At either bound the service stops reading that connection
    // until delivery has taken half of them: the peer's sends block, nothing
    // is dropped.
    size_t maxQueuedMessages = 1024;
    size_t maxQueuedBytes = 32u << 20;
};

class KORA_API cService {
  public:
    // `name` names the socket "<runtime dir>/<name>.sock" when served. The runtime
    // directory is read once here: KORA_RUNTIME_DIR when set, else /run/kora when
    // it can be used, else /tmp/kora-<uid>.
    explicit cService(const std::string& name);
    // Stops the threads, closes every connection and releases queued messages.
    virtual ~cService();
    cService(const cService&) = delete;
    cService& operator=(const cService&) = delete;

    const std::string& Name() const;
    const std::string& RuntimeDir() const;
    // Path of the listening socket (whether served or not).
    std::string SocketPath() const;
    static std::string DefaultRuntimeDir();

    // Sinks are offered each message in registration order until one handles
    // it. Registering twice has no effect. UnRegisterMessageSink waits until a
    // message being handed to that sink on another thread is done.
    void RegisterMessageSink(cMessageSink* sink);
    void UnRegisterMessageSink(cMessageSink* sink);

    // Limits applied to peers from now on (the defaults until set).
    void SetLimits(const cServiceLimits& limits);
    cServiceLimits Limits() const;

    // Listens on the socket (mode 0660; a stale socket file is replaced, a live
    // one makes Serve fail) and lets clients in this process connect directly.
    // The runtime directory is created with mode 0700 when missing; one that is
    // not a directory, belongs to another user (root aside) or is writable by
    // others is refused, since whoever may write there could put a socket of
    // its own in the service's place.
    bool Serve();
    // Accepts clients of this process only, through socket pairs; no socket file.
    bool ServeInProcess();

    // Starts the worker threads; true when they run.
    bool Start();
    // Stops the worker threads after the message being dispatched. Connections
    // stay open; Start resumes. From a sink, Stop only asks the threads to end.
    void Stop();
    // Runs the service with the calling thread as one of its workers until Stop.
    void Run();

    // Queues a local message for `sink` (null: offered to every sink in order).
    // Returns false while the service is being destroyed.
    bool Post(const std::string& name, cMessageSink* sink = nullptr);
    bool PostMsg(const cMsg& msg, cMessageSink* sink = nullptr);
    // Runs `fn` on the delivery thread, in queue order with the messages.
    bool RunOnDelivery(std::function<void()> fn);
    // Takes the dispatch mutex. A thread that does not hold it already first
    // lets the delivery thread hand over the messages queued before it came,
    // so a thread that takes the lock again and again (a client issuing
    // requests back to back) cannot keep the queue from draining.
    cDispatchLock LockDispatch();
    // Messages queued and not yet dispatched.
    size_t PendingMessages() const;

    detail::ServiceCore& Core() const { return *m_core; }

  private:
    std::shared_ptr<detail::ServiceCore> m_core;
};

// A one-shot timer delivering a named message to a sink through the service's
// delivery queue.
class KORA_API cTimer {
  public:
    // `flag` is reserved and has no effect.
    cTimer(cService* service, bool flag, cMessageSink* sink);
    // Cancels a pending expiry.
    ~cTimer();
    cTimer(const cTimer&) = delete;
    cTimer& operator=(const cTimer&) = delete;

    // Delivers a message named `name` after `seconds`; replaces a pending expiry.
    void StartSec(unsigned seconds, const std::string& name);
    void StartMs(unsigned milliseconds, const std::string& name);
    // Cancels the pending expiry, also one already queued for delivery.
    void Stop();
    bool IsPending() const;

  private:
    std::shared_ptr<detail::TimerState> m_state;
};

}  // namespace kora
