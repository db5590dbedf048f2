// tesselctl: the data server's contents and administration from a shell.
//
// Exit codes: 0 done, 1 refused by the server, 2 usage, 3 no server.
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <functional>
#include <iostream>

#include "commands.h"
#include "completion.h"

using namespace tesselctl;

namespace {

using Run = std::function<int(cSession&)>;

// A leaf subcommand: `run` is what it does once the command line is parsed.
CLI::App* Leaf(CLI::App* parent, const std::string& name, const std::string& help, Run& slot,
               Run run) {
    CLI::App* sub = parent->add_subcommand(name, help);
    sub->callback([&slot, run] { slot = run; });
    return sub;
}

CLI::App* Group(CLI::App* parent, const std::string& name, const std::string& help) {
    CLI::App* sub = parent->add_subcommand(name, help);
    sub->require_subcommand(1);
    return sub;
}

void PasswordOption(CLI::App* sub, cArgs& a) {
    sub->add_option("--password-file", a.passwordFile,
                    "read the password from the first line of this file (- for stdin); "
                    "without it, stdin is read or, on a terminal, the password is asked for");
}

}  // namespace

int main(int argc, char** argv) {
    // The framework's trace records are not for the user of a command line tool.
    ::setenv("KORA_TRACE_LEVEL", "2", 0);
    cGlobal global;
    cArgs a;
    Run run;
    bool completion = false;

    CLI::App app{
        "tesselctl: read and change the data server's items, users, flags and log book.\n"
        "Exit codes: 0 done, 1 refused by the server, 2 usage, 3 no server.",
        "tesselctl"};
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("--service", global.service, "name of the data server's service")
        ->capture_default_str();
    app.add_option("--wait", global.wait, "seconds to wait for a server that is not up yet");
    app.add_flag("--json", global.json, "machine-readable output");
    app.add_flag("--show-secrets", global.showSecrets, "print secrets as stored, not masked");

    // ---- items ----
    auto* get = Leaf(&app, "get", "print an item's JSON document, or a directory listing", run,
                     [&](cSession& s) { return CmdGet(s, a); });
    get->add_option("path", a.path, "item path, or a directory path ending in /")->required();
    auto* set = Leaf(&app, "set", "store one JSON item document (stdin, or -f FILE)", run,
                     [&](cSession& s) { return CmdSet(s, a); });
    set->add_option("-f,--file", a.file, "read the document from this file");
    auto* edit = Leaf(&app, "edit", "change members of a stored item", run,
                      [&](cSession& s) { return CmdEdit(s, a); });
    edit->add_option("path", a.path, "item path")->required();
    edit->add_option("assignments", a.assignments,
                     "Key=Value; nested members as Key.Sub or List.0.Key, lists and objects "
                     "as JSON")
        ->required();
    auto* ls = Leaf(&app, "ls", "list a directory, one entry a line (subdirectories end in /)", run,
                    [&](cSession& s) { return CmdList(s, a); });
    ls->add_option("dir", a.path, "directory path (default /)");
    ls->add_flag("-l,--long", a.longListing, "also the type and rank of each entry");
    auto* rm =
        Leaf(&app, "rm", "delete an item", run, [&](cSession& s) { return CmdRemove(s, a); });
    rm->add_option("path", a.path, "item path")->required();
    for (bool copy : {false, true}) {
        auto* sub = Leaf(&app, copy ? "cp" : "mv",
                         copy ? "copy an item under a new name in its directory"
                              : "rename an item within its directory",
                         run, [&, copy](cSession& s) { return CmdMove(s, a, copy); });
        sub->add_option("path", a.path, "item path")->required();
        sub->add_option("new", a.target, "new name, or a path in the same directory")->required();
    }
    auto* watch = Leaf(&app, "watch", "print each change of a directory's items as it is synced",
                       run, [&](cSession& s) { return CmdWatch(s, a); });
    watch->add_option("dir", a.path, "directory path")->required();
    watch->add_option("--count", a.count, "stop after this many changes");
    watch->add_option("--timeout", a.timeout, "stop after this many seconds");

    // ---- users ----
    auto* user = Group(&app, "user", "user accounts");
    auto* add = Leaf(user, "add", "add a user", run, [&](cSession& s) { return CmdUserAdd(s, a); });
    add->add_option("name", a.user, "user name")->required();
    add->add_option("--level", a.level, "access level, 0 to 3 (3 administers)")
        ->check(CLI::Range(0u, 3u))
        ->capture_default_str();
    add->add_option("--complexity", a.complexity,
                    "password rule: 0 none, 1 letters and digits, 2 also both cases, 3 also "
                    "another character")
        ->check(CLI::Range(0u, 3u));
    add->add_option("--min-length", a.minLength, "shortest password of this user")
        ->check(CLI::Range(0u, 255u));
    PasswordOption(add, a);
    auto* del = Leaf(user, "delete", "delete a user", run,
                     [&](cSession& s) { return CmdUserDelete(s, a); });
    del->add_option("name", a.user, "user name")->required();
    auto* passwd = Leaf(user, "passwd", "set a user's password", run,
                        [&](cSession& s) { return CmdUserPasswd(s, a); });
    passwd->add_option("name", a.user, "user name")->required();
    passwd->add_option("--complexity", a.complexity, "new password rule, 1 to 3 (0 keeps it)")
        ->check(CLI::Range(0u, 3u));
    PasswordOption(passwd, a);
    Leaf(user, "list", "list the users", run, [&](cSession& s) {
        a.path = "/Users/";
        return CmdList(s, a);
    });
    auto* auth = Leaf(&app, "auth", "check a user's password and print the access level", run,
                      [&](cSession& s) { return CmdAuth(s, a); });
    auth->add_option("name", a.user, "user name")->required();
    PasswordOption(auth, a);

    // ---- flags ----
    auto* flag = Group(&app, "flag", "named values kept beside the items");
    auto* fget = Leaf(flag, "get", "print a flag's value", run,
                      [&](cSession& s) { return CmdFlagGet(s, a); });
    fget->add_option("name", a.flagName, "flag name")->required();
    auto* fset = Leaf(flag, "set", "set a flag (without a value: present but empty)", run,
                      [&](cSession& s) { return CmdFlagSet(s, a); });
    fset->add_option("name", a.flagName, "flag name")->required();
    auto* value = fset->add_option("value", a.flagValue, "the value (for --type item: a file)");
    fset->add_option("--type", a.flagType, "type of the value")
        ->check(CLI::IsMember({"string", "bool", "int", "uint", "item"}))
        ->capture_default_str();
    fset->callback([&, value] {
        a.flagHasValue = value->count() > 0;
        run = [&](cSession& s) { return CmdFlagSet(s, a); };
    });
    auto* frm =
        Leaf(flag, "rm", "delete a flag", run, [&](cSession& s) { return CmdFlagDelete(s, a); });
    frm->add_option("name", a.flagName, "flag name")->required();
    auto* fexport = Leaf(flag, "export", "write every flag to a JSON file (by the server)", run,
                         [&](cSession& s) { return CmdFlagExport(s, a); });
    fexport->add_option("file", a.file, "file to write")->required();

    // ---- configuration ----
    auto* config = Group(&app, "config", "the configuration as a whole");
    auto* cexport = Leaf(config, "export", "write the configuration to a JSON file (mode 0600)",
                         run, [&](cSession& s) { return CmdConfigExport(s, a); });
    cexport->add_option("file", a.file, "file to write")->required();
    auto* cimport =
        Leaf(config, "import", "replace the configuration with a file's, all of it or nothing", run,
             [&](cSession& s) { return CmdConfigImport(s, a); });
    cimport->add_option("file", a.file, "file to read")->required();
    cimport->add_flag("--fallback", a.fallback,
                      "keep the current configuration and return to it unless confirmed in time");
    Leaf(config, "confirm", "keep an imported configuration", run,
         [&](cSession& s) { return CmdConfigAction(s, a, "confirm"); });
    Leaf(config, "fallback", "return to the configuration before the import now", run,
         [&](cSession& s) { return CmdConfigAction(s, a, "fallback"); });
    Leaf(&app, "restore-point", "save the configuration as the restore point", run,
         [&](cSession& s) { return CmdConfigAction(s, a, "restore-point"); });
    Leaf(&app, "restore", "return to the restore point", run,
         [&](cSession& s) { return CmdConfigAction(s, a, "restore"); });
    auto* reset = Leaf(&app, "factory-reset", "replace the configuration with the factory one", run,
                       [&](cSession& s) { return CmdConfigAction(s, a, "factory-reset"); });
    reset->add_flag("--yes", a.yes, "really do it");
    Leaf(&app, "factory-info", "print which factory configuration the server has", run,
         [&](cSession& s) { return CmdFactoryInfo(s, a); });
    auto* status = Group(&app, "status", "the status items");
    auto* sexport = Leaf(status, "export", "write the status to a JSON file", run,
                         [&](cSession& s) { return CmdStatusExport(s, a); });
    sexport->add_option("file", a.file, "file to write")->required();
    auto* snapshot = Leaf(&app, "snapshot",
                          "let the clients write out their state, then write configuration and "
                          "status to a file",
                          run, [&](cSession& s) { return CmdSnapshot(s, a); });
    snapshot->add_option("file", a.file, "file to write")->required();
    Leaf(&app, "reboot", "ask the server to reboot the device", run,
         [&](cSession& s) { return CmdReboot(s, a); });

    // ---- log book ----
    auto* log = Group(&app, "log", "the log book");
    auto* lwrite =
        Leaf(log, "write", "write an entry", run, [&](cSession& s) { return CmdLogWrite(s, a); });
    lwrite->add_option("unit", a.unit, "log unit (at most 15 characters)")->required();
    lwrite->add_option("text", a.text, "the entry's text")->required();
    lwrite->add_option("--level", a.logLevel, "DEBUG, INFO, WARNING, ERROR, FATAL or 0 to 4")
        ->capture_default_str();
    lwrite->add_option("--type", a.logType, "entry type (at most 20 characters)")
        ->capture_default_str();
    lwrite->add_option("--user", a.logUser, "user the entry concerns");
    lwrite->add_option("--outcome", a.outcome, "-1 failure, 0 neutral, 1 success")
        ->check(CLI::Range(-1, 1));
    auto* lread = Leaf(log, "read", "print the newest entries, oldest first", run,
                       [&](cSession& s) { return CmdLogRead(s, a); });
    lread->add_option("--unit", a.unit, "only this unit");
    lread->add_option("--level", a.minLevel, "only from this level on")->capture_default_str();
    lread->add_option("--since", a.since,
                      "only from this time on: seconds since 1970, an age (90s, 10m, 2h, 3d) or "
                      "YYYY-MM-DD[THH:MM[:SS]]");
    lread->add_option("--count", a.logCount, "at most this many entries")->capture_default_str();
    auto* lexport = Leaf(log, "export", "write entries as export lines to a file (by the server)",
                         run, [&](cSession& s) { return CmdLogExport(s, a); });
    lexport->add_option("file", a.file, "file to write")->required();
    lexport->add_option("--unit", a.units, "only these units (repeatable)");
    lexport->add_option("--level", a.minLevel, "only from this level on")->capture_default_str();
    lexport->add_option("--since", a.since, "from this time on (as for log read)");
    lexport->add_option("--until", a.until, "up to this time");

    auto* complete = app.add_subcommand("completion", "print a shell completion script");
    complete->add_option("shell", a.path, "the shell")->check(CLI::IsMember({"bash"}))->required();
    complete->callback([&] { completion = true; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kDone : kUsage;
    }
    if (completion) {
        std::cout << BashCompletion(app);
        return kDone;
    }
    if (!run) {
        std::cerr << app.help();
        return kUsage;
    }
    if (watch->parsed()) {
        // watch ends on these; they are taken by the command, not delivered
        // to a thread of the connection.
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGINT);
        sigaddset(&stop, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    }
    cSession session(global);
    if (!session.Connect()) return kNoServer;
    return run(session);
}
