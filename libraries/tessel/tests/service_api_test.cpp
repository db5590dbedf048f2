// What a service developer writes against, beside the specified operations:
// owned and typed reads, failure causes, the refusing host base, watches and
// the non-blocking item operations, between a real client and a real server
// in this process, over a host written the natural way.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

#include "fake_dataserver.h"

using namespace tessel;
using fakeserver::Events;
using testhost::WaitUntil;

namespace {

// The in-memory host keeps what it is given and hands out what it keeps.
using Rig = fakeserver::ServedRig<>;

constexpr const char* kSshDir = "/Config/System/DeviceManagement/SSH/";
constexpr const char* kSsh = "/Config/System/DeviceManagement/SSH/SSHConfig";

kora::Ref<cDBConfigSSH> Ssh(bool enabled) {
    auto ssh = kora::Ref<cDBConfigSSH>::Adopt(kora::New<cDBConfigSSH>());
    ssh->SetEnabled(enabled);
    return ssh;
}

kora::Ref<cDBLogUnit> Unit(const std::string& name, unsigned level) {
    auto unit = kora::Ref<cDBLogUnit>::Adopt(kora::New<cDBLogUnit>());
    unit->SetName(name);
    unit->SetLevel(level);
    return unit;
}

// "off"/"on" for an SSH configuration, "-" for none.
std::string State(const cDBConfigSSH* ssh) {
    return !ssh ? "-" : ssh->GetEnabled() ? "on" : "off";
}

}  // namespace

// Reading one stored item again and again, syncing it and replacing it: a
// server that freed what the host keeps fails here under AddressSanitizer.
TEST(ServiceApi, OwnedFormsOverAHostThatKeepsWhatItHandsOut) {
    auto ssh = Ssh(true);
    kora::Ref<cDBConfigSSH> copy = CloneOf(*ssh);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), ssh.get());
    EXPECT_EQ(copy->ToHash(), ssh->ToHash());

    Rig w;
    auto* registered = w.client->RegisterCollection(std::make_unique<cDBSSHCollection>());
    ASSERT_NE(registered, nullptr);
    EXPECT_EQ(w.client->GetCollection(kSshDir), registered);
    EXPECT_EQ(w.client->RegisterCollection(std::make_unique<cDBSSHCollection>()), nullptr);
    EXPECT_EQ(w.client->LastFailure(), eFailure::kInvalid);
    for (bool enabled : {true, false, true}) {
        ASSERT_EQ(w.client->SetItem(Ssh(enabled).get(), true), 1);
        kora::Ref<cDBConfigSSH> got = w.client->Get<cDBConfigSSH>(kSsh);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->GetEnabled(), enabled);
    }
}

// Whatever a host does not serve is refused, not missing.
TEST(ServiceApi, TheBaseHostRefusesWhatItDoesNotServe) {
    fakeserver::ServedRig<cDataServerHost> w;
    EXPECT_EQ(w.client->CreateRestorePoint(), 0);
    EXPECT_EQ(w.client->LastFailure(), eFailure::kRefused);
    EXPECT_FALSE(w.client->GetFlagRef("any"));
    EXPECT_EQ(w.client->LastFailure(), eFailure::kNotFound);
    EXPECT_FALSE(w.client->ReadLogRef(kora::cTime(), "", 0, 10, 0));
}

TEST(ServiceApi, EachFailureHasItsCause) {
    Rig w;
    const struct {
        const char* what;
        std::function<void(cDataClient&)> run;
        eFailure failure;
        int result;
    } cases[] = {
        {"stored", [](cDataClient& c) { c.SetItem(Ssh(true).get(), true); }, eFailure::kNone, 1},
        {"refused",
         [&](cDataClient& c) {
             w.host.result = -3;
             c.SetItem(Ssh(true).get(), true);
             w.host.result = 1;
         },
         eFailure::kRefused, -3},
        {"absent", [](cDataClient& c) { c.GetItemRef("/Config/None/Item"); }, eFailure::kNotFound,
         0},
        {"wrong class", [](cDataClient& c) { c.Get<cDBConfigNTP>(kSsh); }, eFailure::kWrongAnswer,
         0},
        {"null item", [](cDataClient& c) { c.SetItem(nullptr, true); }, eFailure::kInvalid, 0},
        {"bad log unit", [](cDataClient& c) { c.Log("unit-name-too-long", 1, "t", "x", 1); },
         eFailure::kInvalid, 0},
    };
    for (const auto& c : cases) {
        c.run(*w.client);
        EXPECT_EQ(w.client->LastFailure(), c.failure) << c.what;
        EXPECT_EQ(int(w.client->LastResult()), c.result) << c.what;
    }
    w.StopServer();
    ASSERT_TRUE(w.events.WaitFor("close"));
    EXPECT_FALSE(w.client->GetItemRef(kSsh));
    EXPECT_EQ(w.client->LastFailure(), eFailure::kNotConnected);
    std::atomic<int> async{-1};
    w.client->GetItemAsync(kSsh, [&](kora::Ref<cDBItem>, eFailure f) { async = int(f); });
    EXPECT_TRUE(WaitUntil([&] { return async >= 0; }));
    EXPECT_EQ(async, int(eFailure::kNotConnected));
}

// The client's timeout is never below 30 s, so this waits that long once,
// for a blocking and a non-blocking request together.
TEST(ServiceApi, AServerThatDoesNotAnswerTimesOut) {
    Rig w;
    kora::cDispatchLock stall = w.serverService->LockDispatch();
    std::atomic<int> async{-1};
    w.client->SetItemAsync(Ssh(true), [&](kora::s_int8, eFailure f) { async = int(f); });
    EXPECT_EQ(w.client->SetItem(Ssh(true).get(), true), 0);
    EXPECT_EQ(w.client->LastFailure(), eFailure::kTimedOut);
    EXPECT_TRUE(WaitUntil([&] { return async >= 0; }));
    EXPECT_EQ(async, int(eFailure::kTimedOut));
}

TEST(ServiceApi, WatchReportsFirstSyncChangesDeletionAndReconnects) {
    Rig w;
    ASSERT_EQ(w.client->SetItem(Ssh(false).get(), true), 1);
    cWatch watch = w.client->Watch<cDBConfigSSH>(
        kSsh, [&](const cDBConfigSSH* before, const cDBConfigSSH* after) {
            w.events.Note("ssh " + State(before) + ">" + State(after));
        });
    EXPECT_TRUE(w.events.WaitFor("ssh ->off"));  // equal to the defaults, reported all the same
    ASSERT_EQ(w.client->SetItem(Ssh(true).get(), true), 1);
    ASSERT_EQ(w.client->SetItem(Ssh(true).get(), true), 1);  // no change: nothing reported
    ASSERT_EQ(w.client->DeleteItem(kSsh), 1);
    EXPECT_TRUE(w.events.WaitFor("ssh on>-"));

    w.StopServer();
    ASSERT_TRUE(w.events.WaitFor("close"));
    w.host.items[kSsh] = Ssh(false);
    w.StartServer();
    EXPECT_TRUE(w.events.WaitFor("ssh ->off", 2));  // registered again by itself

    // A collection at the same directory stays registered after the watch.
    ASSERT_TRUE(w.client->RegisterCollection(std::make_unique<cDBSSHCollection>()));
    watch.Reset();
    ASSERT_EQ(w.client->SetItem(Ssh(true).get(), true), 1);
    EXPECT_TRUE(w.events.WaitFor("synced " + std::string(kSshDir) + " changed"));
    kora::cDispatchLock settled = w.clientService.LockDispatch();
    std::vector<std::string> reports;
    for (const auto& seen : w.events.Seen())
        if (seen.compare(0, 4, "ssh ") == 0) reports.push_back(seen);
    EXPECT_EQ(reports,
              (std::vector<std::string>{"ssh ->off", "ssh off>on", "ssh on>-", "ssh ->off"}));
}

TEST(ServiceApi, WatchAllReportsByName) {
    Rig w;
    w.Locked([&](cDataServer&) { w.host.items["/Log/Units/A"] = Unit("A", 1); });
    cWatch watch = w.client->WatchAll<cDBLogUnit>(
        "/Log/Units/",
        [&](const std::string& name, const cDBLogUnit* before, const cDBLogUnit* after) {
            auto level = [](const cDBLogUnit* u) {
                return u ? std::to_string(unsigned(u->GetLevel())) : std::string("-");
            };
            w.events.Note(name + " " + level(before) + ">" + level(after));
        });
    EXPECT_TRUE(w.events.WaitFor("A ->1"));
    ASSERT_EQ(w.client->SetItem(Unit("B", 2).get(), true), 1);
    ASSERT_EQ(w.client->SetItem(Unit("A", 3).get(), true), 1);
    ASSERT_EQ(w.client->DeleteItem("/Log/Units/B"), 1);
    EXPECT_TRUE(w.events.WaitFor("B 2>-"));
    EXPECT_EQ(w.events.Count("A ->1") + w.events.Count("B ->2") + w.events.Count("A 1>3"), 3u);

    // The log units stay registered for the client's own use after the watch.
    watch.Reset();
    ASSERT_EQ(w.client->SetItem(Unit("C", 4).get(), true), 1);
    EXPECT_TRUE(WaitUntil([&] {
        kora::cDispatchLock lock = w.clientService.LockDispatch();
        return w.client->GetLogUnits().GetUnits().count("C") == 1;
    }));
}

// From inside a callback, on the delivery thread, where nothing may wait.
TEST(ServiceApi, NonBlockingItemOperationsAnswerThroughCallbacks) {
    Rig w;
    ASSERT_EQ(w.client->SetItem(Ssh(false).get(), true), 1);
    cDataClient* c = w.client.get();
    Events& e = w.events;
    cWatch watch = c->Watch<cDBConfigSSH>(kSsh, [c, &e](const cDBConfigSSH*,
                                                        const cDBConfigSSH* after) {
        if (!after || after->GetEnabled()) return;
        c->SetItemAsync(Ssh(true), [c, &e](kora::s_int8 result, eFailure failure) {
            e.Note(kora::FormatString("set %d %s", int(result), FailureText(failure)));
            c->GetItemAsync(kSsh, [&e](kora::Ref<cDBItem> item, eFailure) {
                e.Note(std::string("get ") + (item ? item->GetName() : "-"));
            });
            c->DeleteItemAsync("/Config/None/Item", [&e](kora::s_int8 result, eFailure failure) {
                e.Note(kora::FormatString("delete %d %s", int(result), FailureText(failure)));
            });
        });
    });
    EXPECT_TRUE(e.WaitFor("delete 0 refused"));
    EXPECT_EQ(e.Count("set 1 no failure"), 1u);
    EXPECT_EQ(e.Count("get SSHConfig"), 1u);
}
