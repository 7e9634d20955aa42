# ringwave_check_target_sdl(): in a cross build, stops configure when the SDL 1.2 pkg-config
# reported (the SDL_* variables of pkg_check_modules) lies outside the target's sysroot: with
# no PKG_CONFIG_LIBDIR and PKG_CONFIG_SYSROOT_DIR, pkg-config hands over the build machine's
# headers, and the program would be compiled against them and linked with the target's
# library. The sysroot is CMAKE_SYSROOT, CMAKE_FIND_ROOT_PATH or the compiler's own.
function(ringwave_check_target_sdl)
  if(NOT CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(roots ${CMAKE_SYSROOT} ${CMAKE_FIND_ROOT_PATH})
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-sysroot
                  OUTPUT_VARIABLE compiler_sysroot OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(compiler_sysroot AND NOT compiler_sysroot STREQUAL "/")
    list(APPEND roots ${compiler_sysroot})
  endif()
  if(RINGWAVE_STATIC)
    set(dirs ${SDL_STATIC_INCLUDE_DIRS} ${SDL_STATIC_LIBRARY_DIRS})
  else()
    set(dirs ${SDL_INCLUDE_DIRS} ${SDL_LIBRARY_DIRS})
  endif()
  foreach(dir ${dirs})
    set(inside FALSE)
    foreach(root ${roots})
      get_filename_component(root "${root}" ABSOLUTE)
      string(FIND "${dir}/" "${root}/" at)
      if(at EQUAL 0)
        set(inside TRUE)
      endif()
    endforeach()
    if(NOT inside)
      if(roots)
        set(where "the target's sysroot (${roots})")
      else()
        set(where "any sysroot: the toolchain file names none (CMAKE_SYSROOT)")
      endif()
      message(FATAL_ERROR
        "Cross build for ${CMAKE_SYSTEM_PROCESSOR}, but pkg-config reports SDL 1.2 in ${dir}, "
        "outside ${where}: that is the build machine's SDL. Point pkg-config at the target's "
        "sysroot, in the environment or in the toolchain file (set(ENV{...} ...)):\n"
        "  PKG_CONFIG_LIBDIR=<sysroot>/usr/lib/<triplet>/pkgconfig:<sysroot>/usr/lib/pkgconfig:<sysroot>/usr/share/pkgconfig\n"
        "  PKG_CONFIG_SYSROOT_DIR=<sysroot>\n"
        "and set CMAKE_SYSROOT to <sysroot>, or use the SDK's own pkg-config "
        "(-DPKG_CONFIG_EXECUTABLE=...). Then configure a new build folder.")
    endif()
  endforeach()
endfunction()
