// Administrative commands: users, authentication, flags, configuration files,
// restore points, factory reset, status export, snapshots, reboot.
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "commands.h"
#include "documents.h"

namespace tesselctl {

using namespace tessel;
using namespace tessel::tools;

namespace {

constexpr size_t kMaxPasswordInput = 4096;

// Reads a line from the terminal without echoing it.
bool Prompt(const char* question, std::string& line) {
    std::cerr << question << std::flush;
    termios saved;
    const bool tty = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool ok = static_cast<bool>(std::getline(std::cin, line));
    if (tty) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
    return ok;
}

// The password from --password-file (its first line), from stdin when that
// is no terminal, or typed twice at a prompt.
bool ReadPassword(const cArgs& a, bool twice, std::string& password) {
    if (!a.passwordFile.empty() || !::isatty(STDIN_FILENO)) {
        std::string text;
        if (!ReadInput(a.passwordFile.empty() ? "-" : a.passwordFile, kMaxPasswordInput, text))
            return false;
        password = text.substr(0, text.find_first_of("\r\n"));
        return true;
    }
    std::string again;
    if (!Prompt("Password: ", password)) return false;
    if (twice && (!Prompt("Again: ", again) || again != password)) {
        std::cerr << "tesselctl: the passwords differ\n";
        return false;
    }
    return true;
}

// A flag value of the type the command line names.
kora::Ref<kora::ISerialize> FlagValue(const cArgs& a, std::string& error) {
    const std::string& v = a.flagValue;
    char* end = nullptr;
    if (a.flagType == "string")
        return kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_string>(v));
    if (a.flagType == "bool" && (v == "true" || v == "false"))
        return kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_bool>(v == "true"));
    if (a.flagType == "int") {
        long long n = std::strtoll(v.c_str(), &end, 10);
        if (!v.empty() && *end == '\0')
            return kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_int64>(n));
    }
    if (a.flagType == "uint" && !v.empty() && v[0] != '-') {
        unsigned long long n = std::strtoull(v.c_str(), &end, 10);
        if (*end == '\0') return kora::Ref<kora::ISerialize>::Adopt(kora::New<kora::s_uint64>(n));
    }
    if (a.flagType == "item") {
        std::string text;
        Json::Value document;
        if (!ReadInput(v, 4u << 20, text) || !ParseJson(text, document)) {
            error = v + " holds no item document";
            return kora::Ref<kora::ISerialize>();
        }
        cLoaded loaded = LoadDocument(document);
        if (!loaded.item) error = v + ": " + loaded.Reason();
        return kora::Ref<kora::ISerialize>::Share(loaded.item.get());
    }
    error = "\"" + v + "\" is no " + a.flagType;
    return kora::Ref<kora::ISerialize>();
}

}  // namespace

// ---- users ----

int CmdUserAdd(cSession& s, const cArgs& a) {
    std::string password;
    if (!ReadPassword(a, true, password)) return kUsage;
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().AddUser(a.user, password, a.level, a.complexity, a.minLength),
                   "adding user " + a.user, since);
}

int CmdUserDelete(cSession& s, const cArgs& a) {
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().DeleteUser(a.user), "deleting user " + a.user, since);
}

int CmdUserPasswd(cSession& s, const cArgs& a) {
    std::string password;
    if (!ReadPassword(a, true, password)) return kUsage;
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().SetPassword(a.user, password, a.complexity),
                   "setting the password of " + a.user, since);
}

int CmdAuth(cSession& s, const cArgs& a) {
    std::string password;
    if (!ReadPassword(a, false, password)) return kUsage;
    kora::s_uint8 level = 0;
    const kora::cTime since = kora::cTime::Now();
    if (!s.Client().AuthenticateUser(a.user, password, level))
        return s.Refused("authentication of " + a.user + " failed", since);
    if (s.Global().json) {
        Json::Value out;
        out["User"] = a.user;
        out["AccessLevel"] = unsigned(level);
        PrintJson(out);
    } else {
        std::cout << a.user << ": authenticated, access level " << unsigned(level) << "\n";
    }
    return kDone;
}

// ---- flags ----

int CmdFlagGet(cSession& s, const cArgs& a) {
    auto value = kora::Ref<kora::ISerialize>::Adopt(s.Client().GetFlag(a.flagName));
    if (!value) return s.Refused("no value for flag " + a.flagName, kora::cTime::Now());
    auto* item = dynamic_cast<cDBItem*>(value.get());
    if (item) {
        PrintJson(ItemDocument(*item, !s.Global().showSecrets));
    } else if (s.Global().json) {
        Json::Value out;
        out["Type"] = value->TypeName();
        out["Value"] = value->ToString("");
        PrintJson(out);
    } else {
        std::cout << value->ToString("") << "\n";
    }
    return kDone;
}

int CmdFlagSet(cSession& s, const cArgs& a) {
    kora::Ref<kora::ISerialize> value;
    if (a.flagHasValue) {
        std::string error;
        value = FlagValue(a, error);
        if (!value) {
            std::cerr << "tesselctl: " << error << "\n";
            return kUsage;
        }
    }
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().SetFlag(a.flagName, value.get()), "setting flag " + a.flagName,
                   since);
}

int CmdFlagDelete(cSession& s, const cArgs& a) {
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().DeleteFlag(a.flagName), "deleting flag " + a.flagName, since);
}

int CmdFlagExport(cSession& s, const cArgs& a) {
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().ExportFlags(AbsolutePath(a.file)), "flag export", since);
}

// ---- configuration ----

int CmdConfigExport(cSession& s, const cArgs& a) {
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().ExportConfig(AbsolutePath(a.file)), "configuration export", since);
}

int CmdConfigImport(cSession& s, const cArgs& a) {
    const std::string file = AbsolutePath(a.file);
    // Check what can be read here first, so refused values are named by key;
    // the server checks again and changes nothing unless all of it is good.
    std::string text, error;
    Json::Value root;
    if (ReadFileBounded(file, 64u << 20, text, error)) {
        if (!ParseDocumentFile(text, root, error)) {
            std::cerr << "tesselctl: " << file << ": " << error << "\n";
            return kRefused;
        }
        int refused = 0;
        for (const auto& document : root["Items"]) {
            cLoaded loaded = LoadDocument(document);
            if (loaded.item) continue;
            std::string label = document["Directory"].isString() && document["Name"].isString()
                                    ? document["Directory"].asString() + document["Name"].asString()
                                    : "a document";
            std::cerr << "tesselctl: " << label << ": "
                      << (loaded.rejected.empty() ? "" : "refused values: ") << loaded.Reason()
                      << "\n";
            ++refused;
        }
        if (refused) {
            std::cerr << "tesselctl: nothing imported\n";
            return kRefused;
        }
    }
    const kora::cTime since = kora::cTime::Now();
    kora::s_int8 result = s.Client().ImportConfig(file, a.fallback);
    if (result == 1 && a.fallback)
        std::cerr << "tesselctl: imported; run \"tesselctl config confirm\" to keep it\n";
    return Outcome(s, result, "import of " + file, since);
}

int CmdConfigAction(cSession& s, const cArgs& a, const std::string& what) {
    cDataClient& c = s.Client();
    const kora::cTime since = kora::cTime::Now();
    kora::s_int8 result = 0;
    if (what == "confirm")
        result = c.ConfirmConfig();
    else if (what == "fallback")
        result = c.FallbackConfig();
    else if (what == "restore-point")
        result = c.CreateRestorePoint();
    else if (what == "restore")
        result = c.Restore();
    else if (what == "factory-reset") {
        if (!a.yes) {
            std::cerr << "tesselctl: factory-reset replaces the whole configuration; "
                         "add --yes to go ahead\n";
            return kUsage;
        }
        result = c.FactoryReset();
    }
    return Outcome(s, result, what, since);
}

int CmdFactoryInfo(cSession& s, const cArgs&) {
    std::pair<kora::s_string, kora::s_string> info = s.Client().GetFactoryConfigInfo();
    if (info.first.empty() && info.second.empty())
        return s.Refused("no factory configuration information", kora::cTime::Now());
    if (s.Global().json) {
        Json::Value out;
        out["File"] = std::string(info.first);
        out["Digest"] = std::string(info.second);
        PrintJson(out);
    } else {
        std::cout << info.first << "\n" << info.second << "\n";
    }
    return kDone;
}

int CmdStatusExport(cSession& s, const cArgs& a) {
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().ExportStatus(AbsolutePath(a.file)), "status export", since);
}

int CmdSnapshot(cSession& s, const cArgs& a) {
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().CreateSnapshot(AbsolutePath(a.file)), "snapshot", since);
}

int CmdReboot(cSession& s, const cArgs&) {
    const kora::cTime since = kora::cTime::Now();
    s.Client().Reboot();
    // The request has no answer: wait until the server has handled it, then
    // look whether it logged a refusal.
    if (!s.Barrier()) return s.Refused("reboot", since);
    auto log =
        kora::Ref<cDBLogResult>::Adopt(s.Client().ReadLog(since, "tesseld", kLogWarning, 0, 0));
    if (log)
        for (const auto& entry : log->GetEntries())
            if (entry.second.GetText().compare(0, 14, "reboot refused") == 0)
                return s.Refused("reboot refused", since);
    return kDone;
}

}  // namespace tesselctl
