// Feeds decoded messages to cDataServer and cDataClient over the in-process
// transport, as a hostile client or a hostile server would send them.
//
// Input: one byte choosing the receiving side (even: the data server, which
// runs over an in-memory host; odd: a data client of that server), then length-prefixed
// frames. Every frame that decodes is sent; a request with a known answer
// follows, so that everything before it was handled when the input is done.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "memory_host.h"
#include "probe.h"
#include "tessel/tessel.h"

namespace {

// The in-memory host, without the one operation that writes a file at a path
// the peer names.
class FuzzHost : public testhost::MemoryHost {
  public:
    kora::s_int8 ExportConfig(const kora::s_string&) override { return result; }
};

// Offered every request before the data server: pushes the fuzzer's messages
// to the data client when it asks for a deletion, ahead of the answer.
class Pusher : public kora::cMessageSink {
  public:
    explicit Pusher(kora::cService* s) : cMessageSink(s, "fuzzPusher") {
        s->RegisterMessageSink(this);
    }
    ~Pusher() override { Service()->UnRegisterMessageSink(this); }
    bool ProcessMsg(kora::cMsg& msg) override {
        if (msg.Name() == tessel::kMsgDeleteItemReq && msg.Channel()) {
            for (kora::cMsg& m : pending) msg.Channel()->Send(m);
            pending.clear();
        }
        return false;  // the data server answers
    }
    std::vector<kora::cMsg> pending;  // guarded by the delivery thread
};

class Events : public tessel::IDataClient {
  public:
    void OnDataConnect(tessel::cDataClient* c) override {
        // Collections for the syncs to reach.
        c->RegisterCollection(new tessel::cDBAccessCollection());
    }
    void OnDataClose(tessel::cDataClient*) override {}
    void OnCollectionSynced(tessel::cDataClient*, tessel::cDBCollection* c) override {
        c->HasChanged();
    }
    void OnRebootNotification(tessel::cDataClient*) override {}
    bool OnDumpRequest(tessel::cDataClient*, kora::s_string&) override { return true; }
};

struct World {
    FuzzHost host;
    kora::cService serverService{"fuzz-data"}, probeService{"fuzz-probe"};
    kora::cService clientService{"fuzz-client"};
    std::unique_ptr<Pusher> pusher;
    std::unique_ptr<tessel::cDataServer> server;
    std::unique_ptr<testhost::Probe> probe;
    Events events;
    std::unique_ptr<tessel::cDataClient> client;
    bool ok = false;

    World() {
        kora::cTracepoint::SetHandler([](const kora::cTraceRecord&) {});
        pusher = std::make_unique<Pusher>(&serverService);  // registered first, offered first
        server = std::make_unique<tessel::cDataServer>(&serverService, &host);
        probe = std::make_unique<testhost::Probe>(&probeService, "fuzz-data");
        client = std::make_unique<tessel::cDataClient>(&clientService, &events, 0, "fuzz-data");
        ok = serverService.ServeInProcess() && serverService.Start() && probeService.Start() &&
             clientService.Start() && probe->Start() && client->Start();
        testhost::WaitUntil([&] { return probe->IsConnected() && client->IsConnected(); }, 2000);
        ok = ok && probe->IsConnected();
    }
};

World* g_world = nullptr;

World& world() {
    if (!g_world) {
        // libcrypto (item hashes) sets up its own clean-up at exit on first
        // use; set up before ours, it runs after ours.
        kora::cSHA256Calculator().GetResult();
        g_world = new World;
        // Services stop before the process's static objects go, so that no
        // worker thread outlives what it uses.
        std::atexit([] {
            delete g_world;
            g_world = nullptr;
        });
    }
    return *g_world;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = world();
    if (!w.ok || size < 1) return 0;
    const bool toClient = data[0] & 1;
    std::vector<kora::cMsg> msgs;
    for (size_t at = 1; size - at >= 4;) {
        const uint32_t len = data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                             static_cast<uint32_t>(data[at + 3]) << 24;
        at += 4;
        if (len > size - at) break;
        kora::cMsg msg;
        std::string error;
        if (kora::cFrame::Decode(data + at, len, msg, error)) {
            msg.GetPayload();  // sent as recreated here (or without, when damaged)
            msgs.push_back(msg);
        }
        at += len;
    }
    if (!toClient) {
        for (kora::cMsg& m : msgs) w.probe->Send(m);
        kora::cMsg end(tessel::kMsgRestoreReq), reply;
        w.probe->SendSync(end, reply, 5000, tessel::kMsgRestoreResp);
        w.probe->Clear();
        return 0;
    }
    {
        kora::cDispatchLock g = w.serverService.LockDispatch();
        w.pusher->pending = std::move(msgs);
    }
    w.client->DeleteItem("/fuzz/end");
    return 0;
}
