// Item commands: get, set, edit, ls, rm, mv, cp, watch.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <map>

#include "commands.h"
#include "documents.h"

namespace tesselctl {

using namespace tessel;
using namespace tessel::tools;

namespace {

// Largest document `set` reads.
constexpr size_t kMaxDocumentBytes = 4u << 20;

kora::Ref<cDBItem> Fetch(cSession& s, const std::string& path) {
    return kora::Ref<cDBItem>::Adopt(s.Client().GetItem(path));
}

// Prints the refused keys of a document that did not load.
int NotLoaded(const std::string& what, const cLoaded& loaded) {
    if (!loaded.rejected.empty()) {
        std::cerr << "tesselctl: " << what << ": refused values:";
        for (const auto& key : loaded.rejected) std::cerr << " " << key;
        std::cerr << "\n";
    } else {
        std::cerr << "tesselctl: " << what << ": " << loaded.error << "\n";
    }
    return kRefused;
}

// Stores a document, putting back secrets it carries only in masked form.
int StoreDocument(cSession& s, Json::Value document, const std::string& what) {
    if (document["Directory"].isString() && document["Name"].isString()) {
        kora::Ref<cDBItem> stored =
            Fetch(s, document["Directory"].asString() + document["Name"].asString());
        if (stored) RestoreMaskedSecrets(document, *stored);
    }
    cLoaded loaded = LoadDocument(document);
    if (!loaded.item) return NotLoaded(what, loaded);
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().SetItem(loaded.item.get(), true),
                   "storing " + loaded.item->GetPath(), since);
}

// The member that a dotted key ("Ports.0.Name") names inside `data`, or null.
Json::Value* Member(Json::Value& data, const std::string& key) {
    Json::Value* at = &data;
    size_t start = 0;
    for (;;) {
        size_t dot = key.find('.', start);
        const std::string part = key.substr(start, dot - start);
        if (at->isObject() && at->isMember(part)) {
            at = &(*at)[part];
        } else if (at->isArray() && !part.empty() &&
                   part.find_first_not_of("0123456789") == std::string::npos &&
                   std::strtoul(part.c_str(), nullptr, 10) < at->size()) {
            at = &(*at)[Json::ArrayIndex(std::strtoul(part.c_str(), nullptr, 10))];
        } else {
            return nullptr;
        }
        if (dot == std::string::npos) return at;
        start = dot + 1;
    }
}

// Parses `text` as a value of the same JSON kind as `current`.
bool Convert(const Json::Value& current, const std::string& text, Json::Value& out) {
    char* end = nullptr;
    errno = 0;
    if (current.isBool()) {
        static const std::map<std::string, bool> words = {
            {"true", true},   {"on", true},   {"yes", true}, {"1", true},
            {"false", false}, {"off", false}, {"no", false}, {"0", false}};
        auto it = words.find(text);
        if (it == words.end()) return false;
        out = it->second;
    } else if (current.isUInt64() || current.isInt64()) {
        if (text.empty()) return false;
        if (text[0] == '-')
            out = Json::Int64(std::strtoll(text.c_str(), &end, 10));
        else
            out = Json::UInt64(std::strtoull(text.c_str(), &end, 10));
        if (*end != '\0' || errno == ERANGE) return false;
    } else if (current.isDouble()) {
        out = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0') return false;
    } else if (current.isString()) {
        out = text;
    } else {
        // Lists and objects are given as JSON.
        return ParseJson(text, out) && out.type() == current.type();
    }
    return true;
}

// A collection that holds whatever items the server syncs for its path, so
// that any directory can be watched.
class cWatchCollection : public cDBCollection {
  public:
    using Items = std::map<std::string, kora::Ref<cDBItem>>;
    explicit cWatchCollection(const std::string& path) : cDBCollection(path) {}

    void BeginSync() override { m_staged.clear(); }
    bool ValidateDBItem(cDBItem* item) override {
        if (!item || item->GetDir() != m_path) return false;
        kora::Ref<cDBItem> copy = CopyItem(*item);
        if (copy) m_staged[copy->GetName()] = copy;
        return bool(copy);
    }
    void EndSync() override {
        m_committed = m_staged;
        synced = true;
    }
    bool HasChanged() override { return !Changes().empty(); }
    std::string ToString(const std::string&) const override { return "cWatchCollection"; }

    // (event, item) for every name that was added, changed or removed.
    std::vector<std::pair<const char*, kora::Ref<cDBItem>>> Changes() const {
        std::vector<std::pair<const char*, kora::Ref<cDBItem>>> out;
        for (const auto& entry : m_staged) {
            auto old = m_committed.find(entry.first);
            if (old == m_committed.end())
                out.emplace_back("added", entry.second);
            else if (old->second->ToHash() != entry.second->ToHash())
                out.emplace_back("changed", entry.second);
        }
        for (const auto& entry : m_committed)
            if (!m_staged.count(entry.first)) out.emplace_back("removed", entry.second);
        return out;
    }
    size_t Size() const { return m_staged.size(); }

  private:
    Items m_committed, m_staged;
};

// Splits mv/cp arguments into the directory, the name and the new name.
bool SplitMove(const cArgs& a, std::string& dir, std::string& name, std::string& newName) {
    if (!SplitItemPath(a.path, dir, name)) {
        std::cerr << "tesselctl: " << a.path << " is no item path\n";
        return false;
    }
    newName = a.target;
    if (a.target.find('/') != std::string::npos) {
        std::string targetDir;
        if (!SplitItemPath(a.target, targetDir, newName) || targetDir != dir) {
            std::cerr << "tesselctl: an item keeps its directory; give the new name only\n";
            return false;
        }
    }
    if (!IsValidItemName(newName)) {
        std::cerr << "tesselctl: " << newName << " is no valid item name\n";
        return false;
    }
    return true;
}

}  // namespace

int CmdGet(cSession& s, const cArgs& a) {
    kora::Ref<cDBItem> item = Fetch(s, a.path);
    if (!item) return s.Refused("nothing at " + a.path, kora::cTime::Now());
    PrintJson(ItemDocument(*item, !s.Global().showSecrets));
    return kDone;
}

int CmdSet(cSession& s, const cArgs& a) {
    std::string text;
    Json::Value document;
    if (!ReadInput(a.file.empty() ? "-" : a.file, kMaxDocumentBytes, text)) return kUsage;
    if (!ParseJson(text, document) || !document.isObject()) {
        std::cerr << "tesselctl: the input is not one JSON document\n";
        return kUsage;
    }
    return StoreDocument(s, document, "set");
}

int CmdEdit(cSession& s, const cArgs& a) {
    kora::Ref<cDBItem> item = Fetch(s, a.path);
    if (!item || IsDirectoryPath(a.path))
        return s.Refused("no item at " + a.path, kora::cTime::Now());
    Json::Value document = ItemDocument(*item, false);
    for (const auto& assignment : a.assignments) {
        size_t eq = assignment.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::cerr << "tesselctl: " << assignment << ": expected Key=Value\n";
            return kUsage;
        }
        const std::string key = assignment.substr(0, eq);
        Json::Value* member = Member(document["Data"], key);
        if (!member) {
            std::cerr << "tesselctl: " << item->GetType() << " has no member " << key << "\n";
            return kUsage;
        }
        Json::Value value;
        if (!Convert(*member, assignment.substr(eq + 1), value)) {
            std::cerr << "tesselctl: " << key << ": \"" << assignment.substr(eq + 1)
                      << "\" is not of the member's kind\n";
            return kUsage;
        }
        *member = value;
    }
    return StoreDocument(s, document, "edit");
}

int CmdList(cSession& s, const cArgs& a) {
    std::string dir = a.path.empty() ? "/" : a.path;
    if (!IsDirectoryPath(dir)) dir += "/";
    kora::Ref<cDBItem> item = Fetch(s, dir);
    auto* listing = dynamic_cast<cDBDirectory*>(item.get());
    if (!listing) return s.Refused("no directory " + dir, kora::cTime::Now());
    Json::Value out(Json::arrayValue);
    for (const auto& rank : listing->GetEntries())
        for (const auto& entry : rank.second) {
            if (!s.Global().json) {
                if (a.longListing) std::cout << entry.second.first << "\t" << rank.first << "\t";
                std::cout << entry.first << "\n";
                continue;
            }
            Json::Value e;
            e["Name"] = entry.first;
            e["Type"] = entry.second.first;
            e["Rank"] = rank.first;
            for (const auto& info : entry.second.second) e["Info"][info.first] = info.second;
            out.append(e);
        }
    if (s.Global().json) PrintJson(out);
    return kDone;
}

int CmdRemove(cSession& s, const cArgs& a) {
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().DeleteItem(a.path), "deleting " + a.path, since);
}

int CmdMove(cSession& s, const cArgs& a, bool copy) {
    std::string dir, name, newName;
    if (!SplitMove(a, dir, name, newName)) return kUsage;
    const kora::cTime since = kora::cTime::Now();
    kora::s_int8 result = copy ? s.Client().DuplicateItem(dir, name, newName)
                               : s.Client().RenameItem(dir, name, newName);
    return Outcome(s, result, (copy ? "copying " : "renaming ") + a.path, since);
}

int CmdWatch(cSession& s, const cArgs& a) {
    std::string dir = a.path;
    if (!IsDirectoryPath(dir)) dir += "/";
    if (!IsValidDirectory(dir)) {
        std::cerr << "tesselctl: " << dir << " is no directory path\n";
        return kUsage;
    }
    // Counted on the delivery thread, read here under the session's lock.
    unsigned changes = 0;
    bool first = true;
    const bool json = s.Global().json, mask = !s.Global().showSecrets;
    s.onSynced = [&](cDBCollection* collection) {
        auto* watched = static_cast<cWatchCollection*>(collection);
        if (first) {
            first = false;
            std::cerr << "tesselctl: watching " << dir << " (" << watched->Size() << " items)"
                      << std::endl;
            return;
        }
        for (auto& change : watched->Changes()) {
            Json::Value document = ItemDocument(*change.second, mask);
            if (json) {
                Json::Value event;
                event["Event"] = change.first;
                event["Path"] = std::string(change.second->GetPath());
                event["Item"] = document;
                std::cout << CompactJson(event) << std::endl;
            } else {
                std::cout << change.first << " " << change.second->GetPath() << " "
                          << CompactJson(document["Data"]) << std::endl;
            }
            ++changes;
        }
    };
    auto* collection = new cWatchCollection(dir);
    if (!s.Client().RegisterCollection(collection)) {
        delete collection;
        return s.Refused("cannot watch " + dir, kora::cTime::Now());
    }
    // SIGINT and SIGTERM are blocked in every thread (main); poll for them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    auto noSignal = [&] {
        timespec zero{0, 0};
        return sigtimedwait(&stop, nullptr, &zero) < 0;
    };
    const int ms = a.timeout > 0 ? static_cast<int>(a.timeout * 1000) : -1;
    s.WaitFor([&] { return a.count > 0 && changes >= a.count; }, ms, noSignal);
    bool lost = !s.Connected();
    s.onSynced = nullptr;
    if (lost) {
        std::cerr << "tesselctl: the connection to the server was lost\n";
        return kNoServer;
    }
    return kDone;
}

}  // namespace tesselctl
