// The undo journal of one file's rewrite: for each block written, where it is
// and what its translation destroyed, which is all that putting it back takes.
#pragma once

#include "codepage/codepage.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

struct written_block {
    std::uint64_t offset;
    std::size_t size;
    filled_journal undo; // empty when nothing was destroyed
};

// Journals are packed one after another into large chunks of memory, asked for
// in huge pages: a form full of frames journals a fifth of its size, and fresh
// memory in small pages would cost more than the rewrite itself. The chunks
// are kept from one file to the next. The positions and repeat bits are
// written first into room of their own and copied only for a block that
// destroyed something, so a file with nothing to journal touches no chunk.
class undo_journal {
  public:
    // Room for the journal of a block of up to `block_size` bytes, or nothing
    // when there is no memory for it.
    std::optional<journal> room(std::size_t block_size);

    // Keeps the journal that translating the block written at `offset` just
    // filled in the last room(). False when there is no memory.
    bool keep(std::uint64_t offset, std::size_t size, translated t);

    std::span<const written_block> blocks() const { return written; }

    // Forgets every block, keeping the memory.
    void clear();

  private:
    std::vector<std::unique_ptr<std::uint8_t[]>> chunks;
    std::size_t chunk = 0, used = 0; // where the next room begins
    std::vector<std::uint64_t> bits; // positions, then repeat bits, of one block
    journal last{};
    std::vector<written_block> written;
};
