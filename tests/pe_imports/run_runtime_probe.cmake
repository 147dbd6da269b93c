# Runs the runtime probe under Wine and checks its exit code (42 when every
# check passed). Arguments: -DWINE=... -DPROBE=... -DPREFIX=...
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEARCH} win32)
set(ENV{WINEDEBUG} -all)
execute_process(COMMAND "${WINE}" "${PROBE}" "two words" plain
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 42)
  message(FATAL_ERROR "runtime probe ended with ${rc}, not 42 (see the numbered "
                      "checks in runtime_probe.cpp)\n${out}${err}")
endif()
message(STATUS "runtime probe: exit code 42, every check passed")
