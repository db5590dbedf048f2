// The fixture of the messaging tests: a fresh runtime directory, captured
// traces, a check that no object outlives the test, the peer process, and raw
// sockets that speak the frame format by hand.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "messaging_helpers.h"

extern char** environ;

namespace kora_test {
using Bytes = std::vector<uint8_t>;

inline bool WaitUntil(const std::function<bool()>& cond, int ms = 5000) {
    for (int waited = 0; waited < ms; ++waited) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return cond();
}

inline std::string Text(const kora::cMsg& msg) {
    const auto* s = msg.GetObject<kora::s_string>();
    return s ? std::string(*s) : std::string("<none>");
}

// Sends a string to the echo service and checks that the same string came back.
inline bool EchoRoundTrip(kora::cServiceClient& client, const std::string& text,
                          unsigned timeoutMs = 5000) {
    kora::cMsg req(kEcho), reply;
    req.AssignObject(NewString(text));
    return client.SendSync(req, reply, timeoutMs, kEchoResp) && Text(reply) == text;
}

// Starts the client's service and the client, and waits for its connection.
inline bool Up(kora::cService& svc, TestClient& client) {
    return svc.Start() && client.Start() && client.journal.WaitFor(kOnConnect, 1);
}

// ---- raw frames for the misbehaving-peer cases ----

inline Bytes Body(uint32_t id, const std::string& name, const kora::ISerialize* payload,
                  uint8_t flag) {
    kora::cSerializeBuffer b;
    b.WriteU32(id);
    b.WriteU32(0);
    kora::s_string(name).Serialize(b);
    b.WriteU8(flag);
    if (payload) kora::cObjectFactory::Serialize(*payload, b);
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

inline Bytes Hello(const std::string& identity) {
    kora::s_peerinfo info;
    info.Identity = identity;
    info.Pid = 1;  // a lie the server must not believe
    return Frame(Body(1, kHello, &info, 1));
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline int ConnectRaw(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
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

// True when the peer closes the connection within the time (what it sends first is skipped).
inline bool ClosedByPeer(int fd, int ms = 5000) {
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return false;
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return true;
    }
}

// Reads frames until `most` arrived, the peer closed the connection or nothing
// arrived for `ms`; returns what parsed.
inline std::vector<kora::cMsg> ReadFrames(int fd, int ms = 5000, size_t most = SIZE_MAX) {
    std::vector<kora::cMsg> got;
    Bytes in;
    char buf[4096];
    while (got.size() < most) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) break;
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        in.insert(in.end(), buf, buf + n);
        while (in.size() >= 4) {
            const uint32_t len = in[0] | in[1] << 8 | in[2] << 16 | uint32_t(in[3]) << 24;
            if (in.size() < 4 + size_t(len)) break;
            kora::cMsg msg;
            std::string error;
            if (kora::cFrame::Decode(in.data() + 4, len, msg, error)) got.push_back(msg);
            in.erase(in.begin(), in.begin() + 4 + len);
        }
    }
    return got;
}

// A payload class nobody registered with the factory.
class Unregistered : public kora::ISerialize {
  public:
    std::string TypeName() const override { return "Unregistered"; }
    bool Serialize(kora::cSerializeBuffer&) const override { return true; }
    int Deserialize(kora::cSerializeBuffer&) override { return 1; }
    std::string ToString(const std::string&) const override { return "Unregistered"; }
};

class Messaging : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kora-msg-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ::setenv("KORA_RUNTIME_DIR", m_dir.c_str(), 1);
        m_live = kora::GC::LiveCount();
        kora::cTracepoint::SetHandler([this](const kora::cTraceRecord& r) {
            std::lock_guard<std::mutex> g(m_traceLock);
            m_traces.push_back(r);
        });
    }

    void TearDown() override {
        while (!m_pids.empty()) Kill(m_pids.back());
        kora::cTracepoint::SetHandler(nullptr);
        EXPECT_EQ(kora::GC::LiveCount(), m_live) << "objects outlived their services";
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    // Starts the peer process and waits for its line `expect` on its output.
    pid_t Spawn(const std::vector<std::string>& args, const std::string& expect) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return -1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> all{KORA_MSG_PEER};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        pid_t pid = -1;
        int rc = posix_spawn(&pid, KORA_MSG_PEER, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            return -1;
        }
        m_pids.push_back(pid);
        std::string seen;
        char buf[256];
        while (seen.find(expect + "\n") == std::string::npos) {
            pollfd p{out[0], POLLIN, 0};
            ssize_t n = ::poll(&p, 1, 10000) > 0 ? ::read(out[0], buf, sizeof buf) : 0;
            if (n <= 0) {
                pid = -1;
                break;
            }
            seen.append(buf, size_t(n));
        }
        ::close(out[0]);
        return pid;
    }

    void Kill(pid_t pid) {
        auto it = std::find(m_pids.begin(), m_pids.end(), pid);
        if (it == m_pids.end()) return;
        m_pids.erase(it);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }

    size_t ErrorTraces() {
        std::lock_guard<std::mutex> g(m_traceLock);
        size_t n = 0;
        for (const auto& r : m_traces) n += r.level == 1 && r.module == "KORA";
        return n;
    }

    bool Traced(const std::string& text) { return TraceCount(text) > 0; }

    size_t TraceCount(const std::string& text) {
        std::lock_guard<std::mutex> g(m_traceLock);
        size_t n = 0;
        for (const auto& r : m_traces) n += r.text.find(text) != std::string::npos;
        return n;
    }

    // A child the test forked itself; killed and reaped at the end.
    void Track(pid_t pid) { m_pids.push_back(pid); }

    std::string m_dir;

  private:
    size_t m_live = 0;
    std::vector<pid_t> m_pids;
    std::mutex m_traceLock;
    std::vector<kora::cTraceRecord> m_traces;
};

}  // namespace kora_test
