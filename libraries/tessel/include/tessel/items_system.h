// Items that describe the system rather than configure one of its functions:
// user accounts, the listing of a directory of items, and the features this
// device has.
#pragma once

#include <set>
#include <utility>

#include "tessel/record.h"

namespace tessel {

// One user account: the item's name is the user name. The login password is
// not part of the item (the password messages carry it); the SNMP passwords are.
class TESSEL_API cDBUser : public cDBRecord<cDBUser> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBUser", "UserObject", ACCESS_CLASS_ADMIN_ONLY, 3, VersionsFrom(3, 3), "", "/Users/"};
    cDBUser() { SetDefault(); }
    std::string ToString(const std::string&) const override;

    bool SetAccessLevel(kora::s_uint32 v) { return Set(m_AccessLevel, v); }  // 0..3
    bool SetComplexity(kora::s_uint32 v) { return Set(m_Complexity, v); }    // code 0..3
    bool SetMinLen(kora::s_uint32 v) { return Set(m_MinLen, v); }            // 0..255 characters
    void SetSNMPEnabled(bool v) { m_SNMPEnabled = v; }
    bool SetSNMPAuthPassword(const std::string& v) { return Set(m_SNMPAuthPassword, v); }
    bool SetSNMPCryptPassword(const std::string& v) { return Set(m_SNMPCryptPassword, v); }

    kora::s_uint8 GetAccessLevel() const { return m_AccessLevel; }
    kora::s_uint8 GetComplexity() const { return m_Complexity; }
    kora::s_uint8 GetMinLen() const { return m_MinLen; }
    bool GetSNMPEnabled() const { return m_SNMPEnabled; }
    const kora::s_string& GetSNMPAuthPassword() const { return m_SNMPAuthPassword; }
    const kora::s_string& GetSNMPCryptPassword() const { return m_SNMPCryptPassword; }

  private:
    kora::s_uint8 m_AccessLevel, m_Complexity, m_MinLen;
    kora::s_bool m_SNMPEnabled;
    kora::s_string m_SNMPAuthPassword, m_SNMPCryptPassword;

  public:
    static const Table<cDBUser>& Fields() {
        using C = cDBUser;
        // "AccessLevel" leads the binary form but is optional in JSON; the engine
        // reads optional members after all required ones, so it is handled last
        // there and a document written without it keeps level 0.
        static const Table<C> rows{{
            Field(&C::m_AccessLevel, "AccessLevel", 0).Since(3).Range(0, 3).Optional(),
            Field(&C::m_Complexity, "Complexity", 0).Since(3).Range(0, 3),
            Field(&C::m_MinLen, "MinLen", 0).Since(3).Range(0, 255),
            Field(&C::m_SNMPEnabled, "SNMPEnabled", false).Since(3),
            Field(&C::m_SNMPAuthPassword, "SNMPAuthPassword", "")
                .Since(3)
                .Check(IsSnmpPassword)
                .Masked(),
            Field(&C::m_SNMPCryptPassword, "SNMPCryptPassword", "")
                .Since(3)
                .Check(IsSnmpPassword)
                .Masked(),
        }};
        return rows;
    }
};

// The listing of one directory of items, as the server hands it out. Entries
// are grouped by rank (GetRank() of the listed item, 0 for items without one)
// and within a rank by entry name, so a listing reads in rank and then name
// order; each entry holds the listed item's type name and display information.
// Name and directory are those of the listed directory and are kept exactly as
// given, never normalised; the access class of the listed items is a field of
// its own. The host fills a listing directly; nothing is validated.
class TESSEL_API cDBDirectory : public cDBItemOf<cDBDirectory> {
  public:
    using Info = kora::cMap<kora::s_string, kora::s_string>;
    using Entry = std::pair<kora::s_string, Info>;    // type name, display information
    using Group = kora::cMap<kora::s_string, Entry>;  // one rank, by entry name
    using Entries = kora::cMap<unsigned int, Group>;  // by rank

    static constexpr size_t kEngineBaseSize = sizeof(cDBItem);
    // The access class is carried by each listing, so the row names none.
    static constexpr ItemInfo kInfo = {"cDBDirectory",     "Directory", "", 4,
                                       VersionsFrom(4, 4), "",          ""};

    // Name, directory and access class empty, no entries.
    cDBDirectory() = default;

    using cDBItem::Deserialize;
    using cDBItem::Serialize;
    using cDBItem::ToJSON;
    kora::s_string GetAccessClass() const override { return m_accessClass; }
    bool Serialize(kora::cSerializeBuffer& buffer) const override;
    // Empties the entries first, whatever the buffer holds.
    int Deserialize(kora::cSerializeBuffer& buffer) override;
    std::string ToString(const std::string&) const override;
    // "Entries" in place of "Data"; ranks and the access class are not written
    // and there are no secrets to mask.
    bool ToJSON(Json::Value& root, bool mask) override;
    // Takes name and directory only: a listing read from JSON has no entries.
    bool FromJSON(const kora::s_string& text, std::set<std::string>& rejected) override;

    // The binary form's rows after name and directory: the entries by rank,
    // then the access class.
    static const Table<cDBDirectory>& Fields();
    const cRecordTable* FieldTable() const override { return &Fields(); }

    Entries& GetEntries() { return m_entries; }
    const Entries& GetEntries() const { return m_entries; }
    void SetAccessClass(const std::string& accessClass) { m_accessClass = accessClass; }
    // Lists one entry, replacing an entry of the same rank and name.
    void AddEntry(unsigned int rank, const std::string& name, const std::string& type,
                  const Info& info = Info());
    // Lists an item under its own rank, name, type name and display information.
    void AddItem(cDBItem& item);

  private:
    Entries m_entries;
    kora::s_string m_accessClass;
};

// The features this device has ("ManagedSwitch", "Wireless4G", ...). The set
// is one per process and shared by every cDBFeatureList object; the item holds
// no field. Receiving a feature list (Deserialize) replaces the process's set,
// and item setters that depend on the hardware ask HasFeature. Several clients
// of one process may receive lists at once, so the set guards itself.
class TESSEL_API cDBFeatureList : public cDBItemOf<cDBFeatureList> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBFeatureList",   "FeatureListObject", ACCESS_CLASS_EVERYONE, 1,
        VersionsFrom(1, 1), "FeatureList",       "/Features/"};

    cDBFeatureList() : cDBItemOf(true) {}

    static void AddFeature(const std::string& name);
    static bool HasFeature(const std::string& name);
    // Counted: while anyone keeps the set (each cDataServer does, for its
    // life), a received feature list is read and checked but leaves the set
    // alone. A data server's features are the device's, from its own
    // configuration; a peer sending one as an item or a flag must not change
    // them. AddFeature still adds.
    static void KeepFeatures(bool keep);

    using cDBItem::Deserialize;
    using cDBItem::Serialize;
    using cDBItem::ToJSON;

    // Writes the process's whole feature set.
    bool Serialize(kora::cSerializeBuffer& buffer) const override;
    // Empties the process's set, then fills it from the buffer; a refused
    // version or a damaged buffer leaves it empty. A kept set stays as it is.
    int Deserialize(kora::cSerializeBuffer& buffer) override;
    std::string ToString(const std::string&) const override { return "cDBFeatureList"; }
    // "Data" holds one true member per feature and is left out when there is none.
    bool ToJSON(Json::Value& root, bool mask) override;
    // A feature list cannot be loaded from JSON; always false.
    bool FromJSON(const kora::s_string& text, std::set<std::string>& rejected) override;

  private:
    bool ReadFeatures(kora::cSerializeBuffer& b, std::set<kora::s_string>& out);
};

}  // namespace tessel
