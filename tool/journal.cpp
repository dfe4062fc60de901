#include "journal.hpp"

#include "platform.hpp"

#include <algorithm>
#include <new>

namespace {

// The room every block is journaled in first: its positions, its repeat bits,
// and its destroyed bytes. Fixed, like the block buffer: nothing to ask for.
constexpr std::size_t scratch_words = journal_words(block_size);
alignas(64) std::uint64_t scratch_bits[2 * scratch_words];
alignas(64) std::uint8_t scratch_originals[block_size];

// The first piece holds a few blocks' journals; each next one is twice as
// large, up to the largest.
constexpr std::size_t smallest_piece = 512 * 1024;
constexpr std::size_t largest_piece = 32 * 1024 * 1024;

// Pieces from this size on begin on a huge page boundary, so that every page
// of them can be huge; smaller ones are not worth the waste.
constexpr std::size_t huge_page = 2 * 1024 * 1024;
constexpr std::size_t huge_from = 4 * 1024 * 1024;

std::uint8_t *aligned_start(std::uint8_t *p) {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    return p + ((huge_page - at % huge_page) % huge_page);
}

} // namespace

journal undo_journal::scratch() {
    return {{scratch_bits, scratch_words},
            {scratch_bits + scratch_words, scratch_words},
            {scratch_originals, block_size}};
}

// Makes room for `bytes` in the piece in use, or else in the next one, kept
// from an earlier file or new. Throws std::bad_alloc.
void undo_journal::make_room(std::size_t bytes) {
    for (; in_use < pieces.size(); ++in_use, used = 0)
        if (used + bytes <= pieces[in_use].size)
            return;
    const std::size_t size = std::max(
        bytes, std::min(largest_piece, smallest_piece << std::min<std::size_t>(pieces.size(), 16)));
    piece fresh{};
    fresh.size = size;
    if (size >= huge_from) {
        fresh.memory.reset(new std::uint8_t[size + huge_page]);
        fresh.start = aligned_start(fresh.memory.get());
        prefer_huge_pages(fresh.start, size);
    } else {
        fresh.memory.reset(new std::uint8_t[size]);
        fresh.start = fresh.memory.get();
    }
    pieces.push_back(std::move(fresh));
    used = 0;
}

bool undo_journal::keep(std::uint64_t offset, std::span<const std::uint8_t> translation,
                        translated t, keep_fn pack) {
    const std::size_t size = translation.size();
    written_block block{offset, size, {}};
    try {
        if (t.lost > 0) {
            make_room(kept_room(size));
            std::size_t taken = 0;
            block.undo = pack(translation,
                              {{scratch_bits, journal_words(size)},
                               {scratch_bits + scratch_words, journal_words(t.lost)},
                               {scratch_originals, t.originals}},
                              {pieces[in_use].start + used, kept_room(size)}, taken);
            used += taken;
        }
        written.push_back(block);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void undo_journal::clear() {
    written.clear();
    in_use = 0;
    used = 0;
}
