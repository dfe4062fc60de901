# Shared by the mingw-w64 toolchain files, which set MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first. Uses Debian's -win32 compilers (Windows threads,
# no extra runtime DLL), or with -DGRKPAGE_MINGW_THREADS=posix the same
# compilers with POSIX threads, which GoogleTest needs.
if(NOT GRKPAGE_MINGW_THREADS)
  set(GRKPAGE_MINGW_THREADS win32)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-${GRKPAGE_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-${GRKPAGE_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
