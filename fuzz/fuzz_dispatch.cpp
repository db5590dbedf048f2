// Feeds decoded messages to cDataServer and cDataClient over the in-process
// transport, as a hostile client or a hostile server would send them.
//
// Input: one byte choosing the receiving side (even: the data server, which
// runs over an in-memory host; odd: a data client), then length-prefixed
// frames. Every frame that decodes is sent; a request with a known answer
// follows, so that everything before it was handled when the input is done.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "memory_host.h"
#include "tessel/tessel.h"

namespace {

// The in-memory host, without the one operation that writes a file at a path
// the peer names.
class FuzzHost : public testhost::MemoryHost {
  public:
    kora::s_int8 ExportConfig(const kora::s_string&) override { return result; }
};

// A connection that sends whatever it is given and records nothing.
class Sender : public kora::cServiceClient {
  public:
    Sender(kora::cService* s, const std::string& target, const char* hello)
        : cServiceClient(s, "fuzz", target, "FUZZ::UP", "FUZZ::DOWN", hello) {
        s->RegisterMessageSink(this);
    }
    ~Sender() override { Service()->UnRegisterMessageSink(this); }
    bool DispatchMessage(kora::cMsg&) override { return true; }
};

// The serving side the data client talks to: answers what the client needs
// to connect and to finish a round, and pushes the fuzzer's messages.
class FakeServer : public kora::cMessageSink {
  public:
    explicit FakeServer(kora::cService* s) : cMessageSink(s, "fuzzServer") {
        s->RegisterMessageSink(this);
    }
    ~FakeServer() override { Service()->UnRegisterMessageSink(this); }
    bool ProcessMsg(kora::cMsg& msg) override {
        kora::cChannel* ch = msg.Channel();
        if (!ch) return false;
        if (msg.Name() == tessel::kMsgClientOnConnect) {
            client = kora::Ref<kora::cChannel>::Share(ch);
            return true;
        }
        if (msg.Name() == tessel::kMsgRegCollectionReq) {
            kora::cMsg reply(tessel::kMsgRegCollectionResp);
            auto* r = kora::New<tessel::ccDBRegCollectionResp>();
            r->Result = 1;
            reply.AssignObject(r);
            ch->Send(reply);
            return true;
        }
        if (msg.Name() == tessel::kMsgGetItemReq || msg.Name() == tessel::kMsgDeleteItemReq) {
            // Pushes first, then the answer that ends the round.
            for (kora::cMsg& m : pending) ch->Send(m);
            pending.clear();
            kora::cMsg reply(msg.Name() == tessel::kMsgGetItemReq ? tessel::kMsgGetItemResp
                                                                  : tessel::kMsgDeleteItemResp);
            ch->Send(reply);
            return true;
        }
        return true;
    }
    std::vector<kora::cMsg> pending;  // guarded by the delivery thread
    kora::Ref<kora::cChannel> client;
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
    kora::cService fakeService{"fuzz-fake"}, clientService{"fuzz-client"};
    std::unique_ptr<tessel::cDataServer> server;
    std::unique_ptr<Sender> probe;
    std::unique_ptr<FakeServer> fake;
    Events events;
    std::unique_ptr<tessel::cDataClient> client;
    bool ok = false;

    World() {
        kora::cTracepoint::SetHandler([](const kora::cTraceRecord&) {});
        server = std::make_unique<tessel::cDataServer>(&serverService, &host);
        probe = std::make_unique<Sender>(&probeService, "fuzz-data", tessel::kMsgClientOnConnect);
        fake = std::make_unique<FakeServer>(&fakeService);
        client = std::make_unique<tessel::cDataClient>(&clientService, &events, 0, "fuzz-fake");
        ok = serverService.ServeInProcess() && fakeService.ServeInProcess() &&
             serverService.Start() && probeService.Start() && fakeService.Start() &&
             clientService.Start() && probe->Start() && client->Start();
        for (int i = 0; ok && i < 2000 && !(probe->IsConnected() && client->IsConnected()); ++i)
            ::usleep(1000);
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
        return 0;
    }
    {
        kora::cDispatchLock g = w.fakeService.LockDispatch();
        w.fake->pending = std::move(msgs);
    }
    w.client->DeleteItem("/fuzz/end");
    return 0;
}
