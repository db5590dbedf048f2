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
class TESSEL_API cDBLogUnitCollection
    : public cSlotCollection<cDBLogUnitCollection, MapSlot<cDBLogUnit>> {
  public:
    static constexpr const char* kPath = "/Log/Units/";
    static constexpr const char* kText = "cDBLogUnitCollection:";
    explicit cDBLogUnitCollection(const std::string& path = kPath) : cSlotCollection(path) {}

    // The committed units, by unit name.
    const kora::cMap<std::string, cDBLogUnit>& GetUnits() const { return GetAll<cDBLogUnit>(); }
};

}  // namespace tessel
