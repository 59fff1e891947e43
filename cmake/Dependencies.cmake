# Third-party libraries as imported targets mivo::lzma, mivo::zip, mivo::expat,
# mivo::crypto (native only: MD5 comes from CryptoAPI on Windows), plus
# GoogleTest and Google Benchmark.
#
# Natively they come from Debian's -dev packages. For the Windows build,
# tools/build-mingw-deps.sh builds static libraries into MIVO_DEPS_PREFIX.

if(WIN32)
  if(NOT MIVO_DEPS_PREFIX)
    message(FATAL_ERROR "MIVO_DEPS_PREFIX must name the prefix built by tools/build-mingw-deps.sh")
  endif()
  foreach(lib lzma z zip expat)
    if(NOT EXISTS ${MIVO_DEPS_PREFIX}/lib/lib${lib}.a)
      message(FATAL_ERROR "missing ${MIVO_DEPS_PREFIX}/lib/lib${lib}.a: run tools/build-mingw-deps.sh")
    endif()
  endforeach()
  add_library(mivo::z STATIC IMPORTED)
  set_target_properties(mivo::z PROPERTIES IMPORTED_LOCATION ${MIVO_DEPS_PREFIX}/lib/libz.a
    INTERFACE_INCLUDE_DIRECTORIES ${MIVO_DEPS_PREFIX}/include)
  add_library(mivo::lzma STATIC IMPORTED)
  set_target_properties(mivo::lzma PROPERTIES IMPORTED_LOCATION ${MIVO_DEPS_PREFIX}/lib/liblzma.a
    INTERFACE_INCLUDE_DIRECTORIES ${MIVO_DEPS_PREFIX}/include
    INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
  add_library(mivo::zip STATIC IMPORTED)
  set_target_properties(mivo::zip PROPERTIES IMPORTED_LOCATION ${MIVO_DEPS_PREFIX}/lib/libzip.a
    INTERFACE_INCLUDE_DIRECTORIES ${MIVO_DEPS_PREFIX}/include
    INTERFACE_COMPILE_DEFINITIONS ZIP_STATIC
    INTERFACE_LINK_LIBRARIES "mivo::z;bcrypt;advapi32")
  add_library(mivo::expat STATIC IMPORTED)
  set_target_properties(mivo::expat PROPERTIES IMPORTED_LOCATION ${MIVO_DEPS_PREFIX}/lib/libexpat.a
    INTERFACE_INCLUDE_DIRECTORIES ${MIVO_DEPS_PREFIX}/include
    INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
  add_library(mivo::crypto INTERFACE IMPORTED)

  if(MIVO_TESTS)
    # GoogleTest from the sources Debian ships with libgtest-dev.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(MIVO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    add_subdirectory(${MIVO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
  endif()
else()
  find_package(LibLZMA REQUIRED)
  find_package(EXPAT REQUIRED)
  find_package(ZLIB REQUIRED)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
  add_library(mivo::lzma ALIAS LibLZMA::LibLZMA)
  add_library(mivo::expat ALIAS EXPAT::EXPAT)
  add_library(mivo::z ALIAS ZLIB::ZLIB)
  add_library(mivo::zip ALIAS PkgConfig::LIBZIP)
  add_library(mivo::crypto ALIAS OpenSSL::Crypto)
  if(MIVO_TESTS)
    find_package(GTest REQUIRED)
  endif()
  if(MIVO_BENCH)
    find_package(benchmark REQUIRED)
  endif()
endif()
