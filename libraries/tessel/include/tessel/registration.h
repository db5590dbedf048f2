// Library entry points and the classes registered when the library loads.
#pragma once

#include <string>
#include <vector>

#include "tessel/export.h"

namespace tessel {

// Each emits one trace record ("dataInit:" / "dataDeinit:"); registration of
// the classes happens at load and does not depend on them.
TESSEL_API void dataInit();
TESSEL_API void dataDeinit();

// Class names of the items registered with the object factory, in
// registration order (tests walk these to cover every class).
TESSEL_API const std::vector<std::string>& RegisteredItemClasses();
// Class names of the protocol payloads registered with the object factory.
TESSEL_API const std::vector<std::string>& RegisteredMessageClasses();

}  // namespace tessel
