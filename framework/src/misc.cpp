#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "kora/file.h"
#include "kora/hash.h"
#include "kora/helper.h"
#include "kora/trace.h"

namespace kora {

std::string FormatString(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[0], out.size(), format, ap);
        out.resize(static_cast<size_t>(n));
    }
    va_end(ap);
    return out;
}

std::vector<std::string> cHelper::GetStringTokens(const std::string& text,
                                                  const std::string& delimiters) {
    std::vector<std::string> tokens;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t start = text.find_first_not_of(delimiters, pos);
        if (start == std::string::npos) break;
        size_t end = text.find_first_of(delimiters, start);
        if (end == std::string::npos) end = text.size();
        tokens.push_back(text.substr(start, end - start));
        pos = end;
    }
    return tokens;
}

// ---- hashing ----

struct cSHA256Calculator::Impl {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Impl() { EVP_MD_CTX_free(ctx); }
    void Reset() { EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr); }
};

cSHA256Calculator::cSHA256Calculator() : m_impl(new Impl) {
    m_impl->Reset();
}
cSHA256Calculator::~cSHA256Calculator() = default;

void cSHA256Calculator::Add(const void* data, size_t size) {
    EVP_DigestUpdate(m_impl->ctx, data, size);
}

std::string cSHA256Calculator::GetResult() {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(m_impl->ctx, md, &len);
    m_impl->Reset();
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(len * 2);
    for (unsigned i = 0; i < len; ++i) {
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

// ---- files ----

bool cFile::Open(const std::string& path, const char* mode) {
    Close();
    m_fp = std::fopen(path.c_str(), mode);
    return m_fp != nullptr;
}

size_t cFile::Write(const void* data, size_t size) {
    return m_fp ? std::fwrite(data, 1, size, m_fp) : 0;
}

void cFile::Close() {
    if (m_fp) std::fclose(m_fp);
    m_fp = nullptr;
}

bool cFile::Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool cFile::Delete(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool cFileHelper::StringFromFile(const std::string& path, std::string& text) {
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) return false;
    std::string out;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) out.append(buf, n);
    bool ok = !std::ferror(fp);
    std::fclose(fp);
    if (ok) text.swap(out);
    return ok;
}

// ---- tracing ----

namespace {
struct TraceState {
    std::mutex lock;
    int minLevel = 0;
    FILE* out = stderr;
    std::function<void(const cTraceRecord&)> handler;
    TraceState() {
        if (const char* lvl = std::getenv("KORA_TRACE_LEVEL")) minLevel = std::atoi(lvl);
        if (const char* file = std::getenv("KORA_TRACE_FILE")) {
            if (FILE* fp = std::fopen(file, "a")) out = fp;
        }
    }
};
TraceState& trace() {
    static TraceState* s = new TraceState;  // lives until the process ends
    return *s;
}
}  // namespace

void cTracepoint::Call(const char* module, const char* version, int level, const std::string& text,
                       const std::string& detail, const char* file, int line) {
    TraceState& s = trace();
    std::unique_lock<std::mutex> g(s.lock);
    if (level < s.minLevel) return;
    if (s.handler) {
        // The handler runs outside the lock, so it may trace (or replace itself) in turn.
        std::function<void(const cTraceRecord&)> handler = s.handler;
        g.unlock();
        cTraceRecord r;
        r.module = module ? module : "";
        r.version = version ? version : "";
        r.level = level;
        r.text = text;
        r.detail = detail;
        r.file = file ? file : "";
        r.line = line;
        handler(r);
        return;
    }
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::fprintf(s.out, "%lld.%03ld [%d] %s/%s %s%s%s (%s:%d)\n", static_cast<long long>(ts.tv_sec),
                 ts.tv_nsec / 1000000, level, module ? module : "", version ? version : "",
                 text.c_str(), detail.empty() ? "" : " ", detail.c_str(), file ? file : "", line);
    std::fflush(s.out);
}

void cTracepoint::SetHandler(std::function<void(const cTraceRecord&)> handler) {
    TraceState& s = trace();
    std::lock_guard<std::mutex> g(s.lock);
    s.handler = std::move(handler);
}

cTraceLimiter::cTraceLimiter(unsigned burst, unsigned intervalMs)
    : m_burst(burst ? burst : 1),
      m_perMs(1.0 / (intervalMs ? intervalMs : 1)),
      m_tokens(m_burst),
      m_last(std::chrono::steady_clock::now()) {}

bool cTraceLimiter::Allow(size_t& held) {
    std::lock_guard<std::mutex> g(m_lock);
    const auto now = std::chrono::steady_clock::now();
    const double ms = std::chrono::duration<double, std::milli>(now - m_last).count();
    m_last = now;
    m_tokens = std::min(m_burst, m_tokens + ms * m_perMs);
    if (m_tokens < 1) {
        ++m_held;
        return false;
    }
    m_tokens -= 1;
    held = m_held;
    m_held = 0;
    return true;
}

}  // namespace kora
