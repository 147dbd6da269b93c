# Fills the kit folder: copies KIT_FILES (all required) into KIT_DIR, leaving
# files that are already the same untouched. Run with cmake -P.
file(MAKE_DIRECTORY "${KIT_DIR}")
foreach(file IN LISTS KIT_FILES)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "Kit file missing: ${file}")
  endif()
  get_filename_component(name "${file}" NAME)
  file(COPY_FILE "${file}" "${KIT_DIR}/${name}" ONLY_IF_DIFFERENT)
endforeach()
