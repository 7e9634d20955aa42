# Cross build for the device on its own C library, uClibc-ng: 32-bit ARM, ARMv4T (ARM state:
# ARM920T and every later 32-bit ARM), software floating point, Linux, static
# (cmake/arm-target.cmake); its programs run under qemu-arm's ti925t, an ARMv4T processor. Uses the compiler wrappers and the C
# library that toolchain/uclibc-toolchain.sh builds (Debian's arm-linux-gnueabi gcc/g++ with
# uClibc-ng's headers, start files and archives instead of glibc's), and the SDL 1.2 that
# toolchain/uclibc-sysroot.sh builds with them.
#
#   cmake -S . -B build/arm-release -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-uclibcgnueabi.cmake \
#         -DRINGWAVE_STATIC=ON
#
# The wrappers link statically (-static -no-pie) whatever the build asks for. GoogleTest needs
# iostream, which Debian's libstdc++ provides only on glibc: unit tests are not built here
# (cmake/arm-linux-gnueabi.cmake builds them), only the programs and their end-to-end checks.
set(RINGWAVE_ARM_ARCH armv4t)
set(RINGWAVE_ARM_CPU ti925t)
include("${CMAKE_CURRENT_LIST_DIR}/arm-target.cmake")

# The C library the programs are linked with; tests/CMakeLists.txt reads it.
set(RINGWAVE_TARGET_LIBC uclibc-ng)

# Where toolchain/uclibc-toolchain.sh and toolchain/uclibc-sysroot.sh leave their (cached) results.
foreach(part TOOLCHAIN SYSROOT)
  string(TOLOWER ${part} name)
  if(NOT RINGWAVE_UCLIBC_${part})
    if(DEFINED ENV{RINGWAVE_UCLIBC_${part}})
      set(RINGWAVE_UCLIBC_${part} "$ENV{RINGWAVE_UCLIBC_${part}}")
    else()
      get_filename_component(RINGWAVE_UCLIBC_${part}
                             "${CMAKE_CURRENT_LIST_DIR}/../build/uclibc-${name}" ABSOLUTE)
    endif()
  endif()
endforeach()
set(RINGWAVE_UCLIBC_TOOLCHAIN "${RINGWAVE_UCLIBC_TOOLCHAIN}" CACHE PATH
    "uClibc-ng toolchain folder (bin/arm-linux-uclibcgnueabi-gcc, usr/lib/libc.a)")
set(RINGWAVE_UCLIBC_SYSROOT "${RINGWAVE_UCLIBC_SYSROOT}" CACHE PATH
    "Sysroot with SDL 1.2 built against uClibc-ng")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RINGWAVE_UCLIBC_TOOLCHAIN RINGWAVE_UCLIBC_SYSROOT)

set(CMAKE_C_COMPILER "${RINGWAVE_UCLIBC_TOOLCHAIN}/bin/arm-linux-uclibcgnueabi-gcc")
set(CMAKE_CXX_COMPILER "${RINGWAVE_UCLIBC_TOOLCHAIN}/bin/arm-linux-uclibcgnueabi-g++")
# The binutils of Debian's cross compiler (the wrappers' names have no siblings).
foreach(tool AR RANLIB READELF OBJDUMP NM)
  string(TOLOWER ${tool} name)
  find_program(CMAKE_${tool} arm-linux-gnueabi-${name} REQUIRED)
endforeach()

ringwave_use_sysroot("${RINGWAVE_UCLIBC_SYSROOT}")
