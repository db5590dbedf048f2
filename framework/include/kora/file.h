// Small file helpers.
#pragma once

#include <cstdio>
#include <string>

#include "kora/export.h"

namespace kora {

// One open file; closed on destruction.
class KORA_API cFile {
  public:
    cFile() = default;
    ~cFile() { Close(); }
    cFile(const cFile&) = delete;
    cFile& operator=(const cFile&) = delete;

    // mode as for fopen ("r", "w", "a", ...). Returns false when the file cannot be opened.
    bool Open(const std::string& path, const char* mode);
    bool IsOpen() const { return m_fp != nullptr; }
    // Returns the number of bytes written.
    size_t Write(const void* data, size_t size);
    size_t Write(const std::string& text) { return Write(text.data(), text.size()); }
    void Close();

    static bool Exists(const std::string& path);
    static bool Delete(const std::string& path);

  private:
    FILE* m_fp = nullptr;
};

struct KORA_API cFileHelper {
    // Reads the whole file into `text`; false when it cannot be opened or read.
    static bool StringFromFile(const std::string& path, std::string& text);
};

}  // namespace kora
