# A 64-bit Windows build of the same program, from Debian's
# g++-mingw-w64-x86-64-win32. The tests run it under wine64 on machines that
# cannot run 32-bit code.
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
