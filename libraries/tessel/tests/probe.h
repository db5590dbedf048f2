// A bare protocol client for tests: sends requests and records what reaches it.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tessel/tessel.h"

namespace testhost {

// Polls `done` until it holds or `timeoutMs` passed; returns its last value.
template <class F>
bool WaitUntil(F done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Received {
    std::string name;
    kora::Ref<kora::ISerialize> payload;
};

// The messages that reached a test double, in order of arrival.
class Inbox {
  public:
    void Keep(const kora::cMsg& msg) {
        std::lock_guard<std::mutex> g(m_lock);
        m_received.push_back({msg.Name(), kora::Ref<kora::ISerialize>::Share(msg.GetPayload())});
    }
    std::vector<Received> All() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_received;
    }
    std::vector<Received> Named(const std::string& name) {
        std::vector<Received> out;
        for (auto& r : All())
            if (r.name == name) out.push_back(r);
        return out;
    }
    std::vector<std::string> Names() {
        std::vector<std::string> out;
        for (auto& r : All()) out.push_back(r.name);
        return out;
    }
    // Waits until `count` messages arrived; what arrived by then.
    std::vector<Received> WaitFor(size_t count) {
        WaitUntil([&] { return All().size() >= count; });
        return All();
    }
    // Waits until `count` messages named `name` arrived; those that did.
    std::vector<Received> WaitFor(const std::string& name, size_t count = 1) {
        WaitUntil([&] { return Named(name).size() >= count; });
        return Named(name);
    }
    void Clear() {
        std::lock_guard<std::mutex> g(m_lock);
        m_received.clear();
    }

  private:
    std::mutex m_lock;
    std::vector<Received> m_received;
};

class Probe : public kora::cServiceClient, public Inbox {
  public:
    Probe(kora::cService* service, const std::string& server)
        : kora::cServiceClient(service, "probe", server, "PROBE::ON-CONNECT", "PROBE::ON-CLOSE",
                               tessel::kMsgClientOnConnect) {
        service->RegisterMessageSink(this);
    }
    ~Probe() override { Service()->UnRegisterMessageSink(this); }

    bool DispatchMessage(kora::cMsg& msg) override {
        if (msg.Name().compare(0, 7, "PROBE::") == 0) return true;  // own connection events
        Keep(msg);
        if (msg.Name() == tessel::kMsgDumpReq && answerDumps) {
            kora::cMsg res(tessel::kMsgDumpRes);
            msg.Channel()->Send(res);
        }
        return true;
    }

    bool WaitConnected(int timeoutMs = 5000) {
        return WaitUntil([&] { return IsConnected(); }, timeoutMs);
    }
    // Sends `name` with `payload` (taken over) and waits for `reply`.
    bool Request(const std::string& name, kora::ISerialize* payload, const std::string& reply,
                 kora::cMsg& out, unsigned timeoutMs = 5000) {
        kora::cMsg msg(name);
        if (payload) msg.AssignObject(payload);
        return SendSync(msg, out, timeoutMs, reply);
    }

    bool answerDumps = true;
};

}  // namespace testhost
