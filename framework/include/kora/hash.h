// Message digests over libcrypto.
#pragma once

#include <memory>
#include <string>

#include "kora/export.h"

namespace kora {

// A running digest; GetResult gives it as lower-case hex text.
class KORA_API cHashCalculator {
  public:
    virtual ~cHashCalculator() = default;
    virtual void Add(const void* data, size_t size) = 0;
    void Add(const std::string& text) { Add(text.data(), text.size()); }
    // The digest of everything added so far, as lower-case hex; the calculator
    // starts afresh afterwards.
    virtual std::string GetResult() = 0;
};

class KORA_API cSHA256Calculator : public cHashCalculator {
  public:
    cSHA256Calculator();
    ~cSHA256Calculator() override;
    cSHA256Calculator(const cSHA256Calculator&) = delete;
    cSHA256Calculator& operator=(const cSHA256Calculator&) = delete;
    using cHashCalculator::Add;  // keep Add(text) visible next to the override
    void Add(const void* data, size_t size) override;
    std::string GetResult() override;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace kora
