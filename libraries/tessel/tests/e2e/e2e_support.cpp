#include "e2e_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace e2e {

Client::Client() : service(fakeserver::UniqueName("e2e-client")) {
    client.reset(new tessel::cDataClient(&service, &events, 0, kServerName));
    EXPECT_TRUE(service.Start());
    client->Start();
}

Client::~Client() {
    client.reset();
    service.Stop();
}

std::vector<std::string> Client::Calls() {
    kora::Ref<kora::ISerialize> value =
        kora::Ref<kora::ISerialize>::Adopt(client->GetFlag("ctl:calls"));
    std::istringstream text(value ? value->ToString("") : "");
    std::vector<std::string> calls;
    for (std::string line; std::getline(text, line);) calls.push_back(line);
    return calls;
}

void Client::WithCollection(const std::string& path,
                            const std::function<void(tessel::cDBCollection*)>& read) {
    kora::cDispatchLock guard = service.LockDispatch();
    read(client->GetCollection(path));
}

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
