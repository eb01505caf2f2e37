# bilmeko_module(<name> SOURCES <files...> LIBS <libs...>): a module a
# program loads at need (QLibrary), as the chart and the ledger are. Beside
# the executables in the build tree, installed in the private library folder
# (dist/). Only its entry is exported; its copies of the program's own code
# stay its own.
function(bilmeko_module name)
  cmake_parse_arguments(M "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${M_SOURCES})
  target_link_libraries(${name} PRIVATE ${M_LIBS})
  set_target_properties(${name} PROPERTIES
    PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
  if(NOT BILMEKO_SANITIZE AND NOT BILMEKO_FUZZ)
    # The sanitizers' run-time comes with the program, not the module.
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
