// Diagnostic records.
//
// Records go to stderr by default. Two environment variables, read once:
//   KORA_TRACE_LEVEL  records whose level is below this number are dropped (default 0: keep all;
//                     levels are 0 informational, 1 error)
//   KORA_TRACE_FILE   append records to this file instead of stderr
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "kora/export.h"

namespace kora {

struct KORA_API cTraceRecord {
    std::string module, version;
    int level = 0;
    std::string text, detail, file;
    int line = 0;
};

class KORA_API cTracepoint {
  public:
    static void Call(const char* module, const char* version, int level, const std::string& text,
                     const std::string& detail, const char* file, int line);
    // Replaces the output with a handler (tests capture records this way); an
    // empty handler restores the default output. The level filter still applies.
    static void SetHandler(std::function<void(const cTraceRecord&)> handler);
};

// Keeps records that a peer can provoke from flooding the log: a burst of
// records passes, then one per interval; what was held back is counted and
// reported with the next record that passes.
class KORA_API cTraceLimiter {
  public:
    explicit cTraceLimiter(unsigned burst = 10, unsigned intervalMs = 1000);
    // True when a record may be written now; `held` is then the number of
    // records held back since the last one that passed.
    bool Allow(size_t& held);

  private:
    std::mutex m_lock;
    const double m_burst;
    const double m_perMs;
    double m_tokens;
    std::chrono::steady_clock::time_point m_last;
    size_t m_held = 0;
};

}  // namespace kora
