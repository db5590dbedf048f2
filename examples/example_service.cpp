// A complete small service: follows the SSH configuration, switches SSH off
// once, writes one log entry about it, and goes on following the item across
// restarts of the data server until SIGTERM or SIGINT.
#include <csignal>
#include <iostream>
#include <thread>

#include "tessel/tessel.h"

using namespace tessel;

namespace {

volatile std::sig_atomic_t g_stop = 0;

const char* State(const cDBConfigSSH* ssh) {
    return !ssh ? "absent" : ssh->GetEnabled() ? "on" : "off";
}

}  // namespace

int main() {
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGINT, [](int) { g_stop = 1; });
    kora::cService service("example-service");
    cDataEvents events;  // this service needs none of the connection events
    cDataClient client(&service, &events, 0, kDataServerService);
    bool changed = false;
    // Runs on the service's delivery thread, which must not wait: the change
    // goes out without blocking and reports back to a callback of its own.
    cWatch watch = client.Watch<cDBConfigSSH>(
        "/Config/System/DeviceManagement/SSH/SSHConfig",
        [&](const cDBConfigSSH* before, const cDBConfigSSH* after) {
            std::cout << "SSH " << State(before) << " -> " << State(after) << std::endl;
            if (changed || !after) return;
            changed = true;
            kora::Ref<cDBConfigSSH> off = CloneOf(*after);
            off->SetEnabled(false);
            client.SetItemAsync(off, [&](kora::s_int8 result, eFailure failure) {
                std::cout << "switching SSH off: " << (result == 1 ? "done" : FailureText(failure))
                          << std::endl;
                client.Log("EXAMPLE", kLogWarning, "ssh", "SSH switched off", result == 1 ? 1 : 0);
            });
        });
    service.Start();
    client.Start();  // connects, and again after every loss of the server
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.Stop();
    service.Stop();
    return 0;
}
