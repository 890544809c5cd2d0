# Cross-compiling the Windows build with MinGW-w64, posix thread model (std::thread and
# std::mutex exist). i686 is the shipped target; mingw-x86_64.cmake reuses this file.
if(NOT OV_MINGW_TRIPLE)
  set(OV_MINGW_TRIPLE i686-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR i686)
endif()
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${OV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OV_MINGW_TRIPLE}-windres)
set(CMAKE_OBJCOPY ${OV_MINGW_TRIPLE}-objcopy)

set(CMAKE_FIND_ROOT_PATH /usr/${OV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The build never runs what it builds: tests are listed when CTest runs them, through
# the Wine loader given as OV_WINE_LOADER (/usr/lib/wine/wine or wine64).
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
if(OV_WINE_LOADER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OV_WINE_LOADER})
endif()
