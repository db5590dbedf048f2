# Warning and sanitizer settings shared by every target of the project.
add_library(tessel_warnings INTERFACE)
target_compile_options(tessel_warnings INTERFACE -Wall -Wextra)

if(TESSEL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# Fuzz builds instrument the libraries too, so the fuzzers see their coverage.
if(TESSEL_BUILD_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
