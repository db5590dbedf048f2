// The parent's side of the end-to-end tests: a fixture that gives every test
// its own runtime directory and checks that no framework object outlives it,
// a cDataClient on a service of its own, a bare protocol client, and helpers
// to steer the server child (see server_process.h).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_dataserver.h"
#include "probe.h"
#include "server_process.h"

namespace e2e {

using fakeserver::Recorder;

// Upper bound of every wait; reached only when something is broken.
constexpr int kWaitMs = 10000;

// Polls `done` until it holds or `timeoutMs` passed; returns its last value.
template <class F>
bool WaitUntil(F done, int timeoutMs = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string UniqueName(const char* what);

// A new item of class T holding one reference; `fill` sets it up.
template <class T, class Fill>
kora::Ref<T> Make(Fill fill) {
    kora::Ref<T> t = kora::Ref<T>::Adopt(kora::New<T>());
    fill(*t);
    return t;
}

kora::Ref<tessel::cDBLogUnit> Unit(const std::string& dir, const std::string& name,
                                   unsigned level = 1);
kora::Ref<tessel::cDBConfigSSH> Ssh(const std::string& dir, bool enabled);

// The client's events (see fakeserver::Events), plus a hook that runs inside
// OnCollectionSynced, before the collection commits.
class Watcher : public fakeserver::Events {
  public:
    // Set before the client starts; called on the client's delivery thread.
    std::function<void(tessel::cDBCollection*)> onSynced;

    void OnCollectionSynced(tessel::cDataClient* client, tessel::cDBCollection* c) override {
        if (onSynced) onSynced(c);
        fakeserver::Events::OnCollectionSynced(client, c);
    }
    bool WaitCount(const std::string& what, size_t count, int timeoutMs = kWaitMs) {
        return WaitUntil([&] { return Count(what) >= count; }, timeoutMs);
    }
    // The begin, synced and end notes of the collections, in order.
    std::vector<std::string> Syncs();
    // The notes whose first word is `kind`.
    std::vector<std::string> Only(const std::string& kind);
};

// One cDataClient on a service of its own, connected to the server child.
//
// Start a second client of a test only once the first has connected: each
// connection reads the feature list, which replaces the process-wide feature
// set without a lock, and two clients connecting at once corrupt it.
class Client {
  public:
    // `identity` is what the client announces about itself (empty: the default).
    explicit Client(const std::string& identity = "", bool start = true);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    tessel::cDataClient* operator->() { return client.get(); }
    bool WaitConnected(size_t count = 1) { return events.WaitCount("connect", count); }

    // Runs a server command ("ctl:<command>") and returns its result.
    kora::s_int8 Ctl(const std::string& command, kora::ISerialize* value = nullptr);
    // Stores an item on the server without notifying anyone.
    bool Put(const kora::Ref<tessel::cDBItem>& item);
    template <class T>
    bool Put(const kora::Ref<T>& item) {
        return Put(kora::Ref<tessel::cDBItem>::Share(item.get()));
    }
    // A control value of the server as text ("null" when there is none).
    std::string Flag(const std::string& name);
    // The host calls the server recorded since the last "clear".
    std::vector<std::string> Calls();
    // Forgets the recorded host calls.
    void Clear() { EXPECT_EQ(Ctl("clear"), 1); }
    // Runs `read` on the collection registered at `path` (null when none),
    // holding the client's dispatch lock so no sync runs meanwhile.
    void WithCollection(const std::string& path,
                        const std::function<void(tessel::cDBCollection*)>& read);

    Watcher events;
    kora::cService service;
    std::unique_ptr<tessel::cDataClient> client;
};

// A bare protocol client: sends what cDataClient never sends and records
// every message that reaches it.
class RawClient {
  public:
    RawClient();
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    testhost::Probe* operator->() { return probe.get(); }
    // Sends `name` with `payload` (taken over; may be null) without waiting.
    bool Send(const std::string& name, kora::ISerialize* payload = nullptr);
    // Sends `name` with `payload` (taken over) and returns the Result of the
    // answer `reply`, -100 when none came.
    int Result(const std::string& name, kora::ISerialize* payload, const std::string& reply);
    // A control value of the server as text, asked on this connection.
    std::string Flag(const std::string& name);
    // Names of the messages received so far.
    std::vector<std::string> Names() { return probe->Names(); }

    kora::cService service;
    std::unique_ptr<testhost::Probe> probe;
};

// Captures the framework's trace records while it lives. The records are
// shared with the handler, which a thread may still run after removal.
class TraceCapture {
  public:
    TraceCapture();
    ~TraceCapture();
    std::vector<kora::cTraceRecord> Records();

  private:
    struct Store {
        std::mutex lock;
        std::vector<kora::cTraceRecord> records;
    };
    std::shared_ptr<Store> m_store = std::make_shared<Store>();
};

// Every test gets a runtime directory of its own and must leave no framework
// object alive once its clients and services are gone.
class E2E : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    const std::string& Dir() const { return m_dir; }

  private:
    std::string m_dir;
    size_t m_live = 0;
};

}  // namespace e2e
