// Writes SIZE bytes of deterministic DOS Greek text to FILE: make_text SIZE FILE
#include "greek_text.hpp"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fputs("usage: make_text SIZE FILE\n", stderr);
        return 2;
    }
    const auto text = greek_text(std::strtoull(argv[1], nullptr, 10));
    std::FILE *out = std::fopen(argv[2], "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
