// The other process of the messaging tests: serves the echo service in the
// runtime directory of its environment and prints "ready" once listening.
// Ends by itself after a minute, should a test not kill it.
#include <unistd.h>

#include <cstdio>

#include "messaging_helpers.h"

int main() {
    alarm(60);
    // Only errors reach the test's output.
    kora::cTracepoint::SetHandler([](const kora::cTraceRecord& r) {
        if (r.level >= 1) std::fprintf(stderr, "peer: %s %s\n", r.text.c_str(), r.detail.c_str());
    });
    kora::cService svc("echo");
    kora_test::EchoServer server(&svc);
    const bool served = svc.Serve();
    std::printf(served ? "ready\n" : "failed\n");
    std::fflush(stdout);
    if (served) svc.Run();
    return served ? 0 : 1;
}
