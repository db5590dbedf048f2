#include "e2e_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace e2e {

std::string UniqueName(const char* what) {
    static int counter = 0;
    return kora::FormatString("%s-%d-%d", what, static_cast<int>(::getpid()), ++counter);
}

kora::Ref<tessel::cDBLogUnit> Unit(const std::string& dir, const std::string& name,
                                   unsigned level) {
    return Make<tessel::cDBLogUnit>([&](tessel::cDBLogUnit& u) {
        u.SetDir(dir);
        u.SetName(name);
        u.SetLevel(level);
    });
}

kora::Ref<tessel::cDBConfigSSH> Ssh(const std::string& dir, bool enabled) {
    return Make<tessel::cDBConfigSSH>([&](tessel::cDBConfigSSH& s) {
        s.SetDir(dir);
        s.SetEnabled(enabled);
    });
}

// ---- Watcher ----

std::vector<std::string> Watcher::Syncs() {
    std::vector<std::string> out;
    for (const auto& note : Seen())
        if (note.compare(0, 6, "begin ") == 0 || note.compare(0, 7, "synced ") == 0 ||
            note.compare(0, 4, "end ") == 0)
            out.push_back(note);
    return out;
}

std::vector<std::string> Watcher::Only(const std::string& kind) {
    std::vector<std::string> out;
    for (const auto& note : Seen())
        if (note.compare(0, kind.size() + 1, kind + " ") == 0 || note == kind) out.push_back(note);
    return out;
}

// ---- Client ----

Client::Client(const std::string& identity, bool start) : service(UniqueName("e2e-client")) {
    client.reset(new tessel::cDataClient(&service, &events, 0, kServerName));
    if (!identity.empty()) {
        kora::s_peerinfo info;
        info.Identity = identity;
        client->SetPeerinfoToBeSent(info);
    }
    EXPECT_TRUE(service.Start());
    if (start) client->Start();
}

Client::~Client() {
    client.reset();
    service.Stop();
}

kora::s_int8 Client::Ctl(const std::string& command, kora::ISerialize* value) {
    return client->SetFlag("ctl:" + command, value);
}

bool Client::Put(const kora::Ref<tessel::cDBItem>& item) {
    return Ctl("put", item.get()) == 1;
}

std::string Client::Flag(const std::string& name) {
    kora::Ref<kora::ISerialize> value =
        kora::Ref<kora::ISerialize>::Adopt(client->GetFlag("ctl:" + name));
    return value ? value->ToString("") : "null";
}

std::vector<std::string> Client::Calls() {
    std::vector<std::string> calls;
    const std::string text = Flag("calls");
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        calls.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return calls;
}

void Client::WithCollection(const std::string& path,
                            const std::function<void(tessel::cDBCollection*)>& read) {
    kora::cDispatchLock guard = service.LockDispatch();
    read(client->GetCollection(path));
}

// ---- RawClient ----

RawClient::RawClient() : service(UniqueName("e2e-raw")) {
    probe.reset(new testhost::Probe(&service, kServerName));
    probe->answerDumps = false;  // this client answers by hand
    EXPECT_TRUE(service.Start());
    probe->Start();
    EXPECT_TRUE(probe->WaitConnected(kWaitMs));
}

RawClient::~RawClient() {
    probe->Stop();
    probe.reset();
    service.Stop();
}

bool RawClient::Send(const std::string& name, kora::ISerialize* payload) {
    kora::cMsg msg(name);
    if (payload) msg.AssignObject(payload);
    return probe->Send(msg);
}

int RawClient::Result(const std::string& name, kora::ISerialize* payload,
                      const std::string& reply) {
    kora::cMsg answer;
    if (!probe->Request(name, payload, reply, answer, kWaitMs)) return -100;
    const auto* resp = answer.GetObject<tessel::ccDBResp>();
    return resp ? int(resp->Result) : -100;
}

std::string RawClient::Flag(const std::string& name) {
    auto* req = kora::New<tessel::ccDBGetFlagReq>();
    req->Name = "ctl:" + name;
    kora::cMsg reply;
    if (!probe->Request(tessel::kMsgGetFlagReq, req, tessel::kMsgGetFlagResp, reply, kWaitMs))
        return "no answer";
    return reply.GetPayload() ? reply.GetPayload()->ToString("") : "null";
}

// ---- TraceCapture ----

TraceCapture::TraceCapture() {
    std::shared_ptr<Store> store = m_store;
    kora::cTracepoint::SetHandler([store](const kora::cTraceRecord& record) {
        std::lock_guard<std::mutex> g(store->lock);
        store->records.push_back(record);
    });
}

TraceCapture::~TraceCapture() {
    kora::cTracepoint::SetHandler({});
}

std::vector<kora::cTraceRecord> TraceCapture::Records() {
    std::lock_guard<std::mutex> g(m_store->lock);
    return m_store->records;
}

// ---- Fixture ----

void E2E::SetUp() {
    char dir[] = "/tmp/tessel-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    m_dir = dir;
    // Read by every service constructed from now on, in this process and in
    // the server children forked from it.
    ASSERT_EQ(::setenv("KORA_RUNTIME_DIR", m_dir.c_str(), 1), 0);
    m_live = kora::GC::LiveCount();
}

void E2E::TearDown() {
    EXPECT_EQ(kora::GC::LiveCount(), m_live) << "framework objects outlived the test";
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

}  // namespace e2e
