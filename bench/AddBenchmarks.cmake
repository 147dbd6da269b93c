# Included after project() by the "bench" preset (CMAKE_PROJECT_INCLUDE):
# takes bench/CMakeLists.txt in at the end of the top-level CMakeLists.txt,
# unless that file has added bench/ itself. (A deferred call may not add a
# subdirectory, so the file is included; it names its paths so that it
# works both ways.)
include_guard(GLOBAL)

function(pfm_add_benchmarks_once)
  if(NOT TARGET install_bench)
    include(${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  endif()
endfunction()

if(CMAKE_CURRENT_SOURCE_DIR STREQUAL CMAKE_SOURCE_DIR)
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL pfm_add_benchmarks_once)
endif()
