# The 32-bit Windows console program, from Debian's g++-mingw-w64-i686-win32:
#   cmake -B build-win32 --toolchain cmake/mingw-w64-i686.cmake
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
