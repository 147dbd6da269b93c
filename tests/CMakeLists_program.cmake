# The host program run as a process (program_test) and the forming of its
# texts (texts_test).
include(${CMAKE_CURRENT_LIST_DIR}/../resources/ResourceLibrary.cmake)

set(PFM_PROGRAM_RC_DIR "${CMAKE_CURRENT_LIST_DIR}/program_resources")
set(PFM_PROGRAM_LIB_DIR "${CMAKE_CURRENT_BINARY_DIR}/program_libraries")

# Resource libraries with other strings than pfmres.dll; a test copies one
# as pfmres.dll beside a copy of the program.
string(REPEAT "Q" 2040 LONG_Q)
string(REPEAT "S" 3000 LONG_S)
string(REPEAT "F" 2040 LONG_F)
configure_file(${PFM_PROGRAM_RC_DIR}/hostile.rc.in ${PFM_PROGRAM_LIB_DIR}/hostile.rc @ONLY)
pfm_resource_library(TARGET program_plain_strings
  OUTPUT ${PFM_PROGRAM_LIB_DIR}/plain_strings.dll SOURCE ${PFM_PROGRAM_RC_DIR}/plain.rc)
pfm_resource_library(TARGET program_no_caption_strings
  OUTPUT ${PFM_PROGRAM_LIB_DIR}/no_caption_strings.dll SOURCE ${PFM_PROGRAM_RC_DIR}/no_caption.rc)
pfm_resource_library(TARGET program_hostile_strings
  OUTPUT ${PFM_PROGRAM_LIB_DIR}/hostile_strings.dll SOURCE ${PFM_PROGRAM_LIB_DIR}/hostile.rc)
# Texts beyond ASCII, for the whole runs on installations of code page 1251
# and 932 (win9x_drive, terminal).
pfm_resource_library(TARGET program_cyrillic_strings
  OUTPUT ${PFM_PROGRAM_LIB_DIR}/cyrillic_strings.dll SOURCE ${PFM_PROGRAM_RC_DIR}/cyrillic.rc)
pfm_resource_library(TARGET program_japanese_strings
  OUTPUT ${PFM_PROGRAM_LIB_DIR}/japanese_strings.dll SOURCE ${PFM_PROGRAM_RC_DIR}/japanese.rc)

add_executable(program_test ${CMAKE_CURRENT_LIST_DIR}/program_test.cpp)
target_link_libraries(program_test PRIVATE pfmtestkit GTest::gtest_main)
target_compile_options(program_test PRIVATE -Wall -Wextra)
target_compile_definitions(program_test PRIVATE
  PFMSETUP_PROGRAM="$<TARGET_FILE:pfmsetup>"
  PFMRES_DLL="${CMAKE_BINARY_DIR}/pfmres.dll"
  PLAIN_STRINGS_DLL="${PFM_PROGRAM_LIB_DIR}/plain_strings.dll"
  NO_CAPTION_STRINGS_DLL="${PFM_PROGRAM_LIB_DIR}/no_caption_strings.dll"
  HOSTILE_STRINGS_DLL="${PFM_PROGRAM_LIB_DIR}/hostile_strings.dll")
add_dependencies(program_test pfmsetup pfmres
  program_plain_strings program_no_caption_strings program_hostile_strings)
gtest_discover_tests(program_test PROPERTIES TIMEOUT 300)
pfm_label_discovered(program_test "program;e2e")

add_executable(texts_test ${CMAKE_CURRENT_LIST_DIR}/texts_test.cpp)
target_link_libraries(texts_test PRIVATE pfmcore GTest::gtest_main)
target_compile_options(texts_test PRIVATE -Wall -Wextra)
gtest_discover_tests(texts_test PROPERTIES LABELS unit)
