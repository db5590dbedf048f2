// End to end: a cDataClient in this process against a data server in a child
// process (see server_process.h) over the Unix socket transport. Every test
// gets a runtime directory of its own and must leave no framework object
// alive once its clients and services are gone.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "fake_dataserver.h"
#include "server_process.h"
#include "tessel/collections.h"

using namespace tessel;
using e2e::ServerProcess;
using fakeserver::Recorder;
using Strings = std::vector<std::string>;

namespace {

// One cDataClient on a service of its own, connected to the server child.
struct Client {
    Client() : service(fakeserver::UniqueName("e2e-client")) {
        client.reset(new cDataClient(&service, &events, 0, e2e::kServerName));
        EXPECT_TRUE(service.Start());
        client->Start();
    }
    ~Client() {
        client.reset();
        service.Stop();
    }
    cDataClient* operator->() { return client.get(); }
    bool WaitConnected(size_t count = 1) { return events.WaitFor("connect", count); }
    // The host calls the server child recorded so far.
    Strings Calls() {
        auto value = kora::Ref<kora::ISerialize>::Adopt(client->GetFlag("ctl:calls"));
        std::istringstream text(value ? value->ToString("") : "");
        Strings calls;
        for (std::string line; std::getline(text, line);) calls.push_back(line);
        return calls;
    }
    // Runs `read` on the collection registered at `path` (null when none),
    // holding the client's dispatch lock so no sync runs meanwhile.
    template <class F>
    void WithCollection(const std::string& path, F read) {
        kora::cDispatchLock guard = service.LockDispatch();
        read(client->GetCollection(path));
    }

    fakeserver::Events events;
    kora::cService service;
    std::unique_ptr<cDataClient> client;
};

class E2E : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/tessel-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_dir = dir;
        // Read by every service constructed from now on, in this process and
        // in the server children forked from it.
        ASSERT_EQ(::setenv("KORA_RUNTIME_DIR", m_dir.c_str(), 1), 0);
        m_live = kora::GC::LiveCount();
    }
    void TearDown() override {
        EXPECT_EQ(kora::GC::LiveCount(), m_live) << "framework objects outlived the test";
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

  private:
    std::string m_dir;
    size_t m_live = 0;
};

template <class T>
kora::Ref<cDBItem> Item(const char* name, const std::string& dir, void (*fill)(T&) = nullptr) {
    kora::Ref<T> t = kora::Ref<T>::Adopt(kora::New<T>());
    t->SetName(name);
    t->SetDir(dir);
    if (fill) fill(*t);
    return kora::Ref<cDBItem>::Share(t.get());
}

// `check` run on a collection of class C.
template <class C>
std::function<bool(cDBCollection*)> As(bool (*check)(C&)) {
    return [check](cDBCollection* x) { return check(*static_cast<C*>(x)); };
}

}  // namespace

TEST_F(E2E, OneCollectionOfEachFamilyFollowsItsItems) {
    ServerProcess server;
    ASSERT_TRUE(server.Forked()) << server.Error();
    Client c;
    ASSERT_TRUE(c.WaitConnected());

    struct Family {
        cDBCollection* collection;  // owned by the client once registered
        kora::Ref<cDBItem> change;
        std::function<bool(cDBCollection*)> followed;
    };
    using SSH = cDBSSHCollection;
    using Status = cDBSystemStatusCollection;
    using Ports = cDBLANPortCollection;
    using Users = cDBUsersCollection;
    using DMVPN = cDBDMVPNConfigCollection;
    using Forwards = cDBPortForwardCollection;
    std::vector<Family> families = {
        {new SSH, Item<cDBConfigSSH>("SSHConfig", SSH::kPath, [](auto& s) { s.SetEnabled(true); }),
         As<SSH>([](SSH& x) { return x.Get<cDBConfigSSH>().GetEnabled(); })},
        {new Status,
         Item<cDBStatusHardware>("HardwareStatus", Status::kPath,
                                 [](auto& h) { h.SetSerialNumber("S1"); }),
         As<Status>(
             [](Status& x) { return x.Get<cDBStatusHardware>().GetSerialNumber() == "S1"; })},
        {new Ports,
         Item<cDBConfigLANPort>("Port2", Ports::kPath, [](auto& p) { p.SetPortMode(4); }),
         As<Ports>([](Ports& x) { return x.Get("Port2")->GetPortMode() == 4; })},
        {new Users, Item<cDBUser>("alice", Users::kPath),
         As<Users>([](Users& x) { return x.Find<cDBUser>("alice") != nullptr; })},
        {new DMVPN, Item<cDBConfigDMVPNNetwork>("net1", DMVPN::kPath),
         As<DMVPN>([](DMVPN& x) { return x.GetAll<cDBConfigDMVPNNetwork>().size() == 1; })},
        {new Forwards,
         Item<cDBConfigPortForwardRule>("web", Forwards::kPath, [](auto& r) { r.SetRank(7); }),
         As<Forwards>(
             [](Forwards& x) { return x.GetRanked<cDBConfigPortForwardRule>().count(7) == 1; })},
    };
    for (auto& f : families) {
        std::string path = f.collection->GetPath();
        ASSERT_TRUE(c->RegisterCollection(f.collection)) << path;
        // The first sync brings nothing; the change brings one.
        ASSERT_TRUE(c.events.WaitFor("synced " + path + " same", 1)) << path;
        ASSERT_EQ(c->SetItem(f.change.get(), true), 1) << path;
        ASSERT_TRUE(c.events.WaitFor("synced " + path + " changed", 1)) << path;
        bool followed = false;
        c.WithCollection(path, [&](cDBCollection* x) { followed = x && f.followed(x); });
        EXPECT_TRUE(followed) << path;
    }
}

TEST_F(E2E, LosingTheServerDeletesCollectionsAndANewServerIsJoined) {
    // Both children are forked before this process starts any thread; the
    // second one serves only when opened.
    ServerProcess first;
    ServerProcess second(/*gated=*/true);
    ASSERT_TRUE(first.Forked() && second.Forked()) << first.Error() << second.Error();
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

    // The client keeps trying and joins the next server on the same socket,
    // going through the whole connect sequence again.
    second.Open();
    ASSERT_TRUE(c.WaitConnected(2));
    EXPECT_EQ(c.Calls(), (Strings{"SyncCollection /Log/Units/", "GetItem /Features/FeatureList"}));
    EXPECT_TRUE(cDBFeatureList::HasFeature("SerialRS232"));  // the server's, as received
    ASSERT_TRUE(c->RegisterCollection(new Recorder("/Config/A/", c.events)));
    EXPECT_TRUE(c.events.WaitFor("end /Config/A/", 2));
}
