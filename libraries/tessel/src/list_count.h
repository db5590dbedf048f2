// Reading the element count in front of a list in a binary form.
#pragma once

#include <cstdint>

#include "kora/types.h"

namespace tessel {

// Smallest wire sizes of the pieces lists are built from: a version record
// and a 32-bit value, or a version record and an empty string's length.
constexpr unsigned kMinUInt32Bytes = 2 + 4;
constexpr unsigned kMinStringBytes = 2 + 4;

// Reads a kora::s_uint32 count of elements that each take at least
// `minElementBytes` on the wire. A count that the rest of the buffer cannot
// hold is refused before anything is allocated or looped over, so a damaged
// or hostile count costs nothing.
inline bool ReadListCount(kora::cSerializeBuffer& buffer, unsigned minElementBytes,
                          uint32_t& count) {
    kora::s_uint32 n;
    if (!n.Deserialize(buffer)) return false;
    if (minElementBytes > 0 && n.Value() > buffer.Remaining() / minElementBytes) return false;
    count = n;
    return true;
}

}  // namespace tessel
