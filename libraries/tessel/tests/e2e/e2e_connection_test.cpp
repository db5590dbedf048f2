// The client's connection to a data server in another process: the loss of
// the server and a new one on the same socket.
#include <gtest/gtest.h>

#include "e2e_support.h"

using namespace tessel;
using e2e::Client;
using e2e::E2E;
using e2e::Recorder;
using e2e::ServerOptions;
using e2e::ServerProcess;
using Strings = std::vector<std::string>;

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
        ASSERT_TRUE(c.events.WaitFor(std::string("end ") + path)) << path;
    }

    first.Kill();
    ASSERT_TRUE(c.events.WaitFor("close"));
    Strings closing;
    for (const auto& note : c.events.Seen())
        if (note.compare(0, 8, "deleted ") == 0 || note == "close") closing.push_back(note);
    EXPECT_EQ(closing, (Strings{"deleted /Config/A/", "deleted /Config/B/", "close"}));
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
    EXPECT_EQ(c.Calls(), (Strings{"SyncCollection /Log/Units/", "GetItem /Features/FeatureList"}));
    ASSERT_TRUE(c->RegisterCollection(new Recorder("/Config/A/", c.events)));
    EXPECT_TRUE(c.events.WaitFor("end /Config/A/", 2));
}
