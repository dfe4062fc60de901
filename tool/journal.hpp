// The undo journal of one file's rewrite: for each block written, where it is
// and what its translation destroyed, which is all that putting it back takes.
#pragma once

#include "codepage/codepage.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// Bytes read, translated and written back at a time: few enough to stay in
// the processor's cache between the read and the write, enough that the
// system calls cost little.
constexpr std::size_t block_size = 256 * 1024;

struct written_block {
    std::uint64_t offset;
    std::size_t size;
    kept_journal undo; // empty when nothing was destroyed
};

// A block is translated with a journal in fixed room of its own (scratch());
// only a block that destroyed something has that journal copied into memory
// that is kept, so a file with nothing to journal asks for no memory at all.
// Kept journals are packed one after another into pieces that grow with what
// is kept: small first, then larger, the large ones asked for in huge pages
// (fresh memory in small pages would cost more than the rewrite itself). The
// pieces are kept from one file to the next.
class undo_journal {
  public:
    // Room for the journal of one block of up to block_size bytes.
    journal scratch();

    // How a translation's journal is packed to be kept.
    using keep_fn = kept_journal (*)(std::span<const std::uint8_t>, filled_journal,
                                     std::span<std::uint8_t>, std::size_t &);

    // Records `block`, as translated, written at `offset`, keeping the
    // journal that translating it filled in scratch(), packed with `pack`
    // (never larger than the block, so that no file journals more than its
    // own size). False when there is no memory for it.
    bool keep(std::uint64_t offset, std::span<const std::uint8_t> block, translated t,
              keep_fn pack);

    std::span<const written_block> blocks() const { return written; }

    // Forgets every block, keeping the memory.
    void clear();

  private:
    struct piece {
        std::unique_ptr<std::uint8_t[]> memory;
        std::uint8_t *start;
        std::size_t size;
    };
    void make_room(std::size_t bytes);

    std::vector<piece> pieces;
    std::size_t in_use = 0, used = 0; // the piece being filled, and how far
    std::vector<written_block> written;
};
