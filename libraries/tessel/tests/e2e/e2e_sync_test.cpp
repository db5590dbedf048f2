// Collections across processes: the sync sequence that follows every
// successful change, the exact-directory rule of notifications, and what a
// collection shows inside OnCollectionSynced.
#include <gtest/gtest.h>

#include "e2e_support.h"

using namespace tessel;
using e2e::Client;
using e2e::E2E;
using e2e::RawClient;
using e2e::Recorder;
using e2e::ServerProcess;
using e2e::Ssh;
using e2e::Unit;
using Strings = std::vector<std::string>;

namespace {

template <class P>
P* WithPath(const std::string& path) {
    P* p = kora::New<P>();
    p->Path = path;
    return p;
}

}  // namespace
TEST_F(E2E, ChangesResyncOnlyCollectionsAtTheirExactDirectory) {
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    Client c;
    ASSERT_TRUE(c.WaitConnected());
    ASSERT_TRUE(c.Put(Unit("/Config/E2E/", "a")));
    ASSERT_TRUE(c.Put(Unit("/Config/E2E/Sub/", "s")));
    for (const char* path : {"/Config/", "/Config/E2E/", "/Config/E2E/Sub/"}) {
        ASSERT_TRUE(c->RegisterCollection(new Recorder(path, c.events))) << path;
        ASSERT_TRUE(c.events.WaitCount(std::string("end ") + path, 1)) << path;
    }

    struct Step {
        const char* label;
        std::function<kora::s_int8()> change;
        Strings hostCalls;
        Strings syncs;  // begin/synced/end notes of the client
    };
    const Step steps[] = {
        {"set, waiting",
         [&] { return c->SetItem(Unit("/Config/E2E/", "a", 3).get(), true); },
         {"SetItem /Config/E2E/a", "SyncCollection /Config/E2E/"},
         {"begin /Config/E2E/", "synced /Config/E2E/ same", "end /Config/E2E/"}},
        {"set in a child directory",
         [&] { return c->SetItem(Unit("/Config/E2E/Sub/", "s", 2).get(), true); },
         {"SetItem /Config/E2E/Sub/s", "SyncCollection /Config/E2E/Sub/"},
         {"begin /Config/E2E/Sub/", "synced /Config/E2E/Sub/ same", "end /Config/E2E/Sub/"}},
        {"set where nothing is registered",
         [&] { return c->SetItem(Unit("/Config/E2E/Other/", "o").get(), true); },
         {"SetItem /Config/E2E/Other/o"},
         {}},
        {"set without waiting",
         [&] { return c->SetItem(Unit("/Config/E2E/", "n").get(), false); },
         {"SetItem /Config/E2E/n", "SyncCollection /Config/E2E/"},
         {"begin /Config/E2E/", "synced /Config/E2E/ changed", "end /Config/E2E/"}},
        {"delete",
         [&] { return c->DeleteItem("/Config/E2E/n"); },
         {"DeleteItem /Config/E2E/n", "SyncCollection /Config/E2E/"},
         {"begin /Config/E2E/", "synced /Config/E2E/ changed", "end /Config/E2E/"}},
    };
    for (const Step& step : steps) {
        c.Clear();
        c.events.Clear();
        EXPECT_EQ(step.change(), 1) << step.label;
        // The host call list is read after the change on the same connection,
        // so it holds everything the change caused on the server.
        EXPECT_EQ(c.Calls(), step.hostCalls) << step.label;
        ASSERT_TRUE(e2e::WaitUntil([&] { return c.events.Syncs().size() >= step.syncs.size(); }))
            << step.label;
        EXPECT_EQ(c.events.Syncs(), step.syncs) << step.label;
    }

    // A change the host refuses is answered with its code and notifies nobody.
    ASSERT_EQ(c.Ctl("result:0"), 1);
    c.Clear();
    EXPECT_EQ(c->SetItem(Unit("/Config/E2E/", "a", 4).get(), true), 0);
    EXPECT_EQ(c.Calls(), Strings{"SetItem /Config/E2E/a"});
    ASSERT_EQ(c.Ctl("result:1"), 1);

    // After deregistration a change under the path is synchronised to no one.
    cDBCollection* sub = nullptr;
    c.WithCollection("/Config/E2E/Sub/", [&](cDBCollection* found) { sub = found; });
    ASSERT_NE(sub, nullptr);
    c->DeregisterCollection(sub);
    EXPECT_EQ(c.events.Count("deleted /Config/E2E/Sub/"), 1u);
    c.Clear();
    EXPECT_EQ(c->SetItem(Unit("/Config/E2E/Sub/", "s", 1).get(), true), 1);
    EXPECT_EQ(c.Calls(), Strings{"SetItem /Config/E2E/Sub/s"});
}
namespace {

// SSH configuration and log units kept under one path: a single slot and a
// keyed slot, as the concrete collections are built.
class MixedCollection : public cDBCollection {
  public:
    explicit MixedCollection(const std::string& path) : cDBCollection(path) {}

    void BeginSync() override {
        m_ssh.Begin();
        m_units.Begin();
    }
    bool ValidateDBItem(cDBItem* item) override { return m_ssh.Offer(item) || m_units.Offer(item); }
    void EndSync() override {
        m_ssh.Commit();
        m_units.Commit();
        synced = true;
    }
    bool HasChanged() override { return m_ssh.Changed() || m_units.Changed(); }
    std::string ToString(const std::string&) const override { return "MixedCollection:"; }

    // As "ssh=on A:1 B:1".
    std::string Committed() const { return Text(m_ssh.committed, m_units.committed); }
    std::string Staged() const { return Text(m_ssh.staged, m_units.staged); }

  private:
    static std::string Text(const cDBConfigSSH& ssh,
                            const kora::cMap<std::string, cDBLogUnit>& units) {
        std::string text = ssh.GetEnabled() ? "ssh=on" : "ssh=off";
        for (const auto& u : units)
            text += kora::FormatString(" %s:%u", u.first.c_str(), unsigned(u.second.GetLevel()));
        return text;
    }

    SingleSlot<cDBConfigSSH> m_ssh;
    MapSlot<cDBLogUnit> m_units;
};

// What the collection showed inside OnCollectionSynced.
struct Inside {
    bool changed;
    std::string committed, staged;
};

}  // namespace

TEST_F(E2E, OnCollectionSyncedSeesOldAndNewContents) {
    const std::string dir = "/Config/E2E/Mix/";
    ServerProcess server;
    ASSERT_TRUE(server.WaitReady()) << server.Error();
    // Declared before the client, which may call the hook until it is gone.
    std::mutex lock;
    std::vector<Inside> inside;
    Client c("", false);
    c.events.onSynced = [&](cDBCollection* collection) {
        auto* mixed = dynamic_cast<MixedCollection*>(collection);
        if (!mixed) return;
        std::lock_guard<std::mutex> g(lock);
        inside.push_back({mixed->HasChanged(), mixed->Committed(), mixed->Staged()});
    };
    c->Start();
    ASSERT_TRUE(c.WaitConnected());
    ASSERT_TRUE(c.Put(Ssh(dir, false)));
    for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(c.Put(Unit(dir, name, 1)));

    struct Step {
        const char* label;
        std::function<bool()> change;
        bool changed;
        std::string before, after;  // committed copy inside the callback, and after it
    };
    const Step steps[] = {
        {"registration", [&] { return c->RegisterCollection(new MixedCollection(dir)); }, true, "",
         "ssh=off A:1 B:1 C:1"},
        {"single item changed", [&] { return c->SetItem(Ssh(dir, true).get(), true) == 1; }, true,
         "ssh=off A:1 B:1 C:1", "ssh=on A:1 B:1 C:1"},
        {"keyed item gone", [&] { return c->DeleteItem(dir + "C") == 1; }, true,
         "ssh=on A:1 B:1 C:1", "ssh=on A:1 B:1"},
        {"same contents again", [&] { return c->SetItem(Unit(dir, "A", 1).get(), true) == 1; },
         false, "ssh=on A:1 B:1", "ssh=on A:1 B:1"},
        {"keyed item changed", [&] { return c->SetItem(Unit(dir, "B", 4).get(), true) == 1; }, true,
         "ssh=on A:1 B:1", "ssh=on A:1 B:4"},
    };
    size_t done = 0;
    for (const Step& step : steps) {
        ASSERT_TRUE(step.change()) << step.label;
        ++done;
        // The collection commits after the callback, on the delivery thread;
        // WithCollection below waits for that.
        ASSERT_TRUE(e2e::WaitUntil([&] {
            std::lock_guard<std::mutex> g(lock);
            return inside.size() >= done;
        })) << step.label;
        Inside seen;
        {
            std::lock_guard<std::mutex> g(lock);
            ASSERT_EQ(inside.size(), done) << step.label;
            seen = inside.back();
        }
        EXPECT_EQ(seen.changed, step.changed) << step.label;
        if (!step.before.empty()) {
            EXPECT_EQ(seen.committed, step.before) << step.label;
        }
        EXPECT_EQ(seen.staged, step.after) << step.label;
        c.WithCollection(dir, [&](cDBCollection* collection) {
            auto* mixed = dynamic_cast<MixedCollection*>(collection);
            ASSERT_NE(mixed, nullptr) << step.label;
            EXPECT_TRUE(mixed->IsSynced()) << step.label;
            EXPECT_FALSE(mixed->HasChanged()) << step.label;
            EXPECT_EQ(mixed->Committed(), step.after) << step.label;
        });
    }
}
