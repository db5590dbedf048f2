// cHost: start-up, the peers, and the item tree (read, write, delete, copy,
// rename, listings, collection syncs) and the log book's entry points. The
// operations on the configuration as a whole, users, flags and files are in
// host_admin.cpp.
#include "host.h"

#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "documents.h"
#include "passwords.h"
#include "tessel/items_log.h"

namespace tesseld {

using namespace tessel;
using namespace tessel::tools;

namespace {

constexpr const char* kFallbackTimerMsg = "TESSELD::FALLBACK-TIMEOUT";
// Unit policies are looked up per entry; at most this many are remembered.
constexpr size_t kMaxCachedPolicies = 1024;

// The directory listing names a subdirectory by its name and a "/".
constexpr const char* kDirectoryType = "Directory";

}  // namespace

cHost::cHost(kora::cService* service, const cOptions& options)
    : kora::cMessageSink(service, "tesseld-host"),
      m_service(service),
      m_options(options),
      m_fallbackTimer(service, false, this) {
    // The device's features come from the options alone: a feature list a
    // client sends (as an item, a flag or anything else) is read but changes
    // nothing while the set is kept.
    cDBFeatureList::KeepFeatures(true);
    for (const auto& feature : m_options.features) cDBFeatureList::AddFeature(feature);
}

cHost::~cHost() {
    cDBFeatureList::KeepFeatures(false);
    m_fallbackTimer.Stop();
    if (m_service) m_service->UnRegisterMessageSink(this);
    if (m_lockFd >= 0) ::close(m_lockFd);
}

// ---- start-up ----

bool cHost::Open(std::string& error, std::string& firstPassword) {
    std::string groupError;
    if (!m_admin.Configure(m_options.adminGroup, groupError)) {
        m_warnings.push_back(groupError + "; only root and the server's own user administer");
        m_admin.Configure("", groupError);
    }
    const std::string& dir = m_options.stateDir;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        std::filesystem::create_directories(dir, ec);
        // The state holds password hashes and secrets of the configuration.
        if (ec || ::chmod(dir.c_str(), 0700) != 0) {
            error = "cannot create the state directory " + dir;
            return false;
        }
    }
    // One server per state directory: a second one would interleave writes.
    const std::string lock = dir + "/lock";
    m_lockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        error = "another tesseld uses " + dir;
        return false;
    }
    if (!m_store.Open(dir + "/config.db", error) ||
        !m_log.Open(dir + "/logbook.db", m_options.maxLogEntries, error))
        return false;
    return Seed(error, firstPassword);
}

bool cHost::Seed(std::string& error, std::string& firstPassword) {
    std::string seeded, digest, factoryError;
    const bool fresh = !m_store.GetMeta("seeded", seeded);
    if (!LoadFactory(factoryError)) {
        if (fresh) {
            error = "no usable factory configuration: " + factoryError;
            return false;
        }
        m_warnings.push_back("factory reset unavailable: " + factoryError);
    }
    cTransaction tx(m_store.Db());
    bool ok = tx.Began();
    size_t added = 0;
    if (ok && fresh) {
        ok = m_store.ReplaceItems(m_factory) &&
             m_store.SetMeta("seeded", kora::cTime::Now().ToISO8601String());
        added = m_factory.size();
    } else if (ok && !m_factoryDigest.empty() && m_store.GetMeta("factory-digest", digest) &&
               digest != m_factoryDigest) {
        // A new release may bring item classes the stored configuration lacks:
        // add their factory items, leave everything already stored alone.
        for (const auto& item : m_factory)
            if (ok && !m_store.HasItem(item->GetPath())) {
                ok = m_store.PutItem(*item);
                ++added;
            }
    }
    if (ok && !m_factoryDigest.empty()) ok = m_store.SetMeta("factory-digest", m_factoryDigest);

    bool createdUser = false;
    if (ok && m_store.UserCount() == 0) {
        // No fixed default password: it comes from a file or is made up now.
        std::string password, why;
        if (!m_options.adminPasswordFile.empty()) {
            if (!ReadFileBounded(m_options.adminPasswordFile, 4096, password, error)) return false;
            password = password.substr(0, password.find_first_of("\r\n"));
            if (!PasswordAcceptable(password, m_options.minPasswordLength, 0, why)) {
                error = "the password in " + m_options.adminPasswordFile + " is " + why;
                return false;
            }
        } else {
            password = GeneratePassword();
        }
        cDBUser user;
        user.SetName(kFirstUser);
        user.SetAccessLevel(kAdminLevel);
        const std::string hash = HashPassword(password);
        ok = !hash.empty() && m_store.PutUser(user, hash);
        if (ok) firstPassword = password;
        createdUser = ok;
        explicit_bzero(&password[0], password.size());
    }
    if (!ok || !tx.Commit()) {
        error = "cannot seed the store: " + m_store.Error();
        firstPassword.clear();
        return false;
    }
    if (fresh)
        Note(kLogInfo, "store created with " + std::to_string(added) + " factory items");
    else if (added)
        Note(kLogInfo, std::to_string(added) + " new factory items added");
    if (createdUser)
        Note(kLogInfo, std::string("first administrator \"") + kFirstUser + "\" created");
    return true;
}

void cHost::Attach(cDataServer* server) {
    m_server = server;
    m_service->RegisterMessageSink(this);
    if (!FallbackPending()) return;
    std::string deadline;
    int64_t left = m_store.GetMeta(kFallbackDeadline, deadline)
                       ? std::strtoll(deadline.c_str(), nullptr, 10) - NowSeconds()
                       : 0;
    // A clock set back while the server was down must not stretch the wait.
    left = std::min<int64_t>(left, m_options.fallbackTimeout);
    if (left <= 0) {
        FallBack("the confirmation time ran out while the server was down");
        return;
    }
    ArmFallbackTimer(static_cast<unsigned>(left));
    Note(kLogWarning,
         "an imported configuration awaits confirmation for " + std::to_string(left) + " s more");
}

bool cHost::ProcessMsg(kora::cMsg& msg) {
    if (msg.Name() != kFallbackTimerMsg) return false;
    if (FallbackPending())
        FallBack(
            ("not confirmed within " + std::to_string(m_options.fallbackTimeout) + " s").c_str());
    return true;
}

void cHost::ArmFallbackTimer(unsigned seconds) {
    m_fallbackTimer.StartSec(seconds, kFallbackTimerMsg);
}

// ---- peers ----

cHost::cPeer cHost::PeerOf(kora::cChannel* channel) {
    cPeer peer;
    if (!channel) return peer;
    kora::s_peerinfo info = channel->PeerInfo();
    peer.local = false;
    peer.uid = info.Uid;
    peer.gid = info.Gid;
    peer.pid = info.Pid;
    peer.identity = info.Identity;
    return peer;
}

cHost::cPeer cHost::Requester() const {
    return PeerOf(m_server ? m_server->RequestChannel() : nullptr);
}

bool cHost::IsAdmin(const cPeer& peer) const {
    return peer.local || m_admin.IsAdmin(peer.uid, peer.gid);
}

bool cHost::AdminOnly(const std::string& what) {
    cPeer peer = Requester();
    if (IsAdmin(peer)) return true;
    Note(kLogWarning, what + " refused: uid " + std::to_string(peer.uid) + " (pid " +
                          std::to_string(peer.pid) + ") is no administrator");
    return false;
}

bool cHost::MayRead(const cPeer& peer, cDBItem& item) const {
    return item.GetAccessClass() != ACCESS_CLASS_ADMIN_ONLY || IsAdmin(peer);
}

// ---- the tree ----

cHost::Area cHost::AreaOf(const std::string& directory) {
    if (IsUnder(directory, kStatusRoot)) return Area::Status;
    if (IsUnder(directory, kUsersDirectory)) return Area::Users;
    if (IsUnder(directory, kFeaturesDirectory)) return Area::Features;
    return Area::Config;
}

kora::Ref<cDBItem> cHost::Find(const std::string& path) {
    std::string dir, name;
    if (!SplitItemPath(path, dir, name)) return kora::Ref<cDBItem>();
    switch (AreaOf(dir)) {
        case Area::Status: {
            auto it = m_status.find(path);
            return it == m_status.end() ? kora::Ref<cDBItem>() : it->second;
        }
        case Area::Users: {
            cStore::cUser user;
            if (dir != kUsersDirectory || !m_store.GetUser(name, user)) return kora::Ref<cDBItem>();
            return kora::Ref<cDBItem>::Share(user.item.get());
        }
        case Area::Features: {
            kora::Ref<cDBItem> features = kora::Ref<cDBItem>::Adopt(kora::New<cDBFeatureList>());
            return features && features->GetPath() == path ? features : kora::Ref<cDBItem>();
        }
        case Area::Config:
            break;
    }
    return m_store.GetItem(path);
}

ItemList cHost::ItemsIn(const std::string& directory) {
    ItemList items;
    switch (AreaOf(directory)) {
        case Area::Status:
            for (auto it = m_status.lower_bound(directory);
                 it != m_status.end() && IsUnder(it->first, directory); ++it)
                if (it->second->GetDir() == directory) items.push_back(it->second);
            break;
        case Area::Users:
            if (directory == kUsersDirectory)
                for (auto& user : m_store.Users())
                    items.push_back(kora::Ref<cDBItem>::Share(user.item.get()));
            break;
        case Area::Features: {
            kora::Ref<cDBItem> features = kora::Ref<cDBItem>::Adopt(kora::New<cDBFeatureList>());
            if (features && features->GetDir() == directory) items.push_back(features);
            break;
        }
        case Area::Config:
            items = m_store.ItemsIn(directory);
            break;
    }
    return items;
}

kora::Ref<cDBDirectory> cHost::Listing(const std::string& directory) {
    if (!IsValidDirectory(directory)) return {};
    auto listing = kora::Ref<cDBDirectory>::Adopt(kora::New<cDBDirectory>());
    if (!listing) return {};
    // A listing is named like the directory it lists: its last segment, in
    // the directory above.
    std::string parent = directory.substr(0, directory.size() - 1);
    size_t slash = parent.rfind('/');
    listing->SetName(parent.substr(slash + 1));
    listing->SetDir(parent.substr(0, slash + 1));

    const cPeer peer = Requester();
    ItemList items = ItemsIn(directory);
    for (auto& item : items)
        if (MayRead(peer, *item)) listing->AddItem(*item);
    if (!items.empty()) listing->SetAccessClass(items.front()->GetAccessClass());

    std::set<std::string> dirs = ConfigDirs();
    for (const auto& entry : m_status) dirs.insert(entry.second->GetDir());
    dirs.insert(kUsersDirectory);
    dirs.insert(kFeaturesDirectory);
    for (const auto& dir : dirs) {
        if (dir.size() <= directory.size() || !IsUnder(dir, directory)) continue;
        size_t end = dir.find('/', directory.size());
        listing->AddEntry(0, dir.substr(directory.size(), end - directory.size() + 1),
                          kDirectoryType);
    }
    const bool root = directory == "/" || directory == kStatusRoot ||
                      directory == kUsersDirectory || directory == kFeaturesDirectory;
    if (listing->GetEntries().empty() && !root) return {};
    return listing;
}

std::vector<std::string> cHost::LinksTo(const std::string& path) {
    std::vector<std::string> from;
    for (auto& item : m_store.AllItems()) {
        if (!item->HasLinks()) continue;
        std::set<std::string> links;
        item->GetLinks(links);
        if (links.count(path)) from.push_back(item->GetPath());
    }
    return from;
}

bool cHost::PlaceAllowed(cDBItem& item, std::string& why) {
    if (!IsValidItemName(item.GetName()) || !IsValidDirectory(item.GetDir())) {
        why = "no valid name or directory";
        return false;
    }
    if (item.GetType() == kDirectoryType) {
        why = "a listing is not stored";
        return false;
    }
    if (AreaOf(item.GetDir()) == Area::Features) {
        why = "the feature list comes from the server's options";
        return false;
    }
    return true;
}

bool cHost::ValuesAccepted(cDBItem& item, std::string& why) {
    // The binary form carries values no setter has checked; loading the
    // item's own document applies the same checks as an import does.
    cLoaded loaded = LoadDocument(ItemDocument(item, false));
    if (loaded.item) return true;
    why = "refused " + loaded.Reason();
    return false;
}

bool cHost::StoreItem(cDBItem& item) {
    const std::string path = item.GetPath();
    if (AreaOf(item.GetDir()) == Area::Status) {
        if (!m_status.count(path) && m_status.size() >= m_options.maxStatusItems) {
            Note(kLogWarning, path + " refused: " + std::to_string(m_options.maxStatusItems) +
                                  " status items are held already");
            return false;
        }
        m_status[path] = kora::Ref<cDBItem>::Share(&item);
        return true;
    }
    if (!m_store.HasItem(path) && m_store.ItemCount() >= int64_t(m_options.maxItems)) {
        Note(kLogWarning, path + " refused: " + std::to_string(m_options.maxItems) +
                              " items are stored already");
        return false;
    }
    if (!m_store.PutItem(item)) {
        Note(kLogError, path + " not stored: " + m_store.Error());
        return false;
    }
    if (item.GetDir() == kLogUnitsDirectory) m_policies.clear();
    return true;
}

kora::Ref<cDBItem> cHost::GetItemRef(const kora::s_string& path) {
    using Reply = kora::Ref<cDBItem>;
    return Guarded<Reply>("reading " + path, Reply(), [&]() -> Reply {
        if (IsDirectoryPath(path)) return Listing(path);
        Reply item = Find(path);
        return item && MayRead(Requester(), *item) ? item : Reply();
    });
}

kora::s_int8 cHost::SetItem(cDBItem* item) {
    if (!item) return 0;
    return Guarded<kora::s_int8>("storing " + item->GetPath(), 0, [&]() -> kora::s_int8 {
        const std::string path = item->GetPath();
        std::string why;
        if (!PlaceAllowed(*item, why) || !ValuesAccepted(*item, why)) {
            Note(kLogWarning, path + " not stored: " + why);
            return 0;
        }
        if (item->GetAccessClass() == ACCESS_CLASS_ADMIN_ONLY && !AdminOnly("changing " + path))
            return 0;
        if (AreaOf(item->GetDir()) != Area::Users) return StoreItem(*item) ? 1 : 0;
        // An account is created with a password (AddUser); here only its
        // other fields change, and never so that no administrator is left.
        auto* user = dynamic_cast<cDBUser*>(item);
        cStore::cUser stored;
        if (!user || item->GetDir() != kUsersDirectory ||
            !m_store.GetUser(item->GetName(), stored)) {
            Note(kLogWarning, path + " not stored: no such user account");
            return 0;
        }
        if (stored.item->GetAccessLevel() == kAdminLevel && user->GetAccessLevel() != kAdminLevel &&
            AdminCount() <= 1) {
            Note(kLogWarning, path + " not stored: it is the last administrator");
            return 0;
        }
        return m_store.PutUser(*user, stored.hash) ? 1 : 0;
    });
}

kora::s_int8 cHost::DeleteItem(const kora::s_string& path) {
    return Guarded<kora::s_int8>("deleting " + path, 0, [&]() -> kora::s_int8 {
        std::string dir, name;
        if (!SplitItemPath(path, dir, name)) return 0;
        const Area area = AreaOf(dir);
        if (area == Area::Users || area == Area::Features) return 0;
        kora::Ref<cDBItem> item = Find(path);
        if (!item) return 0;
        if (item->GetAccessClass() == ACCESS_CLASS_ADMIN_ONLY && !AdminOnly("deleting " + path))
            return 0;
        if (area == Area::Status) return m_status.erase(path) ? 1 : 0;
        std::vector<std::string> from = LinksTo(path);
        if (!from.empty()) {
            Note(kLogWarning, path + " not deleted: " + from.front() + " refers to it");
            return 0;
        }
        if (!m_store.DeleteItem(path)) return 0;
        if (dir == kLogUnitsDirectory) m_policies.clear();
        return 1;
    });
}

kora::s_int8 cHost::CopyOrMove(const std::string& dir, const std::string& name,
                               const std::string& newName, bool move) {
    const std::string path = dir + name, target = dir + newName;
    const char* verb = move ? "renaming " : "copying ";
    if (!IsValidDirectory(dir) || !IsValidItemName(name) || !IsValidItemName(newName) ||
        name == newName)
        return 0;
    const Area area = AreaOf(dir);
    if (area == Area::Users || area == Area::Features) return 0;
    kora::Ref<cDBItem> item = Find(path);
    if (!item || Find(target)) return 0;
    if (item->GetAccessClass() == ACCESS_CLASS_ADMIN_ONLY && !AdminOnly(verb + path)) return 0;
    kora::Ref<cDBItem> copy = CopyItem(*item);
    if (!copy) return 0;
    copy->SetName(newName);
    if (area == Area::Status) {
        if (!StoreItem(*copy)) return 0;
        if (move) m_status.erase(path);
        return 1;
    }
    if (move) {
        // Items refer to others by path; nothing can rewrite those references.
        std::vector<std::string> from = LinksTo(path);
        if (!from.empty()) {
            Note(kLogWarning, path + " not renamed: " + from.front() + " refers to it");
            return 0;
        }
    }
    cTransaction tx(m_store.Db());
    if (!tx.Began() || !StoreItem(*copy) || (move && !m_store.DeleteItem(path)) || !tx.Commit()) {
        m_policies.clear();
        return 0;
    }
    return 1;
}

kora::s_int8 cHost::DuplicateItem(const kora::s_string& directory, const kora::s_string& name,
                                  const kora::s_string& newName) {
    return Guarded<kora::s_int8>("copying " + directory + name, 0,
                                 [&] { return CopyOrMove(directory, name, newName, false); });
}

kora::s_int8 cHost::RenameItem(const kora::s_string& directory, const kora::s_string& name,
                               const kora::s_string& newName, std::set<kora::s_string>&) {
    return Guarded<kora::s_int8>("renaming " + directory + name, 0,
                                 [&] { return CopyOrMove(directory, name, newName, true); });
}

void cHost::SyncCollection(cDataServer* server, kora::cChannel* channel,
                           const kora::s_string& path) {
    if (!server || !IsValidDirectory(path)) return;
    Guarded<int>("syncing " + path, 0, [&] {
        // The channel being synced, not the request that caused the sync,
        // decides what it may see.
        const cPeer peer = PeerOf(channel);
        for (auto& item : ItemsIn(path))
            if (MayRead(peer, *item)) server->SendSyncItem(channel, item);
        return 0;
    });
}

// ---- log book ----

cUnitPolicy cHost::PolicyOf(const std::string& unit) {
    auto it = m_policies.find(unit);
    if (it != m_policies.end()) return it->second;
    // A unit without a log-unit item keeps every level, as deep as a new unit.
    static const cDBLogUnit defaults;
    cUnitPolicy policy{defaults.GetDepth(), 0};
    if (IsValidItemName(unit)) {
        kora::Ref<cDBItem> item = m_store.GetItem(std::string(kLogUnitsDirectory) + unit);
        if (const auto* config = dynamic_cast<const cDBLogUnit*>(item.get()))
            policy = {config->GetDepth(), config->GetLevel()};
    }
    if (m_policies.size() >= kMaxCachedPolicies) m_policies.clear();
    m_policies[unit] = policy;
    return policy;
}

void cHost::Note(unsigned level, const std::string& text, const std::string& user) {
    cDBLogItem entry;
    entry.SetUnit(kLogUnit);
    entry.SetLevel(level);
    entry.SetType("server");
    entry.SetText(text);
    entry.SetPeer(kLogUnit);
    entry.SetUser(user);
    m_log.Append(entry, PolicyOf(kLogUnit));
    if (level >= kLogWarning && m_options.echoWarnings)
        std::cerr << "tesseld: " << text << std::endl;
}

void cHost::Log(const kora::cTime&, const kora::s_string& unit, kora::s_uint8 level,
                const kora::s_string& type, const kora::s_string& text,
                const kora::s_string& object, const kora::s_string& peer,
                const kora::s_string& user, kora::s_int8 outcome) {
    // The entry is stamped on arrival: the writer's clock is its own word.
    cDBLogItem entry;
    if (!entry.SetUnit(unit) || !entry.SetLevel(unsigned(level)) || !entry.SetType(type) ||
        !entry.SetSuccess(int(outcome)))
        return;
    entry.SetText(text);
    entry.SetObject(object);
    entry.SetUser(user);
    // The process id comes from the socket, the name from the writer.
    const cPeer requester = Requester();
    entry.SetPeer(requester.local ? std::string(peer)
                                  : peer + "[" + std::to_string(requester.pid) + "]");
    m_log.Append(entry, PolicyOf(unit));
}

kora::Ref<cDBLogResult> cHost::ReadLogRef(const kora::cTime& from, const kora::s_string& unit,
                                          kora::s_uint8 level, kora::s_uint8 count,
                                          kora::s_uint64 status) {
    // Status names the last entry the reader has seen, so reads can page.
    return m_log.Read(from, unit, level, count, status);
}

}  // namespace tesseld
