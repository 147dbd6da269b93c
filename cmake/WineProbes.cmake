# Test suites that run one probe source twice, built with MinGW under Wine
# (the reference) and built for the host on the host layer, and compare.

include(${CMAKE_CURRENT_LIST_DIR}/Wine.cmake)

# Finds what such a suite needs: MinGW-w64 (i686), wine, wineserver,
# wineboot and Python 3. PFM_PROBE_MISSING lists what this machine lacks.
macro(pfm_find_probe_tools)
  find_program(PFM_MINGW_CXX NAMES i686-w64-mingw32-g++ i686-w64-mingw32-g++-win32 i686-w64-mingw32-g++-posix)
  pfm_find_wine()
  find_program(PFM_WINESERVER wineserver)
  find_program(PFM_WINEBOOT wineboot)
  find_package(Python3 COMPONENTS Interpreter QUIET)
  set(PFM_PROBE_MISSING "")
  if(NOT PFM_WINE)
    list(APPEND PFM_PROBE_MISSING "a Wine that runs (${PFM_WINE_WHY})")
  endif()
  foreach(_pfm_tool PFM_MINGW_CXX PFM_WINESERVER PFM_WINEBOOT)
    if(NOT ${_pfm_tool})
      list(APPEND PFM_PROBE_MISSING ${_pfm_tool})
    endif()
  endforeach()
  if(NOT Python3_Interpreter_FOUND)
    list(APPEND PFM_PROBE_MISSING Python3)
  endif()
endmacro()

# One test NAME that says which tools are missing and counts as skipped.
function(pfm_skipped_suite name)
  string(REPLACE ";" ", " missing "${PFM_PROBE_MISSING}")
  pfm_skipped_test(${name} conformance "not found: ${missing}")
endfunction()

# Builds SOURCE with the MinGW compiler into OUTPUT (static, so that Wine
# needs no MinGW runtime DLLs), as target TARGET.
function(pfm_windows_probe target source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${PFM_MINGW_CXX} -std=c++17 -O2 -Wall -Wextra -static -I${PROJECT_SOURCE_DIR} -o ${output} ${source}
    DEPENDS ${source} ${PROJECT_SOURCE_DIR}/platform/platform.h
    COMMENT "Building ${output} with MinGW"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
