# Windows programs built here run under Wine: tests added with add_test run
# through tools/wine-run.sh in a throwaway prefix inside the build tree.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(MIVO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for the tests")
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_SOURCE_DIR}/tools/wine-run.sh --prefix ${MIVO_WINEPREFIX})
endif()
