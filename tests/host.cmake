# The host build's tests: the shipped binaries end to end, on each SDL 1.2 library, under
# SDL's dummy driver and in an X server.

# The end-to-end and X server tests run on each SDL 1.2 library: the one the build links
# (classic SDL 1.2 on Debian 12); sdl12-compat, the SDL 1.2 interface on top of SDL 2 that
# current distributions ship, when RINGWAVE_SDL12_COMPAT_DIR names the folder of its
# libSDL-1.2.so.0 (toolchain/sdl12-compat.sh makes one); and Debian 13's, when
# RINGWAVE_DEBIAN13_ROOT names a Debian 13 root (toolchain/debian13-root.sh): its sdl12-compat
# over SDL 2, and over sdl2-compat over SDL 3. The same binary runs on all of them; the
# scripts load the library (tests/e2e/sdl_stack.sh) and check which one a run loaded.
set(RINGWAVE_SDL12_COMPAT_DIR "" CACHE PATH
    "Folder of sdl12-compat's libSDL-1.2.so.0, to run the end-to-end tests on it too")
set(RINGWAVE_DEBIAN13_ROOT "" CACHE PATH
    "Debian 13 root with its SDL 1.2, 2 and 3, to run the end-to-end tests on them too")
set(sdl_variants classic)
if(RINGWAVE_SDL12_COMPAT_DIR)
  list(APPEND sdl_variants sdl12-compat)
endif()
if(RINGWAVE_DEBIAN13_ROOT)
  list(APPEND sdl_variants debian13-sdl2 debian13-sdl3)
endif()

# Test name prefix and environment of the end-to-end tests on one SDL library.
function(sdl_variant_settings variant prefix_var environment_var)
  if(variant STREQUAL "classic")
    set(${prefix_var} "" PARENT_SCOPE)
  else()
    set(${prefix_var} "${variant}." PARENT_SCOPE)
  endif()
  set(${environment_var} "RINGWAVE_TEST_SDL_STACK=${variant}"
      "RINGWAVE_TEST_SDL_DIR=${RINGWAVE_SDL12_COMPAT_DIR}"
      "RINGWAVE_TEST_ROOT=${RINGWAVE_DEBIAN13_ROOT}" PARENT_SCOPE)
endfunction()

# The shipped binary, end to end, under SDL's dummy video driver.
set(E2E_CASES sigint sigterm no-video-driver)
if(NOT RINGWAVE_SANITIZE)
  # The failure-injecting interposer replaces malloc, which the sanitizers own.
  add_library(sdl_fault_shim SHARED support/sdl_fault_shim.c)
  target_link_libraries(sdl_fault_shim PRIVATE ringwave_sdl ${CMAKE_DL_LIBS})
  list(APPEND E2E_CASES video-mode-fails table-alloc-fails locks-fail frame-pass
       pending-at-start one-frame flags frame-order input-kinds sighup hangup-output-gone
       ending-signals cpu-limit signals-at-start signals-in-loop signals-in-shutdown)
  # A copy of ringwave that asks for memory in every frame, which the frame-pass check must
  # catch: its lock goes through a test-only wrapper first.
  add_executable(ringwave_loop_alloc ${PROJECT_SOURCE_DIR}/src/main.cpp support/loop_alloc.cpp)
  target_link_libraries(ringwave_loop_alloc PRIVATE ringwave_driver)
  target_link_options(ringwave_loop_alloc PRIVATE "LINKER:--wrap=SDL_LockSurface")
endif()
foreach(variant ${sdl_variants})
  sdl_variant_settings(${variant} prefix environment)
  foreach(case ${E2E_CASES})
    add_test(NAME e2e.${prefix}${case}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/driver_e2e.sh ${case}
                     $<TARGET_FILE:ringwave> $<$<TARGET_EXISTS:sdl_fault_shim>:$<TARGET_FILE:sdl_fault_shim>>)
    set_tests_properties(e2e.${prefix}${case} PROPERTIES TIMEOUT 120 LABELS "e2e;${variant}"
                         ENVIRONMENT "${environment}")
  endforeach()
  if(TARGET ringwave_loop_alloc)
    add_test(NAME e2e.${prefix}loop-alloc-caught
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/driver_e2e.sh loop-alloc-caught
                     $<TARGET_FILE:ringwave_loop_alloc> $<TARGET_FILE:sdl_fault_shim>)
    set_tests_properties(e2e.${prefix}loop-alloc-caught PROPERTIES TIMEOUT 120
                         LABELS "e2e;${variant}" ENVIRONMENT "${environment}")
  endif()
endforeach()

# cmake --install: the programs and the framebuffer console's mode entry.
add_test(NAME install.layout
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/install_check.sh ${CMAKE_BINARY_DIR}
                 ${PROJECT_SOURCE_DIR}/data/fb.modes)
set_tests_properties(install.layout PROPERTIES TIMEOUT 60)

# The package installation of the two commands, with a fake apt whose update fails on one index.
add_test(NAME scripts.deps-index-fails
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/deps_test.sh
                 ${PROJECT_SOURCE_DIR}/scripts/deps.sh)
set_tests_properties(scripts.deps-index-fails PROPERTIES TIMEOUT 150 LABELS scripts)

# A cross build's configure against the SDL 1.2 pkg-config reports: the build machine's refused.
add_test(NAME scripts.cross-sdl-lookup
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/cross_sdl_lookup_test.sh
                 ${PROJECT_SOURCE_DIR})
set_tests_properties(scripts.cross-sdl-lookup PROPERTIES TIMEOUT 120 LABELS scripts)

# ringwave in a real X server (Xvfb), driven with real X input. Not in the sanitizer build:
# the X tests check what a user sees of the shipped binary.
option(RINGWAVE_X11_TESTS "Run the end-to-end tests in an X server (Xvfb)" ON)
if(RINGWAVE_X11_TESTS AND NOT RINGWAVE_SANITIZE)
  find_package(X11 REQUIRED)
  add_executable(x11_poke support/x11_poke.c)
  target_link_libraries(x11_poke PRIVATE X11::X11)
  add_executable(frame_check support/frame_check.cpp)
  target_link_libraries(frame_check PRIVATE ringwave_effect test_image_files)
  set(X11_CASES window motion-and-focus key button close fullscreen hw flip screenshots
      frame-match)
  foreach(variant ${sdl_variants})
    sdl_variant_settings(${variant} prefix environment)
    foreach(case ${X11_CASES})
      add_test(NAME x11.${prefix}${case}
               COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/x11_e2e.sh ${case}
                       $<TARGET_FILE:ringwave> $<TARGET_FILE:ringwave-snapshot>
                       $<TARGET_FILE:x11_poke> $<TARGET_FILE:frame_check>)
      set_tests_properties(x11.${prefix}${case} PROPERTIES TIMEOUT 90 LABELS "x11;${variant}"
                           ENVIRONMENT "${environment}")
    endforeach()
  endforeach()
endif()
