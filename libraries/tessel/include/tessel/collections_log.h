// The log-unit collection: the configured depth and level of each log unit.
#pragma once

#include <string>

#include "tessel/collection.h"
#include "tessel/export.h"
#include "tessel/items_log.h"

namespace tessel {

// Follows "/Log/Units/", one cDBLogUnit per unit name. Every client holds one
// and registers it by itself on each connection; its committed levels decide
// which log entries the client drops before sending.
class TESSEL_API cDBLogUnitCollection : public cDBCollection {
  public:
    cDBLogUnitCollection() : cDBCollection("/Log/Units/") {}

    void BeginSync() override { m_units.Begin(); }
    bool ValidateDBItem(cDBItem* item) override { return m_units.Offer(item); }
    void EndSync() override {
        m_units.Commit();
        synced = true;
    }
    bool HasChanged() override { return m_units.Changed(); }
    std::string ToString(const std::string&) const override { return "cDBLogUnitCollection:"; }

    // The committed units, by unit name.
    const kora::cMap<std::string, cDBLogUnit>& GetUnits() const { return m_units.committed; }

  private:
    MapSlot<cDBLogUnit> m_units;
};

}  // namespace tessel
