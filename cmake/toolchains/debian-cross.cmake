# Shared part of the Linux cross toolchains: Debian's cross compilers for
# VELMOT_CROSS_TRIPLE (crossbuild-essential-<arch>), the target's libraries
# under /usr/<triple>, and qemu-user to run what is built (the tests, through
# CMAKE_CROSSCOMPILING_EMULATOR). `scripts/install-deps.sh cross` installs
# them all.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${VELMOT_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VELMOT_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${VELMOT_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static qemu needs no libraries of the host's own; -L lets it load a
# dynamically linked target program's loader and libraries too.
find_program(VELMOT_QEMU NAMES qemu-${VELMOT_QEMU_ARCH}-static qemu-${VELMOT_QEMU_ARCH}
    NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMOT_QEMU} -L /usr/${VELMOT_CROSS_TRIPLE})
