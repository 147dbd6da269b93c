# Included at the end of the top-level project() call by the fuzz preset
# (CMAKE_PROJECT_INCLUDE): the fuzz targets are read once the whole project
# has been read, so that they can link the host layer and the logic as the
# program does.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz targets need clang (libFuzzer); configure with the fuzz preset")
endif()
# The arguments of a deferred call are expanded when it runs.
set(PFM_FUZZ_LISTS "${CMAKE_CURRENT_LIST_DIR}/CMakeLists.txt")
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL include "${PFM_FUZZ_LISTS}")
