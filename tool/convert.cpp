#include "convert.hpp"

#include "codepage/codepage.hpp"
#include "platform.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <vector>

int to_windows = 1;

void fatal(const std::string &message) {
    write_error(message);
    std::exit(1);
}

namespace {

// Bytes read, translated and written back at a time: few enough to stay in
// the processor's cache between the read and the write, enough that the
// system calls cost little.
constexpr std::size_t block_size = 256 * 1024;
constexpr std::size_t words_per_block = block_size / 64;

[[noreturn]] void fail(const char *what, const native_char *path) {
    fatal(what + shown_name(path) + "\n");
}

// One block's worth of room, taken once for the whole run: the block itself,
// translated where it was read so that it stays in cache, and its journal.
struct block_buffers {
    std::unique_ptr<std::uint8_t[]> bytes, lost;
    std::unique_ptr<std::uint64_t[]> lost_at;
};

block_buffers &buffers_for(const native_char *path) {
    static block_buffers held;
    if (!held.bytes) {
        held.bytes.reset(new (std::nothrow) std::uint8_t[block_size]);
        held.lost.reset(new (std::nothrow) std::uint8_t[block_size]);
        held.lost_at.reset(new (std::nothrow) std::uint64_t[words_per_block]);
        if (!held.bytes || !held.lost || !held.lost_at) {
            held.bytes.reset();
            fail("Can't read file: ", path);
        }
    }
    return held;
}

// What putting one written block back takes: where it is, and the journal of
// what its translation destroyed (empty when it destroyed nothing).
struct written_block {
    std::uint64_t offset;
    std::size_t size;
    std::vector<std::uint64_t> lost_at;
    std::vector<std::uint8_t> lost;
};

struct translators {
    translated (*translate)(std::span<const std::uint8_t>, std::span<std::uint8_t>, journal);
    void (*undo)(std::span<std::uint8_t>, std::span<const std::uint64_t>,
                 std::span<const std::uint8_t>);
};

translators chosen() {
    if (to_windows)
        return {dos_to_windows, undo_dos_to_windows};
    return {windows_to_dos, undo_windows_to_dos};
}

// Puts back every block written so far, newest first: reads its translation,
// undoes it and writes the original over it. Best effort, as the run stops
// either way: a block that the system will not read back or rewrite stays
// converted.
void roll_back(int fd, const std::vector<written_block> &written, block_buffers &buffers) {
    const auto undo = chosen().undo;
    for (auto block = written.rbegin(); block != written.rend(); ++block) {
        std::uint8_t *bytes = buffers.bytes.get();
        const auto got = read_at(fd, bytes, block->size, block->offset);
        if (!got || *got != block->size)
            continue;
        undo({bytes, block->size}, block->lost_at, block->lost);
        write_at(fd, bytes, block->size, block->offset);
    }
}

// Notes what undoing the translation of a block takes, or returns false when
// there is no memory for it.
bool journal_block(std::vector<written_block> &written, std::uint64_t offset, std::size_t size,
                   translated t, const block_buffers &buffers) {
    try {
        written_block block{offset, size, {}, {}};
        if (t.lost > 0) {
            const std::uint64_t *words = buffers.lost_at.get();
            block.lost_at.assign(words, words + (size + 63) / 64);
            block.lost.assign(buffers.lost.get(), buffers.lost.get() + t.lost);
        }
        written.push_back(std::move(block));
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// Translates the first `size` bytes of the file block by block, each written
// back where it was read, keeping in `written` what undoing them takes. Bytes
// appended meanwhile are left alone; if the file has been cut short meanwhile,
// the rewrite stops where it now ends. The holes of a sparse file read as
// zeros, which stay zeros, so they are skipped.
void rewrite_blocks(const native_char *path, int fd, std::uint64_t size,
                    std::vector<written_block> &written) {
    block_buffers &buffers = buffers_for(path);
    const auto [translate, undo] = chosen();
    std::uint64_t hole = size > block_size ? hole_from(fd, 0, size) : size;
    for (std::uint64_t offset = 0; offset < size;) {
        if (const int interrupt = pending_interrupt()) {
            roll_back(fd, written, buffers);
            obey_interrupt(interrupt);
        }
        if (offset >= hole) {
            offset = data_from(fd, offset, size);
            if (offset >= size)
                break;
            hole = std::max(hole_from(fd, offset, size), offset + 1);
        }
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(block_size, hole - offset));
        const auto got = read_at(fd, buffers.bytes.get(), wanted, offset);
        if (!got) {
            roll_back(fd, written, buffers);
            fail("Can't read file: ", path);
        }
        const std::span<std::uint8_t> block(buffers.bytes.get(), *got);
        const std::span<std::uint64_t> lost_at(buffers.lost_at.get(), words_per_block);
        const std::span<std::uint8_t> lost(buffers.lost.get(), block_size);
        const translated t = translate(block, block, {lost_at, lost});
        // A block without a byte to change is not written: an ASCII file costs
        // only its reads.
        if (t.changed) {
            if (!journal_block(written, offset, *got, t, buffers)) {
                roll_back(fd, written, buffers);
                fail("Can't read file: ", path);
            }
            if (!write_at(fd, block.data(), block.size(), offset)) {
                // Part of this block may be written: put all of it back from
                // the journal in hand, then the blocks before it.
                written.pop_back();
                undo(block, lost_at, lost.first(t.lost));
                write_at(fd, block.data(), block.size(), offset);
                roll_back(fd, written, buffers);
                fail("Can't write file: ", path);
            }
        }
        if (*got < wanted)
            break;
        offset += *got;
    }
}

// Some file systems (NFS among them) report a failed write-back only when the
// file is closed. A duplicate closed first leaves a descriptor to roll back
// through.
void close_rewritten(const native_char *path, int fd, const std::vector<written_block> &written) {
    if (written.empty()) {
        close_file(fd); // nothing was written, so nothing can be lost
        return;
    }
    const int spare = duplicate(fd);
    if (!close_file(fd)) {
        if (spare >= 0)
            roll_back(spare, written, buffers_for(path));
        fail("Can't write file: ", path);
    }
    if (spare >= 0 && !close_file(spare))
        fail("Can't write file: ", path);
}

} // namespace

void convert_file(const native_char *path) {
    // An interrupt between two files: the next one is not touched.
    if (const int interrupt = pending_interrupt())
        obey_interrupt(interrupt);
    const open_file_handle file = open_file(path);
    if (file.fd < 0)
        fail("Can't open file: ", path);
    // Only a regular file is rewritten in place. Checking what was opened, not
    // the name, leaves no moment in which the name could be pointed elsewhere.
    const auto size = regular_file_size(file.fd);
    if (!size)
        fail("Can't open file: ", path);
    if (*size == 0) {
        close_file(file.fd);
        return;
    }
    if (!file.writable)
        fail("Can't write file: ", path);
    std::vector<written_block> written;
    rewrite_blocks(path, file.fd, *size, written);
    close_rewritten(path, file.fd, written);
}
