# An ARM64 Linux build, from Debian's g++-aarch64-linux-gnu, run under
# qemu-aarch64-static (qemu-user-static): the NEON kernel's build.
set(LINUX_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
