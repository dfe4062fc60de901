# A 32-bit x86 Linux build, from Debian's g++-i686-linux-gnu, run under
# qemu-i386-static (qemu-user-static), or natively where the kernel runs 32-bit
# programs (-DGRKPAGE_CROSS_NATIVELY=ON): the code paths the 32-bit Windows
# program shares with Linux (a 32-bit size_t, eight vector registers, 64-bit
# offsets on a 32-bit machine, and natively the kernel's 32-bit entry points).
set(LINUX_TRIPLE i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QEMU qemu-i386-static)
set(LINUX_LOADER ld-linux.so.2)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
