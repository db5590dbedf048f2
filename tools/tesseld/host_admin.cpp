// cHost: the configuration as a whole (import, export, fallback, restore
// points, factory reset, snapshots), user accounts, flags, the log book's
// export and reboot.
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "documents.h"
#include "host.h"
#include "kora/factory.h"
#include "passwords.h"
#include "tessel/items_log.h"

extern char** environ;

namespace tesseld {

using namespace tessel;
using namespace tessel::tools;

namespace {

// Refused documents named one by one in the log book, at most.
constexpr size_t kMaxReportedErrors = 20;
// Failed logins in a row after which a user is refused for a while.
constexpr unsigned kMaxFailures = 5;
constexpr int64_t kLockSeconds = 30;
constexpr size_t kMaxTrackedLogins = 1024;
constexpr size_t kMaxFlagName = 64;

// 1 to 30 letters, digits, ".", "_" or "-", not starting with a mark.
bool ValidUserName(const std::string& name) {
    if (name.empty() || name.size() > kMaxItemNameLength || name[0] == '.' || name[0] == '-')
        return false;
    return std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '_' || c == '-';
    });
}

bool ValidFlagName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxFlagName &&
           std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

}  // namespace

// ---- the configuration as a whole ----

std::set<std::string> cHost::ConfigDirs() {
    return m_store.Directories();
}

void cHost::NotifyChanged(const std::set<std::string>& before) {
    m_policies.clear();
    if (!m_server) return;
    std::set<std::string> dirs = ConfigDirs();
    dirs.insert(before.begin(), before.end());
    for (const auto& dir : dirs) m_server->NotifyClients(dir);
}

bool cHost::ReplaceConfig(const ItemList& items, bool keepFallback) {
    const std::set<std::string> before = ConfigDirs();
    cTransaction tx(m_store.Db());
    bool ok = tx.Began();
    if (ok && keepFallback)
        ok = m_store.SaveSlot(kFallbackSlot) &&
             m_store.SetMeta(kFallbackDeadline,
                             std::to_string(NowSeconds() + m_options.fallbackTimeout));
    else if (ok)
        ok = m_store.DropSlot(kFallbackSlot) && m_store.DeleteMeta(kFallbackDeadline);
    if (!ok || !m_store.ReplaceItems(items) || !tx.Commit()) {
        Note(kLogError, "the configuration was not replaced: " + m_store.Error());
        return false;
    }
    if (keepFallback)
        ArmFallbackTimer(m_options.fallbackTimeout);
    else
        m_fallbackTimer.Stop();
    NotifyChanged(before);
    return true;
}

bool cHost::RestoreSlot(const char* slot) {
    const std::set<std::string> before = ConfigDirs();
    cTransaction tx(m_store.Db());
    bool ok = tx.Began() && m_store.RestoreSlot(slot);
    if (ok && std::string(slot) == kFallbackSlot)
        ok = m_store.DropSlot(kFallbackSlot) && m_store.DeleteMeta(kFallbackDeadline);
    if (!ok || !tx.Commit()) {
        Note(kLogError, std::string("the configuration was not restored: ") + m_store.Error());
        return false;
    }
    NotifyChanged(before);
    return true;
}

void cHost::FallBack(const std::string& reason) {
    m_fallbackTimer.Stop();
    if (RestoreSlot(kFallbackSlot))
        Note(kLogWarning, "the configuration before the import is back: " + reason);
}

bool cHost::LoadItems(const Json::Value& root, ItemList& items, std::vector<std::string>& errors) {
    const Json::Value& list = root["Items"];
    if (!list.isArray() || list.empty()) {
        errors.push_back("the file holds no configuration items");
        return false;
    }
    if (list.size() > m_options.maxItems) {
        errors.push_back("more than " + std::to_string(m_options.maxItems) + " items");
        return false;
    }
    std::set<std::string> paths;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        const Json::Value& document = list[i];
        std::string label = "item " + std::to_string(i + 1);
        if (document["Directory"].isString() && document["Name"].isString())
            label = document["Directory"].asString() + document["Name"].asString();
        cLoaded loaded = LoadDocument(document);
        std::string why;
        if (!loaded.item) {
            errors.push_back(label + ": " + (loaded.error.empty() ? "refused " : "") +
                             loaded.Reason());
        } else if (!PlaceAllowed(*loaded.item, why) ||
                   AreaOf(loaded.item->GetDir()) != Area::Config) {
            errors.push_back(label + ": " + (why.empty() ? "not part of the configuration" : why));
        } else if (!paths.insert(loaded.item->GetPath()).second) {
            errors.push_back(label + ": given twice");
        } else {
            items.push_back(loaded.item);
        }
    }
    return errors.empty();
}

bool cHost::LoadFactory(std::string& error) {
    m_factory.clear();
    m_factoryDigest.clear();
    std::string text;
    Json::Value root;
    std::vector<std::string> errors;
    if (m_options.factoryFile.empty()) {
        error = "no factory file given";
        return false;
    }
    if (!ReadFileBounded(m_options.factoryFile, m_options.maxImportBytes, text, error) ||
        !ParseDocumentFile(text, root, error))
        return false;
    ItemList items;
    if (!LoadItems(root, items, errors)) {
        error = m_options.factoryFile + ": " + errors.front();
        return false;
    }
    m_factory = items;
    m_factoryDigest = Sha256(text);
    return true;
}

bool cHost::CheckFilePath(const std::string& path, const std::string& what) {
    if (path.empty() || path[0] != '/' || path.back() == '/' || path.size() >= 4096 ||
        path.find('\0') != std::string::npos) {
        Note(kLogWarning,
             what + " refused: \"" + path.substr(0, 100) + "\" is no absolute file path");
        return false;
    }
    // The server's own files are not for reading or writing by request.
    std::error_code ec;
    auto parent = std::filesystem::weakly_canonical(std::filesystem::path(path).parent_path(), ec);
    auto state = std::filesystem::weakly_canonical(m_options.stateDir, ec);
    if (!ec && parent == state) {
        Note(kLogWarning, what + " refused: " + path.substr(0, 100) + " is in the state directory");
        return false;
    }
    return true;
}

bool cHost::WriteDocumentFile(const std::string& path, const std::string& text,
                              const std::string& what, const cPeer& peer) {
    // A root server hands the file to whoever asked for it; the mode keeps
    // everyone else out, since exports hold the secrets as stored.
    const bool handOver = ::geteuid() == 0 && !peer.local && peer.uid != 0;
    std::string error;
    if (!WriteFileAtomically(path, text, 0600, error, handOver ? peer.uid : uid_t(-1),
                             handOver ? peer.gid : gid_t(-1))) {
        Note(kLogWarning, what + " failed: " + error);
        return false;
    }
    Note(kLogInfo, what + " written to " + path);
    return true;
}

kora::s_int8 cHost::CreateRestorePoint() {
    if (!AdminOnly("creating a restore point")) return 0;
    cTransaction tx(m_store.Db());
    if (!tx.Began() || !m_store.SaveSlot(kRestorePointSlot) || !tx.Commit()) return 0;
    Note(kLogInfo, "restore point created");
    return 1;
}

kora::s_int8 cHost::Restore() {
    if (!AdminOnly("restoring the restore point")) return 0;
    if (FallbackPending()) {
        Note(kLogWarning, "restore refused: an imported configuration awaits confirmation");
        return 0;
    }
    if (!m_store.HasSlot(kRestorePointSlot) || !RestoreSlot(kRestorePointSlot)) return 0;
    Note(kLogWarning, "configuration of the restore point restored");
    return 1;
}

kora::s_int8 cHost::ImportConfig(const kora::s_string& filepath, kora::s_bool useFallback) {
    return Guarded<kora::s_int8>("import", 0, [&]() -> kora::s_int8 {
        if (!AdminOnly("import") || !CheckFilePath(filepath, "import")) return 0;
        if (FallbackPending()) {
            Note(kLogWarning, "import refused: the last import awaits confirmation or fallback");
            return 0;
        }
        std::string text, error;
        Json::Value root;
        if (!ReadFileBounded(filepath, m_options.maxImportBytes, text, error) ||
            !ParseDocumentFile(text, root, error)) {
            Note(kLogWarning, "import refused: " + error);
            return 0;
        }
        ItemList items;
        std::vector<std::string> errors;
        if (!LoadItems(root, items, errors)) {
            Note(kLogWarning, "import of " + filepath + " refused, nothing changed: " +
                                  std::to_string(errors.size()) + " item(s) refused");
            for (size_t i = 0; i < errors.size() && i < kMaxReportedErrors; ++i)
                Note(kLogWarning, "import refused " + errors[i]);
            return 0;
        }
        if (!ReplaceConfig(items, useFallback)) return 0;
        std::string note = "configuration imported from " + filepath + " (" +
                           std::to_string(items.size()) + " items)";
        if (useFallback)
            note += "; confirm within " + std::to_string(m_options.fallbackTimeout) + " s";
        Note(kLogWarning, note);
        return 1;
    });
}

kora::s_int8 cHost::ConfirmConfig() {
    if (!AdminOnly("confirming the configuration") || !FallbackPending()) return 0;
    cTransaction tx(m_store.Db());
    if (!tx.Began() || !m_store.DropSlot(kFallbackSlot) || !m_store.DeleteMeta(kFallbackDeadline) ||
        !tx.Commit())
        return 0;
    m_fallbackTimer.Stop();
    Note(kLogWarning, "imported configuration confirmed");
    return 1;
}

kora::s_int8 cHost::FallbackConfig() {
    if (!AdminOnly("falling back") || !FallbackPending()) return 0;
    FallBack("asked for");
    return FallbackPending() ? 0 : 1;
}

kora::s_int8 cHost::ExportConfig(const kora::s_string& filepath) {
    return Guarded<kora::s_int8>("configuration export", 0, [&]() -> kora::s_int8 {
        if (!AdminOnly("configuration export") || !CheckFilePath(filepath, "export")) return 0;
        Json::Value root = NewDocumentFile("configuration", "");
        root["Items"] = Json::Value(Json::arrayValue);
        for (auto& item : m_store.AllItems()) root["Items"].append(ItemDocument(*item, false));
        return WriteDocumentFile(filepath, StyledJson(root), "configuration export", Requester());
    });
}

kora::s_int8 cHost::ExportStatus(const kora::s_string& filepath) {
    return Guarded<kora::s_int8>("status export", 0, [&]() -> kora::s_int8 {
        if (!AdminOnly("status export") || !CheckFilePath(filepath, "status export")) return 0;
        Json::Value root = NewDocumentFile("status", "");
        root["Status"] = Json::Value(Json::arrayValue);
        for (auto& entry : m_status) root["Status"].append(ItemDocument(*entry.second, false));
        return WriteDocumentFile(filepath, StyledJson(root), "status export", Requester());
    });
}

kora::s_int8 cHost::FactoryReset() {
    if (!AdminOnly("factory reset")) return 0;
    if (m_factory.empty()) {
        Note(kLogWarning, "factory reset refused: no factory configuration");
        return 0;
    }
    if (!ReplaceConfig(m_factory, false)) return 0;
    Note(kLogWarning, "factory configuration restored");
    return 1;
}

std::pair<kora::s_string, kora::s_string> cHost::GetFactoryConfigInfo() {
    if (m_factoryDigest.empty()) return {};
    return {m_options.factoryFile, m_factoryDigest};
}

// ---- snapshots ----

kora::s_int8 cHost::CreateSnapshot(const kora::s_string& filepath) {
    if (!AdminOnly("snapshot") || !CheckFilePath(filepath, "snapshot") || m_snapshotPending)
        return 0;
    m_snapshotPending = true;
    m_snapshotPath = filepath;
    m_snapshotPeer = Requester();
    // Clients first write out what they hold (the dump cycle); the snapshot
    // is taken when the last one answered or the cycle timed out.
    bool others = false;
    if (m_server)
        for (kora::cChannel* channel : m_server->ConnectedChannels())
            if (channel != m_server->SnapshotRequester()) others = true;
    if (others)
        m_server->SendDumpRequest(filepath);
    else
        m_service->RunOnDelivery([this] { FinishSnapshot(); });
    return 1;
}

void cHost::DumpFinished() {
    if (m_snapshotPending) FinishSnapshot();
}

void cHost::FinishSnapshot() {
    if (!m_snapshotPending) return;
    m_snapshotPending = false;
    kora::s_int8 result = Guarded<kora::s_int8>("snapshot", 0, [&]() -> kora::s_int8 {
        Json::Value root = NewDocumentFile("snapshot", "");
        root["Items"] = Json::Value(Json::arrayValue);
        root["Status"] = Json::Value(Json::arrayValue);
        for (auto& item : m_store.AllItems()) root["Items"].append(ItemDocument(*item, false));
        for (auto& entry : m_status) root["Status"].append(ItemDocument(*entry.second, false));
        return WriteDocumentFile(m_snapshotPath, StyledJson(root), "snapshot", m_snapshotPeer);
    });
    if (m_server) m_server->SendSnapshotResp(result);
}

// ---- reboot ----

void cHost::Reboot(const kora::s_string& identity) {
    if (!AdminOnly("reboot")) return;
    const cPeer peer = Requester();
    Note(kLogWarning, "reboot asked for by " + identity + " (pid " + std::to_string(peer.pid) +
                          ", uid " + std::to_string(peer.uid) + ")");
    if (m_server) m_server->SendRebootNotification();
    if (m_options.rebootCommand.empty()) return;
    // The command runs with default signal handling, whatever this process blocks.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const char* argv[] = {"sh", "-c", m_options.rebootCommand.c_str(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, &attr, const_cast<char**>(argv), environ) != 0)
        Note(kLogError, "reboot command could not be started");
    posix_spawnattr_destroy(&attr);
}

// ---- log book export ----

kora::s_int8 cHost::ExportLog(const kora::cTime& from, const kora::cTime& to, kora::s_uint8 level,
                              const std::set<kora::s_string>& units,
                              const kora::s_string& filepath) {
    return Guarded<kora::s_int8>("log book export", 0, [&]() -> kora::s_int8 {
        if (!AdminOnly("log book export") || !CheckFilePath(filepath, "log book export")) return 0;
        std::string lines;
        if (!m_log.Export(from, to, level, units, lines)) return 0;
        return WriteDocumentFile(filepath, lines, "log book export", Requester());
    });
}

// ---- users ----

size_t cHost::AdminCount() {
    size_t count = 0;
    for (auto& user : m_store.Users())
        if (user.item->GetAccessLevel() == kAdminLevel) ++count;
    return count;
}

kora::s_int8 cHost::AddUser(const kora::s_string& username, const kora::s_string& password,
                            kora::s_uint8 accessLevel, kora::s_uint8 complexity,
                            kora::s_uint8 minLength) {
    if (!AdminOnly("adding user " + username)) return 0;
    cStore::cUser existing;
    std::string why;
    if (!ValidUserName(username))
        why = "not a valid user name";
    else if (accessLevel > kAdminLevel || complexity > 3)
        why = "access level or rule out of range";
    else if (m_store.GetUser(username, existing))
        why = "the user exists";
    else if (m_store.UserCount() >= int64_t(m_options.maxUsers))
        why = "too many users";
    else if (PasswordAcceptable(password,
                                std::max<unsigned>(m_options.minPasswordLength, minLength),
                                complexity, why))
        why.clear();
    else
        why = "the password is " + why;
    cDBUser user;
    user.SetName(username);
    user.SetAccessLevel(unsigned(accessLevel));
    user.SetComplexity(unsigned(complexity));
    user.SetMinLen(unsigned(minLength));
    const std::string hash = why.empty() ? HashPassword(password) : "";
    if (why.empty() && (hash.empty() || !m_store.PutUser(user, hash))) why = "not stored";
    if (!why.empty()) {
        Note(kLogWarning, "user " + username.substr(0, 40) + " not added: " + why);
        return 0;
    }
    Note(kLogWarning,
         "user " + username + " added with access level " + std::to_string(unsigned(accessLevel)));
    return 1;
}

kora::s_int8 cHost::DeleteUser(const kora::s_string& username) {
    if (!AdminOnly("deleting user " + username)) return 0;
    cStore::cUser user;
    if (!m_store.GetUser(username, user)) return 0;
    if (user.item->GetAccessLevel() == kAdminLevel && AdminCount() <= 1) {
        Note(kLogWarning, "user " + username + " not deleted: the last administrator");
        return 0;
    }
    if (!m_store.DeleteUser(username)) return 0;
    m_failures.erase(username);
    Note(kLogWarning, "user " + username + " deleted");
    return 1;
}

kora::s_int8 cHost::SetPassword(const kora::s_string& username, const kora::s_string& password,
                                kora::s_uint8 complexity) {
    if (!AdminOnly("setting the password of " + username)) return 0;
    cStore::cUser user;
    if (!m_store.GetUser(username, user)) return 0;
    // 1 to 3 set a new rule for this user's passwords; 0 keeps the rule.
    const bool newRule =
        complexity >= 1 && complexity <= 3 && complexity != user.item->GetComplexity();
    if (newRule) user.item->SetComplexity(unsigned(complexity));
    std::string why;
    if (!PasswordAcceptable(password,
                            std::max<unsigned>(m_options.minPasswordLength, user.item->GetMinLen()),
                            user.item->GetComplexity(), why)) {
        Note(kLogWarning, "password of " + username + " not changed: it is " + why);
        return 0;
    }
    const std::string hash = HashPassword(password);
    if (hash.empty() || !m_store.PutUser(*user.item, hash)) return 0;
    m_failures.erase(username);
    Note(kLogWarning, "password of " + username + " changed");
    // The server notifies nobody for a password; the account's rule changed.
    if (newRule && m_server) m_server->NotifyClients(kUsersDirectory);
    return 1;
}

bool cHost::AuthenticateUser(const kora::s_string& username, const kora::s_string& password,
                             kora::s_uint8& accessLevel) {
    const int64_t now = NowSeconds();
    if (!m_failures.count(username) && m_failures.size() >= kMaxTrackedLogins) m_failures.clear();
    cFailures& failures = m_failures[username];
    if (failures.lockedUntil > now) {
        Note(kLogWarning, "login of " + username.substr(0, 40) + " refused: too many failures");
        return false;
    }
    cStore::cUser user;
    const bool known = m_store.GetUser(username, user);
    if (VerifyPassword(password, known ? user.hash : std::string())) {
        accessLevel = user.item->GetAccessLevel();
        m_failures.erase(username);
        return true;
    }
    if (++failures.count >= kMaxFailures) {
        failures = cFailures();
        failures.lockedUntil = now + kLockSeconds;
        Note(kLogWarning, "login of " + username.substr(0, 40) + " failed " +
                              std::to_string(kMaxFailures) + " times; refused for " +
                              std::to_string(kLockSeconds) + " s");
    } else {
        Note(kLogInfo, "login of " + username.substr(0, 40) + " failed");
    }
    return false;
}

// ---- flags ----

kora::s_int8 cHost::SetFlag(const kora::s_string& name, kora::ISerialize* value) {
    if (!ValidFlagName(name)) return 0;
    std::vector<uint8_t> bytes;
    if (value) {
        kora::cSerializeBuffer buffer;
        if (!kora::cObjectFactory::Serialize(*value, buffer)) return 0;
        bytes.assign(buffer.Data(), buffer.Data() + buffer.Size());
    }
    if (bytes.size() > m_options.maxFlagBytes) {
        Note(kLogWarning, "flag " + name + " refused: larger than " +
                              std::to_string(m_options.maxFlagBytes) + " bytes");
        return 0;
    }
    if (!m_store.HasFlag(name) && m_store.FlagCount() >= int64_t(m_options.maxFlags)) {
        Note(kLogWarning, "flag " + name + " refused: too many flags");
        return 0;
    }
    return m_store.PutFlag(name, bytes) ? 1 : 0;
}

kora::Ref<kora::ISerialize> cHost::GetFlagRef(const kora::s_string& name) {
    std::vector<uint8_t> bytes;
    bool present = false;
    if (!m_store.GetFlag(name, bytes, present) || !present) return {};
    kora::cSerializeBuffer buffer(bytes.data(), bytes.size());
    return kora::Ref<kora::ISerialize>::Adopt(kora::cObjectFactory::Deserialize(buffer));
}

kora::s_int8 cHost::DeleteFlag(const kora::s_string& name) {
    return m_store.DeleteFlag(name) ? 1 : 0;
}

kora::s_int8 cHost::ExportFlags(const kora::s_string& filepath) {
    return Guarded<kora::s_int8>("flag export", 0, [&]() -> kora::s_int8 {
        if (!AdminOnly("flag export") || !CheckFilePath(filepath, "flag export")) return 0;
        Json::Value root = NewDocumentFile("flags", "");
        Json::Value& flags = root["Flags"] = Json::Value(Json::objectValue);
        for (const auto& flag : m_store.Flags()) {
            kora::cSerializeBuffer buffer(flag.second.data(), flag.second.size());
            auto value = kora::Ref<kora::ISerialize>::Adopt(
                flag.second.empty() ? nullptr : kora::cObjectFactory::Deserialize(buffer));
            Json::Value& out = flags[flag.first];
            if (auto* item = dynamic_cast<cDBItem*>(value.get())) {
                out = ItemDocument(*item, false);
            } else if (value) {
                out["Type"] = value->TypeName();
                out["Text"] = value->ToString("");
            }
        }
        return WriteDocumentFile(filepath, StyledJson(root), "flag export", Requester());
    });
}

}  // namespace tesseld
