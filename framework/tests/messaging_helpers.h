// Sinks and clients shared by the messaging tests and their peer process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
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
constexpr char kWho[] = "TEST::WHO";
constexpr char kWhoResp[] = "TEST::WHO-RESP";
constexpr char kDefer[] = "TEST::DEFER";
constexpr char kDeferFire[] = "TEST::DEFER-FIRE";
constexpr char kIgnore[] = "TEST::IGNORE";
constexpr char kPeerClosed[] = "TEST::PEER-CLOSED";
constexpr char kFakeEvents[] = "TEST::FAKE-EVENTS";
constexpr char kTyped[] = "TEST::TYPED";

// Names seen, with a wait for a count of one name.
class Journal {
  public:
    void Add(const kora::cMsg& msg) {
        std::lock_guard<std::mutex> g(m_lock);
        m_msgs.push_back(msg);
        m_cv.notify_all();
    }
    size_t Count(const std::string& name) const {
        std::lock_guard<std::mutex> g(m_lock);
        size_t n = 0;
        for (const auto& m : m_msgs) n += m.Name() == name;
        return n;
    }
    bool WaitFor(const std::string& name, size_t count, int ms = 5000) const {
        std::unique_lock<std::mutex> g(m_lock);
        return m_cv.wait_for(g, std::chrono::milliseconds(ms), [&] {
            size_t n = 0;
            for (const auto& m : m_msgs) n += m.Name() == name;
            return n >= count;
        });
    }
    std::vector<kora::cMsg> All() const {
        std::lock_guard<std::mutex> g(m_lock);
        return m_msgs;
    }
    void Clear() {
        std::lock_guard<std::mutex> g(m_lock);
        m_msgs.clear();
    }

  private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_cv;
    std::vector<kora::cMsg> m_msgs;
};

// Records every message and claims it.
class RecordingSink : public kora::cMessageSink {
  public:
    RecordingSink(kora::cService* service, const std::string& name) : cMessageSink(service, name) {
        service->RegisterMessageSink(this);
    }
    ~RecordingSink() override { Service()->UnRegisterMessageSink(this); }
    bool ProcessMsg(kora::cMsg& msg) override {
        journal.Add(msg);
        return true;
    }
    Journal journal;
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

// The serving side of the tests: echoes, pushes, reports peers and defers.
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
        if (name == kHello) {
            std::lock_guard<std::mutex> g(m_lock);
            m_peers[ch] = kora::Ref<kora::cChannel>::Share(ch);
            return true;
        }
        if (name == kora::kChannelClosedMsg) {
            std::map<kora::cChannel*, kora::Ref<kora::cChannel>> others;
            {
                std::lock_guard<std::mutex> g(m_lock);
                m_peers.erase(ch);
                others = m_peers;
            }
            for (const auto& peer : others) {
                kora::cMsg note(kPeerClosed);
                note.AssignObject(NewString(ch->PeerInfo().Identity));
                peer.second->Send(note);
            }
            return true;
        }
        if (name == kEcho || name == kEchoThenPush) {
            kora::cMsg reply(kEchoResp);
            reply.ShareObject(msg.GetPayload());
            ch->Send(reply);
            if (name == kEchoThenPush) {
                kora::cMsg push(kPush);
                ch->Send(push);
            }
            return true;
        }
        if (name == kWho) {
            kora::s_peerinfo info = ch->PeerInfo();
            auto* map = kora::New<kora::s_map_string_string>();
            map->SetAt("identity", info.Identity);
            map->SetAt("process", info.ProcessName);
            map->SetAt("pid", std::to_string(unsigned(info.Pid)));
            map->SetAt("uid", std::to_string(unsigned(info.Uid)));
            kora::cMsg reply(kWhoResp);
            reply.AssignObject(map);
            ch->Send(reply);
            return true;
        }
        if (name == kFakeEvents) {
            // Names of the client's own connection events, sent as if they were news.
            for (const char* fake : {kOnClose, kOnConnect}) {
                kora::cMsg m(fake);
                ch->Send(m);
            }
            kora::cMsg done(kEchoResp);
            ch->Send(done);
            return true;
        }
        if (name == kTyped) {
            // Takes only a string: another payload class is not even recreated.
            const kora::s_string* text = msg.GetObject<kora::s_string>();
            kora::cMsg reply(kEchoResp);
            reply.AssignObject(NewString(text ? "string" : "none"));
            ch->Send(reply);
            return true;
        }
        if (name == kDefer) {
            // Answered later, outside this handler: such answers carry no request id.
            std::lock_guard<std::mutex> g(m_lock);
            m_deferred.emplace_back(kora::Ref<kora::cChannel>::Share(ch), msg);
            if (m_deferred.size() == deferBatch) m_timer.StartMs(5, kDeferFire);
            return true;
        }
        if (name == kDeferFire) {
            std::vector<std::pair<kora::Ref<kora::cChannel>, kora::cMsg>> batch;
            {
                std::lock_guard<std::mutex> g(m_lock);
                batch.swap(m_deferred);
            }
            for (auto& d : batch) {
                kora::cMsg reply(kEchoResp);
                reply.ShareObject(d.second.GetPayload());
                d.first->Send(reply);
            }
            return true;
        }
        return name == kIgnore;
    }

    Journal journal;
    size_t deferBatch = 2;

  private:
    std::mutex m_lock;
    std::map<kora::cChannel*, kora::Ref<kora::cChannel>> m_peers;
    std::vector<std::pair<kora::Ref<kora::cChannel>, kora::cMsg>> m_deferred;
    kora::cTimer m_timer;
};

}  // namespace kora_test
