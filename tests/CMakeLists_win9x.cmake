# The registry file of a Windows 95/98/Me drive: the reader over libcreg,
# the writer of such files (tests/tools/creg_write.py) read back by the
# reader and by Debian's cregexport, a real SYSTEM.DAT, and hostile files.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
find_program(PFM_CREGEXPORT cregexport REQUIRED)
add_executable(win9x_registry_tests ${CMAKE_CURRENT_LIST_DIR}/registry_win9x_test.cpp)
target_link_libraries(win9x_registry_tests PRIVATE pfmhost GTest::gtest_main)
target_compile_options(win9x_registry_tests PRIVATE -Wall -Wextra)
target_compile_definitions(win9x_registry_tests PRIVATE
  PFM_PYTHON3="${Python3_EXECUTABLE}"
  PFM_CREG_WRITE="${CMAKE_CURRENT_LIST_DIR}/tools/creg_write.py"
  PFM_CREGEXPORT="${PFM_CREGEXPORT}"
  PFM_WIN9X_DATA="${CMAKE_CURRENT_LIST_DIR}/data/win9x")
gtest_discover_tests(win9x_registry_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS win9x TIMEOUT 300)
