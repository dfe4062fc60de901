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

// Keeps the 64-bit words that begin each kept journal aligned.
constexpr std::size_t rounded_up(std::size_t bytes) {
    return (bytes + 7) / 8 * 8;
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
                        translated t, undo_fn undo) {
    const std::size_t size = translation.size();
    written_block block{offset, size, {}};
    try {
        const std::size_t words = journal_words(size), repeat_words = journal_words(t.lost);
        const std::size_t bits_size = (words + repeat_words) * 8;
        if (t.lost > 0 && bits_size + t.originals > size) {
            // The original bytes take less room.
            make_room(size);
            std::uint8_t *const at = pieces[in_use].start + used;
            std::copy(translation.begin(), translation.end(), at);
            undo({at, size}, {{scratch_bits, words},
                              {scratch_bits + scratch_words, repeat_words},
                              {scratch_originals, t.originals}});
            block.undo = {{}, {}, {at, size}};
            used += rounded_up(size);
        } else if (t.lost > 0) {
            // Packed: the positions, the repeat bits used, then the originals.
            make_room(bits_size + t.originals);
            std::uint8_t *const at = pieces[in_use].start + used;
            auto *const bits = reinterpret_cast<std::uint64_t *>(at);
            std::copy_n(scratch_bits, words, bits);
            std::copy_n(scratch_bits + scratch_words, repeat_words, bits + words);
            std::copy_n(scratch_originals, t.originals, at + bits_size);
            block.undo = {
                {bits, words}, {bits + words, repeat_words}, {at + bits_size, t.originals}};
            used += rounded_up(bits_size + t.originals);
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
