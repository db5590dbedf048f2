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
class TESSEL_API cDBAccessCollection : public cDBCollection {
  public:
    cDBAccessCollection();

    bool ValidateDBItem(cDBItem* item) override;
    void EndSync() override;
    bool HasChanged() override;
    std::string ToString(const std::string&) const override { return "cDBAccessCollection"; }

    // The access classes a level may at least see; empty for an unknown level.
    void GetVisibleAccessClasses(unsigned level, std::set<std::string>& classes);
    // Whether `level` is granted at least `required` on `accessClass`.
    bool ValidateAccess(unsigned level, const std::string& accessClass, unsigned required);

    const cDBConfigAccess& GetGuestAccess() const { return m_guest.committed; }
    const cDBConfigAccess& GetUserAccess() const { return m_user.committed; }
    const cDBConfigTacacs& GetTacacs() const { return m_tacacs.committed; }
    const cDBConfigRadius& GetRadius() const { return m_radius.committed; }

  private:
    kora::cMap<unsigned, kora::cMap<std::string, kora::s_uint8>> m_table;
    SingleSlot<cDBConfigAccess> m_guest, m_user;
    SingleSlot<cDBConfigTacacs> m_tacacs;
    SingleSlot<cDBConfigRadius> m_radius;
};

}  // namespace tessel
