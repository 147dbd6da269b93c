# Building resource-only libraries with the MinGW-w64 binutils: windres
# compiles a resource script into a COFF object, ld links that alone into
# a PE DLL. Used for pfmres.dll and for the libraries the tests build.
include_guard(GLOBAL)

find_program(PFM_WINDRES i686-w64-mingw32-windres REQUIRED)
find_program(PFM_RESOURCE_LD i686-w64-mingw32-ld REQUIRED)

set(PFM_RESOURCE_LINKER_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/resource_only.ld" CACHE INTERNAL
    "The linker script of resource-only libraries")

# pfm_resource_object(OUTPUT <object> SOURCE <script> [DEPENDS <files>...])
# Compiles one resource script into a COFF object.
function(pfm_resource_object)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "OUTPUT;SOURCE" "DEPENDS")
  add_custom_command(
    OUTPUT "${arg_OUTPUT}"
    COMMAND "${PFM_WINDRES}" --input-format=rc --output-format=coff
            -o "${arg_OUTPUT}" "${arg_SOURCE}"
    DEPENDS "${arg_SOURCE}" ${arg_DEPENDS}
    COMMENT "Compiling resources ${arg_SOURCE}"
    VERBATIM)
endfunction()

# pfm_resource_library(TARGET <name> OUTPUT <dll> SOURCE <script> [DEPENDS ...])
# Builds a DLL that holds the resources of one script and nothing else: no
# code, no entry point, no imports, no thread-local storage, no symbols, so that every
# Windows from 95 on loads it. Windows 95 wants subsystem 4.0 and a
# section alignment of at least 0x1000; the time stamp is left at zero so
# the same script always gives the same file.
function(pfm_resource_library)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;OUTPUT;SOURCE" "DEPENDS")
  get_filename_component(name "${arg_OUTPUT}" NAME_WE)
  set(object "${CMAKE_CURRENT_BINARY_DIR}/${name}_resources.o")
  pfm_resource_object(OUTPUT "${object}" SOURCE "${arg_SOURCE}" DEPENDS ${arg_DEPENDS})
  add_custom_command(
    OUTPUT "${arg_OUTPUT}"
    COMMAND "${PFM_RESOURCE_LD}" -m i386pe --dll -e 0 -nostdlib -s
            --subsystem windows:4.0
            --major-os-version 4 --minor-os-version 0
            --section-alignment 0x1000 --file-alignment 0x200
            --disable-dynamicbase --disable-nxcompat --enable-reloc-section
            --no-insert-timestamp
            -T "${PFM_RESOURCE_LINKER_SCRIPT}"
            -o "${arg_OUTPUT}" "${object}"
    DEPENDS "${object}" "${PFM_RESOURCE_LINKER_SCRIPT}"
    COMMENT "Linking resource library ${arg_OUTPUT}"
    VERBATIM)
  add_custom_target(${arg_TARGET} ALL DEPENDS "${arg_OUTPUT}")
endfunction()
