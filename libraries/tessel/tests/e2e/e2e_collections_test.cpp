// One collection of each family registered with a data server in another
// process, each following a change of its items.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "tessel/collections.h"

using namespace tessel;
using e2e::Client;
using e2e::E2E;
using e2e::ServerProcess;

namespace {

template <class T>
kora::Ref<cDBItem> Item(const char* name, const std::string& dir, void (*fill)(T&) = nullptr) {
    kora::Ref<T> t = kora::Ref<T>::Adopt(kora::New<T>());
    t->SetName(name);
    t->SetDir(dir);
    if (fill) fill(*t);
    return kora::Ref<cDBItem>::Share(t.get());
}

}  // namespace

TEST_F(E2E, OneCollectionOfEachFamilyFollowsItsItems) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client c;
    ASSERT_TRUE(c.WaitConnected());

    struct Family {
        cDBCollection* collection;  // owned by the client once registered
        kora::Ref<cDBItem> change;
        std::function<bool(cDBCollection*)> followed;
    };
    std::vector<Family> families = {
        {new cDBSSHCollection,
         Item<cDBConfigSSH>("SSHConfig", cDBSSHCollection::kPath,
                            [](cDBConfigSSH& s) { s.SetEnabled(true); }),
         [](cDBCollection* x) {
             return static_cast<cDBSSHCollection*>(x)->Get<cDBConfigSSH>().GetEnabled();
         }},
        {new cDBSystemStatusCollection,
         Item<cDBStatusHardware>("HardwareStatus", cDBSystemStatusCollection::kPath,
                                 [](cDBStatusHardware& h) { h.SetSerialNumber("S1"); }),
         [](cDBCollection* x) {
             return static_cast<cDBSystemStatusCollection*>(x)
                        ->Get<cDBStatusHardware>()
                        .GetSerialNumber() == "S1";
         }},
        {new cDBLANPortCollection,
         Item<cDBConfigLANPort>("Port2", cDBLANPortCollection::kPath,
                                [](cDBConfigLANPort& p) { p.SetPortMode(4); }),
         [](cDBCollection* x) {
             return static_cast<cDBLANPortCollection*>(x)->Get("Port2")->GetPortMode() == 4;
         }},
        {new cDBUsersCollection, Item<cDBUser>("alice", cDBUsersCollection::kPath),
         [](cDBCollection* x) {
             return static_cast<cDBUsersCollection*>(x)->Find<cDBUser>("alice") != nullptr;
         }},
        {new cDBDMVPNConfigCollection,
         Item<cDBConfigDMVPNNetwork>("net1", cDBDMVPNConfigCollection::kPath),
         [](cDBCollection* x) {
             return static_cast<cDBDMVPNConfigCollection*>(x)
                        ->GetAll<cDBConfigDMVPNNetwork>()
                        .size() == 1;
         }},
        {new cDBPortForwardCollection,
         Item<cDBConfigPortForwardRule>("web", cDBPortForwardCollection::kPath,
                                        [](cDBConfigPortForwardRule& r) { r.SetRank(7); }),
         [](cDBCollection* x) {
             return static_cast<cDBPortForwardCollection*>(x)
                        ->GetRanked<cDBConfigPortForwardRule>()
                        .count(7) == 1;
         }},
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
