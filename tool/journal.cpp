#include "journal.hpp"

#include "platform.hpp"

#include <cstring>
#include <new>

namespace {

constexpr std::size_t chunk_size = 32 * 1024 * 1024;

// Chunks begin on a huge page boundary, so that every page of them can be huge.
constexpr std::size_t huge_page = 2 * 1024 * 1024;

std::uint8_t *aligned_start(std::uint8_t *p) {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    return p + ((huge_page - at % huge_page) % huge_page);
}

constexpr std::size_t words_for(std::size_t size) {
    return (size + 63) / 64;
}

// Keeps the 64-bit words that follow in each chunk aligned.
constexpr std::size_t rounded_up(std::size_t bytes) {
    return (bytes + 7) / 8 * 8;
}

} // namespace

std::optional<journal> undo_journal::room(std::size_t block_size) {
    const std::size_t words = words_for(block_size);
    const std::size_t needed = 2 * words * 8 + block_size;
    if (needed > chunk_size)
        return std::nullopt;
    if (chunks.empty() || used + needed > chunk_size) {
        if (!chunks.empty()) {
            ++chunk;
            used = 0;
        }
        if (chunk == chunks.size()) {
            try {
                chunks.emplace_back(new std::uint8_t[chunk_size + huge_page]);
            } catch (const std::bad_alloc &) {
                return std::nullopt;
            }
            prefer_huge_pages(aligned_start(chunks.back().get()), chunk_size);
        }
    }
    std::uint8_t *start = aligned_start(chunks[chunk].get()) + used;
    auto *lost_at = reinterpret_cast<std::uint64_t *>(start);
    last = {{lost_at, words}, {lost_at + words, words}, {start + 2 * words * 8, block_size}};
    return last;
}

bool undo_journal::keep(std::uint64_t offset, std::size_t size, translated t) {
    written_block block{offset, size, {}};
    if (t.lost > 0) {
        // Packed: the positions, then the repeat bits used, then the originals.
        const std::size_t words = words_for(size), repeat_words = words_for(t.lost);
        std::uint8_t *originals =
            reinterpret_cast<std::uint8_t *>(last.repeats.data() + repeat_words);
        std::memmove(originals, last.originals.data(), t.originals);
        block.undo = {
            last.lost_at.first(words), last.repeats.first(repeat_words), {originals, t.originals}};
    }
    try {
        written.push_back(block);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (t.lost > 0)
        used = static_cast<std::size_t>(block.undo.originals.data() + t.originals -
                                        aligned_start(chunks[chunk].get()));
    used = rounded_up(used);
    return true;
}

void undo_journal::clear() {
    written.clear();
    chunk = 0;
    used = 0;
}
