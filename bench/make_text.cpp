// Writes SIZE bytes of deterministic DOS Greek text to FILE: prose (the
// default), box-drawn forms, shades (nothing but symbols) or random bytes:
//   make_text SIZE FILE [prose|forms|shades|random]
#include "greek_text.hpp"

#include <cstdio>
#include <cstdlib>
#include <string_view>

int main(int argc, char **argv) {
    const std::string_view kind = argc == 4 ? argv[3] : "prose";
    const auto make = kind == "prose"    ? greek_text
                      : kind == "forms"  ? forms_text
                      : kind == "shades" ? shades_text
                      : kind == "random" ? random_bytes
                                         : nullptr;
    if ((argc != 3 && argc != 4) || !make) {
        std::fputs("usage: make_text SIZE FILE [prose|forms|shades|random]\n", stderr);
        return 2;
    }
    const std::size_t size = std::strtoull(argv[1], nullptr, 10);
    const auto text = make(size);
    std::FILE *out = std::fopen(argv[2], "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
