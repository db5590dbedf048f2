#include "session.h"

#include <json/writer.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "commands.h"
#include "documents.h"

namespace tesselctl {

namespace {

// How long a server whose socket exists gets to take the connection.
constexpr int kConnectMs = 5000;

}  // namespace

cSession::cSession(const cGlobal& global)
    : m_global(global),
      m_service(new kora::cService("tesselctl-" + std::to_string(::getpid()))),
      m_client(new tessel::cDataClient(m_service.get(), this, 0, global.service)) {}

cSession::~cSession() {
    m_client.reset();
    m_service->Stop();
}

bool cSession::Connect() {
    const std::string socket = m_service->RuntimeDir() + "/" + m_global.service + ".sock";
    if (m_global.wait <= 0 && ::access(socket.c_str(), F_OK) != 0) {
        std::cerr << "tesselctl: no server: " << socket << " does not exist\n";
        return false;
    }
    if (!m_service->Start() || !m_client->Start()) {
        std::cerr << "tesselctl: cannot start the connection\n";
        return false;
    }
    const int ms = std::max(kConnectMs, static_cast<int>(m_global.wait * 1000));
    if (!WaitFor([this] { return m_connected; }, ms)) {
        std::cerr << "tesselctl: no server answered on " << socket << "\n";
        return false;
    }
    return true;
}

bool cSession::Connected() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_connected && !m_closed;
}

bool cSession::WaitFor(const std::function<bool()>& done, int ms,
                       const std::function<bool()>& keepGoing) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        if (done()) return true;
        if (m_closed || (keepGoing && !keepGoing())) return false;
        if (ms >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
        // Short slices, so that `keepGoing` (a signal, say) is looked at often.
        m_changed.wait_for(guard, std::chrono::milliseconds(100));
    }
}

void cSession::OnDataConnect(tessel::cDataClient*) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_connected = true;
    m_changed.notify_all();
}

void cSession::OnDataClose(tessel::cDataClient*) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_closed = true;
    m_changed.notify_all();
}

void cSession::OnCollectionSynced(tessel::cDataClient*, tessel::cDBCollection* collection) {
    if (onSynced) onSynced(collection);
    std::lock_guard<std::mutex> guard(m_lock);
    m_changed.notify_all();
}

int cSession::Refused(const std::string& message, const kora::cTime& since) {
    if (!m_client->IsConnected() || !Connected()) {
        std::cerr << "tesselctl: the connection to the server was lost\n";
        return kNoServer;
    }
    std::cerr << "tesselctl: " << message << "\n";
    ServerReasons(since);
    return kRefused;
}

void cSession::ServerReasons(const kora::cTime& since) {
    auto result = kora::Ref<tessel::cDBLogResult>::Adopt(
        m_client->ReadLog(since, "tesseld", tessel::kLogWarning, 0, 0));
    if (!result) return;
    for (const auto& entry : result->GetEntries())
        std::cerr << "tesselctl: server: " << entry.second.GetText() << "\n";
}

bool cSession::Barrier() {
    auto item = kora::Ref<tessel::cDBItem>::Adopt(m_client->GetItem("/Features/FeatureList"));
    return bool(item);
}

// ---- helpers of the commands ----

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

bool ReadInput(const std::string& file, size_t maxBytes, std::string& text) {
    std::string error;
    if (file != "-") {
        if (tessel::tools::ReadFileBounded(file, maxBytes, text, error)) return true;
        std::cerr << "tesselctl: " << error << "\n";
        return false;
    }
    text.clear();
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) {
        if (text.size() + n > maxBytes) {
            std::cerr << "tesselctl: the input is larger than " << maxBytes << " bytes\n";
            return false;
        }
        text.append(chunk, n);
    }
    return true;
}

int Outcome(cSession& s, kora::s_int8 result, const std::string& what, const kora::cTime& since) {
    if (result != 1)
        return s.Refused(what + " refused (result " + std::to_string(int(result)) + ")", since);
    if (s.Global().json) {
        Json::Value out;
        out["Result"] = int(result);
        PrintJson(out);
    }
    return kDone;
}

// ---- output ----

void PrintJson(const Json::Value& value) {
    std::cout << tessel::StyledJson(value);
    std::cout.flush();
}

std::string CompactJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

}  // namespace tesselctl
