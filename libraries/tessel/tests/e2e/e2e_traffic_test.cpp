// What the server sends on its own, across processes: reboot notifications
// and dump cycles.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "e2e_support.h"

using namespace tessel;
using e2e::Client;
using e2e::E2E;
using e2e::RawClient;
using e2e::ServerProcess;
using e2e::Unit;
using Strings = std::vector<std::string>;

namespace {

// Waits until the server counts `count` announced connections.
bool ServerSees(Client& c, size_t count) {
    return e2e::WaitUntil([&] { return c.Flag("connected") == std::to_string(count); });
}

bool DumpEnded(Client& c) {
    return e2e::WaitUntil([&] { return !c.Flag("dump-ends").empty(); }, 20000);
}

}  // namespace

TEST_F(E2E, RebootRequestAndNotification) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client admin("e2e-admin");
    ASSERT_TRUE(admin.WaitConnected());
    Client plain;  // after the first has connected, see Client
    ASSERT_TRUE(plain.WaitConnected());
    ASSERT_TRUE(ServerSees(admin, 2));
    admin.Clear();

    // The host learns who asked: the identity each client announced (the
    // client's own name when it announced none).
    admin->Reboot();
    plain->Reboot();
    ASSERT_TRUE(e2e::WaitUntil([&] { return admin.Calls().size() >= 2; }));
    Strings calls = admin.Calls();
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, (Strings{"Reboot dataClient", "Reboot e2e-admin"}));
    EXPECT_EQ(admin.events.Count("reboot"), 0u);

    // The notification reaches every connected client.
    ASSERT_EQ(plain.Ctl("reboot"), 1);
    EXPECT_TRUE(admin.events.WaitCount("reboot", 1));
    EXPECT_TRUE(plain.events.WaitCount("reboot", 1));
    EXPECT_EQ(admin.events.Seen(), (Strings{"connect", "reboot"}));
    EXPECT_EQ(plain.events.Seen(), (Strings{"connect", "reboot"}));
}

TEST_F(E2E, DumpCycleEndsWithTheLastAnswer) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client a;
    ASSERT_TRUE(a.WaitConnected());
    Client b;
    ASSERT_TRUE(b.WaitConnected());
    ASSERT_TRUE(ServerSees(a, 2));
    a.Clear();

    EXPECT_EQ(a.Ctl("dump:/var/dump/e2e"), 2);  // clients asked
    EXPECT_TRUE(a.events.WaitCount("dump /var/dump/e2e", 1));
    EXPECT_TRUE(b.events.WaitCount("dump /var/dump/e2e", 1));
    ASSERT_TRUE(DumpEnded(a));
    // Ended by the answers: nobody was left pending when it finished.
    EXPECT_EQ(a.Flag("dump-ends"), "pending=0\n");
    EXPECT_EQ(a.Calls(), Strings{"DumpFinished"});
}
