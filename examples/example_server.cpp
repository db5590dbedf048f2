// A minimal data server: keeps items in memory and serves them to clients.
//
//   example_server [seconds]     serve for that many seconds (default: until killed)
//
// A real data server keeps its items in a store and serves every operation;
// this one serves the item and collection operations and the log book's
// entries, and its base class refuses the rest with 0.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <thread>

#include "tessel/tessel.h"

using namespace tessel;

namespace {

class MemoryStore : public cDataServerHost {
  public:
    MemoryStore() {
        // A little initial configuration.
        cDBConfigSSH ssh;
        ssh.SetEnabled(true);
        Keep(ssh);
        cDBLogUnit unit;
        unit.SetName("EXAMPLE");
        unit.SetLevel(kLogInfo);
        Keep(unit);
    }

    // What the store keeps; the server takes a reference of its own.
    kora::Ref<cDBItem> GetItemRef(const kora::s_string& path) override {
        auto it = m_items.find(path);
        return it == m_items.end() ? kora::Ref<cDBItem>() : it->second;
    }
    kora::s_int8 SetItem(cDBItem* item) override {
        Keep(*item);
        std::cout << "server: stored " << item->GetPath() << std::endl;
        return 1;
    }
    kora::s_int8 DeleteItem(const kora::s_string& path) override {
        return m_items.erase(path) ? 1 : 0;
    }
    // Every item whose directory is the collection's path.
    void SyncCollection(cDataServer* server, kora::cChannel* channel,
                        const kora::s_string& path) override {
        for (const auto& entry : m_items)
            if (entry.second->GetDir() == path) server->SendSyncItem(channel, entry.second);
    }
    void Log(const kora::cTime&, const kora::s_string& unit, kora::s_uint8 level,
             const kora::s_string&, const kora::s_string& text, const kora::s_string&,
             const kora::s_string& peer, const kora::s_string&, kora::s_int8) override {
        std::cout << "server: log " << unit << " level " << unsigned(level) << " from " << peer
                  << ": " << text << std::endl;
    }

  private:
    void Keep(const cDBItem& item) { m_items[item.GetPath()] = item.Clone(); }
    std::map<std::string, kora::Ref<cDBItem>> m_items;
};

volatile std::sig_atomic_t g_stop = 0;

}  // namespace

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGTERM, [](int) { g_stop = 1; });

    dataInit();
    kora::cService service(kDataServerService);
    MemoryStore store;
    cDataServer server(&service, &store);  // also forgets channels that close
    if (!service.Serve() || !service.Start()) {
        std::cerr << "cannot serve on " << service.SocketPath() << "\n";
        return 1;
    }
    std::cout << "server: serving on " << service.SocketPath() << std::endl;
    for (int tick = 0; !g_stop && (seconds == 0 || tick < seconds * 10); ++tick)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    service.Stop();
    dataDeinit();
    return 0;
}
