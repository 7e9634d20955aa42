# An example toolchain file of the shape a device's SDK gives (Buildroot's
# output/host/share/buildroot/toolchainfile.cmake, a Yocto SDK's, a board vendor's): the
# compilers by their triplet prefix, the sysroot with the device's libraries and headers,
# CMake's searches kept inside it, pkg-config pointed at it, and the emulator that runs the
# target's programs here. Change the two settings below to your SDK's (or pass them with -D):
#
#   cmake -S . -B build/sdk -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-example.cmake \
#         -DSDK_TRIPLET=arm-linux-gnueabihf -DSDK_SYSROOT=/opt/sdk/sysroot
#
# SDK_TRIPLET: the compilers' prefix (arm-linux-gnueabihf-gcc, aarch64-linux-gnu-g++, ...),
# on PATH or with its folder in front. SDK_SYSROOT: the target's root, with SDL 1.2's sdl.pc
# under usr/lib/pkgconfig, usr/share/pkgconfig or usr/lib/<triplet>/pkgconfig.
set(SDK_TRIPLET arm-linux-gnueabihf CACHE STRING "The cross compilers' prefix")
set(SDK_SYSROOT /opt/sdk/sysroot CACHE PATH "The target's root: libraries and headers")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SDK_TRIPLET SDK_SYSROOT)

set(CMAKE_SYSTEM_NAME Linux)
if(SDK_TRIPLET MATCHES "^aarch64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(qemu qemu-aarch64)
else()
  set(CMAKE_SYSTEM_PROCESSOR arm)
  set(qemu qemu-arm)
endif()

set(CMAKE_C_COMPILER ${SDK_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${SDK_TRIPLET}-g++)
set(CMAKE_SYSROOT ${SDK_SYSROOT})

# Libraries, headers and CMake packages from the sysroot only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH ${SDK_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the sysroot's .pc files only and puts the sysroot in front of the paths
# they name.
set(ENV{PKG_CONFIG_LIBDIR}
    "${SDK_SYSROOT}/usr/lib/${SDK_TRIPLET}/pkgconfig:${SDK_SYSROOT}/usr/lib/pkgconfig:${SDK_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${SDK_SYSROOT})
set(ENV{PKG_CONFIG_PATH} "")

# The target's programs (the tests) run here under qemu's user-mode emulation, with the
# sysroot's loader and libraries. Without it the tests are built but not run.
find_program(SDK_QEMU ${qemu})
if(SDK_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SDK_QEMU} -L ${SDK_SYSROOT})
endif()
