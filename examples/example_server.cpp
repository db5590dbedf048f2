// A minimal data server: keeps items in memory and serves them to clients.
//
//   example_server [seconds]     serve for that many seconds (default: until killed)
//
// A real data server keeps its items in a store and implements every
// operation; this one answers the item and collection operations and refuses
// the rest with 0.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <thread>

#include "tessel/tessel.h"

using namespace tessel;

namespace {

// A copy of an item through its binary form, holding one reference.
cDBItem* Copy(const cDBItem& item) {
    kora::cSerializeBuffer buffer;
    kora::cObjectFactory::Serialize(item, buffer);
    return dynamic_cast<cDBItem*>(kora::cObjectFactory::Deserialize(buffer));
}

class MemoryStore : public IDataServer {
  public:
    MemoryStore() {
        // A little initial configuration.
        cDBConfigSSH ssh;
        ssh.SetEnabled(true);
        Store(ssh);
        cDBLogUnit unit;
        unit.SetName("EXAMPLE");
        unit.SetLevel(1);
        Store(unit);
    }

    cDBItem* GetItem(const kora::s_string& path) override {
        auto it = m_items.find(path);
        return it == m_items.end() ? nullptr : Copy(*it->second);
    }
    kora::s_int8 SetItem(cDBItem* item) override {
        Store(*item);
        std::cout << "server: stored " << item->GetPath() << "\n";
        return 1;
    }
    kora::s_int8 DeleteItem(const kora::s_string& path) override {
        return m_items.erase(path) ? 1 : 0;
    }
    // Every item whose directory is the collection's path.
    void SyncCollection(cDataServer* server, kora::cChannel* channel,
                        const kora::s_string& path) override {
        for (const auto& entry : m_items)
            if (entry.second->GetDir() == path) server->SendSyncItem(channel, Copy(*entry.second));
    }
    void Log(const kora::cTime&, const kora::s_string& unit, kora::s_uint8 level,
             const kora::s_string&, const kora::s_string& text, const kora::s_string&,
             const kora::s_string& peer, const kora::s_string&, kora::s_int8) override {
        std::cout << "server: log " << unit << " level " << unsigned(level) << " from " << peer
                  << ": " << text << "\n";
    }

    // Not offered by this example.
    kora::s_int8 DuplicateItem(const kora::s_string&, const kora::s_string&,
                               const kora::s_string&) override {
        return 0;
    }
    kora::s_int8 RenameItem(const kora::s_string&, const kora::s_string&, const kora::s_string&,
                            std::set<kora::s_string>&) override {
        return 0;
    }
    kora::s_int8 CreateRestorePoint() override { return 0; }
    kora::s_int8 Restore() override { return 0; }
    kora::s_int8 ImportConfig(const kora::s_string&, kora::s_bool) override { return 0; }
    kora::s_int8 ConfirmConfig() override { return 0; }
    kora::s_int8 FallbackConfig() override { return 0; }
    kora::s_int8 ExportConfig(const kora::s_string&) override { return 0; }
    kora::s_int8 ExportStatus(const kora::s_string&) override { return 0; }
    kora::s_int8 FactoryReset() override { return 0; }
    std::pair<kora::s_string, kora::s_string> GetFactoryConfigInfo() override { return {}; }
    void Reboot(const kora::s_string& identity) override {
        std::cout << "server: reboot asked by " << identity << "\n";
    }
    kora::s_int8 CreateSnapshot(const kora::s_string&) override { return 0; }
    kora::ISerialize* ReadLog(const kora::cTime&, const kora::s_string&, kora::s_uint8,
                              kora::s_uint8, kora::s_uint64) override {
        return nullptr;
    }
    kora::s_int8 ExportLog(const kora::cTime&, const kora::cTime&, kora::s_uint8,
                           const std::set<kora::s_string>&, const kora::s_string&) override {
        return 0;
    }
    kora::s_int8 AddUser(const kora::s_string&, const kora::s_string&, kora::s_uint8, kora::s_uint8,
                         kora::s_uint8) override {
        return 0;
    }
    kora::s_int8 DeleteUser(const kora::s_string&) override { return 0; }
    kora::s_int8 SetPassword(const kora::s_string&, const kora::s_string&, kora::s_uint8) override {
        return 0;
    }
    bool AuthenticateUser(const kora::s_string&, const kora::s_string&, kora::s_uint8&) override {
        return false;
    }
    kora::s_int8 SetFlag(const kora::s_string&, kora::ISerialize*) override { return 0; }
    kora::ISerialize* GetFlag(const kora::s_string&) override { return nullptr; }
    kora::s_int8 DeleteFlag(const kora::s_string&) override { return 0; }
    kora::s_int8 ExportFlags(const kora::s_string&) override { return 0; }
    void DumpFinished() override {}

  private:
    void Store(const cDBItem& item) {
        m_items[item.GetPath()] = kora::Ref<cDBItem>::Adopt(Copy(item));
    }
    std::map<std::string, kora::Ref<cDBItem>> m_items;
};

volatile std::sig_atomic_t g_stop = 0;

}  // namespace

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGTERM, [](int) { g_stop = 1; });

    dataInit();
    kora::cService service("tessel-example");
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
