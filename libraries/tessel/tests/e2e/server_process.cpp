#include "server_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "memory_host.h"

namespace e2e {

namespace {

// The in-memory host of the child, plus the commands tests send as flags.
//
// SetFlag("ctl:<command>", value), answered with the command's result:
//   clear                 forget the recorded calls and dump ends          -> 1
//   put                   store `value` (an item) without notifying anyone -> 1
//   result:<n>            operations with a result code answer n          -> 1
//   snapshot-result:<n>   CreateSnapshot answers n                         -> 1
//   rename-also:<p>,<p>   further paths a successful rename reports        -> 1
//   reboot                SendRebootNotification()                         -> 1
//   dump:<path>           SendDumpRequest(path)        -> number of clients asked
//   snapshot-resp:<n>     SendSnapshotResp(n)                              -> 1
//   notify:<path>         NotifyClients(path)                              -> 1
//   anything else                                                          -> -1
// GetFlag("ctl:<name>") answers, without being recorded:
//   calls          the recorded host calls, one per line (s_string)
//   dump-ends      one "pending=<n>" line per DumpFinished, n being the
//                  clients that had not answered (s_string)
//   connected      channels that announced themselves (s_uint32)
//   snapshot-path  path of the pending snapshot request, empty when none (s_string)
// Every other flag is an ordinary flag of the in-memory host.
class ControlHost : public testhost::MemoryHost {
  public:
    tessel::cDataServer* server = nullptr;

    s_int8 SetFlag(const s_string& name, kora::ISerialize* value) override {
        if (name.compare(0, 4, "ctl:") != 0) return MemoryHost::SetFlag(name, value);
        return Command(name.substr(4), value);
    }

    kora::ISerialize* GetFlag(const s_string& name) override {
        if (name == "ctl:calls") return kora::New<kora::s_string>(Lines(Calls()));
        if (name == "ctl:dump-ends") return kora::New<kora::s_string>(Lines(m_dumpEnds));
        if (name == "ctl:connected")
            return kora::New<kora::s_uint32>(uint32_t(server->ConnectedChannels().size()));
        if (name == "ctl:snapshot-path") return kora::New<kora::s_string>(server->SnapshotPath());
        return MemoryHost::GetFlag(name);
    }

    void DumpFinished() override {
        MemoryHost::DumpFinished();
        m_dumpEnds.push_back(
            kora::FormatString("pending=%zu", server->DumpPendingChannels().size()));
    }

  private:
    static std::string Lines(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& line : lines) text += line + "\n";
        return text;
    }

    s_int8 Command(const std::string& command, kora::ISerialize* value) {
        const size_t colon = command.find(':');
        const std::string verb = command.substr(0, colon);
        const std::string arg = colon == std::string::npos ? "" : command.substr(colon + 1);
        const int number = std::atoi(arg.c_str());
        if (verb == "clear") {
            ClearCalls();
            m_dumpEnds.clear();
        } else if (verb == "put") {
            auto* item = dynamic_cast<tessel::cDBItem*>(value);
            if (!item) return 0;
            Put(*item);
        } else if (verb == "result") {
            result = static_cast<int8_t>(number);
        } else if (verb == "snapshot-result") {
            snapshotResult = static_cast<int8_t>(number);
        } else if (verb == "rename-also") {
            renameAlsoChanged.clear();
            for (size_t start = 0; start <= arg.size();) {
                size_t comma = arg.find(',', start);
                if (comma == std::string::npos) comma = arg.size();
                if (comma > start) renameAlsoChanged.insert(arg.substr(start, comma - start));
                start = comma + 1;
            }
        } else if (verb == "reboot") {
            server->SendRebootNotification();
        } else if (verb == "dump") {
            server->SendDumpRequest(arg);
            return static_cast<int8_t>(server->DumpPendingChannels().size());
        } else if (verb == "snapshot-resp") {
            server->SendSnapshotResp(static_cast<int8_t>(number));
        } else if (verb == "notify") {
            server->NotifyClients(arg);
        } else {
            return -1;
        }
        return 1;
    }

    std::vector<std::string> m_dumpEnds;
};

// Registered ahead of cDataServer: refuses the client's own log-unit
// registration, which makes a connecting cDataClient give up.
// The child's whole life; never returns into the test framework.
[[noreturn]] void Serve(pid_t parent, int readyFd, int gateFd) {
    // Never outlive the test process, even when it is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(3);
    if (gateFd >= 0) {
        char go = 0;
        ssize_t n;
        do n = ::read(gateFd, &go, 1);
        while (n < 0 && errno == EINTR);
        if (n != 1) ::_exit(0);  // the test ended without opening the gate
    }
    kora::cService service(kServerName);
    ControlHost host;
    tessel::cDataServer server(&service, &host);
    host.server = &server;

    // What a client fetches on connecting.
    tessel::cDBFeatureList::AddFeature("SerialRS232");
    host.Put(tessel::cDBFeatureList());

    if (!service.Serve() || !service.Start()) ::_exit(2);
    const char ready = 1;
    if (::write(readyFd, &ready, 1) != 1) ::_exit(4);
    ::close(readyFd);
    for (;;) ::pause();  // until the test kills this process
}

}  // namespace

int ThreadCount() {
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) return 0;
    int count = 0;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
    return count;
}

ServerProcess::ServerProcess(ServerOptions options) {
    if (ThreadCount() != 1) {
        m_error = "the test process runs more than one thread; forking is unsafe";
        return;
    }
    int ready[2];
    int gate[2] = {-1, -1};
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        m_error = "pipe failed";
        return;
    }
    if (options.gated && ::pipe2(gate, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        m_error = "pipe failed";
        return;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        if (gate[1] >= 0) ::close(gate[1]);
        Serve(parent, ready[1], gate[0]);
    }
    ::close(ready[1]);
    if (gate[0] >= 0) ::close(gate[0]);
    m_ready = ready[0];
    m_gate = gate[1];
    if (pid < 0) {
        m_error = "fork failed";
        return;
    }
    m_pid = pid;
}

ServerProcess::~ServerProcess() {
    Kill();
    if (m_ready >= 0) ::close(m_ready);
    if (m_gate >= 0) ::close(m_gate);
}

void ServerProcess::Open() {
    if (m_gate < 0) return;
    const char go = 1;
    if (::write(m_gate, &go, 1) != 1) m_error = "cannot open the gate";
    ::close(m_gate);
    m_gate = -1;
}

bool ServerProcess::WaitReady(int timeoutMs) {
    if (m_pid <= 0 || m_ready < 0) return false;
    pollfd p{m_ready, POLLIN, 0};
    int n;
    do n = ::poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    char byte = 0;
    const bool ok = n == 1 && ::read(m_ready, &byte, 1) == 1;
    ::close(m_ready);
    m_ready = -1;
    if (!ok) m_error = "the server child did not start serving";
    return ok;
}

void ServerProcess::Kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

}  // namespace e2e
