// Helpers of the tools' tests: temporary directories, item documents, and
// the programs run as child processes (optionally as another user).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "documents.h"

namespace toolstest {

// A fresh directory, removed with everything in it on destruction.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

bool WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);
// The document file at `path`, parsed; a failure is reported to the test.
Json::Value ReadDocumentFile(const std::string& path);

// A default item of the JSON type, named and placed, with `edit` applied to
// its document's "Data" and loaded back through the JSON factory; null when
// the result is refused.
kora::Ref<tessel::cDBItem> MakeItem(const std::string& type, const std::string& dir,
                                    const std::string& name,
                                    const std::function<void(Json::Value&)>& edit = nullptr);
// The same item with `edit` applied to its "Data".
kora::Ref<tessel::cDBItem> Edited(tessel::cDBItem& item,
                                  const std::function<void(Json::Value&)>& edit);

// ---- child processes ----

// A program run as a child process with `input` on its stdin, its stdout and
// stderr collected. With `uid` other than -1 it runs as that user and group
// (the caller must be root).
class Child {
  public:
    explicit Child(const std::vector<std::string>& args, const std::string& input = "",
                   uid_t uid = uid_t(-1));
    ~Child();  // SIGKILL and reap, if still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Waits (bounded) until stdout contains `text`.
    bool WaitForLine(const std::string& text, int timeoutMs = 10000);
    // Sends the signal (none with 0), reads the output to its end and reaps
    // the child: its exit code, 128 + signal when it died of one, -1 when it
    // did not end within a minute.
    int Stop(int signal);
    std::string out, err;

  private:
    // Reads stdout and stderr until `done` holds, or nothing came for `ms`.
    bool Read(const std::function<bool()>& done, int ms);
    pid_t m_pid = -1;
    int m_fds[2] = {-1, -1};
};

struct RunResult {
    int code = -1;
    std::string out, err;
};

// Runs a program to its end.
RunResult RunProgram(const std::vector<std::string>& args, const std::string& input = "",
                     uid_t uid = uid_t(-1));

}  // namespace toolstest
