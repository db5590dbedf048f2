// Log book commands: write, read, export.
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <iostream>

#include "commands.h"

namespace tesselctl {

using namespace tessel;

namespace {

// A level by number (0 to 4) or name ("info", "WARNING", ...).
bool ParseLevel(const std::string& text, unsigned& level) {
    std::string upper;
    for (char c : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (unsigned l = kLogDebug; l <= kLogFatal; ++l)
        if (upper == cDBLogItem::GetLevelString(l) || upper == std::to_string(l)) {
            level = l;
            return true;
        }
    std::cerr << "tesselctl: \"" << text
              << "\" is no log level (DEBUG, INFO, WARNING, ERROR, "
                 "FATAL or 0 to 4)\n";
    return false;
}

// A point in time: seconds since the epoch; an age such as 90s, 10m, 2h or
// 3d; or a local date and time 2024-05-01 or 2024-05-01T12:30[:00]. Empty
// gives `fallback`.
bool ParseTime(const std::string& text, const kora::cTime& fallback, kora::cTime& out) {
    out = fallback;
    if (text.empty()) return true;
    char* end = nullptr;
    long long n = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() && *end == '\0') {
        out.FromSeconds(n);
        return true;
    }
    static const std::pair<char, long long> ages[] = {
        {'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
    for (const auto& age : ages)
        if (end != text.c_str() && end[0] == age.first && end[1] == '\0' && n >= 0) {
            out.FromSeconds(kora::cTime::Now().ToSeconds() - n * age.second);
            return true;
        }
    for (const char* format : {"%Y-%m-%dT%H:%M:%S", "%Y-%m-%dT%H:%M", "%Y-%m-%d"}) {
        std::tm tm{};
        const char* rest = strptime(text.c_str(), format, &tm);
        if (rest && *rest == '\0') {
            tm.tm_isdst = -1;
            out.FromSeconds(std::mktime(&tm));
            return true;
        }
    }
    std::cerr << "tesselctl: \"" << text
              << "\" is no time (seconds, an age like 10m, or "
                 "YYYY-MM-DD[THH:MM[:SS]])\n";
    return false;
}

// The export line of an entry without its line feed.
std::string Line(const cDBLogItem& entry) {
    std::string line = entry.ToExportString();
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

}  // namespace

int CmdLogWrite(cSession& s, const cArgs& a) {
    unsigned level = 0;
    if (!ParseLevel(a.logLevel, level)) return kUsage;
    std::string text;
    for (const auto& word : a.text) text += (text.empty() ? "" : " ") + word;
    // The client drops entries it cannot send without saying so; say it here.
    cDBLogItem probe;
    if (!probe.SetUnit(a.unit) || !probe.SetType(a.logType) || !probe.SetSuccess(a.outcome)) {
        std::cerr << "tesselctl: a unit has at most 15 characters, a type at most 20, and the "
                     "outcome is -1, 0 or 1\n";
        return kUsage;
    }
    cDBLogUnit unit;
    if (s.Client().GetLogUnits().GetUnits().TryGetValue(a.unit, unit) && level < unit.GetLevel()) {
        std::cerr << "tesselctl: not recorded: unit " << a.unit << " records from level "
                  << cDBLogItem::GetLevelString(unit.GetLevel()) << " on\n";
        return kDone;
    }
    const kora::cTime since = kora::cTime::Now();
    s.Client().Log(a.unit, level, a.logType, text, a.logUser, a.outcome);
    if (!s.Barrier()) return s.Refused("writing the log entry", since);
    return kDone;
}

int CmdLogRead(cSession& s, const cArgs& a) {
    unsigned level = 0;
    kora::cTime from;
    if (!ParseLevel(a.minLevel, level) || !ParseTime(a.since, kora::cTime(), from)) return kUsage;
    // Pages of entries, each after the last one seen; the newest `count` stay.
    std::deque<std::pair<unsigned, cDBLogItem>> kept;
    kora::s_uint64 after = 0;
    const kora::cTime since = kora::cTime::Now();
    for (;;) {
        auto page =
            kora::Ref<cDBLogResult>::Adopt(s.Client().ReadLog(from, a.unit, level, 0, after));
        if (!page) return s.Refused("reading the log book", since);
        for (const auto& entry : page->GetEntries()) {
            kept.emplace_back(entry.first, entry.second);
            if (kept.size() > a.logCount) kept.pop_front();
            after = entry.first;
        }
        if (page->GetEntries().size() < 255) break;
    }
    if (s.Global().json) {
        Json::Value out(Json::arrayValue);
        for (const auto& entry : kept) {
            Json::Value e;
            e["ID"] = entry.first;
            entry.second.ToJSONValue(e["Entry"]);
            out.append(e);
        }
        PrintJson(out);
    } else {
        for (const auto& entry : kept) std::cout << Line(entry.second) << "\n";
    }
    return kDone;
}

int CmdLogExport(cSession& s, const cArgs& a) {
    unsigned level = 0;
    kora::cTime from, to;
    kora::cTime end;
    end.FromSeconds(INT64_MAX / 1000000);
    if (!ParseLevel(a.minLevel, level) || !ParseTime(a.since, kora::cTime(), from) ||
        !ParseTime(a.until, end, to))
        return kUsage;
    std::set<kora::s_string> units(a.units.begin(), a.units.end());
    const kora::cTime since = kora::cTime::Now();
    return Outcome(s, s.Client().ExportLog(from, to, level, units, AbsolutePath(a.file)),
                   "log book export", since);
}

}  // namespace tesselctl
