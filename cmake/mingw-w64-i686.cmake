# Cross build for 32-bit Windows with the MinGW-w64 tools (i686-w64-mingw32-*).
#
# Only the tools are chosen here. The settings that make the program fit for
# the Windows 95/98/Me family (no C runtime, own entry point, pinned header
# versions) are set per target in WindowsBuild.cmake, so that the compiler
# checks CMake runs while configuring still link the ordinary way.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 4.0)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PFM_MINGW_TRIPLET i686-w64-mingw32 CACHE STRING "Target triplet of the MinGW-w64 tools")

# The win32 thread model's compilers first: the program links neither C++
# runtime nor thread library, but checks and probes built the ordinary way
# then need no winpthread DLL.
find_program(CMAKE_C_COMPILER NAMES ${PFM_MINGW_TRIPLET}-gcc-win32 ${PFM_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${PFM_MINGW_TRIPLET}-g++-win32 ${PFM_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${PFM_MINGW_TRIPLET}-windres REQUIRED)
find_program(PFM_MINGW_OBJDUMP NAMES ${PFM_MINGW_TRIPLET}-objdump REQUIRED)
find_program(PFM_MINGW_LD NAMES ${PFM_MINGW_TRIPLET}-ld REQUIRED)

# Libraries and headers come from the MinGW-w64 tree only; programs (python3,
# wine) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${PFM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built for Windows run under Wine.
include(${CMAKE_CURRENT_LIST_DIR}/Wine.cmake)
pfm_find_wine()
if(PFM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PFM_WINE})
endif()
