# The check of the Windows images against tests/pe_imports/allowlist.txt:
# imports, header values, sections and resources of pfmsetup.exe and
# pfmres.dll, read with the MinGW objdump.
#
# In the Windows build (cmake/WindowsBuild.cmake) the check runs on the
# targets just built, and a second test shows that it rejects an ordinary
# MinGW program and DLL. In the host build it runs on the kit folder of the
# Windows build (PFM_WINDOWS_BUILD_DIR, build/windows by default) and is
# reported as skipped when that has not been built.
include_guard(GLOBAL)

set(PFM_PE_DIR ${CMAKE_CURRENT_LIST_DIR}/pe_imports)
set(PFM_PE_ALLOWLIST ${PFM_PE_DIR}/allowlist.txt)

find_package(Python3 COMPONENTS Interpreter)
if(NOT PFM_MINGW_OBJDUMP)
  find_program(PFM_MINGW_OBJDUMP NAMES i686-w64-mingw32-objdump)
endif()
if(NOT Python3_Interpreter_FOUND OR NOT PFM_MINGW_OBJDUMP)
  message(STATUS "PE import check left out: needs python3 and i686-w64-mingw32-objdump")
  return()
endif()

set(PFM_PE_CHECK ${Python3_EXECUTABLE} ${PFM_PE_DIR}/check_pe.py
    --objdump ${PFM_MINGW_OBJDUMP} --allowlist ${PFM_PE_ALLOWLIST})

if(CMAKE_SYSTEM_NAME STREQUAL "Windows" AND TARGET pfmsetup AND PFMRES_DLL)
  add_test(NAME pe_imports
    COMMAND ${PFM_PE_CHECK}
            pfmsetup.exe=$<TARGET_FILE:pfmsetup>
            pfmres.dll=${PFMRES_DLL})
  set_tests_properties(pe_imports PROPERTIES REQUIRED_FILES "${PFMRES_DLL}")

  # The program as it ships (kit folder, floppy, CD), stripped of its
  # symbol table: the same check, the symbols read from the unstripped
  # program, whose sections it must match byte for byte.
  if(PFM_SHIPPED_EXE)
    add_test(NAME pe_imports_shipped
      COMMAND ${PFM_PE_CHECK}
              --symbols-from pfmsetup.exe=$<TARGET_FILE:pfmsetup>
              pfmsetup.exe=${PFM_KIT_DIR}/pfmsetup.exe
              pfmres.dll=${PFM_KIT_DIR}/pfmres.dll)
    # A stripped image whose symbols come from another build must fail.
    add_test(NAME pe_imports_shipped_rejects_other_symbols
      COMMAND ${PFM_PE_CHECK}
              --expect-fault "^pfmsetup.exe: sections differ from "
              --symbols-from pfmsetup.exe=$<TARGET_FILE:pe_probe_crt>
              pfmsetup.exe=${PFM_KIT_DIR}/pfmsetup.exe)
  endif()

  # The kit's floppy and CD images read back, and the shipped program's
  # missing symbol table.
  find_program(PFM_MINGW_NM NAMES i686-w64-mingw32-nm)
  if(PFM_MEDIA_OUTPUTS AND PFM_MINGW_NM)
    add_test(NAME kit_media
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/media/check_media.py media
              --kit ${PFM_KIT_DIR} --floppy ${PFM_FLOPPY_IMAGE} --cd ${PFM_CD_IMAGE}
              --unstripped $<TARGET_FILE:pfmsetup> --objdump ${PFM_MINGW_OBJDUMP} --nm ${PFM_MINGW_NM})
    set_tests_properties(kit_media PROPERTIES SKIP_RETURN_CODE 77)
  endif()

  # Images built the ordinary MinGW way, with its start-up code and runtime:
  # the check must name what makes them unfit.
  enable_language(RC)
  add_executable(pe_probe_crt ${PFM_PE_DIR}/crt_probe.cpp ${PFM_PE_DIR}/crt_probe.rc)
  add_library(pe_probe_crt_dll SHARED ${PFM_PE_DIR}/crt_probe_dll.cpp)
  set_target_properties(pe_probe_crt_dll PROPERTIES PREFIX "")
  add_test(NAME pe_imports_rejects_ordinary_mingw_images
    COMMAND ${PFM_PE_CHECK}
            --expect-fault "^pfmsetup.exe: import (msvcrt|api-ms-win-crt-[a-z-]+|ucrtbase)[.]dll![a-z_]+ is not in the allowlist"
            --expect-fault "^pfmsetup.exe: import KERNEL32.dll!GetTickCount is not in the allowlist"
            --expect-fault "^pfmsetup.exe: resource type 6 id 1 is not allowed"
            --expect-fault "^pfmsetup.exe: resource type 14 id 101 is missing"
            --expect-fault "^pfmsetup.exe: entry point [0-9a-f]+ is not _WinMainCRTStartup"
            --expect-fault "^pfmsetup.exe: [1-9][0-9]* static constructor"
            --expect-fault "^pfmsetup.exe: header field Subsystem is 00000003"
            --expect-fault "^pfmres.dll: data directory 'Thread Storage Directory' is not empty"
            --expect-fault "^pfmres.dll: data directory 'Export Directory' is not empty"
            --expect-fault "^pfmres.dll: header field AddressOfEntryPoint is [0-9a-f]*[1-9a-f]"
            --expect-fault "^pfmres.dll: section .text holds code"
            --expect-fault "^pfmres.dll: resource type 6 id 1 is missing"
            pfmsetup.exe=$<TARGET_FILE:pe_probe_crt>
            pfmres.dll=$<TARGET_FILE:pe_probe_crt_dll>)

  # The program's own runtime, run under Wine in a Windows 98 prefix of the
  # build's own (created once; the user's WINEPREFIX is left alone).
  find_program(PFM_WINE NAMES wine)
  find_program(PFM_WINEBOOT NAMES wineboot)
  find_program(PFM_WINESERVER NAMES wineserver)
  if(PFM_WINE AND PFM_WINEBOOT AND PFM_WINESERVER)
    add_executable(pe_runtime_probe ${PFM_PE_DIR}/runtime_probe.cpp)
    pfm_make_win9x_program(pe_runtime_probe)
    set(PFM_TEST_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-win98)
    add_test(NAME pe_wine_win98_prefix
      COMMAND ${CMAKE_COMMAND} -DWINE=${PFM_WINE} -DWINEBOOT=${PFM_WINEBOOT}
              -DWINESERVER=${PFM_WINESERVER} -DPREFIX=${PFM_TEST_WINEPREFIX}
              -P ${PFM_PE_DIR}/make_wine_prefix.cmake)
    set_tests_properties(pe_wine_win98_prefix PROPERTIES
      FIXTURES_SETUP pfm_wine_win98 TIMEOUT 300 RESOURCE_LOCK pfm_wine_win98)
    add_test(NAME pe_runtime_entry_and_memory
      COMMAND ${CMAKE_COMMAND} -DWINE=${PFM_WINE} -DPROBE=$<TARGET_FILE:pe_runtime_probe>
              -DPREFIX=${PFM_TEST_WINEPREFIX}
              -P ${PFM_PE_DIR}/run_runtime_probe.cmake)
    set_tests_properties(pe_runtime_entry_and_memory PROPERTIES
      FIXTURES_REQUIRED pfm_wine_win98 TIMEOUT 120 RESOURCE_LOCK pfm_wine_win98)
  endif()
else()
  set(PFM_WINDOWS_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/windows
      CACHE PATH "Binary folder of the Windows build, whose kit the PE import check reads")
  # The kit's program is stripped; its symbols come from the unstripped
  # one in the build folder.
  add_test(NAME pe_imports_windows_kit
    COMMAND ${PFM_PE_CHECK} --skip-missing
            --symbols-from pfmsetup.exe=${PFM_WINDOWS_BUILD_DIR}/pfmsetup.exe
            pfmsetup.exe=${PFM_WINDOWS_BUILD_DIR}/kit/pfmsetup.exe
            pfmres.dll=${PFM_WINDOWS_BUILD_DIR}/kit/pfmres.dll)
  set_tests_properties(pe_imports_windows_kit PROPERTIES SKIP_RETURN_CODE 77 LABELS pe)
endif()
