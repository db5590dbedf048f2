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
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

bool WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// A default item of the JSON type, named and placed, with `edit` applied to
// its document's "Data" and loaded back through the JSON factory; null when
// the result is refused.
kora::Ref<tessel::cDBItem> MakeItem(const std::string& type, const std::string& dir,
                                    const std::string& name,
                                    const std::function<void(Json::Value&)>& edit = nullptr);
// The same item with `edit` applied to its "Data".
kora::Ref<tessel::cDBItem> Edited(tessel::cDBItem& item,
                                  const std::function<void(Json::Value&)>& edit);

// A document file of `content` holding the documents.
std::string DocumentFile(const std::vector<Json::Value>& items);

// ---- child processes ----

struct RunResult {
    int code = -1;  // exit code; 128 + signal when killed
    std::string out, err;
};

// Runs a program to its end with `input` on stdin. With `uid` other than -1
// the child runs as that user and group (the caller must be root).
RunResult RunProgram(const std::vector<std::string>& args, const std::string& input = "",
                     uid_t uid = uid_t(-1), gid_t gid = gid_t(-1));

// A program left running, its stdout readable line by line.
class Child {
  public:
    explicit Child(const std::vector<std::string>& args);
    ~Child();  // SIGKILL and reap, if still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return m_pid; }
    // Waits (bounded) for a line of stdout that contains `text`; the lines
    // read so far stay in Output().
    bool WaitForLine(const std::string& text, int timeoutMs = 10000);
    const std::string& Output() const { return m_output; }
    // Sends the signal and reaps the child; its exit code (128 + signal when
    // it died of one), -1 when it did not end in time.
    int Stop(int signal);

  private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_output;
};

}  // namespace toolstest
