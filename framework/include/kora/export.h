// Symbol visibility of libkora. The library is built with hidden visibility;
// what its public headers declare is exported with KORA_API, everything else
// (the messaging internals in src/) stays inside the library.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define KORA_API __attribute__((visibility("default")))
#else
#define KORA_API
#endif
