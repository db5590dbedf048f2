// The log book: entries the device's programs write under a unit name, kept
// per unit up to the unit's depth, and in total up to a bound, so no writer
// can make it grow without end.
//
// It lives in a file of its own, committed without waiting for the disk:
// entries arrive often, and syncing each one would wear the flash. A crash of
// the process loses nothing; a power cut may lose the last entries.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "database.h"
#include "kora/serialize.h"
#include "tessel/items_log.h"

namespace tesseld {

// What a unit's log-unit item says: how many entries are kept and from which
// level on entries are recorded.
struct cUnitPolicy {
    unsigned depth;
    unsigned level;
};

class cLogBook {
  public:
    // Most entries one read returns.
    static constexpr unsigned kMaxReadCount = 255;

    bool Open(const std::string& file, size_t maxEntries, std::string& error);
    const std::string& Error() const { return m_db.Error(); }

    // Records the entry unless its level is below the policy's; then drops
    // the unit's oldest entries beyond its depth.
    bool Append(const tessel::cDBLogItem& entry, const cUnitPolicy& policy);

    // Entries numbered above `after`, at or after `from`, of `unit` (every
    // unit when empty) and at least `level`, oldest first; at most `count`
    // (0 and anything above kMaxReadCount read kMaxReadCount).
    kora::Ref<tessel::cDBLogResult> Read(const kora::cTime& from, const std::string& unit,
                                         unsigned level, unsigned count, uint64_t after);

    // Export lines of the entries between `from` and `to` (inclusive), of
    // `units` (every unit when empty), at least `level`, oldest first.
    bool Export(const kora::cTime& from, const kora::cTime& to, unsigned level,
                const std::set<kora::s_string>& units, std::string& lines);

    int64_t Count();

  private:
    void TrimTotal();

    cDatabase m_db;
    size_t m_maxEntries = 0;
    unsigned m_sinceTrim = 0;
};

}  // namespace tesseld
