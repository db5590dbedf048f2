// The parent's side of the end-to-end tests: a fixture that gives every test
// its own runtime directory and checks that no framework object outlives it,
// and a cDataClient on a service of its own that reads what the server child's
// host recorded (see server_process.h).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_dataserver.h"
#include "server_process.h"

namespace e2e {

using fakeserver::Recorder;

// One cDataClient on a service of its own, connected to the server child.
class Client {
  public:
    Client();
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    tessel::cDataClient* operator->() { return client.get(); }
    bool WaitConnected(size_t count = 1) { return events.WaitFor("connect", count); }

    // The host calls the server recorded so far.
    std::vector<std::string> Calls();
    // Runs `read` on the collection registered at `path` (null when none),
    // holding the client's dispatch lock so no sync runs meanwhile.
    void WithCollection(const std::string& path,
                        const std::function<void(tessel::cDBCollection*)>& read);

    fakeserver::Events events;
    kora::cService service;
    std::unique_ptr<tessel::cDataClient> client;
};

// Every test gets a runtime directory of its own and must leave no framework
// object alive once its clients and services are gone.
class E2E : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

  private:
    std::string m_dir;
    size_t m_live = 0;
};

}  // namespace e2e
