// The counts of every byte: the chosen kernel's vectors over most of a block,
// a byte at a time where a vector does not fit.
#include "codepage/kernels.hpp"
#include "steps.hpp"
#include "thresholds.hpp"

#include <algorithm>
#include <cstring>

namespace codepage::identifier {

namespace {

// A continuation byte that UTF-8 never has after `lead`: one that makes the
// character longer than it needs to be, a surrogate, or beyond U+10FFFF.
constexpr bool never_after(std::uint8_t lead, std::uint8_t b) {
    return (lead == 0xE0 && b < 0xA0) || (lead == 0xED && b >= 0xA0) ||
           (lead == 0xF0 && b < 0x90) || (lead == 0xF4 && b >= 0x90);
}

// Bytes that UTF-8 never has, or never after the byte before.
constexpr bool never_in_utf8(std::uint8_t before, std::uint8_t b) {
    return b == 0xC0 || b == 0xC1 || b >= 0xF5 || ((b & 0xC0) == 0x80 && never_after(before, b));
}

// One byte, as the vectors count it; `at` its offset in the file.
void count_byte(identification &id, block_counts &c, std::uint8_t b, std::uint64_t at) {
    const auto in = [b](int low, int count) { return b - low >= 0 && b - low < count; };
    if (b >= 0x80)
        ++c.quarters[(b >> 5) - 4];
    c.controls += in(0x00, 9) || in(0x0E, 12) || in(0x1C, 4) || b == 0x7F;
    c.holds |= (b == 0 ? block_counts::nul : 0) |
               (b == 0xD2 || b == 0xFF ? block_counts::hole : 0) |
               (b == 0xAA ? block_counts::aa : 0) | (b == 0xAE ? block_counts::ae : 0);
    const auto &before = id.before; // [0] the byte just before
    const bool continuation = (b & 0xC0) == 0x80;
    c.utf8_pairs += continuation && before[0] >= 0xC2 && before[0] < 0xE0;
    const auto letter = [](std::uint8_t x) {
        return static_cast<std::uint8_t>((x | 0x20) - 'a') < 26;
    };
    c.latin_touches += letter(b) && before[0] >= 0x80;
    c.top_pairs += b >= 0xE0 && before[0] >= 0xE0;
    c.low_pairs += b >= 0x80 && b < 0xC0 && before[0] >= 0x80 && before[0] < 0xC0;
    if (c.counted.utf8) {
        const bool called = before[0] >= 0xC0 || before[1] >= 0xE0 || before[2] >= 0xF0;
        c.utf8_breaks += continuation != called;
        c.holds |= never_in_utf8(before[0], b) ? block_counts::never_utf8 : 0;
    }
    id.before = {b, before[0], before[1]};
    if (!c.counted.utf16)
        return;
    c.zeros[at & 1] += b == 0;
    c.alphabetic[at & 1] += in(0x00, 7);
    c.punctuation[at & 1] += in(0x1E, 8);
    if (at & 1)
        c.nul_units += (b | id.last_even) == 0;
    else
        id.last_even = b;
}

// The rare bytes that a block holds, counted one at a time.
void count_rare(byte_counts &total, const block_counts &c, std::span<const std::uint8_t> block,
                std::uint64_t at, std::uint8_t before) {
    if (c.holds & block_counts::nul) {
        const auto first = std::find(block.begin(), block.end(), 0);
        if (total.nul == 0)
            total.first_nul = at + static_cast<std::uint64_t>(first - block.begin());
        total.nul += static_cast<std::uint64_t>(std::count(first, block.end(), 0));
    }
    if (c.holds & block_counts::hole)
        total.windows_holes += static_cast<std::uint64_t>(std::count_if(
            block.begin(), block.end(), [](std::uint8_t b) { return b == 0xD2 || b == 0xFF; }));
    if (c.holds & block_counts::never_utf8)
        for (const std::uint8_t b : block) {
            total.never_utf8 += never_in_utf8(before, b);
            before = b;
        }
    total.aa += (c.holds & block_counts::aa) != 0;
    total.ae += (c.holds & block_counts::ae) != 0;
}

void add(byte_counts &total, const block_counts &c) {
    for (std::size_t q = 0; q < 4; ++q)
        total.quarters[q] += c.quarters[q];
    total.controls += c.controls;
    total.utf8_pairs += c.utf8_pairs;
    total.utf8_breaks += c.utf8_breaks;
    total.latin_touches += c.latin_touches;
    total.top_pairs += c.top_pairs;
    total.low_pairs += c.low_pairs;
    for (std::size_t parity = 0; parity < 2; ++parity) {
        total.zeros[parity] += c.zeros[parity];
        total.alphabetic[parity] += c.alphabetic[parity];
        total.punctuation[parity] += c.punctuation[parity];
    }
    total.nul_units += c.nul_units;
}

} // namespace

void count_block(identification &id, std::span<const std::uint8_t> block, std::uint64_t at,
                 block_counts &c) {
    const std::uint8_t before = id.before[0];
    // The first bytes one at a time, so that the vectors have three bytes
    // before them, at an even offset; the vectors; what is left.
    // UTF-8's structure needs counting until it breaks: then the file is not
    // UTF-8, and a block of UTF-8 among the rest shows in its letter pairs.
    c.counted = {id.counts.utf8_breaks == 0 && id.counts.never_utf8 == 0, id.utf16_possible};
    // The vectors look back three bytes: the first 64 bytes are counted from
    // a copy with the three before them, the rest where they are; a block's
    // size is a whole number of vectors but at the end of the file.
    std::size_t done = 0;
    if (block.size() >= 64) {
        std::uint8_t head[3 + 64];
        head[0] = id.before[2];
        head[1] = id.before[1];
        head[2] = id.before[0];
        std::memcpy(head + 3, block.data(), 64);
        done = id.counter->count(c, head + 3, 64, c.counted);
        done += id.counter->count(c, block.data() + done, block.size() - done, c.counted);
        id.before = {block[done - 1], block[done - 2], block[done - 3]};
        id.last_even = block[done - 2];
    }
    for (; done < block.size(); ++done)
        count_byte(id, c, block[done], at + done);
    add(id.counts, c);
    count_rare(id.counts, c, block, at, before);
    // UTF-16 has a byte 0x00-0x06 in every other place, or nearly.
    const std::uint64_t seen = at + block.size();
    const bool mark = (id.start[0] == 0xFF && id.start[1] == 0xFE) ||
                      (id.start[0] == 0xFE && id.start[1] == 0xFF);
    if (seen >= utf16_given_up_after && !mark &&
        (id.counts.alphabetic[0] + id.counts.alphabetic[1]) * 4 < seen)
        id.utf16_possible = false;
}

bool ends_inside_a_character(const identification &id) {
    const auto &last = id.before;
    return last[0] >= 0xC0 || last[1] >= 0xE0 || last[2] >= 0xF0;
}

} // namespace codepage::identifier
