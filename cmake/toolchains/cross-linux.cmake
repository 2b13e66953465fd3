# Shared part of the ARM toolchain files: Debian's cross compiler for
# LEDWALL_CROSS_TRIPLET, the multiarch libraries of that architecture through
# pkg-config, and qemu user-mode emulation to run what the build runs (the
# test-stream generator, test discovery) and the tests themselves.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${LEDWALL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${LEDWALL_CROSS_TRIPLET}-g++)
set(CMAKE_ASM_COMPILER ${LEDWALL_CROSS_TRIPLET}-gcc)

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${LEDWALL_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_LIBRARY_ARCHITECTURE ${LEDWALL_CROSS_TRIPLET})
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${LEDWALL_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The programs load the target's C library installed for multiarch (the same
# one the tests link against), found from this machine's root: qemu must not
# be pointed at the cross compiler's copy in /usr/<triplet>, whose loader does
# not match that library and hangs in thread creation.
set(CMAKE_CROSSCOMPILING_EMULATOR ${LEDWALL_QEMU};-cpu;${LEDWALL_QEMU_CPU})
