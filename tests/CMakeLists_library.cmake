# Tests of the resource library and of the host's LoadLibraryA, LoadStringA
# and FreeLibrary.
include(${PROJECT_SOURCE_DIR}/resources/ResourceLibrary.cmake)

set(PFM_LIBRARY_TESTS_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(PFM_PFMRES_DLL "${CMAKE_BINARY_DIR}/pfmres.dll")

# The probe library: string tables that try the edges of LoadStringA.
add_executable(loadstring_probe_rc ${PFM_LIBRARY_TESTS_DIR}/loadstring_probe_rc.cpp)
set(PFM_PROBE_RC "${CMAKE_CURRENT_BINARY_DIR}/probe_strings.rc")
set(PFM_PROBE_DLL "${CMAKE_CURRENT_BINARY_DIR}/probe_strings.dll")
add_custom_command(
  OUTPUT "${PFM_PROBE_RC}"
  COMMAND loadstring_probe_rc "${PFM_PROBE_RC}"
  DEPENDS loadstring_probe_rc
  VERBATIM)
pfm_resource_library(TARGET probe_strings_dll OUTPUT "${PFM_PROBE_DLL}" SOURCE "${PFM_PROBE_RC}")

# The program's icon in a library of its own, for the reader to check.
set(PFM_ICON_DLL "${CMAKE_CURRENT_BINARY_DIR}/icon_resources.dll")
pfm_resource_library(TARGET icon_resources_dll OUTPUT "${PFM_ICON_DLL}"
  SOURCE "${CMAKE_BINARY_DIR}/resources/pfmicon.rc")
add_dependencies(icon_resources_dll pfmicon_resources)

add_executable(pe_strings_test ${PFM_LIBRARY_TESTS_DIR}/pe_strings_test.cpp)
target_link_libraries(pe_strings_test PRIVATE pfmcore GTest::gtest_main)
target_compile_definitions(pe_strings_test PRIVATE
  PFMRES_DLL="${PFM_PFMRES_DLL}"
  PFMRES_RC="${PROJECT_SOURCE_DIR}/resources/pfmres.rc"
  PROBE_DLL="${PFM_PROBE_DLL}"
  ICON_DLL="${PFM_ICON_DLL}")
add_dependencies(pe_strings_test pfmres probe_strings_dll icon_resources_dll)
gtest_discover_tests(pe_strings_test PROPERTIES LABELS unit)

# Built beside pfmres.dll, so that the program's folder of the library
# search is the folder that holds the real library.
add_executable(library_ops_test ${PFM_LIBRARY_TESTS_DIR}/library_ops_test.cpp)
set_target_properties(library_ops_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
target_link_libraries(library_ops_test PRIVATE pfmtestkit GTest::gtest_main)
target_compile_definitions(library_ops_test PRIVATE
  PFMRES_DLL="${PFM_PFMRES_DLL}"
  PROBE_DLL="${PFM_PROBE_DLL}")
add_dependencies(library_ops_test pfmres probe_strings_dll)
gtest_discover_tests(library_ops_test PROPERTIES LABELS unit)

# The same probe program run under Wine, where the system answers, and on
# the host, where the host layer does: their answers must agree, for the
# real library and the probe library.
find_program(PFM_WINE wine)
find_program(PFM_MINGW_CC i686-w64-mingw32-gcc)
# The host declares the Win32 names as C++ functions, so the probe is
# compiled as C++ there.
set_source_files_properties(${PFM_LIBRARY_TESTS_DIR}/loadstring_probe.c PROPERTIES LANGUAGE CXX)
add_executable(loadstring_probe_host ${PFM_LIBRARY_TESTS_DIR}/loadstring_probe.c)
target_link_libraries(loadstring_probe_host PRIVATE pfmcore)
if(PFM_WINE AND PFM_MINGW_CC)
  set(PFM_PROBE_EXE "${CMAKE_CURRENT_BINARY_DIR}/loadstring_probe.exe")
  add_custom_command(
    OUTPUT "${PFM_PROBE_EXE}"
    COMMAND "${PFM_MINGW_CC}" -O2 -Wall -I${PROJECT_SOURCE_DIR}
            -o "${PFM_PROBE_EXE}" "${PFM_LIBRARY_TESTS_DIR}/loadstring_probe.c"
    DEPENDS "${PFM_LIBRARY_TESTS_DIR}/loadstring_probe.c" "${PROJECT_SOURCE_DIR}/platform/platform.h"
    COMMENT "Building the Windows LoadStringA probe"
    VERBATIM)
  add_custom_target(loadstring_probe_exe ALL DEPENDS "${PFM_PROBE_EXE}")
  add_dependencies(loadstring_probe_host loadstring_probe_exe probe_strings_dll pfmres)
  add_test(NAME loadstring_matches_wine
    COMMAND "${CMAKE_COMMAND}"
      -DWINE=${PFM_WINE}
      -DWINDOWS_PROBE=${PFM_PROBE_EXE}
      -DHOST_PROBE=$<TARGET_FILE:loadstring_probe_host>
      -DPFMRES_DLL=${PFM_PFMRES_DLL}
      -DPROBE_DLL=${PFM_PROBE_DLL}
      -DPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wine-loadstring-prefix
      -P "${PFM_LIBRARY_TESTS_DIR}/loadstring_compare.cmake")
  set_tests_properties(loadstring_matches_wine PROPERTIES LABELS wine TIMEOUT 600)
endif()
