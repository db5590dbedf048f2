# Cross-building with Debian's cross compilers against the multiarch -dev
# packages of the dependencies (installed as NAME:ARCH, see .ci/cross).
# Included by the per-architecture files, which set TESSEL_CROSS_TRIPLE and
# TESSEL_CROSS_QEMU first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TESSEL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TESSEL_CROSS_TRIPLE}-g++)
# find_library and find_package look in /usr/lib/<triple> (multiarch), and the
# host's own libraries are never taken by mistake: pkg-config reads only the
# target's .pc files, which the find modules use as hints.
set(CMAKE_LIBRARY_ARCHITECTURE ${TESSEL_CROSS_TRIPLE})
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${TESSEL_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# Programs built here run under qemu-user: the tests, and the generators the
# build runs (factory file, bash completion, golden bytes). The target's C
# library comes from libc6:ARCH, so qemu needs no -L.
find_program(TESSEL_CROSS_QEMU_PROGRAM ${TESSEL_CROSS_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSEL_CROSS_QEMU_PROGRAM})
