// One connection: writing frames, reading and routing them, SendSync waiting,
// back-pressure and closing.
//
// Who reads: exactly one thread at a time owns the reading side of a socket, a
// worker that got its epoll event or a thread waiting in SendSync. The socket
// is registered edge-triggered, so a worker is told once about new input and
// nothing needs re-arming after a read; the reader reads until the socket is
// drained (a short read). While a SendSync waiter owns the socket, input is
// left out of the registration, so its answer wakes no worker.
//
// Writing is independent: any thread writes under the channel lock as long as
// nothing is queued, and queued output is flushed by whoever sees the socket
// writable.
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "kora/helper.h"
#include "messaging_internal.h"

namespace kora {
namespace detail {

namespace {

// The usual room for one read, and how much a worker reads from one connection
// before it lets the others have their turn.
constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kWorkerReadBudget = 1024 * 1024;
// A new block while messages still point into the old one starts small, so
// that a peer sending one frame per read cannot pin a large block per message.
constexpr size_t kSmallBlock = 4 * 1024;
// A block grown beyond this by a large frame is given back when empty.
constexpr size_t kKeptInputBuffer = 256 * 1024;

uint32_t ReadU32LE(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool WouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK;
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

}  // namespace

ChannelImpl::ChannelImpl(uint32_t id_, int fd_, bool served_, std::shared_ptr<ServiceCore> core_,
                         std::shared_ptr<ClientLink> link_)
    : id(id_), served(served_), fd(fd_), core(std::move(core_)), link(std::move(link_)) {}

ChannelImpl::~ChannelImpl() {
    if (block) block->Release();
}

uint32_t ChannelImpl::NextId() {
    uint32_t v;
    do v = ++nextId;
    while (v == 0);
    return v;
}

// ---- writing ----

namespace {

// Encodes `msg` with a new id into the thread's buffer, answering the message
// being dispatched on this thread if that came on `ch`.
bool EncodeFor(ChannelImpl& ch, const cMsg& msg, uint32_t& msgId) {
    const DispatchContext& ctx = CurrentDispatch();
    const uint32_t inReplyTo = ctx.channel == &ch ? ctx.id : 0;
    msgId = ch.NextId();
    std::string error;
    if (EncodeFrame(msg, msgId, inReplyTo, EncodeBuffer(), error)) return true;
    KORA_TRACE(1, "message not sent: " + error, msg.Name());
    return false;
}

}  // namespace

bool ChannelImpl::Send(const cMsg& msg, uint32_t* sentId) {
    uint32_t msgId;
    if (!EncodeFor(*this, msg, msgId)) return false;
    if (sentId) *sentId = msgId;
    const cSerializeBuffer& frame = EncodeBuffer();
    std::lock_guard<std::mutex> g(lock);
    if (fd < 0 || closing) return false;
    return WriteLocked(frame.Data(), frame.Size());
}

bool ChannelImpl::WriteLocked(const uint8_t* data, size_t size) {
    size_t written = 0;
    if (out.empty()) {
        for (;;) {
            ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) {
                written = static_cast<size_t>(n);
                break;
            }
            if (errno == EINTR) continue;
            if (WouldBlock(errno)) break;
            ShutdownLocked(std::string("send failed: ") + std::strerror(errno));
            return false;
        }
        if (written == size) return true;
    }
    const size_t rest = size - written;
    if (outBytes + rest > kMaxQueuedOutput) {
        PeerTrace(core.get(), 1, "peer does not read, closing connection",
                  FormatString("channel %u, %zu bytes queued", id, outBytes));
        ShutdownLocked("output queue overflow");
        return false;
    }
    const bool wasEmpty = out.empty();
    if (wasEmpty) outOffset = 0;
    outBytes += rest;
    out.emplace_back(data + written, data + size);
    if (wasEmpty) UpdateMaskLocked();
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
    if (out.empty()) UpdateMaskLocked();
}

void ChannelImpl::ShutdownLocked(const std::string& reason) {
    if (fd < 0 || closing) return;
    PeerTrace(core.get(), 0, "closing connection",
              FormatString("channel %u: %s", id, reason.c_str()));
    closing = true;
    out.clear();
    outOffset = outBytes = 0;
    // The reader sees end of file and finalises; a waiting SendSync wakes up too.
    ::shutdown(fd, SHUT_RDWR);
    cv.notify_all();
}

void ChannelImpl::UpdateMaskLocked() {
    if (fd < 0 || !watched || !core) return;
    uint32_t want = EPOLLET;
    if (reader != Reader::Waiter) want |= EPOLLIN | EPOLLRDHUP;
    if (!out.empty()) want |= EPOLLOUT;
    if (want == mask) return;
    epoll_event ev{};
    ev.events = want;
    ev.data.u64 = id;
    // With an edge-triggered registration, modifying it reports input that is
    // already waiting, so nothing that arrived meanwhile is missed.
    if (::epoll_ctl(core->epfd, EPOLL_CTL_MOD, fd, &ev) == 0) mask = want;
}

// ---- back-pressure ----

bool ChannelImpl::UnderResumeLocked() const {
    if (!core) return true;
    return queuedMsgs <= core->maxQueuedMessages / 2 && queuedBytes <= core->maxQueuedBytes / 2;
}

void ChannelImpl::Delivered(uint32_t bytes) {
    bool resume = false, finalize = false;
    {
        std::lock_guard<std::mutex> g(lock);
        if (queuedMsgs) --queuedMsgs;
        queuedBytes -= std::min<size_t>(queuedBytes, bytes);
        if (paused && UnderResumeLocked()) {
            paused = false;
            resume = reader == Reader::None;
            // A reader still letting go after its pause looks again.
            if (!resume) inputPending = true;
            cv.notify_all();  // a waiter that stopped reading goes on
        }
        finalize = readDone && queuedMsgs == 0 && fd >= 0 && reader == Reader::None;
        if (finalize) reader = Reader::Worker;  // nobody else may finalise or read now
    }
    if (finalize) {
        Finalize(closeReason);
        return;
    }
    if (resume && core) core->ScheduleRead(self);
}

// ---- reading ----

void ChannelImpl::HandleEvent(uint32_t events) {
    {
        std::lock_guard<std::mutex> g(lock);
        if (fd < 0) return;
        if (events & EPOLLOUT) FlushLocked();
        if (!(events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))) return;
        // The end of the peer's input comes with the same edge as its last
        // bytes: whoever reads next reads on until it sees it.
        if (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) hangup = true;
        if (reader != Reader::None) {
            // Another thread reads; it looks again before it lets go.
            inputPending = true;
            return;
        }
        if (paused || readDone) return;
        reader = Reader::Worker;
    }
    ReadAsWorker();
}

void ChannelImpl::ReadAgain() {
    {
        std::lock_guard<std::mutex> g(lock);
        if (fd < 0 || paused || readDone) return;
        if (reader != Reader::None) {
            inputPending = true;
            return;
        }
        reader = Reader::Worker;
    }
    ReadAsWorker();
}

// Reads as the worker holding the reader role, and lets go of it.
void ChannelImpl::ReadAsWorker() {
    for (;;) {
        const ReadStatus status = ReadAndRoute(true, false);
        std::unique_lock<std::mutex> g(lock);
        if (readDone && status != ReadStatus::Closed && status != ReadStatus::Failed) {
            // A damaged payload ended reading meanwhile.
            reader = Reader::None;
            const std::string reason = closeReason;
            g.unlock();
            EndReading(reason);
            return;
        }
        if (status == ReadStatus::Closed || status == ReadStatus::Failed) {
            reader = Reader::None;
            g.unlock();
            EndReading(status == ReadStatus::Failed ? "protocol error" : "closed by peer");
            return;
        }
        if (inputPending && !paused) {
            inputPending = false;
            continue;
        }
        reader = Reader::None;
        inputPending = false;
        const bool again = status == ReadStatus::Budget;
        if (readerWanted) cv.notify_all();
        g.unlock();
        // The socket still holds input (its edge is spent): read it on a later turn.
        if (again && core) core->ScheduleRead(self);
        return;
    }
}

// Makes room after inEnd for the next read. Blocks are reused while no
// message points into them; a large frame grows its block as its bytes arrive.
void ChannelImpl::MakeRoom() {
    if (!block) {
        block = InputBlock::Create(kReadChunk);
        inStart = inEnd = 0;
        return;
    }
    const size_t unparsed = inEnd - inStart;
    // Bytes still missing of the frame at inStart (1 when its size is unknown).
    size_t need = 1;
    if (unparsed >= 4) {
        const size_t frame = 4 + size_t(ReadU32LE(block->data + inStart));
        if (frame > unparsed) need = frame - unparsed;
    }
    size_t capacity;
    if (!block->Shared()) {
        if (unparsed == 0) {
            inStart = inEnd = 0;
            if (block->capacity > kKeptInputBuffer) {
                // Give back what a large frame took.
                block->Release();
                block = InputBlock::Create(kReadChunk);
                return;
            }
        }
        size_t room = block->capacity - inEnd;
        if (room >= kReadChunk / 4 || room >= need) return;
        if (inStart > 0) {
            std::memmove(block->data, block->data + inStart, unparsed);
            inStart = 0;
            inEnd = unparsed;
            room = block->capacity - inEnd;
            if (room >= kReadChunk / 4 || room >= need) return;
        }
        capacity = std::min(std::max(block->capacity * 2, unparsed + kReadChunk),
                            unparsed + need + kReadChunk);
    } else {
        // Messages point at the bytes before inEnd; what follows is free.
        if (block->capacity - inEnd >= kSmallBlock / 4) return;
        capacity = unparsed + std::max(kSmallBlock, std::min(need, unparsed + kSmallBlock));
    }
    InputBlock* fresh = InputBlock::Create(capacity);
    if (unparsed) std::memcpy(fresh->data, block->data + inStart, unparsed);
    block->Release();
    block = fresh;
    inStart = 0;
    inEnd = unparsed;
}

ReadStatus ChannelImpl::ReadAndRoute(bool byWorker, bool blockFirst) {
    std::string error;
    ReadStatus status = ReadStatus::Open;
    size_t total = 0;
    // What the delivery queue may still take from this channel.
    size_t budgetMsgs, budgetBytes;
    const size_t maxMsgs = core->maxQueuedMessages, maxBytes = core->maxQueuedBytes;
    {
        std::lock_guard<std::mutex> g(lock);
        budgetMsgs = queuedMsgs < maxMsgs ? maxMsgs - queuedMsgs : 0;
        budgetBytes = queuedBytes < maxBytes ? maxBytes - queuedBytes : 0;
    }
    // Frames left unparsed by a pause come first.
    if (block && inEnd > inStart && !ParseFrames(budgetMsgs, budgetBytes, error))
        status = ReadStatus::Failed;
    bool first = true;
    while (status == ReadStatus::Open) {
        if (budgetMsgs == 0 || budgetBytes == 0) {
            status = ReadStatus::Paused;
            break;
        }
        MakeRoom();
        const size_t room = block->capacity - inEnd;
        const int flags = (blockFirst && first && blocking) ? 0 : MSG_DONTWAIT;
        first = false;
        ssize_t n = ::recv(fd, block->data + inEnd, room, flags);
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
        if (!ParseFrames(budgetMsgs, budgetBytes, error)) {
            status = ReadStatus::Failed;
            break;
        }
        // A short read means the socket is drained for now; the next edge
        // reports what arrives later (unless the edge that came already told
        // of the end of input, which only a read returning 0 shows).
        if (static_cast<size_t>(n) < room && !hangup) break;
        if (byWorker && total >= kWorkerReadBudget) {
            status = ReadStatus::Budget;
            break;
        }
    }
    // The queue filled up while frames were parsed: the rest waits.
    if ((status == ReadStatus::Open || status == ReadStatus::Budget) &&
        (budgetMsgs == 0 || budgetBytes == 0))
        status = ReadStatus::Paused;
    // A frame that has begun must be completed in time (not while paused: then
    // it is this side that does not read).
    if (status == ReadStatus::Open || status == ReadStatus::Budget) {
        if (inEnd > inStart) {
            if (partialSince.load() == 0) {
                const int64_t now = NowNs();
                partialSince.store(now);
                core->ScheduleSweep(Clock::now() +
                                    std::chrono::milliseconds(core->frameDeadlineMs.load()));
            }
        } else {
            partialSince.store(0);
        }
    } else if (status == ReadStatus::Paused) {
        partialSince.store(0);
    }
    // Frames that arrived before a close or a damaged frame are still delivered.
    if (!frames.empty() && !Route(byWorker, error)) status = ReadStatus::Failed;
    if (status == ReadStatus::Failed)
        PeerTrace(core.get(), 1, "protocol error, closing connection",
                  FormatString("channel %u: %s", id, error.c_str()));
    if (status == ReadStatus::Paused) {
        std::lock_guard<std::mutex> g(lock);
        // Delivery may have taken enough meanwhile; then there is no pause.
        if (!UnderResumeLocked()) {
            paused = true;
            PeerTrace(core.get(), 0, "peer sends faster than it is served, reading paused",
                      FormatString("channel %u, %zu messages queued", id, queuedMsgs));
        } else {
            status = ReadStatus::Budget;  // read on at once
        }
    }
    return status;
}

bool ChannelImpl::ParseFrames(size_t& budgetMsgs, size_t& budgetBytes, std::string& error) {
    while (inEnd - inStart >= 4 && budgetMsgs > 0 && budgetBytes > 0) {
        const uint32_t size = ReadU32LE(block->data + inStart);
        if (size > kMaxFrameSize) {
            error = FormatString("frame of %u bytes exceeds the limit of %u", size, kMaxFrameSize);
            return false;
        }
        if (size < kMinFrameBody) {
            error = FormatString("frame of %u bytes is too short", size);
            return false;
        }
        if (inEnd - inStart - 4 < size) break;
        frames.emplace_back();
        if (!DecodeFrame(block, inStart + 4, size, frames.back(), error)) {
            frames.pop_back();
            return false;
        }
        frameSizes.push_back(size);
        inStart += 4 + size;
        --budgetMsgs;
        budgetBytes -= std::min<size_t>(budgetBytes, size);
    }
    return true;
}

bool ChannelImpl::Route(bool byWorker, std::string& error) {
    std::vector<Entry>& entries = routed;  // reused: the steady path allocates nothing
    bool ok = true;
    {
        std::lock_guard<std::mutex> g(lock);
        bool woke = false;
        for (size_t i = 0; i < frames.size(); ++i) {
            cMsg& msg = frames[i];
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
                if (msg.Name().compare(0, sizeof kReservedPrefix - 1, kReservedPrefix) == 0) {
                    // Only the framework makes these; a peer's would be believed.
                    PeerTrace(core.get(), 1, "reserved message name from a peer, dropped",
                              FormatString("channel %u: %s", id, msg.Name().c_str()));
                    continue;
                }
                Waiter* match = nullptr;
                for (Waiter* w : waiters) {
                    if (w->done || *w->replyName != msg.Name()) continue;
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
            e.bytes = frameSizes[i];
            e.msg = std::move(msg);
            e.counted = true;
            ++queuedMsgs;
            queuedBytes += e.bytes;
            entries.push_back(std::move(e));
        }
        if (woke) cv.notify_all();
    }
    frames.clear();
    frameSizes.clear();
    if (!entries.empty() && !core->EnqueueAll(entries, !byWorker)) {
        std::lock_guard<std::mutex> g(lock);
        queuedMsgs = queuedBytes = 0;
    }
    entries.clear();
    return ok;
}

// ---- SendSync ----

bool ChannelImpl::SendSync(const cMsg& msg, cMsg& reply, unsigned timeoutMs,
                           const std::string& replyName) {
    Waiter w;
    w.replyName = &replyName;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!EncodeFor(*this, msg, w.id)) return false;
    const cSerializeBuffer& frame = EncodeBuffer();
    std::unique_lock<std::mutex> g(lock);
    if (fd < 0 || closing || readDone) return false;
    // Take the reading side before the request leaves, so that a quick answer
    // does not wake a worker first.
    bool reading = reader == Reader::None && !paused;
    if (reading) {
        reader = Reader::Waiter;
        UpdateMaskLocked();
    }
    waiters.push_back(&w);
    bool sent = WriteLocked(frame.Data(), frame.Size());
    bool ended = false;
    std::string endReason;
    while (sent && !w.done && fd >= 0 && !closing && Clock::now() < deadline) {
        if (!reading) {
            if (reader != Reader::None || paused || readDone) {
                ++readerWanted;
                cv.wait_until(g, deadline);
                --readerWanted;
                continue;
            }
            reader = Reader::Waiter;
            UpdateMaskLocked();
            reading = true;
        }
        g.unlock();
        ReadStatus status = WaitAsReader(w, deadline);
        g.lock();
        if (status == ReadStatus::Closed || status == ReadStatus::Failed) {
            ended = true;
            endReason = status == ReadStatus::Failed ? "protocol error" : "closed by peer";
            break;
        }
        if (status == ReadStatus::Paused) {
            // The queue is full: let go of the socket until delivery catches up.
            reader = Reader::None;
            reading = false;
            continue;
        }
        if (!w.done && Clock::now() < deadline) continue;
        break;  // answered, or out of time
    }
    if (reading) {
        reader = Reader::None;
        const bool pending = inputPending;
        inputPending = false;
        UpdateMaskLocked();
        if (pending && !ended && !paused && core) {
            g.unlock();
            core->ScheduleRead(self);
            g.lock();
        }
        cv.notify_all();
    }
    waiters.erase(std::remove(waiters.begin(), waiters.end(), &w), waiters.end());
    const bool ok = w.done && w.ok;
    if (!ended && readDone && reading) {
        ended = true;
        endReason = closeReason;
    }
    g.unlock();
    if (ended) EndReading(endReason);
    if (ok) reply = std::move(w.reply);
    return ok;
}

ReadStatus ChannelImpl::WaitAsReader(Waiter& w, Clock::time_point deadline) {
    for (;;) {
        bool wantOut;
        {
            std::lock_guard<std::mutex> g(lock);
            if (w.done || fd < 0) return ReadStatus::Open;
            wantOut = !out.empty();
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return ReadStatus::Open;
        const long long left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        if (blocking && !wantOut) {
            // Sleep in recv itself: one system call for the answer. The socket's
            // receive timeout is set only when it would let the wait overrun
            // the deadline by more than a little.
            const unsigned want = static_cast<unsigned>(std::min<long long>(left, INT_MAX / 2));
            if (recvTimeoutMs == 0 || recvTimeoutMs > want + 20) {
                timeval tv{};
                tv.tv_sec = want / 1000;
                tv.tv_usec = static_cast<suseconds_t>((want % 1000) * 1000);
                if (tv.tv_sec == 0 && tv.tv_usec == 0) tv.tv_usec = 1000;
                ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
                recvTimeoutMs = want;
            }
            ReadStatus status = ReadAndRoute(false, true);
            if (status != ReadStatus::Open && status != ReadStatus::Budget) return status;
            continue;
        }
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
            ReadStatus status = ReadAndRoute(false, false);
            if (status != ReadStatus::Open && status != ReadStatus::Budget) return status;
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
        reader = Reader::Worker;
    }
    Finalize(reason);
}

void ChannelImpl::EndReading(const std::string& reason) {
    {
        std::lock_guard<std::mutex> g(lock);
        if (fd < 0) return;
        // Waiters learn at once that no answer will come.
        for (Waiter* w : waiters) w->done = true;
        cv.notify_all();
        if (!readDone) {
            readDone = true;
            closeReason = reason;
        }
        // A waiter asleep in recv wakes up and lets go of the socket.
        if (reader == Reader::Waiter) ::shutdown(fd, SHUT_RD);
        // The messages read before are answered first; the last one delivered
        // closes the channel (see Delivered).
        if (queuedMsgs > 0 || reader != Reader::None) return;
        reader = Reader::Worker;
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
        // Answers still queued get one last chance to leave.
        if (!closing) FlushLocked();
        if (core && watched) ::epoll_ctl(core->epfd, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        fd = -1;
        closing = true;
        readDone = true;
        out.clear();
        outOffset = outBytes = 0;
        for (Waiter* w : waiters) w->done = true;  // ok stays false
        cv.notify_all();
        owner = std::move(core);
        announceClose = served && greeted;
        if (block) block->Release();
        block = nullptr;
        inStart = inEnd = 0;
        partialSince.store(0);
        reader = Reader::None;
    }
    if (owner)
        PeerTrace(owner.get(), 0, "connection closed",
                  FormatString("channel %u: %s", id, reason.c_str()));
    if (owner) {
        owner->RemoveChannel(*this);
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

const cPeerCredentials& cChannel::Credentials() const {
    return m_impl->creds;
}

uint32_t cChannel::Id() const {
    return m_impl->id;
}

bool cChannel::IsOpen() const {
    std::lock_guard<std::mutex> g(m_impl->lock);
    return m_impl->fd >= 0 && !m_impl->closing && !m_impl->readDone;
}

}  // namespace kora
