// Test doubles for both ends of the protocol: a fake data server that answers
// requests by message name and records everything it receives, an IDataClient
// that records the events it gets, a rig that connects one client to the fake
// server, and one that serves the real cDataServer over the in-memory host to
// a client and bare probes, all over the in-process transport.
#pragma once

#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "memory_host.h"
#include "probe.h"
#include "tessel/dataclient.h"
#include "tessel/tessel.h"

namespace fakeserver {

inline std::string UniqueName(const char* what) {
    static int counter = 0;
    return kora::FormatString("%s%d-%d", what, static_cast<int>(::getpid()), ++counter);
}

// A heap payload of class T, filled by `fill`; the caller holds its reference.
template <class T, class Fill>
T* Make(Fill fill) {
    T* t = kora::New<T>();
    fill(*t);
    return t;
}

class FakeServer : public kora::cMessageSink, public testhost::Inbox {
  public:
    // Builds the answer to a request; false sends nothing.
    using Rule = std::function<bool(const kora::cMsg& request, kora::cMsg& reply)>;

    explicit FakeServer(kora::cService* service) : kora::cMessageSink(service, "fakeServer") {
        // Registration and item reads (with no item) answer by default, so a
        // client connects.
        Answer(tessel::kMsgRegCollectionReq, [this](const kora::cMsg&, kora::cMsg& reply) {
            reply.SetName(tessel::kMsgRegCollectionResp);
            kora::s_int8 code = static_cast<int8_t>(regResult.load());
            reply.AssignObject(Make<tessel::ccDBRegCollectionResp>(
                [&](tessel::ccDBRegCollectionResp& r) { r.Result = code; }));
            return true;
        });
        AnswerWith(tessel::kMsgGetItemReq, tessel::kMsgGetItemResp, nullptr);
        service->RegisterMessageSink(this);
    }
    ~FakeServer() override { Service()->UnRegisterMessageSink(this); }

    bool ProcessMsg(kora::cMsg& msg) override {
        Rule rule;
        Keep(msg);
        {
            std::lock_guard<std::mutex> g(m_lock);
            if (msg.Name() == tessel::kMsgClientOnConnect)
                m_client = kora::Ref<kora::cChannel>::Share(msg.Channel());
            auto it = m_rules.find(msg.Name());
            if (it != m_rules.end()) rule = it->second;
        }
        kora::cMsg reply;
        if (rule && rule(msg, reply) && msg.Channel()) msg.Channel()->Send(reply);
        return true;
    }

    void Answer(const std::string& request, Rule rule) {
        std::lock_guard<std::mutex> g(m_lock);
        m_rules[request] = std::move(rule);
    }
    // Answers `request` with `reply` carrying a new payload from `make`, or
    // without payload when `make` is empty.
    void AnswerWith(const std::string& request, const std::string& reply,
                    std::function<kora::ISerialize*()> make) {
        Answer(request, [reply, make](const kora::cMsg&, kora::cMsg& out) {
            out.SetName(reply);
            if (make) out.AssignObject(make());
            return true;
        });
    }
    // Sends a message of the server's own to the connected client.
    bool Push(kora::cMsg& msg) {
        kora::Ref<kora::cChannel> channel;
        {
            std::lock_guard<std::mutex> g(m_lock);
            channel = m_client;
        }
        return channel && channel->Send(msg);
    }

    // Result of registrations; read when a registration arrives.
    std::atomic<int> regResult{1};

  private:
    std::mutex m_lock;
    std::map<std::string, Rule> m_rules;
    kora::Ref<kora::cChannel> m_client;
};

// Records the client's events, and anything else a test notes, in one
// sequence so that the order of callbacks and collection calls can be checked.
class Events : public tessel::IDataClient {
  public:
    void OnDataConnect(tessel::cDataClient*) override { Note("connect"); }
    void OnDataClose(tessel::cDataClient*) override { Note("close"); }
    void OnCollectionSynced(tessel::cDataClient*, tessel::cDBCollection* c) override {
        Note("synced " + c->GetPath() + (c->HasChanged() ? " changed" : " same"));
    }
    void OnRebootNotification(tessel::cDataClient*) override { Note("reboot"); }
    bool OnDumpRequest(tessel::cDataClient*, kora::s_string& path) override {
        const bool answer = answerDumps;  // read before a waiting test may change it
        Note("dump " + path);
        return answer;
    }

    void Note(const std::string& what) {
        std::lock_guard<std::mutex> g(m_lock);
        m_seen.push_back(what);
    }
    std::vector<std::string> Seen() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_seen;
    }
    size_t Count(const std::string& what) {
        size_t n = 0;
        for (auto& s : Seen()) n += s == what;
        return n;
    }
    // Waits until `what` was noted `count` times.
    bool WaitFor(const std::string& what, size_t count = 1) {
        return testhost::WaitUntil([&] { return Count(what) >= count; });
    }
    void Clear() {
        std::lock_guard<std::mutex> g(m_lock);
        m_seen.clear();
    }

    std::atomic<bool> answerDumps{true};

  private:
    std::mutex m_lock;
    std::vector<std::string> m_seen;
};

// A collection that takes every item and notes each call made to it.
class Recorder : public tessel::cDBCollection {
  public:
    Recorder(const std::string& path, Events& events) : cDBCollection(path), m_events(events) {}
    ~Recorder() override { m_events.Note("deleted " + GetPath()); }

    void BeginSync() override {
        m_events.Note("begin " + GetPath());
        m_staged.clear();
    }
    bool ValidateDBItem(tessel::cDBItem* item) override {
        m_events.Note("offer " + GetPath() + " " + item->GetName());
        m_staged.push_back(item->GetName());
        return true;
    }
    void EndSync() override {
        m_events.Note("end " + GetPath());
        m_committed = m_staged;
        synced = true;
    }
    std::string ToString(const std::string&) const override { return "Recorder:"; }
    bool HasChanged() override { return m_staged != m_committed; }

  private:
    Events& m_events;
    std::vector<std::string> m_staged, m_committed;
};

// One fake server and one client connected to it, both in this process.
struct Rig {
    // A client that is not connected is only started by the test.
    explicit Rig(bool connect = true)
        : serverService(UniqueName("ds")), clientService(UniqueName("dc")) {
        server.reset(new FakeServer(&serverService));
        EXPECT_TRUE(serverService.ServeInProcess() && serverService.Start());
        EXPECT_TRUE(clientService.Start());
        client.reset(new tessel::cDataClient(&clientService, &events, 0, serverService.Name()));
        if (!connect) return;
        client->Start();
        EXPECT_TRUE(events.WaitFor("connect"));
    }
    ~Rig() {
        client.reset();
        clientService.Stop();
        server.reset();
    }

    kora::cService serverService;
    std::unique_ptr<FakeServer> server;
    kora::cService clientService;
    Events events;
    std::unique_ptr<tessel::cDataClient> client;
};

// The real cDataServer over a MemoryHost (or another host), `probeCount` bare
// clients and, when asked for, a cDataClient. The server can be stopped and
// started again under the same name.
template <class Host = testhost::MemoryHost>
struct ServedRig {
    explicit ServedRig(size_t probeCount = 0, bool dataClient = true)
        : name(UniqueName("srv")), clientService(name + "-c") {
        StartServer();
        EXPECT_TRUE(clientService.Start());
        for (size_t i = 0; i < probeCount; ++i) {
            probes.emplace_back(new testhost::Probe(&clientService, name));
            probes.back()->Start();
            EXPECT_TRUE(probes.back()->WaitConnected());
        }
        if (dataClient) {
            client.reset(new tessel::cDataClient(&clientService, &events, 0, name));
            client->Start();
            EXPECT_TRUE(events.WaitFor("connect"));
        }
        // The announcements reach the server's table on its delivery thread.
        EXPECT_TRUE(testhost::WaitUntil([&] { return Connected() == probeCount + dataClient; }));
    }
    ~ServedRig() {
        client.reset();
        for (auto& p : probes) p->Stop();
        probes.clear();
        clientService.Stop();
        StopServer();
    }
    void StartServer() {
        serverService.reset(new kora::cService(name));
        server.reset(new tessel::cDataServer(serverService.get(), &host));
        EXPECT_TRUE(serverService->ServeInProcess() && serverService->Start());
    }
    void StopServer() {
        if (serverService) serverService->Stop();
        server.reset();
        serverService.reset();
    }
    // Runs `f` with the server's delivery held off, so neither it nor the host is in use.
    template <class F>
    void Locked(F f) {
        kora::cDispatchLock g = serverService->LockDispatch();
        f(*server);
    }
    size_t Connected() {
        size_t n = 0;
        Locked([&](tessel::cDataServer& s) { n = s.ConnectedChannels().size(); });
        return n;
    }
    testhost::Probe& probe(size_t i = 0) { return *probes[i]; }
    // Sends `request` with `payload` (taken over) from probe `i`; the Result
    // of the answer `reply`, -100 when none came or it carries none.
    int Result(const char* request, kora::ISerialize* payload, const char* reply, size_t i = 0) {
        kora::cMsg answer;
        if (!probe(i).Request(request, payload, reply, answer)) return -100;
        auto* r = answer.GetObject<tessel::ccDBResp>();
        return r ? int(r->Result) : -100;
    }
    int Register(const std::string& path, size_t i = 0) {
        return Result(tessel::kMsgRegCollectionReq,
                      Make<tessel::ccDBRegCollectionReq>(
                          [&](tessel::ccDBRegCollectionReq& r) { r.Path = path; }),
                      tessel::kMsgRegCollectionResp, i);
    }

    std::string name;
    Host host;
    std::unique_ptr<kora::cService> serverService;
    std::unique_ptr<tessel::cDataServer> server;
    kora::cService clientService;
    std::vector<std::unique_ptr<testhost::Probe>> probes;
    Events events;
    std::unique_ptr<tessel::cDataClient> client;
};

}  // namespace fakeserver
