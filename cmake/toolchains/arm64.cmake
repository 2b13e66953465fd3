# 64-bit ARM (Debian arm64): cmake -S . -B build-arm64 --toolchain cmake/toolchains/arm64.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(LEDWALL_CROSS_TRIPLET aarch64-linux-gnu)
set(LEDWALL_QEMU qemu-aarch64)
set(LEDWALL_QEMU_CPU cortex-a53)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
