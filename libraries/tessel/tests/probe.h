// A bare protocol client for tests: sends requests by name and records every
// message that reaches it, so tests can check order and contents on the wire.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "tessel/tessel.h"

namespace testhost {

struct Received {
    std::string name;
    kora::Ref<kora::ISerialize> payload;
};

class Probe : public kora::cServiceClient {
  public:
    Probe(kora::cService* service, const std::string& server)
        : kora::cServiceClient(service, "probe", server, "PROBE::ON-CONNECT", "PROBE::ON-CLOSE",
                               tessel::kMsgClientOnConnect) {
        service->RegisterMessageSink(this);
    }
    ~Probe() override { Service()->UnRegisterMessageSink(this); }

    bool DispatchMessage(kora::cMsg& msg) override {
        if (msg.Name().compare(0, 7, "PROBE::") == 0) return true;  // own connection events
        std::lock_guard<std::mutex> g(m_lock);
        m_received.push_back({msg.Name(), kora::Ref<kora::ISerialize>::Share(msg.GetPayload())});
        m_changed.notify_all();
        if (msg.Name() == tessel::kMsgDumpReq && answerDumps) {
            kora::cMsg res(tessel::kMsgDumpRes);
            msg.Channel()->Send(res);
        }
        return true;
    }

    // Waits until `count` messages arrived (bounded); returns what arrived.
    std::vector<Received> WaitFor(size_t count, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> g(m_lock);
        m_changed.wait_for(g, std::chrono::milliseconds(timeoutMs),
                           [&] { return m_received.size() >= count; });
        return m_received;
    }
    std::vector<std::string> Names() {
        std::lock_guard<std::mutex> g(m_lock);
        std::vector<std::string> names;
        for (const auto& r : m_received) names.push_back(r.name);
        return names;
    }
    void Clear() {
        std::lock_guard<std::mutex> g(m_lock);
        m_received.clear();
    }
    bool WaitConnected(int timeoutMs = 5000) {
        for (int i = 0; i < timeoutMs / 5 && !IsConnected(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return IsConnected();
    }
    // Sends `name` with `payload` (taken over) and waits for `reply`.
    bool Request(const std::string& name, kora::ISerialize* payload, const std::string& reply,
                 kora::cMsg& out, unsigned timeoutMs = 5000) {
        kora::cMsg msg(name);
        if (payload) msg.AssignObject(payload);
        return SendSync(msg, out, timeoutMs, reply);
    }

    bool answerDumps = true;

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Received> m_received;
};

}  // namespace testhost
