#include "convert.hpp"

#include "codepage/codepage.hpp"
#include "platform.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <system_error>

int to_windows = 1;

void fatal(const std::string &message) {
    write_error(message);
    std::exit(1);
}

namespace {

// Bytes translated per write; small enough to stay in cache.
constexpr std::size_t block_size = 128 * 1024;

struct free_deleter {
    void operator()(void *p) const { std::free(p); }
};
using byte_buffer = std::unique_ptr<std::uint8_t[], free_deleter>;

struct contents {
    byte_buffer bytes;
    std::size_t size = 0;
    std::span<const std::uint8_t> view() const { return {bytes.get(), size}; }
};

[[noreturn]] void fail(const char *what, const native_char *path) {
    fatal(what + shown_name(path) + "\n");
}

// Only a regular file (or a link to one) can be rewritten in place. Anything else
// is refused before it is opened: a FIFO would wait for a writer, a device could
// be read forever, a directory cannot be read at all.
void check_regular_file(const native_char *path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        fail("Can't open file: ", path);
}

// Reads the whole file into one buffer of its size.
contents read_whole(const native_char *path) {
    std::FILE *file = open_file(path, "rb");
    if (!file)
        fail("Can't open file: ", path);
    std::setvbuf(file, nullptr, _IONBF, 0);

    std::error_code error;
    const std::uintmax_t expected = std::filesystem::file_size(path, error);
    if (error || expected >= SIZE_MAX / 2)
        fail("Can't read file: ", path);

    // One byte more than the size we were told, so that a single read both fills
    // the buffer and finds the end; a file that grew meanwhile still reads whole.
    contents in;
    std::size_t room = static_cast<std::size_t>(expected) + 1;
    for (;;) {
        auto *grown = static_cast<std::uint8_t *>(std::realloc(in.bytes.get(), room));
        if (!grown)
            fail("Can't read file: ", path);
        static_cast<void>(in.bytes.release());
        in.bytes.reset(grown);
        prefer_huge_pages(grown, room);
        in.size += std::fread(in.bytes.get() + in.size, 1, room - in.size, file);
        if (in.size < room)
            break;
        if (room > SIZE_MAX / 2)
            fail("Can't read file: ", path);
        room *= 2;
    }
    if (std::ferror(file))
        fail("Can't read file: ", path);
    std::fclose(file);
    return in;
}

// Puts the original bytes back after a failed write. The file was never
// truncated, so this only overwrites blocks it already has. Best effort: the
// run is about to fail either way.
void restore(std::FILE *file, const contents &original) {
    std::clearerr(file);
    if (std::fseek(file, 0, SEEK_SET) == 0)
        std::fwrite(original.bytes.get(), 1, original.size, file);
    std::fclose(file);
}

// Writes the translation of `original` over the file, block by block, so that
// `original` stays intact for restore().
void write_back(const native_char *path, const contents &original) {
    // "r+b" rather than "w+b": the translation has exactly the original length,
    // so the file is never emptied or shortened, even for a moment.
    std::FILE *file = open_file(path, "r+b");
    if (!file)
        fail("Can't write file: ", path);
    std::setvbuf(file, nullptr, _IONBF, 0);

    using translator = void (*)(std::span<const std::uint8_t>, std::span<std::uint8_t>);
    translator translate = windows_to_dos;
    if (to_windows)
        translate = dos_to_windows;
    const std::size_t room = std::min(block_size, original.size);
    byte_buffer block(static_cast<std::uint8_t *>(std::malloc(room)));
    if (!block) {
        std::fclose(file);
        fail("Can't write file: ", path);
    }
    const std::span<const std::uint8_t> all = original.view();
    for (std::size_t done = 0; done < all.size(); done += room) {
        const auto piece = all.subspan(done, std::min(room, all.size() - done));
        translate(piece, {block.get(), piece.size()});
        if (std::fwrite(block.get(), 1, piece.size(), file) != piece.size()) {
            restore(file, original);
            fail("Can't write file: ", path);
        }
    }
    if (std::fclose(file) != 0) {
        // The stream is gone; open the file again to put the original back.
        if (std::FILE *again = open_file(path, "r+b"))
            restore(again, original);
        fail("Can't write file: ", path);
    }
}

} // namespace

void convert_file(const native_char *path) {
    check_regular_file(path);
    const contents original = read_whole(path);
    if (original.size == 0)
        return;
    write_back(path, original);
}
