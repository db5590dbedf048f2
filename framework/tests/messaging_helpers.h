// Sinks and clients shared by the messaging tests and their peer process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "kora/kora.h"

namespace kora_test {

constexpr char kHello[] = "TEST::HELLO";
constexpr char kOnConnect[] = "TEST::ON-CONNECT";
constexpr char kOnClose[] = "TEST::ON-CLOSE";
constexpr char kEcho[] = "TEST::ECHO";
constexpr char kEchoResp[] = "TEST::ECHO-RESP";
constexpr char kEchoThenPush[] = "TEST::ECHO-THEN-PUSH";
constexpr char kPush[] = "TEST::PUSH";
constexpr char kDefer[] = "TEST::DEFER";
constexpr char kDeferFire[] = "TEST::DEFER-FIRE";
constexpr char kIgnore[] = "TEST::IGNORE";
constexpr char kFakeEvents[] = "TEST::FAKE-EVENTS";
constexpr char kTyped[] = "TEST::TYPED";

// Messages seen, counted by name, with a wait for a count of one name.
class Journal {
  public:
    void Add(const kora::cMsg& msg) {
        std::lock_guard<std::mutex> g(m_lock);
        m_msgs.push_back(msg);
        ++m_counts[msg.Name()];
        m_cv.notify_all();
    }
    size_t Count(const std::string& name) const {
        std::lock_guard<std::mutex> g(m_lock);
        return m_counts.count(name) ? m_counts.at(name) : 0;
    }
    bool WaitFor(const std::string& name, size_t count, int ms = 5000) const {
        std::unique_lock<std::mutex> g(m_lock);
        return m_cv.wait_for(g, std::chrono::milliseconds(ms),
                             [&] { return m_counts.count(name) && m_counts.at(name) >= count; });
    }
    std::vector<kora::cMsg> All() const {
        std::lock_guard<std::mutex> g(m_lock);
        return m_msgs;
    }

  private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_cv;
    std::vector<kora::cMsg> m_msgs;
    std::map<std::string, size_t> m_counts;
};

// A client that records its connect and close messages and everything its
// connection brings.
class TestClient : public kora::cServiceClient {
  public:
    TestClient(kora::cService* service, const std::string& target, const std::string& identity)
        : cServiceClient(service, "testClient", target, kOnConnect, kOnClose, kHello) {
        kora::s_peerinfo info;
        info.Identity = identity;
        SetPeerinfoToBeSent(info);
        service->RegisterMessageSink(this);
    }
    ~TestClient() override { Service()->UnRegisterMessageSink(this); }
    bool DispatchMessage(kora::cMsg& msg) override {
        journal.Add(msg);
        return true;
    }
    Journal journal;
};

inline kora::s_string* NewString(const std::string& text) {
    return kora::New<kora::s_string>(text);
}

// The serving side of the tests: records every message, echoes, pushes and
// defers. Claims only the names it knows.
class EchoServer : public kora::cMessageSink {
  public:
    explicit EchoServer(kora::cService* service)
        : cMessageSink(service, "echoServer"), m_timer(service, false, this) {
        service->RegisterMessageSink(this);
    }
    // Unregisters before the members go, so no delivery sees them half destroyed.
    ~EchoServer() override { Service()->UnRegisterMessageSink(this); }

    bool ProcessMsg(kora::cMsg& msg) override {
        journal.Add(msg);
        const std::string& name = msg.Name();
        kora::cChannel* ch = msg.Channel();
        kora::cMsg reply(kEchoResp);
        if (name == kEcho || name == kEchoThenPush) {
            reply.ShareObject(msg.GetPayload());
            ch->Send(reply);
            if (name == kEchoThenPush) {
                kora::cMsg push(kPush);
                ch->Send(push);
            }
        } else if (name == kFakeEvents) {
            // Names of the client's own connection events, sent as if they were news.
            for (const char* fake : {kOnClose, kOnConnect}) {
                kora::cMsg m(fake);
                ch->Send(m);
            }
            ch->Send(reply);
        } else if (name == kTyped) {
            // Takes only a string: another payload class is not even recreated.
            reply.AssignObject(NewString(msg.GetObject<kora::s_string>() ? "string" : "none"));
            ch->Send(reply);
        } else if (name == kDefer) {
            // Answered later, outside this handler: such answers carry no request id.
            std::lock_guard<std::mutex> g(m_lock);
            m_deferred.emplace_back(kora::Ref<kora::cChannel>::Share(ch), msg);
            if (m_deferred.size() == 2) m_timer.StartMs(5, kDeferFire);
        } else if (name == kDeferFire) {
            std::vector<std::pair<kora::Ref<kora::cChannel>, kora::cMsg>> batch;
            {
                std::lock_guard<std::mutex> g(m_lock);
                batch.swap(m_deferred);
            }
            for (auto& d : batch) {
                kora::cMsg answer(kEchoResp);
                answer.ShareObject(d.second.GetPayload());
                d.first->Send(answer);
            }
        } else {
            return name == kIgnore || name == kHello || name == kora::kChannelClosedMsg;
        }
        return true;
    }

    Journal journal;

  private:
    std::mutex m_lock;
    std::vector<std::pair<kora::Ref<kora::cChannel>, kora::cMsg>> m_deferred;
    kora::cTimer m_timer;
};

}  // namespace kora_test
