#include "support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tessel/jsonfactory.h"

namespace toolstest {

TempDir::TempDir() {
    char pattern[] = "/tmp/tessel-tools-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    m_path = made ? made : "";
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

kora::Ref<tessel::cDBItem> MakeItem(const std::string& type, const std::string& dir,
                                    const std::string& name,
                                    const std::function<void(Json::Value&)>& edit) {
    auto item = kora::Ref<tessel::cDBItem>::Adopt(tessel::cJsonFactory::CreateObject(type));
    if (!item) return item;
    item->SetDir(dir);
    item->SetName(name);
    return Edited(*item, edit);
}

kora::Ref<tessel::cDBItem> Edited(tessel::cDBItem& item,
                                  const std::function<void(Json::Value&)>& edit) {
    Json::Value document = tessel::tools::ItemDocument(item, false);
    if (edit) edit(document["Data"]);
    return tessel::tools::LoadDocument(document).item;
}

std::string DocumentFile(const std::vector<Json::Value>& items) {
    Json::Value root = tessel::tools::NewDocumentFile("configuration", "");
    root["Items"] = Json::Value(Json::arrayValue);
    for (const auto& item : items) root["Items"].append(item);
    return tessel::StyledJson(root);
}

// ---- child processes ----

namespace {

// Forks and execs; the child gets the pipe ends as stdin/stdout/stderr (-1
// leaves a stream as it is) and, with a uid, drops to that user. Only
// async-signal-safe calls run between fork and exec.
pid_t Launch(const std::vector<std::string>& args, int in, int out, int err, uid_t uid, gid_t gid) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (in >= 0) ::dup2(in, STDIN_FILENO);
    if (out >= 0) ::dup2(out, STDOUT_FILENO);
    if (err >= 0) ::dup2(err, STDERR_FILENO);
    if (uid != uid_t(-1)) {
        // Raw system calls: the libc wrappers synchronise threads this child lacks.
        if (::syscall(SYS_setgroups, 0, nullptr) != 0 ||
            ::syscall(SYS_setresgid, gid, gid, gid) != 0 ||
            ::syscall(SYS_setresuid, uid, uid, uid) != 0)
            ::_exit(126);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

int Decode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& args, const std::string& input, uid_t uid,
                     gid_t gid) {
    RunResult result;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return result;
    pid_t pid = Launch(args, in[0], out[1], err[1], uid, gid);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    // Inputs are small: they fit the pipe, so writing first cannot block.
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0) {
    }
    ::close(in[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    for (int open = 2; open > 0;) {
        if (::poll(fds, 2, 60000) <= 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char chunk[4096];
            ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0) ::close(fd.fd);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid) result.code = Decode(status);
    return result;
}

Child::Child(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC)) return;
    m_pid = Launch(args, -1, out[1], -1, uid_t(-1), gid_t(-1));
    ::close(out[1]);
    m_out = out[0];
}

Child::~Child() {
    if (m_pid > 0) Stop(SIGKILL);
    if (m_out >= 0) ::close(m_out);
}

bool Child::WaitForLine(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_output.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd fd = {m_out, POLLIN, 0};
        if (left <= 0 || ::poll(&fd, 1, static_cast<int>(left)) <= 0) return false;
        char chunk[4096];
        ssize_t n = ::read(m_out, chunk, sizeof chunk);
        if (n <= 0) return false;
        m_output.append(chunk, static_cast<size_t>(n));
    }
    return true;
}

int Child::Stop(int signal) {
    if (m_pid <= 0) return -1;
    ::kill(m_pid, signal);
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return Decode(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return -1;
}

}  // namespace toolstest
