# Linux on IBM Z: big-endian and 64-bit, so every byte-order assumption shows.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(VELMOT_CROSS_TRIPLE s390x-linux-gnu)
set(VELMOT_QEMU_ARCH s390x)
set(VELMOT_DEBIAN_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
