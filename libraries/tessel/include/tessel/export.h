// Symbol visibility of libtessel. TESSEL_API marks what the public headers
// export. The library is still built with default visibility (everything
// exported); configuring with -DTESSEL_HIDDEN_VISIBILITY=ON hides what is not
// marked, once every public header carries the mark.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define TESSEL_API __attribute__((visibility("default")))
#else
#define TESSEL_API
#endif
