# Third-party libraries: Debian packages on Linux, the cross-built cache for MinGW.
if(WIN32)
  # libcurl, minizip and libsodium cross-built by scripts/win32/build-deps.sh; zlib from Debian's
  # MinGW package. All static, so the programs need no MinGW DLL.
  set(OV_DEPS_PREFIX "" CACHE PATH "Prefix of the cross-built libcurl and minizip")
  find_path(CURL_INCLUDE_DIR curl/curl.h PATHS ${OV_DEPS_PREFIX}/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_library(CURL_LIBRARY NAMES libcurl.a curl PATHS ${OV_DEPS_PREFIX}/lib
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_path(MINIZIP_INCLUDE_DIR unzip.h PATHS ${OV_DEPS_PREFIX}/include/minizip
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_library(MINIZIP_LIBRARY NAMES libminizip.a PATHS ${OV_DEPS_PREFIX}/lib
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_library(ZLIB_LIBRARY NAMES libz.a z REQUIRED)
  find_path(SODIUM_INCLUDE_DIR sodium.h PATHS ${OV_DEPS_PREFIX}/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_library(SODIUM_LIBRARY NAMES libsodium.a PATHS ${OV_DEPS_PREFIX}/lib
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(OV_PLATFORM_LIBS shell32 advapi32 user32 version shlwapi winhttp ole32 uuid)
  set(OV_CURL_LIBS ${CURL_LIBRARY} ${ZLIB_LIBRARY} ws2_32 bcrypt crypt32 secur32 iphlpapi)
  set(OV_ZIP_LIBS ${MINIZIP_LIBRARY} ${ZLIB_LIBRARY})
  set(OV_SODIUM_LIBS ${SODIUM_LIBRARY})
  # The decoding half of zstd only, for applying module patches.
  find_path(ZSTD_INCLUDE_DIR zstd.h PATHS ${OV_DEPS_PREFIX}/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_library(ZSTD_DECODER_LIBRARY NAMES libzstd.a PATHS ${OV_DEPS_PREFIX}/lib
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(OV_ZSTD_DECODER_LIBS ${ZSTD_DECODER_LIBRARY})
  # RapidXml is header-only: its folder is copied beside the build, never the host's whole
  # /usr/include. The header-only cpp-httplib of the tests lies in the prefix.
  set(OV_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
  file(COPY /usr/include/rapidxml DESTINATION ${OV_HOST_HEADERS})
  set(RAPIDXML_INCLUDE_DIR ${OV_HOST_HEADERS})
  set(OV_THIRD_PARTY_INCLUDES ${CURL_INCLUDE_DIR} ${MINIZIP_INCLUDE_DIR} ${SODIUM_INCLUDE_DIR} ${ZSTD_INCLUDE_DIR} ${OV_HOST_HEADERS})
  add_compile_definitions(CURL_STATICLIB SODIUM_STATIC)
  add_link_options(-static -static-libgcc -static-libstdc++)
  if(OV_BUILD_TESTS)
    # GoogleTest from Debian's sources, built with the cross compiler.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
else()
  find_package(CURL REQUIRED)
  find_package(ZLIB REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED minizip)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  find_package(Threads REQUIRED)
  set(OV_PLATFORM_LIBS Threads::Threads ${CMAKE_DL_LIBS})
  set(OV_CURL_LIBS CURL::libcurl)
  set(OV_ZIP_LIBS ${MINIZIP_LIBRARIES} ZLIB::ZLIB)
  set(OV_SODIUM_LIBS PkgConfig::SODIUM)
  # zstd decodes module patches in the agent; ovpublish makes them with the whole library
  # and libdivsufsort's suffix sorter.
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
  set(OV_ZSTD_DECODER_LIBS PkgConfig::ZSTD)
  find_path(DIVSUFSORT_INCLUDE_DIR divsufsort.h)
  find_library(DIVSUFSORT_LIBRARY divsufsort)
  if(NOT DIVSUFSORT_INCLUDE_DIR OR NOT DIVSUFSORT_LIBRARY)
    message(FATAL_ERROR "libdivsufsort not found: scripts/setup-debian.sh installs libdivsufsort-dev")
  endif()
  set(OV_PATCH_MAKER_LIBS ${DIVSUFSORT_LIBRARY} PkgConfig::ZSTD)
  set(OV_THIRD_PARTY_INCLUDES ${MINIZIP_INCLUDE_DIRS})
  # cpp-httplib for test servers and the stand-in servers: Debian ships it as a library
  # whose header must see the library's own feature definitions.
  pkg_check_modules(HTTPLIB IMPORTED_TARGET GLOBAL cpp-httplib)
  if(HTTPLIB_FOUND)
    set(OV_HTTPLIB PkgConfig::HTTPLIB)
  endif()
endif()
find_path(RAPIDXML_INCLUDE_DIR rapidxml/rapidxml.hpp HINTS /usr/include ${OV_DEPS_PREFIX}/include)


