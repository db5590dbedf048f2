// A data server in a child process, for end-to-end tests over the Unix socket
// transport.
//
// The child serves "e2e-data" in the runtime directory that KORA_RUNTIME_DIR
// names when it is forked, with a cDataServer over an in-memory host. Tests
// read the calls its host recorded through the protocol itself, as a flag
// (see ControlHost in server_process.cpp).
//
// Fork only while the calling process runs a single thread: construct every
// ServerProcess of a test before any service of the test exists.
#pragma once

#include <sys/types.h>

#include <string>

namespace e2e {

// Name of the served data-server service.
constexpr const char* kServerName = "e2e-data";

struct ServerOptions {
    // The child waits for Open() before it builds its service.
    bool gated = false;
};

class ServerProcess {
  public:
    explicit ServerProcess(ServerOptions options = ServerOptions());
    // Kills and reaps the child.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // False when the fork failed or the calling process had more than one thread.
    bool Forked() const { return m_pid > 0; }
    const std::string& Error() const { return m_error; }
    // Lets a gated child start serving.
    void Open();
    // Waits (bounded) until the child serves; false when it failed or died.
    bool WaitReady(int timeoutMs = 15000);
    // SIGKILL, then waits for the child; the connection of every client drops.
    void Kill();

  private:
    pid_t m_pid = -1;
    int m_ready = -1;  // read end; the child writes one byte once it serves
    int m_gate = -1;   // write end; one byte opens a gated child
    std::string m_error;
};

// Number of threads of this process (from /proc), 0 when unknown.
int ThreadCount();

}  // namespace e2e
