# The host build's tests: the shipped binaries end to end, under SDL's dummy driver and in an
# X server, on each SDL 1.2 stack of sdl-stacks.txt.

# cmake --install: the programs and the framebuffer console's mode entry.
add_test(NAME install.layout
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/install_check.sh ${CMAKE_BINARY_DIR}
                 ${PROJECT_SOURCE_DIR}/data/fb.modes)
set_tests_properties(install.layout PROPERTIES TIMEOUT 60)

# The shipped binary, end to end, under SDL's dummy video driver (e2e/driver_e2e.sh).
set(e2e_cases sigint sigterm no-video-driver)
if(NOT RINGWAVE_SANITIZE)
  # The failure-injecting interposer replaces malloc, which the sanitizers own.
  add_library(sdl_fault_shim SHARED support/sdl_fault_shim.c)
  target_link_libraries(sdl_fault_shim PRIVATE ringwave_sdl ${CMAKE_DL_LIBS})
  list(APPEND e2e_cases video-mode-fails table-alloc-fails locks-fail frame-pass
       pending-at-start one-frame flags frame-order input-kinds sighup hangup-output-gone
       ending-signals cpu-limit signals-at-start signals-in-loop signals-in-shutdown)
  # A copy of ringwave that asks for memory in every frame, which the frame-pass check must
  # catch: its lock goes through a test-only wrapper first.
  add_executable(ringwave_loop_alloc ${PROJECT_SOURCE_DIR}/src/main.cpp support/loop_alloc.cpp)
  target_link_libraries(ringwave_loop_alloc PRIVATE ringwave_driver)
  target_link_options(ringwave_loop_alloc PRIVATE "LINKER:--wrap=SDL_LockSurface")
endif()

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

# ringwave in a real X server (Xvfb), driven with real X input (x11/x11_e2e.sh). Not in the
# sanitizer build: the X tests check what a user sees of the shipped binary.
option(RINGWAVE_X11_TESTS "Run the end-to-end tests in an X server (Xvfb)" ON)
set(x11_cases)
if(RINGWAVE_X11_TESTS AND NOT RINGWAVE_SANITIZE)
  find_package(X11 REQUIRED)
  add_executable(x11_poke support/x11_poke.c)
  target_link_libraries(x11_poke PRIVATE X11::X11)
  add_executable(frame_check support/frame_check.cpp)
  target_link_libraries(frame_check PRIVATE ringwave_effect test_image_files)
  # Its search of a device's panel on made-up dumps: what surrounds the picture, the orders
  # a turned panel is rewritten in (the board tests meet these states only by chance).
  add_test(NAME frame-check.device
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/support/frame_check_test.py
                   $<TARGET_FILE:frame_check> $<TARGET_FILE:ringwave-snapshot>)
  set_tests_properties(frame-check.device PROPERTIES TIMEOUT 60 LABELS frame-check)
  set(x11_cases window motion-and-focus key button close fullscreen hw flip screenshots
      frame-match)
endif()

# The tests one SDL stack runs (KINDS: e2e, x11), named PREFIX.CASE; the scripts load the
# stack's library from FOLDER (e2e/sdl_stack.sh) and check which one each run loaded.
function(add_sdl_stack_tests stack prefix folder kinds)
  set(environment RINGWAVE_TEST_SDL_STACK=${stack} RINGWAVE_TEST_SDL_DIR=${folder})
  if("e2e" IN_LIST kinds)
    foreach(case ${e2e_cases})
      add_test(NAME e2e.${prefix}${case}
               COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/driver_e2e.sh ${case}
                       $<TARGET_FILE:ringwave> $<$<TARGET_EXISTS:sdl_fault_shim>:$<TARGET_FILE:sdl_fault_shim>>)
      set_tests_properties(e2e.${prefix}${case} PROPERTIES TIMEOUT 120 LABELS "e2e;${stack}"
                           ENVIRONMENT "${environment}")
    endforeach()
    if(TARGET ringwave_loop_alloc)
      add_test(NAME e2e.${prefix}loop-alloc-caught
               COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/driver_e2e.sh loop-alloc-caught
                       $<TARGET_FILE:ringwave_loop_alloc> $<TARGET_FILE:sdl_fault_shim>)
      set_tests_properties(e2e.${prefix}loop-alloc-caught PROPERTIES TIMEOUT 120
                           LABELS "e2e;${stack}" ENVIRONMENT "${environment}")
    endif()
  endif()
  if("x11" IN_LIST kinds)
    foreach(case ${x11_cases})
      add_test(NAME x11.${prefix}${case}
               COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/x11/x11_e2e.sh ${case}
                       $<TARGET_FILE:ringwave> $<TARGET_FILE:ringwave-snapshot>
                       $<TARGET_FILE:x11_poke> $<TARGET_FILE:frame_check>)
      set_tests_properties(x11.${prefix}${case} PROPERTIES TIMEOUT 90 LABELS "x11;${stack}"
                           ENVIRONMENT "${environment}")
    endforeach()
  endif()
endfunction()

# Each stack of the table: the linked one always, the others where their folder is given.
set(sdl_stacks ${CMAKE_CURRENT_SOURCE_DIR}/sdl-stacks.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sdl_stacks})
file(STRINGS ${sdl_stacks} sdl_stack_rows REGEX "^[^# ]")
foreach(row ${sdl_stack_rows})
  string(REGEX REPLACE "[ \t]+" ";" row "${row}")
  list(GET row 0 stack)
  list(GET row 1 variable)
  list(GET row 2 script)
  list(GET row 3 load)
  list(GET row 7 kinds)
  string(REPLACE "," ";" kinds "${kinds}")
  if(load STREQUAL "linked")
    add_sdl_stack_tests(${stack} "" "" "${kinds}")
  else()
    set(${variable} "" CACHE PATH "The folder ${script} prints, to run the tests on ${stack} too")
    if(${variable})
      add_sdl_stack_tests(${stack} "${stack}." "${${variable}}" "${kinds}")
    endif()
  endif()
endforeach()
