// The subcommands of tesselctl. main.cpp parses the command line into cArgs;
// each command connects through its cSession and returns an exit code.
#pragma once

#include <string>
#include <vector>

#include "session.h"

namespace tesselctl {

// Everything a subcommand may have been given; each uses its own part.
struct cArgs {
    std::string path;                      // item or directory path, or a file
    std::string target;                    // mv/cp: the new name or path
    std::string file;                      // -f FILE, or the file of config/status/log commands
    std::vector<std::string> assignments;  // edit: Key=Value
    bool longListing = false;
    bool fallback = false;
    bool yes = false;
    // watch
    unsigned count = 0;  // stop after this many changes (0: until a signal)
    double timeout = 0;  // stop after this many seconds (0: none)
    // users
    std::string user;
    std::string passwordFile;  // "-" reads stdin; empty prompts on a terminal
    unsigned level = 1;
    unsigned complexity = 0;
    unsigned minLength = 0;
    // flags
    std::string flagName;
    std::string flagValue;
    bool flagHasValue = false;
    std::string flagType = "string";
    // log book
    std::string unit;
    std::string logLevel = "INFO";   // write: the entry's level
    std::string minLevel = "DEBUG";  // read, export: the lowest level shown
    std::string logType = "tesselctl";
    std::vector<std::string> text;
    std::string logUser;
    int outcome = 0;
    std::string since;  // read/export: start time
    std::string until;  // export: end time
    std::vector<std::string> units;
    unsigned logCount = 50;
};

// ---- items (commands_items.cpp) ----
int CmdGet(cSession& s, const cArgs& a);
int CmdSet(cSession& s, const cArgs& a);
int CmdEdit(cSession& s, const cArgs& a);
int CmdList(cSession& s, const cArgs& a);
int CmdRemove(cSession& s, const cArgs& a);
int CmdMove(cSession& s, const cArgs& a, bool copy);
int CmdWatch(cSession& s, const cArgs& a);

// ---- administration (commands_admin.cpp) ----
int CmdUserAdd(cSession& s, const cArgs& a);
int CmdUserDelete(cSession& s, const cArgs& a);
int CmdUserPasswd(cSession& s, const cArgs& a);
int CmdAuth(cSession& s, const cArgs& a);
int CmdFlagGet(cSession& s, const cArgs& a);
int CmdFlagSet(cSession& s, const cArgs& a);
int CmdFlagDelete(cSession& s, const cArgs& a);
int CmdFlagExport(cSession& s, const cArgs& a);
int CmdConfigExport(cSession& s, const cArgs& a);
int CmdConfigImport(cSession& s, const cArgs& a);
// What: "confirm", "fallback", "restore-point", "restore", "factory-reset".
int CmdConfigAction(cSession& s, const cArgs& a, const std::string& what);
int CmdFactoryInfo(cSession& s, const cArgs& a);
int CmdStatusExport(cSession& s, const cArgs& a);
int CmdSnapshot(cSession& s, const cArgs& a);
int CmdReboot(cSession& s, const cArgs& a);

// ---- log book (commands_log.cpp) ----
int CmdLogWrite(cSession& s, const cArgs& a);
int CmdLogRead(cSession& s, const cArgs& a);
int CmdLogExport(cSession& s, const cArgs& a);

// ---- helpers shared by the commands ----

// An absolute form of a file path given on the command line (the server
// resolves nothing relative to the caller).
std::string AbsolutePath(const std::string& path);
// Reads a file, or stdin for "-" (at most `maxBytes`); false after a message.
bool ReadInput(const std::string& file, size_t maxBytes, std::string& text);
// Prints the result of a request that answers a result code and returns the
// exit code.
int Outcome(cSession& s, kora::s_int8 result, const std::string& what, const kora::cTime& since);

}  // namespace tesselctl
