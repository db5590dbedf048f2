// The fixture of the messaging tests: a fresh runtime directory, captured
// traces, a check that no object outlives the test, an echo service with a
// client, and raw sockets that speak the frame format by hand.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "kora/kora.h"

namespace kora_test {
using namespace kora;
using Bytes = std::vector<uint8_t>;

constexpr char kHello[] = "TEST::HELLO";
constexpr char kOnConnect[] = "TEST::ON-CONNECT";
constexpr char kOnClose[] = "TEST::ON-CLOSE";
constexpr char kEcho[] = "TEST::ECHO";
constexpr char kEchoResp[] = "TEST::ECHO-RESP";
constexpr char kEchoThenPush[] = "TEST::ECHO-THEN-PUSH";
constexpr char kPush[] = "TEST::PUSH";
constexpr char kDefer[] = "TEST::DEFER";
constexpr char kIgnore[] = "TEST::IGNORE";
constexpr char kTyped[] = "TEST::TYPED";

// Messages seen, counted by name, with a wait for a count of one name.
class Journal {
  public:
    void Add(const cMsg& msg) {
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
    std::vector<cMsg> All() const {
        std::lock_guard<std::mutex> g(m_lock);
        return m_msgs;
    }

  private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_cv;
    std::vector<cMsg> m_msgs;
    std::map<std::string, size_t> m_counts;
};

// A client that records its connect and close messages and everything its
// connection brings.
class TestClient : public cServiceClient {
  public:
    TestClient(cService* service, const std::string& target, const std::string& identity)
        : cServiceClient(service, "testClient", target, kOnConnect, kOnClose, kHello) {
        s_peerinfo info;
        info.Identity = identity;
        SetPeerinfoToBeSent(info);
        service->RegisterMessageSink(this);
    }
    ~TestClient() override { Service()->UnRegisterMessageSink(this); }
    bool DispatchMessage(cMsg& msg) override {
        journal.Add(msg);
        return true;
    }
    Journal journal;
};

// The serving side of the tests: records every message, echoes, pushes and
// defers. Claims only the names it knows.
class EchoServer : public cMessageSink {
  public:
    explicit EchoServer(cService* service) : cMessageSink(service, "echoServer") {
        service->RegisterMessageSink(this);
    }
    // Unregisters before the members go, so no delivery sees them half destroyed.
    ~EchoServer() override { Service()->UnRegisterMessageSink(this); }

    bool ProcessMsg(cMsg& msg) override {
        journal.Add(msg);
        const std::string& name = msg.Name();
        cChannel* ch = msg.Channel();
        cMsg reply(kEchoResp);
        if (name == kEcho || name == kEchoThenPush) {
            reply.ShareObject(msg.GetPayload());
            ch->Send(reply);
            if (name == kEchoThenPush) {
                cMsg push(kPush);
                ch->Send(push);
            }
        } else if (name == kTyped) {
            // Takes only a string: another payload class is not even recreated.
            reply.AssignObject(New<s_string>(msg.GetObject<s_string>() ? "string" : "none"));
            ch->Send(reply);
        } else if (name == kDefer) {
            // Answered later, outside any handler: such answers carry no request id.
            m_deferred.emplace_back(Ref<cChannel>::Share(ch), msg);
            if (m_deferred.size() == 2)
                Service()->RunOnDelivery([this] {
                    for (auto& d : m_deferred) {
                        cMsg answer(kEchoResp);
                        answer.ShareObject(d.second.GetPayload());
                        d.first->Send(answer);
                    }
                    m_deferred.clear();
                });
        } else {
            return name == kIgnore || name == kHello || name == kChannelClosedMsg;
        }
        return true;
    }

    Journal journal;

  private:
    // Touched on the delivery thread only.
    std::vector<std::pair<Ref<cChannel>, cMsg>> m_deferred;
};

inline bool WaitUntil(const std::function<bool()>& cond, int ms = 5000) {
    for (int waited = 0; waited < ms && !cond(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return cond();
}

inline std::string Text(const cMsg& msg) {
    const auto* s = msg.GetObject<s_string>();
    return s ? std::string(*s) : std::string("<none>");
}

// Sends a request with a string and gives the string of the answer.
inline std::string Ask(cServiceClient& client, const char* name, const std::string& text,
                       unsigned ms = 5000) {
    cMsg req(name), reply;
    req.AssignObject(New<s_string>(text));
    return client.SendSync(req, reply, ms, kEchoResp) ? Text(reply) : "<no answer>";
}
inline bool EchoRoundTrip(cServiceClient& client, const std::string& text) {
    return Ask(client, kEcho, text) == text;
}

// ---- raw frames for the misbehaving-peer cases ----

inline Bytes Body(uint32_t id, const std::string& name, const ISerialize* payload, uint8_t flag) {
    cSerializeBuffer b;
    b.WriteU32(id);
    b.WriteU32(0);
    s_string(name).Serialize(b);
    b.WriteU8(flag);
    if (payload) cObjectFactory::Serialize(*payload, b);
    return Bytes(b.Data(), b.Data() + b.Size());
}

inline Bytes Frame(const Bytes& body, int64_t claimed = -1) {
    const uint32_t len = claimed < 0 ? static_cast<uint32_t>(body.size()) : uint32_t(claimed);
    // Sized once, then filled: growing a four-byte vector by insert trips a
    // false out-of-bounds warning of the optimiser.
    Bytes out(4 + body.size());
    for (int i = 0; i < 4; ++i) out[size_t(i)] = uint8_t(len >> (8 * i));
    std::copy(body.begin(), body.end(), out.begin() + 4);
    return out;
}

// A frame with a string payload.
inline Bytes StringFrame(const std::string& name, const std::string& text, uint32_t id = 2) {
    s_string s(text);
    return Frame(Body(id, name, &s, 1));
}

inline Bytes Hello(const std::string& identity) {
    s_peerinfo info;
    info.Identity = identity;
    info.Pid = 1;  // a lie the server must not believe
    return Frame(Body(1, kHello, &info, 1));
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// `count` frames named `name` without payload.
inline Bytes Flood(const std::string& name, size_t count) {
    Bytes out;
    for (size_t i = 0; i < count; ++i)
        for (uint8_t byte : Frame(Body(uint32_t(i + 10), name, nullptr, 0))) out.push_back(byte);
    return out;
}

// What ReadFrames gives for the echo of `text`.
inline std::string Echoed(const std::string& text) {
    return std::string(kEchoResp) + " " + text;
}

inline sockaddr_un Address(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    return addr;
}

// Connects a new socket, or `fd` when given, to the path.
inline int ConnectRaw(const std::string& path, int fd = -1) {
    if (fd < 0) fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr = Address(path);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    ::close(fd);
    return -1;
}

inline bool WriteAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// What ReadFrames gives last when the peer closed the connection.
constexpr char kClosed[] = "<closed>";

// Reads frames until `most` arrived, the peer closed the connection or nothing
// arrived for `ms`; returns the name and text of each that parsed.
inline std::vector<std::string> ReadFrames(int fd, int ms = 5000, size_t most = SIZE_MAX) {
    std::vector<std::string> got;
    Bytes in;
    char buf[4096];
    for (pollfd p{fd, POLLIN, 0}; got.size() < most && ::poll(&p, 1, ms) > 0;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            got.push_back(kClosed);
            break;
        }
        in.insert(in.end(), buf, buf + n);
        while (in.size() >= 4) {
            const uint32_t len = in[0] | in[1] << 8 | in[2] << 16 | uint32_t(in[3]) << 24;
            if (in.size() < 4 + size_t(len)) break;
            cMsg msg;
            std::string error;
            if (cFrame::Decode(in.data() + 4, len, msg, error))
                got.push_back(msg.Name() + " " + Text(msg));
            in.erase(in.begin(), in.begin() + 4 + len);
        }
    }
    return got;
}

class Messaging : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kora-msg-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ::setenv("KORA_RUNTIME_DIR", m_dir.c_str(), 1);
        m_live = GC::LiveCount();
        cTracepoint::SetHandler([this](const cTraceRecord& r) {
            std::lock_guard<std::mutex> g(m_traceLock);
            m_traces.push_back(r.text);
        });
    }

    void TearDown() override {
        client.reset();
        clientSvc.reset();
        echo.reset();
        server.reset();
        cTracepoint::SetHandler(nullptr);
        EXPECT_EQ(GC::LiveCount(), m_live) << "objects outlived their services";
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    // Serves "echo" in this process, over its socket or in process only, and
    // connects `client` to it (unless `connect` is false).
    bool Serve(const cServiceLimits& limits = {}, bool inProcess = false, bool connect = true) {
        server.reset(new cService("echo"));
        echo.reset(new EchoServer(server.get()));
        server->SetLimits(limits);
        if (!(inProcess ? server->ServeInProcess() : server->Serve()) || !server->Start())
            return false;
        if (!connect) return true;
        clientSvc.reset(new cService("client"));
        client.reset(new TestClient(clientSvc.get(), "echo", "good"));
        return clientSvc->Start() && client->Start() && client->journal.WaitFor(kOnConnect, 1);
    }

    // A raw connection to the echo server that has written `bytes`.
    int Raw(const Bytes& bytes) {
        const int fd = ConnectRaw(server->SocketPath());
        EXPECT_TRUE(fd >= 0 && WriteAll(fd, bytes));
        return fd;
    }
    // Writes `bytes` on a new raw connection (then ends it when `eof`) and
    // reads up to `most` frames.
    std::vector<std::string> Exchange(const Bytes& bytes, size_t most = SIZE_MAX, int ms = 5000,
                                      bool eof = false) {
        const int fd = Raw(bytes);
        if (eof) ::shutdown(fd, SHUT_WR);
        std::vector<std::string> got = ReadFrames(fd, ms, most);
        ::close(fd);
        return got;
    }

    size_t TraceCount(const std::string& text) {
        std::lock_guard<std::mutex> g(m_traceLock);
        return size_t(std::count_if(m_traces.begin(), m_traces.end(), [&](const std::string& t) {
            return t.find(text) != std::string::npos;
        }));
    }
    bool Traced(const std::string& text) { return TraceCount(text) > 0; }

    std::string m_dir;
    cServiceLimits limits;  // for tests to set before Serve(limits)
    std::unique_ptr<cService> server, clientSvc;
    std::unique_ptr<EchoServer> echo;
    std::unique_ptr<TestClient> client;

  private:
    size_t m_live = 0;
    std::mutex m_traceLock;
    std::vector<std::string> m_traces;
};

}  // namespace kora_test
