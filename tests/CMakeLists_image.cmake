# Disk images: what an image is, its Windows partition, its files through
# mtools, WIN.INI replaced safely, the lock QEMU respects.
add_executable(image_tests
  ${CMAKE_CURRENT_LIST_DIR}/image_maker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/disk_image_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fat_image_drive_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_lock_test.cpp)
target_include_directories(image_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(image_tests PRIVATE pfmhost GTest::gtest_main)
target_compile_options(image_tests PRIVATE -Wall -Wextra)
gtest_discover_tests(image_tests
  DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS image TIMEOUT 600)
