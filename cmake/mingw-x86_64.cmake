# 64-bit Windows build: the same code for Wine hosts that cannot run 32-bit programs.
set(OV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
