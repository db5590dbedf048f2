// The client's connection to a data server in another process: the connect
// sequence, the loss of the server and a new one on the same socket, a server
// that refuses the client, and the log levels the server sets for the client.
#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e_support.h"

using namespace tessel;
using e2e::Client;
using e2e::E2E;
using e2e::RawClient;
using e2e::Recorder;
using e2e::ServerOptions;
using e2e::ServerProcess;
using e2e::Unit;
using Strings = std::vector<std::string>;

namespace {

const Strings kConnectCalls = {"SyncCollection /Log/Units/", "GetItem /Features/FeatureList"};

// The notes of deleted collections and closed connections, in order.
Strings Closing(Client& c) {
    Strings out;
    for (const auto& note : c.events.Seen())
        if (note.compare(0, 8, "deleted ") == 0 || note == "close") out.push_back(note);
    return out;
}

// The Log calls among the host's calls.
Strings LogCalls(Client& c) {
    Strings out;
    for (const auto& call : c.Calls())
        if (call.compare(0, 4, "Log ") == 0) out.push_back(call);
    return out;
}

}  // namespace
TEST_F(E2E, LosingTheServerDeletesCollectionsAndANewServerIsJoined) {
    // Both children are forked before this process starts any thread; the
    // second one serves only when opened.
    ServerProcess first;
    ServerOptions gated;
    gated.gated = true;
    ServerProcess second(gated);
    ASSERT_TRUE(first.WaitReady()) << first.Error();
    ASSERT_TRUE(second.Forked()) << second.Error();
    Client c;
    ASSERT_TRUE(c.WaitConnected());
    for (const char* path : {"/Config/A/", "/Config/B/"}) {
        ASSERT_TRUE(c->RegisterCollection(new Recorder(path, c.events))) << path;
        ASSERT_TRUE(c.events.WaitCount(std::string("end ") + path, 1)) << path;
    }

    first.Kill();
    ASSERT_TRUE(c.events.WaitCount("close", 1));
    EXPECT_EQ(Closing(c), (Strings{"deleted /Config/A/", "deleted /Config/B/", "close"}));
    c.WithCollection("/Config/A/", [](cDBCollection* found) { EXPECT_EQ(found, nullptr); });
    EXPECT_FALSE(c->IsConnected());
    // Without a server, requests fail at once with their failure values.
    EXPECT_EQ(c->DeleteItem("/Config/A/x"), 0);
    EXPECT_EQ(c->GetItem("/Features/FeatureList"), nullptr);

    // The client keeps trying and joins the next server on the same socket,
    // going through the whole connect sequence again.
    second.Open();
    ASSERT_TRUE(second.WaitReady()) << second.Error();
    ASSERT_TRUE(c.WaitConnected(2));
    EXPECT_EQ(c.Calls(), kConnectCalls);
    ASSERT_TRUE(c->RegisterCollection(new Recorder("/Config/A/", c.events)));
    EXPECT_TRUE(c.events.WaitCount("end /Config/A/", 2));
}
TEST_F(E2E, LogLevelFilterFollowsTheServersLogUnits) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client c;
    ASSERT_TRUE(c.WaitConnected());
    auto level = [&](const std::string& unit) {
        kora::cDispatchLock g = c.service.LockDispatch();
        const auto& units = c->GetLogUnits().GetUnits();
        auto it = units.find(unit);
        return it == units.end() ? -1 : int(it->second.GetLevel());
    };
    const std::string peer = c.service.Name().substr(0, cDBLogItem::kMaxPeer);

    ASSERT_EQ(c->SetItem(Unit("/Log/Units/", "E2E", 2).get(), true), 1);
    ASSERT_TRUE(e2e::WaitUntil([&] { return level("E2E") == 2; }));
    c.Clear();
    c->Log("E2E", 0, "Test", "below", 1);
    c->Log("E2E", 1, "Test", "below", 1);
    c->Log("E2E", 2, "Test", "at", 1);
    c->Log("E2E", 4, "Test", "above", 1);
    c->Log("OTHER", 0, "Test", "unconfigured", 1);
    EXPECT_EQ(LogCalls(c), (Strings{"Log E2E 2 Test at||" + peer + "||1",
                                    "Log E2E 4 Test above||" + peer + "||1",
                                    "Log OTHER 0 Test unconfigured||" + peer + "||1"}));

    // A sync without the unit lifts its filter.
    ASSERT_EQ(c->DeleteItem("/Log/Units/E2E"), 1);
    ASSERT_TRUE(e2e::WaitUntil([&] { return level("E2E") == -1; }));
    c.Clear();
    c->Log("E2E", 1, "Test", "unfiltered", 1);
    EXPECT_EQ(LogCalls(c), Strings{"Log E2E 1 Test unfiltered||" + peer + "||1"});
}
