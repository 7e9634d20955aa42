# Cross builds run under the emulator. The glibc one (cmake/arm-linux-gnueabi.cmake) runs the
# unit tests and checks its binaries. The device build on uClibc-ng runs the programs
# end to end (only the signal and start-up cases: the interposer cases need a dynamically
# linked ringwave and the host's loader), checks that its link took nothing from glibc, and
# compares its frames with the host build's, byte for byte.
# The device binary on the emulated boards of boards/.
add_subdirectory(board)
message(STATUS "Host build only: the end-to-end tests with the SDL interposer (an LD_PRELOAD "
               "library for the host's loader), the X server tests (Xvfb), the Snapshot suite "
               "(it starts ringwave-snapshot from a shell, which the emulator cannot)")

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  # The tests are built; ctest lists one that says they were not run.
  message(STATUS "No emulator for the target (CMAKE_CROSSCOMPILING_EMULATOR): the tests are "
                 "built but will not run")
  add_test(NAME cross.not-run
           COMMAND sh -c "echo 'No emulator for the target (CMAKE_CROSSCOMPILING_EMULATOR): the tests were built, not run'; exit 77")
  set_tests_properties(cross.not-run PROPERTIES SKIP_RETURN_CODE 77)
else()
  # The emulator as the toolchain file gives it (qemu-arm;-L;<sysroot> ...), without the
  # processor it names: each test below names its own.
  set(emulator "")
  set(skip_next FALSE)
  foreach(word ${CMAKE_CROSSCOMPILING_EMULATOR})
    if(skip_next)
      set(skip_next FALSE)
    elseif(word STREQUAL "-cpu")
      set(skip_next TRUE)
    else()
      list(APPEND emulator ${word})
    endif()
  endforeach()

  # The processors each test below runs on, from what the build targets, with the pixel loop
  # start-up must choose there from the kernel's report. 32-bit ARM: a build for ARMv4T (on
  # uClibc-ng; Debian's armel glibc is ARMv5TE) from the ti925t, for ARMv5TE from the ARM926,
  # each with the word loop up to the ARMv6 ARM1176 and the NEON loop on the ARMv7 processors;
  # a build for ARMv7 (hard-float, Thumb-2) on Cortex-A models only. 64-bit ARM: the Cortex-A53
  # and A72.
  separate_arguments(target_flags UNIX_COMMAND "${CMAKE_C_FLAGS}")
  execute_process(COMMAND ${CMAKE_C_COMPILER} ${target_flags} -dM -E -x c /dev/null
                  OUTPUT_VARIABLE target_macros ERROR_QUIET)
  string(REGEX MATCH "#define __ARM_ARCH ([0-9]+)" _ "${target_macros}")
  set(arm_arch "${CMAKE_MATCH_1}")
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)")
    set(cpu_loops cortex-a53:asimd cortex-a72:asimd)
  elseif(arm_arch GREATER_EQUAL 7)
    set(cpu_loops cortex-a7:neon cortex-a15:neon)
  else()
    set(cpu_loops arm926:words arm1176:words cortex-a7:neon cortex-a8:neon cortex-a9:neon
        cortex-a15:neon)
    if(arm_arch EQUAL 4 AND RINGWAVE_TARGET_LIBC STREQUAL "uclibc-ng")
      list(PREPEND cpu_loops ti925t:words)
    endif()
  endif()
  set(cpus ${cpu_loops})
  list(TRANSFORM cpus REPLACE ":.*" "")
  message(STATUS "Target tests under ${emulator} -cpu: ${cpus}")

  # The device SDL's conversions of 8-bit surfaces (the project's ARM loops) against SDL's own
  # C loops: the same SDL without the project's patches (toolchain/sdl-build.sh installs it
  # beside the patched one), under qemu-arm on the ARM926 and, for an ARMv4T build, the ti925t.
  find_library(RINGWAVE_SDL_UNPATCHED NAMES libSDL.a PATHS /usr/lib/sdl-unpatched
               NO_DEFAULT_PATH)
  if(RINGWAVE_STATIC AND RINGWAVE_SDL_UNPATCHED)
    set(unpatched_flags ${SDL_STATIC_LDFLAGS})
    list(TRANSFORM unpatched_flags REPLACE "^-lSDL$" "${RINGWAVE_SDL_UNPATCHED}")
    # support/sdl_NAME_dump.c linked with the device SDL and with the unpatched one (built with
    # the compile definitions given), and cross.sdl-NAME, which compares their outputs.
    function(sdl_dump_test name)
      add_executable(sdl_${name}_dump support/sdl_${name}_dump.c)
      target_link_libraries(sdl_${name}_dump PRIVATE ringwave_sdl)
      add_executable(sdl_${name}_dump_unpatched support/sdl_${name}_dump.c)
      target_compile_definitions(sdl_${name}_dump_unpatched PRIVATE ${ARGN})
      target_include_directories(sdl_${name}_dump_unpatched PRIVATE ${SDL_STATIC_INCLUDE_DIRS})
      target_compile_options(sdl_${name}_dump_unpatched PRIVATE ${SDL_STATIC_CFLAGS_OTHER})
      target_link_libraries(sdl_${name}_dump_unpatched PRIVATE ${unpatched_flags} -static)
      add_test(NAME cross.sdl-${name}
               COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sdl_${name}_check.sh ${CMAKE_NM}
                       ${CMAKE_READELF} $<TARGET_FILE:sdl_${name}_dump>
                       $<TARGET_FILE:sdl_${name}_dump_unpatched> ${emulator})
      set_tests_properties(cross.sdl-${name} PROPERTIES TIMEOUT 300 LABELS cross)
    endfunction()
    sdl_dump_test(blit)
    # The framebuffer console's turning on a panel mounted turned, the 8-bit screen converted
    # and turned in one pass, against SDL's conversion followed by a turn, byte for byte.
    sdl_dump_test(turn TURN_REFERENCE_ONLY)
  endif()
  if(NOT RINGWAVE_TARGET_LIBC STREQUAL "uclibc-ng")
    # The unit tests of the pixel loops, of their choice and of the kernel's report, on each
    # processor: the NEON loop is compared with the others byte for byte only where it runs.
    set(loop_tests "PixelLoop*:ProcessorFeatures.*")
    foreach(cpu_loop ${cpu_loops})
      string(REPLACE ":" ";" cpu_and_loop ${cpu_loop})
      list(GET cpu_and_loop 0 cpu)
      list(GET cpu_and_loop 1 loop)
      add_test(NAME cross.loops.${cpu}
               COMMAND ${emulator} -cpu ${cpu} $<TARGET_FILE:ringwave_tests>
                       --gtest_filter=${loop_tests})
      set_tests_properties(cross.loops.${cpu} PROPERTIES TIMEOUT 120 LABELS cross
                           ENVIRONMENT RINGWAVE_EXPECTED_PIXEL_LOOP=${loop})
    endforeach()
    if(RINGWAVE_STATIC AND CMAKE_READELF AND CMAKE_OBJDUMP)
      add_test(NAME cross.target-binary
               COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/target_binary_check.sh v5te
                       ${CMAKE_READELF} ${CMAKE_OBJDUMP}
                       $<TARGET_FILE:ringwave_effect> $<TARGET_FILE:ringwave_tests>)
    endif()
  else()
    target_link_options(effect_dump PRIVATE "LINKER:-Map=$<TARGET_FILE:effect_dump>.map")
    # The device's own start-up choice (AT_HWCAP from /proc/self/auxv: uClibc-ng has no
    # getauxval) on each processor, its frames against the byte loop's.
    foreach(cpu_loop ${cpu_loops})
      string(REPLACE ":" ";" cpu_and_loop ${cpu_loop})
      list(GET cpu_and_loop 0 cpu)
      list(GET cpu_and_loop 1 loop)
      add_test(NAME cross.pixel-loop.${cpu}
               COMMAND ${emulator} -cpu ${cpu} $<TARGET_FILE:pixel_loop_check> ${loop})
      set_tests_properties(cross.pixel-loop.${cpu} PROPERTIES TIMEOUT 120 LABELS cross)
    endforeach()
    foreach(case sigint sigterm no-video-driver)
      add_test(NAME e2e.emulated.${case}
               COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/emulated_e2e.sh ${case}
                       $<TARGET_FILE:ringwave> ${CMAKE_CROSSCOMPILING_EMULATOR})
      set_tests_properties(e2e.emulated.${case} PROPERTIES TIMEOUT 300 LABELS e2e)
    endforeach()

    # Every instruction of the device binaries ARMv4T, outside the code chosen at run time; and
    # the check itself refuses what an ARMv4T processor cannot run.
    add_test(NAME cross.target-binary
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/target_binary_check.sh v4t
                     ${CMAKE_READELF} ${CMAKE_OBJDUMP} $<TARGET_FILE:ringwave_effect>
                     $<TARGET_FILE:ringwave> $<TARGET_FILE:ringwave-snapshot>
                     $<TARGET_FILE:ringwave-console> $<TARGET_FILE:effect_dump>)
    add_test(NAME cross.instruction-check
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/arm_isa_check_test.sh ${CMAKE_C_COMPILER}
                     ${CMAKE_READELF} ${CMAKE_OBJDUMP})
    set_tests_properties(cross.target-binary cross.instruction-check PROPERTIES TIMEOUT 300)
    # The glibc archives the cross compiler would otherwise link: the folder of its libc.a.
    execute_process(COMMAND arm-linux-gnueabi-gcc -print-file-name=libc.a
                    OUTPUT_VARIABLE glibc_archive OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(glibc_libdir "${glibc_archive}" DIRECTORY)
    add_test(NAME cross.uclibc-only
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/libc_link_check.sh
                     ${RINGWAVE_UCLIBC_TOOLCHAIN} ${glibc_libdir} ${CMAKE_NM} ${CMAKE_BINARY_DIR}
                     $<TARGET_FILE:ringwave> $<TARGET_FILE:ringwave-snapshot>
                     $<TARGET_FILE:ringwave-console> $<TARGET_FILE:effect_dump>)
    # The per-frame breakdown of the board's profiles (bench/board/frame-costs.sh) on this
    # link: made-up profiles at the program's, SDL's, the C library's and libgcc's addresses.
    add_test(NAME cross.frame-costs-split
             COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/board/frame_costs_test.py
                     $<TARGET_FILE:ringwave> ${CMAKE_NM})
  endif()

  # The frames against the host build's, byte for byte (tests/e2e/cross_arch_compare.sh):
  # snapshots, the whole ring table and runs of frames, on the processor the toolchain file's
  # emulator names (or the first of the list above); a few frames, and the dummy-driver run, on
  # each other processor, which may choose another loop at start-up.
  set(RINGWAVE_HOST_BUILD "" CACHE PATH
      "Native build of ringwave with its tests, whose frames the target's must equal")
  if(NOT RINGWAVE_HOST_BUILD)
    message(STATUS "Frames not compared with the host's: RINGWAVE_HOST_BUILD names no host build")
  else()
    list(FIND CMAKE_CROSSCOMPILING_EMULATOR -cpu at)
    if(at GREATER_EQUAL 0)
      math(EXPR at "${at} + 1")
      list(GET CMAKE_CROSSCOMPILING_EMULATOR ${at} full_cpu)
    else()
      list(GET cpus 0 full_cpu)
    endif()
    set(compare ${CMAKE_CURRENT_SOURCE_DIR}/e2e/cross_arch_compare.sh)
    foreach(seed 0 1234567890 4294967295)
      add_test(NAME cross.snapshots.${seed}
               COMMAND bash ${compare} snapshots ${seed} ${RINGWAVE_HOST_BUILD}/ringwave-snapshot
                       $<TARGET_FILE:ringwave-snapshot> ${emulator} -cpu ${full_cpu})
    endforeach()
    # The whole ring table, and runs of consecutive frames (SEED FIRST COUNT) from the start,
    # around 2^31 and just below 2^53.
    add_test(NAME cross.effect
             COMMAND bash ${compare} effect
                     "7 1 1000 4294967295 2147483148 1000 1234567890 9007199254739993 1000"
                     ${RINGWAVE_HOST_BUILD}/tests/effect_dump $<TARGET_FILE:effect_dump>
                     ${emulator} -cpu ${full_cpu})
    set_tests_properties(cross.snapshots.0 cross.snapshots.1234567890
                         cross.snapshots.4294967295 cross.effect
                         PROPERTIES TIMEOUT 600 LABELS cross)
    list(REMOVE_ITEM cpus ${full_cpu})
    foreach(cpu ${cpus})
      add_test(NAME cross.${cpu}.snapshots
               COMMAND bash ${compare} snapshots "1234567890 1 2147483648 9007199254740991"
                       ${RINGWAVE_HOST_BUILD}/ringwave-snapshot $<TARGET_FILE:ringwave-snapshot>
                       ${emulator} -cpu ${cpu})
      add_test(NAME cross.${cpu}.effect
               COMMAND bash ${compare} effect "7 1 20 4294967295 2147483638 20"
                       ${RINGWAVE_HOST_BUILD}/tests/effect_dump $<TARGET_FILE:effect_dump>
                       ${emulator} -cpu ${cpu})
      add_test(NAME cross.${cpu}.dummy-run
               COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/emulated_e2e.sh sigint
                       $<TARGET_FILE:ringwave> ${emulator} -cpu ${cpu})
      set_tests_properties(cross.${cpu}.snapshots cross.${cpu}.effect cross.${cpu}.dummy-run
                           PROPERTIES TIMEOUT 300 LABELS "cross;cross-${cpu}")
    endforeach()
  endif()
endif()
