// A minimal client: follows the SSH configuration, changes it, and logs.
//
//   example_client
//
// It connects to the example server, registers a collection for the SSH
// configuration, switches SSH off and on again, and prints each change the
// server pushes to the collection.
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>

#include "tessel/collections.h"
#include "tessel/tessel.h"

using namespace tessel;

namespace {

// Receives the client's events on the service's delivery thread.
class Events : public IDataClient {
  public:
    void OnDataConnect(cDataClient*) override { Signal(m_connected); }
    void OnDataClose(cDataClient*) override { std::cout << "client: connection closed\n"; }
    // Called before the new contents are committed: HasChanged() tells
    // whether this sync brought anything new.
    void OnCollectionSynced(cDataClient*, cDBCollection* collection) override {
        if (collection->HasChanged())
            std::cout << "client: " << collection->GetPath() << " changed\n";
        Signal(m_syncs);
    }
    void OnRebootNotification(cDataClient*) override {}
    bool OnDumpRequest(cDataClient*, kora::s_string&) override { return true; }

    // Waits until `count` events of a kind have happened (at most 10 s).
    bool Wait(int& counter, int count) {
        std::unique_lock<std::mutex> g(m_lock);
        return m_cv.wait_for(g, std::chrono::seconds(10), [&] { return counter >= count; });
    }
    int m_connected = 0, m_syncs = 0;

  private:
    void Signal(int& counter) {
        std::lock_guard<std::mutex> g(m_lock);
        ++counter;
        m_cv.notify_all();
    }
    std::mutex m_lock;
    std::condition_variable m_cv;
};

}  // namespace

int main() {
    kora::cService service("tessel-example-client");
    Events events;
    cDataClient client(&service, &events, 30000, kDataServerService);
    service.Start();
    client.Start();
    if (!events.Wait(events.m_connected, 1)) {
        std::cerr << "client: no data server (is example_server running?)\n";
        return 1;
    }
    std::cout << "client: connected\n";

    // The client owns the collection once it is registered (until the
    // connection closes: then it is gone, and registered again on the next
    // connect by a service that keeps running).
    cDBSSHCollection* ssh = client.RegisterCollection(std::make_unique<cDBSSHCollection>());
    if (!ssh) {
        std::cerr << "client: registration failed: " << FailureText(client.LastFailure()) << "\n";
        return 1;
    }
    events.Wait(events.m_syncs, 1);  // the first sync follows the registration

    for (bool enabled : {false, true}) {
        kora::Ref<cDBConfigSSH> ssh = kora::Ref<cDBConfigSSH>::Adopt(kora::New<cDBConfigSSH>());
        ssh->SetEnabled(enabled);
        std::cout << "client: SetItem returned " << int(client.SetItem(ssh.get(), true)) << "\n";
    }
    events.Wait(events.m_syncs, 3);
    {
        // Collections change on the delivery thread: read them under its lock.
        kora::cDispatchLock lock = service.LockDispatch();
        std::cout << "client: SSH is " << (ssh->Get<cDBConfigSSH>().GetEnabled() ? "on" : "off")
                  << "\n";
    }

    kora::Ref<cDBConfigSSH> item =
        client.Get<cDBConfigSSH>("/Config/System/DeviceManagement/SSH/SSHConfig");
    if (item) std::cout << "client: Get gave " << item->ToString("") << "\n";

    client.Log("EXAMPLE", 0, "demo", "dropped: below the unit's level", 1);
    client.Log("EXAMPLE", 2, "demo", "hello from the example client", 1);
    client.Stop();
    service.Stop();
    return 0;
}
