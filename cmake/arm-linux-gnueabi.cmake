# Cross build on Debian's glibc for armel: 32-bit ARM, ARMv5TE (the instruction set Debian
# builds armel's glibc and libstdc++ for; the device build itself is ARMv4T), software floating
# point, Linux (cmake/arm-target.cmake); its programs run under qemu-arm's arm926. Uses
# Debian's arm-linux-gnueabi cross compiler and the sysroot that toolchain/glibc-sysroot.sh
# builds (SDL 1.2 with fbcon and dummy video, GoogleTest). The unit tests run on this build;
# the device's own build is on uClibc-ng (cmake/arm-linux-uclibcgnueabi.cmake).
#
#   cmake -S . -B build/arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabi.cmake -DRINGWAVE_STATIC=ON
set(RINGWAVE_ARM_ARCH armv5te)
set(RINGWAVE_ARM_CPU arm926)
include("${CMAKE_CURRENT_LIST_DIR}/arm-target.cmake")

set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)

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
ringwave_use_sysroot("${RINGWAVE_ARM_SYSROOT}")
