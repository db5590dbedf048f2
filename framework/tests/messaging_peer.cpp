// The other process of the messaging tests.
//
//   kora_msg_peer server <runtime dir> <service>
//       serves the echo service; prints "ready" once listening
//   kora_msg_peer client <runtime dir> <service> <identity>
//       connects and sends echo requests without pause; prints "connected" after
//       the first answer
//
// Both end by themselves after a minute, should a test not kill them.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "messaging_helpers.h"

namespace {

int Server(const std::string& service) {
    kora::cService svc(service);
    kora_test::EchoServer server(&svc);
    if (!svc.Serve()) {
        std::printf("failed\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    svc.Run();
    return 0;
}

int Client(const std::string& service, const std::string& identity) {
    kora::cService svc("peer-client");
    kora_test::TestClient client(&svc, service, identity);
    if (!svc.Start() || !client.Start() || !client.journal.WaitFor(kora_test::kOnConnect, 1))
        return 1;
    bool announced = false;
    for (unsigned i = 0;; ++i) {
        kora::cMsg req(kora_test::kEcho), reply;
        req.AssignObject(kora_test::NewString("request " + std::to_string(i)));
        if (client.SendSync(req, reply, 5000, kora_test::kEchoResp) && !announced) {
            std::printf("connected\n");
            std::fflush(stdout);
            announced = true;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    alarm(60);
    // Only errors reach the test's output.
    kora::cTracepoint::SetHandler([](const kora::cTraceRecord& r) {
        if (r.level >= 1) std::fprintf(stderr, "peer: %s %s\n", r.text.c_str(), r.detail.c_str());
    });
    if (argc < 4) return 2;
    setenv("KORA_RUNTIME_DIR", argv[2], 1);
    const std::string mode = argv[1];
    if (mode == "server") return Server(argv[3]);
    if (mode == "client" && argc >= 5) return Client(argv[3], argv[4]);
    return 2;
}
