// The access collection: turns the access configuration into the table of
// what each privilege level may see and change.
#pragma once

#include <set>
#include <string>

#include "tessel/collection.h"
#include "tessel/export.h"
#include "tessel/items_device.h"

namespace tessel {

// Follows "/Config/System/Access/". Privilege levels 0 to 3 have a row of
// grants (0 none, 1 see, 2 see and change) over every access class. Rows 1
// (guest) and 2 (user) follow the "GuestAccessConfig" and "UserAccessConfig"
// items at every sync end; rows 0 and 3, and the classes no item configures,
// are fixed. The TACACS+ and RADIUS configuration of the same directory is
// kept alongside.
struct TESSEL_API AccessItemNames {
    static constexpr const char* kNames[] = {"GuestAccessConfig", "UserAccessConfig"};
};

class TESSEL_API cDBAccessCollection
    : public cSlotCollection<cDBAccessCollection, NamedSlot<cDBConfigAccess, AccessItemNames>,
                             SingleSlot<cDBConfigTacacs>, SingleSlot<cDBConfigRadius>> {
  public:
    static constexpr const char* kPath = "/Config/System/Access/";
    static constexpr const char* kText = "cDBAccessCollection";
    explicit cDBAccessCollection(const std::string& path = kPath);

    // Commits, then rows 1 and 2 follow the committed items.
    void EndSync() override;

    // The access classes a level may at least see; empty for an unknown level.
    void GetVisibleAccessClasses(unsigned level, std::set<std::string>& classes);
    // Whether `level` is granted at least `required` on `accessClass`.
    bool ValidateAccess(unsigned level, const std::string& accessClass, unsigned required);

    const cDBConfigAccess& GetGuestAccess() const {
        return *std::get<0>(m_slots).Find("GuestAccessConfig");
    }
    const cDBConfigAccess& GetUserAccess() const {
        return *std::get<0>(m_slots).Find("UserAccessConfig");
    }
    const cDBConfigTacacs& GetTacacs() const { return Get<cDBConfigTacacs>(); }
    const cDBConfigRadius& GetRadius() const { return Get<cDBConfigRadius>(); }

  private:
    kora::cMap<unsigned, kora::cMap<std::string, kora::s_uint8>> m_table;
};

}  // namespace tessel
