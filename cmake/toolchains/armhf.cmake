# 32-bit ARM, hard float: the board itself.
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TESSEL_CROSS_TRIPLE arm-linux-gnueabihf)
set(TESSEL_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
# 64-bit time and file offsets, so that dates after 2038 and large files work
# on a 32-bit C library; none of the dependencies has either in its interface.
# -Wno-psabi: GCC notes every std::map or std::pair argument whose passing
# changed in GCC 7.1; everything here is built by one compiler.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wno-psabi")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wno-psabi")
