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

# A sysroot of a newer release than this machine's (Debian 13 on a Debian 12
# machine) brings its own C++ development runtime: link the sysroot's C and
# C++ runtimes rather than the cross compiler's older ones, which lack symbols
# the release's libraries use (GLIBC_2.38, GLIBCXX_3.4.32). The -L paths come
# before the compiler's own.
file(GLOB sysroot_cxx_runtime "${LEDWALL_SYSROOT}/usr/lib/gcc/${LEDWALL_CROSS_TRIPLET}/*/libstdc++.so")
if(sysroot_cxx_runtime)
  list(GET sysroot_cxx_runtime 0 sysroot_cxx_runtime)
  get_filename_component(sysroot_cxx_dir "${sysroot_cxx_runtime}" DIRECTORY)
  set(sysroot_link "-L${LEDWALL_SYSROOT}/usr/lib/${LEDWALL_CROSS_TRIPLET} -L${LEDWALL_SYSROOT}/lib/${LEDWALL_CROSS_TRIPLET} -L${sysroot_cxx_dir}")
  foreach(kind EXE SHARED MODULE)
    if(NOT CMAKE_${kind}_LINKER_FLAGS_INIT MATCHES "${sysroot_cxx_dir}")
      string(APPEND CMAKE_${kind}_LINKER_FLAGS_INIT " ${sysroot_link}")
    endif()
  endforeach()
endif()

# A sysroot whose libraries went through Debian's 64-bit time_t transition
# (Debian 13 on armhf: libasound2t64 and the like) takes structures with a
# 64-bit time_t; everything built against it must use the same, as Debian's
# own build flags do there, or the libraries are called with structures of
# the wrong size.
if(EXISTS "${LEDWALL_SYSROOT}/var/lib/dpkg/status" AND LEDWALL_CROSS_TRIPLET MATCHES "gnueabihf$")
  file(STRINGS "${LEDWALL_SYSROOT}/var/lib/dpkg/status" time64_packages REGEX "^Package: .*t64$")
  if(time64_packages)
    set(time64 "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")
    if(NOT CMAKE_C_FLAGS_INIT MATCHES "_TIME_BITS")
      string(APPEND CMAKE_C_FLAGS_INIT " ${time64}")
      string(APPEND CMAKE_CXX_FLAGS_INIT " ${time64}")
    endif()
  endif()
endif()

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
