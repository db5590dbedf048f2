// One connection: writing frames, reading and routing them, SendSync waiting,
// and closing.
//
// Who reads: exactly one thread at a time owns the reading side of a socket, a
// worker that got its epoll event or a thread waiting in SendSync. The socket's
// epoll registration is one-shot and only asks for input while nobody owns it,
// so a waiting thread reads its replies without waking a worker. Writing is
// independent: any thread writes under the channel lock as long as nothing is
// queued, and queued output is flushed by whoever sees the socket writable.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "kora/helper.h"
#include "messaging_internal.h"

namespace kora {
namespace detail {

namespace {

// What one read call asks for, and how much a worker reads from one connection
// before it lets the others have their turn.
constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kWorkerReadBudget = 1024 * 1024;
// An input buffer grown beyond this by a large frame is given back when empty.
constexpr size_t kKeptInputBuffer = 256 * 1024;

uint32_t ReadU32LE(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool WouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK;
}

}  // namespace

ChannelImpl::ChannelImpl(uint32_t id_, int fd_, bool served_, std::shared_ptr<ServiceCore> core_,
                         std::shared_ptr<ClientLink> link_)
    : id(id_), served(served_), fd(fd_), core(std::move(core_)), link(std::move(link_)) {}

uint32_t ChannelImpl::NextId() {
    uint32_t v;
    do v = ++nextId;
    while (v == 0);
    return v;
}

// ---- writing ----

bool ChannelImpl::Encode(const cMsg& msg, std::vector<uint8_t>& frame, uint32_t& msgId) {
    const DispatchContext& ctx = CurrentDispatch();
    const uint32_t inReplyTo = ctx.channel == this ? ctx.id : 0;
    msgId = NextId();
    std::string error;
    if (EncodeFrame(msg, msgId, inReplyTo, frame, error)) return true;
    KORA_TRACE(1, "message not sent: " + error, msg.Name());
    return false;
}

bool ChannelImpl::Send(const cMsg& msg) {
    std::vector<uint8_t> frame;
    uint32_t msgId;
    if (!Encode(msg, frame, msgId)) return false;
    std::lock_guard<std::mutex> g(lock);
    if (fd < 0 || closing) return false;
    return WriteLocked(std::move(frame));
}

bool ChannelImpl::WriteLocked(std::vector<uint8_t>&& frame) {
    size_t written = 0;
    if (out.empty()) {
        for (;;) {
            ssize_t n = ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) {
                written = static_cast<size_t>(n);
                break;
            }
            if (errno == EINTR) continue;
            if (WouldBlock(errno)) break;
            ShutdownLocked(std::string("send failed: ") + std::strerror(errno));
            return false;
        }
        if (written == frame.size()) return true;
    }
    const size_t rest = frame.size() - written;
    if (outBytes + rest > kMaxQueuedOutput) {
        KORA_TRACE(1, "peer does not read, closing connection",
                   FormatString("channel %u, %zu bytes queued", id, outBytes));
        ShutdownLocked("output queue overflow");
        return false;
    }
    if (out.empty()) outOffset = written;
    outBytes += rest;
    out.push_back(std::move(frame));
    UpdateArmLocked();
    return true;
}

void ChannelImpl::FlushLocked() {
    while (fd >= 0 && !out.empty()) {
        std::vector<uint8_t>& front = out.front();
        ssize_t n = ::send(fd, front.data() + outOffset, front.size() - outOffset,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (WouldBlock(errno)) return;
            ShutdownLocked(std::string("send failed: ") + std::strerror(errno));
            return;
        }
        outOffset += static_cast<size_t>(n);
        outBytes -= static_cast<size_t>(n);
        if (outOffset == front.size()) {
            out.pop_front();
            outOffset = 0;
        }
    }
}

void ChannelImpl::ShutdownLocked(const std::string& reason) {
    if (fd < 0 || closing) return;
    KORA_TRACE(0, "closing connection", FormatString("channel %u: %s", id, reason.c_str()));
    closing = true;
    out.clear();
    outOffset = outBytes = 0;
    // The reader sees end of file and finalises; a waiting SendSync wakes up too.
    ::shutdown(fd, SHUT_RDWR);
    UpdateArmLocked();
    cv.notify_all();
}

void ChannelImpl::UpdateArmLocked() {
    if (fd < 0 || !watched || !core || reader == Reader::Worker) return;
    // A hangup reported while a waiter reads is left to that waiter.
    if (hangupSeen && reader == Reader::Waiter) return;
    uint32_t want = 0;
    if (reader == Reader::None) want |= EPOLLIN | EPOLLRDHUP;
    if (!out.empty()) want |= EPOLLOUT;
    if (armed && armedMask == want) return;
    if (!armed && want == 0) return;
    epoll_event ev{};
    ev.events = want | EPOLLONESHOT;
    ev.data.u64 = id;
    if (::epoll_ctl(core->epfd, EPOLL_CTL_MOD, fd, &ev) == 0) {
        armed = true;
        armedMask = want;
    }
}

// ---- reading ----

void ChannelImpl::HandleEvent(uint32_t events) {
    {
        std::lock_guard<std::mutex> g(lock);
        armed = false;
        if (fd < 0) return;
        if (reader != Reader::None) {
            // A SendSync waiter reads this socket; only queued output is ours.
            if (events & EPOLLOUT) FlushLocked();
            if (events & (EPOLLHUP | EPOLLERR))
                hangupSeen = true;
            else
                UpdateArmLocked();
            return;
        }
        reader = Reader::Worker;
        if (events & EPOLLOUT) FlushLocked();
    }
    ReadStatus status = ReadStatus::Open;
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) status = ReadAndRoute(true);
    if (status != ReadStatus::Open) {
        Finalize(status == ReadStatus::Failed ? "protocol error" : "closed by peer");
        return;
    }
    std::lock_guard<std::mutex> g(lock);
    reader = Reader::None;
    UpdateArmLocked();
    if (readerWanted) cv.notify_all();
}

ReadStatus ChannelImpl::ReadAndRoute(bool byWorker) {
    std::vector<cMsg> frames;
    std::string error;
    ReadStatus status = ReadStatus::Open;
    size_t total = 0;
    for (;;) {
        if (inStart == inEnd) inStart = inEnd = 0;
        if (in.size() - inEnd < kReadChunk / 4) {
            if (inStart > 0) {
                std::memmove(in.data(), in.data() + inStart, inEnd - inStart);
                inEnd -= inStart;
                inStart = 0;
            }
            if (in.size() - inEnd < kReadChunk / 4)
                in.resize(std::max(in.size() * 2, inEnd + kReadChunk));
        }
        const size_t room = in.size() - inEnd;
        ssize_t n = ::read(fd, in.data() + inEnd, room);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (!WouldBlock(errno)) status = ReadStatus::Closed;
            break;
        }
        if (n == 0) {
            status = ReadStatus::Closed;
            break;
        }
        inEnd += static_cast<size_t>(n);
        total += static_cast<size_t>(n);
        if (!ParseFrames(frames, error)) {
            status = ReadStatus::Failed;
            break;
        }
        // A short read means the socket is drained for now; the registration (or
        // the waiter's poll) reports what arrives later.
        if (static_cast<size_t>(n) < room) break;
        if (byWorker && total >= kWorkerReadBudget) break;
    }
    if (inStart == inEnd && in.size() > kKeptInputBuffer) {
        std::vector<uint8_t>().swap(in);
        inStart = inEnd = 0;
    }
    // Frames that arrived before a close or a damaged frame are still delivered.
    if (!frames.empty() && !Route(frames, byWorker, error)) status = ReadStatus::Failed;
    if (status == ReadStatus::Failed)
        KORA_TRACE(1, "protocol error, closing connection",
                   FormatString("channel %u: %s", id, error.c_str()));
    return status;
}

bool ChannelImpl::ParseFrames(std::vector<cMsg>& frames, std::string& error) {
    while (inEnd - inStart >= 4) {
        const uint32_t size = ReadU32LE(in.data() + inStart);
        if (size > kMaxFrameSize) {
            error = FormatString("frame of %u bytes exceeds the limit of %u", size, kMaxFrameSize);
            return false;
        }
        if (size < kMinFrameBody) {
            error = FormatString("frame of %u bytes is too short", size);
            return false;
        }
        if (inEnd - inStart - 4 < size) break;
        cMsg msg;
        if (!DecodeFrame(in.data() + inStart + 4, size, msg, error)) return false;
        inStart += 4 + size;
        frames.push_back(std::move(msg));
    }
    return true;
}

bool ChannelImpl::Route(std::vector<cMsg>& frames, bool byWorker, std::string& error) {
    std::vector<Entry> entries;
    bool ok = true;
    {
        std::lock_guard<std::mutex> g(lock);
        bool woke = false;
        for (cMsg& msg : frames) {
            msg.SetChannel(self);
            if (served && !greeted) {
                // The first frame of a served connection announces the peer.
                s_peerinfo* info = msg.GetObject<s_peerinfo>();
                if (!info) {
                    error = "connection did not announce itself";
                    ok = false;
                    break;
                }
                peer.Identity = info->Identity;
                peer.ProcessName = info->ProcessName;
                info->Pid = peer.Pid;
                info->Uid = peer.Uid;
                info->Gid = peer.Gid;
                greeted = true;
            } else {
                Waiter* match = nullptr;
                for (Waiter* w : waiters) {
                    if (w->done || w->replyName != msg.Name()) continue;
                    if (msg.InReplyTo() != 0 && msg.InReplyTo() != w->id) continue;
                    match = w;
                    break;
                }
                if (match) {
                    match->reply = std::move(msg);
                    match->done = match->ok = true;
                    woke = true;
                    continue;
                }
            }
            Entry e;
            e.msg = std::move(msg);
            entries.push_back(std::move(e));
        }
        if (woke) cv.notify_all();
    }
    if (!entries.empty()) core->EnqueueAll(entries, !byWorker);
    return ok;
}

// ---- SendSync ----

bool ChannelImpl::SendSync(const cMsg& msg, cMsg& reply, unsigned timeoutMs,
                           const std::string& replyName) {
    Waiter w;
    w.replyName = replyName;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> frame;
    if (!Encode(msg, frame, w.id)) return false;
    std::unique_lock<std::mutex> g(lock);
    if (fd < 0 || closing) return false;
    // Take the reading side before the request leaves, so that a quick answer
    // does not wake a worker first.
    bool reading = reader == Reader::None;
    if (reading) {
        reader = Reader::Waiter;
        UpdateArmLocked();
    }
    waiters.push_back(&w);
    bool sent = WriteLocked(std::move(frame));
    while (sent && !w.done && fd >= 0 && Clock::now() < deadline) {
        if (!reading) {
            if (reader != Reader::None) {
                ++readerWanted;
                cv.wait_until(g, deadline);
                --readerWanted;
                continue;
            }
            reader = Reader::Waiter;
            UpdateArmLocked();
            reading = true;
        }
        g.unlock();
        ReadStatus status = WaitAsReader(w, deadline);
        if (status != ReadStatus::Open) {
            Finalize(status == ReadStatus::Failed ? "protocol error" : "closed by peer");
            g.lock();
            reading = false;
            break;
        }
        g.lock();
        break;  // answered, or out of time
    }
    if (reading && fd >= 0) {
        reader = Reader::None;
        hangupSeen = false;
        UpdateArmLocked();
        cv.notify_all();
    }
    waiters.remove(&w);
    const bool ok = w.done && w.ok;
    g.unlock();
    if (ok) reply = std::move(w.reply);
    return ok;
}

ReadStatus ChannelImpl::WaitAsReader(Waiter& w, Clock::time_point deadline) {
    for (;;) {
        bool wantOut;
        {
            std::lock_guard<std::mutex> g(lock);
            if (w.done) return ReadStatus::Open;
            wantOut = !out.empty();
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return ReadStatus::Open;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollfd p{};
        p.fd = fd;
        p.events = static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0));
        int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (r < 0) {
            if (errno == EINTR) continue;
            return ReadStatus::Closed;
        }
        if (r == 0) continue;
        if (p.revents & POLLNVAL) return ReadStatus::Closed;
        if (p.revents & POLLOUT) {
            std::lock_guard<std::mutex> g(lock);
            FlushLocked();
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            ReadStatus status = ReadAndRoute(false);
            if (status != ReadStatus::Open) return status;
        }
    }
}

// ---- closing ----

void ChannelImpl::CloseNow(const std::string& reason) {
    {
        std::lock_guard<std::mutex> g(lock);
        if (fd < 0) return;
        if (reader != Reader::None) {
            ShutdownLocked(reason);
            return;
        }
        // Nobody reads: take the reading side and finalise here.
        reader = Reader::Waiter;
    }
    Finalize(reason);
}

void ChannelImpl::Finalize(const std::string& reason) {
    Ref<cChannel> keep = Ref<cChannel>::Share(self);
    std::shared_ptr<ServiceCore> owner;
    bool announceClose = false;
    {
        std::lock_guard<std::mutex> g(lock);
        if (fd < 0) return;
        if (core && watched) ::epoll_ctl(core->epfd, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        fd = -1;
        closing = true;
        out.clear();
        outOffset = outBytes = 0;
        for (Waiter* w : waiters) {
            if (!w->done) w->done = true;  // ok stays false
        }
        cv.notify_all();
        owner = std::move(core);
        announceClose = served && greeted;
        std::vector<uint8_t>().swap(in);
        inStart = inEnd = 0;
    }
    KORA_TRACE(0, "connection closed", FormatString("channel %u: %s", id, reason.c_str()));
    if (owner) {
        owner->RemoveChannel(id);
        if (announceClose) {
            Entry e;
            e.msg.SetName(kChannelClosedMsg);
            e.msg.SetChannel(self);
            owner->Enqueue(std::move(e));
        }
    }
    if (link) link->OnLost(self);
}

}  // namespace detail

// ---- cChannel ----

cChannel::cChannel(std::unique_ptr<detail::ChannelImpl> impl) : m_impl(std::move(impl)) {
    m_impl->self = this;
}

cChannel::~cChannel() {
    if (m_impl->fd >= 0) ::close(m_impl->fd);
}

bool cChannel::Send(cMsg& msg) {
    return m_impl->Send(msg);
}

s_peerinfo cChannel::PeerInfo() const {
    std::lock_guard<std::mutex> g(m_impl->lock);
    return m_impl->peer;
}

uint32_t cChannel::Id() const {
    return m_impl->id;
}

bool cChannel::IsOpen() const {
    std::lock_guard<std::mutex> g(m_impl->lock);
    return m_impl->fd >= 0 && !m_impl->closing;
}

}  // namespace kora
