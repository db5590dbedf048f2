// Diagnostic records.
//
// Records go to stderr by default. Two environment variables, read once:
//   KORA_TRACE_LEVEL  records whose level is below this number are dropped (default 0: keep all;
//                     levels are 0 informational, 1 error)
//   KORA_TRACE_FILE   append records to this file instead of stderr
#pragma once

#include <functional>
#include <string>

namespace kora {

struct cTraceRecord {
    std::string module, version;
    int level = 0;
    std::string text, detail, file;
    int line = 0;
};

class cTracepoint {
  public:
    static void Call(const char* module, const char* version, int level, const std::string& text,
                     const std::string& detail, const char* file, int line);
    // Replaces the output with a handler (tests capture records this way); an
    // empty handler restores the default output. The level filter still applies.
    static void SetHandler(std::function<void(const cTraceRecord&)> handler);
};

}  // namespace kora
