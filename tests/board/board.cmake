# The device binary on emulated ARM boards with a framebuffer and a keyboard, one test per
# display path (tests/board/board_e2e.sh): vexpress-fb8 and virt-drm32 boot Debian's kernel
# (boards/debian-image.sh, RINGWAVE_BOARD_IMAGE), versatile-fb8 and versatile-drm16 the
# device processor's board with the kernel of boards/versatile-kernel.sh (RINGWAVE_BOARD_KERNEL;
# without it they are left out). It runs this build's ringwave, or the one
# RINGWAVE_BOARD_BINARY names; the host build gives ringwave-snapshot and frame_check, which
# tie the screen to the effect.
set(RINGWAVE_BOARD_IMAGE "" CACHE PATH "The test boards' pieces (boards/debian-image.sh)")
set(RINGWAVE_BOARD_KERNEL "" CACHE PATH
    "The versatilepb board's kernel (boards/versatile-kernel.sh); empty: its paths not tested")
set(RINGWAVE_BOARD_BINARY "" CACHE FILEPATH
    "The device ringwave the boards run (static, ARM); empty: this build's")
if(RINGWAVE_BOARD_IMAGE AND RINGWAVE_HOST_BUILD AND RINGWAVE_STATIC)
  add_executable(vt_state support/vt_state.c)
  target_link_options(vt_state PRIVATE -static)
  if(RINGWAVE_BOARD_BINARY)
    set(board_ringwave ${RINGWAVE_BOARD_BINARY})
  else()
    set(board_ringwave $<TARGET_FILE:ringwave>)
  endif()
  set(board_kernel ${RINGWAVE_BOARD_KERNEL})
  set(board_cases vexpress-fb8.display vexpress-fb8.lacks vexpress-fb8.signals
      virt-drm32.display virt-drm32.signals)
  if(RINGWAVE_BOARD_KERNEL)
    list(APPEND board_cases versatile-fb8.display versatile-drm16.display)
  else()
    set(board_kernel -)
  endif()
  foreach(board_case ${board_cases})
    string(REPLACE "." ";" path_and_case ${board_case})
    list(GET path_and_case 0 display_path)
    list(GET path_and_case 1 case)
    add_test(NAME board.${board_case}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/board/board_e2e.sh ${case} ${display_path}
                     ${RINGWAVE_BOARD_IMAGE} ${board_kernel} ${board_ringwave}
                     $<TARGET_FILE:vt_state> ${PROJECT_SOURCE_DIR}/data/fb.modes
                     ${RINGWAVE_HOST_BUILD}/ringwave-snapshot
                     ${RINGWAVE_HOST_BUILD}/tests/frame_check)
    # About a minute each: started before the short tests, so that those fill the gaps.
    set_tests_properties(board.${board_case} PROPERTIES TIMEOUT 600 COST 60
                         LABELS "board;board-${display_path}")
  endforeach()
endif()
