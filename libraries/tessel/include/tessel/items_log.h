// The logbook: entries as the device's programs write them under a unit name
// (cDBLogItem), numbered batches of entries as a logbook query returns them
// (cDBLogResult), and per unit how many entries are kept and from which level
// on (cDBLogUnit).
#pragma once

#include <json/value.h>

#include <string>

#include "kora/types.h"
#include "tessel/record.h"

namespace tessel {

// Log levels, as GetLevelString names them.
enum LogLevel : unsigned {
    kLogDebug = 0,
    kLogInfo = 1,
    kLogWarning = 2,
    kLogError = 3,
    kLogFatal = 4,
};

// One logbook entry. Not an item: it has no name, directory, JSON type or
// access class, only a binary and a text form. Unit, level, type and outcome
// refuse values out of bounds; text, object, peer and user are cut to length,
// so an entry can always be written.
class TESSEL_API cDBLogItem : public kora::ISerialize, public cRecord {
  public:
    static constexpr size_t kEngineBaseSize = sizeof(kora::ISerialize);
    static constexpr size_t kMaxUnit = 15;
    static constexpr size_t kMaxType = 20;
    static constexpr size_t kMaxText = 200;
    static constexpr size_t kMaxObject = 100;
    static constexpr size_t kMaxPeer = 30;
    static constexpr size_t kMaxUser = 50;

    // The time is now, every other field empty or 0.
    cDBLogItem() { SetDefault(); }

    using kora::ISerialize::Deserialize;
    using kora::ISerialize::Serialize;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "cDBLogItem"; }
    bool Serialize(kora::cSerializeBuffer& buffer) const override;
    // Resets the entry first; a version other than 1 leaves it reset.
    int Deserialize(kora::cSerializeBuffer& buffer) override;
    std::string ToString(const std::string&) const override;

    void SetDefault();
    // "DEBUG", "INFO", "WARNING", "ERROR", "FATAL" for 0 to 4; "" otherwise.
    static std::string GetLevelString(kora::s_uint8 level);
    // One line of the logbook export:
    // "date time;unit;level;level name;type;text;user;status in hex\n".
    std::string ToExportString() const;
    // "Time" (seconds), "Unit", "Level", "Type", "Text", "Object", "Peer",
    // "User", "Outcome", "Status".
    void ToJSONValue(Json::Value& value) const;

    void SetTime(const kora::cTime& time) { m_time = time; }
    bool SetUnit(const std::string& unit);
    bool SetLevel(kora::s_uint32 level);
    bool SetType(const std::string& type);
    // Cut to 200 characters, then every line feed and carriage return is
    // removed, so the export stays one line per entry.
    bool SetText(const std::string& text);
    bool SetObject(const std::string& object);
    bool SetPeer(const std::string& peer);
    bool SetUser(const std::string& user);
    // -1 failure, 0 neutral, 1 success.
    bool SetSuccess(kora::s_int32 outcome);
    void SetStatus(kora::s_int64 status) { m_status = status; }

    const kora::cTime& GetTime() const { return m_time; }
    const kora::s_string& GetUnit() const { return m_unit; }
    kora::s_uint8 GetLevel() const { return m_level; }
    const kora::s_string& GetType() const { return m_type; }
    const kora::s_string& GetText() const { return m_text; }
    const kora::s_string& GetObject() const { return m_object; }
    const kora::s_string& GetPeer() const { return m_peer; }
    const kora::s_string& GetUser() const { return m_user; }
    kora::s_int8 GetSuccess() const { return m_outcome; }
    kora::s_int64 GetStatus() const { return m_status; }

  private:
    kora::cTime m_time;
    kora::s_string m_unit;
    kora::s_uint8 m_level;
    kora::s_string m_type, m_text, m_object, m_peer, m_user;
    kora::s_int8 m_outcome;
    kora::s_int64 m_status;

  public:
    // Checks of the setters that refuse; the binary form takes what it reads.
    static const Table<cDBLogItem>& Fields() {
        using C = cDBLogItem;
        static const Table<C> rows{{
            Field(&C::m_time, "Time").Kind(kJsonInt64),
            Field(&C::m_unit, "Unit").Check(MaxLength<kMaxUnit>),
            Field(&C::m_level, "Level").Range(kLogDebug, kLogFatal),
            Field(&C::m_type, "Type").Check(MaxLength<kMaxType>),
            Field(&C::m_text, "Text"),
            Field(&C::m_object, "Object"),
            Field(&C::m_peer, "Peer"),
            Field(&C::m_user, "User"),
            Field(&C::m_outcome, "Outcome").Range(-1, 1),
            Field(&C::m_status, "Status"),
        }};
        return rows;
    }
};

// A batch of logbook entries keyed by entry number, as a query returns them.
class TESSEL_API cDBLogResult : public kora::ISerialize, public cRecord {
  public:
    static constexpr size_t kEngineBaseSize = sizeof(kora::ISerialize);
    using Entries = kora::cMap<unsigned int, cDBLogItem>;

    cDBLogResult() { SetDefault(); }

    using kora::ISerialize::Deserialize;
    using kora::ISerialize::Serialize;
    unsigned Version() const override { return 1; }
    std::string TypeName() const override { return "cDBLogResult"; }
    bool Serialize(kora::cSerializeBuffer& buffer) const override;
    // Empties the batch first; of a number that occurs twice the first entry
    // stays. A refused version or a damaged buffer leaves the batch empty.
    int Deserialize(kora::cSerializeBuffer& buffer) override;
    std::string ToString(const std::string&) const override;

    void SetDefault() { m_entries.clear(); }
    // Stores a copy of `entry` under `number`, replacing one of that number.
    void AddEntry(unsigned int number, const cDBLogItem& entry);
    const Entries& GetEntries() const { return m_entries; }
    // root["Entries"]: {"ID", "Entry"} per entry in ascending number. Entries
    // hold no secrets, so there is nothing to mask.
    bool ToJSON(Json::Value& root, bool mask) const;

  private:
    Entries m_entries;

  public:
    using Entry = MapEntry<kora::s_uint32, cDBLogItem>;
    static const Table<cDBLogResult>& Fields() {
        static const Table<Entry> entry{{Field(&Entry::key), Field(&Entry::value)}};
        static const Table<cDBLogResult> rows{
            {List<Entry>(&cDBLogResult::m_entries, "Entries", "", entry).NoJson().FirstWins()}};
        return rows;
    }
};

// One logbook unit, named by the unit: how many entries its logbook keeps and
// the lowest level that is recorded.
class TESSEL_API cDBLogUnit : public cDBRecord<cDBLogUnit> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBLogUnit", "LogUnitObject", ACCESS_CLASS_LOGBOOK, 1, VersionsFrom(1, 1),
        "",           "/Log/Units/"};
    cDBLogUnit() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    bool SetDepth(kora::s_uint32 v) { return Set(m_Depth, v); }  // 0..5000 entries
    bool SetLevel(kora::s_uint32 v) { return Set(m_Level, v); }  // 0..4: kLogDebug..kLogFatal
    kora::s_uint16 GetDepth() const { return m_Depth; }
    kora::s_uint8 GetLevel() const { return m_Level; }

  private:
    kora::s_uint16 m_Depth;
    kora::s_uint8 m_Level;

  public:
    static const Table<cDBLogUnit>& Fields() {
        using C = cDBLogUnit;
        static const Table<C> rows{{
            Field(&C::m_Depth, "Depth", 3000).Range(0, 5000),
            Field(&C::m_Level, "Level", 1).Range(0, 4),
        }};
        return rows;
    }
};

}  // namespace tessel
