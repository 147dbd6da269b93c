# Writes the kit's media images from the kit folder: FLOPPY, a 1.44 MB
# FAT12 floppy image (mformat, mcopy), and CD, an ISO 9660 image with
# Joliet names (xorriso). Run with cmake -P, with KIT_DIR, FLOPPY, CD,
# MFORMAT, MCOPY and XORRISO set.
#
# Both carry the volume label PFMSETUP. The floppy's serial number is fixed
# and the files keep the kit folder's modification times (mcopy -m), so
# the same kit gives the same floppy image.
file(GLOB kit_files LIST_DIRECTORIES false "${KIT_DIR}/*")
if(NOT kit_files)
  message(FATAL_ERROR "The kit folder ${KIT_DIR} is empty")
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command} failed (${status}):\n${out}")
  endif()
endfunction()

# mtools reads ~/.mtoolsrc and /etc/mtools.conf: none of a user's settings
# (a drive letter mapping, mtools_skip_check) may change the image.
set(ENV{MTOOLSRC} /dev/null)
file(REMOVE "${FLOPPY}.tmp" "${CD}.tmp")
run(${MFORMAT} -f 1440 -C -N 50464d53 -v PFMSETUP -i "${FLOPPY}.tmp" ::)
run(${MCOPY} -m -i "${FLOPPY}.tmp" ${kit_files} ::)
file(RENAME "${FLOPPY}.tmp" "${FLOPPY}")

run(${XORRISO} -as mkisofs -quiet -J -r -V PFMSETUP -o "${CD}.tmp" "${KIT_DIR}")
file(RENAME "${CD}.tmp" "${CD}")
