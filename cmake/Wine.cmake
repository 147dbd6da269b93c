# Wine, where it runs on this machine. Wine is installed as a 32-bit
# program (wine32:i386); a kernel that runs no 32-bit programs (IA-32
# emulation switched off, as on some virtual machines) leaves every wine
# command failing with "Exec format error". The suites that compare with
# Wine then count as skipped, saying why, instead of failing.
include_guard(GLOBAL)

# Sets PFM_WINE to the wine program when it runs here, else to
# PFM_WINE-NOTFOUND, and PFM_WINE_WHY to the reason.
function(pfm_find_wine)
  find_program(PFM_WINE_PROGRAM NAMES wine)
  if(NOT PFM_WINE_PROGRAM)
    set(PFM_WINE PFM_WINE-NOTFOUND PARENT_SCOPE)
    set(PFM_WINE_WHY "wine is not installed" PARENT_SCOPE)
    return()
  endif()
  get_property(checked GLOBAL PROPERTY PFM_WINE_RUNS SET)
  if(NOT checked)
    execute_process(COMMAND ${PFM_WINE_PROGRAM} --version
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err TIMEOUT 60)
    if(rc EQUAL 0)
      set_property(GLOBAL PROPERTY PFM_WINE_RUNS TRUE)
    else()
      string(STRIP "${err}" err)
      set_property(GLOBAL PROPERTY PFM_WINE_RUNS FALSE)
      set_property(GLOBAL PROPERTY PFM_WINE_ERROR "${err}")
      message(STATUS "Wine is installed but does not run on this machine (${err}): "
                     "the comparisons with Wine are reported as skipped")
    endif()
  endif()
  get_property(runs GLOBAL PROPERTY PFM_WINE_RUNS)
  if(runs)
    set(PFM_WINE ${PFM_WINE_PROGRAM} PARENT_SCOPE)
    set(PFM_WINE_WHY "" PARENT_SCOPE)
  else()
    get_property(err GLOBAL PROPERTY PFM_WINE_ERROR)
    set(PFM_WINE PFM_WINE-NOTFOUND PARENT_SCOPE)
    set(PFM_WINE_WHY "wine does not run on this machine: ${err}" PARENT_SCOPE)
  endif()
endfunction()

# A test NAME, labelled LABELS, that counts as skipped and says WHY.
function(pfm_skipped_test name labels why)
  string(REPLACE "'" "" why "${why}")
  add_test(NAME ${name} COMMAND sh -c "echo '${name} skipped: ${why}'; exit 77")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS "${labels}")
endfunction()
