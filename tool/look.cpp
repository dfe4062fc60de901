#include "look.hpp"

#include <algorithm>
#include <cstdint>

looked look_at(const native_char *path) {
    const int fd = open_for_reading(path);
    if (fd < 0)
        return {looked::cannot_open, {}};
    const auto file = regular_file_of(fd);
    if (!file) {
        close_file(fd);
        return {looked::not_regular, {}};
    }
    // What the file held when opened, and no more: a file that grows while it
    // is read does not keep the reading going. A file whose size reads 0 may
    // hold bytes all the same (those under /proc make theirs as they are
    // read): it is read to its end, up to a bound.
    static std::uint8_t block[256 * 1024];
    constexpr std::uint64_t unsized_bound = 64 * 1024 * 1024;
    const std::uint64_t size = file->size > 0 ? file->size : unsized_bound;
    identification id;
    for (std::uint64_t offset = 0; offset < size;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, size - offset));
        const auto got = read_at(fd, block, wanted, offset);
        if (!got) {
            close_file(fd);
            return {looked::cannot_read, {}};
        }
        identify_more(id, {block, *got});
        if (*got < wanted)
            break; // cut short meanwhile: what is there is what counts
        offset += *got;
    }
    close_file(fd);
    return {looked::identified, identify_end(id)};
}

std::string why_not(const looked &l, const native_char *path) {
    switch (l.outcome) {
    case looked::cannot_open:
        return "Can't open file: " + shown_name(path) + "\n";
    case looked::not_regular:
        return "Not a regular file: " + shown_name(path) + "\n";
    case looked::cannot_read:
        return "Can't read file: " + shown_name(path) + "\n";
    case looked::identified:
        break;
    }
    return "";
}
