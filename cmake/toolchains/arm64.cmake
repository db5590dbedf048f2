# 64-bit ARM.
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm64.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TESSEL_CROSS_TRIPLE aarch64-linux-gnu)
set(TESSEL_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
