// Factory look-ups by a name that is not a std::string (a type name read in
// place from a received frame). Private to kora's sources.
#pragma once

#include <string_view>

#include "kora/serialize.h"

namespace kora {
namespace detail {

// A new object of the type registered under `typeName` with one reference, or null.
ISerialize* CreateByName(std::string_view typeName);
bool IsRegisteredName(std::string_view typeName);

}  // namespace detail
}  // namespace kora
