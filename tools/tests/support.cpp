#include "support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tessel/jsonfactory.h"

namespace toolstest {

TempDir::TempDir() {
    char pattern[] = "/tmp/tessel-tools-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path = made ? made : "";
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
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

Json::Value ReadDocumentFile(const std::string& path) {
    Json::Value root;
    std::string error;
    EXPECT_TRUE(tessel::tools::ParseDocumentFile(ReadFile(path), root, error)) << path << error;
    return root;
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

// ---- child processes ----

Child::Child(const std::vector<std::string>& args, const std::string& input, uid_t uid) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        // Only async-signal-safe calls; raw system calls, as the libc wrappers
        // synchronise threads this child lacks.
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (uid != uid_t(-1) && (::syscall(SYS_setgroups, 0, nullptr) != 0 ||
                                 ::syscall(SYS_setresgid, uid, uid, uid) != 0 ||
                                 ::syscall(SYS_setresuid, uid, uid, uid) != 0))
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    // Inputs are small: they fit the pipe, so writing first cannot block.
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0) {
    }
    ::close(in[1]);
    m_fds[0] = out[0];
    m_fds[1] = err[0];
}

Child::~Child() {
    if (m_pid > 0) Stop(SIGKILL);
    for (int fd : m_fds)
        if (fd >= 0) ::close(fd);
}

bool Child::Read(const std::function<bool()>& done, int ms) {
    while (!done()) {
        pollfd fds[2] = {{m_fds[0], POLLIN, 0}, {m_fds[1], POLLIN, 0}};
        if (::poll(fds, 2, ms) <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char chunk[4096];
            ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                (i ? err : out).append(chunk, size_t(n));
            } else {
                ::close(m_fds[i]);
                m_fds[i] = -1;
            }
        }
    }
    return true;
}

bool Child::WaitForLine(const std::string& text, int timeoutMs) {
    return Read([&] { return out.find(text) != std::string::npos; }, timeoutMs);
}

int Child::Stop(int signal) {
    if (m_pid <= 0) return -1;
    if (signal) ::kill(m_pid, signal);
    const bool ended = Read([this] { return m_fds[0] < 0 && m_fds[1] < 0; }, 60000);
    if (!ended) ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    if (!ended) return -1;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunResult RunProgram(const std::vector<std::string>& args, const std::string& input, uid_t uid) {
    Child child(args, input, uid);
    const int code = child.Stop(0);
    return {code, child.out, child.err};
}

}  // namespace toolstest
