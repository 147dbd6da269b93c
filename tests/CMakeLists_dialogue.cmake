# The dialogue operations of the host layer: message boxes on the terminal,
# the search for a box another copy shows, and bringing it forward.
add_executable(dialogue_test
  ${CMAKE_CURRENT_LIST_DIR}/message_box_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_ops_test.cpp)
target_link_libraries(dialogue_test PRIVATE pfmcore GTest::gtest_main)
target_compile_options(dialogue_test PRIVATE -Wall -Wextra)
gtest_discover_tests(dialogue_test PROPERTIES TIMEOUT 120)
pfm_label_discovered(dialogue_test "unit;dialogue")

# The same boxes against Wine's own message box. Slow (it makes a Windows 98
# prefix) and skipped where MinGW, Wine, xvfb-run or xdotool are missing;
# `ctest -LE wine` leaves it out.
add_executable(dialogue_wine_test ${CMAKE_CURRENT_LIST_DIR}/dialogue_wine_test.cpp)
target_link_libraries(dialogue_wine_test PRIVATE pfmcore GTest::gtest_main)
target_compile_options(dialogue_wine_test PRIVATE -Wall -Wextra)
gtest_discover_tests(dialogue_wine_test PROPERTIES LABELS wine TIMEOUT 600 RUN_SERIAL TRUE)
