# Runs the LoadStringA probe under Wine and on the host with the same
# arguments and fails on the first line where their answers differ.
#
# Both runs use the same prefix (created by Wine on the first run), and
# name the libraries by their Windows paths on drive Z:, so the host's
# LoadLibraryA maps the paths as Wine does.

cmake_policy(VERSION 3.20)

foreach(var WINE WINDOWS_PROBE HOST_PROBE PFMRES_DLL PROBE_DLL PREFIX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "loadstring_compare.cmake needs -D${var}=...")
  endif()
endforeach()

set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEARCH} "win32")
set(ENV{WINEDEBUG} "-all")
set(ENV{DISPLAY} "")

function(windows_path out unix_path)
  string(REPLACE "/" "\\" path "${unix_path}")
  set(${out} "Z:${path}" PARENT_SCOPE)
endfunction()

function(compare name)
  execute_process(COMMAND "${WINE}" "${WINDOWS_PROBE}" ${ARGN}
    OUTPUT_VARIABLE wine_out ERROR_VARIABLE wine_err RESULT_VARIABLE wine_rc)
  execute_process(COMMAND "${HOST_PROBE}" ${ARGN}
    OUTPUT_VARIABLE host_out ERROR_VARIABLE host_err RESULT_VARIABLE host_rc)
  if(NOT wine_rc EQUAL 0 OR NOT host_rc EQUAL 0)
    message(FATAL_ERROR "${name}: the probe failed (Wine ${wine_rc}, host ${host_rc})\n${wine_err}\n${host_err}")
  endif()
  string(REPLACE "\n" ";" wine_lines "${wine_out}")
  string(REPLACE "\n" ";" host_lines "${host_out}")
  list(LENGTH wine_lines wine_count)
  list(LENGTH host_lines host_count)
  if(NOT wine_out MATCHES "^load (ok|failed)\n")
    message(FATAL_ERROR "${name}: Wine gave no answers:\n${wine_out}\n${wine_err}")
  endif()
  if(NOT wine_count EQUAL host_count)
    message(FATAL_ERROR "${name}: Wine gave ${wine_count} lines, the host ${host_count}")
  endif()
  math(EXPR last "${wine_count} - 1")
  foreach(i RANGE ${last})
    list(GET wine_lines ${i} w)
    list(GET host_lines ${i} h)
    if(NOT w STREQUAL h)
      string(SUBSTRING "${w}" 0 300 w_short)
      string(SUBSTRING "${h}" 0 300 h_short)
      message(FATAL_ERROR "${name}: answers differ\n  Wine: ${w_short}\n  host: ${h_short}")
    endif()
  endforeach()
  message(STATUS "${name}: ${wine_count} lines agree")
endfunction()

windows_path(real "${PFMRES_DLL}")
windows_path(probe "${PROBE_DLL}")
string(TOUPPER "${probe}" probe_upper)
string(REGEX REPLACE "\\.dll$" "" probe_bare "${probe}")

set(real_ids)
foreach(id RANGE 0 17)
  list(APPEND real_ids ${id})
endforeach()
compare("the built library" "${real}" ${real_ids} 2:1 2:2 2:0 8:100 0x10002)

# The edges: the cut at 2047, 2048 and 3000 characters, empty and absent
# entries, a NUL inside a string, characters outside the code page, the
# low 16 bits of the id, the languages, buffer sizes 0, 1, 2 and negative.
compare("the probe library's edges" "${probe}"
  0 1 2 3 4 5 6 7 8 9 15 32 48 64 65534 65535 0x1ffff
  1:2047 1:2 3:1 2:0 7:70000 7:-1 4:-1)

# Every UTF-16 unit, 4096 to a string, converted whole.
set(unit_ids)
foreach(id RANGE 16 31)
  list(APPEND unit_ids ${id}:4097)
endforeach()
compare("every UTF-16 unit" "${probe}" ${unit_ids})

# The file name in other letter case, and without its extension.
compare("the name in capitals" "${probe_upper}" 65535)
compare("the name without .dll" "${probe_bare}" 65535)
compare("a missing library" "Z:\\nonexistent\\pfmres.dll" 2)
set(not_a_library "${PREFIX}-notalib.dll")
file(WRITE "${not_a_library}" "MZ, and not a library")
windows_path(not_a_library_path "${not_a_library}")
compare("a file that is not a library" "${not_a_library_path}" 2)
