// The portable kernel: one table lookup per byte, 8 bytes gathered into a
// word, and the journal's masks built a word at a time.
#include "common.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace codepage {

namespace {

// 8 bytes side by side in a word, byte i of memory at bits 8i to 8i + 7.
constexpr bool bytes_in_order = std::endian::native == std::endian::little;
constexpr std::uint64_t every_byte(std::uint8_t b) {
    return ~std::uint64_t{0} / 255 * b;
}

// The top bit of each byte of `word`, as 8 bits in order.
constexpr unsigned top_bits(std::uint64_t word) {
    return static_cast<unsigned>(((word >> 7) & every_byte(1)) * 0x0102040810204080 >> 56);
}

// The top bit of each byte of `word` set where that byte is 0, the rest clear.
constexpr std::uint64_t zero_bytes(std::uint64_t word) {
    return ~(((word & every_byte(0x7F)) + every_byte(0x7F)) | word) & every_byte(0x80);
}

// Translates the 8 bytes of `x` with one lookup each; returns which of them
// are destroyed, a bit each. Destroyed: from the upper half into the lower,
// or the plus-minus sign going to DOS.
template <direction D>
[[gnu::always_inline]] inline unsigned portable_word(std::uint64_t x, std::uint64_t &y) {
    const byte_map &map = map_for(D);
    y = 0;
    for (unsigned k = 0; k < 8; ++k)
        y |= std::uint64_t{map[x >> (8 * k) & 0xFF]} << (8 * k);
    std::uint64_t gone = x & ~y & every_byte(0x80);
    if constexpr (D == direction::to_dos)
        gone |= zero_bytes(x ^ every_byte(to_dos_destroyed_upper));
    return top_bits(gone);
}

// Bit p set where byte p of the `length` bytes at `was` equals byte p - 1;
// bit 0 is left to note_piece.
std::uint64_t same_as_before(const std::uint8_t *was, std::size_t length) {
    std::uint64_t same = 0;
    std::size_t j = 1;
    if constexpr (bytes_in_order)
        for (j = 0; j + 8 <= length; j += 8) {
            std::uint64_t x;
            std::memcpy(&x, was + j, 8);
            const std::uint64_t before = x << 8 | (j ? was[j - 1] : 0);
            same |= std::uint64_t{top_bits(zero_bytes(x ^ before))} << j;
        }
    for (j = std::max<std::size_t>(j, 1); j < length; ++j)
        same |= std::uint64_t{was[j] == was[j - 1]} << j;
    return same;
}

// Bytes [i, n) one lookup each, in pieces that end where a word of lost_at
// does: each piece is translated 8 bytes to a word, its positions built in a
// register without a branch per byte, and its destroyed bytes noted from a
// copy (`out` may be `in`). With a journal, whose lost_at words the caller
// has cleared.
template <direction D, bool Journal>
bool portable_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t i, std::size_t n,
                   journal_writer *journal) {
    const byte_map &map = map_for(D);
    const byte_map &destroys = destroys_for(D);
    std::uint64_t changed = 0;
    while (i < n) {
        const std::size_t length = std::min(64 - i % 64, n - i);
        std::uint8_t was[64];
        std::memcpy(was, in + i, length);
        std::uint64_t gone = 0;
        std::size_t j = 0;
        if constexpr (bytes_in_order)
            for (; j + 8 <= length; j += 8) {
                std::uint64_t x, y;
                std::memcpy(&x, was + j, 8);
                gone |= std::uint64_t{portable_word<D>(x, y)} << j;
                changed |= x ^ y;
                std::memcpy(out + i + j, &y, 8);
            }
        for (; j < length; ++j) {
            const std::uint8_t y = map[was[j]];
            changed |= y ^ was[j];
            if constexpr (Journal)
                gone |= std::uint64_t{destroys[was[j]]} << j;
            out[i + j] = y;
        }
        if constexpr (Journal) {
            journal->lost_at[i / 64] |= gone << (i % 64);
            note_piece(*journal, was, gone, gone ? same_as_before(was, length) : 0,
                       static_cast<unsigned>(length));
        }
        i += length;
    }
    return changed != 0;
}

} // namespace

bool portable_part(const std::uint8_t *in, std::uint8_t *out, std::size_t i, std::size_t n,
                   direction d, journal_writer *journal) {
    return in_direction(d, [&]<direction D>() {
        return journal ? portable_loop<D, true>(in, out, i, n, journal)
                       : portable_loop<D, false>(in, out, i, n, nullptr);
    });
}

// A choice without a branch for each destroyed byte, as runs of frames and
// lone symbols mix without a pattern.
void place_portable(std::uint8_t *bytes, std::size_t n, filled_journal undo) {
    const std::uint8_t *const originals = undo.originals.data();
    std::size_t k = 0, next = 0;
    for (std::size_t word = 0; word < undo.lost_at.size(); ++word)
        for (std::uint64_t bits = undo.lost_at[word]; bits; bits &= bits - 1, ++k) {
            const std::size_t at = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
            assert(at < n && k / 64 < undo.repeats.size());
            const bool repeat = undo.repeats[k / 64] >> (k % 64) & 1;
            assert(repeat ? at > 0 : next < undo.originals.size());
            // A repeat reads the byte before it, which is there (at > 0), and
            // a fresh one the next original, which is there: never both.
            const std::uint8_t before = bytes[at - repeat];
            const std::uint8_t original = originals[next < undo.originals.size() ? next : 0];
            bytes[at] = repeat ? before : original;
            next += !repeat;
        }
    static_cast<void>(n);
}

translated translate_portable(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                              journal_writer *journal) {
    if (!journal)
        return {0, 0, portable_part(in, out, 0, n, d, nullptr)};
    std::fill_n(journal->lost_at, journal_words(n), 0);
    return journal->finish(portable_part(in, out, 0, n, d, journal));
}

} // namespace codepage
