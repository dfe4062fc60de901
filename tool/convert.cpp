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
    // The file in hand is whole by now: an interrupt need not wait for a
    // message that standard error may never take.
    obey_interrupts_at_once();
    write_error(message);
    end_if_interrupted();
    std::exit(1);
}

void end_if_interrupted() {
    if (const int interrupt = pending_interrupt())
        obey_interrupt(interrupt);
}

namespace {

[[noreturn]] void fail(const char *what, const native_char *path) {
    fatal(what + shown_name(path) + "\n");
}

// The block in hand: read, translated where it lies so that it stays in
// cache, and written back.
alignas(64) std::uint8_t block_buffer[block_size];

struct translators {
    translated (*translate)(std::span<const std::uint8_t>, std::span<std::uint8_t>, journal);
    undo_journal::keep_fn keep;
    void (*undo)(std::span<std::uint8_t>, kept_journal);
};

translators chosen() {
    if (to_windows)
        return {dos_to_windows, keep_dos_to_windows, undo_dos_to_windows};
    return {windows_to_dos, keep_windows_to_dos, undo_windows_to_dos};
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

// Whether the file now ends at or before `end`: a read that stopped there saw
// the file cut short, and did not just stop early, as the read of a network
// or user-space file system may.
bool ends_by(int fd, std::uint64_t end) {
    const auto now = regular_file_of(fd);
    return now && now->size <= end;
}

// Translates the `file.size` bytes the file held when opened block by block,
// each written back where it was read, keeping in `journal` what undoing them
// takes. The holes of a sparse file read as zeros, which stay zeros: they are
// skipped, and stay holes. Returns a second descriptor for the file, taken before the first write
// (so that a failure to get one leaves the file untouched), or -1 when nothing was written. Bytes
// appended meanwhile are left alone; if the file has been cut short meanwhile, the rewrite stops
// where it now ends. An interrupt noted before the last block is written back puts the file back.
int rewrite_blocks(const native_char *path, int fd, regular_file file, undo_journal &journal) {
    const std::uint64_t size = file.size;
    std::uint8_t *const buffer = block_buffer;
    const auto [translate, keep, undo] = chosen();
    const auto stop = [&](const char *what) {
        roll_back(fd, journal.blocks(), buffer);
        fail(what, path);
    };
    const auto obey_any_interrupt = [&] {
        if (const int interrupt = pending_interrupt()) {
            roll_back(fd, journal.blocks(), buffer);
            obey_interrupt(interrupt);
        }
    };
    int spare = -1;
    std::uint64_t hole = file.sparse ? hole_from(fd, 0, size) : size;
    for (std::uint64_t offset = 0; offset < size;) {
        obey_any_interrupt();
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
        const bool cut_short = *got < wanted;
        if (cut_short && !ends_by(fd, offset + *got))
            stop("Can't read file: ");
        const std::span<std::uint8_t> block(buffer, *got);
        const translated t = translate(block, block, journal.scratch());
        // A block without a byte to change is not written: an ASCII file costs
        // only its reads.
        if (t.changed) {
            if (spare < 0 && (spare = duplicate(fd)) < 0)
                fail("Can't write file: ", path); // nothing is written yet
            if (!journal.keep(offset, block, t, keep))
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
        if (cut_short)
            break;
        offset += *got;
    }
    // Up to here an interrupt, even one noted while the last block was in
    // hand, puts the whole file back.
    obey_any_interrupt();
    return spare;
}

// Some file systems (NFS among them) report a failed write-back only when the
// file is closed: the spare, closed last, leaves a descriptor to roll back
// through. A failure of that last close cannot be rolled back.
void close_rewritten(const native_char *path, int fd, int spare, const undo_journal &journal) {
    if (spare < 0) {
        close_file(fd); // nothing was written, so nothing can be lost
        return;
    }
    if (!close_file(fd)) {
        roll_back(spare, journal.blocks(), block_buffer);
        close_file(spare);
        fail("Can't write file: ", path);
    }
    if (!close_file(spare))
        fail("Can't write file: ", path);
}

} // namespace

void convert_file(const native_char *path) {
    // An interrupt between two files: the next one is not touched.
    end_if_interrupted();
    const open_file_handle file = open_file(path);
    if (file.fd < 0)
        fail("Can't open file: ", path);
    // Only a regular file is rewritten in place. Checking what was opened, not
    // the name, leaves no moment in which the name could be pointed elsewhere.
    const auto opened = regular_file_of(file.fd);
    if (!opened)
        fail("Can't open file: ", path);
    if (opened->size == 0) {
        close_file(file.fd);
        return;
    }
    if (!file.writable)
        fail("Can't write file: ", path);
    // A second grkpage on the same file would convert it twice.
    if (!lock_for_rewrite(file.fd))
        fail("Can't open file: ", path);
    static undo_journal journal;
    journal.clear();
    const int spare = rewrite_blocks(path, file.fd, *opened, journal);
    close_rewritten(path, file.fd, spare, journal);
}
