# Shared part of the ARM toolchain files: Debian's cross compiler for
# LEDWALL_CROSS_TRIPLET, the board's libraries from the sysroot LEDWALL_SYSROOT
# (made by scripts/sysroot.sh ARCH, which prints its folder; scripts/cross-build.sh
# passes it), found through pkg-config and CMake's package files there, and
# qemu user-mode emulation with that sysroot as its library prefix to run what
# the build runs (the test-stream generator, test discovery) and the tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${LEDWALL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${LEDWALL_CROSS_TRIPLET}-g++)
set(CMAKE_ASM_COMPILER ${LEDWALL_CROSS_TRIPLET}-gcc)

# The compiler checks run in projects of their own, which read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LEDWALL_SYSROOT)
if(NOT LEDWALL_SYSROOT OR NOT EXISTS "${LEDWALL_SYSROOT}/usr/lib/${LEDWALL_CROSS_TRIPLET}")
  message(FATAL_ERROR "LEDWALL_SYSROOT must name the board's sysroot: -DLEDWALL_SYSROOT=\"$(scripts/sysroot.sh "
                      "ARCH | tail -n 1)\" (it is \"${LEDWALL_SYSROOT}\")")
endif()
set(CMAKE_SYSROOT ${LEDWALL_SYSROOT})

# Libraries, headers and packages of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE ${LEDWALL_CROSS_TRIPLET})
set(ENV{PKG_CONFIG_LIBDIR} ${LEDWALL_SYSROOT}/usr/lib/${LEDWALL_CROSS_TRIPLET}/pkgconfig:${LEDWALL_SYSROOT}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${LEDWALL_SYSROOT})

# The programs load the sysroot's loader and libraries: qemu looks for every
# file a program opens in the sysroot first.
set(CMAKE_CROSSCOMPILING_EMULATOR ${LEDWALL_QEMU};-L;${LEDWALL_SYSROOT};-cpu;${LEDWALL_QEMU_CPU})
