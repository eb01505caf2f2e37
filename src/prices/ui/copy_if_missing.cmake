# cmake -DSOURCE=<file> -DTARGET=<file> -P copy_if_missing.cmake
# Copies SOURCE to TARGET unless TARGET (or a link by that name) exists.
if(EXISTS "${TARGET}" OR IS_SYMLINK "${TARGET}")
  return()
endif()
get_filename_component(dir "${TARGET}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(COPY_FILE "${SOURCE}" "${TARGET}")
