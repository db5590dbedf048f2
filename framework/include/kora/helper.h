// Text helpers.
#pragma once

#include <string>
#include <vector>

#include "kora/export.h"

namespace kora {

// printf-style formatting into a std::string.
KORA_API std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct KORA_API cHelper {
    // Splits `text` at any of the `delimiters` characters. Empty tokens (from
    // leading, trailing or repeated delimiters) are dropped.
    static std::vector<std::string> GetStringTokens(const std::string& text,
                                                    const std::string& delimiters);
};

}  // namespace kora
