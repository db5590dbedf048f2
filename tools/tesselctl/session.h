// One tesselctl run: the connection to the data server, what the command line
// asked for, and how results reach stdout, stderr and the exit code.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "kora/kora.h"
#include "tessel/tessel.h"

namespace tesselctl {

// Exit codes: the contract scripts rely on.
enum Exit : int {
    kDone = 0,
    kRefused = 1,   // the server (or the check before sending) refused
    kUsage = 2,     // the command line is wrong
    kNoServer = 3,  // no server answered, or the connection was lost
};

// Options that apply to every subcommand.
struct cGlobal {
    std::string service = tessel::kDataServerService;
    double wait = 0;  // seconds to wait for a server that is not up yet
    bool json = false;
    bool showSecrets = false;
};

class cSession : public tessel::IDataClient {
  public:
    explicit cSession(const cGlobal& global);
    ~cSession();
    cSession(const cSession&) = delete;
    cSession& operator=(const cSession&) = delete;

    // Connects to the server; false (after a message) when none answered.
    bool Connect();
    tessel::cDataClient& Client() { return *m_client; }
    const cGlobal& Global() const { return m_global; }

    // A request gave no useful answer: kNoServer when the connection is gone
    // (with a message), otherwise kRefused after `message` and whatever the
    // server logged about it since `since`.
    int Refused(const std::string& message, const kora::cTime& since);
    // Prints the server's warnings since `since` to stderr.
    void ServerReasons(const kora::cTime& since);
    // Makes sure the server has handled everything sent before (the log and
    // reboot requests get no answer of their own).
    bool Barrier();

    // Called on the client's delivery thread after each sync of a registered
    // collection, before it commits.
    std::function<void(tessel::cDBCollection*)> onSynced;

    // ---- IDataClient ----
    void OnDataConnect(tessel::cDataClient*) override;
    void OnDataClose(tessel::cDataClient*) override;
    void OnCollectionSynced(tessel::cDataClient*, tessel::cDBCollection* collection) override;
    void OnRebootNotification(tessel::cDataClient*) override {}
    bool OnDumpRequest(tessel::cDataClient*, kora::s_string&) override { return true; }

    // Waits until `done` holds or the connection is lost, at most `ms`
    // (negative: no limit) and while `keepGoing` holds.
    bool WaitFor(const std::function<bool()>& done, int ms,
                 const std::function<bool()>& keepGoing = nullptr);
    bool Connected();

  private:
    cGlobal m_global;
    std::unique_ptr<kora::cService> m_service;
    std::unique_ptr<tessel::cDataClient> m_client;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_connected = false;
    bool m_closed = false;
};

// ---- output ----

// Styled JSON on stdout.
void PrintJson(const Json::Value& value);
// One line of compact JSON.
std::string CompactJson(const Json::Value& value);

}  // namespace tesselctl
