#include "convert.hpp"

#include "journal.hpp"

#include "codepage/codepage.hpp"
#include "platform.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

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

[[noreturn]] void fail(const char *what, const native_char *path) {
    fatal(what + shown_name(path) + "\n");
}

// The block in hand: read, translated where it lies so that it stays in
// cache, and written back.
alignas(64) std::uint8_t block_buffer[block_size];

struct translators {
    translated (*translate)(std::span<const std::uint8_t>, std::span<std::uint8_t>, journal);
    void (*undo)(std::span<std::uint8_t>, filled_journal);
};

translators chosen() {
    if (to_windows)
        return {dos_to_windows, undo_dos_to_windows};
    return {windows_to_dos, undo_windows_to_dos};
}

// Puts back the `written` blocks, newest first: reads each one's translation,
// undoes it and writes the original over it, through `scratch`. Best effort,
// as the run stops either way: a block that the system will not read back or
// rewrite stays converted.
void roll_back(int fd, std::span<const written_block> written, std::uint8_t *scratch) {
    const auto undo = chosen().undo;
    for (auto block = written.rbegin(); block != written.rend(); ++block) {
        const auto got = read_at(fd, scratch, block->size, block->offset);
        if (!got || *got != block->size)
            continue;
        undo({scratch, block->size}, block->undo);
        write_at(fd, scratch, block->size, block->offset);
    }
}

// Translates the first `size` bytes of the file block by block, each written
// back where it was read, keeping in `journal` what undoing them takes. Bytes
// appended meanwhile are left alone; if the file has been cut short meanwhile,
// the rewrite stops where it now ends. The holes of a sparse file read as
// zeros, which stay zeros, so they are skipped.
void rewrite_blocks(const native_char *path, int fd, std::uint64_t size, undo_journal &journal) {
    std::uint8_t *const buffer = block_buffer;
    const auto [translate, undo] = chosen();
    const auto stop = [&](const char *what) {
        roll_back(fd, journal.blocks(), buffer);
        fail(what, path);
    };
    std::uint64_t hole = size > block_size ? hole_from(fd, 0, size) : size;
    for (std::uint64_t offset = 0; offset < size;) {
        if (const int interrupt = pending_interrupt()) {
            roll_back(fd, journal.blocks(), buffer);
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
        const auto got = read_at(fd, buffer, wanted, offset);
        if (!got)
            stop("Can't read file: ");
        const auto room = journal.room(block_size);
        if (!room)
            stop("Can't read file: ");
        const std::span<std::uint8_t> block(buffer, *got);
        const translated t = translate(block, block, *room);
        // A block without a byte to change is not written: an ASCII file costs
        // only its reads.
        if (t.changed) {
            if (!journal.keep(offset, block.size(), t))
                stop("Can't read file: ");
            if (!write_at(fd, block.data(), block.size(), offset)) {
                // Part of this block may be written: put all of it back from
                // the journal in hand, then the blocks before it.
                undo(block, journal.blocks().back().undo);
                write_at(fd, block.data(), block.size(), offset);
                roll_back(fd, journal.blocks().first(journal.blocks().size() - 1), buffer);
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
void close_rewritten(const native_char *path, int fd, const undo_journal &journal) {
    if (journal.blocks().empty()) {
        close_file(fd); // nothing was written, so nothing can be lost
        return;
    }
    const int spare = duplicate(fd);
    if (!close_file(fd)) {
        if (spare >= 0)
            roll_back(spare, journal.blocks(), block_buffer);
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
    static undo_journal journal;
    journal.clear();
    rewrite_blocks(path, file.fd, *size, journal);
    close_rewritten(path, file.fd, journal);
}
