// Service clients: connecting (through the socket file, or a socket pair to a
// service of this process), announcing the peer, reconnecting after a loss.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "kora/helper.h"
#include "messaging_internal.h"

namespace kora {
namespace detail {

namespace {

// Pause before the next connection attempt: starts short, doubles per failure.
constexpr unsigned kFirstPauseMs = 20;
constexpr unsigned kLongestPauseMs = 1000;

unsigned NextPause(unsigned pause) {
    return std::min(kLongestPauseMs, std::max(kFirstPauseMs, pause * 2));
}

// A connected socket to the service, or -1 (with the reason in `why` when it
// was refused rather than not there).
int ConnectTo(const ServiceCore& own, const std::string& serviceName, std::string& why) {
    if (std::shared_ptr<ServiceCore> local = FindInProcess(serviceName)) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            return -1;
        if (!local->AddChannel(pair[1], true, nullptr)) {  // closes pair[1] on failure
            ::close(pair[0]);
            return -1;
        }
        return pair[0];
    }
    if (!TrustedRuntimeDir(own.runtimeDir, why)) {
        why = "runtime directory " + own.runtimeDir + " not trusted: " + why;
        return -1;
    }
    const std::string path = own.runtimeDir + "/" + serviceName + ".sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void ClientLink::ScheduleLocked(unsigned delayMs) {
    std::shared_ptr<ServiceCore> c = core.lock();
    if (!c) return;
    TimerItem item;
    item.kind = TimerItem::Kind::Connect;
    item.gen = gen;
    item.link = shared_from_this();
    std::lock_guard<std::mutex> g(c->tLock);
    c->AddTimerLocked(Clock::now() + std::chrono::milliseconds(delayMs), std::move(item), nullptr);
}

void ClientLink::TryConnect(uint64_t attemptGen) {
    std::shared_ptr<ServiceCore> c = core.lock();
    if (!c || c->closed) return;
    std::string target;
    std::set<uint32_t> trusted;
    cMsg hello;
    {
        std::lock_guard<std::mutex> g(lock);
        if (!started || gen != attemptGen || channel) return;
        target = serviceName;
        trusted = trustedUsers;
        hello.SetName(clientOnConnectName);
        s_peerinfo* info = New<s_peerinfo>();
        if (info) {
            info->Identity = announce.Identity.empty() ? s_string(clientName) : announce.Identity;
            info->ProcessName = announce.ProcessName.empty()
                                    ? s_string(program_invocation_short_name)
                                    : announce.ProcessName;
            info->Pid = static_cast<uint32_t>(::getpid());
            info->Uid = ::getuid();
            info->Gid = ::getgid();
        }
        hello.AssignObject(info);
    }
    std::string why;
    int fd = ConnectTo(*c, target, why);
    if (fd >= 0) {
        // Nothing is sent before the serving process is known to be one this
        // client may talk to: root, this user, or a user it was told to trust.
        cPeerCredentials server;
        FillCredentials(fd, server);
        const bool trustedServer = server.known && (server.uid == 0 || server.uid == ::geteuid() ||
                                                    trusted.count(server.uid));
        if (!trustedServer) {
            why = FormatString("served by user %u, which is not trusted", server.uid);
            ::close(fd);
            fd = -1;
        }
    }
    if (!why.empty())
        PeerTrace(c.get(), 1, "not connecting", clientName + " to " + target + ": " + why);
    Ref<cChannel> ch;
    if (fd >= 0) ch = c->AddChannel(fd, false, shared_from_this());
    // The announcement goes first, before anything the client sends.
    if (ch && !ch->Impl().Send(hello)) {
        ch->Impl().CloseNow("announcement not sent");
        ch = Ref<cChannel>();
    }
    std::unique_lock<std::mutex> g(lock);
    if (!started || gen != attemptGen || !client) {
        g.unlock();
        if (ch) ch->Impl().CloseNow("client stopped");
        return;
    }
    if (!ch) {
        ScheduleLocked(pauseMs);
        pauseMs = NextPause(pauseMs);
        return;
    }
    channel = ch;
    pauseMs = kFirstPauseMs;
    Entry e;
    e.kind = Entry::Kind::Client;
    e.msg.SetName(onConnectName);
    e.link = shared_from_this();
    g.unlock();
    KORA_TRACE(0, "connected",
               FormatString("%s to %s, channel %u", clientName.c_str(), target.c_str(), ch->Id()));
    // Queued before the socket is watched, so the connect message comes before
    // anything the peer sends.
    c->Enqueue(std::move(e));
    if (!c->WatchChannel(ch)) ch->Impl().CloseNow("cannot watch connection");
}

void ClientLink::OnLost(cChannel* ch) {
    std::shared_ptr<ServiceCore> c = core.lock();
    std::unique_lock<std::mutex> g(lock);
    if (channel.get() != ch) return;  // an earlier connection, or closed by Stop
    Ref<cChannel> lost = std::move(channel);
    if (!started || !client || !c) return;
    Entry e;
    e.kind = Entry::Kind::Client;
    e.msg.SetName(onCloseName);
    e.link = shared_from_this();
    ScheduleLocked(pauseMs);
    pauseMs = NextPause(pauseMs);
    g.unlock();
    c->Enqueue(std::move(e));
}

}  // namespace detail

// ---- cServiceClient ----

cServiceClient::cServiceClient(cService* service, const std::string& clientName,
                               const std::string& serviceName, const std::string& onConnectName,
                               const std::string& onCloseName,
                               const std::string& clientOnConnectName)
    : cMessageSink(service, clientName), m_link(std::make_shared<detail::ClientLink>()) {
    m_link->client = this;
    if (service) m_link->core = service->Core().shared_from_this();
    m_link->clientName = clientName;
    m_link->serviceName = serviceName;
    m_link->onConnectName = onConnectName;
    m_link->onCloseName = onCloseName;
    m_link->clientOnConnectName = clientOnConnectName;
}

cServiceClient::~cServiceClient() {
    Detach();
}

void cServiceClient::Detach() {
    cServiceClient::Stop();
    // Once no delivery runs, nothing reaches this object any more.
    std::shared_ptr<detail::ServiceCore> core = m_link->core.lock();
    if (core) core->LockDispatchMutex();
    {
        std::lock_guard<std::mutex> g(m_link->lock);
        m_link->client = nullptr;
    }
    if (core) core->UnlockDispatchMutex();
}

bool cServiceClient::ProcessMsg(cMsg& msg) {
    if (cChannel* ch = msg.Channel()) {
        if (ch->Impl().link != m_link) return false;
        // The client's own connection events come from its service, never from the peer.
        if (msg.FromPeer() &&
            (msg.Name() == m_link->onConnectName || msg.Name() == m_link->onCloseName)) {
            detail::PeerTrace(ch->Impl().core.get(), 1, "connection event from the peer, dropped",
                              msg.Name());
            return true;
        }
        return DispatchMessage(msg);
    }
    if (msg.Name() == m_link->onConnectName) {
        OnConnect();
        DispatchMessage(msg);
        return true;
    }
    if (msg.Name() == m_link->onCloseName) {
        OnClose();
        DispatchMessage(msg);
        return true;
    }
    return false;
}

bool cServiceClient::Start() {
    std::lock_guard<std::mutex> g(m_link->lock);
    if (m_link->core.expired()) return false;
    if (m_link->started) return true;
    m_link->started = true;
    ++m_link->gen;
    m_link->pauseMs = detail::kFirstPauseMs;
    m_link->ScheduleLocked(0);
    return true;
}

void cServiceClient::Stop() {
    Ref<cChannel> ch;
    {
        std::lock_guard<std::mutex> g(m_link->lock);
        m_link->started = false;
        ++m_link->gen;
        ch = std::move(m_link->channel);
    }
    if (ch) ch->Impl().CloseNow("client stopped");
}

void cServiceClient::TrustServerUser(uint32_t uid) {
    std::lock_guard<std::mutex> g(m_link->lock);
    m_link->trustedUsers.insert(uid);
}

void cServiceClient::SetPeerinfoToBeSent(s_peerinfo& info) {
    std::lock_guard<std::mutex> g(m_link->lock);
    m_link->announce.Identity = info.Identity;
    m_link->announce.ProcessName = info.ProcessName;
    m_link->announce.Pid = info.Pid;
    m_link->announce.Uid = info.Uid;
    m_link->announce.Gid = info.Gid;
}

bool cServiceClient::Send(cMsg& msg) {
    Ref<cChannel> ch = GetChannel();
    return ch && ch->Impl().Send(msg);
}

bool cServiceClient::Send(cMsg& msg, uint32_t& id, uint32_t& channelId) {
    Ref<cChannel> ch = GetChannel();
    if (!ch || !ch->Impl().Send(msg, &id)) return false;
    channelId = ch->Id();
    return true;
}

bool cServiceClient::SendSync(cMsg& msg, cMsg& reply, unsigned timeoutMs,
                              const std::string& replyName, const std::string&,
                              const std::string&) {
    Ref<cChannel> ch = GetChannel();
    return ch && ch->Impl().SendSync(msg, reply, timeoutMs, replyName);
}

void cServiceClient::HealthRequest() {
    std::lock_guard<std::mutex> g(m_link->lock);
    const bool connected = m_link->channel && m_link->channel->IsOpen();
    KORA_TRACE(0, "health request",
               FormatString("%s to %s: %s", m_link->clientName.c_str(), m_link->serviceName.c_str(),
                            !m_link->started ? "stopped"
                            : connected      ? "connected"
                                             : "connecting"));
    if (m_link->started && !m_link->channel) {
        ++m_link->gen;
        m_link->pauseMs = detail::kFirstPauseMs;
        m_link->ScheduleLocked(0);
    }
}

bool cServiceClient::IsConnected() const {
    Ref<cChannel> ch = GetChannel();
    return ch && ch->IsOpen();
}

Ref<cChannel> cServiceClient::GetChannel() const {
    std::lock_guard<std::mutex> g(m_link->lock);
    return m_link->channel;
}

const std::string& cServiceClient::ServiceName() const {
    return m_link->serviceName;
}

}  // namespace kora
