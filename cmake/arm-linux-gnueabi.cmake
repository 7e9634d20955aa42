# Cross build for the device: 32-bit ARM, ARMv5TE, software floating point, Linux.
# Uses Debian's arm-linux-gnueabi cross compiler and the sysroot that
# scripts/arm-sysroot.sh builds (SDL 1.2 with fbcon and dummy video, GoogleTest).
#
#   cmake -S . -B build/arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabi.cmake -DRINGWAVE_STATIC=ON
#
# -mfloat-abi=soft: every double operation is a call into libgcc's software arithmetic, as on
# the device, which has no FPU. Keep VFP and NEON out of this default.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)

# Keep in step with the flags in scripts/arm-sysroot.sh, which builds SDL with the same ones.
set(RINGWAVE_ARM_FLAGS "-march=armv5te -marm -mfloat-abi=soft")
set(CMAKE_C_FLAGS_INIT "${RINGWAVE_ARM_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${RINGWAVE_ARM_FLAGS}")

# Where SDL and GoogleTest for the target live; the default is the one the script builds.
if(NOT RINGWAVE_ARM_SYSROOT)
  if(DEFINED ENV{RINGWAVE_ARM_SYSROOT})
    set(RINGWAVE_ARM_SYSROOT "$ENV{RINGWAVE_ARM_SYSROOT}")
  else()
    get_filename_component(RINGWAVE_ARM_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/arm-sysroot"
                           ABSOLUTE)
  endif()
endif()
set(RINGWAVE_ARM_SYSROOT "${RINGWAVE_ARM_SYSROOT}" CACHE PATH "Sysroot with the target's SDL 1.2")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RINGWAVE_ARM_SYSROOT)

# Libraries, headers and CMake packages from the sysroot (and the cross compiler's own
# directories); programs from the host.
set(CMAKE_FIND_ROOT_PATH "${RINGWAVE_ARM_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The host's pkg-config would report the host's SDL: point it at the sysroot's .pc files only,
# and prefix the paths it prints with the sysroot.
set(ENV{PKG_CONFIG_LIBDIR} "${RINGWAVE_ARM_SYSROOT}/usr/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${RINGWAVE_ARM_SYSROOT}")
set(ENV{PKG_CONFIG_PATH} "")

# Target programs (tests, test discovery) run under user-mode emulation on an ARMv5 CPU
# without an FPU; the binaries are static, so qemu needs no target libraries.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(RINGWAVE_QEMU_ARM qemu-arm)
  if(RINGWAVE_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${RINGWAVE_QEMU_ARM};-cpu;arm926")
  endif()
endif()
