#include "logbook.h"

namespace tesseld {

namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS log(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,
                               unit TEXT NOT NULL, level INTEGER NOT NULL, type TEXT NOT NULL,
                               text TEXT NOT NULL, object TEXT NOT NULL, peer TEXT NOT NULL,
                               user TEXT NOT NULL, outcome INTEGER NOT NULL,
                               status INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS log_by_unit ON log(unit, id);
CREATE INDEX IF NOT EXISTS log_by_time ON log(time);
)";

constexpr const char* kColumns =
    "id, time, unit, level, type, text, object, peer, user, outcome, status";

// Trimming to the total bound runs once per this many appends.
constexpr unsigned kTrimEvery = 64;

tessel::cDBLogItem EntryOf(const cStatement& st) {
    tessel::cDBLogItem entry;
    kora::cTime time;
    time.FromMicroseconds(st.Int(1));
    entry.SetTime(time);
    entry.SetUnit(st.Text(2));
    entry.SetLevel(static_cast<kora::s_uint32>(st.Int(3)));
    entry.SetType(st.Text(4));
    entry.SetText(st.Text(5));
    entry.SetObject(st.Text(6));
    entry.SetPeer(st.Text(7));
    entry.SetUser(st.Text(8));
    entry.SetSuccess(static_cast<kora::s_int32>(st.Int(9)));
    entry.SetStatus(st.Int(10));
    return entry;
}

}  // namespace

bool cLogBook::Open(const std::string& file, size_t maxEntries, std::string& error) {
    m_maxEntries = maxEntries;
    if (!m_db.Open(file, Durability::Normal) || !m_db.Exec(kSchema)) {
        error = m_db.Error();
        return false;
    }
    TrimTotal();
    return true;
}

bool cLogBook::Append(const tessel::cDBLogItem& entry, const cUnitPolicy& policy) {
    if (entry.GetLevel() < policy.level) return true;
    cTransaction tx(m_db);
    if (!tx.Began()) return false;
    const std::string unit = entry.GetUnit();
    bool ok = cStatement(m_db,
                         "INSERT INTO log(time, unit, level, type, text, object, peer, user, "
                         "outcome, status) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                  .BindAll(int64_t(entry.GetTime().ToMicroseconds()), unit,
                           int64_t(entry.GetLevel()), std::string(entry.GetType()),
                           std::string(entry.GetText()), std::string(entry.GetObject()),
                           std::string(entry.GetPeer()), std::string(entry.GetUser()),
                           int64_t(entry.GetSuccess()), int64_t(entry.GetStatus()))
                  .Run();
    // Keep the newest `depth` entries of the unit.
    ok = ok && cStatement(m_db,
                          "DELETE FROM log WHERE unit = ?1 AND id <= (SELECT id FROM log WHERE "
                          "unit = ?1 ORDER BY id DESC LIMIT 1 OFFSET ?2)")
                   .BindAll(unit, int64_t(policy.depth))
                   .Run();
    ok = ok && tx.Commit();
    if (ok && ++m_sinceTrim >= kTrimEvery) TrimTotal();
    return ok;
}

void cLogBook::TrimTotal() {
    m_sinceTrim = 0;
    cStatement(m_db,
               "DELETE FROM log WHERE id <= (SELECT id FROM log ORDER BY id DESC LIMIT 1 OFFSET ?)")
        .BindAll(int64_t(m_maxEntries))
        .Run();
}

kora::Ref<tessel::cDBLogResult> cLogBook::Read(const kora::cTime& from, const std::string& unit,
                                               unsigned level, unsigned count, uint64_t after) {
    if (count == 0 || count > kMaxReadCount) count = kMaxReadCount;
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM log WHERE id > ? AND time >= ? AND level >= ? AND (? = '' OR "
                            "unit = ?) ORDER BY id LIMIT ?";
    cStatement st(m_db, sql.c_str());
    // Entry numbers beyond the signed range match nothing.
    int64_t first = after > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(after);
    st.BindAll(first, int64_t(from.ToMicroseconds()), int64_t(level), unit, unit, int64_t(count));
    auto result = kora::Ref<tessel::cDBLogResult>::Adopt(kora::New<tessel::cDBLogResult>());
    if (!result) return result;
    while (st.Step()) result->AddEntry(static_cast<unsigned>(st.Int(0)), EntryOf(st));
    return st.Failed() ? kora::Ref<tessel::cDBLogResult>() : result;
}

bool cLogBook::Export(const kora::cTime& from, const kora::cTime& to, unsigned level,
                      const std::set<kora::s_string>& units, std::string& lines) {
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM log WHERE time >= ? AND time <= ? AND level >= ? ORDER BY id";
    cStatement st(m_db, sql.c_str());
    st.BindAll(int64_t(from.ToMicroseconds()), int64_t(to.ToMicroseconds()), int64_t(level));
    lines.clear();
    while (st.Step()) {
        if (!units.empty() && !units.count(st.Text(2))) continue;
        lines += EntryOf(st).ToExportString();
    }
    return !st.Failed();
}

int64_t cLogBook::Count() {
    cStatement st(m_db, "SELECT COUNT(*) FROM log");
    return st.Step() ? st.Int(0) : 0;
}

}  // namespace tesseld
