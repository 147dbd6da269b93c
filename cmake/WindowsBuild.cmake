# The Windows build: pfmsetup.exe and pfmres.dll for the Windows 95/98/Me
# family, and the kit folder that holds them with the sample pfmsetup.ini.
#
# Included from the top-level CMakeLists.txt when building for Windows (with
# the toolchain file cmake/mingw-w64-i686.cmake), after the top level has set
# PFM_LOGIC_SOURCES and PFM_APP_SOURCES and added resources/ (the targets
# pfmres and pfmicon, the file PFMRES_DLL).
#
# What makes the images load on every member of the family, Windows 95 as
# first shipped included:
# - no C or C++ runtime DLL: msvcrt.dll is missing on the first Windows 95
#   release, and MinGW's start-up code, C++ runtime and thread library import
#   functions that only Windows 2000 and later export. The executable links
#   only its own small runtime (platform/win32/), libgcc for the compiler's
#   helpers (stack probes, 64-bit division; they import nothing) and the
#   import libraries of kernel32, user32 and advapi32;
# - no exceptions, RTTI or static constructors, since no start-up code runs
#   constructors or registers unwind tables;
# - subsystem and OS version 4.0 and a section alignment of 0x1000, pinned in
#   the header rather than left to the linker's defaults;
# - code for the 80386, the oldest processor the family runs on;
# - a resource library with no code, no entry point and no thread-local
#   storage directory (Windows 95 refuses a DLL that has one); resources/
#   builds it.
#
# tests/pe_imports/ checks the result against a reviewed allowlist.

include_guard(GLOBAL)

# Nothing of the ordinary Windows link: each target names its libraries.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

set(PFM_WIN32_DIR ${PROJECT_SOURCE_DIR}/platform/win32)

foreach(required PFM_LOGIC_SOURCES PFM_APP_SOURCES PFMRES_DLL)
  if(NOT ${required})
    message(FATAL_ERROR "WindowsBuild.cmake: ${required} is not set; include it from the top-level CMakeLists.txt")
  endif()
endforeach()

# Compiler settings of the code that runs on Windows 95/98/Me.
set(PFM_WIN9X_COMPILE_OPTIONS
  -march=i386 -mtune=generic
  -fno-exceptions -fno-rtti
  -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-threadsafe-statics -fcheck-new
  -fno-stack-protector -fno-ident
  -Wall -Wextra)

# Header values every image of the Windows build carries.
set(PFM_WIN9X_HEADER_LINK_OPTIONS
  -Wl,--major-subsystem-version,4,--minor-subsystem-version,0
  -Wl,--major-os-version,4,--minor-os-version,0
  -Wl,--section-alignment,0x1000,--file-alignment,0x200
  -Wl,--disable-dynamicbase,--disable-nxcompat)

# The program's own runtime: the entry point and what the compiler may call.
add_library(pfmwin32rt STATIC
  ${PFM_WIN32_DIR}/startup.cpp
  ${PFM_WIN32_DIR}/crt.cpp)
target_include_directories(pfmwin32rt PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(pfmwin32rt PRIVATE ${PFM_WIN9X_COMPILE_OPTIONS})

# Makes TARGET (an executable) a program for the Windows 95/98/Me family:
# compiled with the settings above, linked without any C or C++ runtime, its
# entry point the runtime's WinMainCRTStartup (with the leading underscore of
# i386 C names). The runtime library comes after the program's own objects
# so that it resolves what they need of it, libgcc after it for the
# compiler's helpers (stack probes for frames over 4 KiB, 64-bit division),
# and the import libraries last.
function(pfm_make_win9x_program target)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:${PFM_WIN9X_COMPILE_OPTIONS}>)
  target_link_options(${target} PRIVATE
    -nostdlib -nostartfiles
    -Wl,--entry,_WinMainCRTStartup
    -Wl,--disable-auto-import,--disable-runtime-pseudo-reloc
    ${PFM_WIN9X_HEADER_LINK_OPTIONS})
  target_link_libraries(${target} PRIVATE pfmwin32rt gcc kernel32 user32 advapi32)
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX WIN32_EXECUTABLE ON)
endfunction()

# pfmsetup.exe: the logic, the runtime and the icon (icon group 101 and its
# image, the only resources the executable carries).
add_executable(pfmsetup WIN32 ${PFM_LOGIC_SOURCES} ${PFM_APP_SOURCES})
pfm_make_win9x_program(pfmsetup)
target_link_libraries(pfmsetup PRIVATE pfmicon)
set_target_properties(pfmsetup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The program as it ships: stripped of its symbol table (the symbols only
# serve debugging and the image checks). The unstripped one stays in the
# build folder.
find_program(PFM_MINGW_STRIP NAMES ${PFM_MINGW_TRIPLET}-strip i686-w64-mingw32-strip REQUIRED)
set(PFM_SHIPPED_EXE ${CMAKE_BINARY_DIR}/shipped/pfmsetup.exe)
add_custom_command(
  OUTPUT ${PFM_SHIPPED_EXE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/shipped
  COMMAND ${PFM_MINGW_STRIP} --strip-all -o ${PFM_SHIPPED_EXE} $<TARGET_FILE:pfmsetup>
  DEPENDS pfmsetup
  COMMENT "Stripping the symbol table off the shipped pfmsetup.exe"
  VERBATIM)

# The kit folder, ready to copy onto a disk: the program, the resource library
# and the sample setup description file.
set(PFM_KIT_DIR ${CMAKE_BINARY_DIR}/kit)
set(PFM_KIT_SAMPLE_INI ${PROJECT_SOURCE_DIR}/examples/kit/pfmsetup.ini)
set(PFM_KIT_STAMP ${CMAKE_BINARY_DIR}/kit.stamp)
add_custom_command(
  OUTPUT ${PFM_KIT_STAMP}
  COMMAND ${CMAKE_COMMAND}
          -DKIT_DIR=${PFM_KIT_DIR}
          "-DKIT_FILES=${PFM_SHIPPED_EXE}$<SEMICOLON>${PFMRES_DLL}$<SEMICOLON>${PFM_KIT_SAMPLE_INI}"
          -P ${CMAKE_CURRENT_LIST_DIR}/CopyKit.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${PFM_KIT_STAMP}
  DEPENDS ${PFM_SHIPPED_EXE} pfmres ${PFMRES_DLL} ${CMAKE_CURRENT_LIST_DIR}/CopyKit.cmake
  COMMENT "Filling the kit folder ${PFM_KIT_DIR}"
  VERBATIM)

# The kit on the media it ships on, beside the kit folder: a 1.44 MB floppy
# image (FAT12, made with mtools) and a CD image (ISO 9660 with Joliet
# names, made with xorriso), each holding the kit folder's files. Left out,
# with a note, where the tools are missing.
find_program(PFM_MFORMAT mformat)
find_program(PFM_MCOPY mcopy)
find_program(PFM_XORRISO xorriso)
set(PFM_FLOPPY_IMAGE ${CMAKE_BINARY_DIR}/pfmsetup-floppy.img)
set(PFM_CD_IMAGE ${CMAKE_BINARY_DIR}/pfmsetup-cd.iso)
set(PFM_MEDIA_OUTPUTS "")
if(PFM_MFORMAT AND PFM_MCOPY AND PFM_XORRISO)
  set(PFM_MEDIA_OUTPUTS ${PFM_FLOPPY_IMAGE} ${PFM_CD_IMAGE})
  add_custom_command(
    OUTPUT ${PFM_MEDIA_OUTPUTS}
    COMMAND ${CMAKE_COMMAND}
            -DKIT_DIR=${PFM_KIT_DIR} -DFLOPPY=${PFM_FLOPPY_IMAGE} -DCD=${PFM_CD_IMAGE}
            -DMFORMAT=${PFM_MFORMAT} -DMCOPY=${PFM_MCOPY} -DXORRISO=${PFM_XORRISO}
            -P ${CMAKE_CURRENT_LIST_DIR}/MakeMedia.cmake
    DEPENDS ${PFM_KIT_STAMP} ${CMAKE_CURRENT_LIST_DIR}/MakeMedia.cmake
    COMMENT "Writing the kit's floppy and CD images"
    VERBATIM)
else()
  message(STATUS "Floppy and CD images left out: needs mformat, mcopy (mtools) and xorriso")
endif()
add_custom_target(pfm_kit ALL DEPENDS ${PFM_KIT_STAMP} ${PFM_MEDIA_OUTPUTS})

if(PFM_BUILD_TESTS)
  enable_testing()
  include(${PROJECT_SOURCE_DIR}/tests/pe_imports/CMakeLists.txt)
endif()
