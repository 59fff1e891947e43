# mivo_add_installer_resources(TARGET SETUP_PACKAGE file PRODUCT_PACKAGE file
#                              [IPK command [IPK_TARGET target]])
#
# Links two package files into a Windows executable as the RT_RCDATA
# resources "SETUP" and "PRODUCT", which is what makes it an installer. On
# other systems nothing happens: there the tests hand the packages to the
# platform stand-in instead. With IPK (an ipk that runs on the build host),
# the product package's file table goes in as "PRODUCTTABLE" too, and the
# SHA-256 of its bytes as "PRODUCTDIGEST" (made only once the package passed
# its full check): with them the installer looks names up at once (the
# package's own table sits at the end of its compressed data), checks the
# package against the digest at start and writes files while it decodes.
function(mivo_add_installer_resources target)
  cmake_parse_arguments(ARG "" "SETUP_PACKAGE;PRODUCT_PACKAGE;IPK;IPK_TARGET" "" ${ARGN})
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
  set(content "SETUP RCDATA \"${ARG_SETUP_PACKAGE}\"\nPRODUCT RCDATA \"${ARG_PRODUCT_PACKAGE}\"\n")
  set(depends "${ARG_SETUP_PACKAGE};${ARG_PRODUCT_PACKAGE}")
  if(ARG_IPK)
    set(table ${CMAKE_CURRENT_BINARY_DIR}/${target}_product.table)
    set(digest ${CMAKE_CURRENT_BINARY_DIR}/${target}_product.sha256)
    add_custom_command(OUTPUT ${table} ${digest}
      COMMAND ${ARG_IPK} table ${ARG_PRODUCT_PACKAGE} ${table} ${digest}
      DEPENDS ${ARG_PRODUCT_PACKAGE} ${ARG_IPK_TARGET}
      COMMENT "Writing the file table and the digest of ${target}'s product package"
      VERBATIM)
    target_sources(${target} PRIVATE ${table} ${digest})
    string(APPEND content "PRODUCTTABLE RCDATA \"${table}\"\nPRODUCTDIGEST RCDATA \"${digest}\"\n")
    list(APPEND depends ${table} ${digest})
  endif()
  file(GENERATE OUTPUT ${rc} CONTENT "${content}")
  target_sources(${target} PRIVATE ${rc})
  # The resource compiler sees only the .rc file: rebuild when a package changes.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${depends}")
endfunction()

# mivo_installer_identity_rc(OUT rc SCRIPT Install.xml ICON file.ico FILE_NAME name)
#
# Writes a resource script with the program's icon (resource 1, the first
# icon group, which Explorer, the elevation prompt and the list of programs
# show) and its version resource, taken from the product description in the
# installation script at configure time: product and file version from
# "ProductVersionNo" (up to four numbers), product name "ProductName",
# company "Publisher", copyright from the year of "BuildDate" and the
# publisher, description "<ProductName> Setup".
function(mivo_installer_identity_rc)
  cmake_parse_arguments(ARG "" "OUT;SCRIPT;ICON;FILE_NAME" "" ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_SCRIPT})
  file(READ ${ARG_SCRIPT} script)
  foreach(key ProductName ProductVersionNo Publisher BuildDate)
    if(NOT script MATCHES "<Item name=\"${key}\" value=\"([^\"]*)\"")
      message(FATAL_ERROR "${ARG_SCRIPT}: no setting ${key}")
    endif()
    set(${key} "${CMAKE_MATCH_1}")
  endforeach()
  string(REGEX MATCHALL "[0-9]+" numbers "${ProductVersionNo}")
  list(APPEND numbers 0 0 0 0)
  list(SUBLIST numbers 0 4 numbers)
  list(JOIN numbers "," version)
  string(SUBSTRING "${BuildDate}" 0 4 year)
  file(GENERATE OUTPUT ${ARG_OUT} CONTENT "#pragma code_page(65001)
1 ICON \"${ARG_ICON}\"
1 VERSIONINFO
FILEVERSION ${version}
PRODUCTVERSION ${version}
FILEFLAGSMASK 0x3F
FILEFLAGS 0x0
FILEOS 0x40004
FILETYPE 0x1
FILESUBTYPE 0x0
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904B0\"
    BEGIN
      VALUE \"CompanyName\", \"${Publisher}\"
      VALUE \"FileDescription\", \"${ProductName} Setup\"
      VALUE \"FileVersion\", \"${ProductVersionNo}\"
      VALUE \"InternalName\", \"${ARG_FILE_NAME}\"
      VALUE \"LegalCopyright\", \"Copyright © ${year} ${Publisher}\"
      VALUE \"OriginalFilename\", \"${ARG_FILE_NAME}\"
      VALUE \"ProductName\", \"${ProductName}\"
      VALUE \"ProductVersion\", \"${ProductVersionNo}\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
")
endfunction()

# mivo_add_installer(TARGET name SETUP_PACKAGE file PRODUCT_PACKAGE file
#                    PRODUCT_LIBRARY library [IPK command [IPK_TARGET target]]
#                    [SCRIPT Install.xml ICON file.ico])
#
# Makes an installer executable: the Windows entry point and start-up, the
# product library (linked whole, so that its product class registers itself),
# the two packages as resources, and the manifest (runs as invoker, Common
# Controls 6, per-monitor DPI awareness). With SCRIPT and ICON also the
# product's icon and a version resource made from the installation script
# (mivo_installer_identity_rc); the uninstaller cut from the program keeps
# them. Only on Windows; elsewhere the start-up is tested through the
# app_startup library.
function(mivo_add_installer)
  cmake_parse_arguments(ARG ""
    "TARGET;SETUP_PACKAGE;PRODUCT_PACKAGE;PRODUCT_LIBRARY;IPK;IPK_TARGET;SCRIPT;ICON" "" ${ARGN})
  if(NOT ARG_TARGET OR NOT ARG_PRODUCT_LIBRARY)
    message(FATAL_ERROR "mivo_add_installer: TARGET and PRODUCT_LIBRARY are required")
  endif()
  if(NOT WIN32)
    return()
  endif()
  set(app ${PROJECT_SOURCE_DIR}/app/win32)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET}_app.rc)
  file(GENERATE OUTPUT ${rc} CONTENT "1 24 \"${app}/setup.manifest\"\n")
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${app}/setup.manifest")
  add_executable(${ARG_TARGET} WIN32 ${app}/main.cpp ${rc})
  if(ARG_SCRIPT AND ARG_ICON)
    get_filename_component(ARG_ICON "${ARG_ICON}" ABSOLUTE)
    set(identity ${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET}_identity.rc)
    mivo_installer_identity_rc(OUT ${identity} SCRIPT ${ARG_SCRIPT} ICON ${ARG_ICON}
      FILE_NAME "$<TARGET_FILE_NAME:${ARG_TARGET}>")
    target_sources(${ARG_TARGET} PRIVATE ${identity})
    set_source_files_properties(${identity} PROPERTIES OBJECT_DEPENDS "${ARG_ICON}")
  endif()
  target_link_libraries(${ARG_TARGET} PRIVATE
    "$<LINK_LIBRARY:WHOLE_ARCHIVE,${ARG_PRODUCT_LIBRARY}>" app_startup ui_win32 comctl32 user32)
  if(MINGW)
    # Sections aligned in the file as in memory: the loader maps the program
    # instead of reading it (and its packages) into private memory.
    target_link_options(${ARG_TARGET} PRIVATE -municode
      -Wl,--file-alignment=4096,--section-alignment=4096)
  endif()
  mivo_add_installer_resources(${ARG_TARGET}
    SETUP_PACKAGE ${ARG_SETUP_PACKAGE} PRODUCT_PACKAGE ${ARG_PRODUCT_PACKAGE}
    IPK "${ARG_IPK}" IPK_TARGET "${ARG_IPK_TARGET}")
endfunction()
