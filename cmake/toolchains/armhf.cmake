# 32-bit ARM with hardware floating point (Debian armhf), where size_t and
# off_t are 32 bits: cmake -S . -B build-armhf --toolchain cmake/toolchains/armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(LEDWALL_CROSS_TRIPLET arm-linux-gnueabihf)
set(LEDWALL_QEMU qemu-arm)
set(LEDWALL_QEMU_CPU cortex-a7)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
