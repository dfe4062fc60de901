#include "journal.hpp"

#include "platform.hpp"

#include <algorithm>
#include <new>

namespace {

constexpr std::size_t chunk_size = 32 * 1024 * 1024;

// Chunks begin on a huge page boundary, so that every page of them can be huge.
constexpr std::size_t huge_page = 2 * 1024 * 1024;

std::uint8_t *aligned_start(std::uint8_t *p) {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    return p + ((huge_page - at % huge_page) % huge_page);
}

// Keeps the 64-bit words that follow in each chunk aligned.
constexpr std::size_t rounded_up(std::size_t bytes) {
    return (bytes + 7) / 8 * 8;
}

} // namespace

std::optional<journal> undo_journal::room(std::size_t block_size) {
    const std::size_t words = journal_words(block_size);
    // The originals, then room to copy the positions and repeat bits after them.
    const std::size_t needed = block_size + 2 * words * 8;
    if (needed > chunk_size)
        return std::nullopt;
    try {
        bits.resize(std::max(bits.size(), 2 * words));
        if (chunks.empty() || used + needed > chunk_size) {
            if (!chunks.empty()) {
                ++chunk;
                used = 0;
            }
            if (chunk == chunks.size()) {
                chunks.emplace_back(new std::uint8_t[chunk_size + huge_page]);
                prefer_huge_pages(aligned_start(chunks.back().get()), chunk_size);
            }
        }
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
    last = {{bits.data(), words},
            {bits.data() + words, words},
            {aligned_start(chunks[chunk].get()) + used, block_size}};
    return last;
}

bool undo_journal::keep(std::uint64_t offset, std::size_t size, translated t) {
    written_block block{offset, size, {}};
    std::size_t end = used;
    if (t.lost > 0) {
        // Packed: the originals, where they were written, then the positions
        // and the repeat bits used.
        const std::size_t words = journal_words(size), repeat_words = journal_words(t.lost);
        auto *copy =
            reinterpret_cast<std::uint64_t *>(last.originals.data() + rounded_up(t.originals));
        std::copy_n(last.lost_at.data(), words, copy);
        std::copy_n(last.repeats.data(), repeat_words, copy + words);
        block.undo = {
            {copy, words}, {copy + words, repeat_words}, last.originals.first(t.originals)};
        end += rounded_up(t.originals) + (words + repeat_words) * 8;
    }
    try {
        written.push_back(block);
    } catch (const std::bad_alloc &) {
        return false;
    }
    used = end;
    return true;
}

void undo_journal::clear() {
    written.clear();
    chunk = 0;
    used = 0;
}
