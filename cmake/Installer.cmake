# mivo_add_installer_resources(TARGET SETUP_PACKAGE file PRODUCT_PACKAGE file)
#
# Links two package files into a Windows executable as the RT_RCDATA
# resources "SETUP" and "PRODUCT", which is what makes it an installer. On
# other systems nothing happens: there the tests hand the packages to the
# platform stand-in instead.
function(mivo_add_installer_resources target)
  cmake_parse_arguments(ARG "" "SETUP_PACKAGE;PRODUCT_PACKAGE" "" ${ARGN})
  if(NOT ARG_SETUP_PACKAGE OR NOT ARG_PRODUCT_PACKAGE)
    message(FATAL_ERROR "mivo_add_installer_resources: SETUP_PACKAGE and PRODUCT_PACKAGE are required")
  endif()
  if(NOT WIN32)
    return()
  endif()
  foreach(var SETUP_PACKAGE PRODUCT_PACKAGE)
    get_filename_component(ARG_${var} "${ARG_${var}}" ABSOLUTE)
  endforeach()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_packages.rc)
  file(GENERATE OUTPUT ${rc} CONTENT
"SETUP RCDATA \"${ARG_SETUP_PACKAGE}\"
PRODUCT RCDATA \"${ARG_PRODUCT_PACKAGE}\"
")
  target_sources(${target} PRIVATE ${rc})
  # The resource compiler sees only the .rc file: rebuild when a package changes.
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${ARG_SETUP_PACKAGE};${ARG_PRODUCT_PACKAGE}")
endfunction()
