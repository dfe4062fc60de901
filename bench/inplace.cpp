// The floor of an in-place rewrite, for bench/compare: reads FILE and writes
// each 256 KiB block back where it came from, with pread and pwrite and no
// translation, which is grkpage's own way through a file. With `copy`, each
// block is also copied once in the processor's cache, a stand-in for a
// translation at the speed of memory.
//   inplace FILE [copy]
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::string_view(argv[2]) != "copy")) {
        std::fputs("usage: inplace FILE [copy]\n", stderr);
        return 2;
    }
    const bool copy = argc == 3;
    constexpr std::size_t block = 256 * 1024;
    alignas(64) static char buffer[block], other[block];
    const int fd = open(argv[1], O_RDWR);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    for (off_t offset = 0;;) {
        const ssize_t got = pread(fd, buffer, block, offset);
        if (got < 0) {
            std::perror(argv[1]);
            return 1;
        }
        if (got == 0)
            break;
        const char *out = buffer;
        if (copy) {
            std::memcpy(other, buffer, static_cast<std::size_t>(got));
            out = other;
        }
        if (pwrite(fd, out, static_cast<std::size_t>(got), offset) != got) {
            std::perror(argv[1]);
            return 1;
        }
        offset += got;
    }
    return close(fd) == 0 ? 0 : 1;
}
