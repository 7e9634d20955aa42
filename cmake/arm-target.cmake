# What the ARM toolchain files share (cmake/arm-linux-gnueabi.cmake on glibc,
# cmake/arm-linux-uclibcgnueabi.cmake on the device's uClibc-ng): the processor, its flags,
# where target libraries come from, and the emulator that runs target programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

# The instruction set comes from the including file (RINGWAVE_ARM_ARCH): armv4t for the
# device, whose C library, SDL and runtime are built for ARMv4T too; armv5te on Debian's glibc
# for armel, which is built for ARMv5TE. ARM state, software floating point: every double
# operation is a call into libgcc's software arithmetic, as on the device, which has no FPU.
# Keep VFP and NEON out of this default. The scripts that build SDL and the C library for
# these toolchains use the same flags.
set(RINGWAVE_ARM_FLAGS "-march=${RINGWAVE_ARM_ARCH} -marm -mfloat-abi=soft")
set(CMAKE_C_FLAGS_INIT "${RINGWAVE_ARM_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${RINGWAVE_ARM_FLAGS}")

# Libraries, headers and CMake packages from the sysroot (and the compiler's own directories);
# programs from the host. The host's pkg-config would report the host's SDL: it sees the
# sysroot's .pc files only and prefixes the paths it prints with the sysroot.
macro(ringwave_use_sysroot sysroot)
  set(CMAKE_FIND_ROOT_PATH "${sysroot}")
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  set(ENV{PKG_CONFIG_LIBDIR} "${sysroot}/usr/lib/pkgconfig")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "${sysroot}")
  set(ENV{PKG_CONFIG_PATH} "")
endmacro()

# Target programs (tests, test discovery) run under user-mode emulation on the oldest
# processor of the instruction set (RINGWAVE_ARM_CPU), without an FPU; the binaries are
# static, so qemu needs no target libraries.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(RINGWAVE_QEMU_ARM qemu-arm)
  if(RINGWAVE_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${RINGWAVE_QEMU_ARM};-cpu;${RINGWAVE_ARM_CPU}")
  endif()
endif()
