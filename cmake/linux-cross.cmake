# Shared by the Linux cross toolchain files, which set LINUX_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first. Uses Debian's g++-TRIPLE cross compilers; the
# programs built run here under Debian's qemu-user-static, which is also how
# CMake and ctest start the tests, unless GRKPAGE_CROSS_NATIVELY says that
# this machine's kernel runs them itself (a 32-bit x86 program on many x86-64
# machines).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${LINUX_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${LINUX_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${LINUX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(NOT GRKPAGE_CROSS_NATIVELY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU} -L /usr/${LINUX_TRIPLE})
endif()
# Run natively, the programs take the cross toolchain's C library and loader,
# which this machine may not have installed for the kernel's own use.
set(GRKPAGE_CROSS_RUNTIME /usr/${LINUX_TRIPLE}/lib)
set(GRKPAGE_CROSS_LOADER ${GRKPAGE_CROSS_RUNTIME}/${LINUX_LOADER})
