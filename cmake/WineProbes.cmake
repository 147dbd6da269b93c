# Test suites that run one probe source twice, built with MinGW under Wine
# (the reference) and built for the host on the host layer, and compare.

# Finds what such a suite needs: MinGW-w64 (i686), wine, wineserver,
# wineboot and Python 3. PFM_PROBE_MISSING lists what this machine lacks.
macro(pfm_find_probe_tools)
  find_program(PFM_MINGW_CXX NAMES i686-w64-mingw32-g++ i686-w64-mingw32-g++-win32 i686-w64-mingw32-g++-posix)
  find_program(PFM_WINE wine)
  find_program(PFM_WINESERVER wineserver)
  find_program(PFM_WINEBOOT wineboot)
  find_package(Python3 COMPONENTS Interpreter QUIET)
  set(PFM_PROBE_MISSING "")
  foreach(_pfm_tool PFM_MINGW_CXX PFM_WINE PFM_WINESERVER PFM_WINEBOOT)
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
  add_test(NAME ${name} COMMAND sh -c "echo '${name} skipped: not found: ${missing}'; exit 77")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS conformance)
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
