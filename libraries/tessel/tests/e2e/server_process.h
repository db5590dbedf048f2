// A data server in a child process, for end-to-end tests over the Unix socket
// transport.
//
// The child serves "e2e-data" in the runtime directory that KORA_RUNTIME_DIR
// names when it is forked, with a cDataServer over an in-memory host. Tests
// read the calls its host recorded through the protocol itself, as a flag
// (see ControlHost in server_process.cpp). A client's own retries wait for the
// child to serve.
//
// Fork only while the calling process runs a single thread: construct every
// ServerProcess of a test before any service of the test exists.
#pragma once

#include <sys/types.h>

#include <string>

namespace e2e {

// Name of the served data-server service.
constexpr const char* kServerName = "e2e-data";

class ServerProcess {
  public:
    // A gated child waits for Open() before it builds its service.
    explicit ServerProcess(bool gated = false);
    // Kills and reaps the child.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // False, with the reason in Error(), when the fork failed or was unsafe.
    bool Forked() const { return m_pid > 0; }
    const std::string& Error() const { return m_error; }
    // Lets a gated child start serving.
    void Open();
    // SIGKILL, then waits for the child; the connection of every client drops.
    void Kill();

  private:
    pid_t m_pid = -1;
    int m_gate = -1;  // write end; one byte opens a gated child
    std::string m_error;
};

}  // namespace e2e
