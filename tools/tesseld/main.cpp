// tesseld: the data server. Serves the configuration and status database of
// the device to every local service over the framework's socket, in the
// foreground, until SIGTERM or SIGINT.
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdlib>
#include <iostream>

#include "host.h"
#include "kora/kora.h"
#include "tessel/tessel.h"

#ifndef TESSELD_FACTORY_FILE
#define TESSELD_FACTORY_FILE "/usr/share/tessel/factory.json"
#endif

namespace {

// The factory file beside the program (a build tree) or the installed one.
std::string DefaultFactoryFile() {
    char exe[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string beside(exe, static_cast<size_t>(n));
        beside = beside.substr(0, beside.rfind('/') + 1) + "factory.json";
        if (::access(beside.c_str(), R_OK) == 0) return beside;
    }
    return TESSELD_FACTORY_FILE;
}

}  // namespace

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    // Keep informational trace records out of the service's output.
    ::setenv("KORA_TRACE_LEVEL", "1", 0);

    tesseld::cOptions options;
    options.factoryFile = DefaultFactoryFile();
    CLI::App app{
        "tesseld: the data server of the device's configuration and status.\n"
        "Serves in the foreground until SIGTERM or SIGINT. The socket is found through\n"
        "KORA_RUNTIME_DIR like every service's. On its first start in a state directory it\n"
        "seeds the factory configuration and creates the user \"admin\" with a password\n"
        "that it prints once (or takes from --admin-password-file).",
        "tesseld"};
    app.add_option("-s,--state-dir", options.stateDir,
                   "directory of the database files (created with mode 0700)")
        ->capture_default_str();
    app.add_option("--factory", options.factoryFile, "factory configuration file")
        ->capture_default_str();
    app.add_option("--service", options.serviceName, "name of the served service")
        ->capture_default_str();
    app.add_option("--admin-group", options.adminGroup,
                   "group (name or number) whose members may make administrative requests; root "
                   "and the server's own user always may (default: no group)");
    app.add_option("--admin-password-file", options.adminPasswordFile,
                   "first start: the administrator's password is the first line of this file")
        ->check(CLI::ExistingFile);
    app.add_option("--fallback-timeout", options.fallbackTimeout,
                   "seconds an import with fallback waits for confirmation")
        ->check(CLI::Range(1u, 7u * 24 * 3600))
        ->capture_default_str();
    app.add_option("--reboot-command", options.rebootCommand,
                   "shell command that a reboot request runs (default: none)");
    app.add_option("--feature", options.features,
                   "a feature of this device, e.g. ManagedSwitch (repeatable)");
    app.add_option("--min-password-length", options.minPasswordLength, "shortest password accepted")
        ->check(CLI::Range(1u, 128u))
        ->capture_default_str();
    app.add_option("--max-import-size", options.maxImportBytes, "largest file imported, in bytes")
        ->check(CLI::Range(size_t(1024), size_t(1) << 30))
        ->capture_default_str();
    app.add_option("--max-items", options.maxItems, "most configuration items stored")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--max-status-items", options.maxStatusItems, "most status items held")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--max-log-entries", options.maxLogEntries, "most log book entries kept")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }

    // The stop signals are taken by sigwait below; blocked before any thread
    // starts, no worker thread ever sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGCHLD, SIG_IGN);  // a reboot command is not waited for
    // The database files hold password hashes and the configuration's secrets.
    ::umask(0077);

    tessel::dataInit();
    {
        kora::cService service(options.serviceName);
        tesseld::cHost host(&service, options);
        std::string error, password;
        if (!host.Open(error, password)) {
            std::cerr << "tesseld: " << error << std::endl;
            return 1;
        }
        for (const auto& warning : host.Warnings()) std::cerr << "tesseld: " << warning << "\n";
        if (!password.empty()) {
            if (options.adminPasswordFile.empty())
                std::cout << "tesseld: first start: user \"" << tesseld::kFirstUser
                          << "\" created with the password " << password
                          << " (shown this once; change it with: tesselctl user passwd "
                          << tesseld::kFirstUser << ")\n";
            else
                std::cout << "tesseld: first start: user \"" << tesseld::kFirstUser
                          << "\" created with the password from " << options.adminPasswordFile
                          << "\n";
            explicit_bzero(&password[0], password.size());
        }
        tessel::cDataServer server(&service, &host);
        host.Attach(&server);
        if (!service.Serve() || !service.Start()) {
            std::cerr << "tesseld: cannot serve on " << service.SocketPath() << std::endl;
            return 1;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
        std::cout << "tesseld: serving " << host.Store().ItemCount() << " items on "
                  << service.SocketPath() << " (state in " << options.stateDir << ", ready in "
                  << ms << " ms)" << std::endl;

        int signal = 0;
        sigwait(&stop, &signal);
        std::cout << "tesseld: stopping (" << strsignal(signal) << ")" << std::endl;
        service.Stop();
    }
    tessel::dataDeinit();
    return 0;
}
