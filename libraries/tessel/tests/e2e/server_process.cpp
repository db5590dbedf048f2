#include "server_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "memory_host.h"

namespace e2e {

namespace {

// The in-memory host of the child. GetFlag("ctl:calls") answers the calls it
// recorded, one per line, without recording that; every other flag is an
// ordinary flag of the in-memory host.
class ControlHost : public testhost::MemoryHost {
  public:
    kora::Ref<kora::ISerialize> GetFlagRef(const s_string& name) override {
        if (name != "ctl:calls") return MemoryHost::GetFlagRef(name);
        std::string text;
        for (const auto& line : Calls()) text += line + "\n";
        return kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_string>(text));
    }
};

// The child's whole life; never returns into the test framework.
[[noreturn]] void Serve(pid_t parent, int gateFd) {
    // Never outlive the test process, even when it is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(3);
    if (gateFd >= 0) {
        char go = 0;
        ssize_t n;
        do n = ::read(gateFd, &go, 1);
        while (n < 0 && errno == EINTR);
        if (n != 1) ::_exit(0);  // the test ended without opening the gate
        ::close(gateFd);
    }
    kora::cService service(kServerName);
    ControlHost host;
    tessel::cDataServer server(&service, &host);

    // What a client fetches on connecting.
    tessel::cDBFeatureList::AddFeature("SerialRS232");
    host.Put(tessel::cDBFeatureList());

    if (!service.Serve() || !service.Start()) ::_exit(2);
    for (;;) ::pause();  // until the test kills this process
}

// Number of threads of this process (from /proc), 0 when unknown.
int ThreadCount() {
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) return 0;
    int count = 0;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
    return count;
}

}  // namespace

ServerProcess::ServerProcess(bool gated) {
    if (ThreadCount() != 1) {
        m_error = "the test process runs more than one thread; forking is unsafe";
        return;
    }
    int gate[2] = {-1, -1};
    if (gated && ::pipe2(gate, O_CLOEXEC) != 0) {
        m_error = "pipe failed";
        return;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (gate[1] >= 0) ::close(gate[1]);
        Serve(parent, gate[0]);
    }
    if (gate[0] >= 0) ::close(gate[0]);
    m_gate = gate[1];
    if (pid < 0) m_error = "fork failed";
    m_pid = pid;
}

ServerProcess::~ServerProcess() {
    Kill();
    if (m_gate >= 0) ::close(m_gate);
}

void ServerProcess::Open() {
    if (m_gate < 0) return;
    const char go = 1;
    if (::write(m_gate, &go, 1) != 1) m_error = "cannot open the gate";
    ::close(m_gate);
    m_gate = -1;
}

void ServerProcess::Kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

}  // namespace e2e
